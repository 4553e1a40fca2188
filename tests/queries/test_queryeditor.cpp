// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's operations on names that would name the cache folder itself or the
// folder above it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "common/files.h"
#include "queries/queryeditor.h"
#include "support/support.h"

using namespace veldra;

namespace {

class QueryEditorNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkpath(QStringLiteral("QUERIES"));
        QDir(dir.path()).mkpath(QStringLiteral("CACHE/sales"));
        writeTextFile(path(QStringLiteral("veldra.ini")), {QStringLiteral("[main]")});
        writeTextFile(path(QStringLiteral("CACHE/sales/K.cache")), {QStringLiteral("answer")});
        folders = EditorFolders{path(QStringLiteral("QUERIES")), path(QStringLiteral("CACHE"))};
    }
    QString path(const QString& name) const { return dir.path() + u'/' + name; }
    void expectNothingLost() const
    {
        EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("veldra.ini"))));
        EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("CACHE/sales/K.cache"))));
    }

    QTemporaryDir dir;
    EditorFolders folders;
    test::ScriptedOperator ui;
    QueryEditor editor;
};

}  // namespace

TEST_F(QueryEditorNames, CreateNewQueryRefusesDotNames)
{
    for (const char* name : {".", " . ", "..", "...", "del\x7F"}) {
        ui.messages.clear();
        editor.createNewQuery(QString::fromLatin1(name), folders, ui);
        ASSERT_EQ(ui.messages.size(), 1) << name;
        EXPECT_TRUE(ui.messages[0].contains(QStringLiteral("may not"))) << name;
    }
    EXPECT_EQ(QDir(path(QStringLiteral("QUERIES"))).entryList(QDir::Files | QDir::Hidden), QStringList());
    expectNothingLost();
}

TEST_F(QueryEditorNames, DeleteQueryOfAStrayFileKeepsTheCache)
{
    // "..qr" is the function "." and "...qr" the function "..".
    for (const QString& file : {QStringLiteral("..qr"), QStringLiteral("...qr")})
        writeTextFile(path(QStringLiteral("QUERIES/") + file), {QStringLiteral("<#q_name>x</#q_name>")});
    editor.updateList(folders, ui);
    ASSERT_EQ(editor.functions, (QStringList{QStringLiteral("."), QStringLiteral("..")}));
    editor.deleteQuery(folders, ui);  // "."
    ASSERT_EQ(editor.functions, QStringList{QStringLiteral("..")});
    editor.deleteQuery(folders, ui);  // ".."
    EXPECT_TRUE(editor.functions.isEmpty());
    EXPECT_EQ(ui.questions, (QStringList{QStringLiteral("Delete selected function [.] ?"),
                                         QStringLiteral("Delete selected function [..] ?")}));
    EXPECT_EQ(QDir(path(QStringLiteral("QUERIES"))).entryList(QDir::Files | QDir::Hidden), QStringList());
    expectNothingLost();
}

TEST_F(QueryEditorNames, SaveChangesRefusesADotName)
{
    writeTextFile(path(QStringLiteral("QUERIES/a.qr")), {QStringLiteral("<#q_name>.</#q_name>")});
    editor.updateList(folders, ui);
    ASSERT_EQ(editor.selectedName(), QStringLiteral("a"));
    editor.saveChanges(folders, ui);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages[0].endsWith(QStringLiteral(": nothing was saved")));
    EXPECT_EQ(QDir(path(QStringLiteral("QUERIES"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("a.qr")});
    expectNothingLost();
}
