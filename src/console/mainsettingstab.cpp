// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/mainsettingstab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "common/answerformat.h"
#include "common/operatorui.h"
#include "config/settings.h"
#include "console/consolestyle.h"
#include "monitor/servercontrol.h"

namespace veldra {

using namespace console;

namespace {

QLabel* fieldLabel(const QString& text) { return new QLabel(text); }

QCheckBox* checkBox(const QString& caption, const QString& objectName)
{
    auto* b = new QCheckBox(caption);
    b->setObjectName(objectName);
    return b;
}

// The number field beside a cleaning check box; its accessible name says what it limits.
QLineEdit* numberField(const QString& objectName, const QString& accessibleName)
{
    auto* e = named(new QLineEdit, objectName, accessibleName);
    e->setFixedWidth(90);
    return e;
}

// A time of day: one optional digit, one digit, ":" and two digits.
QLineEdit* timeField(QLabel* label, const QString& objectName)
{
    auto* e = labelledField(label, objectName);
    static const QRegularExpression pattern(QStringLiteral("[0-9]?[0-9]:[0-9][0-9]"));
    e->setValidator(new QRegularExpressionValidator(pattern, e));
    e->setPlaceholderText(QStringLiteral("hh:mm"));
    e->setMaximumWidth(80);
    return e;
}

}  // namespace

MainSettingsTab::MainSettingsTab(ServerControl& control, OperatorUi& ui, QWidget* parent)
    : QWidget(parent), m_control(control), m_ui(ui)
{
    // Folders
    auto* folders = new QGroupBox(QStringLiteral("Folders"));
    auto* fg = new QGridLayout(folders);
    struct FolderRow {
        const char* label;
        const char* field;
        const char* button;
        QLineEdit*& edit;
        QPushButton*& choose;
    };
    FolderRow rows[] = {
        {"Path to queries", "EditPathToQueries", "ChooseQueriesFolderButton", m_queries, m_chooseQueries},
        {"Path to logs", "EditPathToLogs", "ChooseLogsFolderButton", m_logs, m_chooseLogs},
        {"Path to cache files", "EditPathToCache", "ChooseCacheFolderButton", m_cache, m_chooseCache},
    };
    int row = 0;
    for (FolderRow& r : rows) {
        auto* label = fieldLabel(QString::fromLatin1(r.label));
        r.edit = labelledField(label, QString::fromLatin1(r.field));
        r.choose = described(new QPushButton(QStringLiteral("...")), QString::fromLatin1(r.button),
                             QStringLiteral("Choose a directory for ") + label->text());
        r.choose->setToolTip(r.choose->accessibleDescription());
        r.choose->setMaximumWidth(40);
        QLineEdit* edit = r.edit;
        connect(r.choose, &QPushButton::clicked, this, [this, edit] { chooseFolder(edit); });
        fg->addWidget(label, row, 0);
        fg->addWidget(r.edit, row, 1);
        fg->addWidget(r.choose, row, 2);
        ++row;
    }
    m_createFolders = captionButton(QStringLiteral("CREATE FOLDERS BY DEFAULT"), QStringLiteral("CreateFoldersButton"));
    connect(m_createFolders, &QPushButton::clicked, this, &MainSettingsTab::createFolders);
    fg->addWidget(m_createFolders, row, 1, 1, 2, Qt::AlignRight);
    fg->setColumnStretch(1, 1);

    // Caching
    auto* caching = new QGroupBox(QStringLiteral("Caching"));
    auto* cg = new QGridLayout(caching);
    m_enabled = checkBox(QStringLiteral("ENABLE CACHING"), QStringLiteral("CheckEnableCaching"));
    m_older = checkBox(QStringLiteral("Clean files cache that is older (days)"), QStringLiteral("CheckCleanOlderFiles"));
    m_days = numberField(QStringLiteral("EditCountDaysForClean"), QStringLiteral("Days for clean"));
    m_sum = checkBox(QStringLiteral("Clean full cache if sum size is more (Mb)"), QStringLiteral("CheckCleanIfSumIsMore"));
    m_size = numberField(QStringLiteral("EditSizeForClean"), QStringLiteral("Size in Mb for clean"));
    m_quantity = checkBox(QStringLiteral("Clean all files cache function if quantity files in selected folder are more"),
                          QStringLiteral("CheckCleanQuantityIsMore"));
    m_files = numberField(QStringLiteral("EditQuantityForClean"), QStringLiteral("Quantity files for clean"));
    cg->addWidget(m_enabled, 0, 0);
    cg->addWidget(m_older, 1, 0);
    cg->addWidget(m_days, 1, 1);
    cg->addWidget(m_sum, 2, 0);
    cg->addWidget(m_size, 2, 1);
    cg->addWidget(m_quantity, 3, 0);
    cg->addWidget(m_files, 3, 1);
    cg->setColumnStretch(0, 1);

    // Server
    auto* server = new QGroupBox(QStringLiteral("Server"));
    auto* sg = new QGridLayout(server);
    auto* portLabel = fieldLabel(QStringLiteral("WORKING PORT"));
    m_port = labelledField(portLabel, QStringLiteral("EditWorkingPort"));
    m_testPort = captionButton(QStringLiteral("Test"), QStringLiteral("TestPortButton"));
    m_testPort->setAccessibleDescription(QStringLiteral("Test whether the working port is free"));
    connect(m_testPort, &QPushButton::clicked, this, &MainSettingsTab::testPort);
    auto* logLabel = fieldLabel(QStringLiteral("Save logs each xxx rows"));
    m_logLines = labelledField(logLabel, QStringLiteral("EditSaveLogEachLines"));
    auto* formatLabel = fieldLabel(QStringLiteral("Default answer in format"));
    m_format = named(new QComboBox, QStringLiteral("ComboFormatAnswer"), formatLabel->text());
    m_format->addItems(AnswerFormat::names());
    formatLabel->setBuddy(m_format);
    auto* linkLabel = fieldLabel(QStringLiteral("Url link description service"));
    m_link = labelledField(linkLabel, QStringLiteral("EditLinkToDescriptionService"));
    auto* shareLabel = fieldLabel(QStringLiteral("Name function for get share list description"));
    m_shareList = labelledField(shareLabel, QStringLiteral("EditNameFunctionForShareList"));
    sg->addWidget(portLabel, 0, 0);
    sg->addWidget(m_port, 0, 1);
    sg->addWidget(m_testPort, 0, 2);
    sg->addWidget(logLabel, 1, 0);
    sg->addWidget(m_logLines, 1, 1, 1, 2);
    sg->addWidget(formatLabel, 2, 0);
    sg->addWidget(m_format, 2, 1, 1, 2);
    sg->addWidget(linkLabel, 3, 0, 1, 3);
    sg->addWidget(m_link, 4, 0, 1, 3);
    sg->addWidget(shareLabel, 5, 0, 1, 3);
    sg->addWidget(m_shareList, 6, 0, 1, 3);
    sg->setColumnStretch(1, 1);

    // Times of day
    auto* times = new QGroupBox(QStringLiteral("Times of day"));
    auto* tg = new QGridLayout(times);
    auto* resaveLabel = fieldLabel(QStringLiteral("Resave time log"));
    m_resave = timeField(resaveLabel, QStringLiteral("EditResaveTimeLog"));
    auto* clientsLabel = fieldLabel(QStringLiteral("Reload clients access"));
    m_reloadClients = timeField(clientsLabel, QStringLiteral("EditReloadClientAccess"));
    auto* cachesLabel = fieldLabel(QStringLiteral("Reload caches"));
    m_reloadCaches = timeField(cachesLabel, QStringLiteral("EditReloadCaches"));
    tg->addWidget(resaveLabel, 0, 0);
    tg->addWidget(m_resave, 0, 1);
    tg->addWidget(clientsLabel, 1, 0);
    tg->addWidget(m_reloadClients, 1, 1);
    tg->addWidget(cachesLabel, 2, 0);
    tg->addWidget(m_reloadCaches, 2, 1);
    tg->setColumnStretch(2, 1);

    m_save = captionButton(QStringLiteral("  SAVE CHANGES"), QStringLiteral("SaveChangesButton"));
    m_save->setFont(console::sansFont(14, true));
    m_save->setMinimumWidth(200);
    m_save->setDefault(true);
    connect(m_save, &QPushButton::clicked, this, &MainSettingsTab::saveChanges);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(folders);
    left->addWidget(caching);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(server);
    right->addWidget(times);
    right->addStretch();
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);
    auto* v = new QVBoxLayout(this);
    v->addLayout(columns, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_save);
    v->addLayout(bottom);

