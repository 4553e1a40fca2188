// SPDX-License-Identifier: GPL-3.0-or-later
#include "queries/preparation.h"

#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <mutex>
#include <optional>

#include "common/errors.h"
#include "common/mainthread.h"
#include "common/regional.h"
#include "common/text.h"
#include "queries/queryfile.h"
#include "server/requestparser.h"

namespace veldra {

namespace {

// The no-value mark: one carriage return.
const QString kNoValue = QStringLiteral("\r");

// The longest prepared text: far beyond any real statement, it stops request values
// that carry placeholders of later input values from multiplying the text without end.
constexpr qsizetype kMaxPreparedLength = 16 * 1024 * 1024;

// The number check: "," read as ".", then a decimal number when it holds a point,
// otherwise a whole number in the signed 32-bit range. Empty when it does not read.
std::optional<QString> asNumber(const QString& value)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)$"));
    static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
    QString s = value;
    s.replace(u',', u'.');
    if (s.contains(u'.')) {
        if (decimal.match(s).hasMatch()) return s;
        return std::nullopt;
    }
    if (!whole.match(s).hasMatch()) return std::nullopt;
    qint32 n = 0;
    if (!toInt32(s, n)) return std::nullopt;
    return s;
}

Error tooLong()
{
    return Error(QStringLiteral("ERangeError"),
                 QStringLiteral("The prepared query would be longer than %1 characters").arg(kMaxPreparedLength));
}

// The query text while it is prepared. A request value stands in it only as a reference,
// "\uFDD0" index "\uFDD1", to its text held apart, so no later step (placeholders, block
// markers, the error marker) ever reads what a client sent; expand() puts the texts in
// at the end. The operator's text (template, defaults, names) stands in it as written;
// should it hold one of the two reference characters (they are noncharacters, never
// meant as text), that character is held apart as a value of its own.
class WorkingQuery {
public:
    // The operator's text, ready to stand in the query.
    QString operatorText(const QString& text)
    {
        if (!text.contains(kRefStart) && !text.contains(kRefEnd)) return text;
        QString out;
        for (QChar c : text) {
            if (c == kRefStart || c == kRefEnd)
                out += reference(QString(c));
            else
                out += c;
        }
        return out;
    }

    // A request value: its reference; it is substituted as a string literal body.
    QString requestValue(const QString& value) { return reference(escapeSqlValue(value)); }

    // The text with every reference replaced by its value.
    QString expand(const QString& q) const
    {
        if (!q.contains(kRefStart)) return q;
        qsizetype size = 0;
        forEachPart(q, [&](QStringView part) { size += part.size(); });
        if (size > kMaxPreparedLength) throw tooLong();
        QString out;
        out.reserve(size);
        forEachPart(q, [&](QStringView part) { out += part; });
        return out;
    }

private:
    static constexpr QChar kRefStart = QChar(0xFDD0);
    static constexpr QChar kRefEnd = QChar(0xFDD1);

    // Equal texts share one reference, so blocks that hold equal values stay equal.
    QString reference(const QString& text)
    {
        auto it = m_index.constFind(text);
        if (it == m_index.cend()) {
            it = m_index.insert(text, m_values.size());
            m_values << text;
        }
        return kRefStart + QString::number(*it) + kRefEnd;
    }

    // Calls fn with the query's own text and the values of its references, in order.
    template <class F>
    void forEachPart(const QString& q, F fn) const
    {
        qsizetype p = 0;
        while (p < q.size()) {
            const qsizetype start = q.indexOf(kRefStart, p);
            if (start < 0) break;
            const qsizetype end = q.indexOf(kRefEnd, start);
            fn(QStringView(q).mid(p, start - p));
            // Every kRefStart in the query begins a reference made here: digits, kRefEnd.
            fn(m_values.at(QStringView(q).mid(start + 1, end - start - 1).toInt()));
            p = end + 1;
        }
        fn(QStringView(q).mid(p));
    }

    QStringList m_values;
    QHash<QString, qsizetype> m_index;
};

}  // namespace

