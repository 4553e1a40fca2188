// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files and folders: text files with byte-order-mark detection, recursive delete,
// and the program folder.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace veldra {

enum class NoBomEncoding {
    Utf8OrCp1252,  // UTF-8 when the bytes are valid UTF-8, Windows-1252 otherwise
    Cp1252,        // always Windows-1252
};

// What decodeText found: a byte-order mark, or the fallback's choice without one.
enum class TextEncoding { Utf8Bom, Utf8, Utf16LE, Utf16BE, Cp1252 };

// Decodes file bytes: a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark decides;
// without one, `fallback` does. `found`, when given, receives the encoding used.
QString decodeText(const QByteArray& bytes, NoBomEncoding fallback = NoBomEncoding::Utf8OrCp1252,
                   TextEncoding* found = nullptr);
bool isValidUtf8(QByteArrayView bytes);
// Decodes UTF-8, each invalid sequence giving U+FFFD.
QString decodeUtf8Lossy(const QByteArray& bytes);

// Reads a whole file; throws FileError when it cannot be opened.
QByteArray readFileBytes(const QString& path);
QString readTextFile(const QString& path, NoBomEncoding fallback = NoBomEncoding::Utf8OrCp1252);
QStringList readTextFileLines(const QString& path, NoBomEncoding fallback = NoBomEncoding::Utf8OrCp1252);

// The byte form of lines as the system writes text files: UTF-8 with a byte-order
// mark, CR LF after every line, the last one included.
QByteArray textFileBytes(const QStringList& lines);

// Who may read a file the program writes. OwnerOnly (mode 0600, whatever the umask and
// whatever mode an older file had) is for every file that can hold passwords or secure
// codes: the settings file and the logs. Shared keeps the mode of the file it replaces,
// or takes the umask's for a new one.
enum class FileAccess { Shared, OwnerOnly };

// Writes a file under a temporary name in the target's folder (the target's name with a
// dot and six letters or digits behind it) and renames it over the target only when
// every byte was written and flushed. Any failure on the way removes the temporary file
// and leaves the old file as it was; the FileError names the file and the reason ("No
// space left on device"). The final name is never followed: a symbolic link planted
// there is replaced by the new file, nothing is written through it.
class AtomicFileWriter {
public:
    // `sync` also flushes the new content to the disk before the rename, so that a
    // crash leaves the old content or the new one.
    explicit AtomicFileWriter(QString path, FileAccess access = FileAccess::Shared, bool sync = true);
    ~AtomicFileWriter();  // cancels what was not committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file. Throws FileError ("Cannot create file ...").
    void open();
    // Appends bytes, all of them or a FileError ("Cannot write file ...").
    void write(QByteArrayView bytes);
    // Flushes, closes and renames over the target. Throws FileError; the old file stays.
    void commit();
    // Removes the temporary file; the target is untouched.
    void cancel();

    const QString& path() const { return m_path; }
    // The errno of the last failure (0 when none), for callers that tell causes apart.
    int lastErrno() const { return m_errno; }
    // The step that failed last.
    enum class Step { None, Create, Write, Flush, Rename };
    Step failedStep() const { return m_failedStep; }

private:
    [[noreturn]] void fail(Step step, int error);

    QString m_path;
    QByteArray m_target;  // the native name of m_path
    QByteArray m_temp;    // the native name of the temporary file, empty when none
    FileAccess m_access;
    bool m_sync;
    int m_fd = -1;
    int m_errno = 0;
    Step m_failedStep = Step::None;
};

// Writes (replacing) the file through AtomicFileWriter; throws FileError.
void writeTextFile(const QString& path, const QStringList& lines, FileAccess access = FileAccess::Shared);
// Writes bytes to `path` through AtomicFileWriter, so a reader sees the old content or
// the new one, never a part, and a failed write keeps the old file. Throws FileError.
void writeFileAtomically(const QString& path, const QByteArray& bytes, FileAccess access = FileAccess::Shared);
// The same, for a folder that others may delete at any time (the answer cache). True
// when the new content is in place under `path` (in the folder of that name by then);
// false, with nothing written, when the folder is missing, or was deleted (perhaps made
// again) or emptied before the content was in place. Other failures (a full disk
// among them) throw FileError and leave no file behind. Not flushed to the disk: a
// cache file is only ever a copy.
[[nodiscard]] bool writeFileAtomicallyIfFolderStays(const QString& path, const QByteArray& bytes);
// The same for content written in pieces: `produce` hands each piece to `write`. What
// `produce` throws leaves no file behind and goes on to the caller.
[[nodiscard]] bool writeFileAtomicallyIfFolderStays(
    const QString& path, const std::function<void(const std::function<void(QByteArrayView)>& write)>& produce);

// A folder text that is not blank and names an existing folder.
bool isExistingFolder(const QString& path);

// Removes a file, or a folder with everything in it. True when nothing is left.
bool recursiveDelete(const QString& path);

// The running program file (/proc/self/exe) and its folder.
QString executableFile();
QString executableFolder();

// What decides the program folder.
struct ProgramFolderFacts {
    QString executableFolder;
    bool installedCopy = false;  // installed by a package or `cmake --install`
    QString xdgDataHome;         // $XDG_DATA_HOME, empty when unset
    QString home;
};
// A portable copy keeps the executable's folder; an installed copy uses
// $XDG_DATA_HOME/veldra (~/.local/share/veldra when unset).
QString resolveProgramFolder(const ProgramFolderFacts& facts);

// The folder of settings, default folders, logs and the share list, without a trailing
// "/": the executable's folder for a portable copy; for an installed copy (whose
// executable folder the user cannot write, or an installed prefix layout) the data
// folder above, created at first use.
QString programFolder();
// True when this copy was installed (its program folder is the data folder).
bool isInstalledCopy();
// Puts the program folder elsewhere (veldra-headless --folder, before any thread runs;
// tests); an empty text restores the default.
void setProgramFolder(const QString& folder);
// The path of a file in the program folder.
QString programFile(const QString& name);

}  // namespace veldra
