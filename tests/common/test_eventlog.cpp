// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "common/errors.h"
#include "common/eventlog.h"
#include "common/files.h"
#include "support/support.h"

using namespace veldra;

namespace {

class EventLogFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        logs = dir.path() + QStringLiteral("/LOGS/");
        QDir().mkdir(logs);
    }
    QStringList savedFiles() const { return QDir(logs).entryList(QDir::Files); }
    void appendN(int n, const QString& prefix)
    {
        for (int i = 1; i <= n; ++i) log.append(prefix + QString::number(i));
    }

    QTemporaryDir dir;
    QString logs;
    EventLog log;
    QDateTime clock{QDate(2024, 3, 8), QTime(21, 12, 5)};
};

}  // namespace

TEST_F(EventLogFiles, SavesAndEmptiesWhenTheLimitIsExceeded)
{
    int cleared = 0;
    log.addClearedListener([&] { ++cleared; });
    log.startSizeCheck(3, logs, [this] { return clock; });
    appendN(3, QStringLiteral("a\t"));
    EXPECT_EQ(log.lines().size(), 3);
    EXPECT_TRUE(savedFiles().isEmpty());
    log.append(QStringLiteral("a\t4"));
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_EQ(cleared, 1);
    ASSERT_EQ(savedFiles(), QStringList{QStringLiteral("mainlog-08032024211205.log")});
    const QString file = logs + QStringLiteral("mainlog-08032024211205.log");
    EXPECT_EQ(readFileBytes(file), QByteArray("\xEF\xBB\xBF" "a\t1\r\na\t2\r\na\t3\r\na\t4\r\n"));

    // A second save in the same second replaces the first file.
    appendN(4, QStringLiteral("b"));
    EXPECT_EQ(savedFiles().size(), 1);
    EXPECT_EQ(readTextFileLines(file), (QStringList{QStringLiteral("b1"), QStringLiteral("b2"), QStringLiteral("b3"), QStringLiteral("b4")}));

    // The operator's typing is a change too.
    clock = clock.addSecs(1);
    log.replaceLines({QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"), QStringLiteral("w")});
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_EQ(savedFiles().size(), 2);
}

// Requests of 63 KiB: the log is saved once its lines hold the byte budget, long
// before the line limit, and what it holds is counted as allocated.
TEST_F(EventLogFiles, SavesWhenTheLinesHoldTheByteBudget)
{
    const QString request(63 * 1024, u'x');
    const qsizetype perLine = logLineMemory(request);
    EXPECT_GE(perLine, 2 * request.size());
    log.setByteBudget(10 * perLine);
    log.startSizeCheck(50000, logs, [this] { return clock; });
    for (int i = 0; i < 9; ++i) log.append(request);
    EXPECT_EQ(log.lines().size(), 9);
    EXPECT_EQ(log.bytesHeld(), 9 * perLine);
    EXPECT_TRUE(savedFiles().isEmpty());
    log.append(request);
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_EQ(log.bytesHeld(), 0);
    ASSERT_EQ(savedFiles().size(), 1);
    EXPECT_EQ(readTextFileLines(logs + savedFiles()[0]).size(), 10);

    // A short line cut from a large text holds only its own characters.
    QString big(1024 * 1024, u'y');
    big.truncate(10);
    log.append(big);
    EXPECT_LT(log.bytesHeld(), 200);
    // The operator's whole text is counted afresh.
    log.replaceLines(QStringList(9, request));
    EXPECT_EQ(log.bytesHeld(), 9 * perLine);
    log.clear();
    EXPECT_EQ(log.bytesHeld(), 0);
    EXPECT_EQ(kLogByteBudget, 32 * 1024 * 1024);
}

TEST_F(EventLogFiles, LinesAccumulateWhileStoppedAndAreSavedAfterStart)
{
    log.startSizeCheck(3, logs, [this] { return clock; });
    log.stopSizeCheck();
    appendN(100000, QStringLiteral("line "));
    EXPECT_EQ(log.lines().size(), 100000);
    EXPECT_TRUE(savedFiles().isEmpty());

    log.startSizeCheck(50000, logs, [this] { return clock; });
    log.append(QStringLiteral("first after START"));
    EXPECT_TRUE(log.lines().isEmpty());
    const QStringList saved = readTextFileLines(logs + savedFiles().value(0));
    EXPECT_EQ(saved.size(), 100001);
    EXPECT_EQ(saved.last(), QStringLiteral("first after START"));
}

TEST_F(EventLogFiles, AFailedSaveReachesTheWriterAndKeepsTheLines)
{
    log.startSizeCheck(2, dir.path() + QStringLiteral("/gone/"), [this] { return clock; });
    appendN(2, QStringLiteral("l"));
    EXPECT_THROW(log.append(QStringLiteral("l3")), FileError);
    EXPECT_EQ(log.lines().size(), 3);
    QDir().mkdir(dir.path() + QStringLiteral("/gone"));
    log.append(QStringLiteral("l4"));
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_EQ(readTextFileLines(dir.path() + QStringLiteral("/gone/mainlog-08032024211205.log")).size(), 4);
}

TEST(EventLogLogger, LinesOfOtherThreadsArriveInOrderAndAFailedSaveReachesTheHandler)
{
    QTemporaryDir dir;
    EventLog& log = EventLog::instance();
    log.clear();
    QStringList failures;
    log.setHandOverFailureHandler([&](const QString& message) { failures << message; });
    log.startSizeCheck(2, dir.path() + QStringLiteral("/gone/"));
    // the thread does not wait for the main thread
    test::inWorker([] {
        for (int i = 1; i <= 3; ++i) Logger(QStringLiteral("line %1").arg(i));
        return 0;
    });
    log.stopSizeCheck();
    log.setHandOverFailureHandler({});
    EXPECT_EQ(log.lines(), QStringList({QStringLiteral("line 1"), QStringLiteral("line 2"), QStringLiteral("line 3")}));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].contains(QLatin1String("gone"))) << failures[0].toStdString();
    log.clear();
}

