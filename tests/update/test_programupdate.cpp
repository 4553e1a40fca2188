// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "support/support.h"
#include "update/httpstub.h"
#include "update/programupdate.h"

using namespace veldra;
using namespace veldra::test;

namespace {

const QString kError = QStringLiteral("Error downloading the file. If necessary, try again !");

// An ELF program's first bytes and some more.
QByteArray elfBody(int size)
{
    QByteArray b("\x7F" "ELF\x02\x01\x01");
    while (b.size() < size) b += char('a' + b.size() % 26);
    return b;
}

// A program folder holding a running "veldra", a web server, and the window's side.
class ProgramUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        putBytes(path(QStringLiteral("veldra")), "running program");
        target = {stub.baseUrl(), dir.path(), path(QStringLiteral("veldra")), false};
        hooks.serverRunning = [this] { return running; };
        hooks.setBusy = [this](bool on) { busyChanges << on; };
        hooks.setCaption = [this](const QString& c) { captions << c; };
        hooks.runScript = [this](const QString& s) {
            startedScripts << s;
            return true;
        };
        hooks.closeWindow = [this] { ++closed; };
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    bool exists(const QString& name) const { return QFileInfo::exists(path(name)); }
    UpdateOutcome run(int limitMs = 300000) { return runProgramUpdate(target, ui, hooks, limitMs); }

    // A refused or failed update: the running program untouched, no script, the window back.
    void expectNoSwap()
    {
        EXPECT_EQ(fileBytes(path(QStringLiteral("veldra"))), QByteArray("running program"));
        EXPECT_FALSE(exists(QStringLiteral("UpdProgrVeldra.sh")));
        EXPECT_TRUE(startedScripts.isEmpty());
        EXPECT_EQ(closed, 0);
        if (!busyChanges.isEmpty()) {
            EXPECT_FALSE(busyChanges.last());
        }
    }

    QTemporaryDir dir;
    HttpStub stub;
    ScriptedOperator ui;
    UpdateTarget target;
    UpdateHooks hooks;
    bool running = false;
    QList<bool> busyChanges;
    QStringList captions, startedScripts;
    int closed = 0;
};

}  // namespace

TEST_F(ProgramUpdate, RefusedWhileRunningDeclinedOrInstalled)
{
    stub.route(kProgramPath, {200, elfBody(5000)});

    running = true;
    EXPECT_EQ(run(), UpdateOutcome::ServerRunning);
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral(
                               "You can not to update the program, because server is working (first need do stop server) !!!")});
    EXPECT_TRUE(ui.questions.isEmpty());

    running = false;
    ui.answerYes = false;
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    ASSERT_EQ(ui.questions.size(), 1);
    EXPECT_TRUE(ui.questions[0].endsWith(QStringLiteral("this version of the file will rename in file [old_veldra]) ?")));

    target.installedCopy = true;
    ui.answerYes = true;
    ui.messages.clear();
    EXPECT_EQ(run(), UpdateOutcome::PackageManaged);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages[0].contains(QStringLiteral("package manager")));

    EXPECT_TRUE(stub.paths.isEmpty()) << "nothing downloaded";
    EXPECT_FALSE(exists(QStringLiteral("new_veldra")));
    EXPECT_TRUE(busyChanges.isEmpty());
    expectNoSwap();
}

