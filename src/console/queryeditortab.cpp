// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/queryeditortab.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <Qsci/qscilexersql.h>
#include <Qsci/qsciscintilla.h>

#include "answers/testquery.h"
#include "console/consolestyle.h"
#include "console/controls.h"
#include "common/operatorui.h"
#include "monitor/servercontrol.h"
#include "queries/preparation.h"

namespace veldra {

using namespace controls;

namespace {

// The files and the views break lines differently.
QString forView(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// Sets a text only when it differs, so the cursor stays where the operator left it.
void setLine(QLineEdit* f, const QString& text)
{
    if (f->text() != text) f->setText(text);
}

}  // namespace

QueryEditorTab::QueryEditorTab(ServerControl& control, OperatorUi& ui, std::function<void()> showConnectTab,
                               QWidget* parent)
    : QWidget(parent), m_control(control), m_ui(ui), m_showConnectTab(std::move(showConnectTab))
{
    setObjectName(QStringLiteral("RequestsTab"));
    auto* row = new QHBoxLayout(this);

    // The function panel.
    auto* panel = new QVBoxLayout;
    m_updateList = button(QStringLiteral("UPDATE LIST"), QStringLiteral("UpdateList"));
    m_testQuery = button(QStringLiteral("TEST QUERY"), QStringLiteral("TestQuery"));
    m_shareList = button(QStringLiteral("Create share list functions"), QStringLiteral("CreateShareList"));
    m_functions = new QListWidget;
    m_functions->setObjectName(QStringLiteral("FunctionList"));
    m_functions->setAccessibleName(QStringLiteral("Query functions"));
    m_newName = field(QStringLiteral("New function name"), QStringLiteral("NewFunctionName"));
    m_newName->setPlaceholderText(QStringLiteral("new function name"));
    m_create = button(QStringLiteral("CREATE NEW QUERY"), QStringLiteral("CreateNewQuery"));
    m_delete = button(QStringLiteral("DELETE QUERY"), QStringLiteral("DeleteQuery"));
    for (QWidget* w : {static_cast<QWidget*>(m_updateList), static_cast<QWidget*>(m_testQuery),
                       static_cast<QWidget*>(m_shareList), static_cast<QWidget*>(m_functions),
                       static_cast<QWidget*>(m_newName), static_cast<QWidget*>(m_create),
                       static_cast<QWidget*>(m_delete)})
        panel->addWidget(w, w == m_functions ? 1 : 0);
    row->addLayout(panel, 1);

    // The open function.
    auto* right = new QVBoxLayout;
    m_tabs = new QTabWidget;
    m_tabs->setAccessibleName(QStringLiteral("Query function"));
    m_tabs->addTab(buildMainData(), QStringLiteral("  Main data  "));
    m_tabs->addTab(buildQueryTab(), QStringLiteral("  QUERY  "));
    m_lastQuery = new QPlainTextEdit;
    m_lastQuery->setObjectName(QStringLiteral("LastPreparedQuery"));
    m_lastQuery->setAccessibleName(QStringLiteral("Last prepared query"));
    m_lastQuery->setReadOnly(true);
    m_lastQuery->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_lastQuery->setPlainText(forView(LastPreparedQuery::instance().text()));
    m_tabs->addTab(m_lastQuery, QStringLiteral("  [LAST PREPARED QUERY] - log last query  "));
    right->addWidget(m_tabs, 1);
    auto* saveRow = new QHBoxLayout;
    m_save = button(QStringLiteral("SAVE CHANGES"), QStringLiteral("SaveChanges"));
    m_unsaved = new QLabel(QStringLiteral("unsaved changes"));
    m_unsaved->setObjectName(QStringLiteral("UnsavedChanges"));
    m_unsaved->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    saveRow->addWidget(m_save);
    saveRow->addWidget(m_unsaved);
    saveRow->addStretch();
    right->addLayout(saveRow);
    row->addLayout(right, 3);

    connect(m_updateList, &QPushButton::clicked, this, [this] { run([this] { m_editor.updateList(folders(), m_ui); }); });
    connect(m_shareList, &QPushButton::clicked, this,
            [this] { run([this] { m_editor.createShareList(folders(), m_ui); }); });
    connect(m_testQuery, &QPushButton::clicked, this, [this] {
        if (m_editor.selectedName().isEmpty()) return;
        const BusyCursor busy;
        TestQuery(m_control.page.pathToQueries, m_editor.selectedName(), m_control.databases,
                  dbParams(m_control.page.clientTable), dbParams(m_control.page.workData), m_ui, m_showConnectTab);
    });
    connect(m_functions, &QListWidget::currentRowChanged, this, [this](int index) {
        if (!m_showing) run([this, index] { m_editor.selectFunction(index, folders(), m_ui); });
    });
    console::currentFollowsSelection(m_functions);
    auto create = [this] { run([this] { m_editor.createNewQuery(m_newName->text(), folders(), m_ui); }); };
    connect(m_create, &QPushButton::clicked, this, create);
    connect(m_newName, &QLineEdit::returnPressed, this, create);
    connect(m_delete, &QPushButton::clicked, this, [this] { run([this] { m_editor.deleteQuery(folders(), m_ui); }); });
    connect(m_save, &QPushButton::clicked, this, [this] { run([this] { m_editor.saveChanges(folders(), m_ui); }); });

    // The "[LAST PREPARED QUERY]" view follows requests while it is on screen and shows
    // the last one kept whenever it comes on screen.
    LastPreparedQuery::instance().setListener([this](const QString& text) { showLastQuery(text); });
    m_lastQuery->installEventFilter(this);
    showState();
}

QueryEditorTab::~QueryEditorTab()
{
    LastPreparedQuery::instance().setListener(nullptr);
    LastPreparedQuery::instance().setOnScreen(false);
}

QWidget* QueryEditorTab::buildMainData()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* nameLabel = new QLabel(QStringLiteral("Name function"));
    m_name = field(QStringLiteral("Name function"), QStringLiteral("NameFunction"));
    m_name->setReadOnly(true);
    nameLabel->setBuddy(m_name);
    m_active = box(QStringLiteral("ACTIVED"), QStringLiteral("Actived"));
    m_blocked = box(QStringLiteral("BLOCKED FOR SHARE LIST DESCRIPTION"), QStringLiteral("BlockedForShareList"));
    auto* descLabel = new QLabel(QStringLiteral("Description query"));
    m_description = new QPlainTextEdit;
    m_description->setObjectName(QStringLiteral("DescriptionQuery"));
    m_description->setAccessibleName(QStringLiteral("Description query"));
    m_description->setMaximumHeight(90);
    v->addWidget(nameLabel);
    v->addWidget(m_name);
    v->addWidget(m_active);
    v->addWidget(m_blocked);
    v->addWidget(descLabel);
    v->addWidget(m_description);

