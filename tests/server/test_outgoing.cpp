// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "server/connection.h"
#include "server/outgoing.h"
#include "support/outgoingsupport.h"

using namespace veldra;

namespace {

QByteArray pattern(qsizetype n, char seed)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) b[i] = char(seed + i % 97);
    return b;
}

// An unnamed file holding `bytes`.
std::shared_ptr<OpenFile> fileWith(const QByteArray& bytes)
{
    auto f = std::make_shared<OpenFile>(::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    EXPECT_GE(f->fd(), 0);
    EXPECT_TRUE(writeAllTo(f->fd(), bytes));
    return f;
}

}  // namespace

TEST(AnswerSpool, StaysInMemoryUpToItsLimitThenGoesOnIntoAFile)
{
    AnswerSpool small(QString(), 10);
    small.append("0123");
    small.append("456789");
    EXPECT_FALSE(small.inFile());
    Outgoing a = small.take();
    EXPECT_EQ(a.bytes, "0123456789");
    EXPECT_FALSE(a.file);

    QTemporaryDir dir;
    AnswerSpool big(dir.path(), 10);
    big.append("0123456");
    big.append("789ab");  // past the limit: what was in memory goes first
    big.append(pattern(300000, 'a'));
    EXPECT_TRUE(big.inFile());
    EXPECT_EQ(big.folder(), dir.path());
    EXPECT_EQ(big.size(), 12 + 300000);
    const Outgoing b = big.take();
    EXPECT_TRUE(b.bytes.isEmpty());
    ASSERT_TRUE(b.file);
    EXPECT_EQ(bytesOf(b), "0123456789ab" + pattern(300000, 'a'));
    // the file has no name: nothing is left in the folder
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    // A folder that cannot hold the file: the system's temporary folder does.
    AnswerSpool elsewhere(dir.path() + QStringLiteral("/gone"), 4);
    elsewhere.append("0123456789");
    EXPECT_EQ(bytesOf(elsewhere.take()), "0123456789");
}

TEST(AnswerSpool, WritingInPlaceKeepsTheAnswerInItsBufferOrFile)
{
    // Rows of 1000 bytes written in place, settled whenever due, as the answer writers do.
    const auto write = [](AnswerSpool& spool, int rows) {
        QByteArray expected;
        for (int i = 0; i < rows; ++i) {
            const QByteArray row = pattern(1000, char('a' + i % 20));
            spool.buffer().append(row);
            expected += row;
            if (spool.due()) spool.settle();
        }
        spool.settle();
        return expected;
    };
    AnswerSpool small(QString(), 300 * 1000);
    const QByteArray a = write(small, 300);
    EXPECT_FALSE(small.inFile());
    const char* inPlace = small.buffer().constData();
    const Outgoing out = small.take();
    EXPECT_FALSE(out.file);
    EXPECT_EQ(out.bytes.constData(), inPlace);  // the buffer is the answer: no copy
    EXPECT_EQ(out.bytes, a);

    QTemporaryDir dir;
    AnswerSpool large(dir.path(), 100 * 1000);
    const QByteArray b = write(large, 700);
    EXPECT_TRUE(large.inFile());
    EXPECT_LE(large.buffer().capacity(), 4 * AnswerSpool::kBlock);  // only a block stays in memory
    EXPECT_EQ(large.size(), b.size());
    EXPECT_EQ(bytesOf(large.take()), b);
}

