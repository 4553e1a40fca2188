// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the operator's input away from a window while a long operation runs in the main
// thread (START, STOP): clicks, keys, wheel turns and shortcuts aimed at the window are
// dropped, the cursor shows that the program is busy, and repaints go on. Other windows
// (a message box shown meanwhile) still take input.
#include <QObject>
#include <QPointer>

class QWidget;

namespace veldra {

class InputGuard : public QObject {
public:
    explicit InputGuard(QWidget* window);
    ~InputGuard() override;

    // true: input to the window is dropped from now on. false: input that waited for the
    // operation to end is taken out of the queues and dropped too, then the window takes
    // input again.
    void setActive(bool active);
    bool active() const { return m_active; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
    bool m_active = false;
};

}  // namespace veldra
