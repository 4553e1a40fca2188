// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The steps of the request pipeline that other subsystems do: the access decision,
// preparation, the cache, execution, the request count and the share list.
#include <QString>

#include "common/text.h"
#include <optional>

#include "server/answers.h"

namespace veldra {

class TServerThread;

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

class RequestSteps {
public:
    virtual ~RequestSteps() = default;
    // e-mail and secure code in lower case, both non-empty; the client's dotted address.
    virtual AccessDecision checkClientAccess(const QString& email, const QString& seccode, const QString& address) = 0;
    // True when the query function file of `name` exists in the queries folder.
    virtual bool functionFileExists(const TServerThread& request) = 0;
    // The prepared query text, or the error that ends the request.
    virtual PreparationResult prepareQuery(TServerThread& request) = 0;
    // Looks the prepared query up in the cache (and sets the request's cache key): the
    // cached answer as it goes on the wire, or nothing. Called only when caching is on.
    virtual std::optional<Outgoing> answerFromCache(TServerThread& request, const QString& preparedQuery) = 0;
    // Runs the query and builds the answer; no bytes when the query failed.
    virtual WireAnswer saveQueryAs(TServerThread& request, const QString& preparedQuery) = 0;
    // Stores a sent, cacheable answer under the request's cache key. Called only when the
    // cache is in use.
    virtual void storeInCache(TServerThread& request, const WireAnswer& answer) = 0;
    // Has the main thread count one answered request.
    virtual void countRequest() = 0;
};

}  // namespace veldra
