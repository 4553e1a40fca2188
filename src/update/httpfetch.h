// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One plain-HTTP GET for the update's download, read by hand so that its end is known:
// a body is complete only when it reached its Content-Length or ended with the last
// chunk of a chunked transfer. A body that just stops (no length, or chunks without the
// last one) is not complete, however many bytes came. Follows the system's proxy
// settings (an HTTP proxy is asked with the whole address; a SOCKS proxy tunnels).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QTcpSocket;

namespace veldra {

class HttpFetch {
public:
    HttpFetch();
    ~HttpFetch();
    HttpFetch(const HttpFetch&) = delete;
    HttpFetch& operator=(const HttpFetch&) = delete;

    // Bytes of the body as they arrive (chunked transfer already undone).
    std::function<void(const QByteArray&)> onBody;
    // Called once, when the transfer has ended in any way.
    std::function<void()> onFinished;

    // Starts the request in the current thread's event loop.
    void start(const QUrl& url, const QByteArray& userAgent);
    // Ends the transfer now (not complete); onFinished follows.
    void abort();

    bool finished() const { return m_finished; }
    int status() const { return m_status; }
    // -1 when the answer sent none.
    qint64 contentLength() const { return m_contentLength; }
    // True when the body reached its Content-Length or its last chunk.
    bool complete() const { return m_complete; }
    qint64 received() const { return m_received; }
    // What went wrong; empty when nothing did.
    const QString& error() const { return m_error; }

private:
    void readSome();
    bool parseHead();
    void takeBody();
    void finish(const QString& error = QString());

    std::unique_ptr<QTcpSocket> m_socket;
    QObject m_context;  // owns the connections to the socket
    QByteArray m_request;
    QByteArray m_buffer;
    enum class State { Head, Body, ChunkSize, ChunkData, ChunkEnd, Done } m_state = State::Head;
    bool m_chunked = false;
    qint64 m_chunkLeft = 0;
    int m_status = 0;
    qint64 m_contentLength = -1;
    qint64 m_received = 0;
    bool m_complete = false;
    bool m_finished = false;
    QString m_error;
};

}  // namespace veldra
