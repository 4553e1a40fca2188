// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "common/files.h"
#include "queries/preparation.h"
#include "queries/queryfile.h"
#include "queries/sharelist.h"
#include "server/pipeline_fixture.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {


QueryEditorModel function(const QString& name, bool active, bool blocked, const QString& description = QString())
{
    QueryEditorModel m;
    m.name = name;
    m.active = active;
    m.blockedForShareList = blocked;
    m.description = description;
    m.query = QStringLiteral("SELECT 1");
    return m;
}

class ShareListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolder(dir.path());
        queries = dir.path() + QStringLiteral("/QUERIES");
        ASSERT_TRUE(QDir().mkdir(queries));
    }
    void TearDown() override { setProgramFolder(QString()); }

    QTemporaryDir dir;
    QString queries;
};

const QByteArray kRule = QByteArray(50, '-');

}  // namespace

TEST_F(ShareListTest, ListsActiveUnblockedFunctionsUnderTheirOwnName)
{
    SaveQueryFunction(queries, QStringLiteral("zeta"), function(QStringLiteral("Zeta"), true, false, QStringLiteral("one\ntwo\nthree")));
    SaveQueryFunction(queries, QStringLiteral("Beta"), function(QStringLiteral("published-beta"), true, false));
    SaveQueryFunction(queries, QStringLiteral("alpha"), function(QStringLiteral("alpha"), false, false, QStringLiteral("inactive")));
    SaveQueryFunction(queries, QStringLiteral("gamma"), function(QStringLiteral("gamma"), true, true, QStringLiteral("blocked")));
    CreateQueryFunction(queries, QStringLiteral("fresh"));  // new functions stay out

    QueryEditorModel editor = function(QStringLiteral("unsaved"), true, true);
    const ShareListOutcome out = CreateShareListFunctions(queries + QStringLiteral("  "), &editor);
    EXPECT_TRUE(out.written);
    EXPECT_EQ(out.message, QString());
    EXPECT_EQ(out.functionNames, (QStringList{QStringLiteral("alpha"), QStringLiteral("Beta"), QStringLiteral("fresh"),
                                              QStringLiteral("gamma"), QStringLiteral("zeta")}));
    EXPECT_EQ(editor.name, QStringLiteral("alpha"));  // the first function is loaded

    const QByteArray expected = "\xEF\xBB\xBF"
                                "----------------- [published-beta] -----------------\r\n"
                                "published-beta\r\n\r\n\r\n" + kRule + "\r\n\r\n\r\n"
                                "----------------- [Zeta] -----------------\r\n"
                                "Zeta\r\n\r\none\r\ntwo\r\nthree\r\n" + kRule + "\r\n\r\n\r\n";
    EXPECT_EQ(fileBytes(shareListFilePath()), expected);
    EXPECT_EQ(shareListFilePath(), dir.path() + QStringLiteral("/ListAndDescriptionShareFunction.txt"));
}

TEST_F(ShareListTest, NothingListedNothingFoundAndFailures)
{
    CreateQueryFunction(queries, QStringLiteral("fresh"));
    EXPECT_TRUE(CreateShareListFunctions(queries).written);
    EXPECT_EQ(fileBytes(shareListFilePath()), QByteArray("\xEF\xBB\xBF"));

    // The folder test fails: the message, and the file is not touched.
    for (const QString& bad : {QString(), QStringLiteral("  "), dir.path() + QStringLiteral("/missing")}) {
        const ShareListOutcome out = CreateShareListFunctions(bad);
        EXPECT_FALSE(out.written);
        EXPECT_EQ(out.message, QStringLiteral("The path to the output folder is empty or wrong !"));
    }
    // No function in the folder: nothing happens.
    QDir().mkdir(dir.path() + QStringLiteral("/empty"));
    const ShareListOutcome none = CreateShareListFunctions(dir.path() + QStringLiteral("/empty"));
    EXPECT_FALSE(none.written);
    EXPECT_EQ(none.message, QString());

    // The first function does not load: the error, and the file keeps its content.
    SaveQueryFunction(queries, QStringLiteral("ok"), function(QStringLiteral("ok"), true, false));
    QFile bad(queries + QStringLiteral("/aaa.qr"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("<#q_count_input_values>1</#q_count_input_values>");
    bad.close();
    const ShareListOutcome failed = CreateShareListFunctions(queries);
    EXPECT_FALSE(failed.written);
    EXPECT_EQ(failed.message,
              QStringLiteral("Create share list functions Error |  msg = [EConvertError : '' is not a valid boolean value]"));
    EXPECT_EQ(fileBytes(shareListFilePath()), QByteArray("\xEF\xBB\xBF"));
}

// Real function files and a real share-list file through the real listener.
namespace {

class FileSteps : public test::FakeSteps {
public:
    bool functionFileExists(const Request& r, const TServerSettings& s) override
    {
        return QFileInfo(queryFilePath(s.PathToQueries, r.name)).isFile();
    }
    PreparationResult prepareQuery(const Request& r, const TServerSettings& s) override
    {
        return _PreparatingQuery(r.name, r.parameters, s);
    }
};

}  // namespace

TEST_F(ShareListTest, RequestsReachTheFilesThroughTheListener)
{
    test::ScriptedOperator ui;
    FileSteps steps;
    FailureReporter failures(ui);
    ServerContext context(steps, failures);
    HttpServer server(context, [] {});
    TServerSettings s;
    s.PathToQueries = queries + u'/';
    s.FormatAnswer = QStringLiteral("JSON");
    s.NameFunctionForShareList = QStringLiteral("GetShareListDescriptionFunctions");
    context.settings.store(s);
    for (int attempt = 0; attempt < 20 && !server.isOpen(); ++attempt) {
        try {
            server.open(test::freePort());
        } catch (const Error&) {
        }
    }
    ASSERT_TRUE(server.isOpen());
    const quint16 port = server.port();
    const auto request = [port](const QByteArray& text) { return test::inWorker([&] { return test::exchange(port, text).bytes; }); };

    CreateQueryFunction(queries, QStringLiteral("off"));
    SaveQueryFunction(queries, QStringLiteral("shop"), function(QStringLiteral("shop"), true, false, QStringLiteral("Käse")));
    ASSERT_TRUE(CreateShareListFunctions(queries).written);

    EXPECT_EQ(request("GET /off HTTP/1.1\r\n\r\n"),
              test::errorBytes("Error in during preparing query (Function [off] is not actived !!!)"));
    EXPECT_EQ(request("GET /getsharelistdescriptionfunctions HTTP/1.1\r\n\r\n"),
              test::kPlainHeader + "----------------- [shop] -----------------\r\nshop\r\n\r\nK\xE4se\r\n" + kRule +
                  "\r\n\r\n\r\n");
    server.close();
    mainthread::servePending();
}
