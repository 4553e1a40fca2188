// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/statuspage.h"

#include <algorithm>
#include <utility>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include "common/errors.h"
#include "common/operatorui.h"
#include "common/text.h"
#include "console/consolestyle.h"
#include "common/eventlog.h"
#include "monitor/servercontrol.h"

namespace veldra {

using namespace console;

namespace {

QLabel* bigLine(const QString& objectName, const QString& description)
{
    auto* l = described(new QLabel, objectName, description);
    l->setFont(sansFont(27, true));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // a long start line breaks rather than being cut off in a narrow window
    l->setWordWrap(true);
    return l;
}

QLabel* listBox(const QString& objectName, const QString& description, const QString& colours)
{
    auto* l = described(new QLabel, objectName, description);
    l->setFixedSize(165, 25);
    l->setFont(sansFont(13, true));
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet(colours);
    return l;
}

}  // namespace

StatusPage::StatusPage(ServerControl& control, OperatorUi& ui, QWidget* parent)
    : QWidget(parent), m_control(control), m_ui(ui)
{
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(headingBar(QStringLiteral("STATUS PAGE")));

    auto* top = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    m_clock = described(new QLabel, QStringLiteral("ClockLabel"), QStringLiteral("Clock"));
    m_clock->setAlignment(Qt::AlignCenter);
    m_clock->setFont(sansFont(27, true));
    m_clock->setMinimumHeight(44);
    m_clock->setStyleSheet(QStringLiteral("background: navy; color: white;"));
    m_openTimeLog = captionButton(QStringLiteral("Open time log"), QStringLiteral("OpenTimeLogButton"));
    connect(m_openTimeLog, &QPushButton::clicked, this, [this] { m_control.statistics.openTimeLog(m_ui); });
    m_histogram = named(new QListWidget, QStringLiteral("HistogramList"), QStringLiteral("Requests by hour"));
    m_histogram->setFont(sansFont(11));
    m_histogram->setStyleSheet(QStringLiteral("QListWidget { background: palette(tooltip-base); color: palette(tooltip-text); }"));
    m_histogram->setFixedWidth(290);
    left->addWidget(m_clock);
    left->addWidget(m_openTimeLog);
    left->addWidget(m_histogram, 1);
    top->addLayout(left, 0);

    auto* right = new QVBoxLayout;
    auto* boxes = new QHBoxLayout;
    m_white = listBox(QStringLiteral("WhiteCountBox"), QStringLiteral("White list count"),
                      QStringLiteral("background: white; color: black;"));
    m_black = listBox(QStringLiteral("BlackCountBox"), QStringLiteral("Black list count"),
                      QStringLiteral("background: black; color: white;"));
    boxes->addWidget(m_white);
    boxes->addWidget(m_black);
    boxes->addStretch();
    right->addLayout(boxes);
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    right->addWidget(separator);
    m_startLine = bigLine(QStringLiteral("Label10"), QStringLiteral("Server start"));
    m_connections = bigLine(QStringLiteral("Label11"), QStringLiteral("Connection count"));
    m_requests = bigLine(QStringLiteral("Label12"), QStringLiteral("Request count"));
    m_memory = described(new QLabel(QStringLiteral("USING MEMORY (update value each 5 sec) : ")),
                         QStringLiteral("MemoryLabel"), QStringLiteral("Memory use"));
    m_memory->setFont(sansFont(14, false, true));
    m_memory->setStyleSheet(QStringLiteral("background: red; color: white; padding: 3px;"));
    right->addWidget(m_startLine);
    right->addWidget(m_connections);
    right->addWidget(m_requests);
    right->addWidget(m_memory);
    right->addStretch();
    top->addLayout(right, 1);
    v->addLayout(top, 0);

    auto* bottom = new QHBoxLayout;
    m_mainLog = pictureButton(style()->standardIcon(QStyle::SP_FileDialogContentsView),
                              QStringLiteral("Save and open the main log"), QStringLiteral("MainLogButton"));
    connect(m_mainLog, &QPushButton::clicked, this, [this] { openMainLog(EventLog::instance(), m_ui); });
    m_log = named(new QPlainTextEdit, QStringLiteral("LogMemo"), QStringLiteral("Event log"));
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log->setFont(sansFont(12));
    bottom->addWidget(m_mainLog, 0, Qt::AlignTop);
    bottom->addWidget(m_log, 1);
    v->addLayout(bottom, 1);

    chainTabOrder({m_openTimeLog, m_histogram, m_mainLog, m_log});
    followLog();
    refresh();
    // all 24 hours in view
    const int rowHeight = m_histogram->count() > 0 ? m_histogram->sizeHintForRow(0) : m_histogram->fontMetrics().height();
    m_histogram->setMinimumHeight(rowHeight * 24 + 2 * m_histogram->frameWidth() + 2);
}

StatusPage::~StatusPage() { EventLog::instance().removeAllListeners(); }

void StatusPage::followLog()
{
    // The view is a window on the log, not a history of its own: no undo steps pile up.
    m_log->setUndoRedoEnabled(false);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(kRefreshMs);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] { refresh(); });
    // The window destroys the control before its pages; a page may go first elsewhere.
    m_control.statistics.setCountedListener([page = QPointer<StatusPage>(this)] {
        if (page) page->refreshSoon();
    });

    const QStringList& earlier = EventLog::instance().lines();
    m_skipped = std::max<qsizetype>(0, earlier.size() - kMaxViewLines);
    m_pending = earlier.mid(m_skipped);
    showNewLines();
    EventLog::instance().addListener([this](const QString& line) {
        if (m_pending.size() >= kMaxViewLines) {
            // older than anything the view will show
            m_pending.removeFirst();
            ++m_skipped;
        }
        m_pending << line;
        refreshSoon();
    });
    EventLog::instance().addClearedListener([this] {
        m_hidden = m_skipped = 0;
        m_viewBlocks.clear();
        m_pending.clear();
        m_showingLog = true;
        m_log->clear();
        m_showingLog = false;
    });
    // The operator may type into the log; the typed text becomes the log, and the size
    // check follows.
    connect(m_log, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showingLog) viewEdited();
    });
}

