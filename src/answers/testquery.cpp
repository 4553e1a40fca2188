#include "answers/testquery.h"

#include "answers/savequeryas.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/operatorui.h"
#include "common/text.h"
#include "config/database.h"
#include "queries/preparation.h"

namespace veldra {

namespace {

const QString kDashes = QStringLiteral("------------------------------");

QString quoted(const QString& s) { return u'"' + DoubleQuotesForCsv(s) + u'"'; }

QStringList textSample(const ResultTable& r, const QString& sep)
{
    QStringList lines;
    QStringList header;
    for (const QString& name : r.names) header << quoted(name);
    lines << header.join(sep);
    for (const QStringList& row : r.rows) {
        QStringList values;
        for (const QString& v : row) values << quoted(v);
        lines << values.join(sep);
    }
    return lines;
}

QStringList xmlSample(const ResultTable& r)
{
    QStringList tags;
    for (const QString& name : r.names) tags << XmlNameForColumn(name);
    QStringList lines{QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), QStringLiteral("<Data>")};
    for (const QStringList& row : r.rows) {
        lines << QStringLiteral("\t<Row>");
        for (int i = 0; i < tags.size(); ++i)
            lines << QStringLiteral("\t\t<") + tags[i] + u'>' + EscapeTextForXml(row.value(i)) + QStringLiteral("</") +
                         tags[i] + u'>';
        lines << QStringLiteral("\t</Row>");
    }
    lines << QStringLiteral("</Data>");
    return lines;
}

QStringList jsonSample(const ResultTable& r)
{
    QStringList lines{QStringLiteral("{"), QStringLiteral("\t\"Data\": {"), QStringLiteral("\t\t\"Row\": [")};
    for (int row = 0; row < r.rows.size(); ++row) {
        lines << QStringLiteral("\t\t\t{");
        for (int i = 0; i < r.names.size(); ++i)
            lines << QStringLiteral("\t\t\t\t\"") + EscapeQuotesForJson(r.names[i]) + QStringLiteral("\": \"") +
                         EscapeQuotesForJson(r.rows[row].value(i)) +
                         (i + 1 < r.names.size() ? QStringLiteral("\",") : QStringLiteral("\""));
        lines << (row + 1 < r.rows.size() ? QStringLiteral("\t\t\t},") : QStringLiteral("\t\t\t}"));
    }
    lines << QStringLiteral("\t\t]") << QStringLiteral("\t}") << QStringLiteral("}");
    return lines;
}

}  // namespace

ResultTable readWholeResult(const DbParams& params, const QString& sql)
{
    ResultTable table;
    DbConnection connection(params);
    connection.onConnectionLost = [](DbConnection&) { return DbConnection::LostAnswer::Fail; };
    connection.connect();
    std::unique_ptr<DbResult> result;
    try {
        result = connection.openBuffered(sql);
    } catch (const DbError& e) {
        // Only a statement without rows fails here once it has run.
        if (e.typeName() == u"EDatabaseError" && e.code() == 0 && connection.connected()) return table;
        throw;
    }
    table.names = result->fieldNames();
    while (result->next()) {
        QStringList row;
        for (int i = 0; i < result->fieldCount(); ++i) row << result->value(i);
        table.rows << row;
    }
    return table;
}

const QList<SampleFormat>& sampleFormats()
{
    static const QList<SampleFormat> formats{
        {QStringLiteral("CSV[;]"), QStringLiteral("sample_csv_dot-with-coma.csv")},
        {QStringLiteral("CSV[,]"), QStringLiteral("sample_csv_coma.csv")},
        {QStringLiteral("TXT[TAB]"), QStringLiteral("sample_txt-tab.txt")},
        {QStringLiteral("XML"), QStringLiteral("sample_xml.xml")},
        {QStringLiteral("JSON"), QStringLiteral("sample_json.json")},
    };
    return formats;
}

QStringList sampleLines(const ResultTable& result, const QString& formatName)
{
    const QString f = formatName.toLower();
    if (f == u"csv[;]") return textSample(result, QStringLiteral(";"));
    if (f == u"csv[,]") return textSample(result, QStringLiteral(","));
    if (f == u"txt[tab]") return textSample(result, QStringLiteral("\t"));
    if (f == u"xml") return xmlSample(result);
    if (f == u"json") return jsonSample(result);
    return {};
}

void WriteSampleAnswers(const ResultTable& result, OperatorUi& ui)
{
    for (const SampleFormat& f : sampleFormats()) {
        const QString path = programFile(f.fileName);
        writeTextFile(path, sampleLines(result, f.formatName));
        ui.openWithItsProgram(path);
    }
}

void TestQuery(const QString& pathToQueriesPage, const QString& name, DatabaseConnections& databases,
               const DbParams& client, const DbParams& work, OperatorUi& ui, const std::function<void()>& showConnectTab)
{
    if (name.isEmpty()) return;
    databases.TestConnect(client, work);
    if (!trim(databases.errorAreaText()).isEmpty()) {
        ui.showMessage(QStringLiteral("There is problem with database(s)"));
        if (showConnectTab) showConnectTab();
        return;
    }
    QString message;
    try {
        const QString prepared = PreparatingQueryForTest(pathToQueriesPage, name);
        if (trim(prepared).isEmpty()) {
            message = QStringLiteral("EMPTY QUERY");
        } else {
            ResultTable table;
            bool failed = false;
            const DbParams params = databases.WorkData.params();
            try {
                ui.busyWhile([&] { table = readWholeResult(params, prepared); });
            } catch (...) {
                failed = true;
                message = QStringLiteral("WRONG QUERY\r ") + currentErrorDetails() + u'\r' + kDashes + u'\r';
            }
            if (!failed && (table.rows.isEmpty() || table.names.isEmpty()))
                message = QStringLiteral("RESULT QUERY IS EMPTY\r") + kDashes + u'\r';
            else if (!failed)
                WriteSampleAnswers(table, ui);
        }
    } catch (...) {
        message = QStringLiteral("TEST QUERY ") + currentErrorDetails();
    }
    if (!message.isEmpty()) ui.showMessage(message);
}

}  // namespace veldra
