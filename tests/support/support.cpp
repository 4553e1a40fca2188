// SPDX-License-Identifier: GPL-3.0-or-later
#include "support.h"

#include <QFile>
#include <QtGlobal>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veldra::test {

quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void putBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

std::optional<TestDatabase> testDatabase()
{
    const QString host = qEnvironmentVariable("VELDRA_TEST_DB_HOST");
    if (host.isEmpty()) return std::nullopt;
    TestDatabase db;
    db.host = host;
    db.port = qEnvironmentVariableIntValue("VELDRA_TEST_DB_PORT");
    db.user = qEnvironmentVariable("VELDRA_TEST_DB_USER");
    db.password = qEnvironmentVariable("VELDRA_TEST_DB_PASSWORD");
    return db;
}

}  // namespace veldra::test
