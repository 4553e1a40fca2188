// SPDX-License-Identifier: GPL-3.0-or-later
#include "queries/templatecheck.h"

#include <algorithm>
#include <vector>

#include "common/regional.h"

namespace veldra {

namespace {

using Where = UnsafePlaceholder::Where;

// What each character of the text is: inside a string literal, or where.
enum class Kind : unsigned char { Code, Quoted, Backquotes, Comment };

bool isSpaceOrControl(QChar c) { return c.unicode() <= 32; }

std::vector<Kind> classify(const QString& q)
{
    std::vector<Kind> kind(size_t(q.size()), Kind::Code);
    const qsizetype n = q.size();
    qsizetype i = 0;
    auto mark = [&](qsizetype from, qsizetype to, Kind k) {
        for (qsizetype j = from; j < to && j < n; ++j) kind[size_t(j)] = k;
    };
    while (i < n) {
        const QChar c = q.at(i);
        const QChar next = i + 1 < n ? q.at(i + 1) : QChar();
        if (c == u'\'' || c == u'"') {
            // a string up to the same quote; a backslash takes the next character with it,
            // and a doubled quote is one quote inside the string
            qsizetype j = i + 1;
            while (j < n) {
                if (q.at(j) == u'\\') {
                    j += 2;
                    continue;
                }
                if (q.at(j) == c) {
                    if (j + 1 < n && q.at(j + 1) == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            mark(i + 1, j, Kind::Quoted);
            i = j + 1;
        } else if (c == u'`') {
            qsizetype j = i + 1;
            while (j < n) {
                if (q.at(j) == u'`') {
                    if (j + 1 < n && q.at(j + 1) == u'`') {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            mark(i + 1, j, Kind::Backquotes);
            i = j + 1;
        } else if (c == u'#' || (c == u'-' && next == u'-' && (i + 2 >= n || isSpaceOrControl(q.at(i + 2))))) {
            qsizetype j = i;
            while (j < n && q.at(j) != u'\n' && q.at(j) != u'\r') ++j;
            mark(i, j, Kind::Comment);
            i = j;
        } else if (c == u'/' && next == u'*') {
            if (i + 2 < n && q.at(i + 2) == u'!') {
                i += 3;  // statement text for MySQL; its closing "*/" is skipped as code
                continue;
            }
            const qsizetype end = q.indexOf(QStringLiteral("*/"), i + 2);
            const qsizetype j = end < 0 ? n : end + 2;
            mark(i, j, Kind::Comment);
            i = j;
        } else {
            ++i;
        }
    }
    return kind;
}

int lineAt(const QString& q, qsizetype index)
{
    int line = 1;
    for (qsizetype j = 0; j < index; ++j) {
        const QChar c = q.at(j);
        if (c == u'\n' || (c == u'\r' && (j + 1 >= q.size() || q.at(j + 1) != u'\n'))) ++line;
    }
    return line;
}

}  // namespace

QList<UnsafePlaceholder> findUnsafePlaceholders(const QString& query, const QList<InputValueEntry>& inputs)
{
    struct Hit {
        qsizetype at;
        UnsafePlaceholder p;
    };
    std::vector<Hit> hits;
    std::vector<Kind> kind;
    for (const InputValueEntry& input : inputs) {
        if (input.rec.IsFloatValue) continue;
        const QString placeholder = QStringLiteral("{:") + input.name.toLower() + QStringLiteral(":}");
        if (!query.contains(placeholder)) continue;  // preparation leaves it alone
        if (kind.empty()) kind = classify(query);
        for (qsizetype at = query.indexOf(placeholder, 0, Qt::CaseInsensitive); at >= 0;
             at = query.indexOf(placeholder, at + placeholder.size(), Qt::CaseInsensitive)) {
            const Kind k = kind[size_t(at)];
            if (k == Kind::Quoted) continue;
            const Where where = k == Kind::Backquotes ? Where::Backquotes : k == Kind::Comment ? Where::Comment : Where::Code;
            hits.push_back({at, UnsafePlaceholder{input.name, query.mid(at, placeholder.size()), 0, where}});
        }
    }
    std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.at < b.at; });
    QList<UnsafePlaceholder> out;
    for (Hit& h : hits) {
        h.p.line = lineAt(query, h.at);
        out << h.p;
    }
    return out;
}

QList<UnsafePlaceholder> findUnsafePlaceholders(const QueryFile& file)
{
    QList<InputValueEntry> inputs;
    try {
        for (int i = 1; i <= file.countInputValues(); ++i) inputs << file.inputValue(i);
    } catch (...) {
        return {};
    }
    return findUnsafePlaceholders(file.item(QStringLiteral("q_content")), inputs);
}

QStringList unsafeInputNames(const QList<UnsafePlaceholder>& found)
{
    QStringList names;
    for (const UnsafePlaceholder& p : found)
        if (!names.contains(p.input)) names << p.input;
    return names;
}

QString describeUnsafePlaceholders(const QList<UnsafePlaceholder>& found)
{
    QStringList parts;
    for (const UnsafePlaceholder& p : found) {
        QString where;
        if (p.where == Where::Backquotes) where = QStringLiteral(", between backquotes");
        if (p.where == Where::Comment) where = QStringLiteral(", in a comment");
        parts << p.placeholder + QStringLiteral(" (line ") + QString::number(p.line) + where + u')';
    }
    return parts.join(QStringLiteral(", "));
}

QList<FunctionTemplateCheck> checkFunctionTemplates(const QString& queriesFolder, int* readCount)
{
    QList<FunctionTemplateCheck> out;
    int read = 0;
    for (const QString& name : listQueryFunctions(queriesFolder)) {
        try {
            const QueryFile file = QueryFile::read(queryFilePath(queriesFolder, name));
            ++read;
            QList<UnsafePlaceholder> found = findUnsafePlaceholders(file);
            if (!found.isEmpty()) out << FunctionTemplateCheck{name, std::move(found)};
        } catch (...) {
            // an unreadable file is the request's failure to report
        }
    }
    if (readCount) *readCount = read;
    return out;
}

QString templateCheckLogLine(const FunctionTemplateCheck& check)
{
    return u'[' + regional::timeStamp() + QStringLiteral("] \t{TemplateCheck} Function [") + check.name +
           QStringLiteral("] : input placeholders outside a quoted string, not marked \"Float | integer value\" : ") +
           describeUnsafePlaceholders(check.found) + u' ';
}

}  // namespace veldra
