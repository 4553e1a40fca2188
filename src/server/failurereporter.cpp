// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/failurereporter.h"

#include "common/mainthread.h"
#include "common/operatorui.h"

namespace veldra {

void FailureReporter::report(const QString& message)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_waiting.contains(message)) return;
        m_waiting.insert(message);
    }
    mainthread::post([this, message] {
        // The text counts as waiting until the operator has closed its box: a message
        // box runs its own event loop, in which the same failure must not open a second.
        struct Shown {
            FailureReporter& reporter;
            const QString& message;
            ~Shown()
            {
                std::lock_guard lock(reporter.m_mutex);
                reporter.m_waiting.remove(message);
            }
        } shown{*this, message};
        m_ui.showError(message);
    });
}

}  // namespace veldra
