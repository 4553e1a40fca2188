// SPDX-License-Identifier: GPL-3.0-or-later
#include "answers/testquery.h"

#include <vector>

#include "answers/answerwriters.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/text.h"
#include "config/database.h"
#include "queries/preparation.h"

namespace veldra {

namespace {

const QString kDashes = QStringLiteral("------------------------------");

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
        {AnswerFormat::CsvSemicolon, QStringLiteral("sample_csv_dot-with-coma.csv")},
        {AnswerFormat::CsvComma, QStringLiteral("sample_csv_coma.csv")},
        {AnswerFormat::TxtTab, QStringLiteral("sample_txt-tab.txt")},
        {AnswerFormat::Xml, QStringLiteral("sample_xml.xml")},
        {AnswerFormat::Json, QStringLiteral("sample_json.json")},
    };
    return formats;
}

QByteArray sampleBody(const ResultTable& result, AnswerFormat format)
{
    QByteArray body;
    const std::unique_ptr<AnswerWriter> writer = makeAnswerWriter(format, WriterStyle::Sample);
    writer->begin(body, result.names);
    std::vector<CellValue> values;
    for (const QStringList& row : result.rows) {
        values.assign(row.begin(), row.end());
        writer->row(body, values);
    }
    writer->end(body);
    return body;
}

void WriteSampleAnswers(const ResultTable& result, OperatorUi& ui)
{
    for (const SampleFormat& f : sampleFormats()) {
        const QString path = programFile(f.fileName);
        writeFileAtomically(path, QByteArray("\xEF\xBB\xBF") + sampleBody(result, f.format));
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
                mainthread::runLongWait(QStringLiteral("Running the query ..."),
                                        [&] { table = readWholeResult(params, prepared); });
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
