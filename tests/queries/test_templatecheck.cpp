// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "queries/templatecheck.h"

using namespace veldra;

namespace {

using Where = UnsafePlaceholder::Where;

InputValueEntry input(const QString& name, bool isFloat = false)
{
    InputValueEntry e{name, TMyRec{}};
    e.rec.IsFloatValue = isFloat;
    return e;
}

struct Case {
    const char* what;
    QString query;
    QList<InputValueEntry> inputs;
    QList<UnsafePlaceholder> expected;
};

UnsafePlaceholder at(const char* name, const char* written, int line, Where where = Where::Code)
{
    return UnsafePlaceholder{QString::fromLatin1(name), QString::fromLatin1(written), line, where};
}

TEST(TemplateCheckTest, FindsThePlaceholdersOutsideQuotedStrings)
{
    const QList<InputValueEntry> id = {input(QStringLiteral("id"))};
    const QList<Case> cases = {
        {"bare", QStringLiteral("SELECT * FROM t WHERE id = {:id:}"), id, {at("id", "{:id:}", 1)}},
        {"single quotes", QStringLiteral("SELECT * FROM t WHERE id = '{:id:}'"), id, {}},
        {"double quotes", QStringLiteral("SELECT * FROM t WHERE id = \"{:id:}\""), id, {}},
        {"inside a longer literal", QStringLiteral("SELECT * FROM t WHERE n LIKE '%{:id:}%'"), id, {}},
        {"a number input", QStringLiteral("SELECT * FROM t WHERE id = {:id:}"), {input(QStringLiteral("id"), true)}, {}},
        {"escaped quote keeps the string open", QStringLiteral("SELECT 'it\\'s {:id:}'"), id, {}},
        {"doubled quote keeps the string open", QStringLiteral("SELECT 'it''s {:id:}'"), id, {}},
        {"escaped backslash closes it", QStringLiteral("SELECT 'a\\\\' , {:id:}"), id, {at("id", "{:id:}", 1)}},
        {"the other quote inside a string", QStringLiteral("SELECT \"it's\", {:id:}"), id, {at("id", "{:id:}", 1)}},
        {"after a closed string", QStringLiteral("SELECT 'x' = '{:id:}' OR a = {:id:}"), id, {at("id", "{:id:}", 1)}},
        {"backquotes", QStringLiteral("SELECT `{:id:}` FROM t"), id, {at("id", "{:id:}", 1, Where::Backquotes)}},
        {"quote inside backquotes", QStringLiteral("SELECT `it's` FROM t WHERE a = {:id:}"), id, {at("id", "{:id:}", 1)}},
        {"quote in a line comment", QStringLiteral("SELECT 1 -- don't\r\nWHERE a = {:id:}"), id, {at("id", "{:id:}", 2)}},
        {"quote in a hash comment", QStringLiteral("SELECT 1 # don't\nWHERE a = {:id:}"), id, {at("id", "{:id:}", 2)}},
        {"quote in a block comment", QStringLiteral("SELECT 1 /* don't */ WHERE a = {:id:}"), id, {at("id", "{:id:}", 1)}},
        {"placeholder in a comment", QStringLiteral("SELECT 1 -- a = {:id:}"), id, {at("id", "{:id:}", 1, Where::Comment)}},
        {"a double dash without a blank is no comment", QStringLiteral("SELECT 1--'{:id:}'"), id, {}},
        {"executable comment is statement text", QStringLiteral("SELECT /*! {:id:} */ 1"), id, {at("id", "{:id:}", 1)}},
        {"block markers in comments", QStringLiteral("SELECT * FROM t WHERE 1=1 /*<#id#>*/ AND a = {:id:} /*<#/id#>*/"), id,
         {at("id", "{:id:}", 1)}},
        {"unclosed string runs to the end", QStringLiteral("SELECT 'abc {:id:}"), id, {}},
        {"other letter case once the lower-case form is there", QStringLiteral("SELECT '{:id:}', {:ID:}"), id,
         {at("id", "{:ID:}", 1)}},
        {"capitals alone are left in place", QStringLiteral("SELECT {:ID:}"), id, {}},
        {"an undeclared placeholder stays text", QStringLiteral("SELECT {:other:}"), id, {}},
        {"declared with capitals", QStringLiteral("SELECT {:id:}"), {input(QStringLiteral("Id"))}, {at("Id", "{:id:}", 1)}},
        {"several inputs in text order, lines counted",
         QStringLiteral("SELECT {:b:}\r\nFROM t\r\nWHERE a = '{:a:}' AND c = {:a:} AND d = {:c:}"),
         {input(QStringLiteral("a")), input(QStringLiteral("b")), input(QStringLiteral("c"), true)},
         {at("b", "{:b:}", 1), at("a", "{:a:}", 3)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(findUnsafePlaceholders(c.query, c.inputs), c.expected);
    }
}

TEST(TemplateCheckTest, ReadsAFunctionFileAndDescribesWhatItFound)
{
    const QueryFile file = QueryFile::fromText(QStringLiteral(
        "<#q_count_input_values>2</#q_count_input_values>\r\n"
        "<#q_in_name[1]>id</#q_in_name[1]><#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>"
        "<#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]><#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>\r\n"
        "<#q_in_name[2]>col</#q_in_name[2]><#q_in_Cleantext[2]>-1</#q_in_Cleantext[2]>"
        "<#q_in_IsFloatValue[2]>0</#q_in_IsFloatValue[2]><#q_in_deleteblocked[2]>0</#q_in_deleteblocked[2]>\r\n"
        "<#q_content>SELECT `{:col:}` FROM t\r\nWHERE id = {:id:} -- {:col:}</#q_content>\r\n"));
    const QList<UnsafePlaceholder> found = findUnsafePlaceholders(file);
    EXPECT_EQ(unsafeInputNames(found), (QStringList{QStringLiteral("col"), QStringLiteral("id")}));
    EXPECT_EQ(describeUnsafePlaceholders(found),
              QStringLiteral("{:col:} (line 1, between backquotes), {:id:} (line 2), {:col:} (line 2, in a comment)"));

    // Input values that do not read: nothing to say (the file's own error says it).
    EXPECT_TRUE(findUnsafePlaceholders(QueryFile::fromText(QStringLiteral(
                                           "<#q_count_input_values>1</#q_count_input_values>"
                                           "<#q_content>SELECT {:id:}</#q_content>")))
                    .isEmpty());
}

}  // namespace
