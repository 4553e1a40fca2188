// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "common/errors.h"
#include "common/files.h"
#include "db/dbtestutil.h"
#include "queries/preparation.h"
#include "queries/queryfile.h"
#include "support/support.h"

using namespace veldra;

namespace {

struct Flags {
    bool clean = false;
    bool isFloat = false;
    bool deleteBlocked = false;
};

// A parameter list as the request parser builds it.
QString paramList(const QList<std::pair<QString, QString>>& params)
{
    QStringList lines;
    for (int i = 1; i <= params.size(); ++i) {
        const QString n = QString::number(i);
        lines << QStringLiteral("<name[%1]>%2</name[%1]><value[%1]>%3</value[%1]>").arg(n, params[i - 1].first, params[i - 1].second);
    }
    lines << QStringLiteral("<paramcount>%1</paramcount>").arg(params.size());
    return lines.join(QStringLiteral("\r\n"));
}

class PreparationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + u'/';
        LastPreparedQuery::instance().setOnScreen(false);
        LastPreparedQuery::instance().setText(QString());
    }

    void writeFunction(const QString& name, const QString& query, const QList<InputValueEntry>& values, bool active = true)
    {
        QueryEditorModel m;
        m.name = name;
        m.active = active;
        m.inputValues = values;
        m.query = query;
        SaveQueryFunction(folder, name, m);
    }

    // Prepares `query` with one input value id (default null, list [null][0][]).
    QString prepareOne(const QString& query, Flags f, const QList<std::pair<QString, QString>>& params,
                       const QString& list = QStringLiteral("[null][0][]"), const QString& def = QStringLiteral("null"))
    {
        writeFunction(QStringLiteral("f"), query,
                      {InputValueEntry{QStringLiteral("id"), TMyRec{def, list, f.clean, f.isFloat, f.deleteBlocked}}});
        return PreparingQuery(folder, QStringLiteral("f"), paramList(params)).text;
    }

    QTemporaryDir dir;
    QString folder;
};

const QString kSelect = QStringLiteral("SELECT * FROM t WHERE a = {:id:}");
const QString kBlock = QStringLiteral("SELECT * FROM t WHERE 1=1 /*<#id#>*/ AND a = {:id:} /*<#/id#>*/");

}  // namespace

