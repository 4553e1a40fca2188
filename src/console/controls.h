// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small builders for the page controls: each gets its caption and its object name;
// assistive technology reads the caption, or the accessible name of a control without one.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace veldra::controls {

inline QPushButton* button(const QString& caption, const QString& objectName)
{
    auto* b = new QPushButton(caption);
    b->setObjectName(objectName);
    return b;
}

// A button with a picture instead of a caption; `description` is its accessible name and tool tip.
inline QPushButton* pictureButton(QStyle::StandardPixmap icon, const QString& description, const QString& objectName)
{
    auto* b = new QPushButton;
    b->setIcon(QApplication::style()->standardIcon(icon));
    b->setObjectName(objectName);
    b->setAccessibleName(description);
    b->setToolTip(description);
    return b;
}

inline QCheckBox* box(const QString& caption, const QString& objectName)
{
    auto* b = new QCheckBox(caption);
    b->setObjectName(objectName);
    return b;
}

inline QLineEdit* field(const QString& accessibleName, const QString& objectName)
{
    auto* f = new QLineEdit;
    f->setObjectName(objectName);
    f->setAccessibleName(accessibleName);
    return f;
}

// Restores the cursor when the scope ends, however it ends.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace veldra::controls
