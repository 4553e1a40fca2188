// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/clientaccesspage.h"

#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTabWidget>
#include <QVBoxLayout>

#include "access/clientadmin.h"
#include "common/operatorui.h"
#include "console/controls.h"
#include "monitor/servercontrol.h"

namespace veldra {

using namespace controls;

namespace {

QDateEdit* datePicker(const QString& accessibleName, const QString& objectName)
{
    auto* d = new QDateEdit(QDate::currentDate());
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    d->setObjectName(objectName);
    d->setAccessibleName(accessibleName);
    return d;
}

QLabel* title(const QString& text)
{
    auto* l = new QLabel(text);
    l->setStyleSheet(QStringLiteral("font-weight: bold;"));
    return l;
}

}  // namespace

ClientAccessPage::ClientAccessPage(ServerControl& control, OperatorUi& ui, QWidget* parent)
    : QWidget(parent),
      m_control(control),
      m_ui(ui),
      m_admin(std::make_unique<ClientAdministration>(control.databases.DataClients, ui, [this] { reload(); }))
{
    setObjectName(QStringLiteral("ClientAccessContent"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    m_load = button(QStringLiteral("LOAD LISTS CLIENTS ACCESS"), QStringLiteral("LoadListsClientsAccess"));
    auto* top = new QHBoxLayout;
    top->addWidget(m_load);
    top->addStretch();
    v->addLayout(top);
    m_tabs = new QTabWidget;
    m_tabs->setAccessibleName(QStringLiteral("Client lists"));
    m_tabs->addTab(buildWhiteTab(), QStringLiteral("  WHITE LIST  "));
    m_tabs->addTab(buildBlackTab(), QStringLiteral("  BLACK LIST  "));
    v->addWidget(m_tabs, 1);

    connect(m_load, &QPushButton::clicked, this, [this] { reload(); });
    showLists();
}

ClientAccessPage::~ClientAccessPage() = default;

QWidget* ClientAccessPage::buildWhiteTab()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* options = new QHBoxLayout;
    m_onlyActive = box(QStringLiteral("Show only active clients"), QStringLiteral("ShowOnlyActiveClients"));
    m_onlyActive->setChecked(m_control.access.showOnlyActiveClients);
    auto* sortLabel = new QLabel(QStringLiteral("Sort by :"));
    m_sortBy = new QComboBox;
    m_sortBy->setObjectName(QStringLiteral("SortBy"));
    m_sortBy->setAccessibleName(QStringLiteral("Sort by :"));
    m_sortBy->addItems(sortByItems());
    m_sortBy->setCurrentIndex(m_control.access.sortBy);
    sortLabel->setBuddy(m_sortBy);
    options->addWidget(m_onlyActive);
    options->addStretch();
    options->addWidget(sortLabel);
    options->addWidget(m_sortBy);
    v->addLayout(options);

    m_white = new QListWidget;
    m_white->setObjectName(QStringLiteral("CheckListBox2"));
    m_white->setAccessibleName(QStringLiteral("White list"));
    m_white->setContextMenuPolicy(Qt::CustomContextMenu);
    v->addWidget(m_white, 1);

    auto* dateRow = new QHBoxLayout;
    m_updateDate = button(QStringLiteral("UPDATE NEW END DATE FOR CLIENT(s)"), QStringLiteral("UpdateNewEndDate"));
    m_updateDatePicker = datePicker(QStringLiteral("New end date"), QStringLiteral("UpdateDate"));
    m_move = button(QStringLiteral("MOVE CLIENT(s) IN BLACK LIST"), QStringLiteral("MoveClientsInBlackList"));
    dateRow->addWidget(m_updateDate);
    dateRow->addWidget(m_updateDatePicker);
    dateRow->addStretch();
    dateRow->addWidget(m_move);
    v->addLayout(dateRow);

    v->addWidget(title(QStringLiteral("Manually creating client data")));
    v->addWidget(new QLabel(QStringLiteral("EMAIL | SECURE KEY |  TO DATE ACTIVE")));
    auto* newRow = new QHBoxLayout;
    m_email = field(QStringLiteral("EMAIL"), QStringLiteral("NewClientEmail"));
    m_seccode = field(QStringLiteral("SECURE KEY"), QStringLiteral("NewClientSeccode"));
    m_generate = pictureButton(QStyle::SP_BrowserReload, QStringLiteral("Generate a secure code"),
                               QStringLiteral("GenerateSecureCode"));
    m_toDate = datePicker(QStringLiteral("TO DATE ACTIVE"), QStringLiteral("NewClientToDate"));
    newRow->addWidget(m_email, 2);
    newRow->addWidget(m_seccode, 2);
    newRow->addWidget(m_generate);
    newRow->addWidget(m_toDate);
    v->addLayout(newRow);
    auto* noteRow = new QHBoxLayout;
    auto* noteLabel = new QLabel(QStringLiteral("NOTE"));
    m_note = field(QStringLiteral("NOTE"), QStringLiteral("NewClientNote"));
    noteLabel->setBuddy(m_note);
    m_create = button(QStringLiteral("CREATE CLIENT"), QStringLiteral("CreateClient"));
    noteRow->addWidget(noteLabel);
    noteRow->addWidget(m_note, 1);
    noteRow->addWidget(m_create);
    v->addLayout(noteRow);
    auto* deleteRow = new QHBoxLayout;
    m_deleteClients = button(QStringLiteral("Delete selected line(s)"), QStringLiteral("DeleteSelectedClients"));
    m_cleanWhite = button(QStringLiteral("Clean list"), QStringLiteral("CleanWhiteList"));
    deleteRow->addStretch();
    deleteRow->addWidget(m_deleteClients);
    deleteRow->addWidget(m_cleanWhite);
    v->addLayout(deleteRow);

    connect(m_onlyActive, &QCheckBox::toggled, this, [this] { optionChanged(); });
    connect(m_sortBy, &QComboBox::currentIndexChanged, this, [this] { optionChanged(); });
    connect(m_white, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu;
        QMenu* copy = menu.addMenu(QStringLiteral("COPY"));
        copy->addAction(QStringLiteral("EMAIL"), this, [this] { copyFromSelected(QStringLiteral("email")); });
        copy->addAction(QStringLiteral("SECCODE"), this, [this] { copyFromSelected(QStringLiteral("seccode")); });
        menu.exec(m_white->viewport()->mapToGlobal(at));
    });
    connect(m_updateDate, &QPushButton::clicked, this,
            [this] { m_admin->updateEndDate(marked(), m_updateDatePicker->date()); });
    connect(m_move, &QPushButton::clicked, this, [this] { m_admin->moveToBlackList(marked()); });
    connect(m_generate, &QPushButton::clicked, this, [this] { m_seccode->setText(GenerateSecureCode()); });
    connect(m_create, &QPushButton::clicked, this, [this] {
        m_admin->createClient(m_email->text(), m_seccode->text(), m_toDate->date(), m_note->text());
    });
    connect(m_deleteClients, &QPushButton::clicked, this, [this] { m_admin->deleteSelectedClients(marked()); });
    connect(m_cleanWhite, &QPushButton::clicked, this, [this] { m_admin->cleanWhiteList(m_white->count()); });
    return page;
}

QWidget* ClientAccessPage::buildBlackTab()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    m_black = new QListWidget;
    m_black->setObjectName(QStringLiteral("ListBox3"));
    m_black->setAccessibleName(QStringLiteral("Black list"));
    v->addWidget(m_black, 1);
    auto* addRow = new QHBoxLayout;
    m_addBlocking = button(QStringLiteral("ADD NEW BLOCKING ->"), QStringLiteral("AddNewBlocking"));
    m_blockType = new QComboBox;
    m_blockType->setObjectName(QStringLiteral("BlockType"));
    m_blockType->setAccessibleName(QStringLiteral("Block type"));
    m_blockType->addItems({QStringLiteral("IP"), QStringLiteral("EMAIL"), QStringLiteral("SECCODE")});
    m_blockValue = field(QStringLiteral("Block value"), QStringLiteral("BlockValue"));
    addRow->addWidget(m_addBlocking);
    addRow->addWidget(m_blockType);
    addRow->addWidget(m_blockValue, 1);
    v->addLayout(addRow);
    auto* deleteRow = new QHBoxLayout;
    m_deleteBlack = button(QStringLiteral("Delete selected line"), QStringLiteral("DeleteSelectedBlackLine"));
    m_cleanBlack = button(QStringLiteral("Clean list"), QStringLiteral("CleanBlackList"));
    deleteRow->addStretch();
    deleteRow->addWidget(m_deleteBlack);
    deleteRow->addWidget(m_cleanBlack);
    v->addLayout(deleteRow);

