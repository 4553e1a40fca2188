#include "answers/savequeryas.h"

#include <QStringBuilder>
#include <optional>
#include <vector>

#include "common/answerformat.h"
#include "common/cp1252.h"
#include "common/errors.h"
#include "common/eventlog.h"
#include "common/text.h"
#include "server/requestparser.h"
#include "server/tserverthread.h"

namespace veldra {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString wrongQueryErrorText() { return currentErrorTypeAndMessage().remove(u'"'); }

}  // namespace

SaveQueryRequest SaveQueryRequest::from(const TServerThread& request)
{
    SaveQueryRequest r;
    r.TestClient = request.TestClient;
    r.DateActive = request.DateActive;
    r.NameRequest = request.NameRequest;
    r.InputParameters = request.InputParameters;
    r._email = request._email;
    r._seccode = request._seccode;
    r.address = request.connection().peerAddress();
    r.handle = request.connection().handle();
    return r;
}

QString statusText(const SaveQueryRequest& request)
{
    return request.TestClient ? QStringLiteral("test client - data is modified")
                              : QStringLiteral("Final date of use : ") + request.DateActive;
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
QString answerHeader(const SaveQueryRequest& request, AnswerFormat format, bool empty)
{
    QString head = empty ? QStringLiteral("[nocache]HTTP/1.1 200 OK\r\n") : QStringLiteral("HTTP/1.1 200 OK\r\n");
    head += QStringLiteral("Connection: Keep-Alive\r\nContent-Type: ") % format.contentType() % kCrLf;
    if (format.isText()) {
        // The empty answer of TXT[TAB] alone has no "---" before the values.
        const QString values = ListValuesForFileName(request.InputParameters, request._email, request._seccode);
        const QString fileName = request.NameRequest +
                                 ((empty && format == AnswerFormat::TxtTab) ? QString() : QStringLiteral("---")) + values +
                                 format.fileExtension();
        head += QStringLiteral("Content-Disposition: attachment;Filename=\"") % attachmentFileName(fileName) %
                QStringLiteral("\"\r\nContent-Transfer-Encoding: binary\r\n");
    }
    return head;
}

}  // namespace

QString _SaveQueryAS(const SaveQueryRequest& request, const QString& preparedQuery, const QString& formatName,
                     const DbParams& work, DbConnectionPool* pool)
{
    try {
        // Only the five names have an answer form. Any other name (one that only matched a
        // format name through Unicode case folding, for example) is refused before the query
        // runs: an answer without a body must neither be sent nor stored in the cache, where
        // it would stand for the format the name folds to.
        const std::optional<AnswerFormat> known = AnswerFormat::fromName(formatName);
        if (!known)
            throw Error(QStringLiteral("EArgumentException"), QStringLiteral("Unknown answer format [") + formatName + u']');
        const AnswerFormat format = *known;
        const std::unique_ptr<AnswerWriter> writer = makeAnswerWriter(format, WriterStyle::Answer, statusText(request));
        QString body;
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
                // A markup body is the answer's last part: the rows go straight behind the
                // header lines instead of into a second copy of the whole answer.
                if (!format.isText()) body = answerHeader(request, format, false) % kCrLf;
                writer->begin(body, result->fieldNames());
                std::vector<QString> values(size_t(result->fieldCount()));
                do {
                    for (size_t i = 0; i < values.size(); ++i)
                        values[i] = CutValueForTestClient(result->value(int(i)), request.TestClient);
                    writer->row(body, values);
                } while (result->next());
                writer->end(body);
            }
            // The result and then the connection are released here, whatever happened.
        }

        if (empty) {
            Logger(standardLogLine(QStringLiteral("{_SaveQueryAS} Result query is empty !!! "), request.address,
                                   request.handle));
            writer->emptyBody(body);
        } else if (format.isText()) {
            // UTF-8 with a byte-order mark, each byte carried as its Windows-1252 character.
            body = cp1252::decode(QByteArray("\xEF\xBB\xBF") + body.toUtf8());
        }
        if (!empty && !format.isText()) return body;
        return answerHeader(request, format, empty) % kCrLf % body;
    } catch (...) {
        const QString error = wrongQueryErrorText();
        try {
            Logger(standardLogLine(QStringLiteral("{_SaveQueryAS} WrongQuery !!! "), request.address, request.handle) +
                   QStringLiteral(" \tQuery [") + oneLine(preparedQuery) + QStringLiteral("] Error|msg = [") + oneLine(error) +
                   QStringLiteral("] "));
        } catch (...) {
        }
        return QString();
    }
}

QString _SaveQueryAS(const TServerThread& request, const QString& preparedQuery, const DbParams& work,
                    DbConnectionPool* pool)
{
    return _SaveQueryAS(SaveQueryRequest::from(request), preparedQuery, request.NecessaryFormatAnswer, work, pool);
}

}  // namespace veldra
