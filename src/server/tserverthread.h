// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The request pipeline on a request thread, ClientExecute: one GET request per
// connection. It parses the request, runs the steps (server/requeststeps.h), each of
// which reads the request and returns its result, and alone sends, logs and counts.
#include <QByteArray>
#include <QString>
#include <chrono>
#include <memory>

#include "config/serversettings.h"
#include "server/connection.h"

namespace veldra {

class ServerContext;

class TServerThread {
public:
    // `arrived`: what the client sent before its request counted as arrived (the
    // listener waits for the request line, 64 KiB or 5 seconds); empty when nothing but
    // blanks came.
    TServerThread(std::shared_ptr<ClientConnection> connection, const ServerContext& context, QByteArray arrived = {});

    // Serves the connection's one request. Failures that escape a step end the request
    // without an answer and are handed to the operator. The connection is left open,
    // with what the client has not taken yet of its answer pending, for the listener to
    // finish: write the rest as the client takes it and close the connection (when the
    // client sent more than its request, after ending the sending side and giving the
    // client up to closeWait to close its side), so that no request thread is held.
    void ClientExecute();
    static constexpr std::chrono::milliseconds closeWait{2000};

private:
    void execute();
    // The standard log line of this connection for `message`.
    QString logLine(const QString& message) const;
    // Writes logLine(message) to the event log.
    void log(const QString& message) const;

    std::shared_ptr<ClientConnection> m_connection;
    const ServerContext& m_context;
    // The running settings as they were when this request began.
    std::shared_ptr<const TServerSettings> m_settings;
    QByteArray m_arrived;
};

}  // namespace veldra
