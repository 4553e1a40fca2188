#pragma once
// Running a prepared query on the work database and building the complete answer text
// in one of the five formats: "CSV[;]", "CSV[,]", "TXT[TAB]", "XML", "JSON" (any case).
#include <QString>

#include "db/dbconnection.h"

namespace veldra {

class TServerThread;

// The fields of the request record that the answer is built from.
struct SaveQueryRequest {
    bool TestClient = true;
    QString DateActive;
    QString NameRequest;
    QString InputParameters;
    QString _email;
    QString _seccode;
    QString address;  // the client's dotted address, for log lines
    qintptr handle = 0;

    static SaveQueryRequest from(const TServerThread& request);
};

// Runs `preparedQuery` on a connection of its own made with `work`, and returns the
// answer text: status line, headers, empty line, body. An empty result is answered with
// the "[nocache]" marker in front of the status line. A failure (no connection, a
// rejected statement, a statement without rows, a connection lost while reading) is
// logged as "{_SaveQueryAS} WrongQuery !!! " and gives an empty text. Never throws.
// Log lines go through Logger, so call it from a request thread or the main thread.
QString _SaveQueryAS(const SaveQueryRequest& request, const QString& preparedQuery, const QString& formatName,
                     const DbParams& work);
// The same for a request record, in its NecessaryFormatAnswer.
QString _SaveQueryAS(const TServerThread& request, const QString& preparedQuery, const DbParams& work);

// "test client - data is modified", or "Final date of use : " + DateActive.
QString statusText(const SaveQueryRequest& request);

// For a test client, a value longer than 2 that is not blank is cut to length*4/5 UTF-16
// code units followed by "..."; otherwise the value is returned unchanged.
QString CutValueForTestClient(const QString& value, bool testClient);
// The request's parameter values as "[v1;v2;...]" for attachment file names, with the
// request's e-mail and secure code removed (letter case ignored); empty without values.
QString ListValuesForFileName(const QString& inputParameters, const QString& email, const QString& seccode);

// The file name as it goes into the Content-Disposition line: control characters and
// double quotes, which would break the header, become "_".
QString attachmentFileName(const QString& name);

// Every double quote doubled.
QString DoubleQuotesForCsv(const QString& text);
// A JSON string's content: " and \ get a backslash, backspace, form feed, line feed,
// return and tab become \b \f \n \r \t, every other character below 0x20 becomes \u00xx
// (lower-case hex); everything else is unchanged.
QString EscapeQuotesForJson(const QString& text);
// XML character data: " & < > become &quot; &amp; &lt; &gt;; the backslash and the
// characters 160..255 become decimal character references (&#92;, &#233;); characters
// that XML 1.0 does not allow (controls other than tab, LF and CR, U+FFFE, U+FFFF,
// unpaired surrogates) become U+FFFD; everything else is copied unchanged.
QString EscapeTextForXml(const QString& text);
// An element name for a column: a valid XML name is returned as it is; otherwise every
// character other than a letter, a digit, "_", "-" or "." becomes "_", and "_" is put
// in front when the first character is not a letter or "_". An empty name gives "_".
QString XmlNameForColumn(const QString& name);

}  // namespace veldra
