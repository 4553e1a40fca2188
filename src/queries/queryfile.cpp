// SPDX-License-Identifier: GPL-3.0-or-later
#include "queries/queryfile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>

#include "common/errors.h"
#include "common/files.h"
#include "common/text.h"

namespace veldra {

namespace {

QString marker(const QString& tag) { return QStringLiteral("<#") + tag + u'>'; }
QString closing(const QString& tag) { return QStringLiteral("</#") + tag + u'>'; }
QString indexed(const QString& tag, int i) { return tag + u'[' + QString::number(i) + u']'; }

QString itemLine(const QString& tag, const QString& value) { return marker(tag) + value + closing(tag); }

// Every line break (CR LF, CR or LF) becomes CR LF.
QString withCrLf(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == u'\r' || c == u'\n') {
            out += QStringLiteral("\r\n");
            if (c == u'\r' && i + 1 < s.size() && s.at(i + 1) == u'\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QString savedBool(bool b) { return b ? QStringLiteral("-1") : QStringLiteral("0"); }

}  // namespace

QString consoleFolder(const QString& pageValue)
{
    const QString t = trim(pageValue);
    return t.endsWith(u'/') ? t : t + u'/';
}

QString queryFilePath(const QString& folder, const QString& name)
{
    QString f = folder;
    if (!f.isEmpty() && !f.endsWith(u'/')) f += u'/';
    return f + name + QStringLiteral(".qr");
}

QStringList listQueryFunctions(const QString& folder)
{
    QStringList names;
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*.qr")}, QDir::Files | QDir::Hidden | QDir::CaseSensitive);
    for (const QString& f : files) names << f.left(f.size() - 3);
    std::stable_sort(names.begin(), names.end(), functionNameLess);
    return names;
}

bool functionNameLess(const QString& a, const QString& b)
{
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

bool tryReadBoolean(const QString& value, bool& out)
{
    const QString t = value.trimmed();
    if (t.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) {
        out = true;
        return true;
    }
    if (t.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) {
        out = false;
        return true;
    }
    bool ok = false;
    const qlonglong n = value.toLongLong(&ok, 10);
    if (ok) {
        out = n != 0;
        return true;
    }
    // Any other number, with "." as the decimal point ("0.0" is false, "0.5" true).
    static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (!decimal.match(t).hasMatch()) return false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d)) return false;
    out = d != 0.0;
    return true;
}

bool readBoolean(const QString& value)
{
    bool b = false;
    if (!tryReadBoolean(value, b))
        throw Error(QStringLiteral("EConvertError"), u'\'' + value + QStringLiteral("' is not a valid boolean value"));
    return b;
}

QueryFile QueryFile::fromText(const QString& fileText)
{
    QueryFile f;
    for (const QString& line : splitLines(fileText)) f.m_text += line + QStringLiteral("\r\n");
    return f;
}

namespace {

// File texts kept while their size and modification time stay the same: a request reads
// its function file without opening it again, and a saved change applies at once.
class FileTextCache {
public:
    QString read(const QString& path)
    {
        struct stat st{};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0) return readTextFile(path);
        const Stamp stamp{st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ino};
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_entries.find(path);
            if (it != m_entries.end() && it->second.stamp == stamp) return it->second.text;
        }
        const QString text = readTextFile(path);
        std::lock_guard lock(m_mutex);
        if (m_entries.size() >= 4096) m_entries.clear();
        m_entries[path] = {stamp, text};
        return text;
    }

private:
    struct Stamp {
        off_t size;
        time_t seconds;
        long nanoseconds;
        ino_t inode;
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        Stamp stamp;
        QString text;
    };
    std::mutex m_mutex;
    std::unordered_map<QString, Entry> m_entries;
};

}  // namespace

QueryFile QueryFile::read(const QString& path)
{
    static FileTextCache cache;
    return fromText(cache.read(path));
}

QString QueryFile::item(const QString& tag) const { return textBetween(m_text, marker(tag), closing(tag)); }

QString QueryFile::inputItem(const QString& tag, int i) const { return item(indexed(tag, i)); }

qint32 QueryFile::countInputValues() const
{
    qint32 n = 0;
    if (!toInt32(item(QStringLiteral("q_count_input_values")), n)) return 0;
    return n;
}

bool QueryFile::flag(const QString& tag, bool fallback) const
{
    bool b = fallback;
    if (!tryReadBoolean(item(tag), b)) return fallback;
    return b;
}