    // Every edit is a page value at once.
    bindText(m_queries, &SettingsPage::pathToQueries);
    bindText(m_logs, &SettingsPage::pathToLogs);
    bindText(m_cache, &SettingsPage::pathToCache);
    bindText(m_days, &SettingsPage::cachingCountDaysForClean);
    bindText(m_size, &SettingsPage::cachingSizeForClean);
    bindText(m_files, &SettingsPage::cachingQuantityForClean);
    bindText(m_link, &SettingsPage::linkToDescrptService);
    bindText(m_port, &SettingsPage::workedPort);
    bindText(m_logLines, &SettingsPage::saveLogEachLines);
    bindText(m_resave, &SettingsPage::resaveTimeLog);
    bindText(m_reloadClients, &SettingsPage::reloadClientAccess);
    bindText(m_reloadCaches, &SettingsPage::reloadCaches);
    bindText(m_shareList, &SettingsPage::nameFunctionForShareList);
    const std::pair<QCheckBox*, bool SettingsPage::*> checks[] = {
        {m_enabled, &SettingsPage::enabledCaching},
        {m_older, &SettingsPage::cachingCleanOlderFiles},
        {m_sum, &SettingsPage::cachingCleanIfSumFilesIsMore},
        {m_quantity, &SettingsPage::cachingCleanQuantityIsMore},
    };
    for (const auto& [box, member] : checks)
        connect(box, &QCheckBox::toggled, this, [this, member](bool on) {
            if (!m_showing) m_control.page.*member = on;
        });
    connect(m_format, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_showing) m_control.page.formatAnswer = index;
    });

    enterPresses({m_queries, m_logs, m_cache, m_days, m_size, m_files, m_port, m_logLines, m_link, m_shareList,
                  m_resave, m_reloadClients, m_reloadCaches},
                 m_save);
    chainTabOrder({m_queries, m_chooseQueries, m_logs, m_chooseLogs, m_cache, m_chooseCache, m_createFolders,
                   m_enabled, m_older, m_days, m_sum, m_size, m_quantity, m_files, m_port, m_testPort, m_logLines,
                   m_format, m_link, m_shareList, m_resave, m_reloadClients, m_reloadCaches, m_save});
    showValues();
}