QList<RequestParam> requestParams(const QString& inputParameters)
{
    QList<RequestParam> params;
    const ParameterListReader list(inputParameters);
    qint32 count = 0;
    if (!list.count(count) || count <= 0) return params;

    // The parameters 1..count that have a marker, in order. Every other index gives an
    // empty name and an empty value; of those only the last can matter (the last
    // occurrence of a name wins), so it stands for all of them. So a count taken from
    // the request costs nothing however large it is.
    const QList<qint32> present = list.indexes(count);
    qint32 lastEmpty = count;
    for (auto it = present.crbegin(); it != present.crend() && *it == lastEmpty; ++it) --lastEmpty;

    bool emptyAdded = lastEmpty < 1;
    for (qint32 i : present) {
        if (!emptyAdded && lastEmpty < i) {
            params.append({QString(), QString()});
            emptyAdded = true;
        }
        params.append({list.name(i).toLower(), list.value(i)});
    }
    if (!emptyAdded) params.append({QString(), QString()});
    return params;
}

QString escapeSqlValue(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (QChar c : value) {
        switch (c.unicode()) {
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\'': out += QStringLiteral("\\'"); break;
        case u'"': out += QStringLiteral("\\\""); break;
        case 0: out += QStringLiteral("\\0"); break;
        default: out += c;
        }
    }
    return out;
}

QString DeleteBlocksInQuery(const QString& text, const QString& name)
{
    const QString open = QStringLiteral("<#") + name + QStringLiteral("#>");
    const QString close = QStringLiteral("<#/") + name + QStringLiteral("#>");
    QString q = text;
    while (q.contains(open)) {
        const qsizetype a = q.indexOf(open);
        if (q.indexOf(close, a + open.size()) < 0) break;  // no closing marker: leave the rest
        const QString inner = textBetween(q, open, close);
        q = replaceAllNoCase(q, open + inner + close, QString());
    }
    return q;
}

PreparationResult prepareForRequest(const QString& fileText, const QString& functionName,
                                    const QString& inputParameters, bool checkActive)
{
    const QList<RequestParam> params = requestParams(inputParameters);
    const QueryFile file = QueryFile::fromText(fileText);
    if (checkActive && !file.flag(QStringLiteral("q_active"), false))
        return QStringLiteral("<#msg>Function [") + functionName + QStringLiteral("] is not actived !!!</#msg>");

    WorkingQuery work;
    QString q = work.operatorText(file.item(QStringLiteral("q_content")));
    const qint32 count = file.countInputValues();
    if (count < 0) throw Error(QStringLiteral("ERangeError"), QStringLiteral("Range check error"));

    for (int i = 1; i <= count; ++i) {
        const InputValueEntry entry = file.inputValue(i);
        const QString name = entry.name.toLower();
        const QString nameInQuery = work.operatorText(name);
        const TMyRec& rec = entry.rec;

        QString value = kNoValue;
        bool fromRequest = false;
        for (const RequestParam& p : params) {
            if (p.nameparam == name) {
                value = p.value;
                fromRequest = true;
            }
        }
        if (value == kNoValue) {
            value = rec.default_value;
            fromRequest = false;
        }
        if (rec.Cleantext && value != kNoValue) value = lettersAndDigits(value);
        if (rec.IsFloatValue && value != kNoValue) value = asNumber(value).value_or(kNoValue);

        if (rec.deleteblocked) {
            const QString trigger = value == kNoValue ? QStringLiteral("[null]") : u'[' + value + u']';
            if (rec.deleteblocked_ifvalue_is.contains(trigger)) q = DeleteBlocksInQuery(q, nameInQuery);
        }

        const QString placeholder = QStringLiteral("{:") + nameInQuery + QStringLiteral(":}");
        if (!q.contains(placeholder)) continue;
        QString substitution;
        if (value == kNoValue)
            substitution = QStringLiteral("null");
        else
            substitution = fromRequest ? work.requestValue(value) : work.operatorText(value);
        const qsizetype hits = q.count(placeholder, Qt::CaseInsensitive);
        if (q.size() + hits * (substitution.size() - placeholder.size()) > kMaxPreparedLength) throw tooLong();
        q = replaceAllNoCase(q, placeholder, substitution);
    }

    const QString text = trim(work.expand(q));
    const QString msg = trim(textBetween(q, QStringLiteral("<#msg>"), QStringLiteral("</#msg>")));
    return PreparationResult(text, trim(work.expand(msg)));
}

