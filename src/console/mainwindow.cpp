#include "console/mainwindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "common/errors.h"
#include "common/eventlog.h"
#include "common/text.h"
#include "console/updatebutton.h"
#include "version.h"

namespace veldra {
namespace {

const char* const kPageNames[] = {"STATUSPAGE", "SERVERSETTINGS", "CLIENTACCESS", "CACHESETTINGS"};

QLabel* headingBar(const QString& text)
{
    auto* l = new QLabel(text);
    l->setStyleSheet(QStringLiteral("background: palette(highlight); color: yellow; font-weight: bold; padding: 4px;"));
    return l;
}

QLabel* bigLine(const QString& text)
{
    auto* l = new QLabel(text);
    l->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 27px;"));
    return l;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), m_ui(this)
{
    m_control = std::make_unique<ServerControl>(m_ui);
    setWindowTitle(QStringLiteral("Veldra | server "));
    setMinimumSize(1135, 720);
    resize(1119, 682);

    auto* central = new QWidget;
    auto* row = new QHBoxLayout(central);
    auto* column = new QVBoxLayout;
    m_update = new QPushButton(QStringLiteral(" Update program"));
    m_update->setStyleSheet(QStringLiteral("color: red; font-weight: bold; text-decoration: underline;"));
    m_update->hide();
    m_updater = new UpdateButton(this, m_update, m_ui, [this] { return m_control->running(); });
    m_startStop = new QPushButton(QStringLiteral("START"));
    m_startStop->setObjectName(QStringLiteral("SpeedButton1"));
    m_startStop->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 20px;"));
    m_startStop->setMinimumHeight(48);
    column->addWidget(m_update);
    column->addWidget(m_startStop);
    const QString captions[] = {QStringLiteral("Status page"), QStringLiteral("Server settings"),
                                QStringLiteral("Client access"), QStringLiteral("Cache")};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QPushButton(captions[i]);
        const QString name = QString::fromLatin1(kPageNames[i]);
        connect(b, &QPushButton::clicked, this, [this, name] { showPage(name); });
        column->addWidget(b);
    }
    column->addStretch();
    row->addLayout(column);

    m_pages = new QStackedWidget;
    m_pages->addWidget(buildStatusPage());
    m_pages->addWidget(placeholderPage(QStringLiteral("SERVER SETTINGS")));
    m_pages->addWidget(placeholderPage(QStringLiteral(" CLIENT ACCESSS")));
    m_pages->addWidget(placeholderPage(QStringLiteral("  CACHE SETTINGS  ")));
    row->addWidget(m_pages, 1);
    setCentralWidget(central);

    connect(m_startStop, &QPushButton::clicked, this, [this] { m_control->startStop(); });
    m_control->onStateChanged = [this] { refresh(); };
    m_control->statistics.setChangedListener([this] { refresh(); });
    m_control->access.onChanged = [this] { refresh(); };
    m_control->showStatusPage = [this] { showPage(QStringLiteral("STATUSPAGE")); };
    m_control->onBusyChanged = [this](bool busy) { m_inputGuard.setActive(busy); };
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
    m_control->scheduler().startTimer();
    refresh();
}

TForm1::~TForm1()
{
    // A STOP on the way out needs no guard: the window takes no more input.
    m_control->onBusyChanged = {};
    EventLog::instance().removeAllListeners();
}

QWidget* TForm1::buildStatusPage()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->addWidget(headingBar(QStringLiteral("STATUS PAGE")));
    auto* top = new QHBoxLayout;

