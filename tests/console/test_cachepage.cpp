// SPDX-License-Identifier: GPL-3.0-or-later
// The cache page through its widgets, on folders made by the test.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "console/cachepage.h"
#include "console/consoletest.h"

using namespace veldra;
using namespace veldra::test;

class CachePageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mainthread::install(); }

    void init()
    {
        f = std::make_unique<WindowFixture>();
        // Functions a, b and c; a has 3 files of 1 MiB, b 2 small ones, c no folder; the
        // folder "other" belongs to no function.
        for (const char* name : {"QUERIES", "CACHE-VELDRA/a", "CACHE-VELDRA/b", "CACHE-VELDRA/other"})
            f->makeFolder(QString::fromLatin1(name));
        for (const char* fn : {"a", "b", "c"}) putBytes(f->path(QStringLiteral("QUERIES/%1.qr").arg(fn)), "x");
        for (int i = 0; i < 3; ++i)
            putBytes(f->path(QStringLiteral("CACHE-VELDRA/a/%1.cache").arg(i)), QByteArray(1048576, 'a'));
        for (int i = 0; i < 2; ++i) putBytes(f->path(QStringLiteral("CACHE-VELDRA/b/%1.cache").arg(i)), "b");
        putBytes(f->path(QStringLiteral("CACHE-VELDRA/other/x.cache")), "o");
        f->open();
        page = f->window->cachePage();
        f->window->showPage(QStringLiteral("CACHESETTINGS"));
    }
    void cleanup() { f.reset(); }

    void listingAndTheClickOnAnEntry()
    {
        QCOMPARE(page->countFunctions()->text(), QStringLiteral("Count functions (folders) : 000"));
        QCOMPARE(page->functionList()->count(), 0);  // filled only on request
        page->updateListButton()->click();
        QCOMPARE(items(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(page->countFunctions()->text(), QStringLiteral("Count functions (folders) : 2"));
        QCOMPARE(page->countAll()->text(), QStringLiteral("Count cache files in all folders : 5"));
        QCOMPARE(page->sizeAll()->text(), QStringLiteral("Sum size all cache files : 3 Mb"));
        QCOMPARE(page->countInFolder()->text(), QStringLiteral("Count cache files in folder : 000"));

        click(0);
        QCOMPARE(page->countInFolder()->text(), QStringLiteral("Count cache files in folder : 3"));
        QCOMPARE(page->sizeInFolder()->text(), QStringLiteral("Sum size all cache files in folder : 3 Mb"));
        click(1);
        QCOMPARE(page->countInFolder()->text(), QStringLiteral("Count cache files in folder : 2"));
        QCOMPARE(page->sizeInFolder()->text(), QStringLiteral("Sum size all cache files in folder : 0 Mb"));
        // a file added since: the click on the selected entry counts anew
        putBytes(f->path(QStringLiteral("CACHE-VELDRA/b/9.cache")), "b");
        click(1);
        QCOMPARE(page->countInFolder()->text(), QStringLiteral("Count cache files in folder : 3"));
        // an entry selected over the accessibility bus is measured as one clicked
        QVERIFY(selectAsAssistiveTechnology(page->functionList(), 0));
        QCOMPARE(page->countInFolder()->text(), QStringLiteral("Count cache files in folder : 3"));
        QCOMPARE(page->sizeInFolder()->text(), QStringLiteral("Sum size all cache files in folder : 3 Mb"));
        QVERIFY(f->ui.messages.isEmpty());
    }

    void deleteSelectedAnsweredNoThenYes()
    {
        page->updateListButton()->click();
        click(0);
        f->ui.answerYes = false;
        page->deleteSelectedButton()->click();
        QCOMPARE(f->ui.questions, QStringList{QStringLiteral("Delete cache files for function [a] ?")});
        QVERIFY(QFileInfo(f->path(QStringLiteral("CACHE-VELDRA/a"))).isDir());
        QCOMPARE(items().size(), 2);

        f->ui.answerYes = true;
        page->deleteSelectedButton()->click();
        QVERIFY(!QFileInfo::exists(f->path(QStringLiteral("CACHE-VELDRA/a"))));
        QCOMPARE(items(), QStringList{QStringLiteral("b")});  // listed anew
        QCOMPARE(page->countAll()->text(), QStringLiteral("Count cache files in all folders : 2"));
    }

    void cleanFullCacheAnsweredNoThenYes()
    {
        // With an empty list nothing is asked.
        page->cleanFullButton()->click();
        QVERIFY(f->ui.questions.isEmpty());

        page->updateListButton()->click();
        f->ui.answerYes = false;
        page->cleanFullButton()->click();
        QCOMPARE(f->ui.questions, QStringList{QStringLiteral("Clean full cache for all function ?")});
        QVERIFY(QFileInfo(f->path(QStringLiteral("CACHE-VELDRA/a"))).isDir());

        f->ui.answerYes = true;
        page->cleanFullButton()->click();
        QVERIFY(!QFileInfo::exists(f->path(QStringLiteral("CACHE-VELDRA/a"))));
        QVERIFY(!QFileInfo::exists(f->path(QStringLiteral("CACHE-VELDRA/b"))));
        QVERIFY(QFileInfo(f->path(QStringLiteral("CACHE-VELDRA/other"))).isDir());
        QCOMPARE(page->functionList()->count(), 0);
        QCOMPARE(page->countFunctions()->text(), QStringLiteral("Count functions (folders) : 0"));
        QCOMPARE(page->sizeAll()->text(), QStringLiteral("Sum size all cache files : 000 Mb"));
    }

    void wrongFoldersOfTheSettingsPage()
    {
        page->updateListButton()->click();
        f->window->control().page.pathToCache = f->path(QStringLiteral("nowhere"));
        page->updateListButton()->click();
        f->window->control().page.pathToQueries.clear();
        page->updateListButton()->click();
        QCOMPARE(f->ui.messages, (QStringList{QStringLiteral("The path to the cache folder is empty or wrong !"),
                                              QStringLiteral("The path to the query folder is empty or wrong !")}));
        QCOMPARE(page->functionList()->count(), 0);
        QCOMPARE(page->countAll()->text(), QStringLiteral("Count cache files in all folders : 000"));
    }

private:
    QStringList items() const
    {
        QStringList l;
        for (int i = 0; i < page->functionList()->count(); ++i) l << page->functionList()->item(i)->text();
        return l;
    }
    void click(int row)
    {
        QListWidget* list = page->functionList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    }

    std::unique_ptr<WindowFixture> f;
    CachePage* page = nullptr;
};

QTEST_MAIN(CachePageTest)
#include "test_cachepage.moc"
