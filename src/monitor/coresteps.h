// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The request pipeline's steps done by the other subsystems: the access lists, the
// query function files and their preparation, the cache, execution on the work
// database and the statistics. They sit here, above those subsystems; the pipeline
// (server/) knows them only through RequestSteps.
#include "access/accesslists.h"
#include "common/mainthread.h"
#include "config/database.h"
#include "monitor/statistics.h"
#include "server/requeststeps.h"

namespace veldra {

class CoreRequestSteps : public RequestSteps {
public:
    CoreRequestSteps(ClientAccessLists& access, DatabaseConnections& databases, RequestStatistics& statistics)
        : m_access(access),
          m_databases(databases),
          m_requestCount([&statistics](quint64 n) {
              for (quint64 i = 0; i < n; ++i) statistics.countRequest();
          })
    {
    }
    AccessDecision checkClientAccess(const Request& request) override;
    bool functionFileExists(const Request& request, const TServerSettings& settings) override;
    PreparationResult prepareQuery(const Request& request, const TServerSettings& settings) override;
    CacheLookupResult answerFromCache(const Request& request, const TServerSettings& settings,
                                      const QString& preparedQuery) override;
    WireAnswer saveQueryAs(const Request& request, const TServerSettings& settings, const QString& preparedQuery) override;
    void storeInCache(const Request& request, const TServerSettings& settings, const QString& key,
                      const WireAnswer& answer) override;
    void countRequest() override;

private:
    ClientAccessLists& m_access;
    DatabaseConnections& m_databases;
    // one hand-over for the requests counted meanwhile, not one each
    mainthread::CoalescedCount m_requestCount;
};

}  // namespace veldra
