// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <thread>

#include "common/errors.h"
#include "common/files.h"
#include "queries/preparation.h"
#include "queries/queryfile.h"
#include "queries/sharelist.h"
#include "support/fullfilesystem.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {



QString errorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        return errorDetails(e);
    }
    return QStringLiteral("no error");
}

class QueryFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + u'/';
        setProgramFolder(dir.path());
    }
    void TearDown() override { setProgramFolder(QString()); }

    QTemporaryDir dir;
    QString folder;
};

QueryEditorModel twoValueFunction()
{
    QueryEditorModel m;
    m.name = QStringLiteral("  orders ");
    m.active = true;
    m.blockedForShareList = false;
    m.description = QStringLiteral("\r\n  All orders \t\r\n");
    m.inputValues << InputValueEntry{QStringLiteral("id"), TMyRec{QStringLiteral("null"), QStringLiteral("[null][0][]"), false, true, true}};
    m.inputValues << InputValueEntry{QStringLiteral("Name"), TMyRec{QStringLiteral(""), QStringLiteral("[]"), true, false, false}};
    m.query = QStringLiteral("SELECT * FROM t WHERE a = {:id:} ");
    return m;
}

}  // namespace

TEST_F(QueryFileTest, SavedFileIsUtf8WithBomAndEighteenCrLfLines)
{
    SaveQueryFunction(folder, QStringLiteral("orders"), twoValueFunction());
    const QByteArray expected =
        "\xEF\xBB\xBF"
        "<#q_name>orders</#q_name>\r\n"
        "<#q_active>-1</#q_active>\r\n"
        "<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>\r\n"
        "<#q_descript>All orders</#q_descript>\r\n"
        "<#q_count_input_values>2</#q_count_input_values>\r\n"
        "<#q_in_name[1]>id</#q_in_name[1]>\r\n"
        "<#q_in_default_value[1]>null</#q_in_default_value[1]>\r\n"
        "<#q_in_deleteblocked_ifvalue_is[1]>[null][0][]</#q_in_deleteblocked_ifvalue_is[1]>\r\n"
        "<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>\r\n"
        "<#q_in_IsFloatValue[1]>-1</#q_in_IsFloatValue[1]>\r\n"
        "<#q_in_deleteblocked[1]>-1</#q_in_deleteblocked[1]>\r\n"
        "<#q_in_name[2]>Name</#q_in_name[2]>\r\n"
        "<#q_in_default_value[2]></#q_in_default_value[2]>\r\n"
        "<#q_in_deleteblocked_ifvalue_is[2]>[]</#q_in_deleteblocked_ifvalue_is[2]>\r\n"
        "<#q_in_Cleantext[2]>-1</#q_in_Cleantext[2]>\r\n"
        "<#q_in_IsFloatValue[2]>0</#q_in_IsFloatValue[2]>\r\n"
        "<#q_in_deleteblocked[2]>0</#q_in_deleteblocked[2]>\r\n"
        "<#q_content>SELECT * FROM t WHERE a = {:id:} </#q_content>\r\n";
    EXPECT_EQ(fileBytes(folder + QStringLiteral("orders.qr")), expected);
    EXPECT_EQ(queryFunctionLines(twoValueFunction()).size(), 18);
}

TEST_F(QueryFileTest, SaveAndLoadRoundTripEveryField)
{
    QueryEditorModel m = twoValueFunction();
    m.name = QStringLiteral("orders");
    m.description = QStringLiteral("line one\nline two\r\n\r\nline four");
    m.query = QStringLiteral("\tSELECT *\n  FROM t\r\n WHERE a = {:id:}\n");
    m.inputValues[1].rec.default_value = QStringLiteral(" spaced ");
    SaveQueryFunction(folder, QStringLiteral("orders"), m);

    QueryEditorModel back;
    LoadQueryFunction(folder, QStringLiteral("orders"), back);
    QueryEditorModel expected = m;
    // Line breaks come back as CR LF; the query is kept otherwise exactly.
    expected.description = QStringLiteral("line one\r\nline two\r\n\r\nline four");
    expected.query = QStringLiteral("\tSELECT *\r\n  FROM t\r\n WHERE a = {:id:}\r\n");
    EXPECT_EQ(back, expected);
    EXPECT_TRUE(fileBytes(folder + QStringLiteral("orders.qr"))
                    .contains("<#q_descript>line one\r\nline two\r\n\r\nline four</#q_descript>\r\n"));
}

