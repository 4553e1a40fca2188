// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/answers.h"

#include "common/cp1252.h"
#include "server/connection.h"

namespace veldra {

QByteArray answerBytes(const QString& answer, AnswerEncoding encoding)
{
    return encoding == AnswerEncoding::SingleByte ? cp1252::encode(answer) : answer.toUtf8();
}

void sendAnswer(ClientConnection& connection, const QString& answer, AnswerEncoding encoding)
{
    connection.send(answerBytes(answer, encoding));
}

}  // namespace veldra

#include "common/errors.h"
#include "common/eventlog.h"
#include "common/files.h"
#include "common/text.h"

namespace veldra {

QString ShareListAnswer()
{
    const QString text =
        decodeText(readFileBytes(programFile(QStringLiteral("ListAndDescriptionShareFunction.txt"))), NoBomEncoding::Cp1252);
    QString answer = QString::fromLatin1(kFixedAnswerHeader);
    for (const QString& line : splitLines(text)) answer += line + QLatin1String("\r\n");
    return answer;
}

QString BlackListAnswer()
{
    return QString::fromLatin1(kFixedAnswerHeader) + QLatin1String("Client is blocked. For get more info ") +
           QLatin1String(kContactEmail);
}

QString ErrorAnswer(const QString& message)
{
    return QString::fromLatin1(kFixedAnswerHeader) + QLatin1String("Error [") + message +
           QLatin1String("]. For get more info ") + QLatin1String(kContactEmail);
}

void SendAnswerForClient(ClientConnection& connection, const QString& answer, ShareListKind kind)
{
    const QString routine = kind == ShareListKind::ShareListFunction
                                ? QStringLiteral("{SendAnswerForClient[ShareListFunction]} ")
                                : QStringLiteral("{SendAnswerForClient[AnswerForBlackList]} ");
    QString line;
    try {
        sendAnswer(connection, answer, AnswerEncoding::SingleByte);
        line = standardLogLine(routine + QLatin1String("Msg was sent "), connection.peerAddress(), connection.handle());
    } catch (...) {
        line = standardLogLine(routine + QLatin1String("Error in during send data for clien "), connection.peerAddress(),
                               connection.handle()) +
               u'\t' + currentErrorDetails();
    }
    Logger(line);
}

}  // namespace veldra