    connect(m_addBlocking, &QPushButton::clicked, this,
            [this] { m_admin->addNewBlocking(m_blockType->currentText(), m_blockValue->text()); });
    connect(m_deleteBlack, &QPushButton::clicked, this,
            [this] { m_admin->deleteBlackLine(m_black->count(), selectedLine(m_black)); });
    connect(m_cleanBlack, &QPushButton::clicked, this, [this] { m_admin->cleanBlackList(m_black->count()); });
    return page;
}

QString ClientAccessPage::selectedLine(QListWidget* list) const
{
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? QString() : items.first()->text();
}

WhiteListSelection ClientAccessPage::marked() const
{
    WhiteListSelection s;
    s.count = m_white->count();
    for (int i = 0; i < m_white->count(); ++i) {
        const QListWidgetItem* item = m_white->item(i);
        if (item->checkState() == Qt::Checked || item->isSelected()) s.marked << item->text();
    }
    return s;
}

void ClientAccessPage::copyFromSelected(const QString& tag)
{
    const QString text = m_admin->copyFromLine(m_white->count(), selectedLine(m_white), tag);
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void ClientAccessPage::reload()
{
    {
        const BusyCursor busy;
        m_control.loadClientLists();
    }
    showLists();
}

void ClientAccessPage::optionChanged()
{
    m_control.access.showOnlyActiveClients = m_onlyActive->isChecked();
    m_control.access.sortBy = m_sortBy->currentIndex();
    const int selected = m_black->currentRow();
    int again;
    {
        const BusyCursor busy;
        again = m_control.access.ListOptionChanged(selected, m_control.databases, dbParams(m_control.page.clientTable),
                                                   dbParams(m_control.page.workData));
    }
    showLists();
    if (again >= 0) m_black->setCurrentRow(again);
}

void ClientAccessPage::showLists()
{
    const std::shared_ptr<const AccessLists> lists = m_control.access.lists();
    if (lists == m_shown) return;
    m_shown = lists;
    m_white->clear();
    for (const QString& line : lists->white) {
        auto* item = new QListWidgetItem(line, m_white);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    m_black->clear();
    m_black->addItems(lists->black);
}

void ClientAccessPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showLists();
}

}  // namespace veldra
