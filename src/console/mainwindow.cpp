// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/mainwindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/mainthread.h"
#include "console/cachepage.h"
#include "console/clientaccesspage.h"
#include "console/connectionstab.h"
#include "console/consolestyle.h"
#include "console/mainsettingstab.h"
#include "console/queryeditortab.h"
#include "console/statuspage.h"
#include "console/updatebutton.h"
#include "version.h"

namespace veldra {

using namespace console;

namespace {

const char* const kPageNames[] = {"STATUSPAGE", "SERVERSETTINGS", "CLIENTACCESS", "CACHESETTINGS"};

// A page that another part of the window fills in.
QWidget* headedPage(const QString& heading, QWidget* content)
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(headingBar(heading));
    v->addWidget(content, 1);
    return page;
}

// The window as assistive technology sees it: a main window whose state says when it
// is busy with a long wait.
class WindowAccessible : public QAccessibleWidget {
public:
    explicit WindowAccessible(TForm1* window) : QAccessibleWidget(window, QAccessible::Window) {}
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.busy = static_cast<const TForm1*>(widget())->busy();
        return s;
    }
};

QAccessibleInterface* windowAccessible(const QString& className, QObject* object)
{
    if (object && object->isWidgetType() && className == QLatin1String(TForm1::staticMetaObject.className()))
        return new WindowAccessible(static_cast<TForm1*>(object));
    return nullptr;
}

// Tells assistive technology that the window's busy state changed.
void announceBusy(QWidget* window)
{
    QAccessible::State changed;
    changed.busy = true;
    QAccessibleStateChangeEvent event(window, changed);
    QAccessible::updateAccessibility(&event);
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), m_widgetUi(this)
{
    static const bool accessibleWindow = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    Q_UNUSED(accessibleWindow);
    m_control = std::make_unique<ServerControl>(m_forwardingUi);
    setWindowTitle(QStringLiteral("Veldra | server "));
    setObjectName(QStringLiteral("TForm1"));
    // The client area opens at 1119 by 682 and is never smaller.
    setMinimumSize(1119, 682);
    resize(1119, 682);

    auto* central = new QWidget;
    auto* row = new QHBoxLayout(central);
    row->addWidget(buildLeftColumn());

    m_pages = new QStackedWidget;
    m_statusPage = new StatusPage(*m_control, m_forwardingUi);
    m_pages->addWidget(m_statusPage);
    m_pages->addWidget(buildSettingsPage());
    m_pages->addWidget(buildClientAccessPage());
    m_cachePage = new CachePage(*m_control, m_forwardingUi);
    m_pages->addWidget(m_cachePage);
    for (int i = 0; i < m_pages->count(); ++i) m_pages->widget(i)->setObjectName(QString::fromLatin1(kPageNames[i]));
    row->addWidget(m_pages, 1);
    setCentralWidget(central);

    // What the window waits for, beside the busy cursor.
    m_waitLabel = described(new QLabel, QStringLiteral("WaitLabel"), QStringLiteral("Waiting for"));
    statusBar()->addWidget(m_waitLabel, 1);
    mainthread::setLongWaitIndicator([this](const QString& what) { beginWait(what); }, [this] { endWait(); });

    connect(m_startStop, &QPushButton::clicked, this, [this] { m_control->startStop(); });
    m_control->onStateChanged = [this] { refresh(); };
    m_control->statistics.setChangedListener([this] { refresh(); });
    m_control->access.onChanged = [this] { refresh(); };
    m_control->databases.onChanged = [this] { m_connections->refresh(); };
    m_control->showStatusPage = [this] { showPage(QStringLiteral("STATUSPAGE")); };
    m_control->onBusyChanged = [this](bool busy) { m_inputGuard.setActive(busy); };
    m_control->onPageLoaded = [this] {
        m_mainSettings->showValues();
        m_connections->showValues();
    };
    m_control->scheduler().startTimer();
    refresh();
}

TForm1::~TForm1()
{
    // A STOP on the way out needs no guard: the window takes no more input.
    m_control->onBusyChanged = {};
    mainthread::setLongWaitIndicator({}, {});
}

void TForm1::setOperatorUi(OperatorUi& ui) { m_forwardingUi.target = &ui; }

QPlainTextEdit* TForm1::logView() const { return m_statusPage->logView(); }

