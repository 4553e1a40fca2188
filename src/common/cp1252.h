// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windows-1252, both directions. The five bytes the code page leaves undefined
// (81, 8D, 8F, 90, 9D) map to the C1 controls of the same value and back, so that
// every byte string survives bytes -> text -> bytes unchanged.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace veldra::cp1252 {

QString decode(const QByteArray& bytes);
// A character with no code becomes "?".
QByteArray encode(const QString& text);
// decode(bytes).toUtf8() without the text in between.
QByteArray decodeToUtf8(QByteArrayView bytes);
// One byte of a character, or -1 when the code page has none.
int byteOf(char16_t c);

}  // namespace veldra::cp1252
