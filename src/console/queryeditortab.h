// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "  REQUESTS  " tab of the settings page: the query-function editor with its
// function panel, the three tabs of the open function and SAVE CHANGES. The operations
// are those of QueryEditor; this widget shows its state and feeds the typing into it.
#include <QWidget>
#include <functional>

#include "queries/queryeditor.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QsciScintilla;

namespace veldra {

class OperatorUi;
class ServerControl;

class QueryEditorTab : public QWidget {
    Q_OBJECT
public:
    // `showConnectTab` switches the settings page to "  CONNECT WITH MYSQL  ".
    QueryEditorTab(ServerControl& control, OperatorUi& ui, std::function<void()> showConnectTab,
                   QWidget* parent = nullptr);
    ~QueryEditorTab() override;

    const QueryEditor& editor() const { return m_editor; }

    QPushButton* updateListButton() const { return m_updateList; }
    QPushButton* testQueryButton() const { return m_testQuery; }
    QPushButton* shareListButton() const { return m_shareList; }
    QListWidget* functionList() const { return m_functions; }
    QLineEdit* newNameField() const { return m_newName; }
    QPushButton* createButton() const { return m_create; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* saveButton() const { return m_save; }
    QLabel* unsavedMark() const { return m_unsaved; }
    QTabWidget* tabs() const { return m_tabs; }
    QLineEdit* nameField() const { return m_name; }
    QCheckBox* activeBox() const { return m_active; }
    QCheckBox* blockedBox() const { return m_blocked; }
    QPlainTextEdit* descriptionField() const { return m_description; }
    QListWidget* inputList() const { return m_inputs; }
    QPushButton* newInputButton() const { return m_newInput; }
    QPushButton* editInputButton() const { return m_editInput; }
    QPushButton* deleteInputButton() const { return m_deleteInput; }
    QPushButton* upButton() const { return m_up; }
    QPushButton* downButton() const { return m_down; }
    QLineEdit* inputNameField() const { return m_inName; }
    QLineEdit* defaultValueField() const { return m_inDefault; }
    QCheckBox* cleanTextBox() const { return m_inClean; }
    QCheckBox* floatBox() const { return m_inFloat; }
    QCheckBox* deleteBlockBox() const { return m_inDeleteBlock; }
    QLineEdit* deleteBlockValuesField() const { return m_inDeleteValues; }
    QsciScintilla* queryField() const { return m_query; }
    QPlainTextEdit* lastQueryView() const { return m_lastQuery; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildMainData();
    QWidget* buildQueryTab();
    EditorFolders folders() const;
    // Runs an operation of the editor, then shows the editor's state.
    void run(const std::function<void()>& operation);
    void showState();
    void showFields();
    void showModified();
    void showLastQuery(const QString& text);
    void fieldsChanged();
    void modelChanged(const std::function<void(QueryEditorModel&)>& change);

    ServerControl& m_control;
    OperatorUi& m_ui;
    std::function<void()> m_showConnectTab;
    QueryEditor m_editor;
    bool m_showing = false;  // the widgets are being set from the editor, not typed into

    QPushButton* m_updateList = nullptr;
    QPushButton* m_testQuery = nullptr;
    QPushButton* m_shareList = nullptr;
    QListWidget* m_functions = nullptr;
    QLineEdit* m_newName = nullptr;
    QPushButton* m_create = nullptr;
    QPushButton* m_delete = nullptr;
    QTabWidget* m_tabs = nullptr;
    QPushButton* m_save = nullptr;
    QLabel* m_unsaved = nullptr;
    QLineEdit* m_name = nullptr;
    QCheckBox* m_active = nullptr;
    QCheckBox* m_blocked = nullptr;
    QPlainTextEdit* m_description = nullptr;
    QListWidget* m_inputs = nullptr;
    QPushButton* m_newInput = nullptr;
    QPushButton* m_editInput = nullptr;
    QPushButton* m_deleteInput = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QLineEdit* m_inName = nullptr;
    QLineEdit* m_inDefault = nullptr;
    QCheckBox* m_inClean = nullptr;
    QCheckBox* m_inFloat = nullptr;
    QCheckBox* m_inDeleteBlock = nullptr;
    QLineEdit* m_inDeleteValues = nullptr;
    QsciScintilla* m_query = nullptr;
    QPlainTextEdit* m_lastQuery = nullptr;
};

}  // namespace veldra
