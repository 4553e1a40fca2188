#pragma once
// The main window: the left column with START/STOP and the page buttons, and the
// status page (clock, histogram, counts, memory line, event log).
#include <QMainWindow>
#include <memory>

#include "console/widgetoperator.h"
#include "monitor/servercontrol.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace veldra {

class UpdateButton;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    ServerControl& control() { return *m_control; }
    WidgetOperator& operatorUi() { return m_ui; }
    QPushButton* startStopButton() const { return m_startStop; }
    QPlainTextEdit* logView() const { return m_log; }
    // Shows the page of that name: STATUSPAGE, SERVERSETTINGS, CLIENTACCESS, CACHESETTINGS.
    void showPage(const QString& name);
    QString currentPage() const;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildStatusPage();
    QWidget* placeholderPage(const QString& heading, QWidget* content = nullptr);
    void refresh();

    WidgetOperator m_ui;
    std::unique_ptr<ServerControl> m_control;
    QStackedWidget* m_pages = nullptr;
    QPushButton* m_startStop = nullptr;
    QPushButton* m_update = nullptr;
    UpdateButton* m_updater = nullptr;
    QLabel* m_clock = nullptr;
    QListWidget* m_histogram = nullptr;
    QLabel* m_white = nullptr;
    QLabel* m_black = nullptr;
    QLabel* m_startLine = nullptr;
    QLabel* m_connections = nullptr;
    QLabel* m_requests = nullptr;
    QLabel* m_memory = nullptr;
    QPlainTextEdit* m_log = nullptr;
    class ClientAccessPage* m_clientAccess = nullptr;
    bool m_showingLog = false;  // the view follows the log: not the operator's typing
    bool m_shown = false;
    bool m_painted = false;
};

}  // namespace veldra
