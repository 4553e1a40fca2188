#include "queries/preparation.h"

#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <limits>
#include <optional>

#include "common/errors.h"
#include "common/mainthread.h"
#include "common/regional.h"
#include "common/text.h"
#include "queries/queryfile.h"

namespace veldra {

namespace {

// The no-value mark: one carriage return.
const QString kNoValue = QStringLiteral("\r");

// Where the markers "<tag[i]>" (or "</tag[i]>") stand in a parameter list, by index i.
// The list is scanned once, so a count taken from the request costs nothing however
// large it is.
class MarkerIndex {
public:
    MarkerIndex(const QString& list, const QString& prefix)
    {
        for (qsizetype at = list.indexOf(prefix); at >= 0; at = list.indexOf(prefix, at + 1)) {
            qsizetype d = at + prefix.size();
            const qsizetype digits = d;
            while (d < list.size() && list.at(d).unicode() >= '0' && list.at(d).unicode() <= '9') ++d;
            // The index as QString::number writes it: no sign, no leading zero, 32 bits.
            if (d == digits || d - digits > 10 || list.at(digits) == u'0') continue;
            if (!QStringView(list).mid(d).startsWith(QLatin1String("]>"))) continue;
            const qlonglong i = QStringView(list).mid(digits, d - digits).toLongLong();
            if (i > std::numeric_limits<qint32>::max()) continue;
            m_at[qint32(i)].append(at);
            m_length[qint32(i)] = d + 2 - at;
        }
    }
    QList<qint32> indexes() const { return m_at.keys(); }
    // The first occurrence of the marker of i at or after `from`, or -1.
    qsizetype find(qint32 i, qsizetype from) const
    {
        const auto it = m_at.constFind(i);
        if (it == m_at.cend()) return -1;
        const auto hit = std::lower_bound(it->cbegin(), it->cend(), from);
        return hit == it->cend() ? -1 : *hit;
    }
    qsizetype length(qint32 i) const { return m_length.value(i); }

private:
    QHash<qint32, QList<qsizetype>> m_at;  // ascending positions
    QHash<qint32, qsizetype> m_length;
};

// The text between the first opening marker of i and the first closing marker after it.
QString between(const QString& list, const MarkerIndex& open, const MarkerIndex& close, qint32 i)
{
    const qsizetype a = open.find(i, 0);
    if (a < 0) return {};
    const qsizetype from = a + open.length(i);
    const qsizetype b = close.find(i, from);
    if (b < 0) return {};
    return list.mid(from, b - from);
}

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

}  // namespace

QList<RequestParam> requestParams(const QString& inputParameters)
{
    QList<RequestParam> params;
    qint32 count = 0;
    if (!toInt32(textBetween(inputParameters, QStringLiteral("<paramcount>"), QStringLiteral("</paramcount>")), count))
        count = 0;
    if (count <= 0) return params;
    const MarkerIndex nameOpen(inputParameters, QStringLiteral("<name["));
    const MarkerIndex nameClose(inputParameters, QStringLiteral("</name["));
    const MarkerIndex valueOpen(inputParameters, QStringLiteral("<value["));
    const MarkerIndex valueClose(inputParameters, QStringLiteral("</value["));

    // The parameters 1..count that have a marker, in order. Every other index gives an
    // empty name and an empty value; of those only the last can matter (the last
    // occurrence of a name wins), so it stands for all of them.
    QList<qint32> present = nameOpen.indexes() + valueOpen.indexes();
    std::sort(present.begin(), present.end());
    present.erase(std::unique(present.begin(), present.end()), present.end());
    present.erase(std::remove_if(present.begin(), present.end(), [&](qint32 i) { return i < 1 || i > count; }),
                  present.end());
    qint32 lastEmpty = count;
    for (auto it = present.crbegin(); it != present.crend() && *it == lastEmpty; ++it) --lastEmpty;

    bool emptyAdded = lastEmpty < 1;
    for (qint32 i : present) {
        if (!emptyAdded && lastEmpty < i) {
            params.append({QString(), QString()});
            emptyAdded = true;
        }
        params.append({between(inputParameters, nameOpen, nameClose, i).toLower(),
                       between(inputParameters, valueOpen, valueClose, i)});
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

QString prepareFromFileText(const QString& fileText, const QString& functionName, const QString& inputParameters,
                            bool checkActive)
{
    const QList<RequestParam> params = requestParams(inputParameters);
    const QueryFile file = QueryFile::fromText(fileText);
    if (checkActive && !file.flag(QStringLiteral("q_active"), false))
        return QStringLiteral("<#msg>Function [") + functionName + QStringLiteral("] is not actived !!!</#msg>");

    QString q = file.item(QStringLiteral("q_content"));
    const qint32 count = file.countInputValues();
    if (count < 0) throw Error(QStringLiteral("ERangeError"), QStringLiteral("Range check error"));

    for (int i = 1; i <= count; ++i) {
        const InputValueEntry entry = file.inputValue(i);
        const QString name = entry.name.toLower();
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
            if (rec.deleteblocked_ifvalue_is.contains(trigger)) q = DeleteBlocksInQuery(q, name);
        }

        QString substitution;
        if (value == kNoValue)
            substitution = QStringLiteral("null");
        else
            substitution = fromRequest ? escapeSqlValue(value) : value;

        const QString placeholder = QStringLiteral("{:") + name + QStringLiteral(":}");
        if (q.contains(placeholder)) {
            const qsizetype hits = q.count(placeholder, Qt::CaseInsensitive);
            if (q.size() + hits * (substitution.size() - placeholder.size()) > kMaxPreparedLength)
                throw Error(QStringLiteral("ERangeError"),
                            QStringLiteral("The prepared query would be longer than %1 characters").arg(kMaxPreparedLength));
            q = replaceAllNoCase(q, placeholder, substitution);
        }
    }
    return trim(q);
}

QString PreparingQuery(const QString& queriesFolder, const QString& name, const QString& inputParameters)
{
    const QString fileText = QueryFile::read(queryFilePath(queriesFolder, name)).text();
    const QueryFile file = QueryFile::fromText(fileText);
    if (!file.flag(QStringLiteral("q_active"), false))
        return prepareFromFileText(fileText, name, inputParameters, true);
    const QString result = prepareFromFileText(fileText, name, inputParameters, false);
    mainthread::runSync([&] { ShowLastPreparedQuery(result); });
    return result;
}

QString _PreparatingQuery(const QString& name, const QString& inputParameters, const TServerSettings& settings)
{
    return PreparingQuery(settings.PathToQueries, name, inputParameters);
}

QString PreparatingQueryForTest(const QString& pathToQueriesPage, const QString& name, const QString& inputParameters)
{
    const QString fileText = QueryFile::read(queryFilePath(consoleFolder(pathToQueriesPage), name)).text();
    const QString result = prepareFromFileText(fileText, name, inputParameters, false);
    mainthread::runSync([&] { LastPreparedQuery::instance().setText(lastPreparedQueryView(result)); });
    return result;
}

LastPreparedQuery& LastPreparedQuery::instance()
{
    static LastPreparedQuery view;
    return view;
}

void LastPreparedQuery::setText(const QString& text)
{
    m_text = text;
    if (m_listener) m_listener(m_text);
}

QString lastPreparedQueryView(const QString& query)
{
    return QStringLiteral("-- ") + regional::timeStamp() + QStringLiteral("\r-- ==============================\r") +
           trim(query);
}

void ShowLastPreparedQuery(const QString& query)
{
    LastPreparedQuery& view = LastPreparedQuery::instance();
    if (view.onScreen()) view.setText(lastPreparedQueryView(query));
}

}  // namespace veldra