TEST_F(ProgramUpdate, CompleteDownloadWritesTheScriptAndEnds)
{
    const QByteArray body = elfBody(3000);
    stub.route(kProgramPath, {200, body});
    EXPECT_EQ(run(), UpdateOutcome::Started);

    EXPECT_EQ(stub.paths, QList<QByteArray>{kProgramPath});
    EXPECT_EQ(stub.userAgents.value(0), QByteArray("TarnwickUpload"));
    EXPECT_EQ(fileBytes(path(QStringLiteral("new_veldra"))), body);
    EXPECT_EQ(fileBytes(path(QStringLiteral("veldra"))), QByteArray("running program")) << "the script swaps, later";
    EXPECT_EQ(captions.value(captions.size() - 1), QStringLiteral("Load 2 KB "));
    EXPECT_EQ(busyChanges, (QList<bool>{true, false}));
    EXPECT_EQ(startedScripts, QStringList{path(QStringLiteral("UpdProgrVeldra.sh"))});
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(ui.messages.isEmpty());

    const QString script = path(QStringLiteral("UpdProgrVeldra.sh"));
    EXPECT_TRUE(QFileInfo(script).isExecutable());
    const QByteArray bytes = fileBytes(script);
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_TRUE(bytes.endsWith('\n'));
    const QStringList expected{
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("# Swaps in the downloaded program file and starts it (written by the program's update)."),
        QStringLiteral("cd -- '%1' || exit 1").arg(dir.path()),
        QStringLiteral("printf '%s\\n' 'PAUSE 5 sec.'"),
        QStringLiteral("sleep \"${1:-5}\""),
        QStringLiteral("printf '%s\\n' '....................................'"),
        QStringLiteral("if [ ! -f 'new_veldra' ]; then"),
        QStringLiteral("  printf '%s\\n' 'FILE_NOT_FOUND new_veldra'"),
        QStringLiteral("  exit 1"),
        QStringLiteral("fi"),
        QStringLiteral("if [ -e 'veldra' ]; then"),
        QStringLiteral("  printf '%s\\n' 'RENAME_OLD_FILE veldra TO old_veldra'"),
        QStringLiteral("  rm -f -- 'old_veldra'"),
        QStringLiteral("  mv -- 'veldra' 'old_veldra' || exit 1"),
        QStringLiteral("  printf '%s\\n' '....................................'"),
        QStringLiteral("fi"),
        QStringLiteral("printf '%s\\n' 'RENAME_NEW_FILE new_veldra TO veldra'"),
        QStringLiteral("mv -- 'new_veldra' 'veldra' || { mv -- 'old_veldra' 'veldra'; exit 1; }"),
        QStringLiteral("chmod +x -- 'veldra'"),
        QStringLiteral("printf '%s\\n' '....................................'"),
        QStringLiteral("printf '%s\\n' 'RUN_PROGRAM veldra'"),
        QStringLiteral("nohup './veldra' </dev/null >/dev/null 2>&1 &"),
        QStringLiteral("exit 0"),
    };
    EXPECT_EQ(QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts), expected);
}

