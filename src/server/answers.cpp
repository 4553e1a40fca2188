#include "server/answers.h"

#include "common/cp1252.h"
#include "server/connection.h"

namespace veldra {

AnswerEncoding encodingForFormat(const QString& formatName)
{
    const QString f = formatName.toLower();
    if (f == QLatin1String("csv[;]") || f == QLatin1String("csv[,]") || f == QLatin1String("txt[tab]"))
        return AnswerEncoding::SingleByte;
    return AnswerEncoding::Utf8;
}

QByteArray answerBytes(const QString& answer, AnswerEncoding encoding)
{
    return encoding == AnswerEncoding::SingleByte ? cp1252::encode(answer) : answer.toUtf8();
}

void sendAnswer(ClientConnection& connection, const QString& answer, AnswerEncoding encoding)
{
    connection.send(answerBytes(answer, encoding));
}

}  // namespace veldra