TEST_F(PreparationTest, TheExamples)
{
    struct Case {
        QString query;
        Flags flags;
        QList<std::pair<QString, QString>> params;
        QString prepared;
    };
    const QString id = QStringLiteral("id");
    const QList<Case> cases = {
        {kSelect, {}, {}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        {kSelect, {false, true}, {{id, QStringLiteral("12,5")}}, QStringLiteral("SELECT * FROM t WHERE a = 12.5")},
        {kSelect, {false, true}, {{id, QStringLiteral("abc")}}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        {kSelect, {false, true}, {{id, QStringLiteral("2147483648")}}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        {kSelect, {false, true}, {{id, QStringLiteral("-7")}}, QStringLiteral("SELECT * FROM t WHERE a = -7")},
        {kSelect, {true}, {{id, QStringLiteral("O'Brien; drop")}}, QStringLiteral("SELECT * FROM t WHERE a = OBriendrop")},
        {kSelect, {true, true}, {{id, QStringLiteral(";;")}}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        {kBlock, {false, false, true}, {}, QStringLiteral("SELECT * FROM t WHERE 1=1 /**/")},
        {kBlock, {false, false, true}, {{id, QStringLiteral("0")}}, QStringLiteral("SELECT * FROM t WHERE 1=1 /**/")},
        {kBlock, {false, false, true}, {{id, QStringLiteral("5")}},
         QStringLiteral("SELECT * FROM t WHERE 1=1 /*<#id#>*/ AND a = 5 /*<#/id#>*/")},
        // Further number forms: the value that passes goes in as written.
        {kSelect, {false, true}, {{id, QStringLiteral("+3")}}, QStringLiteral("SELECT * FROM t WHERE a = +3")},
        {kSelect, {false, true}, {{id, QStringLiteral(",5")}}, QStringLiteral("SELECT * FROM t WHERE a = .5")},
        {kSelect, {false, true}, {{id, QStringLiteral("1.2.3")}}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        {kSelect, {false, true}, {{id, QStringLiteral("-2147483648")}}, QStringLiteral("SELECT * FROM t WHERE a = -2147483648")},
        {kSelect, {false, true}, {{id, QStringLiteral(" 5")}}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        {kSelect, {false, true}, {{id, QStringLiteral("1e3")}}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        // A failed number check triggers "[null]".
        {kBlock, {false, true, true}, {{id, QStringLiteral("x")}}, QStringLiteral("SELECT * FROM t WHERE 1=1 /**/")},
        // Cleaning may leave an empty text, listed as "[]".
        {kBlock, {true, false, true}, {{id, QStringLiteral("';")}}, QStringLiteral("SELECT * FROM t WHERE 1=1 /**/")},
        // Parameter names are compared lower-cased; the last occurrence wins.
        {kSelect, {}, {{QStringLiteral("ID"), QStringLiteral("9")}}, QStringLiteral("SELECT * FROM t WHERE a = 9")},
        {kSelect, {}, {{id, QStringLiteral("1")}, {id, QStringLiteral("2")}}, QStringLiteral("SELECT * FROM t WHERE a = 2")},
        {kSelect, {}, {{QStringLiteral("other"), QStringLiteral("1")}}, QStringLiteral("SELECT * FROM t WHERE a = null")},
        // Placeholder only in capitals stays; with the lower-case form present both go.
        {QStringLiteral("SELECT {:ID:}"), {}, {{id, QStringLiteral("1")}}, QStringLiteral("SELECT {:ID:}")},
        {QStringLiteral("SELECT {:ID:}, {:id:}"), {}, {{id, QStringLiteral("1")}}, QStringLiteral("SELECT 1, 1")},
        // Unknown placeholders and blocks stay; the result is trimmed.
        {QStringLiteral("\r\n SELECT {:x:} /*<#x#>*/1/*<#/x#>*/ \t"), {}, {}, QStringLiteral("SELECT {:x:} /*<#x#>*/1/*<#/x#>*/")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(paramList(c.params).toStdString() + " | " + c.query.toStdString());
        EXPECT_EQ(prepareOne(c.query, c.flags, c.params), c.prepared);
    }
}

TEST_F(PreparationTest, RequestValuesAreEscapedDefaultsAreNot)
{
    const QString q = QStringLiteral("SELECT * FROM t WHERE name = '{:name:}'");
    const auto run = [&](const QString& value, const QString& def = QStringLiteral("null"),
                         const QString& list = QStringLiteral("[null][0][]")) {
        writeFunction(QStringLiteral("f"), q,
                      {InputValueEntry{QStringLiteral("name"), TMyRec{def, list, false, false, true}}});
        const QList<std::pair<QString, QString>> params =
            value.isNull() ? QList<std::pair<QString, QString>>{} : QList<std::pair<QString, QString>>{{QStringLiteral("name"), value}};
        return PreparingQuery(folder, QStringLiteral("f"), paramList(params)).text;
    };
    EXPECT_EQ(run(QStringLiteral("x' OR '1'='1")), QStringLiteral("SELECT * FROM t WHERE name = 'x\\' OR \\'1\\'=\\'1'"));
    EXPECT_EQ(run(QStringLiteral("O'Brien")), QStringLiteral("SELECT * FROM t WHERE name = 'O\\'Brien'"));
    EXPECT_EQ(run(QStringLiteral("a\\' b\"c") + QChar(0) + u'd'), QStringLiteral("SELECT * FROM t WHERE name = 'a\\\\\\' b\\\"c\\0d'"));
    // Without a request value the default goes in as the operator wrote it.
    EXPECT_EQ(run(QString(), QStringLiteral("x' OR 'y")), QStringLiteral("SELECT * FROM t WHERE name = 'x' OR 'y'"));
    // The block trigger uses the value as the request gave it.
    const QString blocked = QStringLiteral("SELECT 1 <#name#>AND n = '{:name:}'<#/name#>");
    writeFunction(QStringLiteral("b"), blocked,
                  {InputValueEntry{QStringLiteral("name"), TMyRec{QStringLiteral("null"), QStringLiteral("[O'Brien]"), false, false, true}}});
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("b"), paramList({{QStringLiteral("name"), QStringLiteral("O'Brien")}})).text,
              QStringLiteral("SELECT 1"));
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("b"), paramList({{QStringLiteral("name"), QStringLiteral("O\"Neil")}})).text,
              QStringLiteral("SELECT 1 <#name#>AND n = 'O\\\"Neil'<#/name#>"));
    EXPECT_EQ(escapeSqlValue(QStringLiteral("plain")), QStringLiteral("plain"));
}

// The escaped request values on a real server: quotes in a value are data, not SQL.
TEST_F(PreparationTest, EscapedValuesOnTheDatabase)
{
    VELDRA_REQUIRE_DATABASE(db);
    test::ScratchDatabase scratch(db, QStringLiteral("veldra_t_prep_escape"));
    scratch.exec(QStringLiteral("CREATE TABLE t (name VARCHAR(100)) CHARSET utf8mb4"));
    scratch.exec(QStringLiteral("INSERT INTO t VALUES ('O''Brien'), ('Smith'), ('back\\\\slash'), ('say \"hi\"')"));
    const TMyRec plain{QStringLiteral("null"), QString(), false, false, false};
    writeFunction(QStringLiteral("single"), QStringLiteral("SELECT name FROM t WHERE name = '{:name:}' ORDER BY name"),
                  {InputValueEntry{QStringLiteral("name"), plain}});
    writeFunction(QStringLiteral("double"), QStringLiteral("SELECT name FROM t WHERE name = \"{:name:}\" ORDER BY name"),
                  {InputValueEntry{QStringLiteral("name"), plain}});
    const auto rows = [&](const QString& function, const QString& value) {
        const QString sql = PreparingQuery(folder, function, paramList({{QStringLiteral("name"), value}})).text;
        auto r = scratch.admin().openBuffered(sql);
        QStringList names;
        while (r->next()) names << r->value(0);
        return names;
    };
    for (const QString& function : {QStringLiteral("single"), QStringLiteral("double")}) {
        SCOPED_TRACE(function.toStdString());
        EXPECT_EQ(rows(function, QStringLiteral("x' OR '1'='1")), QStringList());
        EXPECT_EQ(rows(function, QStringLiteral("x\" OR \"1\"=\"1")), QStringList());
        EXPECT_EQ(rows(function, QStringLiteral("x\\' OR 1=1 -- ")), QStringList());
        EXPECT_EQ(rows(function, QStringLiteral("O'Brien")), QStringList{QStringLiteral("O'Brien")});
        EXPECT_EQ(rows(function, QStringLiteral("back\\slash")), QStringList{QStringLiteral("back\\slash")});
        EXPECT_EQ(rows(function, QStringLiteral("say \"hi\"")), QStringList{QStringLiteral("say \"hi\"")});
    }
}

TEST_F(PreparationTest, InputValuesRunInFileOrder)
{
    const TMyRec noFlags{QStringLiteral("null"), QStringLiteral("[null][0][]"), false, false, false};
    const TMyRec dropWhenMissing{QStringLiteral("null"), QStringLiteral("[null]"), false, false, true};
    // A block removed for the first value takes the second's placeholder with it; a
    // request value carrying a later placeholder keeps it as its own text.
    writeFunction(QStringLiteral("f"), QStringLiteral("SELECT {:a:} <#a#>, {:b:}<#/a#> {:c:}"),
                  {InputValueEntry{QStringLiteral("A"), dropWhenMissing}, InputValueEntry{QStringLiteral("b"), noFlags},
                   InputValueEntry{QStringLiteral("c"), noFlags}});
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("f"), paramList({{QStringLiteral("b"), QStringLiteral("2")}})).text,
              QStringLiteral("SELECT null  null"));
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("f"),
                             paramList({{QStringLiteral("a"), QStringLiteral("{:c:}")}, {QStringLiteral("c"), QStringLiteral("3")}})).text,
              QStringLiteral("SELECT {:c:} <#a#>, null<#/a#> 3"));

    // An input value named format gets the request's format parameter.
    writeFunction(QStringLiteral("g"), QStringLiteral("SELECT '{:format:}'"), {InputValueEntry{QStringLiteral("format"), noFlags}});
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("g"), paramList({{QStringLiteral("format"), QStringLiteral("XML")}})).text,
              QStringLiteral("SELECT 'XML'"));

    // No input values: the text trimmed, placeholders in place. A broken count in the
    // parameter list gives no parameters.
    writeFunction(QStringLiteral("h"), QStringLiteral(" SELECT {:id:} \r\n"), {});
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("h"), QStringLiteral("<name[1]>id</name[1]><value[1]>1</value[1]><paramcount>x</paramcount>")).text,
              QStringLiteral("SELECT {:id:}"));
}

