// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "support/support.h"
#include "update/httpstub.h"
#include "update/versioncheck.h"

using namespace veldra;
using namespace veldra::test;

namespace {

const QString kOldMessage = QStringLiteral("You use old version program. Need do update program !!!");

struct CheckResult {
    bool button = false;
    QStringList messages;
};

// Runs one check to its end (30 s at most).
CheckResult check(const QString& baseUrl, const QString& version)
{
    ScriptedOperator ui;
    CheckResult r;
    VersionCheck vc;
    QEventLoop loop;
    QObject::connect(&vc, &VersionCheck::done, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    vc.start(baseUrl, version, ui, [&] {
        r.button = true;
        EXPECT_TRUE(ui.messages.isEmpty()) << "the button comes before the message";
    });
    if (!vc.finished()) loop.exec();
    EXPECT_TRUE(vc.finished());
    r.messages = ui.messages;
    return r;
}

}  // namespace

TEST(VersionCheck, FirstLineOfHistory)
{
    struct Case {
        QByteArray head;
        bool announced;
    };
    const QByteArray padding(120, 'x');
    const Case cases[] = {
        {"\"VELDRA\" 1.2.12 released\r\n- fixes\n", false},
        {"\"VELDRA\" 1.2.13 released\r\n\"VELDRA\" 1.2.12 released\n", true},
        {"\"VELDRA\" 1.2.11 released\nolder\n", true},     // older names another version too
        {"\"VELDRA\" 1.2.12 released", false},             // no line feed
        {"   \r\n\"VELDRA\" 1.2.13 released\n", false},     // blank first line
        {"  \"VELDRA\" 1.2.13 released  \nolder", true},     // blanks trimmed around
        {"\"VELDRA\" 1.2.120 released\nolder", true},
        {"\"VELDRA\" 1.2.13 released\r\n", false},          // the text is trimmed first: no line feed left
        {"\"veldra\" 1.2.12 released\nolder", true},        // letter case counts
        {padding + "\n", false},                            // line feed beyond the 101 bytes
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(historyAnnouncesOtherVersion(c.head, QStringLiteral("1.2.12")), c.announced) << c.head.constData();
}

TEST(VersionCheck, AsksTheHistoryAndReportsOnlyAnotherVersion)
{
    struct Case {
        StubResponse response;
        bool report;
    };
    const Case cases[] = {
        {{200, "\"VELDRA\" 1.2.12 released\r\nolder lines\r\n"}, false},
        {{200, "\"VELDRA\" 1.2.13 released\r\n\"VELDRA\" 1.2.12 released\r\n"}, true},
        {{200, "\"VELDRA\" 1.2.13 released"}, false},  // one line, no line feed
        {{200, QByteArray("\"VELDRA\" 1.2.13 released\n") + QByteArray(100000, 'h')}, true},  // long history
        {{404, "<html>Not found</html>\n"}, false},    // an error page is no history
        {{500, "\"VELDRA\" 1.2.13 released\n"}, false},
    };
    for (const Case& c : cases) {
        HttpStub stub;
        stub.route(kHistoryPath, c.response);
        const CheckResult r = check(stub.baseUrl(), QStringLiteral("1.2.12"));
        EXPECT_EQ(r.button, c.report) << c.response.body.left(30).constData();
        EXPECT_EQ(r.messages, c.report ? QStringList{kOldMessage} : QStringList{});
        ASSERT_EQ(stub.paths.size(), 1);
        EXPECT_EQ(stub.userAgents.value(0), QByteArray("TarnwickUpload"));
    }
}

TEST(VersionCheck, UnreachableOrUnsetServerIsSilentAndQuick)
{
    quint16 port = 0;
    {
        HttpStub gone;  // a port that just stopped listening
        port = QUrl(gone.baseUrl()).port();
    }
    for (const QString& base : {QStringLiteral("http://127.0.0.1:%1").arg(port), QString(),
                                QStringLiteral("ftp://127.0.0.1/"), QStringLiteral("not a url")}) {
        QElapsedTimer t;
        t.start();
        const CheckResult r = check(base, QStringLiteral("1.2.12"));
        EXPECT_FALSE(r.button) << base.toStdString();
        EXPECT_TRUE(r.messages.isEmpty());
        EXPECT_LT(t.elapsed(), 5000) << "no wait beyond the failed request";
    }
}

TEST(VersionCheck, Addresses)
{
    EXPECT_EQ(versionHistoryUrl(QStringLiteral("http://h:8080/")).toString(),
              QStringLiteral("http://h:8080/download/versionhistoryforveldra.txt"));
    EXPECT_EQ(programFileUrl(QStringLiteral("http://h/base")).toString(),
              QStringLiteral("http://h/base/services/apps/veldra/Veldra.exe"));
}
