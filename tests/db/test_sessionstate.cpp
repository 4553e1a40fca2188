// SPDX-License-Identifier: GPL-3.0-or-later
// Which statement texts may leave session state the server does not report.
#include <gtest/gtest.h>

#include <QString>

#include "db/sessionstate.h"

using namespace veldra;

TEST(SessionState, StatementsThatMayLeaveUnreportedState)
{
    struct Case {
        const char* sql;
        bool leaves;
    };
    const Case cases[] = {
        // plain queries: nothing to reset
        {"SELECT id, name FROM customers WHERE region = 'EU' ORDER BY id", false},
        {"SELECT COUNT(*), MAX(amount), DATE_FORMAT(d, '%Y') FROM sales GROUP BY YEAR(d)", false},
        {"SELECT CAST(x AS DECIMAL(10,2)), IFNULL(a, '') FROM t WHERE b IN (1, 2) AND EXISTS (SELECT 1)", false},
        {"SELECT @@SESSION.sql_mode, @@time_zone", false},
        // words and addresses inside values run nothing
        {"SELECT * FROM c WHERE email = 'a@b.cd' AND note = 'GET_LOCK(''x'', 0)' AND n = 'it\\'s @x'", false},
        {"SELECT * FROM blocks WHERE unlocked = 1 AND name = 'lock'", false},
        {"SELECT 1 -- GET_LOCK('x', 0) it's\n", false},
        {"SELECT 1 # CALL p()\n", false},
        {"SELECT 1 /* LOCK TABLES t READ */", false},
        // user-level locks, table locks
        {"SELECT GET_LOCK('x', 0)", true},
        {"select get_lock('x', 0)", true},
        {"SELECT RELEASE_ALL_LOCKS()", true},
        {"LOCK TABLES t READ", true},
        {"FLUSH TABLES WITH READ LOCK", true},
        {"SELECT * FROM t LOCK IN SHARE MODE", true},
        // executable comments are code
        {"SELECT 1 /*!50000 , GET_LOCK('x', 0) */", true},
        {"SELECT 1 /*M!100100 , GET_LOCK('x', 0) */", true},
        // a quote inside a comment that runs nothing does not hide what follows
        {"SELECT 1 -- it's\n, GET_LOCK('x', 0)", true},
        {"SELECT 1 /* it's */, GET_LOCK('x', 0)", true},
        // user variables assigned inside a statement
        {"SELECT @n := @n + 1 FROM t", true},
        {"SELECT 1 INTO @x", true},
        // code the text does not show
        {"CALL report('2020')", true},
        {"EXECUTE IMMEDIATE 'SELECT 1'", true},
        {"SELECT my_function(id) FROM t", true},
        {"SELECT work.concat(id) FROM t", true},
        {"SELECT `concat` (id) FROM t", true},
        {"SELECT \"f\"(id) FROM t", true},
        {"SELECT f /* c */ (id) FROM t", true},
        {"SELECT f /*!50000 (id) */ FROM t", true},
        {"SELECT f /*M!100100*/ (id) FROM t", true},
        {"SELECT 1 /*Mary's comment, GET_LOCK */", false},
        // sessions' own values
        {"SELECT NEXTVAL(s)", true},
        {"SELECT NEXT VALUE FOR s", true},
        {"SELECT LAST_INSERT_ID(5)", true},
        {"HANDLER t OPEN", true},
    };
    for (const Case& c : cases) EXPECT_EQ(mayLeaveUntrackedState(QString::fromUtf8(c.sql)), c.leaves) << c.sql;
}
