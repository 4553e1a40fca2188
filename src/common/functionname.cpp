// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/functionname.h"

#include <QDir>
#include <QFileInfo>

#include "common/files.h"
#include "common/text.h"

namespace veldra {

bool isUsableFunctionName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1String(".."))) return false;
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'/' || c == u'\\') return false;
    return true;
}

QString functionNameFault(const QString& name)
{
    if (isUsableFunctionName(name)) return QString();
    return QStringLiteral("Name function [") + oneLine(name) +
           QStringLiteral("] may not be empty or \".\", and may not hold \"/\", \"\\\", \"..\" or control characters");
}

bool liesStrictlyInside(const QString& folder, const QString& target)
{
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty()) return false;
    QString path = target;
    while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
    const QFileInfo fi(path);
    const QString last = fi.fileName();
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String("..")) return false;
    const QString parent = QFileInfo(fi.path()).canonicalFilePath();
    if (parent.isEmpty()) return false;
    const QString resolved = (parent == QLatin1String("/") ? parent : parent + u'/') + last;
    const QString prefix = root == QLatin1String("/") ? root : root + u'/';
    return resolved.startsWith(prefix) && resolved.size() > prefix.size();
}

bool deleteInsideFolder(const QString& folder, const QString& target)
{
    if (!liesStrictlyInside(folder, target)) return false;
    return recursiveDelete(target);
}

QString functionCacheFolder(const QString& cacheFolder, const QString& name)
{
    if (!isUsableFunctionName(name)) return QString();
    return cacheFolder + name;
}

bool deleteFunctionCacheFolder(const QString& cacheFolder, const QString& name)
{
    const QString folder = functionCacheFolder(cacheFolder, name);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return false;
    return deleteInsideFolder(cacheFolder, folder);
}

}  // namespace veldra
