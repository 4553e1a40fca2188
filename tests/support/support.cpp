#include "support.h"

#include <QFile>
#include <QtGlobal>
#include <gtest/gtest.h>

namespace veldra::test {

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
