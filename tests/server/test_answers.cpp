// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <sys/socket.h>
#include <unistd.h>

#include "common/cp1252.h"
#include "common/eventlog.h"
#include "common/files.h"
#include "server/answers.h"
#include "server/connection.h"
#include "support/support.h"

using namespace veldra;

namespace {

const QByteArray kHeader = "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Type: text/plain\r\n\r\n";

// The part of a standard log line after its time stamp.
QString withoutStamp(const QString& line)
{
    const qsizetype at = line.indexOf(QLatin1String("] \t"));
    return at < 0 ? line : line.mid(at + 3);
}

class ShareListFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolder(dir.path());
    }
    void TearDown() override { setProgramFolder(QString()); }
    void write(const QByteArray& bytes)
    {
        QFile f(programFile(QStringLiteral("ListAndDescriptionShareFunction.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray answer() { return answerBytes(ShareListAnswer(), AnswerEncoding::SingleByte); }
    QTemporaryDir dir;
};

}  // namespace

TEST(FixedAnswers, ErrorAndBlackListBytes)
{
    EXPECT_EQ(answerBytes(ErrorAnswer(QStringLiteral("Name request from Client is empty")), AnswerEncoding::SingleByte),
              kHeader + "Error [Name request from Client is empty]. For get more info " + kContactEmail);
    EXPECT_EQ(answerBytes(BlackListAnswer(), AnswerEncoding::SingleByte),
              kHeader + "Client is blocked. For get more info " + kContactEmail);
    // A character outside Windows-1252 arrives as "?", one with a code as its byte.
    EXPECT_EQ(answerBytes(ErrorAnswer(QStringLiteral(u"\u4e2d \u00e9 \u20ac")), AnswerEncoding::SingleByte),
              kHeader + "Error [? \xE9 \x80]. For get more info " + kContactEmail);
}

TEST(AnswerEncodings, ByFormatName)
{
    struct Case {
        const char* format;
        AnswerEncoding encoding;
    };
    const Case cases[] = {{"CSV[;]", AnswerEncoding::SingleByte}, {"csv[,]", AnswerEncoding::SingleByte},
                          {"Txt[Tab]", AnswerEncoding::SingleByte}, {"XML", AnswerEncoding::Utf8},
                          {"json", AnswerEncoding::Utf8}};
    for (const Case& c : cases) {
        const std::optional<AnswerFormat> format = AnswerFormat::fromName(QString::fromLatin1(c.format));
        ASSERT_TRUE(format) << c.format;
        EXPECT_EQ(format->encoding(), c.encoding) << c.format;
    }
    EXPECT_EQ(answerBytes(QStringLiteral(u"\u00e9\u4e2d"), AnswerEncoding::Utf8), QByteArray("\xC3\xA9\xE4\xB8\xAD"));
}

TEST_F(ShareListFile, LinesEndWithCrLf)
{
    struct Case {
        QByteArray file, body;
    };
    const Case cases[] = {
        {"", ""},
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\r\nb", "a\r\nb\r\n"},
        {"a\rb\r\n\r\nc", "a\r\nb\r\n\r\nc\r\n"},
        // Without a byte-order mark the file is Windows-1252, whatever it holds.
        {"\xC3\xA9\x80", "\xC3\xA9\x80\r\n"},
        // With one, it is decoded, then sent single-byte.
        {"\xEF\xBB\xBF\xC3\xA9 \xE4\xB8\xAD\n", "\xE9 ?\r\n"},
        {QByteArray("\xFF\xFE\xE9\x00\n\x00", 6), "\xE9\r\n"},
        {QByteArray("\xFE\xFF\x00\xE9\x00\n", 6), "\xE9\r\n"},
    };
    for (const Case& c : cases) {
        write(c.file);
        EXPECT_EQ(answer(), kHeader + c.body) << c.file.toHex().constData();
    }
}

TEST_F(ShareListFile, MissingFileFails)
{
    EXPECT_THROW(ShareListAnswer(), FileError);
}

TEST(SendAnswerForClient, LogsTheOutcome)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ClientConnection conn(fds[0], QStringLiteral("10.1.2.3"));
    EventLog::instance().clear();

    SendAnswerForClient(conn, BlackListAnswer(), ShareListKind::AnswerForBlackList);
    QByteArray got(4096, '\0');
    const ssize_t n = ::recv(fds[1], got.data(), got.size(), 0);
    ASSERT_GT(n, 0);
    got.truncate(n);
    EXPECT_EQ(got, kHeader + "Client is blocked. For get more info " + kContactEmail);

    conn.abort();
    SendAnswerForClient(conn, QStringLiteral("x"), ShareListKind::ShareListFunction);
    ::close(fds[1]);

    const QStringList lines = EventLog::instance().lines();
    ASSERT_EQ(lines.size(), 2);
    const QString tail = QStringLiteral("\tIP [10.1.2.3] \tSocketHandle [%1]").arg(fds[0]);
    EXPECT_EQ(withoutStamp(lines[0]), QStringLiteral("{SendAnswerForClient[AnswerForBlackList]} Msg was sent ") + tail);
    EXPECT_EQ(withoutStamp(lines[1]), QStringLiteral("{SendAnswerForClient[ShareListFunction]} Error in during send "
                                                     "data for clien ") +
                                          tail + QStringLiteral("\tError |  msg = [ESocketError : Socket is closed]"));
    EXPECT_TRUE(lines[0].startsWith(u'['));
}
