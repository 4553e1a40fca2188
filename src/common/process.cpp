// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/process.h"

#include <QByteArray>
#include <QtGlobal>
#include <malloc.h>

namespace veldra {

void prepareServerProcess()
{
    // A fixed threshold also keeps the C library from raising it after every freed
    // large block, which would put the next large answer back on the shared heap.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    if (!qEnvironmentVariableIsSet("TZ")) qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
}

}  // namespace veldra
