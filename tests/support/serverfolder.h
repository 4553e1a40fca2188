// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program folder that START accepts, on the test database.
#include <QString>

#include "support/support.h"

namespace veldra::test {

// Lays out `folder`, the program folder of the test (setProgramFolder), for
// START: veldra.ini with both connections on `db` (the given
// password), a free listening port, the QUERIES, LOGS and CACHE-VELDRA folders and the
// active function "names" (SELECT id, name FROM t ORDER BY id). The databases
// `clientDb` and `workDb` are made afresh; the work database holds t with the rows
// (1, 'one') and (2, 'two'). Returns the port. Throws std::runtime_error on a failure.
quint16 prepareServerFolder(const QString& folder, const TestDatabase& db, const QString& password,
                            const QString& clientDb, const QString& workDb);

}  // namespace veldra::test
