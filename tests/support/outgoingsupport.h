// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An answer's whole content in memory, to compare with what it should be.
#include <QByteArray>

#include "server/outgoing.h"

namespace veldra {

inline QByteArray bytesOf(const Outgoing& answer)
{
    QByteArray all;
    all.reserve(qsizetype(answer.size()));
    answer.forEachChunk([&](QByteArrayView c) { all.append(c); });
    return all;
}

}  // namespace veldra
