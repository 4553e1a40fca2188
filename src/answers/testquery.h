// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TEST QUERY of the editor: the selected function prepared with its default values and
// run on the work database; a result with rows is written in the five answer formats to
// sample files in the program folder, each opened with its program.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "common/answerformat.h"
#include "db/dbconnection.h"

namespace veldra {

class DatabaseConnections;
class OperatorUi;

// A result read whole: its column names and its rows of value texts.
struct ResultTable {
    QStringList names;
    QList<QStringList> rows;
};

// Runs `sql` on a connection of its own made with `params` and reads every row. A
// statement without a result set has run and gives a table without columns.
ResultTable readWholeResult(const DbParams& params, const QString& sql);

// The sample files in their order: the format each holds and its name in the program folder.
struct SampleFormat {
    AnswerFormat format;
    QString fileName;
};
const QList<SampleFormat>& sampleFormats();

// One sample in UTF-8, through the format's writer: every line ended by CR LF, no
// HTTP header, no "empty" or "statusText", values never shortened.
QByteArray sampleBody(const ResultTable& result, AnswerFormat format);

// Writes the five sample files (UTF-8 with byte-order mark, CR LF after every line) to
// the program folder and opens each with its program, in order. Throws FileError on a
// failed write; the formats after it are not written.
void WriteSampleAnswers(const ResultTable& result, OperatorUi& ui);

// TEST QUERY for the function `name` (nothing when it is empty): TEST CONNECT with the
// two parameter sets; on a database problem "There is problem with database(s)" and
// `showConnectTab`; then the test preparation, "EMPTY QUERY", the statement (with the
// window kept repainting), "RESULT QUERY IS EMPTY", "WRONG QUERY" with the error, or
// the samples.
void TestQuery(const QString& pathToQueriesPage, const QString& name, DatabaseConnections& databases,
               const DbParams& client, const DbParams& work, OperatorUi& ui, const std::function<void()>& showConnectTab);

}  // namespace veldra
