// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/requestparser.h"

#include <algorithm>

#include "common/answerformat.h"
#include "common/cp1252.h"
#include "common/files.h"
#include "common/text.h"

namespace veldra {
namespace {

bool isDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Every occurrence of `open` + index + "]>" in `s`: calls fn(index, position after "]>",
// position of `open`). The index is the whole run of digits after `open`, written
// without leading zeros.
template <class F>
void forEachIndexedMarker(const QString& s, QStringView open, F fn)
{
    qsizetype p = 0;
    while ((p = s.indexOf(open, p)) >= 0) {
        const qsizetype d = p + open.size();
        qsizetype e = d;
        while (e < s.size() && isDigit(s.at(e))) ++e;
        const qsizetype digits = e - d;
        if (digits > 0 && digits <= 10 && s.at(d) != u'0' && e + 1 < s.size() && s.at(e) == u']' &&
            s.at(e + 1) == u'>') {
            bool ok = false;
            const qint32 i = QStringView(s).mid(d, digits).toInt(&ok);
            if (ok) fn(i, e + 2, p);
        }
        p += 1;
    }
}

// Splits a query string into its items at "&"; an item that begins with a double
// quote is a quoted text.
QStringList splitItems(const QString& q)
{
    QStringList items;
    const qsizetype n = q.size();
    qsizetype p = 0;
    while (p < n) {
        QString item;
        if (q.at(p) == u'"') {
            ++p;
            while (p < n) {
                if (q.at(p) == u'"') {
                    if (p + 1 < n && q.at(p + 1) == u'"') {
                        item += u'"';
                        p += 2;
                        continue;
                    }
                    ++p;  // the closing quote
                    break;
                }
                item += q.at(p++);
            }
        } else {
            const qsizetype start = p;
            while (p < n && q.at(p) != u'&') ++p;
            item = q.mid(start, p - start);
        }
        items << item;
        if (p < n && q.at(p) == u'&') {
            ++p;
            if (p == n) items << QString();  // a "&" at the end: an empty last item
        }
    }
    return items;
}

// A name or value as the list carries it: "&" as "&amp;" and "<" as "&lt;", so that no
// text a client sends can form a marker of the list.
QString listText(const QString& s)
{
    if (!s.contains(u'&') && !s.contains(u'<')) return s;
    QString out;
    out.reserve(s.size() + 16);
    for (QChar c : s) {
        if (c == u'&')
            out += QLatin1String("&amp;");
        else if (c == u'<')
            out += QLatin1String("&lt;");
        else
            out += c;
    }
    return out;
}

// The text a list carries, read back; any other "&" stands for itself.
QString fromListText(QStringView s)
{
    if (!s.contains(u'&')) return s.toString();
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s.at(i) == u'&') {
            if (s.mid(i).startsWith(QLatin1String("&amp;"))) {
                out += u'&';
                i += 4;
                continue;
            }
            if (s.mid(i).startsWith(QLatin1String("&lt;"))) {
                out += u'<';
                i += 3;
                continue;
            }
        }
        out += s.at(i);
    }
    return out;
}

}  // namespace

