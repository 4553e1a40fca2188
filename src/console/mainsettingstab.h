// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "  MAIN SETTINGS  " tab of the settings page: folders, caching, port, log size,
// the three times of day, the default answer format and the share-list name, with
// SAVE CHANGES, CREATE FOLDERS BY DEFAULT, the three "..." buttons and the port "Test".
// Every edit goes straight into the page values of ServerControl.
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace veldra {

class OperatorUi;
class ServerControl;
struct SettingsPage;

class MainSettingsTab : public QWidget {
    Q_OBJECT
public:
    MainSettingsTab(ServerControl& control, OperatorUi& ui, QWidget* parent = nullptr);

    // Shows the page values (after they were read from the settings file).
    void showValues();

    QLineEdit* pathToQueries() const { return m_queries; }
    QLineEdit* pathToLogs() const { return m_logs; }
    QLineEdit* pathToCache() const { return m_cache; }
    QCheckBox* enableCaching() const { return m_enabled; }
    QCheckBox* cleanOlderFiles() const { return m_older; }
    QCheckBox* cleanIfSumIsMore() const { return m_sum; }
    QCheckBox* cleanQuantityIsMore() const { return m_quantity; }
    QLineEdit* countDays() const { return m_days; }
    QLineEdit* sizeMb() const { return m_size; }
    QLineEdit* quantityFiles() const { return m_files; }
    QLineEdit* descriptionLink() const { return m_link; }
    QLineEdit* workingPort() const { return m_port; }
    QLineEdit* saveLogEachLines() const { return m_logLines; }
    QLineEdit* resaveTimeLog() const { return m_resave; }
    QLineEdit* reloadClientAccess() const { return m_reloadClients; }
    QLineEdit* reloadCaches() const { return m_reloadCaches; }
    QComboBox* answerFormat() const { return m_format; }
    QLineEdit* shareListName() const { return m_shareList; }
    QPushButton* saveChangesButton() const { return m_save; }
    QPushButton* createFoldersButton() const { return m_createFolders; }
    QPushButton* chooseQueriesButton() const { return m_chooseQueries; }
    QPushButton* chooseLogsButton() const { return m_chooseLogs; }
    QPushButton* chooseCacheButton() const { return m_chooseCache; }
    QPushButton* testPortButton() const { return m_testPort; }

private:
    void bindText(QLineEdit* field, QString SettingsPage::*member);
    void saveChanges();
    void createFolders();
    void chooseFolder(QLineEdit* field);
    void testPort();

    ServerControl& m_control;
    OperatorUi& m_ui;
    bool m_showing = false;
    QLineEdit* m_queries = nullptr;
    QLineEdit* m_logs = nullptr;
    QLineEdit* m_cache = nullptr;
    QPushButton* m_chooseQueries = nullptr;
    QPushButton* m_chooseLogs = nullptr;
    QPushButton* m_chooseCache = nullptr;
    QPushButton* m_createFolders = nullptr;
    QCheckBox* m_enabled = nullptr;
    QCheckBox* m_older = nullptr;
    QCheckBox* m_sum = nullptr;
    QCheckBox* m_quantity = nullptr;
    QLineEdit* m_days = nullptr;
    QLineEdit* m_size = nullptr;
    QLineEdit* m_files = nullptr;
    QLineEdit* m_link = nullptr;
    QLineEdit* m_port = nullptr;
    QPushButton* m_testPort = nullptr;
    QLineEdit* m_logLines = nullptr;
    QLineEdit* m_resave = nullptr;
    QLineEdit* m_reloadClients = nullptr;
    QLineEdit* m_reloadCaches = nullptr;
    QComboBox* m_format = nullptr;
    QLineEdit* m_shareList = nullptr;
    QPushButton* m_save = nullptr;
};

}  // namespace veldra