TEST_F(QueryFileTest, SkeletonFileAndItsLoad)
{
    QueryEditorModel m = twoValueFunction();
    CreateQueryFunction(folder, QStringLiteral("fresh"));
    EXPECT_EQ(fileBytes(folder + QStringLiteral("fresh.qr")),
              QByteArray("\xEF\xBB\xBF<#q_name>fresh</#q_name>\r\n<#q_active>false</#q_active>\r\n"
                         "<#q_blocked_for_sharelist>true</#q_blocked_for_sharelist>\r\n<#q_descript></#q_descript>\r\n"
                         "<#q_count_input_values>0</#q_count_input_values>\r\n<#q_content></#q_content>\r\n"));
    LoadQueryFunction(folder, QStringLiteral("fresh"), m);
    QueryEditorModel expected;
    expected.name = QStringLiteral("fresh");
    expected.active = false;
    expected.blockedForShareList = true;
    EXPECT_EQ(m, expected);
}

TEST_F(QueryFileTest, Utf16FilesAreReadAndSavedBackAsUtf8)
{
    const QString text = QStringLiteral(
        "<#q_name>größe</#q_name>\r\n<#q_active>TRUE</#q_active>\r\n<#q_blocked_for_sharelist>1</#q_blocked_for_sharelist>\n"
        "<#q_descript>Ünïcode €</#q_descript>\r<#q_count_input_values>1</#q_count_input_values>\r\n"
        "<#q_in_name[1]>x</#q_in_name[1]><#q_in_Cleantext[1]>false</#q_in_Cleantext[1]>"
        "<#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]><#q_in_deleteblocked[1]>True</#q_in_deleteblocked[1]>\r\n"
        "<#q_content>SELECT '€'\nFROM t</#q_content>");
    for (auto enc : {QStringEncoder::Utf16LE, QStringEncoder::Utf16BE}) {
        putBytes(folder + QStringLiteral("wide.qr"), QStringEncoder(enc, QStringEncoder::Flag::WriteBom).encode(text));
        QueryEditorModel m;
        LoadQueryFunction(folder, QStringLiteral("wide"), m);
        EXPECT_EQ(m.name, QStringLiteral("größe"));
        EXPECT_TRUE(m.active);
        EXPECT_TRUE(m.blockedForShareList);
        EXPECT_EQ(m.description, QStringLiteral("Ünïcode €"));
        ASSERT_EQ(m.inputValues.size(), 1);
        EXPECT_EQ(m.inputValues[0].name, QStringLiteral("x"));
        EXPECT_EQ(m.inputValues[0].rec, (TMyRec{QString(), QString(), false, false, true}));
        EXPECT_EQ(m.query, QStringLiteral("SELECT '€'\r\nFROM t"));

        SaveQueryFunction(folder, QStringLiteral("wide"), m);
        const QByteArray saved = fileBytes(folder + QStringLiteral("wide.qr"));
        EXPECT_TRUE(saved.startsWith("\xEF\xBB\xBF<#q_name>gr\xC3\xB6\xC3\x9F" "e</#q_name>\r\n"));
    }
}

