// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Settings of the whole server process, made at the start of main() before any thread runs.

namespace veldra {

// - Large blocks (answers, cache files) get pages of their own from the system, which a
//   growing answer keeps when it grows and which go back when it is freed: a large
//   answer costs about its own size, not twice that while it is copied to a larger block.
// - The local time zone is read from /etc/localtime once instead of before every
//   clock reading (TZ set to it when unset); log stamps stay local time.
void prepareServerProcess();

}  // namespace veldra
