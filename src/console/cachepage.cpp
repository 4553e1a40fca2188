// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/cachepage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "common/operatorui.h"
#include "console/consolestyle.h"
#include "monitor/servercontrol.h"

namespace veldra {

using namespace console;

CachePage::CachePage(ServerControl& control, OperatorUi& ui, QWidget* parent)
    : QWidget(parent), m_control(control), m_ui(ui)
{
    auto* listLabel = new QLabel(QStringLiteral("Functions with cache files"));
    m_list = named(new QListWidget, QStringLiteral("CacheFunctionList"), listLabel->text());
    listLabel->setBuddy(m_list);
    m_list->setMinimumWidth(320);

    auto label = [](const QString& objectName, const QString& description) {
        auto* l = described(new QLabel, objectName, description);
        l->setFont(sansFont(16, true));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    m_countFunctions = label(QStringLiteral("CountFunctionsLabel"), QStringLiteral("Count functions"));
    m_countInFolder = label(QStringLiteral("CountInFolderLabel"), QStringLiteral("Count cache files in folder"));
    m_sizeInFolder = label(QStringLiteral("SizeInFolderLabel"), QStringLiteral("Size of cache files in folder"));
    m_countAll = label(QStringLiteral("CountAllLabel"), QStringLiteral("Count cache files in all folders"));
    m_sizeAll = label(QStringLiteral("SizeAllLabel"), QStringLiteral("Size of all cache files"));

    m_update = captionButton(QStringLiteral("UPDATE LIST FUNCTIONS"), QStringLiteral("UpdateListFunctionsButton"));
    m_deleteSelected = captionButton(QStringLiteral("DELETE CACHE FOR SELECTED FUNCTION"),
                                     QStringLiteral("DeleteCacheForSelectedButton"));
    m_cleanFull = captionButton(QStringLiteral("CLEAN FULL CACHE"), QStringLiteral("CleanFullCacheButton"));
    for (QPushButton* b : {m_update, m_deleteSelected, m_cleanFull}) b->setMinimumHeight(32);

    connect(m_update, &QPushButton::clicked, this, [this] {
        cachePageUpdateList(m_model, folders(), m_ui);
        show(m_model);
    });
    // A click, or the keyboard, selects an entry and measures its folder; a click on the
    // entry already selected measures it anew.
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0) return;
        cachePageSelect(m_model, row, folders());
        show(m_model);
    });
    connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int row = m_list->row(item);
        if (row != m_model.selected) return;
        cachePageSelect(m_model, row, folders());
        show(m_model);
    });
    currentFollowsSelection(m_list);
    connect(m_deleteSelected, &QPushButton::clicked, this, [this] {
        cachePageDeleteSelected(m_model, folders(), m_ui);
        show(m_model);
    });
    connect(m_cleanFull, &QPushButton::clicked, this, [this] {
        cachePageCleanFull(m_model, folders(), m_ui);
        show(m_model);
    });

    auto* left = new QVBoxLayout;
    left->addWidget(listLabel);
    left->addWidget(m_list, 1);
    left->addWidget(m_update);
    auto* right = new QVBoxLayout;
    for (QLabel* l : {m_countFunctions, m_countInFolder, m_sizeInFolder, m_countAll, m_sizeAll}) right->addWidget(l);
    right->addSpacing(24);
    right->addWidget(m_deleteSelected);
    right->addWidget(m_cleanFull);
    right->addStretch();
    auto* h = new QHBoxLayout;
    h->addLayout(left, 2);
    h->addSpacing(16);
    h->addLayout(right, 3);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(headingBar(QStringLiteral("  CACHE SETTINGS  ")));
    auto* body = new QVBoxLayout;
    body->setContentsMargins(9, 9, 9, 9);
    body->addLayout(h);
    v->addLayout(body, 1);

    chainTabOrder({m_list, m_update, m_deleteSelected, m_cleanFull});
    show(m_model);
}

CachePageFolders CachePage::folders() const
{
    return CachePageFolders{m_control.page.pathToQueries, m_control.page.pathToCache};
}

void CachePage::show(const CachePageModel& model)
{
    if (m_list->count() != model.functions.size() || [&] {
            for (int i = 0; i < m_list->count(); ++i)
                if (m_list->item(i)->text() != model.functions[i]) return true;
            return false;
        }()) {
        const QSignalBlocker block(m_list);
        m_list->clear();
        m_list->addItems(model.functions);
    }
    if (model.selected >= 0 && model.selected < m_list->count() && m_list->currentRow() != model.selected) {
        const QSignalBlocker block(m_list);
        m_list->setCurrentRow(model.selected);
    }
    m_countFunctions->setText(model.countFunctions);
    m_countInFolder->setText(model.countInFolder);
    m_sizeInFolder->setText(model.sizeInFolder);
    m_countAll->setText(model.countAll);
    m_sizeAll->setText(model.sizeAll);
}

}  // namespace veldra
