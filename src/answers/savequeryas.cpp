// SPDX-License-Identifier: GPL-3.0-or-later
#include "answers/savequeryas.h"

#include <QStringBuilder>
#include <optional>
#include <span>
#include <vector>

#include "common/answerformat.h"
#include "common/cp1252.h"
#include "common/errors.h"
#include "common/eventlog.h"
#include "common/text.h"
#include "server/answers.h"
#include "server/requestparser.h"

namespace veldra {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString wrongQueryErrorText() { return currentErrorTypeAndMessage().remove(u'"'); }

}  // namespace

QString statusText(const Request& request)
{
    return request.testClient ? QStringLiteral("test client - data is modified")
                              : QStringLiteral("Final date of use : ") + request.dateActive;
}

QString CutValueForTestClient(const QString& value, bool testClient)
{
    if (!testClient || trim(value).isEmpty() || value.size() <= 2) return value;
    return value.left(value.size() * 4 / 5) + QStringLiteral("...");
}

QString ListValuesForFileName(const QString& inputParameters, const QString& email, const QString& seccode)
{
    const ParameterListReader reader(inputParameters);
    qint32 count = 0;
    if (!reader.count(count)) count = 0;
    // The count is read where it first stands, which may be inside a client's value. A
    // list of N parameters holds N "<name[" markers: a claimed count beyond that only
    // adds empty places and would let one request build an endless file name.
    count = qMin<qint64>(count, inputParameters.count(QStringLiteral("<name[")));
    QString list;
    for (qint32 i = 1; i <= count; ++i) {
        const QString v = reader.value(i);
        if (list.isEmpty())
            list = v;
        else
            list += u';' + v;
    }
    if (!list.isEmpty()) list = u'[' + list + u']';
    list = replaceAllNoCase(list, email, QString());
    list = replaceAllNoCase(list, seccode, QString());
    return list;
}

QString attachmentFileName(const QString& name)
{
    QString out = name;
    for (QChar& c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'"') c = u'_';
    return out;
}

namespace {

// Status line, Connection and Content-Type lines, and for the text formats the attachment lines.
QString answerHeader(const Request& request, AnswerFormat format, bool empty)
{
    QString head = QStringLiteral("HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Type: ") % format.contentType() % kCrLf;
    if (format.isText()) {
        // The empty answer of TXT[TAB] alone has no "---" before the values.
        const QString values = ListValuesForFileName(request.parameters, request.email, request.seccode);
        const QString fileName = request.name +
                                 ((empty && format == AnswerFormat::TxtTab) ? QString() : QStringLiteral("---")) + values +
                                 format.fileExtension();
        head += QStringLiteral("Content-Disposition: attachment;Filename=\"") % attachmentFileName(fileName) %
                QStringLiteral("\"\r\nContent-Transfer-Encoding: binary\r\n");
    }
    return head;
}

// True when every byte is ASCII.
bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes)
        if (uchar(c) >= 0x80) return false;
    return true;
}

// A row's values for the writer: a test client's values shortened as CutValueForTestClient
// does, plain ASCII values as bytes without a copy.
class RowValues {
public:
    RowValues(size_t columns, bool testClient)
        : m_testClient(testClient), m_scratch(columns), m_texts(columns), m_cells(columns)
    {
    }

    std::span<const CellValue> read(const DbResult& result)
    {
        for (size_t i = 0; i < m_cells.size(); ++i) {
            const QByteArrayView v = result.utf8Value(int(i), m_scratch[i]);
            if (!m_testClient) {
                m_cells[i] = CellValue(v);
            } else if (isAscii(v)) {
                // one UTF-16 unit per byte
                if (v.size() <= 2 || isBlank(v))
                    m_cells[i] = CellValue(v);
                else
                    m_cells[i] = CellValue(v.first(v.size() * 4 / 5), true);
            } else {
                m_texts[i] = CutValueForTestClient(QString::fromUtf8(v), true);
                m_cells[i] = CellValue(m_texts[i]);
            }
        }
        return m_cells;
    }

private:
    bool m_testClient;
    std::vector<QByteArray> m_scratch;
    std::vector<QString> m_texts;
    std::vector<CellValue> m_cells;
};

const QByteArray kBom("\xEF\xBB\xBF", 3);

}  // namespace

WireAnswer SaveQueryAnswer(const Request& request, const QString& preparedQuery, const DbParams& work,
                           DbConnectionPool* pool, const QString& spoolFolder)
{
    try {
        // Only the five formats have an answer form. A request without one (the settings
        // name no format of the five) is refused before the query runs.
        if (!request.format) throw Error(QStringLiteral("EArgumentException"), QStringLiteral("Unknown answer format"));
        const AnswerFormat format = *request.format;
        const std::unique_ptr<AnswerWriter> writer = makeAnswerWriter(format, WriterStyle::Answer, statusText(request));
        WireAnswer answer;
        bool empty = false;
        {
            std::optional<DbConnectionPool::Lease> lease;
            std::optional<DbConnection> own;
            if (pool) {
                lease.emplace(pool->acquire(work));
            } else {
                own.emplace(work);
                own->connect();
            }
            DbConnection& connection = pool ? **lease : *own;
            // A connection lost during the query fails the request rather than running the
            // statement again.
            connection.onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::Fail; };
            std::unique_ptr<DbResult> result = connection.openStreaming(preparedQuery);
            empty = !(result->fieldCount() > 0 && result->next());
            if (!empty) {
                // The rows go straight behind the header lines, as the bytes they are sent as:
                // markup in UTF-8; a text format as a byte-order mark and UTF-8, each byte
                // standing for one Windows-1252 character of the answer text.
                const QString head = answerHeader(request, format, false) % kCrLf;
                // The rows are written in place into the spool, as they are read.
                AnswerSpool spool(spoolFolder, AnswerSpool::kMemoryLimit, AnswerSpool::kLargeMemoryLimit);
                QByteArray& out = spool.buffer();
                if (format.isText()) {
                    out = cp1252::encode(head);
                    answer.wireHeadSize = out.size();
                    answer.cacheHead = head.toUtf8();
                    out += kBom;
                } else {
                    out = head.toUtf8();
                }
                writer->begin(out, result->fieldNames());
                RowValues values(size_t(result->fieldCount()), request.testClient);
                do {
                    writer->row(out, values.read(*result));
                    if (spool.due()) spool.settle();
                } while (result->next());
                writer->end(out);
                spool.settle();
                if (spool.inFile()) answer.fileFolder = spool.folder();
                answer.wire = spool.take();
                answer.cacheable = true;
            }
            // The result and then the connection are released here, whatever happened.
        }

        if (empty) {
            Logger(standardLogLine(QStringLiteral("{_SaveQueryAS} Result query is empty !!! "), request.address,
                                   request.handle));
            QByteArray body;
            writer->emptyBody(body);
            answer.wire.bytes =
                answerBytes(answerHeader(request, format, true) % kCrLf % QString::fromUtf8(body), format.encoding());
        }
        return answer;
    } catch (...) {
        const QString error = wrongQueryErrorText();
        try {
            Logger(standardLogLine(QStringLiteral("{_SaveQueryAS} WrongQuery !!! "), request.address, request.handle) +
                   QStringLiteral(" \tQuery [") + oneLine(preparedQuery) + QStringLiteral("] Error|msg = [") + oneLine(error) +
                   QStringLiteral("] "));
        } catch (...) {
        }
        return WireAnswer();
    }
}

}  // namespace veldra
