// SPDX-License-Identifier: GPL-3.0-or-later
#include "answers/answerwriters.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace veldra {

namespace {

constexpr QByteArrayView kCrLf("\r\n");

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

// Writes at the end of a byte array through a pointer: room for at most `bound` more
// bytes is made at once, and the array is cut to what was written when it goes. Many
// small appends to a QByteArray cost more than the bytes they copy.
class Appender {
public:
    Appender(QByteArray& out, qsizetype bound) : m_out(out), m_start(out.size())
    {
        out.resize(m_start + bound);
        m_begin = m_p = out.data() + m_start;
    }
    ~Appender() { m_out.resize(m_start + (m_p - m_begin)); }
    Appender(const Appender&) = delete;
    Appender& operator=(const Appender&) = delete;

    void put(char c) { *m_p++ = c; }
    void put(QByteArrayView v)
    {
        if (v.isEmpty()) return;
        std::memcpy(m_p, v.data(), size_t(v.size()));
        m_p += v.size();
    }
    void put(const char* p, qsizetype n) { put(QByteArrayView(p, n)); }

private:
    QByteArray& m_out;
    qsizetype m_start;
    char* m_begin;
    char* m_p;
};

// Counts the bytes it is given: the exact room a long value's escape needs.
class Counter {
public:
    void put(char) { ++m_n; }
    void put(QByteArrayView v) { m_n += v.size(); }
    void put(const char*, qsizetype n) { m_n += n; }
    qsizetype count() const { return m_n; }

private:
    qsizetype m_n = 0;
};

template <class Sink>
void csvBytes(Sink& a, QByteArrayView utf8)
{
    const char* p = utf8.data();
    qsizetype from = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i)
        if (p[i] == '"') {
            a.put(p + from, i + 1 - from);
            a.put('"');
            from = i + 1;
        }
    a.put(p + from, utf8.size() - from);
}

