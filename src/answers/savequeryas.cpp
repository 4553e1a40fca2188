#include "answers/savequeryas.h"

#include <QStringBuilder>

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

// XML 1.0 (fifth edition) name characters.
bool isNameStartChar(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(char32_t c)
{
    return isNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool isLetter(char32_t c) { return QChar::isLetter(c); }
bool isDigit(char32_t c) { return QChar::isDigit(c); }

// The code points of a text; an unpaired surrogate stays as its own code unit.
std::vector<char32_t> codePoints(const QString& s)
{
    std::vector<char32_t> out;
    out.reserve(size_t(s.size()));
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode())) {
            out.push_back(QChar::surrogateToUcs4(c, s[i + 1].unicode()));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void appendCodePoint(QString& out, char32_t c)
{
    if (c >= 0x10000) {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
    } else {
        out += QChar(char16_t(c));
    }
}

QString quotedForText(const QString& s) { return u'"' % DoubleQuotesForCsv(s) % u'"'; }

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

QString DoubleQuotesForCsv(const QString& text)
{
    QString s = text;
    return s.replace(u'"', QStringLiteral("\"\""));
}

QString EscapeQuotesForJson(const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    QString out;
    out.reserve(text.size() + 8);
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        switch (c) {
        case u'"': out += QStringLiteral("\\\""); break;
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\b': out += QStringLiteral("\\b"); break;
        case u'\f': out += QStringLiteral("\\f"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        case u'\r': out += QStringLiteral("\\r"); break;
        case u'\t': out += QStringLiteral("\\t"); break;
        default:
            if (c < 0x20) {
                out += QStringLiteral("\\u00");
                out += QLatin1Char(hex[c >> 4]);
                out += QLatin1Char(hex[c & 15]);
            } else {
                out += ch;
            }
        }
    }
    return out;
}

QString EscapeTextForXml(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (char32_t c : codePoints(text)) {
        if (c == '"')
            out += QStringLiteral("&quot;");
        else if (c == '&')
            out += QStringLiteral("&amp;");
        else if (c == '<')
            out += QStringLiteral("&lt;");
        else if (c == '>')
            out += QStringLiteral("&gt;");
        else if (c == '\\' || (c >= 160 && c <= 255))
            out += QStringLiteral("&#") + QString::number(uint(c)) + u';';
        else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF ||
                 (c >= 0xD800 && c <= 0xDFFF))
            out += QChar(0xFFFD);
        else
            appendCodePoint(out, c);
    }
    return out;
}

QString XmlNameForColumn(const QString& name)
{
    const std::vector<char32_t> cps = codePoints(name);
    bool valid = !cps.empty() && isNameStartChar(cps[0]);
    for (size_t i = 1; valid && i < cps.size(); ++i) valid = isNameChar(cps[i]);
    if (valid) return name;

    QString out;
    if (cps.empty() || !((isLetter(cps[0]) && isNameStartChar(cps[0])) || cps[0] == '_')) out += u'_';
    for (char32_t c : cps) {
        const bool keep = ((isLetter(c) || isDigit(c)) && isNameChar(c)) || c == '_' || c == '-' || c == '.';
        if (keep)
            appendCodePoint(out, c);
        else
            out += u'_';
    }
    return out;
}

QString _SaveQueryAS(const SaveQueryRequest& request, const QString& preparedQuery, const QString& formatName,
                     const DbParams& work)
{
    const std::optional<AnswerFormat> known = AnswerFormat::fromName(formatName);
    const AnswerFormat format = known.value_or(AnswerFormat::Json);
    const bool text = format.isText();
    const QString status = statusText(request);

    try {
        // Only the five names have an answer form. Any other name (one that only matched a
        // format name through Unicode case folding, for example) is refused before the query
        // runs: an answer without a body must neither be sent nor stored in the cache, where
        // it would stand for the format the name folds to.
        if (!known)
            throw Error(QStringLiteral("EArgumentException"), QStringLiteral("Unknown answer format [") + formatName + u']');
        QString body;
        bool empty = false;
        {
            DbConnection connection(work);
            // A request's connection is its own and short-lived: a connection lost during
            // the query fails the request rather than running the statement again.
            connection.onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::Fail; };
            connection.connect();
            std::unique_ptr<DbResult> result = connection.openStreaming(preparedQuery);
            const bool hasRow = result->fieldCount() > 0 && result->next();
            if (!hasRow) {
                empty = true;
            } else {
                const QStringList& names = result->fieldNames();
                const int n = result->fieldCount();
                const QString sep = format.separator();
                if (text) {
                    for (int i = 0; i < n; ++i) body += (i ? sep : QString()) % quotedForText(names[i]);
                    do {
                        body += kCrLf;
                        for (int i = 0; i < n; ++i)
                            body += (i ? sep : QString()) %
                                    quotedForText(CutValueForTestClient(result->value(i), request.TestClient));
                    } while (result->next());
                } else if (format == AnswerFormat::Xml) {
                    QStringList tags;
                    for (const QString& name : names) tags << XmlNameForColumn(name);
                    body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<empty>false</empty>\r\n"
                                          "\t<statusText>") %
                           EscapeTextForXml(status) % QStringLiteral("</statusText>");
                    do {
                        body += QStringLiteral("\r\n\t<Row>");
                        for (int i = 0; i < n; ++i)
                            body += QStringLiteral("\r\n\t\t<") % tags[i] % u'>' %
                                    EscapeTextForXml(CutValueForTestClient(result->value(i), request.TestClient)) %
                                    QStringLiteral("</") % tags[i] % u'>';
                        body += QStringLiteral("\r\n\t</Row>");
                    } while (result->next());
                    body += QStringLiteral("\r\n</Data>");
                } else if (format == AnswerFormat::Json) {
                    QStringList keys;
                    for (const QString& name : names) keys << EscapeQuotesForJson(name);
                    body = QStringLiteral("{\r\n\t\"empty\": \"false\",\r\n\t\"statusText\": \"") %
                           EscapeQuotesForJson(status) % QStringLiteral("\",\r\n\t\"Data\": {\r\n\t\t\"Row\": [");
                    bool first = true;
                    do {
                        body += first ? QStringLiteral("\r\n\t\t\t{") : QStringLiteral("\r\n\t\t\t,{");
                        first = false;
                        for (int i = 0; i < n; ++i)
                            body += QStringLiteral("\r\n\t\t\t\t\"") % keys[i] % QStringLiteral("\": \"") %
                                    EscapeQuotesForJson(CutValueForTestClient(result->value(i), request.TestClient)) %
                                    (i + 1 < n ? QStringLiteral("\",") : QStringLiteral("\""));
                        body += QStringLiteral("\r\n\t\t\t}");
                    } while (result->next());
                    body += QStringLiteral("\r\n\t\t]\r\n\t}\r\n}");
                }
            }
            // The result and then the connection are released here, whatever happened.
        }

        if (empty) {
            Logger(standardLogLine(QStringLiteral("{_SaveQueryAS} Result query is empty !!! "), request.address,
                                   request.handle));
            if (text)
                body = QStringLiteral("Result query is empty\r\n") + status;
            else if (format == AnswerFormat::Xml)
                body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<empty>true</empty>\r\n"
                                      "\t<statusText>") %
                       EscapeTextForXml(status) % QStringLiteral("</statusText>\r\n</Data>");
            else if (format == AnswerFormat::Json)
                body = QStringLiteral("{\r\n\t\"empty\": \"true\",\r\n\t\"statusText\": \"") % EscapeQuotesForJson(status) %
                       QStringLiteral("\"\r\n}");
        } else if (text) {
            // UTF-8 with a byte-order mark, each byte carried as its Windows-1252 character.
            body = cp1252::decode(QByteArray("\xEF\xBB\xBF") + body.toUtf8());
        }

        QString answer = empty ? QStringLiteral("[nocache]HTTP/1.1 200 OK\r\n") : QStringLiteral("HTTP/1.1 200 OK\r\n");
        answer += QStringLiteral("Connection: Keep-Alive\r\nContent-Type: ") + format.contentType() + kCrLf;
        if (text) {
            const QString values = ListValuesForFileName(request.InputParameters, request._email, request._seccode);
            const QString ext = format.fileExtension();
            const QString fileName = request.NameRequest + ((empty && format == AnswerFormat::TxtTab) ? QString() : QStringLiteral("---")) +
                                     values + ext;
            answer += QStringLiteral("Content-Disposition: attachment;Filename=\"") + attachmentFileName(fileName) +
                      QStringLiteral("\"\r\nContent-Transfer-Encoding: binary\r\n");
        }
        answer += kCrLf + body;
        return answer;
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

QString _SaveQueryAS(const TServerThread& request, const QString& preparedQuery, const DbParams& work)
{
    return _SaveQueryAS(SaveQueryRequest::from(request), preparedQuery, request.NecessaryFormatAnswer, work);
}

}  // namespace veldra
