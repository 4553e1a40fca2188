// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/connectionstab.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "common/operatorui.h"
#include "config/database.h"
#include "config/settings.h"
#include "console/consolestyle.h"
#include "monitor/servercontrol.h"

namespace veldra {

using namespace console;

ConnectionsTab::ConnectionsTab(ServerControl& control, OperatorUi& ui, QWidget* parent)
    : QWidget(parent), m_control(control), m_ui(ui)
{
    QWidget* client = group(QStringLiteral("Client database"), QStringLiteral("Client"), m_client, m_clientStatus);
    QWidget* work = group(QStringLiteral("Work database"), QStringLiteral("Work"), m_work, m_workStatus);

    m_save = pictureButton(style()->standardIcon(QStyle::SP_DialogSaveButton), QStringLiteral("Save connections"),
                           QStringLiteral("SaveConnectionsButton"));
    connect(m_save, &QPushButton::clicked, this, [this] {
        const QString failure = SaveConnections(m_control.page, settingsFilePath());
        if (!failure.isEmpty()) m_ui.showMessage(failure);
    });

    auto* errorLabel = new QLabel(QStringLiteral("In case problem with connect/access to database, see here description error(s)"));
    m_errors = named(new QPlainTextEdit, QStringLiteral("ErrorAreaMemo"), errorLabel->text());
    m_errors->setReadOnly(true);
    m_errors->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    errorLabel->setBuddy(m_errors);

    m_testConnect = captionButton(QStringLiteral("TEST CONNECT"), QStringLiteral("TestConnectButton"));
    m_testConnect->setFont(sansFont(14, true));
    m_testConnect->setMinimumWidth(200);
    m_testConnect->setDefault(true);
    connect(m_testConnect, &QPushButton::clicked, this, [this] { m_control.testConnect(); });

    auto* groups = new QHBoxLayout;
    groups->addWidget(client, 1);
    groups->addWidget(work, 1);
    auto* v = new QVBoxLayout(this);
    v->addLayout(groups);
    auto* saveRow = new QHBoxLayout;
    saveRow->addWidget(m_save);
    saveRow->addStretch();
    v->addLayout(saveRow);
    v->addWidget(errorLabel);
    v->addWidget(m_errors, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_testConnect);
    v->addLayout(bottom);

    bind(m_client, &SettingsPage::clientTable);
    bind(m_work, &SettingsPage::workData);
    const Fields* both[] = {&m_client, &m_work};
    QList<QWidget*> order;
    for (const Fields* f : both) {
        enterPresses({f->ip, f->port, f->database, f->user, f->psw}, m_testConnect);
        order << f->ip << f->port << f->database << f->user << f->psw;
    }
    chainTabOrder(order << m_save << m_errors << m_testConnect);
    showValues();
    refresh();
}

QWidget* ConnectionsTab::group(const QString& title, const QString& namePrefix, Fields& fields, QLabel*& status)
{
    auto* box = new QGroupBox(title);
    auto* v = new QVBoxLayout(box);
    status = described(new QLabel, namePrefix + QStringLiteral("StatusLabel"), title + QStringLiteral(" status"));
    QFont f = sansFont(13, true);
    f.setUnderline(true);
    status->setFont(f);
    status->setWordWrap(true);
    status->setMinimumHeight(40);
    v->addWidget(status);
    auto* grid = new QGridLayout;
    struct Row {
        const char* label;
        QLineEdit*& edit;
    };
    Row rows[] = {{"IP", fields.ip}, {"PORT", fields.port}, {"DATABASE", fields.database}, {"USER", fields.user},
                  {"PASWORD", fields.psw}};
    int row = 0;
    for (Row& r : rows) {
        auto* label = new QLabel(QString::fromLatin1(r.label));
        r.edit = labelledField(label, QStringLiteral("Edit") + namePrefix + QString::fromLatin1(r.label));
        r.edit->setAccessibleName(title + u' ' + label->text());
        grid->addWidget(label, row, 0);
        grid->addWidget(r.edit, row, 1);
        ++row;
    }
    // One "*" per character of the password.
    fields.psw->setEchoMode(QLineEdit::Password);
    fields.psw->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    grid->setColumnStretch(1, 1);
    v->addLayout(grid);
    return box;
}

void ConnectionsTab::bind(const Fields& fields, ConnectionFields SettingsPage::*section)
{
    const std::pair<QLineEdit*, QString ConnectionFields::*> pairs[] = {
        {fields.ip, &ConnectionFields::ip},
        {fields.port, &ConnectionFields::port},
        {fields.database, &ConnectionFields::database},
        {fields.user, &ConnectionFields::user},
        {fields.psw, &ConnectionFields::psw},
    };
    for (const auto& [edit, member] : pairs)
        connect(edit, &QLineEdit::textChanged, this, [this, section, member](const QString& text) {
            if (!m_showing) (m_control.page.*section).*member = text;
        });
}

void ConnectionsTab::showValues()
{
    m_showing = true;
    const std::pair<const Fields*, const ConnectionFields*> groups[] = {{&m_client, &m_control.page.clientTable},
                                                                         {&m_work, &m_control.page.workData}};
    for (const auto& [f, c] : groups) {
        f->ip->setText(c->ip);
        f->port->setText(c->port);
        f->database->setText(c->database);
        f->user->setText(c->user);
        f->psw->setText(c->psw);
    }
    m_showing = false;
}

void ConnectionsTab::showLine(QLabel* label, const StatusLine& line)
{
    label->setText(line.text);
    label->setStyleSheet(line.connected ? QStringLiteral("color: green;") : QStringLiteral("color: maroon;"));
}

void ConnectionsTab::refresh()
{
    showLine(m_clientStatus, m_control.databases.clientStatus());
    showLine(m_workStatus, m_control.databases.workStatus());
    // A report's carriage return breaks its line in the box.
    const QString errors = m_control.databases.errorArea().join(u'\n').replace(u'\r', u'\n');
    if (m_errors->toPlainText() != errors) m_errors->setPlainText(errors);
}

}  // namespace veldra
