#pragma once
// The listening socket of the server: all local IPv4 addresses, a backlog of 5, an
// accepting thread of its own and one request thread per accepted connection.
#include <QString>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace veldra {

class ClientConnection;
class ServerContext;

class HttpServer {
public:
    // `countConnection` runs in the main thread once per accepted connection.
    HttpServer(ServerContext& context, std::function<void()> countConnection);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Starts listening on `port`; throws SocketError with the system's message.
    void open(quint16 port);
    // Main thread: stops accepting, closes the listening socket, ends every open
    // connection and waits, serving hand-overs, until every request thread has ended.
    void close();
    bool isOpen() const { return m_listenFd >= 0; }
    quint16 port() const { return m_port; }

    struct OpenConnection {
        QString address;
        qintptr handle = -1;
        std::shared_ptr<ClientConnection> connection;
        // Ends the connection; its request thread finishes on its own.
        void abort() const;
    };
    // The connections whose request threads still run, in the order they were accepted.
    std::vector<OpenConnection> openConnections() const;

private:
    struct Worker {
        std::shared_ptr<ClientConnection> connection;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void acceptLoop();
    // httpserverGetThread: starts the request thread of one accepted connection,
    // logs it and has the main thread count it.
    void httpserverGetThread(int fd, const QString& address);
    // Joins the request threads that have ended.
    void reapFinished();

    ServerContext& m_context;
    std::function<void()> m_countConnection;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    quint16 m_port = 0;
    std::thread m_acceptThread;
    std::atomic<bool> m_acceptEnded{true};
    mutable std::mutex m_mutex;
    std::list<Worker> m_workers;  // accept order
};

}  // namespace veldra
