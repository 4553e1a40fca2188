// SPDX-License-Identifier: GPL-3.0-or-later
// The CONNECT WITH MYSQL tab through its widgets: the fields, the save button, TEST
// CONNECT with its status lines and error area.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "config/inifile.h"
#include "console/connectionstab.h"
#include "console/consoletest.h"
#include "server/pipeline_fixture.h"

using namespace veldra;
using namespace veldra::test;

namespace {

void fill(const ConnectionsTab::Fields& f, const QString& ip, const QString& port, const QString& database,
          const QString& user, const QString& psw)
{
    f.ip->setText(ip);
    f.port->setText(port);
    f.database->setText(database);
    f.user->setText(user);
    f.psw->setText(psw);
}

bool isMaroon(QLabel* l) { return l->styleSheet().contains(QStringLiteral("maroon")); }
bool isGreen(QLabel* l) { return l->styleSheet().contains(QStringLiteral("green")); }

}  // namespace

class ConnectionsTabTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mainthread::install(); }

    void fieldsAndSaveConnections()
    {
        WindowFixture f;
        TForm1& w = f.open();
        ConnectionsTab& tab = *w.connectionsTab();
        w.showConnectTab();
        QCOMPARE(w.currentPage(), QStringLiteral("SERVERSETTINGS"));
        QCOMPARE(w.settingsTabs()->currentWidget(), &tab);

        // Defaults, the password as one "*" per character.
        QCOMPARE(tab.clientFields().ip->text(), QStringLiteral("localhost"));
        QCOMPARE(tab.workFields().port->text(), QStringLiteral("3306"));
        tab.workFields().psw->setText(QStringLiteral("secret"));
        QCOMPARE(tab.workFields().psw->displayText(), QStringLiteral("******"));
        QCOMPARE(tab.clientStatus()->text(), QStringLiteral("CLIENT DATA => Not have connect with database"));
        QCOMPARE(tab.workStatus()->text(), QStringLiteral("WORKING DATA => Not have connect with database"));
        QVERIFY(isMaroon(tab.clientStatus()) && isMaroon(tab.workStatus()));
        QVERIFY(tab.clientStatus()->font().bold() && tab.clientStatus()->font().underline());

        // Saved without a check, a PORT of abc as it stands.
        fill(tab.clientFields(), QStringLiteral("db1"), QStringLiteral("abc"), QStringLiteral("c"), QStringLiteral("u"),
             QStringLiteral("p"));
        tab.saveConnectionsButton()->click();
        QVERIFY(f.ui.messages.isEmpty());
        const IniFile ini(f.path(QStringLiteral("veldra.ini")));
        QCOMPARE(ini.value(QStringLiteral("connect_client_table"), QStringLiteral("port"), QString()), QStringLiteral("abc"));
        QCOMPARE(ini.value(QStringLiteral("connect_client_table"), QStringLiteral("ip"), QString()), QStringLiteral("db1"));
        QCOMPARE(ini.value(QStringLiteral("connect_work_data"), QStringLiteral("psw"), QString()), QStringLiteral("secret"));
        QVERIFY(!ini.value(QStringLiteral("main"), QStringLiteral("worked_port")));  // only the connections
    }

    void testConnectWithTheClientDatabaseUnreachable()
    {
        CONSOLE_REQUIRE_DATABASE(db);
        WindowFixture f;
        ConnectionsTab& tab = *f.open().connectionsTab();
        const QString port = QString::number(db.port);
        // Nobody listens on the client database's port; the work database is the test server.
        fill(tab.clientFields(), db.host, QString::number(freePort()), QStringLiteral("mysql"), db.user, db.password);
        fill(tab.workFields(), db.host, port, QStringLiteral("mysql"), db.user, db.password);
        // Enter in a field presses TEST CONNECT.
        QTest::keyClick(tab.workFields().user, Qt::Key_Return);

        const QStringList lines = tab.errorArea()->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Not connect with client data "));
        QVERIFY2(lines[1].startsWith(QStringLiteral(" Error |  msg = [EMySqlException : ")), qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("------------------------------"));
        QCOMPARE(tab.clientStatus()->text(), QStringLiteral("CLIENT DATA => Not have connect with database"));
        QVERIFY(isMaroon(tab.clientStatus()));
        QCOMPARE(tab.workStatus()->text(),
                 QStringLiteral("WORKING DATA => Connect with [") + db.host + QStringLiteral(" | ") + db.user +
                     QStringLiteral(" | mysql] is OK"));
        QVERIFY(isGreen(tab.workStatus()));

        // A work PORT that is not a number: both reported, both lines back to maroon.
        tab.workFields().port->setText(QStringLiteral("abc"));
        tab.testConnectButton()->click();
        QVERIFY(isMaroon(tab.workStatus()));
        QVERIFY(tab.errorArea()->toPlainText().contains(QStringLiteral("Not connect with work data \n Error |  msg = [EConvertError : ")));
        QVERIFY(f.ui.messages.isEmpty());  // TEST CONNECT shows no message box
    }
};

QTEST_MAIN(ConnectionsTabTest)
#include "test_connectionstab.moc"
