// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's own update: download the published program file next to the running
// one, and let a small script swap the two and start the new program once this one has
// ended. Only a portable copy updates itself; an installed copy is left to the system's
// package manager.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

#include "update/signature.h"

namespace veldra {

class OperatorUi;

// Where the update works.
struct UpdateTarget {
    QString baseUrl;        // the web server (http://)
    QString programFolder;  // holds new_<name>, old_<name> and the script
    QString programFile;    // the running program file (/proc/self/exe)
    bool installedCopy = false;
    // The Ed25519 key a download must be signed with (its signature fetched from the
    // program's address + ".sig"); empty: no signature is asked for.
    QByteArray publicKey = configuredUpdatePublicKey();
};

// What the update asks of the window.
struct UpdateHooks {
    std::function<bool()> serverRunning;
    // Disables the window with a busy cursor (true) or enables it again (false).
    std::function<void(bool)> setBusy;
    // The caption of the update button ("Load <n> KB ").
    std::function<void(const QString&)> setCaption;
    // Starts the swap script detached from this process; false when it could not.
    std::function<bool(const QString& scriptPath)> runScript;
    // Closes the window, which ends the program.
    std::function<void()> closeWindow;
};

enum class UpdateOutcome {
    PackageManaged,  // installed copy: told to use the package manager, nothing changed
    ServerRunning,   // refused while the server runs
    Declined,        // the operator said No
    FileFailed,      // new_<name> could not be created or written
    DownloadFailed,  // bad status, short, empty or not a program: no script
    TimedOut,        // over the time limit: no script
    Started,         // script written and started, window closed
};

inline constexpr const char* kSwapScriptName = "UpdProgrVeldra.sh";

// A text as one single-quoted word of the shell, whatever it holds.
QString shellQuoted(const QString& text);
// The swap script for the program file `programName` in `folder` (an absolute path,
// written into the script): a POSIX sh script, LF line ends. Its optional first argument
// replaces the 5-second wait.
QByteArray swapScript(const QString& folder, const QString& programName);
// Writes the script into `folder` with its run bit; throws FileError.
QString writeSwapScript(const QString& folder, const QString& programName);
// Starts `sh <script>` detached, in the script's folder.
bool startSwapScript(const QString& scriptPath);

// A download that may replace the program: HTTP 200, not empty, whole (as long as its
// Content-Length says, or ended by the last chunk of a chunked transfer: a body that
// merely stopped may have been cut anywhere), starting with the ELF magic.
bool isCompleteProgramFile(int httpStatus, qint64 received, qint64 contentLength, bool lastChunkSeen,
                           const QByteArray& head);

// The address of a program file's signature.
QUrl signatureUrl(const QString& baseUrl);

// The update button. Blocks with its own event loop while downloading, so the window
// keeps repainting; `timeLimitMs` is the download's limit.
UpdateOutcome runProgramUpdate(const UpdateTarget& target, OperatorUi& ui, const UpdateHooks& hooks,
                               int timeLimitMs = 300000);

}  // namespace veldra
