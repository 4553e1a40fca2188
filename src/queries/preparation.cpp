#include "queries/preparation.h"

#include <QRegularExpression>

#include "common/errors.h"
#include "common/mainthread.h"
#include "common/regional.h"
#include "common/text.h"
#include "queries/queryfile.h"

namespace veldra {

namespace {

// The no-value mark: one carriage return.
const QString kNoValue = QStringLiteral("\r");

QString between(const QString& s, const QString& tag, int i)
{
    const QString idx = u'[' + QString::number(i) + QStringLiteral("]>");
    return textBetween(s, u'<' + tag + idx, QStringLiteral("</") + tag + idx);
}

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
    for (int i = 1; i <= count; ++i)
        params.append({between(inputParameters, QStringLiteral("name"), i).toLower(),
                       between(inputParameters, QStringLiteral("value"), i)});
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
        if (q.contains(placeholder)) q = replaceAllNoCase(q, placeholder, substitution);
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
