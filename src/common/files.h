// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files and folders: text files with byte-order-mark detection, recursive delete,
// and the program folder.
#include <QByteArray>
#include <QString>
#include <QStringList>

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
// Writes (replacing) the file; throws FileError.
void writeTextFile(const QString& path, const QStringList& lines);
// Writes bytes to `path` through a temporary file in the same folder and a rename, so a
// reader sees the old content or the new one, never a part. The temporary file has no
// name, or the target's name with a dot and six letters or digits behind it. Throws
// FileError.
void writeFileAtomically(const QString& path, const QByteArray& bytes);
// The same, for a folder that others may delete at any time (the answer cache). True
// when the new content is in place under `path` (in the folder of that name by then);
// false, with nothing written, when the folder is missing, or was deleted (perhaps made
// again) or emptied before the content was in place. Other failures throw FileError.
[[nodiscard]] bool writeFileAtomicallyIfFolderStays(const QString& path, const QByteArray& bytes);

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
// Tests point the program folder somewhere else; an empty text restores the default.
void setProgramFolderForTesting(const QString& folder);
// The program folder named on the command line (veldra-headless --folder), before any
// thread runs.
void setProgramFolder(const QString& folder);
// The path of a file in the program folder.
QString programFile(const QString& name);

}  // namespace veldra
