// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wire form of answers: the fixed answers, the two byte encodings and the sends.
#include <QByteArray>
#include <QString>

#include "common/answerformat.h"
#include "server/outgoing.h"

namespace veldra {

class ClientConnection;

// The contact address written into the black-list and error answers.
inline constexpr const char* kContactEmail = "support@veldra.example";

// A query's answer as it goes on the wire, and what the cache needs to store it.
struct WireAnswer {
    // Status line, header lines, empty line and body, in memory or (a large answer) in
    // a file; empty when the query failed.
    Outgoing wire;
    // The folder of that file, when the answer went on into one.
    QString fileFolder;
    // False for the answer to a result without rows, which is never cached.
    bool cacheable = false;
    // Text formats: the header lines and the empty line as the cache file holds them
    // (UTF-8), and the number of bytes they take at the start of `bytes`.
    QByteArray cacheHead;
    qsizetype wireHeadSize = 0;

    bool failed() const { return wire.isEmpty(); }
};

QByteArray answerBytes(const QString& answer, AnswerEncoding encoding);

// The unguarded send: a failure reaches the caller.
void sendAnswer(ClientConnection& connection, const QString& answer, AnswerEncoding encoding);

// Status line, Connection and Content-Type lines and the empty line of the fixed answers.
inline constexpr const char* kFixedAnswerHeader =
    "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Type: text/plain\r\n\r\n";

// The published list of functions from the share-list file of the program folder,
// every line ending with CR LF. Throws FileError when the file cannot be read.
QString ShareListAnswer();
QString BlackListAnswer();
// "Error [" message "]. For get more info " and the contact address, after the fixed header.
QString ErrorAnswer(const QString& message);

enum class ShareListKind { ShareListFunction, AnswerForBlackList };

// Sends a share-list or black-list answer single-byte and logs the outcome; a failed
// send is logged and goes no further.
void SendAnswerForClient(ClientConnection& connection, const QString& answer, ShareListKind kind);

}  // namespace veldra