    auto* group = new QGroupBox(QStringLiteral("Input values"));
    group->setAccessibleName(QStringLiteral("Input values"));
    auto* g = new QHBoxLayout(group);
    m_inputs = new QListWidget;
    m_inputs->setObjectName(QStringLiteral("InputValues"));
    m_inputs->setAccessibleName(QStringLiteral("Input values"));
    g->addWidget(m_inputs, 1);
    auto* buttons = new QVBoxLayout;
    m_newInput = button(QStringLiteral("new"), QStringLiteral("NewInputValue"));
    m_editInput = button(QStringLiteral("edit"), QStringLiteral("EditInputValue"));
    m_deleteInput = button(QStringLiteral("delete"), QStringLiteral("DeleteInputValue"));
    m_up = pictureButton(QStyle::SP_ArrowUp, QStringLiteral("Move input value up"), QStringLiteral("MoveInputUp"));
    m_down = pictureButton(QStyle::SP_ArrowDown, QStringLiteral("Move input value down"), QStringLiteral("MoveInputDown"));
    for (QPushButton* b : {m_newInput, m_editInput, m_deleteInput, m_up, m_down}) buttons->addWidget(b);
    buttons->addStretch();
    g->addLayout(buttons);
    auto* fieldsGrid = new QGridLayout;
    m_inName = field(QStringLiteral("Name"), QStringLiteral("InputName"));
    m_inDefault = field(QStringLiteral("Default value"), QStringLiteral("InputDefaultValue"));
    m_inClean = box(QStringLiteral("Cleaning text value"), QStringLiteral("CleaningTextValue"));
    m_inFloat = box(QStringLiteral("Float | integer value"), QStringLiteral("FloatIntegerValue"));
    m_inDeleteBlock = box(QStringLiteral("Delete block in query if value is/will"), QStringLiteral("DeleteBlockIfValue"));
    m_inDeleteValues = field(QStringLiteral("Values that delete the block"), QStringLiteral("DeleteBlockValues"));
    auto* inNameLabel = new QLabel(QStringLiteral("Name"));
    inNameLabel->setBuddy(m_inName);
    auto* inDefaultLabel = new QLabel(QStringLiteral("Default value"));
    inDefaultLabel->setBuddy(m_inDefault);
    fieldsGrid->addWidget(inNameLabel, 0, 0);
    fieldsGrid->addWidget(m_inName, 0, 1);
    fieldsGrid->addWidget(inDefaultLabel, 1, 0);
    fieldsGrid->addWidget(m_inDefault, 1, 1);
    fieldsGrid->addWidget(m_inClean, 2, 0, 1, 2);
    fieldsGrid->addWidget(m_inFloat, 3, 0, 1, 2);
    fieldsGrid->addWidget(m_inDeleteBlock, 4, 0);
    fieldsGrid->addWidget(m_inDeleteValues, 4, 1);
    fieldsGrid->setRowStretch(5, 1);
    fieldsGrid->setColumnStretch(1, 1);
    g->addLayout(fieldsGrid, 2);
    v->addWidget(group, 1);

