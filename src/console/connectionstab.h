// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "  CONNECT WITH MYSQL  " tab: the five fields of the client database and of the
// work database, each group under its status line, the save-connections picture
// button, the error area and TEST CONNECT. Every edit goes straight into the page values.
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace veldra {

class OperatorUi;
class ServerControl;
struct ConnectionFields;
struct SettingsPage;
struct StatusLine;

class ConnectionsTab : public QWidget {
    Q_OBJECT
public:
    ConnectionsTab(ServerControl& control, OperatorUi& ui, QWidget* parent = nullptr);

    // Shows the page values (after they were read from the settings file).
    void showValues();
    // Shows both status lines and the error area as the connections stand.
    void refresh();

    // One group of five fields: IP, PORT, DATABASE, USER, PASWORD.
    struct Fields {
        QLineEdit* ip = nullptr;
        QLineEdit* port = nullptr;
        QLineEdit* database = nullptr;
        QLineEdit* user = nullptr;
        QLineEdit* psw = nullptr;
    };
    const Fields& clientFields() const { return m_client; }
    const Fields& workFields() const { return m_work; }
    QLabel* clientStatus() const { return m_clientStatus; }
    QLabel* workStatus() const { return m_workStatus; }
    QPlainTextEdit* errorArea() const { return m_errors; }
    QPushButton* testConnectButton() const { return m_testConnect; }
    QPushButton* saveConnectionsButton() const { return m_save; }

private:
    QWidget* group(const QString& title, const QString& namePrefix, Fields& fields, QLabel*& status);
    void bind(const Fields& fields, ConnectionFields SettingsPage::*section);
    static void showLine(QLabel* label, const StatusLine& line);

    ServerControl& m_control;
    OperatorUi& m_ui;
    bool m_showing = false;
    Fields m_client;
    Fields m_work;
    QLabel* m_clientStatus = nullptr;
    QLabel* m_workStatus = nullptr;
    QPushButton* m_save = nullptr;
    QPlainTextEdit* m_errors = nullptr;
    QPushButton* m_testConnect = nullptr;
};

}  // namespace veldra
