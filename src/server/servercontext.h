// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What request threads share: the running settings (a snapshot swapped by START),
// the pipeline's steps, and where escaping failures go.
#include "common/snapshot.h"
#include "config/serversettings.h"

namespace veldra {

class RequestSteps;
class FailureReporter;

class ServerContext {
public:
    ServerContext(RequestSteps& steps, FailureReporter& failures) : m_steps(steps), m_failures(failures) {}

    Snapshot<TServerSettings> settings;

    RequestSteps& steps() const { return m_steps; }
    FailureReporter& failures() const { return m_failures; }

private:
    RequestSteps& m_steps;
    FailureReporter& m_failures;
};

}  // namespace veldra