    // The fields of the function.
    connect(m_active, &QCheckBox::toggled, this, [this](bool on) { modelChanged([on](QueryEditorModel& m) { m.active = on; }); });
    connect(m_blocked, &QCheckBox::toggled, this,
            [this](bool on) { modelChanged([on](QueryEditorModel& m) { m.blockedForShareList = on; }); });
    connect(m_description, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_description->toPlainText();
        if (forView(m_editor.model.description) != text)
            modelChanged([text](QueryEditorModel& m) { m.description = text; });
    });
    // The input-value fields are the operator's scratch until new or edit. They take
    // their text however it comes (typed, pasted, set by assistive technology or voice
    // input); only the editor's own showing of an entry is kept apart.
    connect(m_inName, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_showing) return;
        if (text != text.toLower()) {
            // letters put into the field become lower case; the change comes back here
            const int cursor = m_inName->cursorPosition();
            m_inName->setText(text.toLower());
            m_inName->setCursorPosition(cursor);
            return;
        }
        fieldsChanged();
    });
    for (QLineEdit* f : {m_inDefault, m_inDeleteValues}) connect(f, &QLineEdit::textChanged, this, [this] { fieldsChanged(); });
    for (QCheckBox* b : {m_inClean, m_inFloat, m_inDeleteBlock}) connect(b, &QCheckBox::toggled, this, [this] { fieldsChanged(); });

    connect(m_inputs, &QListWidget::currentRowChanged, this, [this](int index) {
        if (!m_showing) run([this, index] { m_editor.showInputValue(index, folders(), m_ui); });
    });
    console::currentFollowsSelection(m_inputs);
    connect(m_newInput, &QPushButton::clicked, this, [this] { run([this] { m_editor.newInputValue(folders(), m_ui); }); });
    connect(m_editInput, &QPushButton::clicked, this, [this] { run([this] { m_editor.editInputValue(m_ui); }); });
    connect(m_deleteInput, &QPushButton::clicked, this, [this] { run([this] { m_editor.deleteInputValue(m_ui); }); });
    connect(m_up, &QPushButton::clicked, this, [this] { run([this] { m_editor.moveInputUp(); }); });
    connect(m_down, &QPushButton::clicked, this, [this] { run([this] { m_editor.moveInputDown(); }); });
    return page;
}

