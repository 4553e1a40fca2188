// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "  CACHE SETTINGS  " page: the functions with a cache folder, the five count and
// size labels, "UPDATE LIST FUNCTIONS", "DELETE CACHE FOR SELECTED FUNCTION" and
// "CLEAN FULL CACHE". It reads the two folders of the settings page as they stand.
#include <QWidget>

#include "cache/cachemaintenance.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace veldra {

class OperatorUi;
class ServerControl;

class CachePage : public QWidget {
    Q_OBJECT
public:
    CachePage(ServerControl& control, OperatorUi& ui, QWidget* parent = nullptr);

    QListWidget* functionList() const { return m_list; }
    QLabel* countFunctions() const { return m_countFunctions; }
    QLabel* countInFolder() const { return m_countInFolder; }
    QLabel* sizeInFolder() const { return m_sizeInFolder; }
    QLabel* countAll() const { return m_countAll; }
    QLabel* sizeAll() const { return m_sizeAll; }
    QPushButton* updateListButton() const { return m_update; }
    QPushButton* deleteSelectedButton() const { return m_deleteSelected; }
    QPushButton* cleanFullButton() const { return m_cleanFull; }

private:
    CachePageFolders folders() const;
    void show(const CachePageModel& model);

    ServerControl& m_control;
    OperatorUi& m_ui;
    CachePageModel m_model;
    QListWidget* m_list = nullptr;
    QLabel* m_countFunctions = nullptr;
    QLabel* m_countInFolder = nullptr;
    QLabel* m_sizeInFolder = nullptr;
    QLabel* m_countAll = nullptr;
    QLabel* m_sizeAll = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_deleteSelected = nullptr;
    QPushButton* m_cleanFull = nullptr;
};

}  // namespace veldra