TEST_F(ProgramUpdate, IncompleteOrWrongDownloadKeepsTheProgram)
{
    struct Case {
        const char* what;
        StubResponse response;
    };
    const QByteArray elf = elfBody(4000);
    const Case cases[] = {
        {"status 404", {404, elf}},
        {"body cut short", {200, elf, elf.size() + 1000}},
        {"not a program", {200, QByteArray("<html>maintenance</html>") + QByteArray(3000, ' ')}},
        {"empty body", {200, QByteArray()}},
        {"empty, no length", {200, QByteArray(), -2}},
        // without a length, a closed connection may have cut the body anywhere
        {"no length", {200, elf, -2}},
        {"chunked without its last chunk", {200, elf, -1, false, true, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stub.route(kProgramPath, c.response);
        ui.messages.clear();
        EXPECT_EQ(run(), UpdateOutcome::DownloadFailed);
        EXPECT_EQ(ui.messages, QStringList{kError});
        expectNoSwap();
    }
}

TEST_F(ProgramUpdate, ChunkedDownloadWithItsLastChunkIsComplete)
{
    const QByteArray body = elfBody(4500);
    stub.route(kProgramPath, {200, body, -1, false, true});
    EXPECT_EQ(run(), UpdateOutcome::Started);
    EXPECT_EQ(fileBytes(path(QStringLiteral("new_veldra"))), body);
}

// A build with a public key swaps in only a program file whose detached signature,
// fetched beside it, is valid for that key.
TEST_F(ProgramUpdate, SignedBuildsSwapOnlySignedPrograms)
{
    ASSERT_TRUE(signaturesSupported());
    const SigningKeys keys = generateSigningKeys();
    const SigningKeys other = generateSigningKeys();
    target.publicKey = keys.publicKey;
    const QByteArray body = elfBody(5000);
    const QByteArray sigPath = kProgramPath + ".sig";
    const QByteArray good = signDetached(body, keys.secretKey);
    QByteArray tampered = body;
    tampered[100] = 'X';
    const struct {
        const char* what;
        QByteArray program;
        StubResponse signature;
        bool swapped;
    } cases[] = {
        {"valid", body, {200, good}, true},
        {"valid, as hex", body, {200, good.toHex() + "\n"}, true},
        {"no signature", body, {404, "not here"}, false},
        {"changed on the way", tampered, {200, good}, false},
        {"signed by another key", body, {200, signDetached(body, other.secretKey)}, false},
        {"signature cut short", body, {200, good, good.size() + 10}, false},
        {"not a signature", body, {200, "hello"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        stub.route(kProgramPath, {200, c.program});
        stub.route(sigPath, c.signature);
        stub.paths.clear();
        ui.messages.clear();
        startedScripts.clear();
        closed = 0;
        QFile::remove(path(QStringLiteral("UpdProgrVeldra.sh")));
        if (c.swapped) {
            EXPECT_EQ(run(), UpdateOutcome::Started);
            EXPECT_TRUE(ui.messages.isEmpty());
            EXPECT_EQ(fileBytes(path(QStringLiteral("new_veldra"))), c.program);
        } else {
            EXPECT_EQ(run(), UpdateOutcome::DownloadFailed);
            EXPECT_EQ(ui.messages, QStringList{QStringLiteral(
                                       "The downloaded program file has no valid signature: it was not swapped in.")});
            EXPECT_FALSE(exists(QStringLiteral("new_veldra"))) << "nothing a later swap could take";
            expectNoSwap();
        }
        EXPECT_EQ(stub.paths, (QList<QByteArray>{kProgramPath, sigPath}));
    }
}

TEST_F(ProgramUpdate, DownloadOverItsTimeLimitStops)
{
    stub.route(kProgramPath, {200, elfBody(5000), -1, true});
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(run(2000), UpdateOutcome::TimedOut);  // the first bytes come well within it
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral(
                               "Large time interval download file, perhaps :\r- no internet\r- incorrect internet "
                               "connection settings")});
    EXPECT_EQ(captions.value(0), QStringLiteral("Load 0 KB ")) << "the bytes that came are counted";
    EXPECT_TRUE(exists(QStringLiteral("new_veldra"))) << "the partial file stays";
    expectNoSwap();
}

TEST_F(ProgramUpdate, UnwritableProgramFolderIsReported)
{
    stub.route(kProgramPath, {200, elfBody(100)});
    target.programFolder = path(QStringLiteral("missing"));
    EXPECT_EQ(run(), UpdateOutcome::FileFailed);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages[0].startsWith(QStringLiteral("Cannot create file")));
    EXPECT_TRUE(stub.paths.isEmpty());
    expectNoSwap();
}

TEST(ProgramUpdateCheck, WhatCountsAsACompleteProgram)
{
    const QByteArray elf("\x7F" "ELF");
    EXPECT_TRUE(isCompleteProgramFile(200, 10, 10, false, elf));
    EXPECT_TRUE(isCompleteProgramFile(200, 10, -1, true, elf));    // chunked, with its last chunk
    EXPECT_FALSE(isCompleteProgramFile(200, 10, -1, false, elf));  // no length: maybe cut
    EXPECT_FALSE(isCompleteProgramFile(200, 9, 10, false, elf));
    EXPECT_FALSE(isCompleteProgramFile(200, 11, 10, false, elf));
    EXPECT_FALSE(isCompleteProgramFile(206, 10, 10, false, elf));
    EXPECT_FALSE(isCompleteProgramFile(200, 0, -1, true, QByteArray()));
    EXPECT_FALSE(isCompleteProgramFile(200, 10, 10, false, "\x7F" "EL"));
    EXPECT_FALSE(isCompleteProgramFile(200, 10, 10, false, "MZ\x90\x00"));
}

// Names that the shell would read as commands or cut stay names: the script runs no
// text of a name, and swaps in its own folder only, even beside a folder whose name
// differs by a trailing line feed.
TEST(SwapScript, NamesAreOnlyNames)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("prog"));
    const QString folder = base + u'\n';
    ASSERT_TRUE(QDir().mkpath(base));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString name = QStringLiteral("veldra$(touch INJECTED)'\"`touch TICKS`\\c");
    for (const QString& f : {base, folder}) {
        putBytes(f + u'/' + name, "#!/bin/sh\n");
        putBytes(f + QStringLiteral("/new_") + name, "#!/bin/sh\n# new\n");
    }
    const QString script = writeSwapScript(folder, name);
    QProcess sh;
    sh.setWorkingDirectory(dir.path());
    sh.start(QStringLiteral("/bin/sh"), {script, QStringLiteral("0")});
    ASSERT_TRUE(sh.waitForFinished(20000));
    EXPECT_EQ(sh.exitCode(), 0) << sh.readAllStandardError().constData();
    EXPECT_TRUE(sh.readAllStandardOutput().contains(("RUN_PROGRAM " + name + "\n").toUtf8()));
    for (const QString& f : {base, folder, dir.path()}) {
        EXPECT_FALSE(QFileInfo::exists(f + QStringLiteral("/INJECTED")));
        EXPECT_FALSE(QFileInfo::exists(f + QStringLiteral("/TICKS")));
    }
    EXPECT_TRUE(fileBytes(folder + u'/' + name).contains("# new"));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/new_") + name));
    EXPECT_TRUE(QFileInfo::exists(base + QStringLiteral("/new_") + name)) << "the folder beside is untouched";
    EXPECT_FALSE(fileBytes(base + u'/' + name).contains("# new"));
}

