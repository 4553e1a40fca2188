// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small text helpers shared by every subsystem.
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace veldra {

// Removes every character with a code of 32 or below at both ends.
QString trim(const QString& s);
// True when trim() would leave nothing of these bytes: none is above a blank.
bool isBlank(QByteArrayView bytes);

// The text between the first `start` and the first `end` after it (case-sensitive);
// empty when either marker is missing. The reading rule of every tag format.
QString textBetween(const QString& s, const QString& start, const QString& end);

// Replaces every occurrence of `what` by `with`, left to right without overlap,
// comparing without regard to letter case. An empty `what` changes nothing.
QString replaceAllNoCase(const QString& s, const QString& what, const QString& with);

// Trims, then keeps only ASCII letters and ASCII digits.
QString lettersAndDigits(const QString& s);

// Splits at CR LF, CR or LF. A final line break does not start an empty last line;
// an empty text gives no lines.
QStringList splitLines(const QString& s);

// Text as it goes into a log line: CR and LF become blanks, so that one log line stays
// one line whatever a client sent.
QString oneLine(QString text);

// True when the text is a whole number: optional sign, decimal digits, fits 32 bits;
// blanks around it are allowed.
bool toInt32(const QString& s, qint32& out);

}  // namespace veldra
