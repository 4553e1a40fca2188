// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QString>

namespace veldra {
// The MD5 digest (RFC 1321) of the bytes as 32 upper-case hexadecimal digits.
QString md5Hex(const QByteArray& bytes);
}