TEST(EventLogMainLog, WritesMainLogTxtAndOpensIt)
{
    QTemporaryDir dir;
    setProgramFolder(dir.path());
    test::ScriptedOperator ui;
    EventLog log;
    openMainLog(log, ui);
    const QString path = dir.path() + QStringLiteral("/MainLog.txt");
    EXPECT_EQ(readFileBytes(path), QByteArray("\xEF\xBB\xBF"));
    EXPECT_EQ(ui.opened, QStringList{path});

    log.append(QStringLiteral("one\ttab"));
    openMainLog(log, ui);
    EXPECT_EQ(readFileBytes(path), QByteArray("\xEF\xBB\xBF" "one\ttab\r\n"));
    EXPECT_EQ(log.lines().size(), 1);  // not cleared

    setProgramFolder(dir.path() + QStringLiteral("/missing"));
    openMainLog(log, ui);
    EXPECT_EQ(ui.opened.size(), 2);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages[0].startsWith(QStringLiteral("Error |  msg = [EFileError : "))) << ui.messages[0].toStdString();
    setProgramFolder(QString());
}

TEST(EventLogLineLimit, LongLinesAreCutAtTheLimitAndMarked)
{
    const qsizetype max = kMaxLogLineBytes;
    const QString emoji = QStringLiteral(u"\U0001F600");  // four UTF-8 bytes, two code units
    struct Case {
        QString line;
        bool cut;
    };
    const QList<Case> cases = {
        {QString(max, u'a'), false},
        {QString(max + 1, u'a'), true},
        {QString(max / 2, QChar(0x00E9)), false},  // two bytes each: exactly the limit
        {QString(max / 2, QChar(0x00E9)) + u'a', true},
        {QString(max / 3 + 1, QChar(0x4E2D)), true},  // three bytes each
        {emoji.repeated(max / 4 + 1), true},
        {QString(max - 1, u'a') + emoji, true},
        {QStringLiteral("x\ty").repeated(100), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.size());
        const QString out = logLineWithinLimit(c.line);
        EXPECT_LE(out.toUtf8().size(), max);
        if (!c.cut) {
            EXPECT_EQ(out, c.line);
            continue;
        }
        const QString mark = QStringLiteral(" [... cut: the line had %1 characters]").arg(c.line.size());
        ASSERT_TRUE(out.endsWith(mark)) << out.right(60).toStdString();
        const QString kept = out.chopped(mark.size());
        EXPECT_TRUE(c.line.startsWith(kept));
        EXPECT_GT(kept.toUtf8().size(), max - mark.size() - 4);  // cut at the limit, not before
        EXPECT_FALSE(kept.endsWith(QChar(0xD83D)));             // no half character
    }
}

TEST_F(EventLogFiles, NoLongLineEntersTheLogOrItsFiles)
{
    QStringList shown;
    log.addListener([&](const QString& l) { shown << l; });
    log.startSizeCheck(1, logs, [this] { return clock; });
    log.append(QString(3 * kMaxLogLineBytes, u'x'));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_LE(shown[0].size(), kMaxLogLineBytes);
    EXPECT_TRUE(shown[0].endsWith(QStringLiteral("characters]")));
    log.append(QStringLiteral("next"));
    const QStringList saved = readTextFileLines(logs + savedFiles().value(0));
    ASSERT_EQ(saved.size(), 2);
    EXPECT_EQ(saved[0], shown[0]);

    // The operator's typing is held to the same limit.
    log.stopSizeCheck();
    log.replaceLines({QString(kMaxLogLineBytes + 5, u'y'), QStringLiteral("short")});
    EXPECT_LE(log.lines()[0].toUtf8().size(), kMaxLogLineBytes);
    EXPECT_EQ(log.lines()[1], QStringLiteral("short"));
}
