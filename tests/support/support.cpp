#include "support.h"

#include <QtGlobal>

namespace veldra::test {

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
