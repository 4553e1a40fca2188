// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Failures that escape a request step end the request without an answer; their
// messages are shown to the operator by the main thread. The request thread does not
// wait, and a text already waiting to be shown, or shown and not yet closed, is not
// queued a second time.
#include <QSet>
#include <QString>
#include <mutex>

namespace veldra {

class OperatorUi;

class FailureReporter {
public:
    explicit FailureReporter(OperatorUi& ui) : m_ui(ui) {}
    // Any thread.
    void report(const QString& message);

private:
    OperatorUi& m_ui;
    std::mutex m_mutex;
    QSet<QString> m_waiting;
};

}  // namespace veldra
