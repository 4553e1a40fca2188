// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Client administration: the operations of the CLIENTACCESS page on the tables
// clients_veldra and blacklist_veldra, the e-mail test and the secure-code generator.
//
// Every value the operator typed or a list line carried goes into the statements as an
// escaped string literal, and client ids must be whole numbers, so nothing typed can
// change a statement. Each change is followed by the reload of both lists.
#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>

#include "db/dbconnection.h"

namespace veldra {

class OperatorUi;

// The e-mail test: a state machine over the UTF-16 code units (local part of atoms or a
// quoted text, separated by dots; a domain of at least two parts, each starting with a
// letter, with letters, digits and inner hyphens).
bool IsValidEmailAddress(const QString& text);

// A new secure code: 16 bytes of the system's cryptographic random source written as
// 32 upper-case hexadecimal digits.
QString GenerateSecureCode();

// The id list "1,2,3" of white-list lines (the text between "<id>" and "</id>"; lines
// without one are left out); throws EConvertError for an id that is not a whole number.
QString clientIdList(const QStringList& whiteLines);

// The block type of a black-list line: IP, EMAIL or SECCODE by its closing marker, IP
// when it has none; and the value between that type's markers.
QString blockTypeOfLine(const QString& blackLine);
QString blockValueOfLine(const QString& blackLine);
// The statement that deletes the row a black-list line shows (its value as the line
// shows it, `escape` making string literals).
QString deleteBlackLineSql(const QString& type, const QString& value,
                           const std::function<QString(const QString&)>& escape);

// What the operations read of the page.
struct WhiteListSelection {
    int count = 0;        // lines in the white list
    QStringList marked;   // the ticked lines and the selected one, in list order
};

class ClientAdministration {
public:
    // `dataClients` is the client connection, tested for being open at every operation;
    // the statements run on a connection of their own with its parameters, so the window
    // keeps repainting while they run. `reload` reloads both lists.
    ClientAdministration(DbConnection& dataClients, OperatorUi& ui, std::function<void()> reload)
        : m_dataClients(dataClients), m_ui(ui), m_reload(std::move(reload))
    {
    }

    // CREATE CLIENT. Dates are compared without a time of day: today is accepted.
    void createClient(const QString& email, const QString& seccode, const QDate& toDate, const QString& note,
                      const QDate& today = QDate::currentDate());
    // UPDATE NEW END DATE FOR CLIENT(s).
    void updateEndDate(const WhiteListSelection& white, const QDate& date);
    // MOVE CLIENT(s) IN BLACK LIST.
    void moveToBlackList(const WhiteListSelection& white);
    // "Delete selected line(s)" and "Clean list" of the white list.
    void deleteSelectedClients(const WhiteListSelection& white);
    void cleanWhiteList(int whiteCount);
    // ADD NEW BLOCKING ->.
    void addNewBlocking(const QString& blockType, const QString& value);
    // "Delete selected line" (empty when none is selected) and "Clean list" of the black list.
    void deleteBlackLine(int blackCount, const QString& selectedLine);
    void cleanBlackList(int blackCount);

    // COPY -> EMAIL / SECCODE: the text to put on the clipboard, or "" (with the message
    // "Please select necessary line" when no line is selected).
    QString copyFromLine(int whiteCount, const QString& selectedLine, const QString& tag);

private:
    bool connected();
    // Runs `statements` (built on the connection for escaping) and the reload; a failure
    // shows `errorText` with the error. True when both succeeded.
    bool change(const QString& errorText, const std::function<QStringList(DbConnection&)>& statements);
    // The id list of the marked lines; false when it is empty or an id is not a number
    // (then shown with `errorText`).
    bool markedIds(const WhiteListSelection& white, const QString& errorText, QString& ids);

    DbConnection& m_dataClients;
    OperatorUi& m_ui;
    std::function<void()> m_reload;
};

}  // namespace veldra
