// SPDX-License-Identifier: GPL-3.0-or-later
// The update button in a window offscreen: shown by the version check, refused while
// the server runs, and the window enabled again after a failed download.
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "../support/support.h"
#include "../update/httpstub.h"
#include "common/files.h"
#include "console/updatebutton.h"

using namespace veldra;
using namespace veldra::test;

class UpdateButtonTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setProgramFolder(dir.path());
    }

    void checkShowsTheButtonWhichUpdates()
    {
        HttpStub stub;
        stub.route(kHistoryPath, {200, "\"VELDRA\" 9.9.9 released\r\n\"VELDRA\" 1.2.12 released\r\n"});
        stub.route(kProgramPath, {404, "gone"});
        QWidget window;
        auto* button = new QPushButton(QStringLiteral(" Update program"), &window);
        button->hide();
        ScriptedOperator ui;
        bool running = true;
        UpdateButton updater(&window, button, ui, [&] { return running; }, stub.baseUrl());
        window.show();
        updater.checkAfterFirstPaint(QStringLiteral("1.2.12"));
        updater.checkAfterFirstPaint(QStringLiteral("1.2.12"));  // once per run
        QTRY_VERIFY(!button->isHidden());
        QCOMPARE(ui.messages, QStringList{QStringLiteral("You use old version program. Need do update program !!!")});
        QCOMPARE(stub.paths.size(), 1);

        button->click();
        QCOMPARE(ui.messages.size(), 2);
        QVERIFY(ui.messages.last().startsWith(QStringLiteral("You can not to update the program")));
        QCOMPARE(stub.paths.size(), 1);

        QList<bool> busy;
        updater.onBusyChanged = [&](bool on) { busy << on; };
        running = false;
        button->click();
        QCOMPARE(busy, (QList<bool>{true, false}));
        QCOMPARE(ui.messages.last(), QStringLiteral("Error downloading the file. If necessary, try again !"));
        QCOMPARE(button->text(), QStringLiteral("Load 0 KB "));
        QVERIFY(window.isEnabled());
        QVERIFY(window.isVisible());
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("UpdProgrVeldra.sh"))));
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(UpdateButtonTest)
#include "test_updatebutton.moc"
