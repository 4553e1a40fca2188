// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the window's tests: a window in a program folder of its own, talking to a
// scripted operator, and the test database for QtTest.
#include <QAccessible>
#include <QDir>
#include <QListWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "common/files.h"
#include "common/mainthread.h"
#include "console/mainwindow.h"
#include "common/eventlog.h"
#include "console/databasetest.h"

namespace veldra::test {

// A shown window whose program folder is a fresh temporary folder.
struct WindowFixture {
    QTemporaryDir dir;
    ScriptedOperator ui;
    std::unique_ptr<TForm1> window;

    WindowFixture() { setProgramFolder(dir.path()); }
    ~WindowFixture()
    {
        if (window && window->control().running()) window->control().stop();
        window.reset();
        EventLog::instance().clear();
        setProgramFolder(QString());
    }
    // Creates and shows the window (the settings file is read at the first showing).
    TForm1& open()
    {
        window = std::make_unique<TForm1>();
        window->setOperatorUi(ui);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) qWarning("the window was not exposed");
        return *window;
    }
    QString path(const QString& name) const { return dir.path() + u'/' + name; }
    void makeFolder(const QString& name) const { QDir(dir.path()).mkpath(name); }
};

// Selects an entry of a list as assistive technology does: through the list's
// accessible table, without making it the current entry. False when the list has none.
inline bool selectAsAssistiveTechnology(QListWidget* list, int row)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
    if (!iface || !iface->tableInterface()) return false;
    return iface->tableInterface()->selectRow(row);
}

}  // namespace veldra::test
