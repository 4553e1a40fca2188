// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a statement may leave behind in its session that the server does not report.
//
// A pooled connection is reset only when its last user may have changed the session.
// The server reports most changes itself (session-state tracking and the status flags of
// its answers: user variables set with SET or inside stored code, system variables, the
// current database, temporary tables, prepared statements, LOCK TABLES, an open
// transaction, autocommit). It reports nothing for these, which only the statement's text
// can show:
// - user-level locks (GET_LOCK and friends), also when a stored function or procedure
//   takes them; LOCK TABLES, FLUSH ... WITH READ LOCK, BACKUP LOCK;
// - a user variable assigned inside a statement (`@v := ...`, `... INTO @v`);
// - HANDLER ... OPEN, sequences' session values (NEXTVAL, SETVAL, NEXT VALUE FOR),
//   LAST_INSERT_ID(expr);
// - code the text does not show: CALL, EXECUTE (IMMEDIATE), PREPARE, and a call of any
//   function that is not one of the server's own (a stored function may take a lock).
// The test reads every word of the text as code, comments too (MariaDB runs the body of
// `/*! ... */`), except the bodies of single-quoted literals (only EXECUTE, PREPARE or a
// procedure could run one, and those count already) and of `--` and `#` comments; a
// quoted name before "(" counts as a stored function. So a word that only looks like one
// of these costs at worst a needless reset, never a missed one.
#include <QStringView>

namespace veldra {

bool mayLeaveUntrackedState(QStringView sql);

}  // namespace veldra
