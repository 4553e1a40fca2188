// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/coresteps.h"

#include <QFileInfo>

#include "answers/savequeryas.h"
#include "cache/cachefiles.h"
#include "common/mainthread.h"
#include "queries/preparation.h"

namespace veldra {

AccessDecision CoreRequestSteps::checkClientAccess(const Request& request)
{
    return m_access.CheckClientAccess(request.email, request.seccode, request.address);
}

bool CoreRequestSteps::functionFileExists(const Request& request, const TServerSettings& settings)
{
    return QFileInfo(settings.PathToQueries + request.name + QStringLiteral(".qr")).isFile();
}

PreparationResult CoreRequestSteps::prepareQuery(const Request& request, const TServerSettings& settings)
{
    return _PreparatingQuery(request.name, request.parameters, settings);
}

CacheLookupResult CoreRequestSteps::answerFromCache(const Request& request, const TServerSettings& settings,
                                                    const QString& preparedQuery)
{
    return CacheLookup(request, settings, preparedQuery);
}

WireAnswer CoreRequestSteps::saveQueryAs(const Request& request, const TServerSettings& settings,
                                         const QString& preparedQuery)
{
    // one consistent set of work-database parameters for the whole request
    const auto work = m_databases.workParams().load();
    // A large XML or JSON answer goes on into a file of its function folder, which the
    // store then names as the cache file.
    QString spool;
    if (settings.EnabledCaching && !(request.format && request.format->isText())) {
        const QString folder = cache::functionFolder(settings, request.name);
        if (QFileInfo(folder).isDir()) spool = folder;
    }
    return SaveQueryAnswer(request, preparedQuery, *work, &m_databases.workPool(), spool);
}

void CoreRequestSteps::storeInCache(const Request& request, const TServerSettings& settings, const QString& key,
                                    const WireAnswer& answer)
{
    CacheStore(request, settings, key, answer);
}

void CoreRequestSteps::countRequest()
{
    m_requestCount.add();
}

}  // namespace veldra
