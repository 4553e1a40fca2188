// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/inifile.h"

#include <QFile>
#include <QStringEncoder>
#include <algorithm>
#include <cstring>

#include "common/cp1252.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/text.h"

namespace veldra {

namespace {

// The line without its line ending.
QStringView content(const QString& line)
{
    qsizetype n = line.size();
    while (n > 0 && (line.at(n - 1) == u'\n' || line.at(n - 1) == u'\r')) --n;
    return QStringView(line).left(n);
}

bool hasLineEnd(const QString& line) { return line.endsWith(u'\n') || line.endsWith(u'\r'); }

bool isComment(const QString& trimmed) { return trimmed.startsWith(u';') || trimmed.startsWith(u'#'); }

// The section name of a header line, or nothing.
std::optional<QString> sectionName(const QString& line)
{
    const QString t = trim(content(line).toString());
    if (!t.startsWith(u'[')) return std::nullopt;
    const qsizetype close = t.indexOf(u']');
    if (close < 0) return std::nullopt;
    return trim(t.mid(1, close - 1));
}

// The key of a key line, or nothing.
std::optional<QString> keyName(const QString& line)
{
    const QString c = content(line).toString();
    const QString t = trim(c);
    if (t.isEmpty() || isComment(t) || t.startsWith(u'[')) return std::nullopt;
    const qsizetype eq = c.indexOf(u'=');
    if (eq < 0) return std::nullopt;
    return trim(c.left(eq));
}

QString valueOf(const QString& line)
{
    const QString c = content(line).toString();
    QString v = trim(c.mid(c.indexOf(u'=') + 1));
    if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"')) v = v.mid(1, v.size() - 2);
    return v;
}

QString storedForm(QString value)
{
    value.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    value.replace(u'\r', u' ');
    value.replace(u'\n', u' ');
    const bool blankAtEnds = !value.isEmpty() && (value.front().unicode() <= 32 || value.back().unicode() <= 32);
    const bool quoted = value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"');
    if (blankAtEnds || quoted) return u'"' + value + u'"';
    return value;
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

}  // namespace

IniFile::IniFile(const QString& path) : m_path(path)
{
    if (!QFile::exists(path)) return;
    m_existed = true;
    readBytes(readFileBytes(path));
}

IniFile IniFile::fromBytes(const QByteArray& bytes)
{
    IniFile ini{QString()};
    ini.m_existed = true;
    ini.readBytes(bytes);
    return ini;
}

void IniFile::readBytes(const QByteArray& bytes)
{
    const QString text = decodeText(bytes, NoBomEncoding::Utf8OrCp1252, &m_encoding);

    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n') ++i;
            m_lines << text.mid(start, i + 1 - start);
            start = i + 1;
        }
    }
    if (start < n) m_lines << text.mid(start);
}

IniFile::SectionRange IniFile::findSection(const QString& section) const
{
    SectionRange r;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const auto name = sectionName(m_lines.at(i));
        if (!name) continue;
        if (r.header >= 0) {
            r.end = i;
            return r;
        }
        if (sameName(*name, section)) r.header = i;
    }
    if (r.header >= 0) r.end = m_lines.size();
    return r;
}

qsizetype IniFile::findKey(const SectionRange& range, const QString& key) const
{
    if (range.header < 0) return -1;
    for (qsizetype i = range.header + 1; i < range.end; ++i) {
        const auto k = keyName(m_lines.at(i));
        if (k && sameName(*k, key)) return i;
    }
    return -1;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const
{
    const qsizetype i = findKey(findSection(section), key);
    if (i < 0) return std::nullopt;
    return valueOf(m_lines.at(i));
}

QString IniFile::value(const QString& section, const QString& key, const QString& fallback) const
{
    return value(section, key).value_or(fallback);
}

QString IniFile::newline() const
{
    for (const QString& l : m_lines) {
        if (l.endsWith(QStringLiteral("\r\n"))) return QStringLiteral("\r\n");
        if (l.endsWith(u'\n')) return QStringLiteral("\n");
        if (l.endsWith(u'\r')) return QStringLiteral("\r");
    }
    return QStringLiteral("\r\n");
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value)
{
    const QString nl = newline();
    const SectionRange r = findSection(section);
    const qsizetype at = findKey(r, key);
    if (at >= 0) {
        const QString& old = m_lines.at(at);
        const QString left = old.left(old.indexOf(u'='));
        const QString ending = old.mid(content(old).size());
        m_lines[at] = left + u'=' + storedForm(value) + ending;
        return;
    }
    const QString line = key + u'=' + storedForm(value) + nl;
    if (r.header < 0) {
        if (!m_lines.isEmpty() && !hasLineEnd(m_lines.back())) m_lines.back() += nl;
        m_lines << (u'[' + section + u']' + nl) << line;
        return;
    }
    qsizetype last = r.header;
    for (qsizetype i = r.header + 1; i < r.end; ++i)
        if (!trim(m_lines.at(i)).isEmpty()) last = i;
    if (!hasLineEnd(m_lines.at(last))) m_lines[last] += nl;
    m_lines.insert(last + 1, line);
}

void IniFile::save()
{
    const QString t = text();
    QByteArray bytes;
    switch (m_encoding) {
    case Encoding::Utf8Bom: bytes = "\xEF\xBB\xBF" + t.toUtf8(); break;
    case Encoding::Utf8: bytes = t.toUtf8(); break;
    case Encoding::Utf16LE: bytes = QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom).encode(t); break;
    case Encoding::Utf16BE: bytes = QStringEncoder(QStringEncoder::Utf16BE, QStringEncoder::Flag::WriteBom).encode(t); break;
    case Encoding::Cp1252:
        if (std::all_of(t.cbegin(), t.cend(), [](QChar c) { return cp1252::byteOf(c.unicode()) >= 0; })) {
            bytes = cp1252::encode(t);
        } else {
            // A new value the code page cannot hold would be saved as "?": the file
            // goes over to UTF-8, which keeps every text (ASCII lines keep their bytes).
            m_encoding = Encoding::Utf8;
            bytes = t.toUtf8();
        }
        break;
    }
    // it holds the database passwords
    writeFileAtomically(m_path, bytes, FileAccess::OwnerOnly);
    m_existed = true;
}

}  // namespace veldra
