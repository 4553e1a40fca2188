#pragma once
// The wire form of answers: the fixed answers, the two byte encodings and the sends.
#include <QByteArray>
#include <QString>

namespace veldra {

class ClientConnection;

// The contact address written into the black-list and error answers.
inline constexpr const char* kContactEmail = "support@veldra.example";

enum class AnswerEncoding {
    SingleByte,  // one byte per character, Windows-1252 ("?" for characters without a code)
    Utf8,        // the whole text as UTF-8, no byte-order mark
};

// SingleByte for the text formats "csv[;]", "csv[,]", "txt[tab]" (any letter case), Utf8 otherwise.
AnswerEncoding encodingForFormat(const QString& formatName);
QByteArray answerBytes(const QString& answer, AnswerEncoding encoding);

// The unguarded send: a failure reaches the caller.
void sendAnswer(ClientConnection& connection, const QString& answer, AnswerEncoding encoding);

}  // namespace veldra