void StatusPage::refreshSoon()
{
    if (!m_refreshTimer->isActive()) m_refreshTimer->start();
}

void StatusPage::showNewLines()
{
    if (m_pending.isEmpty()) return;
    QScrollBar* bar = m_log->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextDocument* doc = m_log->document();
    m_showingLog = true;
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    if (m_skipped > 0) {
        // every line in view is older than the last kMaxViewLines
        m_hidden += qsizetype(m_viewBlocks.size()) + m_skipped;
        m_skipped = 0;
        m_viewBlocks.clear();
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
    }
    cursor.movePosition(QTextCursor::End);
    for (const QString& line : std::as_const(m_pending)) {
        // into the last block when it is empty (an empty view, or one the operator ended
        // with a line break)
        if (cursor.block().length() > 1) cursor.insertBlock();
        const int before = doc->blockCount();
        cursor.insertText(line);
        m_viewBlocks.push_back(doc->blockCount() - before + 1);
    }
    m_pending.clear();
    if (m_viewBlocks.size() > size_t(kMaxViewLines)) {
        const size_t drop = m_viewBlocks.size() - size_t(kMaxViewLines);
        int blocks = 0;
        for (size_t i = 0; i < drop; ++i) blocks += m_viewBlocks[i];
        m_viewBlocks.erase(m_viewBlocks.begin(), m_viewBlocks.begin() + qsizetype(drop));
        m_hidden += qsizetype(drop);
        cursor.setPosition(0);
        cursor.setPosition(doc->findBlockByNumber(blocks).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
    m_showingLog = false;
    if (atEnd) bar->setValue(bar->maximum());
}

void StatusPage::viewEdited()
{
    const QStringList& all = EventLog::instance().lines();
    const QStringList shown = splitLines(m_log->toPlainText());
    const qsizetype hidden = std::min(m_hidden, all.size());
    QStringList lines = all.mid(0, hidden);
    lines << shown;
    lines << all.mid(hidden + qsizetype(m_viewBlocks.size()), m_skipped);
    lines << m_pending;
    m_hidden = hidden;
    m_viewBlocks.assign(size_t(shown.size()), 1);
    try {
        EventLog::instance().replaceLines(lines);
    } catch (const std::exception& e) {
        m_ui.showMessage(errorDetails(e));
    }
}

void StatusPage::refresh()
{
    m_refreshTimer->stop();
    showNewLines();
    ServerControl& c = m_control;
    m_clock->setText(c.clockText());
    m_white->setText(c.access.whiteCountText());
    m_black->setText(c.access.blackCountText());
    m_startLine->setText(c.startLine());
    m_connections->setText(c.statistics.connectionLabel());
    m_requests->setText(c.statistics.requestLabel());
    if (!c.statistics.memoryLine().isEmpty()) m_memory->setText(c.statistics.memoryLine());
    const QStringList& lines = c.statistics.histogram();
    if (m_histogram->count() != lines.size()) {
        // Redrawn whole: the selected line stays selected when the list has the focus.
        const int selected = m_histogram->hasFocus() ? m_histogram->currentRow() : -1;
        m_histogram->clear();
        m_histogram->addItems(lines);
        if (selected >= 0 && selected < lines.size()) m_histogram->setCurrentRow(selected);
    } else {
        for (int i = 0; i < lines.size(); ++i)
            if (m_histogram->item(i)->text() != lines[i]) m_histogram->item(i)->setText(lines[i]);
    }
}

}  // namespace veldra
