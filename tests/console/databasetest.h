// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// For widget tests on the database: the scripted operator and the test database of the
// GoogleTest programs, with QtTest's way of skipping and failing.
#include <QtTest>

#include "db/dbtestutil.h"
#include "support/support.h"

// Skips the test when no test database is configured (fails when CI=true).
#define CONSOLE_REQUIRE_DATABASE(var)                                                      \
    auto var##_opt = ::veldra::test::testDatabase();                                       \
    if (!var##_opt) {                                                                      \
        if (qEnvironmentVariable("CI") == QLatin1String("true"))                           \
            QFAIL("CI=true and no test database (VELDRA_TEST_DB_* not set)");             \
        QSKIP("no test database: run scripts/test");                                       \
    }                                                                                      \
    const ::veldra::test::TestDatabase& var = *var##_opt
