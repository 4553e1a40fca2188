// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The request line and its query string: the function name, the parameter list text,
// the answer format and the client's credentials.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include "common/errors.h"
#include "server/request.h"

namespace veldra {

// A malformed percent escape in the query string.
class DecodeError : public Error {
public:
    explicit DecodeError(const QString& message) : Error(QStringLiteral("EDecodeError"), message) {}
};

// What a request starts with before its text is read: the settings' answer format,
// today's date (short form) and the client.
struct RequestDefaults {
    std::optional<AnswerFormat> format;
    QString dateActive;
    QString address;
    qintptr handle = 0;
};

// The request of `requestText`: the function name, the parameter list and, when the
// request names them, the answer format (else the default), the e-mail and the secure
// code (in lower case); a test client until the access decision says otherwise. The
// parameter list stays empty without a name. Throws DecodeError for a malformed percent
// escape.
Request ParseRequest(const QString& requestText, const RequestDefaults& defaults);

// The parameter list text of a request target ("/" name ["?" query string]):
// "<name[i]>..</name[i]><value[i]>..</value[i]>" lines joined by CR LF, then
// "<paramcount>N</paramcount>". Names and values are carried with "&" as "&amp;" and "<"
// as "&lt;", so that a value holding the list's own markers changes no other parameter
// and no count; ParameterListReader reads them back. Throws DecodeError.
QString ParseQueryParameters(const QString& target);

// Percent-decoding of one item: "+" is a blank, "%%" one "%", "%XX" the byte XX.
// Throws DecodeError with the position of the byte after the "%".
QByteArray PercentDecode(const QByteArray& bytes);

// The values of one parameter list, read by the list's marker rules but without
// searching the whole text again for every index.
class ParameterListReader {
public:
    explicit ParameterListReader(const QString& list);
    // The text between "<paramcount>" and "</paramcount>"; false when not a whole number.
    bool count(qint32& out) const;
    // True when the list contains "<name[i]>" word "</name[i]>".
    bool hasName(qint32 i, const QString& word) const;
    // The indexes i from 1 to `upTo` for which the list holds a "<name[i]>" marker, ascending.
    QList<qint32> nameIndexes(qint32 upTo) const;
    // The indexes i from 1 to `upTo` with a "<name[i]>" or a "<value[i]>" marker, ascending.
    QList<qint32> indexes(qint32 upTo) const;
    // The text between the first "<name[i]>" and the first "</name[i]>" after it, with
    // "&amp;" and "&lt;" read back; empty when either is missing.
    QString name(qint32 i) const;
    // The text between "<value[i]>" and "</value[i]>" (the first start marker, the first
    // end marker after it), read back the same way; empty when either is missing.
    QString value(qint32 i) const;

private:
    QString m_list;
    // Positions right after every "<name[i]>", by i, ascending.
    QHash<qint32, QList<qsizetype>> m_nameStarts;
    // Positions of every "</name[i]>", ascending, by i.
    QHash<qint32, QList<qsizetype>> m_nameEnds;
    // Position right after the first "<value[i]>", by i.
    QHash<qint32, qsizetype> m_valueStart;
    // Positions of every "</value[i]>", ascending, by i.
    QHash<qint32, QList<qsizetype>> m_valueEnds;
};

}  // namespace veldra