QWidget* TForm1::buildLeftColumn()
{
    auto* column = new QWidget;
    column->setFixedWidth(170);
    auto* v = new QVBoxLayout(column);
    v->setContentsMargins(0, 0, 0, 0);
    m_update = captionButton(QStringLiteral(" Update program"), QStringLiteral("UpdateProgramButton"));
    QFont small = sansFont(11, true);
    small.setUnderline(true);
    m_update->setFont(small);
    m_update->setStyleSheet(QStringLiteral("color: red;"));
    m_update->hide();
    m_updater = new UpdateButton(this, m_update, m_forwardingUi, [this] { return m_control->running(); });
    m_updater->onBusyChanged = [this](bool on) {
        showBusy(on, on ? QStringLiteral("Downloading the program update ...") : QString());
    };
    m_startStop = captionButton(QStringLiteral("START"), QStringLiteral("SpeedButton1"));
    m_startStop->setAccessibleDescription(QStringLiteral("Start or stop the server"));
    m_startStop->setFont(sansFont(24, true));
    m_startStop->setMinimumHeight(56);
    v->addWidget(m_update);
    v->addWidget(m_startStop);
    const QString captions[] = {QStringLiteral("Status page"), QStringLiteral("Server settings"),
                                QStringLiteral("Client access"), QStringLiteral("Cache")};
    const QString names[] = {QStringLiteral("StatusPageButton"), QStringLiteral("ServerSettingsButton"),
                             QStringLiteral("ClientAccessButton"), QStringLiteral("CacheButton")};
    QList<QWidget*> order{m_update, m_startStop};
    for (int i = 0; i < 4; ++i) {
        auto* b = captionButton(captions[i], names[i]);
        b->setMinimumHeight(36);
        const QString page = QString::fromLatin1(kPageNames[i]);
        connect(b, &QPushButton::clicked, this, [this, page] { showPage(page); });
        v->addWidget(b);
        order << b;
    }
    v->addStretch();
    chainTabOrder(order);
    return column;
}

QWidget* TForm1::buildSettingsPage()
{
    m_settingsTabs = named(new QTabWidget, QStringLiteral("SettingsTabs"), QStringLiteral("Server settings"));
    m_mainSettings = new MainSettingsTab(*m_control, m_forwardingUi);
    m_connections = new ConnectionsTab(*m_control, m_forwardingUi);
    m_settingsTabs->addTab(m_mainSettings, QStringLiteral("  MAIN SETTINGS  "));
    m_settingsTabs->addTab(m_connections, QStringLiteral("  CONNECT WITH MYSQL  "));
    m_settingsTabs->addTab(buildRequestsTab(), QStringLiteral("  REQUESTS  "));
    return headedPage(QStringLiteral("SERVER SETTINGS"), m_settingsTabs);
}

QWidget* TForm1::buildRequestsTab()
{
    return new QueryEditorTab(*m_control, m_forwardingUi, [this] { showConnectTab(); });
}

QWidget* TForm1::buildClientAccessPage()
{
    m_clientAccess = new ClientAccessPage(*m_control, m_forwardingUi);
    return headedPage(QStringLiteral(" CLIENT ACCESSS"), m_clientAccess);
}

void TForm1::showPage(const QString& name)
{
    for (int i = 0; i < 4; ++i)
        if (name == QLatin1String(kPageNames[i])) m_pages->setCurrentIndex(i);
}

QString TForm1::currentPage() const { return QString::fromLatin1(kPageNames[m_pages->currentIndex()]); }

void TForm1::showConnectTab()
{
    showPage(QStringLiteral("SERVERSETTINGS"));
    m_settingsTabs->setCurrentWidget(m_connections);
}

QString TForm1::waitText() const { return m_waitLabel->text(); }

void TForm1::refresh()
{
    ServerControl& c = *m_control;
    m_startStop->setText(c.caption());
    // red while running, the window-text colour while stopped
    m_startStop->setStyleSheet(c.running() ? QStringLiteral("color: red;") : QString());
    m_statusPage->refresh();
    if (m_clientAccess) m_clientAccess->showLists();
}

void TForm1::beginWait(const QString& what)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_waitLabel->setText(what);
    m_waitLabel->repaint();
    showBusy(true, what);
}

void TForm1::endWait()
{
    // setText, unlike clear, tells assistive technology that the text went
    m_waitLabel->setText(QString());
    showBusy(false, QString());
    QApplication::restoreOverrideCursor();
}

void TForm1::showBusy(bool busy, const QString& what)
{
    // Assistive technology reads the window as busy, and what it waits for.
    m_busy = busy;
    setAccessibleDescription(what);
    announceBusy(this);
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
    const QString version = QStringLiteral(VELDRA_VERSION);
    setWindowTitle(windowTitle() + QStringLiteral(" ver [") + version + QStringLiteral("] - created by Tarnwick"));
    m_update->hide();
    m_updater->checkAfterFirstPaint(version);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Never in the middle of a wait for a database or a file walk.
    if (!mainthread::inLongWait() && m_control->formCloseQuery())
        event->accept();
    else
        event->ignore();
}

}  // namespace veldra
