// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The status page: the clock, "Open time log" and the histogram on the left; the list
// counts, the start line, both counts and the memory line on the right; the main-log
// button and the on-screen log across the bottom.
#include <QStringList>
#include <QWidget>
#include <deque>

class QLabel;
class QTimer;
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

    // Shows the current state of the server, the counts, the histogram and the log lines
    // that arrived since.
    void refresh();
    // What changes with every request (the log lines, the histogram) is shown by one
    // refresh at most every kRefreshMs, whatever the load.
    void refreshSoon();
    static constexpr int kRefreshMs = 200;
    // The log view shows the last kMaxViewLines lines of the event log.
    static constexpr int kMaxViewLines = 1000;

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
    // Lines the log gained since they were last shown go into the view in one insertion;
    // the oldest leave it beyond kMaxViewLines.
    void showNewLines();
    // The operator edited the view: the edited lines take the place in the log of those
    // the view showed.
    void viewEdited();

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
    QTimer* m_refreshTimer = nullptr;
    // The event log is: m_hidden lines no longer in view, the lines of the view (the
    // number of text blocks of each in m_viewBlocks), m_skipped lines that came too fast
    // to be shown at all, then m_pending, not shown yet.
    qsizetype m_hidden = 0;
    std::deque<int> m_viewBlocks;
    qsizetype m_skipped = 0;
    QStringList m_pending;
};

}  // namespace veldra