TEST_F(PreparationTest, InactiveFunctionsAndFailures)
{
    writeFunction(QStringLiteral("GetItems"), QStringLiteral("SELECT 1"), {}, false);
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("GetItems"), QString()).text,
              QStringLiteral("<#msg>Function [GetItems] is not actived !!!</#msg>"));
    EXPECT_EQ(PreparatingQueryForTest(dir.path(), QStringLiteral("GetItems")), QStringLiteral("SELECT 1"));

    TServerSettings s;
    s.PathToQueries = folder;
    EXPECT_EQ(_PreparatingQuery(QStringLiteral("GetItems"), QString(), s).text,
              QStringLiteral("<#msg>Function [GetItems] is not actived !!!</#msg>"));

    const auto error = [&](const QString& name) {
        try {
            PreparingQuery(folder, name, QString()).text;
        } catch (const std::exception& e) {
            return errorDetails(e);
        }
        return QStringLiteral("no error");
    };
    EXPECT_TRUE(error(QStringLiteral("missing")).startsWith(QStringLiteral("Error |  msg = [EFileError : ")));
    const QByteArray negative = textFileBytes({QStringLiteral("<#q_active>1</#q_active><#q_count_input_values>-1</#q_count_input_values>")});
    QFile f(folder + QStringLiteral("neg.qr"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(negative);
    f.close();
    EXPECT_EQ(error(QStringLiteral("neg")), QStringLiteral("Error |  msg = [ERangeError : Range check error]"));
}

TEST_F(PreparationTest, ParameterListsFromHostileRequests)
{
    // A value carrying its own count marker: that count is read (it stands first), and a
    // huge one costs nothing.
    const QString list = QStringLiteral("<name[1]>a</name[1]><value[1]>x<paramcount>2000000000</paramcount></value[1]>\r\n"
                                        "<name[2]>b</name[2]><value[2]>2</value[2]><paramcount>2</paramcount>");
    const QList<RequestParam> params = requestParams(list);
    ASSERT_EQ(params.size(), 3);
    EXPECT_EQ(params[0].nameparam, QStringLiteral("a"));
    EXPECT_EQ(params[0].value, QStringLiteral("x<paramcount>2000000000</paramcount>"));
    EXPECT_EQ(params[1].nameparam, QStringLiteral("b"));
    // Indexes without markers read as an empty name with an empty value.
    EXPECT_EQ(params[2].nameparam, QString());
    EXPECT_EQ(params[2].value, QString());

    // Those empty parameters reach an input value with an empty name, in order.
    const QString gap = QStringLiteral("<name[2]></name[2]><value[2]>v</value[2]><paramcount>3</paramcount>");
    const QList<RequestParam> gapParams = requestParams(gap);
    ASSERT_EQ(gapParams.size(), 2);
    EXPECT_EQ(gapParams[0].value, QStringLiteral("v"));
    EXPECT_EQ(gapParams[1].value, QString());
    EXPECT_EQ(requestParams(QStringLiteral("<name[1]>a</name[1]><value[1]>1</value[1]><paramcount>-4</paramcount>")).size(), 0);
    EXPECT_EQ(requestParams(QStringLiteral("<name[01]>a</name[01]><paramcount>1</paramcount>"))[0].nameparam, QString());

    // Values that repeat later placeholders stay what they are: the text does not grow.
    const TMyRec plain{QStringLiteral("null"), QString(), false, false, false};
    writeFunction(QStringLiteral("grow"), QStringLiteral("SELECT '{:a:}'"),
                  {InputValueEntry{QStringLiteral("a"), plain}, InputValueEntry{QStringLiteral("b"), plain},
                   InputValueEntry{QStringLiteral("c"), plain}});
    const QString request = paramList({{QStringLiteral("a"), QStringLiteral("{:b:}").repeated(2000)},
                                       {QStringLiteral("b"), QStringLiteral("{:c:}").repeated(2000)},
                                       {QStringLiteral("c"), QStringLiteral("x").repeated(5000)}});
    EXPECT_EQ(PreparingQuery(folder, QStringLiteral("grow"), request).text,
              QStringLiteral("SELECT '") + QStringLiteral("{:b:}").repeated(2000) + u'\'');
}

TEST_F(PreparationTest, RequestValuesAreNeverReadAgain)
{
    const TMyRec plain{QStringLiteral("null"), QString(), false, false, false};
    const TMyRec dropWhenMissing{QStringLiteral("null"), QStringLiteral("[null][0][]"), false, false, true};
    const auto input = [](const char* name, const TMyRec& rec) { return InputValueEntry{QString::fromLatin1(name), rec}; };
    struct Case {
        QString query;
        QList<InputValueEntry> inputs;
        QList<std::pair<QString, QString>> params;
        QString prepared;
        QString error;
    };
    const QString multi = QStringLiteral(
        "SELECT id,name FROM customers WHERE name LIKE '%{:a:}%' /*<#b#>*/ AND city = '{:b:}' /*<#/b#>*/ "
        "AND COALESCE(city,'') <> '{:c:}'");
    const QString refs = QString(QChar(0xFDD0)) + u'0' + QChar(0xFDD1);
    const QList<Case> cases = {
        // A placeholder of a later input value inside a value.
        {QStringLiteral("x = '{:a:}' AND y = '{:b:}'"), {input("a", plain), input("b", plain)},
         {{QStringLiteral("a"), QStringLiteral("{:b:}")}, {QStringLiteral("b"), QStringLiteral("Z")}},
         QStringLiteral("x = '{:b:}' AND y = 'Z'"), QString()},
        // A block marker inside a value: only the template's block goes.
        {multi, {input("a", plain), input("b", dropWhenMissing), input("c", plain)},
         {{QStringLiteral("a"), QStringLiteral("<#b#>")}, {QStringLiteral("c"), QStringLiteral(" OR 1=1 UNION SELECT x FROM secret -- ")}},
         QStringLiteral("SELECT id,name FROM customers WHERE name LIKE '%<#b#>%' /**/ "
                        "AND COALESCE(city,'') <> ' OR 1=1 UNION SELECT x FROM secret -- '"),
         QString()},
        {QStringLiteral("SELECT '{:a:}' <#b#>, {:b:}<#/b#>"), {input("a", plain), input("b", dropWhenMissing)},
         {{QStringLiteral("a"), QStringLiteral("<#/b#>")}}, QStringLiteral("SELECT '<#/b#>'"), QString()},
        // The error marker inside a value is that value's text.
        {QStringLiteral("SELECT '{:v:}'"), {input("v", plain)}, {{QStringLiteral("v"), QStringLiteral("<#msg>boom</#msg>")}},
         QStringLiteral("SELECT '<#msg>boom</#msg>'"), QString()},
        {QStringLiteral("SELECT '<#msg>', '{:v:}'"), {input("v", plain)}, {{QStringLiteral("v"), QStringLiteral("x</#msg>")}},
         QStringLiteral("SELECT '<#msg>', 'x</#msg>'"), QString()},
        // The operator's own marker still reports, with the value in its message.
        {QStringLiteral("<#msg>bad {:v:}</#msg>"), {input("v", plain)}, {{QStringLiteral("v"), QStringLiteral(" it ")}},
         QStringLiteral("<#msg>bad  it </#msg>"), QStringLiteral("bad  it")},
        // Defaults are the operator's SQL: their placeholders and markers still count.
        {QStringLiteral("SELECT {:a:}"), {input("a", TMyRec{QStringLiteral("{:b:}"), QString(), false, false, false}), input("b", plain)},
         {{QStringLiteral("b"), QStringLiteral("{:a:}")}}, QStringLiteral("SELECT {:a:}"), QString()},
        {QStringLiteral("SELECT 1 {:a:}"), {input("a", TMyRec{QStringLiteral("<#msg>off</#msg>"), QString(), false, false, false})},
         {}, QStringLiteral("SELECT 1 <#msg>off</#msg>"), QStringLiteral("off")},
        // The characters that stand for values inside the preparation, in a value and in the template.
        {QStringLiteral("SELECT '") + refs + QStringLiteral("{:a:}'"), {input("a", plain)}, {{QStringLiteral("a"), refs}},
         QStringLiteral("SELECT '") + refs + refs + u'\'', QString()},
        {QStringLiteral("SELECT {:") + refs + QStringLiteral(":}"), {InputValueEntry{refs, plain}},
         {{refs, QStringLiteral("v")}}, QStringLiteral("SELECT v"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(paramList(c.params).toStdString() + " | " + c.query.toStdString());
        writeFunction(QStringLiteral("f"), c.query, c.inputs);
        const PreparationResult r = PreparingQuery(folder, QStringLiteral("f"), paramList(c.params));
        EXPECT_EQ(r.text, c.prepared);
        EXPECT_EQ(r.error, c.error);
    }
}

TEST(DeleteBlocks, Cases)
{
    struct Case {
        const char* text;
        const char* result;
    };
    const Case cases[] = {
        // Identical blocks go in one pass (letter case of the copies ignored), different ones in two.
        {"a<#x#>1<#/x#>b<#x#>1<#/x#>c<#X#>1<#/X#>d", "abcd"},
        {"a<#x#>1<#/x#>b<#x#>2<#/x#>c", "abc"},
        // No closing marker: removal ends, the rest stays.
        {"a<#x#>1<#/x#>b<#x#>2", "ab<#x#>2"},
        {"a<#x#>never closed", "a<#x#>never closed"},
        // Same name does not nest: the second closing marker stays behind.
        {"a<#x#>1<#x#>2<#/x#>3<#/x#>b", "a3<#/x#>b"},
        // Markers in capitals only are not found; other names nest freely.
        {"a<#X#>1<#/X#>b", "a<#X#>1<#/X#>b"},
        {"a<#x#>1<#y#>2<#/y#>3<#/x#>b", "ab"},
        {"a<#y#>1<#x#>2<#/x#>3<#/y#>b", "a<#y#>13<#/y#>b"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeleteBlocksInQuery(QString::fromLatin1(c.text), QStringLiteral("x")), QString::fromLatin1(c.result)) << c.text;
}

TEST_F(PreparationTest, LastPreparedQueryIsHandedToTheMainThread)
{
    writeFunction(QStringLiteral("f"), QStringLiteral("  SELECT {:id:}  "),
                  {InputValueEntry{QStringLiteral("id"), TMyRec{}}});
    writeFunction(QStringLiteral("off"), QStringLiteral("SELECT 2"), {}, false);
    LastPreparedQuery& view = LastPreparedQuery::instance();
    const auto fromRequest = [&](const QString& name) {
        return test::inWorker([&] { return PreparingQuery(folder, name, paramList({{QStringLiteral("id"), QStringLiteral("4")}})).text; });
    };

    QStringList seen;
    view.setListener([&](const QString& t) {
        EXPECT_TRUE(mainthread::isMainThread());
        seen << t;
    });
    // Another tab on screen: the view hears nothing, and the query is kept for when it opens.
    view.setText(QStringLiteral("old"));
    seen.clear();
    EXPECT_EQ(fromRequest(QStringLiteral("f")), QStringLiteral("SELECT 4"));
    EXPECT_TRUE(seen.isEmpty());
    EXPECT_TRUE(view.text().endsWith(QStringLiteral("\r-- ==============================\rSELECT 4")));

    view.setOnScreen(true);
    EXPECT_EQ(fromRequest(QStringLiteral("f")), QStringLiteral("SELECT 4"));
    const QStringList lines = view.text().split(u'\r');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("-- ")));
    EXPECT_GT(lines[0].size(), 12);
    EXPECT_EQ(lines[1], QStringLiteral("-- =============================="));
    EXPECT_EQ(lines[2], QStringLiteral("SELECT 4"));
    EXPECT_EQ(seen.size(), 1);

    // An inactive function reports nothing.
    EXPECT_EQ(fromRequest(QStringLiteral("off")), QStringLiteral("<#msg>Function [off] is not actived !!!</#msg>"));
    EXPECT_EQ(seen.size(), 1);

    // The test preparation writes the view whatever is on screen.
    view.setOnScreen(false);
    EXPECT_EQ(PreparatingQueryForTest(folder, QStringLiteral("off")), QStringLiteral("SELECT 2"));
    EXPECT_TRUE(view.text().endsWith(QStringLiteral("\r-- ==============================\rSELECT 2")));
    view.setListener(nullptr);
}
