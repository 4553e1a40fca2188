// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The steps of the request pipeline that other subsystems do: the access decision,
// preparation, the cache, execution and the request count. Each step reads the request
// and returns its result; only the pipeline sends, logs and counts.
#include <QString>
#include <optional>

#include "common/text.h"
#include "config/serversettings.h"
#include "server/answers.h"
#include "server/outgoing.h"
#include "server/request.h"

namespace veldra {

// A prepared query as the pipeline takes it: the prepared text, and the message of the
// error it reports (between "<#msg>" and "</#msg>", trimmed), empty when there is none.
struct PreparationResult {
    PreparationResult() = default;
    // A text that may report an error anywhere in it (not-active text, template text).
    PreparationResult(const QString& preparedText)
        : text(preparedText),
          error(trim(textBetween(preparedText, QStringLiteral("<#msg>"), QStringLiteral("</#msg>"))))
    {
    }
    PreparationResult(const QString& preparedText, const QString& errorMessage)
        : text(preparedText), error(errorMessage)
    {
    }

    bool isError() const { return !error.isEmpty(); }

    QString text;
    QString error;
};

struct AccessDecision {
    enum class Kind { Neither, Blocked, Registered };
    Kind kind = Kind::Neither;
    QString endDate;  // registered: the end-date text of the white-list line
};

// The cache lookup's outcome: the cached answer as it goes on the wire (nothing on a
// miss) and the request's cache key, under which a fresh answer is stored (empty when
// there is none).
struct CacheLookupResult {
    std::optional<Outgoing> hit;
    QString key;
};

// `settings`: the running settings as they were when the request began.
class RequestSteps {
public:
    virtual ~RequestSteps() = default;
    // Called only when the request's e-mail and secure code are both non-empty.
    virtual AccessDecision checkClientAccess(const Request& request) = 0;
    // True when the query function file of the request's name exists in the queries folder.
    virtual bool functionFileExists(const Request& request, const TServerSettings& settings) = 0;
    // The prepared query text, or the error that ends the request.
    virtual PreparationResult prepareQuery(const Request& request, const TServerSettings& settings) = 0;
    // Looks the prepared query up in the cache. Called only when caching is on.
    virtual CacheLookupResult answerFromCache(const Request& request, const TServerSettings& settings,
                                              const QString& preparedQuery) = 0;
    // Runs the query and builds the answer; no bytes when the query failed.
    virtual WireAnswer saveQueryAs(const Request& request, const TServerSettings& settings,
                                   const QString& preparedQuery) = 0;
    // Stores a sent, cacheable answer under `key`, the lookup's. Called only when the
    // cache is in use.
    virtual void storeInCache(const Request& request, const TServerSettings& settings, const QString& key,
                              const WireAnswer& answer) = 0;
    // Has the main thread count one answered request.
    virtual void countRequest() = 0;
};

}  // namespace veldra
