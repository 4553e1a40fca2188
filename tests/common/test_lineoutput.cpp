// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "common/lineoutput.h"

using namespace veldra;

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe()
    {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    // Everything written so far (the writing end stays open).
    QByteArray readAvailable()
    {
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        QByteArray all;
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) all.append(buf, n);
        return all;
    }
};

TEST(LineOutputTest, WritesEveryLineInOrder)
{
    Pipe p;
    LineOutput out(p.fds[1]);
    QByteArray expected;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray line = "line " + QByteArray::number(i);
        out.write(line);
        expected += line + '\n';
    }
    EXPECT_TRUE(out.finish(10000));
    EXPECT_EQ(p.readAvailable(), expected);
    EXPECT_EQ(out.dropped(), 0u);
}

TEST(LineOutputTest, AReaderThatStopsReadingCostsDroppedLinesNotAWait)
{
    Pipe p;
    // A pipe that is full already: its reader has stopped reading.
    ::fcntl(p.fds[1], F_SETFL, O_NONBLOCK);
    const QByteArray filler = QByteArray(99, 'z') + '\n';
    while (::write(p.fds[1], filler.constData(), size_t(filler.size())) == filler.size()) {
    }
    ::fcntl(p.fds[1], F_SETFL, 0);
    LineOutput out(p.fds[1], 16 * 1024);
    out.setDroppedNotice([](quint64 n) { return "dropped " + QByteArray::number(n); });
    // Far more than the pipe and the buffer hold together: none of it may wait.
    const QByteArray line(99, 'x');
    const int total = 20000;
    for (int i = 0; i < total; ++i) out.write(line);
    EXPECT_GT(out.dropped(), 0u);

    // Once the reader reads again, the count comes before the next line that fits.
    QByteArray got = p.readAvailable();
    int afterCalls = 0;
    for (int i = 0; i < 200 && !got.contains("after"); ++i) {
        out.write("after");
        ++afterCalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        got += p.readAvailable();
    }
    EXPECT_TRUE(out.finish(10000));
    got += p.readAvailable();
    const QList<QByteArray> lines = got.split('\n');
    quint64 counted = 0;
    qsizetype lastNotice = -1;
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith("dropped ")) {
            counted += lines[i].mid(8).toULongLong();
            lastNotice = i;
        }
    ASSERT_GE(lastNotice, 0);
    EXPECT_GT(lines.indexOf("after"), lastNotice);
    // A notice goes in with the line that fitted after the drops: never two in a row,
    // never one at the end. (While the reader had stopped, the writer may still have
    // taken the few bytes the full pipe had left, so a notice can also come earlier.)
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith("dropped ")) {
            ASSERT_LT(i + 1, lines.size());
            EXPECT_FALSE(lines[i + 1].startsWith("dropped ")) << i;
            EXPECT_FALSE(lines[i + 1].isEmpty()) << i;
        }
    // Each line was written or counted, once.
    EXPECT_EQ(counted, out.dropped());
    EXPECT_EQ(qsizetype(counted) + lines.count(line) + lines.count("after"), total + afterCalls);
}

TEST(LineOutputTest, FinishGivesUpOnAReaderThatNeverReads)
{
    Pipe p;
    auto* out = new LineOutput(p.fds[1], 1 << 20);
    for (int i = 0; i < 2000; ++i) out->write(QByteArray(200, 'y'));  // more than the pipe takes
    EXPECT_FALSE(out->finish(200));
    delete out;  // returns although its writer is still blocked
    // The reader goes: the writer ends with EPIPE, and the process goes on. (The writing
    // end stays open: the writer may still be using it, as a program's stdout would.)
    ::close(p.fds[0]);
    p.fds[0] = -1;
    p.fds[1] = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

TEST(LineOutputTest, JournalStreamIsRecognisedByDeviceAndInode)
{
    Pipe p;
    struct stat st {};
    ASSERT_EQ(::fstat(p.fds[1], &st), 0);
    const QByteArray saved = qgetenv("JOURNAL_STREAM");
    qputenv("JOURNAL_STREAM", QByteArray::number(qulonglong(st.st_dev)) + ':' + QByteArray::number(qulonglong(st.st_ino)));
    EXPECT_TRUE(isJournalStream(p.fds[1]));
    Pipe other;
    EXPECT_FALSE(isJournalStream(other.fds[1]));
    for (const char* bad : {"", "12", ":5", "a:b"}) {
        qputenv("JOURNAL_STREAM", bad);
        EXPECT_FALSE(isJournalStream(p.fds[1])) << bad;
    }
    qunsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(isJournalStream(p.fds[1]));
    if (!saved.isEmpty()) qputenv("JOURNAL_STREAM", saved);
}

}  // namespace