// The script itself, in a program folder of its own with stand-in programs.
TEST(SwapScript, SwapsTheProgramsAndStartsTheNewOne)
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    auto standIn = [&](const QString& name, const QByteArray& word) {
        putBytes(folder + u'/' + name, "#!/bin/sh\necho " + word + " > \"$(dirname \"$0\")/started-by\"\n");
    };
    standIn(QStringLiteral("veldra"), "old");
    QFile(folder + QStringLiteral("/veldra")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    standIn(QStringLiteral("new_veldra"), "new");  // downloaded: no run bit yet
    putBytes(folder + QStringLiteral("/old_veldra"), "an older one");
    const QString script = writeSwapScript(folder, QStringLiteral("veldra"));

    QProcess sh;
    sh.setWorkingDirectory(QDir::tempPath());  // the script finds its own folder
    sh.start(QStringLiteral("/bin/sh"), {script, QStringLiteral("0")});
    ASSERT_TRUE(sh.waitForFinished(20000));
    EXPECT_EQ(sh.exitCode(), 0) << sh.readAllStandardError().constData();
    const QByteArray out = sh.readAllStandardOutput();
    EXPECT_TRUE(out.contains("RENAME_OLD_FILE veldra TO old_veldra\n"));
    EXPECT_TRUE(out.contains("RUN_PROGRAM veldra\n"));

    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/new_veldra")));
    EXPECT_TRUE(fileBytes(folder + QStringLiteral("/old_veldra")).contains("echo old"));
    EXPECT_TRUE(fileBytes(folder + QStringLiteral("/veldra")).contains("echo new"));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/veldra")).isExecutable());
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(folder + QStringLiteral("/started-by")) && t.elapsed() < 10000) QThread::msleep(20);
    EXPECT_EQ(fileBytes(folder + QStringLiteral("/started-by")), QByteArray("new\n"));

    // run again without a downloaded file: reported, nothing moved
    sh.start(QStringLiteral("/bin/sh"), {script, QStringLiteral("0")});
    ASSERT_TRUE(sh.waitForFinished(20000));
    EXPECT_NE(sh.exitCode(), 0);
    EXPECT_TRUE(sh.readAllStandardOutput().contains("FILE_NOT_FOUND new_veldra\n"));
    EXPECT_TRUE(fileBytes(folder + QStringLiteral("/veldra")).contains("echo new"));
    EXPECT_TRUE(fileBytes(folder + QStringLiteral("/old_veldra")).contains("echo old"));
}