TEST_F(QueryFileTest, FilesWithoutByteOrderMark)
{
    // UTF-8 without a mark, and Windows-1252 for bytes that are not UTF-8.
    putBytes(folder + QStringLiteral("u8.qr"), "<#q_descript>gr\xC3\xB6\xC3\x9F" "e</#q_descript>");
    putBytes(folder + QStringLiteral("cp.qr"), "<#q_descript>gr\xF6\xDF" "e \x80</#q_descript>");
    for (const char* name : {"u8", "cp"}) {
        QueryEditorModel m;
        LoadQueryFunction(folder, QString::fromLatin1(name), m);
        EXPECT_EQ(m.description, QString::fromLatin1(name) == QStringLiteral("u8") ? QStringLiteral("größe")
                                                                                   : QStringLiteral("größe €"));
    }
}

TEST_F(QueryFileTest, BooleansAndCounts)
{
    struct Case {
        const char* text;
        bool converts;
        bool value;
    };
    const Case cases[] = {{"1", true, true},     {"TRUE", true, true},   {"false", true, false}, {"-1", true, true},
                          {"0", true, false},    {"tRuE", true, true},   {"", false, false},     {"yes", false, false},
                          {"1.5", true, true},   {"0.0", true, false},   {"-.25", true, true},
                          {"0e5", true, false},  {"1,5", false, false},  {"1.2.3", false, false},
                          {"nan", false, false}, {"2x", false, false}};
    for (const Case& c : cases) {
        bool b = !c.value;
        EXPECT_EQ(tryReadBoolean(QString::fromLatin1(c.text), b), c.converts) << c.text;
        if (c.converts) {
            EXPECT_EQ(b, c.value) << c.text;
        }
    }
    EXPECT_EQ(errorOf([] { readBoolean(QStringLiteral("maybe")); }),
              QStringLiteral("Error |  msg = [EConvertError : 'maybe' is not a valid boolean value]"));

    EXPECT_EQ(QueryFile::fromText(QStringLiteral("<#q_count_input_values>two</#q_count_input_values>")).countInputValues(), 0);
    // The markers of input value 1 never match those of input value 10.
    const QueryFile f = QueryFile::fromText(QStringLiteral("<#q_in_name[10]>ten</#q_in_name[10]><#q_in_name[1]>one</#q_in_name[1]>"));
    EXPECT_EQ(f.inputItem(QStringLiteral("q_in_name"), 1), QStringLiteral("one"));
    EXPECT_EQ(f.inputItem(QStringLiteral("q_in_name"), 10), QStringLiteral("ten"));
}

TEST_F(QueryFileTest, FailedLoadsLeaveNoMixture)
{
    QueryEditorModel m = twoValueFunction();
    const QueryEditorModel before = m;
    // Unreadable file: the editor is unchanged.
    EXPECT_TRUE(errorOf([&] { LoadQueryFunction(folder, QStringLiteral("missing"), m); }).startsWith(
        QStringLiteral("Error |  msg = [EFileError : ")));
    EXPECT_EQ(m, before);

    // Count 3 with two input values present: conversion error for an empty value, and
    // the editor holds nothing of either function.
    QueryEditorModel two = twoValueFunction();
    two.name = QStringLiteral("three");
    QString text = queryFunctionText(two);
    text.replace(QStringLiteral("<#q_count_input_values>2<"), QStringLiteral("<#q_count_input_values>3<"));
    putBytes(folder + QStringLiteral("three.qr"), text.toUtf8());
    EXPECT_EQ(errorOf([&] { LoadQueryFunction(folder, QStringLiteral("three"), m); }),
              QStringLiteral("Error |  msg = [EConvertError : '' is not a valid boolean value]"));
    EXPECT_EQ(m, QueryEditorModel{});
}

TEST_F(QueryFileTest, FunctionListIsSortedIgnoringCase)
{
    for (const char* f : {"beta.qr", "Alpha.qr", "gamma.QR", "delta.qr.bak", "alpha2.qr"})
        putBytes(folder + QString::fromLatin1(f), "x");
    EXPECT_EQ(listQueryFunctions(folder), (QStringList{QStringLiteral("Alpha"), QStringLiteral("alpha2"), QStringLiteral("beta")}));
}

