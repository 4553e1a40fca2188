// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "common/functionname.h"

using namespace veldra;

TEST(FunctionName, OneRuleForEveryName)
{
    struct Case {
        QString name;
        bool usable;
    };
    const Case cases[] = {
        {QStringLiteral("sales"), true},
        {QStringLiteral("Sales 2024"), true},
        {QStringLiteral(".hidden"), true},
        {QStringLiteral("a.b"), true},
        {QStringLiteral("sa%6Ces"), true},
        {QString::fromUtf8("caf\xC3\xA9"), true},
        {QString(), false},
        {QStringLiteral("."), false},
        {QStringLiteral(".."), false},
        {QStringLiteral("..."), false},
        {QStringLiteral("x..y"), false},
        {QStringLiteral("../evil"), false},
        {QStringLiteral("a/b"), false},
        {QStringLiteral("a\\b"), false},
        {QStringLiteral("tab\there"), false},
        {QStringLiteral("nul") + QChar(0), false},
        {QStringLiteral("del") + QChar(0x7F), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isUsableFunctionName(c.name), c.usable) << c.name.toStdString();
        EXPECT_EQ(functionNameFault(c.name).isEmpty(), c.usable) << c.name.toStdString();
        EXPECT_EQ(functionCacheFolder(QStringLiteral("/c/"), c.name).isEmpty(), !c.usable) << c.name.toStdString();
    }
    EXPECT_EQ(functionNameFault(QStringLiteral("a/b")),
              QStringLiteral("Name function [a/b] may not be empty or \".\", and may not hold \"/\", \"\\\", \"..\" or "
                             "control characters"));
}

TEST(FunctionName, StrictlyInsideTheResolvedFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/cache");
    QDir().mkpath(root + QStringLiteral("/f"));
    QDir().mkpath(dir.path() + QStringLiteral("/outside"));
    ASSERT_TRUE(QFile::link(dir.path() + QStringLiteral("/outside"), root + QStringLiteral("/out")));
    ASSERT_TRUE(QFile::link(root, dir.path() + QStringLiteral("/cachelink")));

    struct Case {
        QString target;
        bool inside;
    };
    const Case cases[] = {
        {root + QStringLiteral("/f"), true},
        {root + QStringLiteral("/f/"), true},
        {root + QStringLiteral("/f/x.cache"), true},       // need not exist
        {root + QStringLiteral("/out"), true},             // the link itself
        {dir.path() + QStringLiteral("/cachelink/f"), true},  // the same folder by another way
        {root, false},
        {root + QStringLiteral("/"), false},
        {root + QStringLiteral("/."), false},
        {root + QStringLiteral("/.."), false},
        {root + QStringLiteral("/f/.."), false},
        {root + QStringLiteral("/out/x.cache"), false},    // through the link, outside
        {dir.path() + QStringLiteral("/cache2"), false},   // a name that merely begins the same
        {dir.path(), false},
        {QString(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(liesStrictlyInside(root, c.target), c.inside) << c.target.toStdString();
    EXPECT_FALSE(liesStrictlyInside(dir.path() + QStringLiteral("/missing"), dir.path() + QStringLiteral("/missing/f")));
}

TEST(FunctionName, DeletionsStayInsideTheCacheFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/cache/");
    QDir().mkpath(root + QStringLiteral("sales/sub"));
    QDir().mkpath(dir.path() + QStringLiteral("/outside"));
    ASSERT_TRUE(QFile::link(dir.path() + QStringLiteral("/outside"), root + QStringLiteral("linked")));

    EXPECT_FALSE(deleteFunctionCacheFolder(root, QStringLiteral("..")));
    EXPECT_FALSE(deleteFunctionCacheFolder(root, QStringLiteral(".")));
    EXPECT_FALSE(deleteInsideFolder(root, root));
    EXPECT_FALSE(deleteInsideFolder(root, root + QStringLiteral("linked/")));
    EXPECT_TRUE(QFileInfo(root).isDir());
    EXPECT_FALSE(deleteFunctionCacheFolder(root, QStringLiteral("missing")));

    EXPECT_TRUE(deleteFunctionCacheFolder(root, QStringLiteral("linked")));
    EXPECT_FALSE(QFileInfo(root + QStringLiteral("linked")).isSymLink());
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/outside")).isDir());
    EXPECT_TRUE(deleteFunctionCacheFolder(root, QStringLiteral("sales")));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("sales")));
    EXPECT_TRUE(QFileInfo(root).isDir());
}
