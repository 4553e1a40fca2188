// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of veldra-headless, its --check, and the priority of its log lines
// in the journal.
#include <QString>
#include <QStringList>

namespace veldra {

struct HeadlessOptions {
    enum class Action { Run, Help, Version, Check, UsageError };
    Action action = Action::Run;
    QString folder;  // --folder DIR; empty: the usual program folder
    QString error;   // UsageError: what is wrong
};

// The arguments after the program name: --help (-h), --version, --check, --folder DIR
// (or --folder=DIR). --help and --version win over the rest; anything else, a missing
// DIR included, is a usage error.
HeadlessOptions parseHeadlessOptions(const QStringList& args);
// The usage text, ending with a line feed.
QString headlessUsage();
// "veldra-headless " version, the project version.
QString headlessVersion();

// What --check found: problems (START would fail, or requests would) and warnings
// (worth a look, not failures). Each entry is one line.
struct CheckReport {
    QStringList problems;
    QStringList warnings;
};
// Reads the settings of the program folder and checks them as SAVE CHANGES does,
// connects to both databases (and closes again), and reads every query function file
// as a request would, with its template check. Opens no port and writes nothing.
CheckReport checkProgramFolder();

// The syslog priority of an event-log line: 3 for errors and failed queries, 4 for
// refused requests and warnings, 6 for the rest. Only the routine and the fixed text
// after it count, never what a client sent.
int journalPriority(const QString& logLine);

}  // namespace veldra
