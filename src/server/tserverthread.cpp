// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/tserverthread.h"

#include <QDate>
#include <QDir>
#include <chrono>

#include "common/cp1252.h"
#include "common/errors.h"
#include "common/eventlog.h"
#include "common/functionname.h"
#include "common/regional.h"
#include "common/text.h"
#include "server/answers.h"
#include "server/failurereporter.h"
#include "server/request.h"
#include "server/requestparser.h"
#include "server/requeststeps.h"
#include "server/servercontext.h"

namespace veldra {
namespace {

// The request as it goes into the log: up to its first "HTTP/", on one line.
QString loggedRequest(const QString& request)
{
    const qsizetype http = request.indexOf(QLatin1String("HTTP/"));
    return oneLine(http >= 0 ? request.left(http) : QString());
}

}  // namespace

TServerThread::TServerThread(std::shared_ptr<ClientConnection> connection, const ServerContext& context,
                             QByteArray arrived)
    : m_connection(std::move(connection)),
      m_context(context),
      m_settings(context.settings.load()),
      m_arrived(std::move(arrived))
{
}

QString TServerThread::logLine(const QString& message) const
{
    return standardLogLine(message, m_connection->peerAddress(), m_connection->handle());
}

void TServerThread::log(const QString& message) const { Logger(logLine(message)); }

void TServerThread::ClientExecute()
{
    try {
        execute();
    } catch (...) {
        // The request ends without an answer; the operator sees what went wrong.
        QString message;
        try {
            message = currentErrorMessage();
            m_context.failures().report(message);
        } catch (...) {
        }
    }
}

void TServerThread::execute()
{
    ClientConnection& conn = *m_connection;

    // STOP ended the connection while the request waited for a thread.
    if (conn.aborted()) return;
    const QString text = trim(cp1252::decode(m_arrived));
    if (text.isEmpty()) {
        log(QStringLiteral("{ClientExecute} Input request from Client is empty !!! "));
        sendAnswer(conn, ErrorAnswer(QStringLiteral("Input request from Client is empty")), AnswerEncoding::SingleByte);
        return;
    }

    Logger(logLine(QStringLiteral("{ClientExecute} Processing request from Client ")) +
           QLatin1String("\tInput request [") + loggedRequest(text) + u']');

    const TServerSettings& s = *m_settings;
    Request request = ParseRequest(text, RequestDefaults{AnswerFormat::fromName(s.FormatAnswer),
                                                         regional::shortDate(QDate::currentDate()), conn.peerAddress(),
                                                         conn.handle()});

    if (trim(request.name).isEmpty()) {
        log(QStringLiteral("{ClientExecute} Name request from Client is empty !!! "));
        sendAnswer(conn, ErrorAnswer(QStringLiteral("Name request from Client is empty")), AnswerEncoding::SingleByte);
        return;
    }

    if (!trim(s.NameFunctionForShareList).isEmpty() && request.name.toLower() == s.NameFunctionForShareList.toLower()) {
        SendAnswerForClient(conn, ShareListAnswer(), ShareListKind::ShareListFunction);
        return;
    }

    RequestSteps& steps = m_context.steps();
    if (!request.email.isEmpty() && !request.seccode.isEmpty()) {
        const AccessDecision access = steps.checkClientAccess(request);
        if (access.kind == AccessDecision::Kind::Blocked) {
            SendAnswerForClient(conn, BlackListAnswer(), ShareListKind::AnswerForBlackList);
            return;
        }
        if (access.kind == AccessDecision::Kind::Registered) {
            request.testClient = false;
            request.dateActive = access.endDate;
        }
    }
    // From here on the request is only read.
    const Request& r = request;

    // Nothing outside the queries folder is opened for a client.
    if (!isUsableFunctionName(r.name) || !steps.functionFileExists(r, s)) {
        log(QStringLiteral("{ClientExecute} Name request from Client not found !!! "));
        sendAnswer(conn, ErrorAnswer(QStringLiteral("Name request from Client not found")), AnswerEncoding::SingleByte);
        return;
    }

    const PreparationResult preparation = steps.prepareQuery(r, s);
    const QString& prepared = preparation.text;
    const QString& msg = preparation.error;
    if (!msg.isEmpty()) {
        // the message may hold request values
        log(QStringLiteral("{ClientExecute} Error prepared query [") + oneLine(msg) + QStringLiteral("] !!! "));
        sendAnswer(conn, ErrorAnswer(QStringLiteral("Error in during preparing query (") + msg + u')'),
                   AnswerEncoding::SingleByte);
        return;
    }

    const bool cacheInUse = s.EnabledCaching && !trim(s.PathToCache).isEmpty();
    QString cacheKey;
    if (cacheInUse) {
        CacheLookupResult cached = steps.answerFromCache(r, s, prepared);
        if (cached.hit) {
            conn.send(std::move(*cached.hit));
            log(QStringLiteral("{ClientExecute} Data for client was sent from cache !!! "));
            steps.countRequest();
            return;
        }
        cacheKey = std::move(cached.key);
    }

    const WireAnswer answer = steps.saveQueryAs(r, s, prepared);
    if (answer.failed() || (!answer.wire.file && isBlank(answer.wire.bytes))) {
        log(QStringLiteral("{ClientExecute} Query or result is wrong !!! "));
        return;
    }
    // What the client does not take at once goes on from the listener's watching thread.
    conn.send(answer.wire);
    log(QStringLiteral("{ClientExecute} Was succesful sent answer for client !!! "));
    steps.countRequest();
    // A cache folder deleted meanwhile is made again by the store.
    if (answer.cacheable && cacheInUse) steps.storeInCache(r, s, cacheKey, answer);
}

}  // namespace veldra
