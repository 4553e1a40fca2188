// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Preparation: a query function's template and one request's values become the SQL
// text that the work database runs.
//
// "{:name:}" is replaced by the final value of the input value `name`; a block from
// "<#name#>" to "<#/name#>" is removed whole when that value is one of the values
// listed for it. Each declared input value, in file order, goes through: request value
// or default, cleaning, number check, block removal, substitution. A value that came from
// the request is substituted as a MySQL string literal body (\ ' " and NUL escaped), and
// no later step reads it again, so a request cannot change the statement; default values
// are the operator's own SQL and go in as they stand.
#include <QDateTime>
#include <QList>
#include <functional>
#include <QString>

#include "config/serversettings.h"
#include "server/requeststeps.h"

namespace veldra {

// One parameter of the request: its name lower-cased and its value as decoded.
struct RequestParam {
    QString nameparam;
    QString value;
};

// The parameters of a parameter list ("<name[i]>..</name[i]><value[i]>..</value[i]>"
// and "<paramcount>N</paramcount>"); none when the count is not a whole number.
QList<RequestParam> requestParams(const QString& inputParameters);

// \ -> \\, ' -> \', " -> \", NUL -> \0.
QString escapeSqlValue(const QString& value);

// Removes every block "<#name#>" ... "<#/name#>". An opening marker without a closing
// marker after it ends the removal and leaves the rest of the text unchanged.
QString DeleteBlocksInQuery(const QString& text, const QString& name);

// The preparation proper, on the text of a function file (lines joined with CR LF).
// With `checkActive`, an inactive function gives the not-active text
// "<#msg>Function [" functionName "] is not actived !!!</#msg>". The error marker is
// looked for in the operator's text only: a request value is never read again, so
// placeholders and markers inside it stay its own text. Throws the conversion error of a
// boolean that does not convert, and ERangeError for a negative count or a prepared
// text beyond 16M characters.
PreparationResult prepareForRequest(const QString& fileText, const QString& functionName,
                                    const QString& inputParameters, bool checkActive);

// The request's preparation: reads queriesFolder/name.qr (throws FileError when it cannot
// be read), refuses an inactive function, and after a successful preparation hands the
// text to ShowLastPreparedQuery in the main thread without waiting for it.
PreparationResult PreparingQuery(const QString& queriesFolder, const QString& name, const QString& inputParameters);
// The same with the running settings' queries folder.
PreparationResult _PreparatingQuery(const QString& name, const QString& inputParameters,
                                    const TServerSettings& settings);

// TEST QUERY's preparation (main thread): the folder is the page value "Path to
// queries" (trimmed, "/" appended); inactive functions are prepared too; the "[LAST
// PREPARED QUERY]" text is always written.
QString PreparatingQueryForTest(const QString& pathToQueriesPage, const QString& name,
                                const QString& inputParameters = QString());

// The "[LAST PREPARED QUERY] - log last query" view's text, owned by the main thread.
// It keeps the last query prepared for a request, whichever page is on screen, so the
// view shows it whenever it is opened; the listener hears of each new text while the
// console says the view is on screen, and of every text the test preparation writes.
class LastPreparedQuery {
public:
    static LastPreparedQuery& instance();

    // Main thread only.
    void setOnScreen(bool onScreen) { m_onScreen = onScreen; }
    bool onScreen() const { return m_onScreen; }
    // The view's three lines; the stamp is the time the query was kept.
    QString text() const;
    // A whole view text (the test preparation); the listener hears of it at once.
    void setText(const QString& text);
    // A request's prepared query, kept with the current time; the listener hears of it
    // while the view is on screen.
    void keep(const QString& query);
    void setListener(std::function<void(const QString&)> listener) { m_listener = std::move(listener); }

private:
    bool m_onScreen = false;
    // Either a whole text, or a query and the time it was kept, made into the text
    // when it is read: a request costs the main thread no formatting while the view is
    // off screen.
    mutable QString m_text;
    mutable QString m_query;
    mutable qint64 m_keptAt = -1;  // ms since the epoch; -1: m_text is the text
    std::function<void(const QString&)> m_listener;
};

// "-- " time stamp, "-- ==============================", the query trimmed; separated by CR.
QString lastPreparedQueryView(const QString& query);
QString lastPreparedQueryView(const QString& query, const QDateTime& preparedAt);

// Main thread only: keeps the query as the last prepared one; the view, when it is on
// screen, shows its three lines at once.
void ShowLastPreparedQuery(const QString& query);

}  // namespace veldra
