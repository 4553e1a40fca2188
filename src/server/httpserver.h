// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The listening socket of the server: all local IPv4 addresses, a backlog of SOMAXCONN,
// and one watching thread that accepts connections and waits for their requests. A
// connection holds no thread until its request line has arrived (or 64 KiB, or 5
// seconds have passed); then a request thread from a bounded pool serves it. What of
// the answer the client does not take at once, the watching thread writes as the socket
// drains, without waiting on it (a client that takes nothing for 60 seconds loses its
// connection); the request thread is free at once. Once the answer has gone, the
// connection is closed; when the client has sent more than its request, which closing
// would answer with a reset that can cost it the end of its answer, the watching thread
// ends the sending side first and holds the connection until the client has closed its
// side (or 2 seconds have passed).
#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/mainthread.h"

namespace veldra {

class ClientConnection;
class DbCancel;
class ServerContext;
class ThreadPool;

class HttpServer {
public:
    // At most this many requests are served at once; the others wait their turn.
    static constexpr int kMaxRequestThreads = 256;
    // What a client may send before its request counts as arrived.
    static constexpr qsizetype kMaxRequestBytes = 64 * 1024;
    static constexpr std::chrono::seconds kRequestWait{5};

    // `countConnection` runs in the main thread once per accepted connection.
    HttpServer(ServerContext& context, std::function<void()> countConnection);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Starts listening on `port`; throws SocketError with the system's message.
    void open(quint16 port);
    // Ends every database wait of the requests being served: their queries fail.
    void cancelDatabaseWork();
    // Main thread: stops accepting, closes the listening socket, ends every open
    // connection and its database work, and waits, serving hand-overs, until every
    // request has ended.
    void close();
    bool isOpen() const { return m_listenFd >= 0; }
    quint16 port() const { return m_port; }

    struct OpenConnection {
        QString address;
        qintptr handle = -1;
        std::shared_ptr<ClientConnection> connection;
        // Ends the connection; its request finishes on its own.
        void abort() const;
    };
    // The connections whose requests have not ended, in the order they were accepted.
    std::vector<OpenConnection> openConnections() const;

private:
    // A connection whose request has not arrived yet (watching thread only).
    struct Waiting {
        std::shared_ptr<ClientConnection> connection;
        QByteArray arrived;
        std::chrono::steady_clock::time_point deadline;
        bool ended = false;    // the client closed its side: nothing more can come
        bool watched = false;  // in the epoll set
        std::list<std::shared_ptr<ClientConnection>>::iterator open;
        std::list<Waiting>::iterator self;
    };

    // A connection whose answer has gone, waiting for the client to close its side.
    struct Closing {
        std::shared_ptr<ClientConnection> connection;
        std::list<std::shared_ptr<ClientConnection>>::iterator open;
        std::chrono::steady_clock::time_point deadline;
        std::list<Closing>::iterator self;
    };

    // A connection whose answer is still being written as the client takes it.
    struct Sending {
        std::shared_ptr<ClientConnection> connection;
        std::list<std::shared_ptr<ClientConnection>>::iterator open;
        std::chrono::steady_clock::time_point deadline;  // the last progress + kSendStall
        std::list<Sending>::iterator self;
    };

    void watch();
    // Watching thread: writes what the socket takes of a sending connection's answer.
    void writeSending(Sending* s);
    // Under m_closingMutex: the connection waits for the client to close its side;
    // false when it could not be watched (it is to be closed then).
    bool startClosing(const std::shared_ptr<ClientConnection>& connection,
                      std::list<std::shared_ptr<ClientConnection>>::iterator open, bool added);
    // Request thread: hands a connection whose request has ended to the watch, which
    // closes it once the client has closed its side or the wait is over.
    void closeInWatch(std::shared_ptr<ClientConnection> connection,
                      std::list<std::shared_ptr<ClientConnection>>::iterator open);
    // Watching thread: takes and drops what arrived on a closing connection.
    void readClosing(Closing* c);
    // Closes the closing connections whose wait is over (all with `all`); the time to
    // the next deadline, -1 for none.
    int endClosing(bool all);
    void acceptWaiting();
    // httpserverGetThread: takes one accepted connection into the watch, logs it and
    // has the main thread count it.
    void httpserverGetThread(int fd, const QString& address);
    // Takes what has arrived; false when the connection left the watch (handed over or
    // dropped), which ends `w`.
    bool readArrived(Waiting& w);
    void unwatch(Waiting& w);
    // Gives the connection with what has arrived to a request thread.
    void handOver(Waiting& w);
    // Closes a connection without a request (STOP ended it) and forgets it.
    void drop(Waiting& w);
    void forget(std::list<std::shared_ptr<ClientConnection>>::iterator open);

    ServerContext& m_context;
    mainthread::CoalescedCount m_connectionCount;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_epollFd = -1;
    quint16 m_port = 0;
    std::thread m_watchThread;
    std::atomic<bool> m_watchEnded{true};
    std::list<Waiting> m_waiting;  // accept order, so deadline order
    int m_closingWakeFd = -1;  // the first closing connection: the watch takes its deadline
    std::mutex m_closingMutex;
    bool m_closingWatched = false;  // the watch takes closing connections (under m_closingMutex)
    std::list<Closing> m_closing;   // deadline order
    std::list<Sending> m_sending;   // deadline order
    QByteArray m_dropped;           // what closing clients still send (watching thread)
    std::unique_ptr<ThreadPool> m_pool;
    std::unique_ptr<DbCancel> m_cancel;
    mutable std::mutex m_mutex;
    std::list<std::shared_ptr<ClientConnection>> m_open;  // accept order
};

}  // namespace veldra
