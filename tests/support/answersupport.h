// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text form of answers that tests compare with: "[nocache]" in front of an answer
// that is not cacheable, the bytes decoded as their encoding; empty for a failed query.
#include <QString>
#include <optional>

#include "answers/savequeryas.h"
#include "common/cp1252.h"
#include "server/answers.h"
#include "server/request.h"
#include "support/outgoingsupport.h"

namespace veldra {

inline QString answerText(const WireAnswer& answer, AnswerFormat format)
{
    if (answer.failed()) return QString();
    const QByteArray bytes = bytesOf(answer.wire);
    const QString text = format.encoding() == AnswerEncoding::SingleByte ? cp1252::decode(bytes) : QString::fromUtf8(bytes);
    return answer.cacheable ? text : QStringLiteral("[nocache]") + text;
}

// The other way round, for an answer text with "[nocache]" where it applies.
inline WireAnswer wireAnswer(const QString& answerText, AnswerFormat format)
{
    WireAnswer a;
    const QString noCache = QStringLiteral("[nocache]");
    a.cacheable = !answerText.startsWith(noCache);
    const QString text = a.cacheable ? answerText : answerText.mid(noCache.size());
    a.wire.bytes = answerBytes(text, format.encoding());
    if (format.isText()) {
        const qsizetype end = text.indexOf(QLatin1String("\r\n\r\n"));
        const QString head = end < 0 ? QString() : text.left(end + 4);
        a.cacheHead = head.toUtf8();
        a.wireHeadSize = head.size();  // one byte per character
    }
    return a;
}

// SaveQueryAnswer as that text, in the request's format.
inline QString _SaveQueryAS(const Request& request, const QString& preparedQuery, const DbParams& work,
                            DbConnectionPool* pool = nullptr)
{
    const WireAnswer answer = SaveQueryAnswer(request, preparedQuery, work, pool);
    return request.format ? answerText(answer, *request.format) : QString();
}
// The same with the format named: a name that is none of the five (AnswerFormat::fromName)
// leaves the request without a format.
inline QString _SaveQueryAS(Request request, const QString& preparedQuery, const QString& formatName, const DbParams& work,
                            DbConnectionPool* pool = nullptr)
{
    request.format = AnswerFormat::fromName(formatName);
    return _SaveQueryAS(request, preparedQuery, work, pool);
}

}  // namespace veldra
