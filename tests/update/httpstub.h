// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A web server for the update's tests, in the test's own thread: it answers each path
// with a canned response, and can cut a body short or stall.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace veldra::test {

struct StubResponse {
    int status = 200;
    QByteArray body;
    qint64 declaredLength = -1;  // Content-Length sent; -1: the body's size; -2: none
    bool stall = false;          // send the head and the first bytes, then nothing more
    // Transfer-Encoding: chunked (no Content-Length), in chunks of 1000 bytes; with
    // `cutChunks` the connection closes before the last chunk.
    bool chunked = false;
    bool cutChunks = false;
};

class HttpStub : public QObject {
public:
    HttpStub()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { serve(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    void route(const QByteArray& path, const StubResponse& r) { m_routes[path] = r; }

    QList<QByteArray> paths;       // requested paths, in order
    QList<QByteArray> userAgents;  // their User-Agent headers

private:
    void serve(QTcpSocket* s)
    {
        QByteArray& buf = m_pending[s];
        buf += s->readAll();
        if (!buf.contains("\r\n\r\n")) return;
        const QList<QByteArray> lines = buf.split('\n');
        const QByteArray path = lines.value(0).split(' ').value(1);
        paths << path;
        for (const QByteArray& l : lines)
            if (l.toLower().startsWith("user-agent:")) userAgents << l.mid(11).trimmed();
        m_pending.remove(s);

        const StubResponse r = m_routes.value(path, StubResponse{404, "not here\n"});
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " X\r\nConnection: close\r\n";
        const qint64 length = r.chunked ? -2 : r.declaredLength == -1 ? r.body.size() : r.declaredLength;
        if (length >= 0) head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        if (r.chunked) {
            head += "Transfer-Encoding: chunked\r\n\r\n";
            for (qsizetype at = 0; at < r.body.size(); at += 1000) {
                const QByteArray piece = r.body.mid(at, 1000);
                head += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
            }
            if (!r.cutChunks) head += "0\r\n\r\n";
            s->write(head);
            s->disconnectFromHost();
            return;
        }
        s->write(head + "\r\n");
        if (r.stall) {
            s->write(r.body.left(16));
            return;  // the socket stays open, silent
        }
        s->write(r.body);
        s->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, StubResponse> m_routes;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

inline const QByteArray kHistoryPath = "/download/versionhistoryforveldra.txt";
inline const QByteArray kProgramPath = "/services/apps/veldra/Veldra.exe";

}  // namespace veldra::test
