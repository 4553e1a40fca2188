// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One writer per answer format: turns a result's column names and rows into the body of
// an answer (or of a sample file) in that format. Writers know nothing of databases,
// requests or HTTP; running the query and the header lines belong to their callers.
//
// Use: makeAnswerWriter(), then begin() once with the column names, row() once per row
// in order, end() once; or, for an answer to a result without rows, emptyBody() alone.
// Every call appends UTF-8 bytes to `out` and keeps nothing of it, so a caller may send
// or save what `out` holds and clear it between calls. The bytes are those of the body
// text encoded as UTF-8 as a whole (QString::toUtf8), whichever form the values come in.
//
// Values are written as given: the test-client shortening is the caller's. Escaping is
// the format's: quotes doubled inside double quotes for the text formats,
// EscapeTextForXml and XmlNameForColumn for XML, EscapeQuotesForJson for JSON.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <memory>
#include <span>

#include "common/answerformat.h"

namespace veldra {

enum class WriterStyle {
    // The body of a client's answer: lines joined by CR LF with none after the last;
    // XML and JSON carry "empty" and "statusText"; JSON opens every row after the first
    // with ",{".
    Answer,
    // The body of a sample file: every line, the last included, ends with CR LF; no
    // "empty" or "statusText"; JSON closes every row but the last with "},".
    Sample,
};

// One value of a row as a writer takes it: either a text, or UTF-8 bytes (valid UTF-8,
// the common case, written without a detour through UTF-16), followed by "..." when
// `dots` is set (the shortened value of a test client).
struct CellValue {
    CellValue() = default;
    CellValue(const QString& value) : text(&value) {}
    CellValue(QByteArrayView value, bool withDots = false) : utf8(value), dots(withDots) {}

    const QString* text = nullptr;  // when set, the value; `utf8` and `dots` are not used
    QByteArrayView utf8;
    bool dots = false;
};

class AnswerWriter {
public:
    virtual ~AnswerWriter() = default;
    // The lines before the first row (the header line of the text formats).
    virtual void begin(QByteArray& out, const QStringList& columns) = 0;
    // One row: one value per column, in column order.
    virtual void row(QByteArray& out, std::span<const CellValue> values) = 0;
    // The lines after the last row.
    virtual void end(QByteArray& out) = 0;
    // The whole body of an answer to a result without rows (Answer style).
    virtual void emptyBody(QByteArray& out) = 0;
};

// `statusText` is the text of the XML and JSON "statusText" entries (Answer style) and
// the second line of an empty text-format answer.
std::unique_ptr<AnswerWriter> makeAnswerWriter(AnswerFormat format, WriterStyle style,
                                               const QString& statusText = QString());

// Every double quote doubled.
QString DoubleQuotesForCsv(const QString& text);
// The three escapes below for valid UTF-8 bytes, appended to `out`: the same bytes as
// escaping the decoded text and encoding the result as UTF-8.
void appendDoubleQuotesForCsv(QByteArray& out, QByteArrayView utf8);
void appendEscapeQuotesForJson(QByteArray& out, QByteArrayView utf8);
void appendEscapeTextForXml(QByteArray& out, QByteArrayView utf8);
// A JSON string's content: " and \ get a backslash, backspace, form feed, line feed,
// return and tab become \b \f \n \r \t, every other character below 0x20 becomes \u00xx
// (lower-case hex); everything else is unchanged.
QString EscapeQuotesForJson(const QString& text);
// XML character data: " & < > become &quot; &amp; &lt; &gt;; the backslash and the
// characters 160..255 become decimal character references (&#92;, &#233;); characters
// that XML 1.0 does not allow (controls other than tab, LF and CR, U+FFFE, U+FFFF,
// unpaired surrogates) become U+FFFD; everything else is copied unchanged.
QString EscapeTextForXml(const QString& text);
// An element name for a column: a valid XML name is returned as it is; otherwise every
// character other than a letter, a digit, "_", "-" or "." becomes "_", and "_" is put
// in front when the first character is not a letter or "_". An empty name gives "_".
QString XmlNameForColumn(const QString& name);

}  // namespace veldra