InputValueEntry QueryFile::inputValue(int i) const
{
    InputValueEntry e;
    e.name = inputItem(QStringLiteral("q_in_name"), i);
    e.rec.default_value = inputItem(QStringLiteral("q_in_default_value"), i);
    e.rec.deleteblocked_ifvalue_is = inputItem(QStringLiteral("q_in_deleteblocked_ifvalue_is"), i);
    e.rec.Cleantext = readBoolean(inputItem(QStringLiteral("q_in_Cleantext"), i));
    e.rec.IsFloatValue = readBoolean(inputItem(QStringLiteral("q_in_IsFloatValue"), i));
    e.rec.deleteblocked = readBoolean(inputItem(QStringLiteral("q_in_deleteblocked"), i));
    return e;
}

void LoadQueryFunction(const QString& folder, const QString& name, QueryEditorModel& editor)
{
    const QueryFile file = QueryFile::read(queryFilePath(folder, name));
    QueryEditorModel loaded;
    loaded.name = file.item(QStringLiteral("q_name"));
    loaded.active = file.flag(QStringLiteral("q_active"), false);
    loaded.blockedForShareList = file.flag(QStringLiteral("q_blocked_for_sharelist"), true);
    loaded.description = file.item(QStringLiteral("q_descript"));
    const qint32 n = file.countInputValues();
    try {
        for (int i = 1; i <= n; ++i) loaded.inputValues << file.inputValue(i);
    } catch (...) {
        editor = QueryEditorModel{};
        throw;
    }
    loaded.query = file.item(QStringLiteral("q_content"));
    editor = std::move(loaded);
}

QStringList queryFunctionLines(const QueryEditorModel& e)
{
    QStringList items;
    items << itemLine(QStringLiteral("q_name"), trim(e.name));
    items << itemLine(QStringLiteral("q_active"), savedBool(e.active));
    items << itemLine(QStringLiteral("q_blocked_for_sharelist"), savedBool(e.blockedForShareList));
    items << itemLine(QStringLiteral("q_descript"), trim(e.description));
    items << itemLine(QStringLiteral("q_count_input_values"), QString::number(e.inputValues.size()));
    for (int i = 1; i <= e.inputValues.size(); ++i) {
        const InputValueEntry& v = e.inputValues.at(i - 1);
        items << itemLine(indexed(QStringLiteral("q_in_name"), i), v.name);
        items << itemLine(indexed(QStringLiteral("q_in_default_value"), i), v.rec.default_value);
        items << itemLine(indexed(QStringLiteral("q_in_deleteblocked_ifvalue_is"), i), v.rec.deleteblocked_ifvalue_is);
        items << itemLine(indexed(QStringLiteral("q_in_Cleantext"), i), savedBool(v.rec.Cleantext));
        items << itemLine(indexed(QStringLiteral("q_in_IsFloatValue"), i), savedBool(v.rec.IsFloatValue));
        items << itemLine(indexed(QStringLiteral("q_in_deleteblocked"), i), savedBool(v.rec.deleteblocked));
    }
    items << itemLine(QStringLiteral("q_content"), e.query);
    // A multi-line value spreads its own lines between its markers.
    QStringList lines;
    for (const QString& item : items) lines << withCrLf(item).split(QStringLiteral("\r\n"));
    return lines;
}

QString queryFunctionText(const QueryEditorModel& editor)
{
    QString text;
    for (const QString& l : queryFunctionLines(editor)) text += l + QStringLiteral("\r\n");
    return text;
}

void SaveQueryFunction(const QString& folder, const QString& name, const QueryEditorModel& editor)
{
    // Replaced through a rename, so that a request reading the file meanwhile sees the
    // old function or the new one, never a part of it.
    writeFileAtomically(queryFilePath(folder, name), textFileBytes(queryFunctionLines(editor)));
}

QStringList skeletonLines(const QString& name)
{
    return {itemLine(QStringLiteral("q_name"), name),
            QStringLiteral("<#q_active>false</#q_active>"),
            QStringLiteral("<#q_blocked_for_sharelist>true</#q_blocked_for_sharelist>"),
            QStringLiteral("<#q_descript></#q_descript>"),
            QStringLiteral("<#q_count_input_values>0</#q_count_input_values>"),
            QStringLiteral("<#q_content></#q_content>")};
}

void CreateQueryFunction(const QString& folder, const QString& name)
{
    writeFileAtomically(queryFilePath(folder, name), textFileBytes(skeletonLines(name)));
}

}  // namespace veldra
