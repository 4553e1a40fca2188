// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The access decision as a plain scan of the lines: every line lowered and searched on
// every call. The lookup built when the lists are loaded must decide exactly as this
// does; tests and bench/bench_access compare the two.
#include <QDateTime>
#include <QString>

#include "access/accesslists.h"

namespace veldra::test {

AccessDecision scanClientAccess(const AccessLists& lists, const QString& email, const QString& seccode,
                                const QString& address, const QDateTime& now);

}  // namespace veldra::test
