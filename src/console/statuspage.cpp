// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/statuspage.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
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
    for (const QString& line : EventLog::instance().lines()) m_log->appendPlainText(line);
    EventLog::instance().addListener([this](const QString& line) {
        m_showingLog = true;
        m_log->appendPlainText(line);
        m_showingLog = false;
    });
    EventLog::instance().addClearedListener([this] {
        m_showingLog = true;
        m_log->clear();
        m_showingLog = false;
    });
    // The operator may type into the log; the typed text becomes the log, and the size
    // check follows.
    connect(m_log, &QPlainTextEdit::textChanged, this, [this] {
        if (m_showingLog) return;
        try {
            EventLog::instance().replaceLines(splitLines(m_log->toPlainText()));
        } catch (const std::exception& e) {
            m_ui.showMessage(errorDetails(e));
        }
    });
}

void StatusPage::refresh()
{
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
