// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The status page: the clock, "Open time log" and the histogram on the left; the list
// counts, the start line, both counts and the memory line on the right; the main-log
// button and the on-screen log across the bottom.
#include <QWidget>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace veldra {

class OperatorUi;
class ServerControl;

class StatusPage : public QWidget {
    Q_OBJECT
public:
    StatusPage(ServerControl& control, OperatorUi& ui, QWidget* parent = nullptr);
    ~StatusPage() override;

    // Shows the current state of the server, the counts and the histogram.
    void refresh();

    QLabel* clock() const { return m_clock; }
    QListWidget* histogram() const { return m_histogram; }
    QLabel* whiteBox() const { return m_white; }
    QLabel* blackBox() const { return m_black; }
    QLabel* startLine() const { return m_startLine; }
    QLabel* connections() const { return m_connections; }
    QLabel* requests() const { return m_requests; }
    QLabel* memory() const { return m_memory; }
    QPlainTextEdit* logView() const { return m_log; }
    QPushButton* openTimeLogButton() const { return m_openTimeLog; }
    QPushButton* mainLogButton() const { return m_mainLog; }

private:
    void followLog();

    ServerControl& m_control;
    OperatorUi& m_ui;
    QLabel* m_clock = nullptr;
    QPushButton* m_openTimeLog = nullptr;
    QListWidget* m_histogram = nullptr;
    QLabel* m_white = nullptr;
    QLabel* m_black = nullptr;
    QLabel* m_startLine = nullptr;
    QLabel* m_connections = nullptr;
    QLabel* m_requests = nullptr;
    QLabel* m_memory = nullptr;
    QPushButton* m_mainLog = nullptr;
    QPlainTextEdit* m_log = nullptr;
    bool m_showingLog = false;  // the view follows the log: not the operator's typing
};

}  // namespace veldra
