// SPDX-License-Identifier: GPL-3.0-or-later
// The e-mail test, the secure-code generator and the list-line readers of client
// administration. The operations themselves are tested through the page.
#include <gtest/gtest.h>

#include <QSet>

#include "access/accesslists.h"
#include "access/clientadmin.h"
#include "config/database.h"
#include "db/dbtestutil.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

TEST(ClientAdmin, EmailTestFollowsItsStateTable)
{
    const struct {
        const char16_t* text;
        bool valid;
    } cases[] = {
        {u"a@bc.de", true},
        {u"a@bc", false},             // one domain part
        {u"a@1b.de", false},          // a domain part starts with a letter
        {u"a@bc.1e", false},
        {u"a@b.c1", true},
        {u"a@bc.de-", false},         // a domain ends with a letter or digit
        {u"a@b-c.de", true},
        {u"a@b--c.de", true},
        {u"a@bc.de.", false},
        {u"a@b..cd", false},
        {u".a@bc.de", false},         // the local part neither starts
        {u"a.@bc.de", false},         // nor ends with a dot
        {u"a.b@cd.ef", true},
        {u"a..b@cd.ef", false},
        {u"\"a b\"@cd.ef", true},     // a quoted local part may hold blanks
        {u"\"a\\\"b\"@cd.ef", true},  // and escaped quotes
        {u"\"a\"b@cd.ef", false},
        {u"\"a\rb\"@cd.ef", false},
        {u" a@bc.de", false},         // a leading blank fails
        {u"a@bc.de ", false},
        {u"", false},
        {u"a(b)@cd.ef", false},
        {u"!#$%&'*+-/=?^_`{|}~@cd.ef", false},  // "/" is not an atom character
        {u"!#$%&'*+-=?^_`{|}~@cd.ef", true},
        {u"\u00e9@cd.ef", true},       // 128..255 are atom characters
        {u"\u0436@cd.ef", false},      // codes above 255 belong to no class
        {u"a@c\u00e9.ef", false},
        {u"a@@cd.ef", false},
        {u"\"<todate>1</todate>\"@cd.ef", false},  // a list line's markers, even quoted
        {u"\"a\\<b\"@cd.ef", false},
        {u"\"a>b\"@cd.ef", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidEmailAddress(QString::fromUtf16(c.text)), c.valid) << QString::fromUtf16(c.text).toStdString();
}

TEST(ClientAdmin, SecureCodesAreRandomUpperCaseHex)
{
    QSet<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const QString code = GenerateSecureCode();
        ASSERT_EQ(code.size(), 32);
        for (QChar c : code) EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')) << code.toStdString();
        seen.insert(code);
    }
    // Within one second the clock gives the same text; the random source does not.
    EXPECT_EQ(seen.size(), 50);
}

TEST(ClientAdmin, IdListTakesOnlyWholeNumbers)
{
    EXPECT_EQ(clientIdList({}), QString());
    EXPECT_EQ(clientIdList({"<id>3</id><email>a</email>", "<id></id>", "<id>12</id>"}), QStringLiteral("3,12"));
    EXPECT_EQ(clientIdList({"<id></id><email></email><seccode></seccode><todate></todate><note></note>"}), QString());
    for (const char* bad : {"<id>1) OR (1=1</id>", "<id> 1</id>", "<id>-1</id>", "<id>1,2</id>"}) {
        try {
            clientIdList({QString::fromLatin1(bad)});
            ADD_FAILURE() << bad;
        } catch (const Error& e) {
            EXPECT_EQ(e.typeName(), QStringLiteral("EConvertError"));
        }
    }
}