TEST(AnswerSpool, LargeAnswersStayInMemoryOnlyWhileTheSharedRoomLasts)
{
    constexpr qsizetype kLarge = AnswerSpool::kLargeMemoryLimit;
    constexpr qsizetype kBeyond = kLarge - AnswerSpool::kMemoryLimit;  // shared room one of them takes
    const QByteArray block = pattern(kLarge, 'q');
    const qint64 before = AnswerSpool::sharedMemoryInUse();
    const int fit = int((AnswerSpool::kSharedMemory - before) / kBeyond);
    std::vector<std::unique_ptr<AnswerSpool>> spools;
    for (int i = 0; i < fit; ++i) {
        spools.push_back(std::make_unique<AnswerSpool>(QString(), AnswerSpool::kMemoryLimit, kLarge));
        spools.back()->append(block);
        EXPECT_FALSE(spools.back()->inFile()) << i;
    }
    EXPECT_EQ(AnswerSpool::sharedMemoryInUse(), before + fit * kBeyond);
    // No room left: the next one goes on into a file, and so does one past its own limit.
    AnswerSpool over(QString(), AnswerSpool::kMemoryLimit, kLarge);
    over.append(block);
    EXPECT_TRUE(over.inFile());
    EXPECT_EQ(bytesOf(over.take()), block);
    // Taking an answer gives its room back.
    EXPECT_EQ(spools.front()->take().bytes, block);
    EXPECT_EQ(AnswerSpool::sharedMemoryInUse(), before + (fit - 1) * kBeyond);
    AnswerSpool again(QString(), AnswerSpool::kMemoryLimit, kLarge);
    again.append(block);
    EXPECT_FALSE(again.inFile());
    again.append("x");
    EXPECT_TRUE(again.inFile());
    EXPECT_EQ(bytesOf(again.take()), block + "x");
    spools.clear();
    EXPECT_EQ(AnswerSpool::sharedMemoryInUse(), before);
}

TEST(Sender, AnAnswerAClientDoesNotTakeGoesOnIntoAFile)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ClientConnection conn(fds[0], QStringLiteral("127.0.0.1"));
    const QByteArray answer = pattern(2 * 1024 * 1024, 'm');
    conn.send(Outgoing{answer});
    ASSERT_GT(conn.pendingInMemory(), ClientConnection::kPendingInMemory);
    conn.movePendingIntoFile();
    ASSERT_TRUE(conn.hasPending());
    EXPECT_EQ(conn.pendingInMemory(), 0);

    QByteArray got;
    char buf[65536];
    while (conn.hasPending()) {
        ssize_t n;
        while ((n = ::recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0) got.append(buf, n);
        ASSERT_NE(conn.writePending(), ClientConnection::WriteStatus::Failed);
    }
    conn.close();
    ssize_t n;
    while ((n = ::recv(fds[1], buf, sizeof buf, 0)) > 0) got.append(buf, n);
    ::close(fds[1]);
    EXPECT_TRUE(got == answer) << got.size();
}

TEST(Sender, WritesWhatTheSocketTakesAndTheRestAsItDrains)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ClientConnection conn(fds[0], QStringLiteral("127.0.0.1"));
    const QByteArray head = pattern(1000, 'A');
    const QByteArray body = pattern(3 * 1024 * 1024, 'a');
    Outgoing answer{head, fileWith("skip" + body), 4, body.size()};

    // The peer reads nothing: the send returns at once with most of the answer pending.
    conn.send(answer);
    EXPECT_TRUE(conn.hasPending());

    QByteArray got;
    char buf[65536];
    while (conn.hasPending()) {
        ssize_t n;
        while ((n = ::recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0) got.append(buf, n);
        bool progressed = false;
        ASSERT_NE(conn.writePending(&progressed), ClientConnection::WriteStatus::Failed);
    }
    conn.close();
    ssize_t n;
    while ((n = ::recv(fds[1], buf, sizeof buf, 0)) > 0) got.append(buf, n);
    ::close(fds[1]);
    EXPECT_EQ(got.size(), head.size() + body.size());
    EXPECT_TRUE(got == head + body);
}

TEST(Sender, AClosedPeerOrConnectionFails)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ClientConnection conn(fds[0], QStringLiteral("127.0.0.1"));
    ::close(fds[1]);
    EXPECT_THROW(conn.send(QByteArray("x")), SocketError);
    EXPECT_FALSE(conn.hasPending());
    conn.abort();
    try {
        conn.send(QByteArray("x"));
        FAIL();
    } catch (const SocketError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Socket is closed"));
    }
}
