// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/md5.h"

#include <QCryptographicHash>

namespace veldra {
QString md5Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
}
}  // namespace veldra
