// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/inputguard.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace veldra {
namespace {

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

}  // namespace

InputGuard::InputGuard(QWidget* window) : m_window(window) {}

InputGuard::~InputGuard()
{
    if (m_active) {
        qApp->removeEventFilter(this);
        QApplication::restoreOverrideCursor();
    }
}

void InputGuard::setActive(bool active)
{
    if (active == m_active) return;
    if (active) {
        m_active = true;
        qApp->installEventFilter(this);
        QApplication::setOverrideCursor(Qt::BusyCursor);
        return;
    }
    // The waiting loops leave user input queued; deliver it now, to be dropped here.
    QCoreApplication::processEvents();
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
    m_active = false;
}

bool InputGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (!isUserInput(event->type()) || !m_window || !watched->isWidgetType()) return false;
    return static_cast<QWidget*>(watched)->window() == m_window;
}

}  // namespace veldra