// What each reader does with a missing or unreadable item.
TEST_F(QueryFileTest, ReaderTable)
{
    const QString good = QStringLiteral(
        "<#q_name>f</#q_name>\r\n<#q_active>-1</#q_active>\r\n<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>\r\n"
        "<#q_descript>about f</#q_descript>\r\n<#q_count_input_values>1</#q_count_input_values>\r\n"
        "<#q_in_name[1]>id</#q_in_name[1]>\r\n<#q_in_default_value[1]>7</#q_in_default_value[1]>\r\n"
        "<#q_in_deleteblocked_ifvalue_is[1]></#q_in_deleteblocked_ifvalue_is[1]>\r\n"
        "<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>\r\n<#q_in_IsFloatValue[1]>0</#q_in_IsFloatValue[1]>\r\n"
        "<#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>\r\n<#q_content>SELECT {:id:}</#q_content>\r\n");
    const QString header = QStringLiteral("----------------- [f] -----------------");
    const QString footer = QString(50, u'-');

    struct Row {
        const char* what;
        QString from, to;  // the change to the good file
        // Expected: the editor after the load (or the load's error), the request
        // preparation, the test preparation, and the share list.
        std::function<void(const QueryEditorModel&)> load;
        QString loadError, request, test;
        QStringList shareList;
    };
    const QString conv = QStringLiteral("Error |  msg = [EConvertError : 'x' is not a valid boolean value]");
    const QString notActive = QStringLiteral("<#msg>Function [f] is not actived !!!</#msg>");
    const QStringList listed{header, QStringLiteral("f"), QString(), QStringLiteral("about f"), footer, QString(), QString()};
    const QList<Row> rows = {
        {"good file", {}, {}, [](const QueryEditorModel& m) { EXPECT_EQ(m.inputValues.size(), 1); }, {},
         QStringLiteral("SELECT 7"), QStringLiteral("SELECT 7"), listed},
        {"q_name missing", QStringLiteral("<#q_name>f</#q_name>"), QString(),
         [](const QueryEditorModel& m) { EXPECT_EQ(m.name, QString()); }, {}, QStringLiteral("SELECT 7"),
         QStringLiteral("SELECT 7"),
         {QStringLiteral("----------------- [] -----------------"), QString(), QString(), QStringLiteral("about f"), footer,
          QString(), QString()}},
        {"q_active does not convert", QStringLiteral(">-1</#q_active>"), QStringLiteral(">on</#q_active>"),
         [](const QueryEditorModel& m) { EXPECT_FALSE(m.active); }, {}, notActive, QStringLiteral("SELECT 7"), {}},
        {"q_blocked_for_sharelist missing", QStringLiteral("<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>"),
         QString(), [](const QueryEditorModel& m) { EXPECT_TRUE(m.blockedForShareList); }, {},
         QStringLiteral("SELECT 7"), QStringLiteral("SELECT 7"), {}},
        {"q_descript missing", QStringLiteral("<#q_descript>about f</#q_descript>"), QString(),
         [](const QueryEditorModel& m) { EXPECT_EQ(m.description, QString()); }, {}, QStringLiteral("SELECT 7"),
         QStringLiteral("SELECT 7"), {header, QStringLiteral("f"), QString(), QString(), footer, QString(), QString()}},
        {"count does not convert", QStringLiteral(">1</#q_count"), QStringLiteral(">one</#q_count"),
         [](const QueryEditorModel& m) { EXPECT_TRUE(m.inputValues.isEmpty()); }, {}, QStringLiteral("SELECT {:id:}"),
         QStringLiteral("SELECT {:id:}"), listed},
        {"input boolean does not convert", QStringLiteral("<#q_in_IsFloatValue[1]>0<"),
         QStringLiteral("<#q_in_IsFloatValue[1]>x<"), nullptr, conv, conv, conv, listed},
        {"q_content missing", QStringLiteral("<#q_content>SELECT {:id:}</#q_content>"), QString(),
         [](const QueryEditorModel& m) { EXPECT_EQ(m.query, QString()); }, {}, QString(), QString(), listed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QString text = good;
        if (!row.from.isEmpty()) {
            ASSERT_TRUE(text.contains(row.from));
            text.replace(row.from, row.to);
        }
        putBytes(folder + QStringLiteral("f.qr"), textFileBytes({text}));

        QueryEditorModel m;
        const QString loadError = errorOf([&] { LoadQueryFunction(folder, QStringLiteral("f"), m); });
        if (row.load) {
            EXPECT_EQ(loadError, QStringLiteral("no error"));
            row.load(m);
        } else {
            EXPECT_EQ(loadError, row.loadError);
        }

        QString request, test;
        const QString requestError = errorOf([&] { request = PreparingQuery(folder, QStringLiteral("f"), QString()).text; });
        EXPECT_EQ(requestError == QStringLiteral("no error") ? request : requestError, row.request);
        const QString testError = errorOf([&] { test = PreparatingQueryForTest(dir.path(), QStringLiteral("f")); });
        EXPECT_EQ(testError == QStringLiteral("no error") ? test : testError, row.test);

        EXPECT_EQ(shareListLines(folder, {QStringLiteral("f")}), row.shareList);
    }
}

TEST_F(QueryFileTest, AChangedFileIsReadAgainEvenAtTheSameSize)
{
    const QString path = folder + QStringLiteral("kept.qr");
    putBytes(path, "<#q_descript>one</#q_descript>");
    EXPECT_EQ(QueryFile::read(path).item(QStringLiteral("q_descript")), QStringLiteral("one"));
    // the same size, written within the same second (file times move in clock ticks of
    // up to 10 ms: an operator's save is never that quick)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    putBytes(path, "<#q_descript>two</#q_descript>");
    EXPECT_EQ(QueryFile::read(path).item(QStringLiteral("q_descript")), QStringLiteral("two"));
    putBytes(path, "<#q_descript>three</#q_descript>");
    EXPECT_EQ(QueryFile::read(path).item(QStringLiteral("q_descript")), QStringLiteral("three"));
    QFile::remove(path);
    EXPECT_THROW(QueryFile::read(path), FileError);
}

// A disk that fills up while a function file or the share list is written: the error
// names the file and the reason, and the old file stays whole.
TEST_F(QueryFileTest, AFullDiskKeepsTheOldFiles)
{
    QueryEditorModel m = twoValueFunction();
    m.name = QStringLiteral("orders");
    m.description = QString(1000, u'd');
    SaveQueryFunction(folder, QStringLiteral("orders"), m);
    ASSERT_TRUE(CreateShareListFunctions(folder).written);
    const QByteArray function = fileBytes(folder + QStringLiteral("orders.qr"));
    const QByteArray shareList = fileBytes(dir.filePath(QStringLiteral("ListAndDescriptionShareFunction.txt")));
    ASSERT_GT(function.size(), 1000);
    m.description = QString(5000, u'e');
    SaveQueryFunction(folder, QStringLiteral("big"), m);  // the share list grows with it
    {
        const FileSizeLimit full(1024);
        const QString error = errorOf([&] { SaveQueryFunction(folder, QStringLiteral("orders"), m); });
        EXPECT_TRUE(error.contains(folder + QStringLiteral("orders.qr"))) << error.toStdString();
        EXPECT_TRUE(error.contains(qt_error_string(EFBIG))) << error.toStdString();
        const ShareListOutcome out = CreateShareListFunctions(folder);
        EXPECT_FALSE(out.written);
        EXPECT_TRUE(out.message.contains(QStringLiteral("ListAndDescriptionShareFunction.txt"))) << out.message.toStdString();
    }
    EXPECT_EQ(fileBytes(folder + QStringLiteral("orders.qr")), function);
    EXPECT_EQ(fileBytes(dir.filePath(QStringLiteral("ListAndDescriptionShareFunction.txt"))), shareList);
    EXPECT_EQ(folderEntries(dir.path()), (QStringList{"ListAndDescriptionShareFunction.txt", "big.qr", "orders.qr"}));
}
