// SPDX-License-Identifier: GPL-3.0-or-later
// The files the logs are saved to: owner-only whatever the umask, a link planted at the
// next predictable name replaced and never written through, and a full disk losing
// neither the lines on screen nor the file saved before.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "common/errors.h"
#include "common/eventlog.h"
#include "common/files.h"
#include "monitor/statistics.h"
#include "support/fullfilesystem.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

const QFile::Permissions kPrivate = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;

class LogFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        logs = dir.path() + QStringLiteral("/LOGS/");
        ASSERT_TRUE(QDir().mkdir(logs));
        victim = dir.filePath(QStringLiteral("victim"));
        putBytes(victim, "victim");
        m_mask = ::umask(022);
        setProgramFolder(dir.path());
    }
    void TearDown() override
    {
        ::umask(m_mask);
        setProgramFolder(QString());
    }
    // A link at `path` to the victim file.
    void plant(const QString& path) { ASSERT_TRUE(QFile::link(victim, path)); }
    void expectPrivateFile(const QString& path)
    {
        EXPECT_FALSE(QFileInfo(path).isSymLink()) << path.toStdString();
        EXPECT_TRUE(QFileInfo(path).isFile()) << path.toStdString();
        EXPECT_EQ(QFileInfo(path).permissions(), kPrivate) << path.toStdString();
        EXPECT_EQ(fileBytes(victim), QByteArray("victim"));
    }

    QTemporaryDir dir;
    QString logs, victim;
    EventLog log;
    QDateTime clock{QDate(2024, 3, 8), QTime(21, 12, 5)};
    mode_t m_mask = 0;
};

}  // namespace

TEST_F(LogFiles, SavedLogsArePrivateAndReplacePlantedLinks)
{
    const QString mainlog = logs + QStringLiteral("mainlog-08032024211205.log");
    plant(mainlog);
    log.startSizeCheck(1, logs, [this] { return clock; });
    log.append(QStringLiteral("<seccode>SECRET</seccode>"));
    log.append(QStringLiteral("second"));
    expectPrivateFile(mainlog);
    EXPECT_TRUE(fileBytes(mainlog).contains("SECRET"));

    RequestStatistics stats([this] { return clock; });
    const QString timelog = logs + QStringLiteral("timelog-08032024211205.log");
    plant(timelog);
    stats.saveTimeLog(logs);
    expectPrivateFile(timelog);

    ScriptedOperator ui;
    for (const char* name : {"MainLog.txt", "TimeLog.txt"}) plant(dir.filePath(QString::fromLatin1(name)));
    openMainLog(log, ui);
    stats.openTimeLog(ui);
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join('\n').toStdString();
    for (const char* name : {"MainLog.txt", "TimeLog.txt"}) expectPrivateFile(dir.filePath(QString::fromLatin1(name)));
}

TEST_F(LogFiles, AFullDiskKeepsTheLinesAndTheFileSavedBefore)
{
    const QString mainlog = logs + QStringLiteral("mainlog-08032024211205.log");
    log.startSizeCheck(3, logs, [this] { return clock; });
    for (int i = 0; i < 4; ++i) log.append(QString(2000, u'a'));
    const QByteArray saved = fileBytes(mainlog);
    ASSERT_GT(saved.size(), 8000);
    {
        const FileSizeLimit full(4096);
        for (int i = 0; i < 3; ++i) log.append(QString(2000, u'b'));
        try {
            log.append(QStringLiteral("the fourth"));
            ADD_FAILURE() << "the save did not fail";
        } catch (const FileError& e) {
            EXPECT_TRUE(e.message().contains(mainlog)) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(qt_error_string(EFBIG))) << e.message().toStdString();
        }
    }
    EXPECT_EQ(log.lines().size(), 4);
    EXPECT_EQ(fileBytes(mainlog), saved);
    EXPECT_EQ(folderEntries(logs), QStringList{QStringLiteral("mainlog-08032024211205.log")});
}
