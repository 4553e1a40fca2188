#include "answers/answerwriters.h"

#include <QStringBuilder>
#include <vector>

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

// Lines of a body: in Answer style joined by CR LF, in Sample style each ended by one.
class LineWriter : public AnswerWriter {
public:
    LineWriter(WriterStyle style, const QString& statusText) : m_style(style), m_status(statusText) {}

protected:
    void openLine(QString& out)
    {
        if (m_style == WriterStyle::Answer && m_started) out += kCrLf;
        m_started = true;
    }
    void closeLine(QString& out)
    {
        if (m_style == WriterStyle::Sample) out += kCrLf;
    }
    template <class Text>
    void line(QString& out, const Text& text)
    {
        openLine(out);
        out += text;
        closeLine(out);
    }
    bool answer() const { return m_style == WriterStyle::Answer; }

    WriterStyle m_style;
    QString m_status;

private:
    bool m_started = false;
};

// CSV[;], CSV[,] and TXT[TAB]: a header line of the quoted column names, then one line
// of quoted values per row, joined by the format's separator.
class TextWriter final : public LineWriter {
public:
    TextWriter(AnswerFormat format, WriterStyle style, const QString& statusText)
        : LineWriter(style, statusText), m_separator(format.separator())
    {
    }

    void begin(QString& out, const QStringList& columns) override { quotedLine(out, columns); }
    void row(QString& out, std::span<const QString> values) override { quotedLine(out, values); }
    void end(QString&) override {}
    void emptyBody(QString& out) override { out += QStringLiteral("Result query is empty\r\n") + m_status; }

private:
    template <class Texts>
    void quotedLine(QString& out, const Texts& texts)
    {
        openLine(out);
        bool first = true;
        for (const QString& t : texts) {
            if (!first) out += m_separator;
            first = false;
            out += u'"' % DoubleQuotesForCsv(t) % u'"';
        }
        closeLine(out);
    }

    QChar m_separator;
};

class XmlWriter final : public LineWriter {
public:
    using LineWriter::LineWriter;

    void begin(QString& out, const QStringList& columns) override
    {
        m_tags.clear();
        for (const QString& name : columns) m_tags << XmlNameForColumn(name);
        line(out, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        line(out, QStringLiteral("<Data>"));
        if (answer()) {
            line(out, QStringLiteral("\t<empty>false</empty>"));
            line(out, QStringLiteral("\t<statusText>") % EscapeTextForXml(m_status) % QStringLiteral("</statusText>"));
        }
    }
    void row(QString& out, std::span<const QString> values) override
    {
        line(out, QStringLiteral("\t<Row>"));
        for (size_t i = 0; i < values.size(); ++i)
            line(out, QStringLiteral("\t\t<") % m_tags[qsizetype(i)] % u'>' % EscapeTextForXml(values[i]) %
                          QStringLiteral("</") % m_tags[qsizetype(i)] % u'>');
        line(out, QStringLiteral("\t</Row>"));
    }
    void end(QString& out) override { line(out, QStringLiteral("</Data>")); }
    void emptyBody(QString& out) override
    {
        out += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<empty>true</empty>\r\n"
                              "\t<statusText>") %
               EscapeTextForXml(m_status) % QStringLiteral("</statusText>\r\n</Data>");
    }

private:
    QStringList m_tags;
};

class JsonWriter final : public LineWriter {
public:
    using LineWriter::LineWriter;

    void begin(QString& out, const QStringList& columns) override
    {
        m_keys.clear();
        for (const QString& name : columns) m_keys << EscapeQuotesForJson(name);
        line(out, QStringLiteral("{"));
        if (answer()) {
            line(out, QStringLiteral("\t\"empty\": \"false\","));
            line(out, QStringLiteral("\t\"statusText\": \"") % EscapeQuotesForJson(m_status) % QStringLiteral("\","));
        }
        line(out, QStringLiteral("\t\"Data\": {"));
        line(out, QStringLiteral("\t\t\"Row\": ["));
    }
    void row(QString& out, std::span<const QString> values) override
    {
        // An answer opens every later row with ",{"; a sample closes every earlier row
        // with "},", which it can only write once the next row is there.
        if (answer())
            line(out, m_rows ? QStringLiteral("\t\t\t,{") : QStringLiteral("\t\t\t{"));
        else {
            if (m_rows) line(out, QStringLiteral("\t\t\t},"));
            line(out, QStringLiteral("\t\t\t{"));
        }
        ++m_rows;
        for (size_t i = 0; i < values.size(); ++i)
            line(out, QStringLiteral("\t\t\t\t\"") % m_keys[qsizetype(i)] % QStringLiteral("\": \"") %
                          EscapeQuotesForJson(values[i]) %
                          (i + 1 < values.size() ? QStringLiteral("\",") : QStringLiteral("\"")));
        if (answer()) line(out, QStringLiteral("\t\t\t}"));
    }
    void end(QString& out) override
    {
        if (!answer() && m_rows) line(out, QStringLiteral("\t\t\t}"));
        line(out, QStringLiteral("\t\t]"));
        line(out, QStringLiteral("\t}"));
        line(out, QStringLiteral("}"));
    }
    void emptyBody(QString& out) override
    {
        out += QStringLiteral("{\r\n\t\"empty\": \"true\",\r\n\t\"statusText\": \"") % EscapeQuotesForJson(m_status) %
               QStringLiteral("\"\r\n}");
    }

private:
    QStringList m_keys;
    qint64 m_rows = 0;
};

}  // namespace

std::unique_ptr<AnswerWriter> makeAnswerWriter(AnswerFormat format, WriterStyle style, const QString& statusText)
{
    switch (format.kind()) {
    case AnswerFormat::Xml: return std::make_unique<XmlWriter>(style, statusText);
    case AnswerFormat::Json: return std::make_unique<JsonWriter>(style, statusText);
    case AnswerFormat::CsvSemicolon:
    case AnswerFormat::CsvComma:
    case AnswerFormat::TxtTab: break;
    }
    return std::make_unique<TextWriter>(format, style, statusText);
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

}  // namespace veldra
