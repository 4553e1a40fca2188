// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "common/files.h"
#include "monitor/headless.h"
#include "support/support.h"

using namespace veldra;

namespace {

using Action = HeadlessOptions::Action;

TEST(HeadlessOptionsTest, ParsesTheCommandLine)
{
    struct Case {
        QStringList args;
        Action action;
        QString folder;
    };
    const QList<Case> cases = {
        {{}, Action::Run, {}},
        {{"--help"}, Action::Help, {}},
        {{"-h"}, Action::Help, {}},
        {{"--version"}, Action::Version, {}},
        {{"--check"}, Action::Check, {}},
        {{"--folder", "/srv/v"}, Action::Run, "/srv/v"},
        {{"--folder=/srv/v", "--check"}, Action::Check, "/srv/v"},
        {{"--check", "--help"}, Action::Help, {}},
        {{"--version", "--bogus"}, Action::UsageError, {}},
        {{"--bogus"}, Action::UsageError, {}},
        {{"-x"}, Action::UsageError, {}},
        {{"extra"}, Action::UsageError, {}},
        {{"--folder"}, Action::UsageError, {}},
        {{"--folder="}, Action::UsageError, {}},
        {{"--folder", ""}, Action::UsageError, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const HeadlessOptions o = parseHeadlessOptions(c.args);
        EXPECT_EQ(o.action, c.action);
        EXPECT_EQ(o.folder, c.folder);
        EXPECT_EQ(o.error.isEmpty(), c.action != Action::UsageError);
    }
    EXPECT_EQ(parseHeadlessOptions({QStringLiteral("--bogus")}).error, QStringLiteral("unknown option --bogus"));
}

TEST(HeadlessOptionsTest, JournalPriorityComesFromTheRoutineAndItsFixedText)
{
    const QString at = QStringLiteral("[11.12.2026 13:00:00] \t");
    const QString peer = QStringLiteral("\tIP [127.0.0.1] \tSocketHandle [7]");
    struct Case {
        QString line;
        int priority;
    };
    const QList<Case> cases = {
        {at + "{httpserverGetThread} Client connected \tIP [1.2.3.4] \tCreating ThreadID [5], SocketHandle [7]", 6},
        {at + "{ClientExecute} Processing request from Client " + peer + "\tInput request [GET /Error?wrong=1 ]", 6},
        {at + "{ClientExecute} Was succesful sent answer for client !!! " + peer, 6},
        {at + "{ClientExecute} Data for client was sent from cache !!! " + peer, 6},
        {at + "{_SaveQueryAS} Result query is empty !!! " + peer, 6},
        {at + "{_SaveQueryAS} WrongQuery !!! " + peer + "\tSELECT x", 3},
        {at + "{ClientExecute} Query or result is wrong !!! " + peer, 3},
        {at + "{ClientExecute} Error prepared query ['x' is not a valid boolean value] !!! " + peer, 3},
        {at + "{ClientExecute} Error prepared query [Function [f] is not actived !!!] !!! " + peer, 4},
        {at + "{SendAnswerForClient[ShareListFunction]} Error in during send data for clien " + peer + "\tdetails", 3},
        {at + "{LoadListClientsAccess}  Error|msg = [EMySqlException : gone]", 3},
        {at + "{ClientExecute} Input request from Client is empty !!! " + peer, 4},
        {at + "{ClientExecute} Name request from Client is empty !!! " + peer, 4},
        {at + "{ClientExecute} Name request from Client not found !!! " + peer, 4},
        {at + "{SendAnswerForClient[AnswerForBlackList]} Msg was sent " + peer, 4},
        {at + "{SendAnswerForClient[ShareListFunction]} Msg was sent " + peer, 6},
        {at + "{TemplateCheck} Function [f] : input placeholders outside a quoted string ...", 4},
        {at + "{Output} 12 log lines were dropped: standard output did not take them ", 4},
        {at + "{Reload} Reloaded the client access lists (WHITE :: [1], BLACK :: [0]) and read 2 query function files again ", 6},
        {at + "{SocketClosing} Client clossing \tIP [1.2.3.4] \tSocketHandle [7] ", 6},
    };
    for (const Case& c : cases) EXPECT_EQ(journalPriority(c.line), c.priority) << c.line.toStdString();
}

TEST(HeadlessOptionsTest, CheckNamesEachProblemOnItsOwnLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString prog = dir.path();
    for (const char* sub : {"QUERIES", "LOGS"}) ASSERT_TRUE(QDir(prog).mkdir(QLatin1String(sub)));
    // Neither database listens; no cache folder although caching is on.
    const QString port = QString::number(test::freePort());
    writeTextFile(prog + QStringLiteral("/veldra.ini"),
                  {QStringLiteral("[main]"), QStringLiteral("path_to_queries=") + prog + QStringLiteral("/QUERIES"),
                   QStringLiteral("path_to_logs=") + prog + QStringLiteral("/LOGS"),
                   QStringLiteral("path_to_cache=") + prog + QStringLiteral("/CACHE"), QStringLiteral("enabled_caching=1"),
                   QStringLiteral("[connect_client_table]"), QStringLiteral("ip=127.0.0.1"), QStringLiteral("port=") + port,
                   QStringLiteral("[connect_work_data]"), QStringLiteral("ip=127.0.0.1"), QStringLiteral("port=") + port});
    writeTextFile(prog + QStringLiteral("/QUERIES/good.qr"),
                  {QStringLiteral("<#q_active>-1</#q_active><#q_count_input_values>0</#q_count_input_values>"),
                   QStringLiteral("<#q_content>SELECT 1</#q_content>")});
    writeTextFile(prog + QStringLiteral("/QUERIES/bad.qr"),
                  {QStringLiteral("<#q_count_input_values>1</#q_count_input_values><#q_in_Cleantext[1]>maybe</#q_in_Cleantext[1]>")});
    writeTextFile(prog + QStringLiteral("/QUERIES/open.qr"),
                  {QStringLiteral("<#q_count_input_values>1</#q_count_input_values><#q_in_name[1]>id</#q_in_name[1]>"
                                  "<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]><#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]>"
                                  "<#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>"),
                   QStringLiteral("<#q_content>SELECT * FROM t WHERE id = {:id:}</#q_content>")});
    setProgramFolder(prog);
    const CheckReport report = checkProgramFolder();
    setProgramFolder(QString());

    ASSERT_EQ(report.problems.size(), 4) << report.problems.join(u'\n').toStdString();
    EXPECT_EQ(report.problems[0],
              prog + QStringLiteral("/veldra.ini: Path to cache : in case enabled caching you have empty path or wrong."));
    EXPECT_TRUE(report.problems[1].startsWith(QStringLiteral("CLIENT DATA => Connect with [127.0.0.1 | user | database] failed: ")));
    EXPECT_TRUE(report.problems[2].startsWith(QStringLiteral("WORKING DATA => Connect with [127.0.0.1 | user | database] failed: ")));
    EXPECT_EQ(report.problems[3], prog + QStringLiteral("/QUERIES/bad.qr: EConvertError : 'maybe' is not a valid boolean value"));
    EXPECT_EQ(report.warnings,
              QStringList{prog + QStringLiteral("/QUERIES/open.qr: input placeholders outside a quoted string, not marked "
                                                "\"Float | integer value\": {:id:} (line 1)")});
    for (const QString& line : report.problems + report.warnings) EXPECT_FALSE(line.contains(u'\n') || line.contains(u'\r'));
}

}  // namespace
