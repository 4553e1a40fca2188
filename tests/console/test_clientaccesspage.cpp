// SPDX-License-Identifier: GPL-3.0-or-later
// The CLIENTACCESS page offscreen against the real client tables: every administration
// operation through its control, with a scripted operator.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include "common/files.h"
#include "common/mainthread.h"
#include "common/regional.h"
#include "console/clientaccesspage.h"
#include "console/databasetest.h"
#include "monitor/servercontrol.h"

using namespace veldra;
using namespace veldra::test;

class ClientAccessPageTest : public QObject {
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
        CONSOLE_REQUIRE_DATABASE(db);
        m_db = std::make_unique<ScratchDatabase>(db, QStringLiteral("veldra_t_clientpage"));
        m_ui = ScriptedOperator{};
        m_control = std::make_unique<ServerControl>(m_ui);
        ConnectionFields f;
        f.ip = db.host;
        f.port = QString::number(db.port);
        f.database = QStringLiteral("veldra_t_clientpage");
        f.user = db.user;
        f.psw = db.password;
        m_control->page.clientTable = f;
        m_control->page.workData = f;
        m_page = std::make_unique<ClientAccessPage>(*m_control, m_ui);
        m_page->loadButton()->click();
        QVERIFY(m_control->databases.DataClients.connected());
    }

    void cleanup()
    {
        m_page.reset();
        if (m_control) m_control->databases.CloseConnections();
        m_control.reset();
        m_db.reset();
    }

    void createClientChecksAndStoresValuesAsTyped()
    {
        QCOMPARE(m_page->whiteList()->count(), 0);
        QCOMPARE(m_page->blackList()->count(), 0);
        const QString badEmail = QStringLiteral("EMAIL is not valid value !!!");
        const QString shortCode = QStringLiteral("SECCODE is empty value or is short string (must will more 10 sysmbols) !!!");
        const struct {
            const char* email;
            const char* code;
            int days;
            QString message;
        } refused[] = {
            {"", "1234567890", 1, badEmail},
            {" a@bc.de", "1234567890", 1, badEmail},  // a leading blank fails the test
            {"a@bc", "1234567890", 1, badEmail},
            {"a@bc.de", "123456789", 1, shortCode},
            {"a@bc.de", " 123456789 ", 1, shortCode},
            {"a@bc.de", "1234567890", -1, QStringLiteral("TO DATE must will more NOW or = !!!")},
        };
        for (const auto& r : refused) {
            m_ui.messages.clear();
            create(r.email, r.code, r.days, "");
            QCOMPARE(m_ui.messages, QStringList{r.message});
        }
        QCOMPARE(m_page->whiteList()->count(), 0);

        // Ten characters are enough, today is accepted, and a note with quotes is kept exactly.
        m_ui.messages.clear();
        create("o@bc.de", " 1234567890 ", 0, " O'Brien said \"hi\"; DROP TABLE clients_veldra; -- \\ ");
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("Client was created")});
        QCOMPARE(white(), QStringList{QStringLiteral("<id>1</id><email>o@bc.de</email><seccode>1234567890</seccode><todate>") +
                                      regional::shortDate(QDate::currentDate()) +
                                      QStringLiteral("</todate><note>O'Brien said \"hi\"; DROP TABLE clients_veldra; -- \\</note>")});
        QCOMPARE(m_control->access.whiteCountText(), QStringLiteral("WHITE :: [1]"));

        // The same pair again: the unique key refuses it.
        m_ui.messages.clear();
        create("o@bc.de", "1234567890", 3, "");
        QCOMPARE(m_ui.messages.size(), 1);
        QVERIFY2(m_ui.messages[0].startsWith(QStringLiteral("Error in during create client \r Error |  msg = [EMySqlException : Duplicate")),
                 qPrintable(m_ui.messages[0]));

        // The generator: 32 upper-case hex digits, a new code every click.
        m_page->generateButton()->click();
        const QString first = m_page->seccodeField()->text();
        m_page->generateButton()->click();
        QVERIFY(first.contains(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$"))));
        QVERIFY(m_page->seccodeField()->text() != first);

        // Without the client connection nothing runs.
        m_control->databases.CloseConnections();
        m_ui.messages.clear();
        create("n@bc.de", "1234567890", 3, "");
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("Not connected with database !!!")});
    }

    void whiteListOperationsActOnTheMarkedClients()
    {
        create("a@bc.de", "AAAAAAAAAA", 5, "");
        create("b@bc.de", "BBBBBBBBBB", 6, "");
        create("c@bc.de", "CCCCCCCCCC", 7, "");
        m_ui.messages.clear();
        QCOMPARE(m_page->whiteList()->count(), 3);

        // Nothing ticked, nothing selected: nothing happens.
        m_page->updateDateButton()->click();
        m_page->deleteClientsButton()->click();
        m_page->moveToBlackButton()->click();
        QVERIFY(m_ui.questions.isEmpty());

        // The selected line counts as marked without its tick; ticked lines too.
        const QDate newEnd(2031, 2, 3);
        m_page->updateDatePicker()->setDate(newEnd);
        select(m_page->whiteList(), "a@bc.de");
        tick("c@bc.de");
        m_ui.answerYes = false;
        m_page->updateDateButton()->click();
        QCOMPARE(m_ui.questions, QStringList{QStringLiteral("Update final date to [03.02.2031] for selected client(s) ?")});
        QVERIFY(!white().join(u'|').contains(QStringLiteral("03.02.2031")));
        m_ui.answerYes = true;
        m_page->updateDateButton()->click();
        QCOMPARE(white().filter(QStringLiteral("<todate>03.02.2031</todate>")).size(), 2);
        QVERIFY(white().filter(QStringLiteral("b@bc.de")).first().contains(regional::shortDate(QDate::currentDate().addDays(6))));

        // Sort by e-mail.
        m_page->sortByBox()->setCurrentIndex(1);
        QCOMPARE(column("email"), QStringList({"a@bc.de", "b@bc.de", "c@bc.de"}));

        // COPY: no line selected, then the selected line's values.
        m_page->whiteList()->clearSelection();
        m_ui.messages.clear();
        m_page->copyFromSelected(QStringLiteral("email"));
        QCOMPARE(m_ui.messages, QStringList{QStringLiteral("Please select necessary line")});
        select(m_page->whiteList(), "b@bc.de");
        m_page->copyFromSelected(QStringLiteral("email"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("b@bc.de"));
        m_page->copyFromSelected(QStringLiteral("seccode"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("BBBBBBBBBB"));

        // Delete selected line(s).
        m_ui.questions.clear();
        m_page->deleteClientsButton()->click();
        QCOMPARE(m_ui.questions, QStringList{QStringLiteral("Delete selected client(s) ?")});
        QCOMPARE(column("email"), QStringList({"a@bc.de", "c@bc.de"}));

        // Clean list.
        m_ui.questions.clear();
        m_ui.answerYes = false;
        m_page->cleanWhiteButton()->click();
        QCOMPARE(m_page->whiteList()->count(), 2);
        m_ui.answerYes = true;
        m_page->cleanWhiteButton()->click();
        QCOMPARE(m_ui.questions, QStringList({"Delete all clients ?", "Delete all clients ?"}));
        QCOMPARE(m_page->whiteList()->count(), 0);
        QCOMPARE(m_control->access.whiteCountText(), QStringLiteral("WHITE :: [0]"));
    }

    void movingClientsBlocksTheirRequests()
    {
        create("a@bc.de", "AAAAAAAAAA", 5, "");
        create("b@bc.de", "BBBBBBBBBB", 5, "");
        create("c@bc.de", "CCCCCCCCCC", 5, "");
        QCOMPARE(m_control->access.CheckClientAccess("a@bc.de", "aaaaaaaaaa", "1.2.3.4").kind, AccessDecision::Kind::Registered);
        tick("a@bc.de");
        tick("b@bc.de");
        m_page->moveToBlackButton()->click();
        QCOMPARE(m_ui.questions, QStringList{QStringLiteral("Move selected client(s) in black list ?")});
        QCOMPARE(column("email"), QStringList{"c@bc.de"});
        QCOMPARE(sorted(black()), sorted({"<SECCODE>AAAAAAAAAA</SECCODE>", "<SECCODE>BBBBBBBBBB</SECCODE>",
                                          "<EMAIL>a@bc.de</EMAIL>", "<EMAIL>b@bc.de</EMAIL>"}));
        QCOMPARE(m_control->access.blackCountText(), QStringLiteral("BLACK :: [4]"));
        // A following request with either value is refused.
        QCOMPARE(m_control->access.CheckClientAccess("a@bc.de", "aaaaaaaaaa", "1.2.3.4").kind, AccessDecision::Kind::Blocked);
        QCOMPARE(m_control->access.CheckClientAccess("x@bc.de", "bbbbbbbbbb", "1.2.3.4").kind, AccessDecision::Kind::Blocked);
        QCOMPARE(m_control->access.CheckClientAccess("c@bc.de", "cccccccccc", "1.2.3.4").kind, AccessDecision::Kind::Registered);

        // A client whose e-mail is blocked already adds only its secure code.
        m_db->exec(QStringLiteral("INSERT INTO blacklist_veldra VALUES ('EMAIL', 'c@bc.de')"));
        select(m_page->whiteList(), "c@bc.de");
        m_page->moveToBlackButton()->click();
        QCOMPARE(black().size(), 6);
        QCOMPARE(m_page->whiteList()->count(), 0);
    }

    void blackListOperations()
    {
        const struct {
            const char* type;
            const char* value;
            QString message;
        } refused[] = {
            {"IP", "  ", QStringLiteral("VALUE IS NOT SET !!!")},
            {"EMAIL", "not-an-email", QStringLiteral("EMAIL is not valid value !!!")},
            {"SECCODE", " 123456789 ", QStringLiteral("SECCODE is empty value or is short string (must will more 10 sysmbols) !!!")},
        };
        for (const auto& r : refused) {
            m_ui.messages.clear();
            block(r.type, r.value);
            QCOMPARE(m_ui.messages, QStringList{r.message});
        }
        QVERIFY(m_ui.questions.isEmpty());

        block("IP", " 10.0.0.1 ");
        QCOMPARE(m_ui.questions, QStringList{QStringLiteral("Add data [IP]: 10.0.0.1  in black list ?")});
        block("IP", "10.0.0.1");  // already there: skipped without a message
        block("IP", "1.2.3.4' OR '1'='1");
        block("EMAIL", "e@bc.de");
        block("SECCODE", "0123456789");
        // Ordered by type only.
        QCOMPARE(sorted(black()), sorted({"<IP>10.0.0.1</IP>", "<IP>1.2.3.4' OR '1'='1</IP>", "<SECCODE>0123456789</SECCODE>",
                                          "<EMAIL>e@bc.de</EMAIL>"}));

        // A list option reload selects the same black line again.
        m_page->blackList()->setCurrentRow(2);
        m_page->onlyActiveBox()->click();
        QCOMPARE(m_page->blackList()->currentRow(), 2);

        // Delete selected line: by its type and value, a quote included.
        m_ui.questions.clear();
        select(m_page->blackList(), "<IP>1.2.3.4' OR '1'='1</IP>");
        m_page->deleteBlackButton()->click();
        QCOMPARE(m_ui.questions, QStringList{QStringLiteral("Clean selected line [<IP>1.2.3.4' OR '1'='1</IP>] in black list ?")});
        QCOMPARE(black(), QStringList({"<IP>10.0.0.1</IP>", "<SECCODE>0123456789</SECCODE>", "<EMAIL>e@bc.de</EMAIL>"}));
        m_page->blackList()->clearSelection();
        m_ui.questions.clear();
        m_page->deleteBlackButton()->click();
        QVERIFY(m_ui.questions.isEmpty());

        m_ui.answerYes = false;
        m_page->cleanBlackButton()->click();
        QCOMPARE(black().size(), 3);
        m_ui.answerYes = true;
        m_page->cleanBlackButton()->click();
        QCOMPARE(m_ui.questions, QStringList({"Clean black list ?", "Clean black list ?"}));
        QCOMPARE(black(), QStringList());
    }

private:
    void create(const char* email, const char* code, int days, const char* note)
    {
        m_page->emailField()->setText(QString::fromUtf8(email));
        m_page->seccodeField()->setText(QString::fromUtf8(code));
        m_page->toDatePicker()->setDate(QDate::currentDate().addDays(days));
        m_page->noteField()->setText(QString::fromUtf8(note));
        m_page->createButton()->click();
    }
    void block(const char* type, const char* value)
    {
        m_page->blockTypeBox()->setCurrentText(QString::fromLatin1(type));
        m_page->blockValueField()->setText(QString::fromUtf8(value));
        m_page->addBlockingButton()->click();
    }
    static QStringList lines(QListWidget* list)
    {
        QStringList l;
        for (int i = 0; i < list->count(); ++i) l << list->item(i)->text();
        return l;
    }
    static QStringList sorted(QStringList l)
    {
        l.sort();
        return l;
    }
    QStringList white() const { return lines(m_page->whiteList()); }
    QStringList black() const { return lines(m_page->blackList()); }
    QStringList column(const char* tag) const
    {
        QStringList l;
        const QString open = u'<' + QString::fromLatin1(tag) + u'>', close = QStringLiteral("</") + QString::fromLatin1(tag) + u'>';
        for (const QString& line : white()) l << line.section(open, 1).section(close, 0, 0);
        return l;
    }
    static void select(QListWidget* list, const char* containing)
    {
        list->clearSelection();
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text().contains(QString::fromUtf8(containing))) list->setCurrentRow(i);
    }
    void tick(const char* email)
    {
        for (int i = 0; i < m_page->whiteList()->count(); ++i)
            if (m_page->whiteList()->item(i)->text().contains(QString::fromUtf8(email)))
                m_page->whiteList()->item(i)->setCheckState(Qt::Checked);
    }

    QTemporaryDir m_program;
    std::unique_ptr<ScratchDatabase> m_db;
    ScriptedOperator m_ui;
    std::unique_ptr<ServerControl> m_control;
    std::unique_ptr<ClientAccessPage> m_page;
};

QTEST_MAIN(ClientAccessPageTest)
#include "test_clientaccesspage.moc"
