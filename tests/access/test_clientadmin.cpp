// SPDX-License-Identifier: GPL-3.0-or-later
// The e-mail test, the secure-code generator and the list-line readers of client
// administration. The operations themselves are tested through the page.
#include <gtest/gtest.h>

#include <QSet>

#include "access/clientadmin.h"

using namespace veldra;

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