template <class Sink>
void jsonBytes(Sink& a, QByteArrayView utf8)
{
    static const char hex[] = "0123456789abcdef";
    const char* p = utf8.data();
    qsizetype from = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const uchar c = uchar(p[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;  // UTF-8 sequences pass as they are
        a.put(p + from, i - from);
        from = i + 1;
        switch (c) {
        case '"': a.put("\\\""); break;
        case '\\': a.put("\\\\"); break;
        case '\b': a.put("\\b"); break;
        case '\f': a.put("\\f"); break;
        case '\n': a.put("\\n"); break;
        case '\r': a.put("\\r"); break;
        case '\t': a.put("\\t"); break;
        default:
            a.put("\\u00");
            a.put(hex[c >> 4]);
            a.put(hex[c & 15]);
        }
    }
    a.put(p + from, utf8.size() - from);
}

template <class Sink>
void xmlBytes(Sink& a, QByteArrayView utf8)
{
    static const char replacement[] = "\xEF\xBF\xBD";  // U+FFFD
    const char* p = utf8.data();
    const qsizetype n = utf8.size();
    qsizetype from = 0;
    auto put = [&](qsizetype at, qsizetype length, QByteArrayView with) {
        a.put(p + from, at - from);
        a.put(with);
        from = at + length;
    };
    for (qsizetype i = 0; i < n; ++i) {
        const uchar c = uchar(p[i]);
        switch (c) {
        case '"': put(i, 1, "&quot;"); continue;
        case '&': put(i, 1, "&amp;"); continue;
        case '<': put(i, 1, "&lt;"); continue;
        case '>': put(i, 1, "&gt;"); continue;
        case '\\': put(i, 1, "&#92;"); continue;
        case '\t':
        case '\n':
        case '\r': continue;
        default: break;
        }
        if (c < 0x20) {
            put(i, 1, replacement);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < n) {
            // U+0080..U+00FF; 160..255 become character references
            const uint cp = ((c & 0x1Fu) << 6) | (uchar(p[i + 1]) & 0x3Fu);
            if (cp >= 160) {
                char ref[8];
                const int len = std::snprintf(ref, sizeof ref, "&#%u;", cp);
                put(i, 2, QByteArrayView(ref, len));
            }
            ++i;
        } else if (c == 0xEF && i + 2 < n && uchar(p[i + 1]) == 0xBF && (uchar(p[i + 2]) == 0xBE || uchar(p[i + 2]) == 0xBF)) {
            put(i, 3, replacement);  // U+FFFE, U+FFFF
            i += 2;
        }
    }
    a.put(p + from, n - from);
}

// Each format's escape, for bytes and for texts; `growth` bounds what the bytes escape
// makes of one byte.
struct CsvEscape {
    static constexpr qsizetype growth = 2;
    template <class Sink>
    static void bytes(Sink& a, QByteArrayView v) { csvBytes(a, v); }
    static QString text(const QString& v) { return DoubleQuotesForCsv(v); }
};
struct JsonEscape {
    static constexpr qsizetype growth = 6;
    template <class Sink>
    static void bytes(Sink& a, QByteArrayView v) { jsonBytes(a, v); }
    static QString text(const QString& v) { return EscapeQuotesForJson(v); }
};
struct XmlEscape {
    static constexpr qsizetype growth = 6;
    template <class Sink>
    static void bytes(Sink& a, QByteArrayView v) { xmlBytes(a, v); }
    static QString text(const QString& v) { return EscapeTextForXml(v); }
};

// The room for a value's escape: a short value's bound, a long value's exact size.
template <class Escape>
qsizetype escapedRoom(QByteArrayView v)
{
    if (v.size() <= 4096) return v.size() * Escape::growth;
    Counter c;
    Escape::bytes(c, v);
    return c.count();
}

// A value made ready for the format: bytes still to escape, or a text already escaped
// and encoded (kept in `keep`).
template <class Escape>
struct Ready {
    Ready(const CellValue& v, QByteArray& keep)
    {
        if (v.text) {
            keep = Escape::text(*v.text).toUtf8();
            bytes = keep;
            escaped = true;
        } else {
            bytes = v.utf8;
            dots = v.dots;
        }
    }
    qsizetype bound() const { return escaped ? bytes.size() : escapedRoom<Escape>(bytes) + (dots ? 3 : 0); }
    void put(Appender& a) const
    {
        if (escaped) {
            a.put(bytes);
            return;
        }
        Escape::bytes(a, bytes);
        if (dots) a.put("...");
    }

    QByteArrayView bytes;
    bool escaped = false;
    bool dots = false;
};

// Lines of a body: in Answer style joined by CR LF, in Sample style each ended by one.
class LineWriter : public AnswerWriter {
public:
    LineWriter(WriterStyle style, const QString& statusText) : m_style(style), m_status(statusText) {}

protected:
    // The bytes a line adds besides its text.
    static constexpr qsizetype kLineBound = 2;
    void openLine(Appender& a)
    {
        if (m_style == WriterStyle::Answer && m_started) a.put(kCrLf);
        m_started = true;
    }
    void closeLine(Appender& a)
    {
        if (m_style == WriterStyle::Sample) a.put(kCrLf);
    }
    void line(QByteArray& out, QByteArrayView text)
    {
        Appender a(out, text.size() + kLineBound);
        openLine(a);
        a.put(text);
        closeLine(a);
    }
    // One line of `before`, the value and `after`.
    template <class Escape>
    void valueLine(QByteArray& out, QByteArrayView before, const CellValue& value, QByteArrayView after)
    {
        QByteArray keep;
        const Ready<Escape> ready(value, keep);
        Appender a(out, before.size() + ready.bound() + after.size() + kLineBound);
        openLine(a);
        a.put(before);
        ready.put(a);
        a.put(after);
        closeLine(a);
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
        : LineWriter(style, statusText), m_separator(char(format.separator().unicode()))
    {
    }

    void begin(QByteArray& out, const QStringList& columns) override
    {
        const std::vector<CellValue> names(columns.begin(), columns.end());
        quotedLine(out, names);
    }
    void row(QByteArray& out, std::span<const CellValue> values) override { quotedLine(out, values); }
    void end(QByteArray&) override {}
    void emptyBody(QByteArray& out) override { out += (QStringLiteral("Result query is empty\r\n") + m_status).toUtf8(); }

private:
    void quotedLine(QByteArray& out, std::span<const CellValue> values)
    {
        m_keep.resize(values.size());
        m_ready.clear();
        qsizetype bound = kLineBound;
        for (size_t i = 0; i < values.size(); ++i) {
            m_ready.emplace_back(values[i], m_keep[i]);
            bound += m_ready.back().bound() + 3;  // the quotes and the separator
        }
        Appender a(out, bound);
        openLine(a);
        for (size_t i = 0; i < m_ready.size(); ++i) {
            if (i) a.put(m_separator);
            a.put('"');
            m_ready[i].put(a);
            a.put('"');
        }
        closeLine(a);
    }

    char m_separator;
    std::vector<QByteArray> m_keep;
    std::vector<Ready<CsvEscape>> m_ready;
};

class XmlWriter final : public LineWriter {
public:
    using LineWriter::LineWriter;

    void begin(QByteArray& out, const QStringList& columns) override
    {
        m_open.clear();
        m_close.clear();
        for (const QString& name : columns) {
            const QByteArray tag = XmlNameForColumn(name).toUtf8();
            m_open.push_back("\t\t<" + tag + '>');
            m_close.push_back("</" + tag + '>');
        }
        line(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
        line(out, "<Data>");
        if (answer()) {
            line(out, "\t<empty>false</empty>");
            line(out, "\t<statusText>" + EscapeTextForXml(m_status).toUtf8() + "</statusText>");
        }
    }
    void row(QByteArray& out, std::span<const CellValue> values) override
    {
        line(out, "\t<Row>");
        for (size_t i = 0; i < values.size(); ++i) valueLine<XmlEscape>(out, m_open[i], values[i], m_close[i]);
        line(out, "\t</Row>");
    }
    void end(QByteArray& out) override { line(out, "</Data>"); }
    void emptyBody(QByteArray& out) override
    {
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n\t<empty>true</empty>\r\n\t<statusText>";
        out += EscapeTextForXml(m_status).toUtf8();
        out += "</statusText>\r\n</Data>";
    }

private:
    std::vector<QByteArray> m_open, m_close;
};

class JsonWriter final : public LineWriter {
public:
    using LineWriter::LineWriter;

    void begin(QByteArray& out, const QStringList& columns) override
    {
        m_keys.clear();
        for (const QString& name : columns) m_keys.push_back("\t\t\t\t\"" + EscapeQuotesForJson(name).toUtf8() + "\": \"");
        line(out, "{");
        if (answer()) {
            line(out, "\t\"empty\": \"false\",");
            line(out, "\t\"statusText\": \"" + EscapeQuotesForJson(m_status).toUtf8() + "\",");
        }
        line(out, "\t\"Data\": {");
        line(out, "\t\t\"Row\": [");
    }
    void row(QByteArray& out, std::span<const CellValue> values) override
    {
        // An answer opens every later row with ",{"; a sample closes every earlier row
        // with "},", which it can only write once the next row is there.
        if (answer())
            line(out, m_rows ? "\t\t\t,{" : "\t\t\t{");
        else {
            if (m_rows) line(out, "\t\t\t},");
            line(out, "\t\t\t{");
        }
        ++m_rows;
        for (size_t i = 0; i < values.size(); ++i)
            valueLine<JsonEscape>(out, m_keys[i], values[i], i + 1 < values.size() ? "\"," : "\"");
        if (answer()) line(out, "\t\t\t}");
    }
    void end(QByteArray& out) override
    {
        if (!answer() && m_rows) line(out, "\t\t\t}");
        line(out, "\t\t]");
        line(out, "\t}");
        line(out, "}");
    }
    void emptyBody(QByteArray& out) override
    {
        out += "{\r\n\t\"empty\": \"true\",\r\n\t\"statusText\": \"";
        out += EscapeQuotesForJson(m_status).toUtf8();
        out += "\"\r\n}";
    }

private:
    std::vector<QByteArray> m_keys;  // each key's line up to the value's opening quote
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

void appendDoubleQuotesForCsv(QByteArray& out, QByteArrayView utf8)
{
    Appender a(out, escapedRoom<CsvEscape>(utf8));
    csvBytes(a, utf8);
}

void appendEscapeQuotesForJson(QByteArray& out, QByteArrayView utf8)
{
    Appender a(out, escapedRoom<JsonEscape>(utf8));
    jsonBytes(a, utf8);
}

void appendEscapeTextForXml(QByteArray& out, QByteArrayView utf8)
{
    Appender a(out, escapedRoom<XmlEscape>(utf8));
    xmlBytes(a, utf8);
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