void MainSettingsTab::bindText(QLineEdit* field, QString SettingsPage::*member)
{
    connect(field, &QLineEdit::textChanged, this, [this, member](const QString& text) {
        if (!m_showing) m_control.page.*member = text;
    });
}

void MainSettingsTab::showValues()
{
    const SettingsPage& p = m_control.page;
    m_showing = true;
    m_queries->setText(p.pathToQueries);
    m_logs->setText(p.pathToLogs);
    m_cache->setText(p.pathToCache);
    m_enabled->setChecked(p.enabledCaching);
    m_older->setChecked(p.cachingCleanOlderFiles);
    m_sum->setChecked(p.cachingCleanIfSumFilesIsMore);
    m_quantity->setChecked(p.cachingCleanQuantityIsMore);
    m_days->setText(p.cachingCountDaysForClean);
    m_size->setText(p.cachingSizeForClean);
    m_files->setText(p.cachingQuantityForClean);
    m_link->setText(p.linkToDescrptService);
    m_port->setText(p.workedPort);
    m_logLines->setText(p.saveLogEachLines);
    m_resave->setText(p.resaveTimeLog);
    m_reloadClients->setText(p.reloadClientAccess);
    m_reloadCaches->setText(p.reloadCaches);
    // An index outside the list selects nothing.
    m_format->setCurrentIndex(p.formatAnswer >= 0 && p.formatAnswer < m_format->count() ? p.formatAnswer : -1);
    m_shareList->setText(p.nameFunctionForShareList);
    m_showing = false;
}

void MainSettingsTab::saveChanges() { m_ui.showMessage(SaveChanges(m_control.page, settingsFilePath())); }

void MainSettingsTab::createFolders()
{
    const CreateFoldersResult r = CreateFoldersByDefault(m_control.page);
    m_control.page = r.page;
    showValues();
    if (!r.message.isEmpty()) m_ui.showMessage(r.message);
}

void MainSettingsTab::chooseFolder(QLineEdit* field)
{
    const QString chosen = ChooseFolder(m_ui, field->text());
    if (chosen != field->text()) field->setText(chosen);
}

void MainSettingsTab::testPort() { m_ui.showMessage(TestPort(m_port->text())); }

}  // namespace veldra