QWidget* QueryEditorTab::buildQueryTab()
{
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    m_query = new QsciScintilla;
    m_query->setObjectName(QStringLiteral("QueryText"));
    m_query->setAccessibleName(QStringLiteral("Query"));
    auto* lexer = new QsciLexerSQL(m_query);
    lexer->setDefaultFont(QFont(QStringLiteral("Monospace"), 10));
    m_query->setLexer(lexer);
    m_query->setUtf8(true);
    m_query->setEolMode(QsciScintilla::EolWindows);
    m_query->setIndentationsUseTabs(true);
    m_query->setTabWidth(4);
    m_query->setMarginType(0, QsciScintilla::NumberMargin);
    m_query->setMarginWidth(0, QStringLiteral("0000"));
    m_query->setBraceMatching(QsciScintilla::SloppyBraceMatch);
    v->addWidget(m_query, 1);
    for (const QString& reminder : {QStringLiteral("{:xxxx:} - input parameters"),
                                    QStringLiteral("<#xxxx#><#/xxxx#> - block(s) which need will clean in case error input parameter")}) {
        auto* l = new QLabel(reminder);
        l->setTextFormat(Qt::PlainText);
        v->addWidget(l);
    }
    connect(m_query, &QsciScintilla::textChanged, this, [this] {
        const QString text = m_query->text();
        if (text != m_editor.model.query) modelChanged([text](QueryEditorModel& m) { m.query = text; });
    });
    return page;
}

EditorFolders QueryEditorTab::folders() const
{
    return EditorFolders{m_control.page.pathToQueries, m_control.page.pathToCache};
}

void QueryEditorTab::run(const std::function<void()>& operation)
{
    operation();
    showState();
}

void QueryEditorTab::modelChanged(const std::function<void(QueryEditorModel&)>& change)
{
    if (m_showing) return;
    change(m_editor.model);
    m_editor.modified = true;
    showModified();
}

void QueryEditorTab::fieldsChanged()
{
    if (m_showing) return;
    InputValueFields& f = m_editor.fields;
    f.name = m_inName->text();
    f.defaultValue = m_inDefault->text();
    f.deleteblockedIfValueIs = m_inDeleteValues->text();
    f.cleantext = m_inClean->isChecked();
    f.isFloatValue = m_inFloat->isChecked();
    f.deleteblocked = m_inDeleteBlock->isChecked();
}

void QueryEditorTab::showModified()
{
    m_unsaved->setVisible(m_editor.modified);
    QFont f = m_save->font();
    f.setBold(m_editor.modified);
    m_save->setFont(f);
}

void QueryEditorTab::showFields()
{
    const InputValueFields& f = m_editor.fields;
    setLine(m_inName, f.name);
    setLine(m_inDefault, f.defaultValue);
    setLine(m_inDeleteValues, f.deleteblockedIfValueIs);
    m_inClean->setChecked(f.cleantext);
    m_inFloat->setChecked(f.isFloatValue);
    m_inDeleteBlock->setChecked(f.deleteblocked);
}

void QueryEditorTab::showState()
{
    m_showing = true;
    if (m_functions->count() != m_editor.functions.size() ||
        [this] {
            for (int i = 0; i < m_functions->count(); ++i)
                if (m_functions->item(i)->text() != m_editor.functions[i]) return true;
            return false;
        }()) {
        m_functions->clear();
        m_functions->addItems(m_editor.functions);
    }
    m_functions->setCurrentRow(m_editor.selected);

    const QueryEditorModel& m = m_editor.model;
    setLine(m_name, m.name);
    m_active->setChecked(m.active);
    m_blocked->setChecked(m.blockedForShareList);
    if (m_description->toPlainText() != forView(m.description)) m_description->setPlainText(forView(m.description));
    if (m_query->text() != m.query) m_query->setText(m.query);
    QStringList names;
    for (const InputValueEntry& e : m.inputValues) names << e.name;
    m_inputs->clear();
    m_inputs->addItems(names);
    m_inputs->setCurrentRow(m_editor.selectedInput);
    showFields();
    m_showing = false;
    showModified();
}

void QueryEditorTab::showLastQuery(const QString& text)
{
    const QString shown = forView(text);
    if (m_lastQuery->toPlainText() != shown) m_lastQuery->setPlainText(shown);
}

bool QueryEditorTab::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_lastQuery && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        LastPreparedQuery& last = LastPreparedQuery::instance();
        last.setOnScreen(event->type() == QEvent::Show);
        if (last.onScreen()) showLastQuery(last.text());
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace veldra
