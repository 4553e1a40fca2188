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
        {
            std::lock_guard lock(m_mutex);
            m_waiting.remove(message);
        }
        m_ui.showError(message);
    });
}

}  // namespace veldra