namespace {

// The last prepared query on its way to the main thread. Only the newest matters: one
// hand-over shows whichever was prepared last when it runs, however many came meanwhile.
class LastQueryHandOver {
public:
    void set(const QString& query)
    {
        // A copy of its own for the main thread: the request thread drops its text while
        // the main thread may still hold the one handed over, and a shared text would
        // leave their release to a count that the race checker cannot see inside Qt.
        QString copy(query.constData(), query.size());
        bool post;
        {
            std::lock_guard lock(m_mutex);
            m_text.swap(copy);
            post = !m_posted;
            m_posted = true;
        }
        if (post) mainthread::post([this] { show(); });
    }

private:
    void show()
    {
        QString text;
        {
            std::lock_guard lock(m_mutex);
            text.swap(m_text);
            m_posted = false;
        }
        ShowLastPreparedQuery(text);
    }

    std::mutex m_mutex;
    QString m_text;
    bool m_posted = false;
};

void handOverLastPreparedQuery(const QString& query)
{
    static LastQueryHandOver handOver;
    handOver.set(query);
}

}  // namespace

PreparationResult PreparingQuery(const QString& queriesFolder, const QString& name, const QString& inputParameters)
{
    const QString fileText = QueryFile::read(queryFilePath(queriesFolder, name)).text();
    const QueryFile file = QueryFile::fromText(fileText);
    if (!file.flag(QStringLiteral("q_active"), false)) return prepareForRequest(fileText, name, inputParameters, true);
    const PreparationResult result = prepareForRequest(fileText, name, inputParameters, false);
    handOverLastPreparedQuery(result.text);
    return result;
}

PreparationResult _PreparatingQuery(const QString& name, const QString& inputParameters,
                                    const TServerSettings& settings)
{
    return PreparingQuery(settings.PathToQueries, name, inputParameters);
}

QString PreparatingQueryForTest(const QString& pathToQueriesPage, const QString& name, const QString& inputParameters)
{
    const QString fileText = QueryFile::read(queryFilePath(consoleFolder(pathToQueriesPage), name)).text();
    const QString result = prepareForRequest(fileText, name, inputParameters, false).text;
    mainthread::runSync([&] { LastPreparedQuery::instance().setText(lastPreparedQueryView(result)); });
    return result;
}

LastPreparedQuery& LastPreparedQuery::instance()
{
    static LastPreparedQuery view;
    return view;
}

QString LastPreparedQuery::text() const
{
    if (m_keptAt >= 0) {
        m_text = lastPreparedQueryView(m_query, QDateTime::fromMSecsSinceEpoch(m_keptAt));
        m_query.clear();
        m_keptAt = -1;
    }
    return m_text;
}

void LastPreparedQuery::setText(const QString& text)
{
    m_text = text;
    m_query.clear();
    m_keptAt = -1;
    if (m_listener) m_listener(m_text);
}

void LastPreparedQuery::keep(const QString& query)
{
    m_query = query;
    m_keptAt = QDateTime::currentMSecsSinceEpoch();
    if (m_onScreen && m_listener) m_listener(text());
}

QString lastPreparedQueryView(const QString& query, const QDateTime& preparedAt)
{
    return QStringLiteral("-- ") + regional::timeStamp(preparedAt) + QStringLiteral("\r-- ==============================\r") +
           trim(query);
}

QString lastPreparedQueryView(const QString& query) { return lastPreparedQueryView(query, QDateTime::currentDateTime()); }

void ShowLastPreparedQuery(const QString& query) { LastPreparedQuery::instance().keep(query); }

}  // namespace veldra
