// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The CLIENTACCESS page: "LOAD LISTS CLIENTS ACCESS", the white list with check boxes,
// its options and the client administration below it, and the black list with its
// blockings. The operations are those of ClientAdministration and ClientAccessLists.
#include <QWidget>
#include <memory>

#include "access/accesslists.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace veldra {

class ClientAdministration;
class OperatorUi;
class ServerControl;

class ClientAccessPage : public QWidget {
    Q_OBJECT
public:
    ClientAccessPage(ServerControl& control, OperatorUi& ui, QWidget* parent = nullptr);
    ~ClientAccessPage() override;

    // Shows the lists as last loaded, when they changed since they were last shown.
    void showLists();
    // COPY -> EMAIL / SECCODE of the white list's context menu.
    void copyFromSelected(const QString& tag);

    QPushButton* loadButton() const { return m_load; }
    QTabWidget* tabs() const { return m_tabs; }
    QListWidget* whiteList() const { return m_white; }
    QListWidget* blackList() const { return m_black; }
    QCheckBox* onlyActiveBox() const { return m_onlyActive; }
    QComboBox* sortByBox() const { return m_sortBy; }
    QPushButton* updateDateButton() const { return m_updateDate; }
    QDateEdit* updateDatePicker() const { return m_updateDatePicker; }
    QPushButton* moveToBlackButton() const { return m_move; }
    QLineEdit* emailField() const { return m_email; }
    QLineEdit* seccodeField() const { return m_seccode; }
    QPushButton* generateButton() const { return m_generate; }
    QDateEdit* toDatePicker() const { return m_toDate; }
    QLineEdit* noteField() const { return m_note; }
    QPushButton* createButton() const { return m_create; }
    QPushButton* deleteClientsButton() const { return m_deleteClients; }
    QPushButton* cleanWhiteButton() const { return m_cleanWhite; }
    QPushButton* addBlockingButton() const { return m_addBlocking; }
    QComboBox* blockTypeBox() const { return m_blockType; }
    QLineEdit* blockValueField() const { return m_blockValue; }
    QPushButton* deleteBlackButton() const { return m_deleteBlack; }
    QPushButton* cleanBlackButton() const { return m_cleanBlack; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildWhiteTab();
    QWidget* buildBlackTab();
    struct WhiteListSelection marked() const;
    QString selectedLine(QListWidget* list) const;
    void reload();
    void optionChanged();

    ServerControl& m_control;
    OperatorUi& m_ui;
    std::unique_ptr<ClientAdministration> m_admin;
    std::shared_ptr<const AccessLists> m_shown;

    QPushButton* m_load = nullptr;
    QTabWidget* m_tabs = nullptr;
    QListWidget* m_white = nullptr;
    QListWidget* m_black = nullptr;
    QCheckBox* m_onlyActive = nullptr;
    QComboBox* m_sortBy = nullptr;
    QPushButton* m_updateDate = nullptr;
    QDateEdit* m_updateDatePicker = nullptr;
    QPushButton* m_move = nullptr;
    QLineEdit* m_email = nullptr;
    QLineEdit* m_seccode = nullptr;
    QPushButton* m_generate = nullptr;
    QDateEdit* m_toDate = nullptr;
    QLineEdit* m_note = nullptr;
    QPushButton* m_create = nullptr;
    QPushButton* m_deleteClients = nullptr;
    QPushButton* m_cleanWhite = nullptr;
    QPushButton* m_addBlocking = nullptr;
    QComboBox* m_blockType = nullptr;
    QLineEdit* m_blockValue = nullptr;
    QPushButton* m_deleteBlack = nullptr;
    QPushButton* m_cleanBlack = nullptr;
};

}  // namespace veldra
