// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Failures that escape a request step end the request without an answer; the main
// thread shows them to the operator in one failure box. The request thread does not
// wait, and no hand-over waits for the box: it opens without waiting
// (OperatorUi::openFailureBox), and failures that arrive while it is open are counted
// into it by kind, not by their exact text, whose positions and quoted parts a client
// chooses. Once the operator has closed it, the next failure opens a new box.
#include <QString>
#include <memory>

namespace veldra {

class OperatorUi;

class FailureReporter {
public:
    // The kinds a box lists one by one; failures of further kinds are counted together.
    static constexpr int kMaxKinds = 8;
    // The most characters of one failure text a box shows.
    static constexpr int kMaxShownChars = 1000;

    explicit FailureReporter(OperatorUi& ui);
    ~FailureReporter();
    FailureReporter(const FailureReporter&) = delete;
    FailureReporter& operator=(const FailureReporter&) = delete;

    // Any thread.
    void report(const QString& message);

    // The kind of a failure text: every run of digits becomes "#", and every part in
    // parentheses, brackets or quotes "…" between them.
    static QString kindOf(const QString& message);

    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace veldra
