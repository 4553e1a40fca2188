// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/serversettings.h"

#include <QFileInfo>

namespace veldra {

bool cacheInUse(const TServerSettings& settings)
{
    return settings.EnabledCaching && !settings.PathToCache.isEmpty() && QFileInfo(settings.PathToCache).isDir();
}

}  // namespace veldra