TEST(ClientAdmin, BlackLineTypeAndValue)
{
    const struct {
        const char* line;
        const char* type;
        const char* value;
    } cases[] = {
        {"<IP>10.0.0.1</IP>", "IP", "10.0.0.1"},
        {"<EMAIL>e@x.y</EMAIL>", "EMAIL", "e@x.y"},
        {"<SECCODE>ABC</SECCODE>", "SECCODE", "ABC"},
        {"<ip>lower</ip>", "IP", ""},
        {"<OTHER>x</OTHER>", "IP", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(blockTypeOfLine(c.line), QString::fromLatin1(c.type)) << c.line;
        EXPECT_EQ(blockValueOfLine(c.line), QString::fromLatin1(c.value)) << c.line;
    }
}

// Values that hold a list line's markers, in the tables and typed in the window: no
// field's text stands for another field.
class MarkerValues : public ::testing::Test {
protected:
    void SetUp() override
    {
        VELDRA_REQUIRE_DATABASE(db);
        m_db = std::make_unique<ScratchDatabase>(db, QStringLiteral("veldra_t_markers"));
        load();
        ASSERT_TRUE(m_connections.errorArea().isEmpty()) << m_connections.errorAreaText().toStdString();
    }
    void load() { m_lists.LoadListClientsAccess(m_connections, m_db->params(), m_db->params()); }
    QStringList rows(const QString& sql)
    {
        QStringList out;
        auto r = m_db->admin().openBuffered(sql);
        while (r->next()) out << r->value(0) + u'|' + r->value(1);
        return out;
    }
    AccessDecision check(const QString& email, const QString& code, const QString& ip = QStringLiteral("1.2.3.4"))
    {
        return CheckClientAccess(*m_lists.lists(), email.toLower(), code.toLower(), ip, QDateTime::currentDateTime());
    }

    std::unique_ptr<ScratchDatabase> m_db;
    DatabaseConnections m_connections;
    ClientAccessLists m_lists;
    ScriptedOperator m_ui;
    ClientAdministration m_admin{m_connections.DataClients, m_ui, [this] { load(); }};
};

TEST_F(MarkerValues, RowsInTheTablesAreReadFieldByField)
{
    const QString expiredEmail = QStringLiteral("\"<todate>31.12.2099</todate>\"@ab.cd");
    const QString ipEmail = QStringLiteral("\"<IP>10.0.0.1</IP>\"@ab.cd");
    const QString codeEmail = QStringLiteral("\"<seccode>XXXXXXXXXX</seccode>\"@ab.cd");
    m_db->exec(QStringLiteral("INSERT INTO clients_veldra (id, email, seccode, todate, note) VALUES "
                              "(1, '%1', 'EXPIREDCODE', '2020-01-01', ''), (2, '%2', 'REALCODE12', '2099-01-01', ''), "
                              "(3, 'n@ab.cd', 'NOTECODE12', '2099-01-01', '<email>x@y.zz</email><seccode>c</seccode>')")
                   .arg(expiredEmail, codeEmail));
    m_db->exec(QStringLiteral("INSERT INTO blacklist_veldra VALUES ('IP', '10.0.0.1'), ('EMAIL', '%1')").arg(ipEmail));
    load();

    // An expired client is not registered by the end date its e-mail carries; a note
    // registers nobody.
    EXPECT_EQ(check(expiredEmail, QStringLiteral("EXPIREDCODE")).kind, AccessDecision::Kind::Neither);
    EXPECT_EQ(check(QStringLiteral("x@y.zz"), QStringLiteral("c")).kind, AccessDecision::Kind::Neither);
    EXPECT_EQ(check(QStringLiteral("n@ab.cd"), QStringLiteral("NOTECODE12")).kind, AccessDecision::Kind::Registered);
    // The e-mail that carries an IP marker blocks that e-mail, not the address.
    EXPECT_EQ(check(QStringLiteral("n@ab.cd"), QStringLiteral("NOTECODE12"), QStringLiteral("10.0.0.2")).kind,
              AccessDecision::Kind::Registered);
    EXPECT_EQ(check(ipEmail, QStringLiteral("anything12")).kind, AccessDecision::Kind::Blocked);

    // Deleting that black-list e-mail deletes it, and the IP line stays.
    QString emailLine;
    for (const QString& l : m_lists.lists()->black)
        if (l.startsWith(QStringLiteral("<EMAIL>"))) emailLine = l;
    ASSERT_FALSE(emailLine.isEmpty());
    EXPECT_FALSE(emailLine.contains(QStringLiteral("<IP>")));
    m_admin.deleteBlackLine(int(m_lists.lists()->black.size()), emailLine);
    EXPECT_TRUE(m_ui.messages.isEmpty()) << m_ui.messages.join('\n').toStdString();
    EXPECT_EQ(rows(QStringLiteral("SELECT blocktype, value FROM blacklist_veldra")), QStringList{"IP|10.0.0.1"});

    // Moving the client whose e-mail carries a secure-code marker blocks its e-mail and
    // its own secure code, not the code in its e-mail.
    QString clientLine;
    for (const QString& l : m_lists.lists()->white)
        if (l.startsWith(QStringLiteral("<id>2</id>"))) clientLine = l;
    ASSERT_FALSE(clientLine.isEmpty());
    m_admin.moveToBlackList({int(m_lists.lists()->white.size()), {clientLine}});
    EXPECT_TRUE(m_ui.messages.isEmpty()) << m_ui.messages.join('\n').toStdString();
    EXPECT_EQ(rows(QStringLiteral("SELECT blocktype, value FROM blacklist_veldra WHERE blocktype = 'SECCODE'")),
              QStringList{"SECCODE|REALCODE12"});
    EXPECT_EQ(check(QStringLiteral("n@ab.cd"), QStringLiteral("XXXXXXXXXX")).kind, AccessDecision::Kind::Neither);
    EXPECT_EQ(check(codeEmail, QStringLiteral("other12345")).kind, AccessDecision::Kind::Blocked);
    EXPECT_EQ(check(QStringLiteral("n@ab.cd"), QStringLiteral("REALCODE12")).kind, AccessDecision::Kind::Blocked);
}

TEST_F(MarkerValues, TheWindowRefusesThem)
{
    const QDate later = QDate::currentDate().addDays(10);
    m_admin.createClient(QStringLiteral("\"<todate>31.12.2099</todate>\"@ab.cd"), QStringLiteral("ABCDEFGHIJ"), later, {});
    m_admin.createClient(QStringLiteral("a@ab.cd"), QStringLiteral("ABCDE<FGHIJ"), later, {});
    m_admin.addNewBlocking(QStringLiteral("EMAIL"), QStringLiteral("\"<IP>10.0.0.1</IP>\"@ab.cd"));
    m_admin.addNewBlocking(QStringLiteral("SECCODE"), QStringLiteral("<seccode>X</seccode>"));
    m_admin.addNewBlocking(QStringLiteral("IP"), QStringLiteral("<EMAIL>a@ab.cd</EMAIL>"));
    EXPECT_EQ(m_ui.messages, (QStringList{QStringLiteral("EMAIL is not valid value !!!"),
                                          QStringLiteral("SECCODE must not hold the characters < and > !!!"),
                                          QStringLiteral("EMAIL is not valid value !!!"),
                                          QStringLiteral("SECCODE must not hold the characters < and > !!!"),
                                          QStringLiteral("VALUE must not hold the characters < and > !!!")}));
    EXPECT_TRUE(rows(QStringLiteral("SELECT email, seccode FROM clients_veldra")).isEmpty());
    EXPECT_TRUE(rows(QStringLiteral("SELECT blocktype, value FROM blacklist_veldra")).isEmpty());
}