QByteArray PercentDecode(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes.at(i);
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 1 < n && bytes.at(i + 1) == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (i + 2 >= n)
                throw DecodeError(
                    QStringLiteral("Error decoding URL style (%XX) encoded string at position %1").arg(i + 1));
            const int hi = hexValue(bytes.at(i + 1));
            const int lo = hexValue(bytes.at(i + 2));
            if (hi < 0 || lo < 0)
                throw DecodeError(QStringLiteral("Invalid URL encoded character (%1) at position %2")
                                      .arg(cp1252::decode(bytes.mid(i, 3)))
                                      .arg(i + 1));
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

QString ParseQueryParameters(const QString& target)
{
    QString t = target;
    t.replace(u'\\', u'/');
    const qsizetype scheme = t.indexOf(QLatin1String("://"));
    if (scheme >= 0) t = t.mid(scheme + 3);
    const qsizetype q = t.indexOf(u'?');
    const QString query = q >= 0 ? t.mid(q + 1) : QString();

    const QStringList items = splitItems(query);
    QString out;
    for (qsizetype k = 0; k < items.size(); ++k) {
        QString item = items.at(k);
        item.replace(u'+', u' ');
        const QString decoded = decodeUtf8Lossy(PercentDecode(cp1252::encode(item)));
        const qsizetype eq = decoded.indexOf(u'=');
        const QString name = listText(eq >= 0 ? decoded.left(eq).toLower() : QString());
        const QString value = listText(eq >= 0 ? decoded.mid(eq + 1) : decoded);
        const QString i = QString::number(k + 1);
        if (k > 0) out += QLatin1String("\r\n");
        out += QLatin1String("<name[") + i + QLatin1String("]>") + name + QLatin1String("</name[") + i +
               QLatin1String("]><value[") + i + QLatin1String("]>") + value + QLatin1String("</value[") + i +
               QLatin1String("]>");
    }
    out += QLatin1String("<paramcount>") + QString::number(items.size()) + QLatin1String("</paramcount>");
    return out;
}

ParameterListReader::ParameterListReader(const QString& list) : m_list(list)
{
    forEachIndexedMarker(m_list, u"<name[", [this](qint32 i, qsizetype after, qsizetype) {
        m_nameStarts[i].append(after);
    });
    forEachIndexedMarker(m_list, u"</name[", [this](qint32 i, qsizetype, qsizetype at) {
        m_nameEnds[i].append(at);
    });
    forEachIndexedMarker(m_list, u"<value[", [this](qint32 i, qsizetype after, qsizetype) {
        if (!m_valueStart.contains(i)) m_valueStart.insert(i, after);
    });
    forEachIndexedMarker(m_list, u"</value[", [this](qint32 i, qsizetype, qsizetype at) {
        m_valueEnds[i].append(at);
    });
}

bool ParameterListReader::count(qint32& out) const
{
    return toInt32(textBetween(m_list, QStringLiteral("<paramcount>"), QStringLiteral("</paramcount>")), out);
}

bool ParameterListReader::hasName(qint32 i, const QString& word) const
{
    const auto it = m_nameStarts.constFind(i);
    if (it == m_nameStarts.cend()) return false;
    const QString tail = listText(word) + QLatin1String("</name[") + QString::number(i) + QLatin1String("]>");
    for (qsizetype at : *it)
        if (QStringView(m_list).mid(at).startsWith(tail)) return true;
    return false;
}

QList<qint32> ParameterListReader::nameIndexes(qint32 upTo) const
{
    QList<qint32> out;
    for (auto it = m_nameStarts.cbegin(); it != m_nameStarts.cend(); ++it)
        if (it.key() >= 1 && it.key() <= upTo) out << it.key();
    std::sort(out.begin(), out.end());
    return out;
}

namespace {

// The text from `start` to the first of `ends` at or after it, read back from the list's
// form; empty when there is none.
QString upToFirstEnd(const QString& list, qsizetype start, const QList<qsizetype>& ends)
{
    const auto end = std::lower_bound(ends.cbegin(), ends.cend(), start);
    if (end == ends.cend()) return {};
    return fromListText(QStringView(list).mid(start, *end - start));
}

}  // namespace

QList<qint32> ParameterListReader::indexes(qint32 upTo) const
{
    QList<qint32> out = nameIndexes(upTo);
    for (auto it = m_valueStart.cbegin(); it != m_valueStart.cend(); ++it)
        if (it.key() >= 1 && it.key() <= upTo && !m_nameStarts.contains(it.key())) out << it.key();
    std::sort(out.begin(), out.end());
    return out;
}

QString ParameterListReader::name(qint32 i) const
{
    const auto starts = m_nameStarts.constFind(i);
    const auto ends = m_nameEnds.constFind(i);
    if (starts == m_nameStarts.cend() || ends == m_nameEnds.cend()) return {};
    return upToFirstEnd(m_list, starts->first(), *ends);
}

QString ParameterListReader::value(qint32 i) const
{
    const auto start = m_valueStart.constFind(i);
    const auto ends = m_valueEnds.constFind(i);
    if (start == m_valueStart.cend() || ends == m_valueEnds.cend()) return {};
    return upToFirstEnd(m_list, *start, *ends);
}

Request ParseRequest(const QString& requestText, const RequestDefaults& defaults)
{
    Request request;
    request.text = trim(requestText);
    request.format = defaults.format;
    request.dateActive = defaults.dateActive;
    request.address = defaults.address;
    request.handle = defaults.handle;

    const QString& s = request.text;
    const QString get = QStringLiteral("GET /");
    const QString http = QStringLiteral(" HTTP/");

    // Name
    if (s.startsWith(get) && s.indexOf(http, get.size()) >= 0) {
        const QString t = trim(textBetween(s, get, http));
        if (t.contains(u'?'))
            request.name = trim(textBetween(s, get, QStringLiteral("?")));
        else
            request.name = t;
    }
    if (request.name.isEmpty()) return request;

    // Parameters
    request.parameters = trim(ParseQueryParameters(textBetween(s, QStringLiteral("GET "), http)));
    const ParameterListReader list(request.parameters);

    // Format: the first parameter named format decides.
    if (request.parameters.contains(QLatin1String("]>format</name["))) {
        qint32 n = 0;
        if (list.count(n)) {
            const QString format = QStringLiteral("format");
            for (qint32 i : list.nameIndexes(n)) {
                if (!list.hasName(i, format)) continue;
                const QString f = trim(list.value(i));
                if (const std::optional<AnswerFormat> named = AnswerFormat::fromName(f)) request.format = named;
                break;
            }
        }
    }

    // Credentials: the last parameter of each name wins.
    if (request.parameters.contains(QLatin1String(">email<")) || request.parameters.contains(QLatin1String(">seccode<"))) {
        qint32 n = 0;
        if (list.count(n)) {
            const QString email = QStringLiteral("email");
            const QString seccode = QStringLiteral("seccode");
            for (qint32 i : list.nameIndexes(n)) {
                if (list.hasName(i, email)) request.email = trim(list.value(i));
                if (list.hasName(i, seccode)) request.seccode = trim(list.value(i));
            }
        }
    }
    request.email = request.email.toLower();
    request.seccode = request.seccode.toLower();
    return request;
}

}  // namespace veldra
