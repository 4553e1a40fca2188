// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/httpfetch.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QTcpSocket>

namespace veldra {

namespace {

constexpr qsizetype kMaxHead = 64 * 1024;

}  // namespace

HttpFetch::HttpFetch() : m_socket(std::make_unique<QTcpSocket>()) {}

HttpFetch::~HttpFetch()
{
    QObject::disconnect(m_socket.get(), nullptr, &m_context, nullptr);
    m_socket->abort();
}

void HttpFetch::start(const QUrl& url, const QByteArray& userAgent)
{
    QString host = url.host();
    quint16 port = quint16(url.port(80));
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toLatin1();

    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    const QNetworkProxy proxy = proxies.value(0, QNetworkProxy(QNetworkProxy::NoProxy));
    if (proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy) {
        // a plain-HTTP proxy takes the whole address as the request target
        target = url.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo);
        host = proxy.hostName();
        port = proxy.port();
        m_socket->setProxy(QNetworkProxy::NoProxy);
        if (!proxy.user().isEmpty())
            m_request = "Proxy-Authorization: Basic " + (proxy.user() + u':' + proxy.password()).toUtf8().toBase64() + "\r\n";
    } else {
        m_socket->setProxy(proxy.type() == QNetworkProxy::DefaultProxy ? QNetworkProxy(QNetworkProxy::NoProxy) : proxy);
    }
    QByteArray hostHeader = url.host(QUrl::FullyEncoded).toLatin1();
    if (url.port() > 0 && url.port() != 80) hostHeader += ':' + QByteArray::number(url.port());
    m_request = "GET " + target + " HTTP/1.1\r\nHost: " + hostHeader + "\r\nUser-Agent: " + userAgent +
                "\r\nAccept-Encoding: identity\r\nConnection: close\r\n" + m_request + "\r\n";

    QObject::connect(m_socket.get(), &QTcpSocket::connected, &m_context, [this] { m_socket->write(m_request); });
    QObject::connect(m_socket.get(), &QTcpSocket::readyRead, &m_context, [this] { readSome(); });
    QObject::connect(m_socket.get(), &QTcpSocket::disconnected, &m_context, [this] {
        readSome();
        finish();
    });
    QObject::connect(m_socket.get(), &QTcpSocket::errorOccurred, &m_context, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError) return;  // the disconnect ends it
        readSome();
        finish(m_socket->errorString());
    });
    m_socket->connectToHost(host, port);
}

void HttpFetch::abort() { finish(QStringLiteral("aborted")); }

void HttpFetch::readSome()
{
    if (m_finished) return;
    m_buffer += m_socket->readAll();
    if (m_state == State::Head && !parseHead()) return;
    takeBody();
}

bool HttpFetch::parseHead()
{
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_buffer.size() > kMaxHead) finish(QStringLiteral("answer head too long"));
        return false;
    }
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end + 4);
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    bool ok = false;
    m_status = statusLine.value(1).toInt(&ok);
    if (!statusLine.value(0).startsWith("HTTP/1.") || !ok) {
        finish(QStringLiteral("not an HTTP answer"));
        return false;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool digits = !value.isEmpty();
            for (char c : value) digits = digits && c >= '0' && c <= '9';
            const qint64 length = value.toLongLong(&ok);
            if (!digits || !ok || (m_contentLength >= 0 && m_contentLength != length)) {
                finish(QStringLiteral("bad Content-Length"));
                return false;
            }
            m_contentLength = length;
        } else if (name == "transfer-encoding") {
            // only "chunked" alone is understood: other codings would hand over other bytes
            if (value.toLower() != "chunked") {
                finish(QStringLiteral("unsupported Transfer-Encoding"));
                return false;
            }
            m_chunked = true;
        }
    }
    if (m_chunked) m_contentLength = -1;  // the chunks decide
    m_state = m_chunked ? State::ChunkSize : State::Body;
    if (!m_chunked && m_contentLength == 0) {
        m_complete = true;
        finish();
        return false;
    }
    return true;
}

void HttpFetch::takeBody()
{
    auto deliver = [this](const QByteArray& bytes) {
        if (bytes.isEmpty()) return;
        m_received += bytes.size();
        if (onBody) onBody(bytes);
    };
    while (!m_finished && !m_buffer.isEmpty()) {
        switch (m_state) {
        case State::Body: {
            QByteArray bytes;
            if (m_contentLength >= 0) {
                bytes = m_buffer.left(m_contentLength - m_received);
                m_buffer.clear();  // anything after the length is not part of the body
            } else {
                bytes = std::exchange(m_buffer, QByteArray());
            }
            deliver(bytes);
            if (m_contentLength >= 0 && m_received == m_contentLength) {
                m_complete = true;
                finish();
            }
            break;
        }
        case State::ChunkSize: {
            const qsizetype eol = m_buffer.indexOf("\r\n");
            if (eol < 0) {
                if (m_buffer.size() > 1024) finish(QStringLiteral("bad chunk size"));
                return;
            }
            QByteArray size = m_buffer.left(eol);
            m_buffer.remove(0, eol + 2);
            if (const qsizetype semi = size.indexOf(';'); semi >= 0) size.truncate(semi);
            bool ok = false;
            m_chunkLeft = size.trimmed().toLongLong(&ok, 16);
            if (!ok || m_chunkLeft < 0 || size.trimmed().isEmpty()) {
                finish(QStringLiteral("bad chunk size"));
                return;
            }
            if (m_chunkLeft == 0) {
                // the last chunk: the body is whole (trailers, if any, are not needed)
                m_complete = true;
                finish();
                return;
            }
            m_state = State::ChunkData;
            break;
        }
        case State::ChunkData: {
            const QByteArray bytes = m_buffer.left(m_chunkLeft);
            m_buffer.remove(0, bytes.size());
            m_chunkLeft -= bytes.size();
            deliver(bytes);
            if (m_chunkLeft == 0) m_state = State::ChunkEnd;
            break;
        }
        case State::ChunkEnd:
            if (m_buffer.size() < 2) return;
            if (!m_buffer.startsWith("\r\n")) {
                finish(QStringLiteral("bad chunk end"));
                return;
            }
            m_buffer.remove(0, 2);
            m_state = State::ChunkSize;
            break;
        case State::Head:
        case State::Done:
            return;
        }
    }
}

void HttpFetch::finish(const QString& error)
{
    if (m_finished) return;
    m_finished = true;
    m_state = State::Done;
    if (!m_complete && m_error.isEmpty()) m_error = error.isEmpty() ? QStringLiteral("the answer ended early") : error;
    QObject::disconnect(m_socket.get(), nullptr, &m_context, nullptr);
    m_socket->abort();
    if (onFinished) onFinished();
}

}  // namespace veldra
