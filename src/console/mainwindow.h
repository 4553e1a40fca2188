// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: the left column (" Update program", START/STOP and the four page
// buttons) and the four pages, each a widget of its own. The window gathers nothing
// itself: the pages write their values into ServerControl, ask the operator through
// WidgetOperator and show the results.
#include <QMainWindow>
#include <memory>

#include "console/inputguard.h"
#include "console/widgetoperator.h"
#include "monitor/servercontrol.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTabWidget;

namespace veldra {

class CachePage;
class ConnectionsTab;
class MainSettingsTab;
class StatusPage;
class UpdateButton;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    ServerControl& control() { return *m_control; }
    WidgetOperator& operatorUi() { return m_widgetUi; }
    // Tests put their scripted operator in place of the dialogs.
    void setOperatorUi(OperatorUi& ui);
    QPushButton* startStopButton() const { return m_startStop; }
    QPushButton* updateButton() const { return m_update; }
    QPlainTextEdit* logView() const;

    // Shows the page of that name: STATUSPAGE, SERVERSETTINGS, CLIENTACCESS, CACHESETTINGS.
    void showPage(const QString& name);
    QString currentPage() const;
    // The SERVERSETTINGS page with its "  CONNECT WITH MYSQL  " tab in front.
    void showConnectTab();

    StatusPage* statusPage() const { return m_statusPage; }
    MainSettingsTab* mainSettingsTab() const { return m_mainSettings; }
    ConnectionsTab* connectionsTab() const { return m_connections; }
    CachePage* cachePage() const { return m_cachePage; }
    QTabWidget* settingsTabs() const { return m_settingsTabs; }
    // The word of what the window waits for; empty when it waits for nothing.
    QString waitText() const;
    // True during a long wait; assistive technology reads it as the window's busy state.
    bool busy() const { return m_busy; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildLeftColumn();
    QWidget* buildSettingsPage();
    // The editor of query functions and the client-access page come from their own files.
    QWidget* buildRequestsTab();
    QWidget* buildClientAccessPage();
    void refresh();
    void beginWait(const QString& what);
    void endWait();
    // The busy state that assistive technology reads, and what the window waits for.
    void showBusy(bool busy, const QString& what);

    WidgetOperator m_widgetUi;
    // Talks to the operator: m_widgetUi, or what a test put in its place.
    class ForwardingUi : public OperatorUi {
    public:
        explicit ForwardingUi(OperatorUi* target) : target(target) {}
        void showMessage(const QString& text) override { target->showMessage(text); }
        void showError(const QString& text) override { target->showError(text); }
        void openFailureBox(const QString& text, std::function<void()> closed) override
        {
            target->openFailureBox(text, std::move(closed));
        }
        void updateFailureBox(const QString& text) override { target->updateFailureBox(text); }
        bool askYesNo(const QString& question) override { return target->askYesNo(question); }
        QString chooseFolder(const QString& start) override { return target->chooseFolder(start); }
        void openWithItsProgram(const QString& path) override { target->openWithItsProgram(path); }
        OperatorUi* target;
    };
    ForwardingUi m_forwardingUi{&m_widgetUi};
    InputGuard m_inputGuard{this};  // while START or STOP runs; outlives m_control, which may STOP
    std::unique_ptr<ServerControl> m_control;
    QStackedWidget* m_pages = nullptr;
    QPushButton* m_startStop = nullptr;
    QPushButton* m_update = nullptr;
    UpdateButton* m_updater = nullptr;
    StatusPage* m_statusPage = nullptr;
    QTabWidget* m_settingsTabs = nullptr;
    MainSettingsTab* m_mainSettings = nullptr;
    ConnectionsTab* m_connections = nullptr;
    CachePage* m_cachePage = nullptr;
    QLabel* m_waitLabel = nullptr;
    class ClientAccessPage* m_clientAccess = nullptr;
    bool m_shown = false;
    bool m_painted = false;
    bool m_busy = false;
};

}  // namespace veldra
