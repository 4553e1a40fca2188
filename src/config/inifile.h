// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small INI reader/writer that leaves a file as other tools wrote it.
//
// Sections "[name]" hold lines "key=value". Section and key names are compared without
// regard to letter case, blanks around them are ignored. Lines that begin with ";" or
// "#" are comments. A value is the rest of the line after the first "=", without the
// blanks around it; a value written with blanks at either end is stored between double
// quotes, and one pair of surrounding double quotes is removed on reading, so every
// single-line text reads back as it was written.
//
// Writing a key changes only its own line; a missing key goes after the last line of its
// section, a missing section at the end of the file. Every other line keeps its bytes,
// its line ending and the file's encoding (UTF-8 with or without byte-order mark,
// UTF-16 with a byte-order mark, Windows-1252; a Windows-1252 file that gets a character
// the code page lacks is saved as UTF-8 instead). A new file is UTF-8 with a byte-order
// mark and CR LF line ends, created with permissions 0600 (it holds passwords).
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "common/files.h"

namespace veldra {

class IniFile {
public:
    // Reads the file when it exists (throws FileError when it exists but cannot be
    // read); a missing file gives an empty one that is created by save().
    explicit IniFile(const QString& path);
    // The content of a file, without a path (save() has nowhere to write).
    static IniFile fromBytes(const QByteArray& bytes);

    const QString& path() const { return m_path; }
    bool existed() const { return m_existed; }

    // The value of the key, or nothing when the section or the key is missing. When a
    // key occurs more than once in its section, the first occurrence counts.
    std::optional<QString> value(const QString& section, const QString& key) const;
    QString value(const QString& section, const QString& key, const QString& fallback) const;

    // Sets the key in memory; save() writes the file. Line breaks in the value are
    // replaced by blanks, since a value ends with its line.
    void setValue(const QString& section, const QString& key, const QString& value);

    // Writes the file, owner-only (it holds passwords), through a temporary file and a
    // rename: a failed write keeps the old file whole. Throws FileError.
    void save();

    // The file text as it would be saved.
    QString text() const { return m_lines.join(QString()); }

private:
    using Encoding = TextEncoding;

    // The lines of a section: its header line and the index just past its last line;
    // header == -1 when the section is missing.
    struct SectionRange {
        qsizetype header = -1;
        qsizetype end = -1;
    };
    void readBytes(const QByteArray& bytes);
    SectionRange findSection(const QString& section) const;
    qsizetype findKey(const SectionRange& range, const QString& key) const;
    QString newline() const;

    QString m_path;
    bool m_existed = false;
    Encoding m_encoding = Encoding::Utf8Bom;
    QStringList m_lines;  // each with its own line ending (the last one may have none)
};

}  // namespace veldra
