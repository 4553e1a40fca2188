// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared test helpers.
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <future>
#include <optional>

#include "common/mainthread.h"
#include "common/operatorui.h"
#include "server/requeststeps.h"
#include "support/answersupport.h"
#include "server/request.h"

namespace veldra::test {

// Runs `fn` on a worker thread while the main thread serves hand-overs, and returns
// its result. Use it for anything that talks to the server from the client side.
template <class F>
auto inWorker(F fn) -> decltype(fn())
{
    auto fut = std::async(std::launch::async, std::move(fn));
    mainthread::serveUntil([&] { return fut.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return fut.get();
}

// A loopback port nobody listens on right now.
quint16 freePort();

// A whole file's bytes (empty, with a test failure, when it cannot be read).
QByteArray fileBytes(const QString& path);
// Replaces a file with the bytes.
void putBytes(const QString& path, const QByteArray& bytes);

// The wire form of a scripted answer text, in the request's format (UTF-8 for a request
// without one).
inline AnswerFormat requestFormat(const Request& r) { return r.format.value_or(AnswerFormat::Json); }
inline WireAnswer scriptedAnswer(const Request& r, const QString& text) { return wireAnswer(text, requestFormat(r)); }

// Pipeline steps that do nothing: for a server that only needs a context.
struct NoSteps : RequestSteps {
    AccessDecision checkClientAccess(const Request&) override { return {}; }
    bool functionFileExists(const Request&, const TServerSettings&) override { return false; }
    PreparationResult prepareQuery(const Request&, const TServerSettings&) override { return {}; }
    CacheLookupResult answerFromCache(const Request&, const TServerSettings&, const QString&) override { return {}; }
    WireAnswer saveQueryAs(const Request&, const TServerSettings&, const QString&) override { return {}; }
    void storeInCache(const Request&, const TServerSettings&, const QString&, const WireAnswer&) override {}
    void countRequest() override {}
};

// An operator that records what it was shown and answers from a script.
class ScriptedOperator : public OperatorUi {
public:
    void showMessage(const QString& text) override { messages << text; }
    void showError(const QString& text) override { errors << text; }
    bool askYesNo(const QString& question) override
    {
        questions << question;
        return answerYes;
    }
    QString chooseFolder(const QString&) override { return folderAnswer; }
    void openWithItsProgram(const QString& path) override { opened << path; }
    // With keepFailureBoxOpen the failure box stays open, its text following the
    // updates, until closeFailureBox(); otherwise it goes to showError.
    void openFailureBox(const QString& text, std::function<void()> closed) override
    {
        if (!keepFailureBoxOpen) return OperatorUi::openFailureBox(text, std::move(closed));
        ++failureBoxesOpened;
        failureBox = text;
        m_closeFailureBox = std::move(closed);
    }
    void updateFailureBox(const QString& text) override { failureBox = text; }
    void closeFailureBox()
    {
        if (auto closed = std::exchange(m_closeFailureBox, nullptr)) closed();
    }

    QStringList messages, errors, questions, opened;
    bool keepFailureBoxOpen = false;
    int failureBoxesOpened = 0;
    QString failureBox;
    bool answerYes = true;
    QString folderAnswer;

private:
    std::function<void()> m_closeFailureBox;
};

// The private MariaDB server that scripts/test starts (VELDRA_TEST_DB_HOST, _PORT,
// _USER, _PASSWORD). Without it a test skips, except under CI=true, where it fails.
struct TestDatabase {
    QString host;
    int port = 0;
    QString user;
    QString password;
};
std::optional<TestDatabase> testDatabase();

}  // namespace veldra::test

// Skips the test when no test database is configured (fails when CI=true).
#define VELDRA_REQUIRE_DATABASE(var)                                                        \
    auto var##_opt = ::veldra::test::testDatabase();                                        \
    if (!var##_opt) {                                                                       \
        if (qEnvironmentVariable("CI") == QLatin1String("true"))                            \
            FAIL() << "CI=true and no test database (VELDRA_TEST_DB_* not set)";             \
        GTEST_SKIP() << "no test database: run scripts/test";                               \
    }                                                                                       \
    const ::veldra::test::TestDatabase& var = *var##_opt
