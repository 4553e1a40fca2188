// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The names of query functions, and the deletions under the cache folder.
//
// One rule decides which names are functions: the request side looks up only these,
// the editor creates and saves only these, and the cache page and the daily cleaning
// measure and delete only their folders. A usable name is one file name in the queries
// folder (name + ".qr") and one folder in the cache folder (cache folder + name).
#include <QString>

namespace veldra {

// Not empty, not ".", without "..", "/" or "\", and without control characters
// (codes below 32, and 127).
bool isUsableFunctionName(const QString& name);

// Why a name is not usable, for the operator; "" when it is.
QString functionNameFault(const QString& name);

// True when `target` lies strictly inside `folder` once both are resolved: the folder
// and the target's parent through every link, the target's own last part as it stands
// (a link there is the link itself). The folder itself, "." and ".." are not inside.
bool liesStrictlyInside(const QString& folder, const QString& target);

// Removes `target` (a file, a link, or a folder with everything in it) only when it
// lies strictly inside `folder`. True when it was inside and nothing of it is left.
bool deleteInsideFolder(const QString& folder, const QString& target);

// The cache folder of a function, "" when the name is not usable: cacheFolder (ending
// with "/") followed by the name.
QString functionCacheFolder(const QString& cacheFolder, const QString& name);

// Removes the cache folder of a usable function name when a folder of that name exists
// and lies strictly inside the cache folder; true when it was removed whole.
bool deleteFunctionCacheFolder(const QString& cacheFolder, const QString& name);

}  // namespace veldra
