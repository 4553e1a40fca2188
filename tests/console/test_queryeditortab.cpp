// SPDX-License-Identifier: GPL-3.0-or-later
// The REQUESTS tab offscreen: the editor's cycle on a temporary queries folder, its
// refusals, and TEST QUERY with its sample files on the test database.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <Qsci/qsciscintilla.h>
#include <functional>

#include "common/files.h"
#include "common/mainthread.h"
#include "console/consoletest.h"
#include "console/databasetest.h"
#include "console/queryeditortab.h"
#include "monitor/servercontrol.h"
#include "queries/preparation.h"
#include "queries/queryfile.h"

using namespace veldra;
using namespace veldra::test;

namespace {

QByteArray crlf(const QStringList& lines)
{
    QByteArray out("\xEF\xBB\xBF");
    for (const QString& l : lines) out += l.toUtf8() + "\r\n";
    return out;
}

}  // namespace

class QueryEditorTabTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        mainthread::install();
        QVERIFY(m_program.isValid());
        setProgramFolder(m_program.path());
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir(m_dir->path()).mkdir(QStringLiteral("QUERIES"));
        QDir(m_dir->path()).mkdir(QStringLiteral("CACHE"));
        m_ui = ScriptedOperator{};
        m_control = std::make_unique<ServerControl>(m_ui);
        m_control->page.pathToQueries = queries();
        m_control->page.pathToCache = m_dir->path() + QStringLiteral("/CACHE");
        m_connectTabShown = 0;
        m_tab = std::make_unique<QueryEditorTab>(*m_control, m_ui, [this] { ++m_connectTabShown; });
    }

    void cleanup()
    {
        m_tab.reset();
        m_control.reset();
    }

    void folderTestAndNamesThatAreRefused()
    {
        m_control->page.pathToQueries = QStringLiteral("  ");
        m_tab->updateListButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("The path to the output folder is empty or wrong !")});
        QCOMPARE(m_tab->functionList()->count(), 0);
        m_control->page.pathToQueries = queries() + QStringLiteral("/");

        m_ui.messages.clear();
        m_tab->newNameField()->setText(QStringLiteral("   "));
        m_tab->createButton()->click();
        for (const char* bad : {"../evil", "a/b", "a\\b", "x..y", "tab\there"}) {
            m_tab->newNameField()->setText(QString::fromLatin1(bad));
            m_tab->createButton()->click();
        }
        QCOMPARE(m_ui.messages.size(), 6);
        QCOMPARE(m_ui.messages.first(), QStringLiteral("Name function is not set"));
        QVERIFY(m_ui.messages.last().contains(QStringLiteral("may not hold")));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name), QStringList());
        QCOMPARE(QDir(queries()).entryList(QDir::Files), QStringList());

        // A file that the list does not show yet is not overwritten.
        writeTextFile(queries() + QStringLiteral("/Hidden.qr"), {QStringLiteral("<#q_name>Hidden</#q_name>"), QStringLiteral("keep")});
        const QByteArray before = fileBytes(queries() + QStringLiteral("/Hidden.qr"));
        m_ui.messages.clear();
        m_tab->newNameField()->setText(QStringLiteral("hidden"));
        m_tab->createButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("This name function already exists")});
        QCOMPARE(fileBytes(queries() + QStringLiteral("/Hidden.qr")), before);
        QCOMPARE(QDir(queries()).entryList(QDir::Files), QStringList{QStringLiteral("Hidden.qr")});
    }

    void editorCycle()
    {
        // A cache folder of an earlier function of the same name goes with CREATE NEW QUERY.
        QDir(m_dir->path()).mkpath(QStringLiteral("CACHE/orders"));
        m_tab->updateListButton()->click();
        QCOMPARE(m_tab->functionList()->count(), 0);
        m_tab->newNameField()->setText(QStringLiteral("zeta"));
        QTest::keyClick(m_tab->newNameField(), Qt::Key_Return);  // Enter creates too
        m_tab->newNameField()->setText(QStringLiteral("orders"));
        m_tab->createButton()->click();
        QVERIFY(m_ui.messages.isEmpty());
        QCOMPARE(fileBytes(queries() + QStringLiteral("/orders.qr")),
                 crlf({"<#q_name>orders</#q_name>", "<#q_active>false</#q_active>",
                       "<#q_blocked_for_sharelist>true</#q_blocked_for_sharelist>", "<#q_descript></#q_descript>",
                       "<#q_count_input_values>0</#q_count_input_values>", "<#q_content></#q_content>"}));
        QVERIFY(!QFileInfo::exists(m_dir->path() + QStringLiteral("/CACHE/orders")));
        QCOMPARE(listed(), QStringList({"orders", "zeta"}));
        QCOMPARE(m_tab->functionList()->currentItem()->text(), QStringLiteral("orders"));
        QCOMPARE(m_tab->nameField()->text(), QStringLiteral("orders"));
        QVERIFY(!m_tab->activeBox()->isChecked());
        QVERIFY(m_tab->blockedBox()->isChecked());
        QVERIFY(m_tab->unsavedMark()->isHidden());

        // Same name between blanks and in capitals: refused, and that function is opened.
        m_tab->functionList()->setCurrentRow(1);
        m_tab->newNameField()->setText(QStringLiteral("  Orders "));
        m_tab->createButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("This name function already exists")});
        QCOMPARE(m_tab->functionList()->currentRow(), 0);
        m_ui.messages.clear();

        // Fill the function.
        m_tab->activeBox()->click();
        QVERIFY(m_tab->unsavedMark()->isVisibleTo(m_tab.get()));
        m_tab->blockedBox()->click();
        m_tab->descriptionField()->setPlainText(QStringLiteral("All orders\nof a customer"));
        m_tab->queryField()->setText(QStringLiteral("SELECT *\r\n\tFROM o WHERE c = {:id:} /*<#d#>*/ AND d = {:d:} /*<#/d#>*/"));
        QTest::keyClicks(m_tab->inputNameField(), QStringLiteral("ID"));
        QCOMPARE(m_tab->inputNameField()->text(), QStringLiteral("id"));  // typed letters become lower case
        m_tab->floatBox()->click();
        m_tab->newInputButton()->click();
        for (const char* name : {"d", "x"}) {
            m_tab->inputNameField()->clear();
            QTest::keyClicks(m_tab->inputNameField(), QString::fromLatin1(name));
            m_tab->newInputButton()->click();
        }
        QCOMPARE(inputs(), QStringList({"id", "d", "x"}));
        // An existing name with a trailing blank: refused, and the entry is shown.
        m_tab->inputNameField()->setText(QStringLiteral("ID "));
        QTest::keyClicks(m_tab->inputNameField(), QStringLiteral(" "));
        m_tab->newInputButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("This name value already exists")});
        QCOMPARE(m_tab->inputList()->currentRow(), 0);
        QVERIFY(m_tab->floatBox()->isChecked());
        m_ui.messages.clear();
        // Move: up on the first and down on the last change nothing.
        m_tab->upButton()->click();
        QCOMPARE(inputs(), QStringList({"id", "d", "x"}));
        m_tab->inputList()->setCurrentRow(2);
        m_tab->downButton()->click();
        QCOMPARE(inputs(), QStringList({"id", "d", "x"}));
        m_tab->upButton()->click();
        QCOMPARE(inputs(), QStringList({"id", "x", "d"}));
        QCOMPARE(m_tab->inputList()->currentRow(), 1);
        // d: its block goes when it has no value.
        m_tab->inputList()->setCurrentRow(2);
        m_tab->deleteBlockBox()->click();
        m_ui.answerYes = false;
        m_tab->editInputButton()->click();
        QVERIFY(!m_tab->editor().model.inputValues[2].rec.deleteblocked);
        m_ui.answerYes = true;
        m_tab->editInputButton()->click();
        QCOMPARE(m_ui.questions, QStringList({"Edit selected value and its settings [d] ?", "Edit selected value and its settings [d] ?"}));
        QVERIFY(m_tab->editor().model.inputValues[2].rec.deleteblocked);
        // x goes.
        m_tab->inputList()->setCurrentRow(1);
        m_tab->deleteInputButton()->click();
        QCOMPARE(inputs(), QStringList({"id", "d"}));

        // SAVE CHANGES shows the whole text first, then writes exactly it.
        const QStringList expected{
            "<#q_name>orders</#q_name>", "<#q_active>-1</#q_active>", "<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>",
            "<#q_descript>All orders", "of a customer</#q_descript>", "<#q_count_input_values>2</#q_count_input_values>",
            "<#q_in_name[1]>id</#q_in_name[1]>", "<#q_in_default_value[1]>null</#q_in_default_value[1]>",
            "<#q_in_deleteblocked_ifvalue_is[1]>[null][0][]</#q_in_deleteblocked_ifvalue_is[1]>",
            "<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>", "<#q_in_IsFloatValue[1]>-1</#q_in_IsFloatValue[1]>",
            "<#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>", "<#q_in_name[2]>d</#q_in_name[2]>",
            "<#q_in_default_value[2]>null</#q_in_default_value[2]>",
            "<#q_in_deleteblocked_ifvalue_is[2]>[null][0][]</#q_in_deleteblocked_ifvalue_is[2]>",
            "<#q_in_Cleantext[2]>0</#q_in_Cleantext[2]>", "<#q_in_IsFloatValue[2]>-1</#q_in_IsFloatValue[2]>",
            "<#q_in_deleteblocked[2]>-1</#q_in_deleteblocked[2]>", "<#q_content>SELECT *",
            "\tFROM o WHERE c = {:id:} /*<#d#>*/ AND d = {:d:} /*<#/d#>*/</#q_content>"};
        m_tab->saveButton()->click();
        QCOMPARE(m_ui.messages.size(), 1);
        QCOMPARE(m_ui.messages.first().split(QStringLiteral("\r\n")), (expected + QStringList{QString()}));
        QCOMPARE(fileBytes(queries() + QStringLiteral("/orders.qr")), crlf(expected));
        QVERIFY(m_tab->unsavedMark()->isHidden());
        m_ui.messages.clear();

        // Unsaved changes go when another function is opened.
        m_tab->descriptionField()->setPlainText(QStringLiteral("changed"));
        m_tab->inputList()->setCurrentRow(0);
        m_tab->upButton()->click();
        m_tab->functionList()->setCurrentRow(1);
        m_tab->functionList()->setCurrentRow(0);
        QCOMPARE(m_tab->descriptionField()->toPlainText(), QStringLiteral("All orders\nof a customer"));
        QCOMPARE(inputs(), QStringList({"id", "d"}));
        // UPDATE LIST reads the folder again and opens the first function.
        m_tab->updateListButton()->click();
        QCOMPARE(m_tab->queryField()->text(), QStringLiteral("SELECT *\r\n\tFROM o WHERE c = {:id:} /*<#d#>*/ AND d = {:d:} /*<#/d#>*/"));
        QVERIFY(m_tab->activeBox()->isChecked());
        QVERIFY(!m_tab->blockedBox()->isChecked());

        // DELETE QUERY asks; No keeps the file, Yes removes it and its cache folder.
        QDir(m_dir->path()).mkpath(QStringLiteral("CACHE/orders"));
        m_ui.answerYes = false;
        m_tab->deleteButton()->click();
        QVERIFY(QFileInfo::exists(queries() + QStringLiteral("/orders.qr")));
        m_ui.answerYes = true;
        m_tab->deleteButton()->click();
        QCOMPARE(m_ui.questions.mid(2), QStringList({"Delete selected value and its settings [x] ?", "Delete selected function [orders] ?",
                                                     "Delete selected function [orders] ?"}));
        QVERIFY(!QFileInfo::exists(queries() + QStringLiteral("/orders.qr")));
        QVERIFY(!QFileInfo::exists(m_dir->path() + QStringLiteral("/CACHE/orders")));
        QCOMPARE(listed(), QStringList{"zeta"});
        QCOMPARE(m_tab->nameField()->text(), QStringLiteral("zeta"));
    }

    // Text put into the input-value fields by assistive technology, voice input or any
    // program counts as typed; the editor's own showing of an entry does not.
    void inputValueFieldsTakeTextHoweverItComes()
    {
        writeTextFile(queries() + QStringLiteral("/f.qr"),
                      {"<#q_name>f</#q_name>", "<#q_active>0</#q_active>", "<#q_count_input_values>1</#q_count_input_values>",
                       "<#q_in_name[1]>Key</#q_in_name[1]>", "<#q_in_default_value[1]>null</#q_in_default_value[1]>",
                       "<#q_in_deleteblocked_ifvalue_is[1]>[]</#q_in_deleteblocked_ifvalue_is[1]>",
                       "<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>", "<#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]>",
                       "<#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>", "<#q_content>SELECT 1</#q_content>"});
        m_tab->updateListButton()->click();
        QCOMPARE(inputs(), QStringList{"Key"});
        m_tab->inputList()->setCurrentRow(0);
        QCOMPARE(m_tab->inputNameField()->text(), QStringLiteral("Key"));  // shown as the file holds it
        QVERIFY(m_tab->unsavedMark()->isHidden());

        m_tab->inputNameField()->setText(QStringLiteral("Amount"));
        QCOMPARE(m_tab->inputNameField()->text(), QStringLiteral("amount"));  // as if typed
        m_tab->defaultValueField()->setText(QStringLiteral("0"));
        m_tab->deleteBlockValuesField()->setText(QStringLiteral("[0]"));
        for (QCheckBox* b : {m_tab->cleanTextBox(), m_tab->floatBox(), m_tab->deleteBlockBox()}) b->setChecked(true);
        m_tab->newInputButton()->click();
        QVERIFY2(m_ui.messages.isEmpty(), qPrintable(m_ui.messages.join(u'|')));
        QCOMPARE(inputs(), QStringList({"Key", "amount"}));
        const TMyRec& rec = m_tab->editor().model.inputValues[1].rec;
        QCOMPARE(rec.default_value, QStringLiteral("0"));
        QCOMPARE(rec.deleteblocked_ifvalue_is, QStringLiteral("[0]"));
        QVERIFY(rec.Cleantext && rec.IsFloatValue && rec.deleteblocked);

        // A name set a moment ago is the name compared, and an emptied field is empty.
        m_tab->inputNameField()->setText(QStringLiteral("AMOUNT "));
        m_tab->newInputButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("This name value already exists")});
        m_ui.messages.clear();
        m_tab->inputNameField()->clear();
        m_tab->newInputButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("Name input value is not set")});
    }

    // Assistive technology selects a list entry without making it current: the editor
    // opens it as if clicked.
    void entriesSelectedOverTheBusAreOpened()
    {
        writeTextFile(queries() + QStringLiteral("/a.qr"), {"<#q_name>a</#q_name>", "<#q_content>SELECT 1</#q_content>"});
        writeTextFile(queries() + QStringLiteral("/b.qr"),
                      {"<#q_name>b</#q_name>", "<#q_active>0</#q_active>", "<#q_count_input_values>2</#q_count_input_values>",
                       "<#q_in_name[1]>x</#q_in_name[1]>", "<#q_in_default_value[1]>1</#q_in_default_value[1]>",
                       "<#q_in_deleteblocked_ifvalue_is[1]>[]</#q_in_deleteblocked_ifvalue_is[1]>",
                       "<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>", "<#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]>",
                       "<#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>", "<#q_in_name[2]>y</#q_in_name[2]>",
                       "<#q_in_default_value[2]>2</#q_in_default_value[2]>",
                       "<#q_in_deleteblocked_ifvalue_is[2]>[]</#q_in_deleteblocked_ifvalue_is[2]>",
                       "<#q_in_Cleantext[2]>0</#q_in_Cleantext[2]>", "<#q_in_IsFloatValue[2]>0</#q_in_IsFloatValue[2]>",
                       "<#q_in_deleteblocked[2]>0</#q_in_deleteblocked[2]>", "<#q_content>SELECT 2</#q_content>"});
        m_tab->updateListButton()->click();
        QCOMPARE(m_tab->nameField()->text(), QStringLiteral("a"));
        QVERIFY(selectAsAssistiveTechnology(m_tab->functionList(), 1));
        QCOMPARE(m_tab->nameField()->text(), QStringLiteral("b"));
        QCOMPARE(inputs(), QStringList({"x", "y"}));
        QVERIFY(selectAsAssistiveTechnology(m_tab->inputList(), 1));
        QCOMPARE(m_tab->inputNameField()->text(), QStringLiteral("y"));
        QCOMPARE(m_tab->defaultValueField()->text(), QStringLiteral("2"));
        QVERIFY(m_ui.messages.isEmpty());
    }

    void savingMovesAFileToTheNameItHolds()
    {
        writeTextFile(queries() + QStringLiteral("/a.qr"), {QStringLiteral("<#q_name>b</#q_name>")});
        writeTextFile(queries() + QStringLiteral("/c.qr"), {QStringLiteral("<#q_name>taken</#q_name>")});
        writeTextFile(queries() + QStringLiteral("/d.qr"), {QStringLiteral("<#q_descript>no name</#q_descript>")});
        writeTextFile(queries() + QStringLiteral("/taken.qr"), {QStringLiteral("<#q_name>taken</#q_name>"), QStringLiteral("keep")});
        QDir(m_dir->path()).mkpath(QStringLiteral("CACHE/b/x"));
        QDir(m_dir->path()).mkpath(QStringLiteral("CACHE/a"));
        m_tab->updateListButton()->click();
        QCOMPARE(listed(), QStringList({"a", "c", "d", "taken"}));

        m_tab->saveButton()->click();
        QCOMPARE(listed(), QStringList({"b", "c", "d", "taken"}));
        QVERIFY(!QFileInfo::exists(queries() + QStringLiteral("/a.qr")));
        QVERIFY(QFileInfo::exists(queries() + QStringLiteral("/b.qr")));
        QVERIFY(!QFileInfo::exists(m_dir->path() + QStringLiteral("/CACHE/b")));
        QVERIFY(QFileInfo::exists(m_dir->path() + QStringLiteral("/CACHE/a")));

        // Another function's file is replaced only after the operator agreed.
        const QByteArray taken = fileBytes(queries() + QStringLiteral("/taken.qr"));
        m_tab->functionList()->setCurrentRow(1);
        m_ui.answerYes = false;
        m_ui.messages.clear();
        m_tab->saveButton()->click();
        QCOMPARE(m_ui.questions, QStringList{QStringLiteral("Function [taken] already exists. Replace it ?")});
        QCOMPARE(fileBytes(queries() + QStringLiteral("/taken.qr")), taken);
        QVERIFY(QFileInfo::exists(queries() + QStringLiteral("/c.qr")));
        m_ui.answerYes = true;
        m_tab->saveButton()->click();
        QVERIFY(!QFileInfo::exists(queries() + QStringLiteral("/c.qr")));
        QVERIFY(fileBytes(queries() + QStringLiteral("/taken.qr")) != taken);
        QCOMPARE(listed(), QStringList({"b", "taken", "d"}));

        // A file without a name item is not saved as ".qr".
        m_tab->functionList()->setCurrentRow(2);
        m_ui.messages.clear();
        m_tab->saveButton()->click();
        QCOMPARE(m_ui.messages.size(), 1);
        QVERIFY(m_ui.messages.first().startsWith(QStringLiteral("Name function is not set")));
        QVERIFY(!QFileInfo::exists(queries() + QStringLiteral("/.qr")));
        QVERIFY(QFileInfo::exists(queries() + QStringLiteral("/d.qr")));

        // A file that does not load leaves nothing of the function open before it.
        writeTextFile(queries() + QStringLiteral("/e.qr"),
                      {"<#q_name>e</#q_name>", "<#q_count_input_values>1</#q_count_input_values>",
                       "<#q_in_Cleantext[1]>maybe</#q_in_Cleantext[1]>"});
        m_tab->updateListButton()->click();
        m_tab->functionList()->setCurrentRow(0);
        QCOMPARE(m_tab->nameField()->text(), QStringLiteral("b"));
        m_ui.messages.clear();
        m_tab->functionList()->setCurrentRow(2);
        QCOMPARE(m_ui.messages.size(), 1);
        QVERIFY(m_ui.messages.first().contains(QStringLiteral("'maybe' is not a valid boolean value")));
        QCOMPARE(m_tab->nameField()->text(), QString());
        m_tab->saveButton()->click();
        QVERIFY(m_ui.messages.last().startsWith(QStringLiteral("Name function is not set")));
        QVERIFY(fileBytes(queries() + QStringLiteral("/e.qr")).contains("maybe"));
    }

    void shareListButton()
    {
        writeTextFile(queries() + QStringLiteral("/one.qr"),
                      {"<#q_name>one</#q_name>", "<#q_active>-1</#q_active>",
                       "<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>", "<#q_descript>First</#q_descript>"});
        writeTextFile(queries() + QStringLiteral("/two.qr"), {"<#q_name>two</#q_name>", "<#q_active>-1</#q_active>"});
        m_tab->shareListButton()->click();
        QVERIFY(m_ui.messages.isEmpty());
        QCOMPARE(listed(), QStringList({"one", "two"}));
        QCOMPARE(m_tab->nameField()->text(), QStringLiteral("one"));
        QCOMPARE(fileBytes(programFile(QStringLiteral("ListAndDescriptionShareFunction.txt"))),
                 crlf({"----------------- [one] -----------------", "one", "", "First",
                       "--------------------------------------------------", "", ""}));
        m_control->page.pathToQueries = m_dir->path() + QStringLiteral("/missing");
        m_tab->shareListButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("The path to the output folder is empty or wrong !")});
    }

    void unquotedPlaceholdersAreNamedWithAnOfferToMarkANumber()
    {
        auto inputLines = [](int i, const char* name, const char* isFloat) {
            const QString n = QString::number(i);
            return QStringList{
                QStringLiteral("<#q_in_name[%1]>%2</#q_in_name[%1]>").arg(n, QLatin1String(name)),
                QStringLiteral("<#q_in_default_value[%1]>null</#q_in_default_value[%1]>").arg(n),
                QStringLiteral("<#q_in_deleteblocked_ifvalue_is[%1]></#q_in_deleteblocked_ifvalue_is[%1]>").arg(n),
                QStringLiteral("<#q_in_Cleantext[%1]>0</#q_in_Cleantext[%1]>").arg(n),
                QStringLiteral("<#q_in_IsFloatValue[%1]>%2</#q_in_IsFloatValue[%1]>").arg(n, QLatin1String(isFloat)),
                QStringLiteral("<#q_in_deleteblocked[%1]>0</#q_in_deleteblocked[%1]>").arg(n)};
        };
        const QString path = queries() + QStringLiteral("/byid.qr");
        writeTextFile(path, QStringList{QStringLiteral("<#q_name>byid</#q_name>"),
                                        QStringLiteral("<#q_count_input_values>3</#q_count_input_values>")} +
                                inputLines(1, "id", "0") + inputLines(2, "col", "0") + inputLines(3, "n", "-1") +
                                QStringList{QStringLiteral("<#q_content>SELECT `{:col:}` FROM t"),
                                            QStringLiteral("WHERE id = {:id:} AND name = '{:id:}' AND n = {:n:}</#q_content>")});
        const QString idQuestion = QStringLiteral(
            "Input value [id] stands outside a quoted string in the query: {:id:} (line 2). A request value there can "
            "change the statement (for example 1 OR 1=1). Mark [id] as \"Float | integer value\" ?");

        // Opened: each such input value is named, and No keeps it.
        m_ui.answerYes = false;
        m_tab->updateListButton()->click();
        QCOMPARE(m_ui.questions.size(), 2);
        QVERIFY(m_ui.questions[0].startsWith(QStringLiteral("Input value [col] ")));
        QVERIFY(m_ui.questions[0].contains(QStringLiteral("{:col:} (line 1, between backquotes)")));
        QCOMPARE(m_ui.questions[1], idQuestion);
        QVERIFY(m_tab->unsavedMark()->isHidden());

        // Saved: asked again before the text is shown; No saves it as it was.
        m_ui.questions.clear();
        m_tab->saveButton()->click();
        QCOMPARE(m_ui.questions.size(), 2);
        QVERIFY(fileBytes(path).contains("<#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]>"));

        // Yes for id only: marked in the editor, shown, and saved with the flag.
        struct IdOnly : ScriptedOperator {
            bool askYesNo(const QString& q) override
            {
                questions << q;
                return q.startsWith(QStringLiteral("Input value [id] "));
            }
        };
        IdOnly idOnly;
        QueryEditorTab tab(*m_control, idOnly, [] {});
        tab.updateListButton()->click();
        QCOMPARE(idOnly.questions.size(), 2);
        QVERIFY(tab.unsavedMark()->isVisibleTo(&tab));
        tab.inputList()->setCurrentRow(0);
        QVERIFY(tab.floatBox()->isChecked());
        tab.inputList()->setCurrentRow(1);
        QVERIFY(!tab.floatBox()->isChecked());
        tab.saveButton()->click();
        QCOMPARE(idOnly.questions.size(), 3);  // col only, once more
        QVERIFY(fileBytes(path).contains("<#q_in_IsFloatValue[1]>-1</#q_in_IsFloatValue[1]>"));
        QVERIFY(fileBytes(path).contains("<#q_in_IsFloatValue[2]>0</#q_in_IsFloatValue[2]>"));
        QVERIFY(tab.unsavedMark()->isHidden());
    }

    void lastPreparedQueryFollowsRequestsAndShowsTheLastWhenOpened()
    {
        QTabWidget host;
        host.addTab(new QWidget, QStringLiteral("other"));
        m_tab->setParent(nullptr);
        host.addTab(m_tab.get(), QStringLiteral("  REQUESTS  "));
        host.show();
        const auto shown = [this] { return m_tab->lastQueryView()->toPlainText(); };
        // Requests ran before the view was ever opened: it shows the last one when it opens.
        ShowLastPreparedQuery(QStringLiteral("SELECT 0"));
        ShowLastPreparedQuery(QStringLiteral(" SELECT 1 "));
        host.setCurrentIndex(1);
        m_tab->tabs()->setCurrentIndex(2);
        QVERIFY(LastPreparedQuery::instance().onScreen());
        QVERIFY2(shown().startsWith(QStringLiteral("-- ")) &&
                     shown().endsWith(QStringLiteral("\n-- ==============================\nSELECT 1")),
                 qPrintable(shown()));
        // On screen it follows each request.
        ShowLastPreparedQuery(QStringLiteral("SELECT 2"));
        QVERIFY(shown().endsWith(QStringLiteral("\nSELECT 2")));
        // Another tab of the editor, or another page: the view is left alone until it comes back.
        for (const auto& away : {std::function<void()>([this] { m_tab->tabs()->setCurrentIndex(0); }),
                                 std::function<void()>([&host] { host.setCurrentIndex(0); })}) {
            away();
            QVERIFY(!LastPreparedQuery::instance().onScreen());
            ShowLastPreparedQuery(QStringLiteral("SELECT 3"));
            QVERIFY(shown().endsWith(QStringLiteral("\nSELECT 2")));
            m_tab->tabs()->setCurrentIndex(2);
            host.setCurrentIndex(1);
            QVERIFY(shown().endsWith(QStringLiteral("\nSELECT 3")));
            ShowLastPreparedQuery(QStringLiteral("SELECT 2"));
        }
        host.setCurrentIndex(0);
        host.removeTab(1);
        m_tab->setParent(nullptr);
    }

    void testQueryOutcomesAndSamples()
    {
        CONSOLE_REQUIRE_DATABASE(db);
        ScratchDatabase scratch(db, QStringLiteral("veldra_t_testquery"));
        scratch.exec(QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(40), `we ird` VARCHAR(40))"));
        scratch.exec(QString::fromUtf8("INSERT INTO t VALUES (1, 'say \"hi\"', 'back\\\\slash é'), "
                                       "(2, 'abcdefghijklmnopqrst', NULL)"));
        auto fields = [&] {
            ConnectionFields f;
            f.ip = db.host;
            f.port = QString::number(db.port);
            f.database = QStringLiteral("veldra_t_testquery");
            f.user = db.user;
            f.psw = db.password;
            return f;
        };
        m_control->page.clientTable = fields();
        m_control->page.workData = fields();
        auto function = [&](const QString& name, const QString& query) {
            QueryEditorModel m;
            m.name = name;
            m.query = query;
            SaveQueryFunction(queries(), name, m);
        };
        function(QStringLiteral("bad"), QStringLiteral("SELECT * FROM missing"));
        function(QStringLiteral("empty"), QStringLiteral("  "));
        function(QStringLiteral("none"), QStringLiteral("SELECT * FROM t WHERE id < 0"));
        function(QStringLiteral("two"), QStringLiteral("SELECT id, name, `we ird` FROM t ORDER BY id"));
        function(QStringLiteral("upd"), QStringLiteral("UPDATE t SET id = id + 10"));

        // Nothing selected: nothing happens, not even TEST CONNECT.
        m_tab->testQueryButton()->click();
        QVERIFY(m_ui.messages.isEmpty());
        QVERIFY(!m_control->databases.DataClients.connected());

        m_tab->updateListButton()->click();
        const QString dashes = QStringLiteral("------------------------------");
        m_tab->testQueryButton()->click();
        QCOMPARE(m_ui.messages.size(), 1);
        QVERIFY2(m_ui.messages[0].startsWith(QStringLiteral("WRONG QUERY\r Error |  msg = [EMySqlException : Table ")), qPrintable(m_ui.messages[0]));
        QVERIFY(m_ui.messages[0].endsWith(QStringLiteral("doesn't exist]\r") + dashes + u'\r'));
        m_ui.messages.clear();
        for (int row : {1, 2, 4}) {
            m_tab->functionList()->setCurrentRow(row);
            m_tab->testQueryButton()->click();
        }
        QCOMPARE(m_ui.messages, QStringList({"EMPTY QUERY", "RESULT QUERY IS EMPTY\r" + dashes + "\r",
                                             "RESULT QUERY IS EMPTY\r" + dashes + "\r"}));
        // The UPDATE ran.
        auto ids = scratch.admin().openBuffered(QStringLiteral("SELECT SUM(id) FROM t"));
        QVERIFY(ids->next());
        QCOMPARE(ids->value(0), QStringLiteral("23"));
        ids.reset();
        scratch.exec(QStringLiteral("UPDATE t SET id = id - 10"));
        QVERIFY(m_ui.opened.isEmpty());

        m_ui.messages.clear();
        m_tab->functionList()->setCurrentRow(3);
        m_tab->testQueryButton()->click();
        QVERIFY2(m_ui.messages.isEmpty(), qPrintable(m_ui.messages.join('|')));
        QStringList paths;
        for (const char* f : {"sample_csv_dot-with-coma.csv", "sample_csv_coma.csv", "sample_txt-tab.txt", "sample_xml.xml", "sample_json.json"})
            paths << programFile(QString::fromLatin1(f));
        QCOMPARE(m_ui.opened, paths);
        const QString v1 = QStringLiteral("say \"hi\""), v2 = QString::fromUtf8("back\\slash é");
        QCOMPARE(fileBytes(paths[0]), crlf({"\"id\";\"name\";\"we ird\"", "\"1\";\"say \"\"hi\"\"\";\"" + v2 + "\"",
                                            "\"2\";\"abcdefghijklmnopqrst\";\"\""}));
        QCOMPARE(fileBytes(paths[1]), crlf({"\"id\",\"name\",\"we ird\"", "\"1\",\"say \"\"hi\"\"\",\"" + v2 + "\"",
                                            "\"2\",\"abcdefghijklmnopqrst\",\"\""}));
        QCOMPARE(fileBytes(paths[2]), crlf({"\"id\"\t\"name\"\t\"we ird\"", "\"1\"\t\"say \"\"hi\"\"\"\t\"" + v2 + "\"",
                                            "\"2\"\t\"abcdefghijklmnopqrst\"\t\"\""}));
        QCOMPARE(fileBytes(paths[3]), crlf({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<Data>", "\t<Row>", "\t\t<id>1</id>",
                                            "\t\t<name>say &quot;hi&quot;</name>", "\t\t<we_ird>back&#92;slash &#233;</we_ird>",
                                            "\t</Row>", "\t<Row>", "\t\t<id>2</id>", "\t\t<name>abcdefghijklmnopqrst</name>",
                                            "\t\t<we_ird></we_ird>", "\t</Row>", "</Data>"}));
        QCOMPARE(fileBytes(paths[4]), crlf({"{", "\t\"Data\": {", "\t\t\"Row\": [", "\t\t\t{", "\t\t\t\t\"id\": \"1\",",
                                            "\t\t\t\t\"name\": \"say \\\"hi\\\"\",", "\t\t\t\t\"we ird\": \"back\\\\slash " + QString::fromUtf8("é") + "\"",
                                            "\t\t\t},", "\t\t\t{", "\t\t\t\t\"id\": \"2\",", "\t\t\t\t\"name\": \"abcdefghijklmnopqrst\",",
                                            "\t\t\t\t\"we ird\": \"\"", "\t\t\t}", "\t\t]", "\t}", "}"}));
        Q_UNUSED(v1);
        // The test preparation wrote the last-prepared view.
        QVERIFY(m_tab->lastQueryView()->toPlainText().endsWith(QStringLiteral("\nSELECT id, name, `we ird` FROM t ORDER BY id")));

        // A database problem stops before any query and shows the connection tab.
        m_control->page.workData.database = QStringLiteral("veldra_t_no_such_db");
        m_ui.opened.clear();
        m_tab->testQueryButton()->click();
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("There is problem with database(s)")});
        QCOMPARE(m_connectTabShown, 1);
        QVERIFY(m_ui.opened.isEmpty());
        m_control->databases.CloseConnections();
    }

private:
    QString queries() const { return m_dir->path() + QStringLiteral("/QUERIES"); }
    QStringList listed() const
    {
        QStringList l;
        for (int i = 0; i < m_tab->functionList()->count(); ++i) l << m_tab->functionList()->item(i)->text();
        return l;
    }
    QStringList inputs() const
    {
        QStringList l;
        for (int i = 0; i < m_tab->inputList()->count(); ++i) l << m_tab->inputList()->item(i)->text();
        return l;
    }

    QTemporaryDir m_program;
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedOperator m_ui;
    std::unique_ptr<ServerControl> m_control;
    std::unique_ptr<QueryEditorTab> m_tab;
    int m_connectTabShown = 0;
};

QTEST_MAIN(QueryEditorTabTest)
#include "test_queryeditortab.moc"
