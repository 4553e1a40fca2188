// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The five answer formats: their names, how a client's name is read, and what each
// format means for the answer (text or markup, byte encoding, content type, file
// extension).
#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <optional>

namespace veldra {

// How an answer text goes on the wire and into files.
enum class AnswerEncoding {
    SingleByte,  // one byte per character, Windows-1252 ("?" for characters without a code)
    Utf8,        // the whole text as UTF-8, no byte-order mark
};

class AnswerFormat {
public:
    enum Kind { CsvSemicolon, CsvComma, TxtTab, Xml, Json };

    constexpr AnswerFormat(Kind kind) : m_kind(kind) {}

    // All five, in the order of the settings page.
    static const std::array<AnswerFormat, 5>& all();
    // "CSV[;]", "CSV[,]", "TXT[TAB]", "XML", "JSON", in the order of all().
    static const QStringList& names();
    // One of the five names in any letter case; nullopt for anything else. Letter case is
    // compared in ASCII only: full Unicode case mapping would let, for example, U+017F
    // (long s) pass as "S".
    static std::optional<AnswerFormat> fromName(QStringView name);

    constexpr Kind kind() const { return m_kind; }
    // The name as the settings page lists it.
    QString name() const;
    // The text formats (CSV[;], CSV[,], TXT[TAB]) are sent as attachments: a byte-order
    // mark and the UTF-8 bytes, each byte carried as one Windows-1252 character, sent
    // single-byte. XML and JSON are markup sent as UTF-8.
    constexpr bool isText() const { return m_kind == CsvSemicolon || m_kind == CsvComma || m_kind == TxtTab; }
    constexpr AnswerEncoding encoding() const { return isText() ? AnswerEncoding::SingleByte : AnswerEncoding::Utf8; }
    // The value of the Content-Type header line, e.g. "application/json; charset=utf-8".
    QString contentType() const;
    // ".csv", ".txt", ".xml" or ".json".
    QString fileExtension() const;
    // The field separator of a text format; a null QChar for XML and JSON.
    QChar separator() const;

    friend constexpr bool operator==(AnswerFormat a, AnswerFormat b) { return a.m_kind == b.m_kind; }

private:
    Kind m_kind;
};

}  // namespace veldra
