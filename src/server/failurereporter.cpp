// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/failurereporter.h"

#include <mutex>
#include <vector>

#include "common/mainthread.h"
#include "common/operatorui.h"

namespace veldra {

struct FailureReporter::State {
    explicit State(OperatorUi& ui) : ui(ui) {}

    struct Kind {
        QString key;
        QString first;   // the first text of this kind, as the box shows it
        qint64 count = 0;
        qint64 shown = 0;  // of count, what the box on screen already shows
    };

    OperatorUi& ui;
    std::mutex mutex;
    std::vector<Kind> kinds;
    qint64 others = 0;  // failures of kinds beyond kMaxKinds
    qint64 othersShown = 0;
    bool posted = false;  // a hand-over to show the box is queued
    bool open = false;    // the box is on screen

    // With the mutex held.
    QString boxText() const
    {
        if (kinds.size() == 1 && kinds[0].count == 1 && others == 0) return kinds[0].first;
        QString text;
        for (const Kind& k : kinds) {
            if (!text.isEmpty()) text += QStringLiteral("\r\r");
            text += k.first;
            if (k.count > 1) text += QStringLiteral("\r(%1 failures of this kind)").arg(k.count);
        }
        if (others > 0) text += QStringLiteral("\r\r(%1 failures of other kinds)").arg(others);
        return text;
    }
};

namespace {

void showBox(const std::weak_ptr<FailureReporter::State>& weak);

// The operator closed the box: what it showed is done; what came after it opens a new one.
void boxClosed(const std::weak_ptr<FailureReporter::State>& weak)
{
    const auto state = weak.lock();
    if (!state) return;
    bool again = false;
    {
        std::lock_guard lock(state->mutex);
        state->open = false;
        std::vector<FailureReporter::State::Kind> rest;
        for (auto& k : state->kinds) {
            k.count -= k.shown;
            k.shown = 0;
            if (k.count > 0) rest.push_back(std::move(k));
        }
        state->kinds = std::move(rest);
        state->others -= state->othersShown;
        state->othersShown = 0;
        again = (!state->kinds.empty() || state->others > 0) && !state->posted;
        if (again) state->posted = true;
    }
    if (again) mainthread::post([weak] { showBox(weak); });
}

// Main thread: opens the box, or brings the open one up to date.
void showBox(const std::weak_ptr<FailureReporter::State>& weak)
{
    const auto state = weak.lock();
    if (!state) return;
    QString text;
    bool update;
    {
        std::lock_guard lock(state->mutex);
        state->posted = false;
        if (state->kinds.empty() && state->others == 0) return;
        text = state->boxText();
        for (auto& k : state->kinds) k.shown = k.count;
        state->othersShown = state->others;
        update = state->open;
        state->open = true;
    }
    // No lock while the operator's side runs: a box that waits may serve hand-overs.
    if (update)
        state->ui.updateFailureBox(text);
    else
        state->ui.openFailureBox(text, [weak] { boxClosed(weak); });
}

}  // namespace

FailureReporter::FailureReporter(OperatorUi& ui) : m_state(std::make_shared<State>(ui)) {}

FailureReporter::~FailureReporter() = default;

QString FailureReporter::kindOf(const QString& message)
{
    static constexpr char16_t kOpeners[] = {u'(', u'[', u'"', u'\''};
    static constexpr char16_t kClosers[] = {u')', u']', u'"', u'\''};
    // Once a closer is not found after some position, it is not found after any later
    // one: each is looked for again only while it may still come, so a long text of
    // openers costs one pass.
    bool noMore[4] = {false, false, false, false};
    QString key;
    key.reserve(message.size());
    for (qsizetype i = 0; i < message.size(); ++i) {
        const QChar c = message.at(i);
        if (c.isDigit()) {
            if (!key.endsWith(u'#')) key += u'#';
            continue;
        }
        int which = -1;
        for (int k = 0; k < 4; ++k)
            if (c == kOpeners[k]) which = k;
        if (which >= 0 && !noMore[which]) {
            const qsizetype end = message.indexOf(QChar(kClosers[which]), i + 1);
            if (end < 0) noMore[which] = true;
            const QChar closer(kClosers[which]);
            if (end > i) {
                key += c;
                key += u'…';
                key += closer;
                i = end;
                continue;
            }
        }
        key += c;
    }
    return key;
}

void FailureReporter::report(const QString& message)
{
    const QString key = kindOf(message);
    {
        std::lock_guard lock(m_state->mutex);
        bool found = false;
        for (auto& k : m_state->kinds)
            if (k.key == key) {
                ++k.count;
                found = true;
                break;
            }
        if (!found) {
            if (int(m_state->kinds.size()) < kMaxKinds) {
                QString first = message.size() > kMaxShownChars ? message.left(kMaxShownChars) + u'…' : message;
                m_state->kinds.push_back(State::Kind{key, std::move(first), 1, 0});
            } else {
                ++m_state->others;
            }
        }
        if (m_state->posted) return;
        m_state->posted = true;
    }
    mainthread::post([weak = std::weak_ptr<State>(m_state)] { showBox(weak); });
}

}  // namespace veldra