    auto* left = new QVBoxLayout;
    m_clock = new QLabel;
    m_clock->setAlignment(Qt::AlignCenter);
    m_clock->setStyleSheet(QStringLiteral("background: navy; color: white; font-weight: bold; font-size: 27px;"));
    auto* openTimeLog = new QPushButton(QStringLiteral("Open time log"));
    connect(openTimeLog, &QPushButton::clicked, this, [this] { m_control->statistics.openTimeLog(m_ui); });
    m_histogram = new QListWidget;
    m_histogram->setStyleSheet(QStringLiteral("background: palette(tooltip-base); font-size: 10px;"));
    left->addWidget(m_clock);
    left->addWidget(openTimeLog);
    left->addWidget(m_histogram, 1);
    top->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    auto* boxes = new QHBoxLayout;
    m_white = new QLabel;
    m_white->setFixedSize(165, 25);
    m_white->setStyleSheet(QStringLiteral("background: white; color: black;"));
    m_black = new QLabel;
    m_black->setFixedSize(165, 25);
    m_black->setStyleSheet(QStringLiteral("background: black; color: white;"));
    boxes->addWidget(m_white);
    boxes->addWidget(m_black);
    boxes->addStretch();
    right->addLayout(boxes);
    auto* sep = new QFrame;
    sep->setFrameShape(QFrame::HLine);
    right->addWidget(sep);
    m_startLine = bigLine(QString());
    m_connections = bigLine(QString());
    m_requests = bigLine(QString());
    m_memory = new QLabel(QStringLiteral("USING MEMORY (update value each 5 sec) : "));
    m_memory->setStyleSheet(QStringLiteral("background: red; color: white; font-style: italic;"));
    right->addWidget(m_startLine);
    right->addWidget(m_connections);
    right->addWidget(m_requests);
    right->addWidget(m_memory);
    right->addStretch();
    top->addLayout(right, 2);
    v->addLayout(top, 1);

    auto* bottom = new QHBoxLayout;
    auto* mainLog = new QPushButton;
    mainLog->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    mainLog->setToolTip(QStringLiteral("Save the log to MainLog.txt and open it"));
    connect(mainLog, &QPushButton::clicked, this, [this] { openMainLog(EventLog::instance(), m_ui); });
    m_log = new QPlainTextEdit;
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    bottom->addWidget(mainLog, 0, Qt::AlignTop);
    bottom->addWidget(m_log, 1);
    v->addLayout(bottom, 1);
    return page;
}

QWidget* TForm1::placeholderPage(const QString& heading)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->addWidget(headingBar(heading));
    v->addWidget(new QLabel(QStringLiteral("This page is edited in veldra.ini for now.")));
    v->addStretch();
    return page;
}

void TForm1::showPage(const QString& name)
{
    for (int i = 0; i < 4; ++i)
        if (name == QLatin1String(kPageNames[i])) m_pages->setCurrentIndex(i);
}

QString TForm1::currentPage() const { return QString::fromLatin1(kPageNames[m_pages->currentIndex()]); }

void TForm1::refresh()
{
    ServerControl& c = *m_control;
    m_startStop->setText(c.caption());
    m_startStop->setStyleSheet(c.running() ? QStringLiteral("font-weight: bold; font-size: 20px; color: red;")
                                           : QStringLiteral("font-weight: bold; font-size: 20px;"));
    m_clock->setText(c.clockText());
    m_white->setText(c.access.whiteCountText());
    m_black->setText(c.access.blackCountText());
    m_startLine->setText(c.startLine());
    m_connections->setText(c.statistics.connectionLabel());
    m_requests->setText(c.statistics.requestLabel());
    if (!c.statistics.memoryLine().isEmpty()) m_memory->setText(c.statistics.memoryLine());
    const QStringList& lines = c.statistics.histogram();
    if (m_histogram->count() != lines.size()) {
        m_histogram->clear();
        m_histogram->addItems(lines);
    } else {
        for (int i = 0; i < lines.size(); ++i)
            if (m_histogram->item(i)->text() != lines[i]) m_histogram->item(i)->setText(lines[i]);
    }
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown) return;
    m_shown = true;
    m_control->startup();
    refresh();
}

void TForm1::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    if (m_painted) return;
    m_painted = true;
    setWindowTitle(windowTitle() + QStringLiteral(" ver [") + QStringLiteral(VELDRA_VERSION) +
                   QStringLiteral("] - created by Tarnwick"));
    m_update->hide();
    m_updater->checkAfterFirstPaint(QStringLiteral(VELDRA_VERSION));
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (m_control->formCloseQuery())
        event->accept();
    else
        event->ignore();
}

}  // namespace veldra
