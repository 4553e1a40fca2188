// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include "common/mainthread.h"
#include "server/failurereporter.h"
#include "server/requestparser.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

QString decodeFailure(const QByteArray& item)
{
    try {
        PercentDecode(item);
    } catch (const DecodeError& e) {
        return e.message();
    }
    return QString();
}

void fromWorker(const std::function<void()>& fn) { std::thread(fn).join(); }

}  // namespace

TEST(FailureReporter, KindsLeaveOutWhatAClientChooses)
{
    const QString kind = FailureReporter::kindOf(decodeFailure("x=%G1"));
    EXPECT_EQ(kind, QStringLiteral("Invalid URL encoded character (…) at position #"));
    EXPECT_EQ(FailureReporter::kindOf(decodeFailure("aaaaaaaaaaaaaaaaaaaa=%zz")), kind);
    EXPECT_EQ(FailureReporter::kindOf(decodeFailure("x=%\"1")), kind);
    EXPECT_NE(FailureReporter::kindOf(decodeFailure("x=5%")), kind);
    EXPECT_EQ(FailureReporter::kindOf(QStringLiteral("Cannot open file \"/q/a.qr\": Permission denied")),
              FailureReporter::kindOf(QStringLiteral("Cannot open file \"/q/other(1).qr\": Permission denied")));
    EXPECT_NE(FailureReporter::kindOf(QStringLiteral("Cannot open file \"/q/a.qr\": Permission denied")),
              FailureReporter::kindOf(QStringLiteral("Cannot open file \"/q/a.qr\": No such file or directory")));
    EXPECT_EQ(FailureReporter::kindOf(QStringLiteral("Socket is closed")), QStringLiteral("Socket is closed"));
    EXPECT_EQ(FailureReporter::kindOf(QStringLiteral("unclosed (bracket 12")), QStringLiteral("unclosed (bracket #"));
}

TEST(FailureReporter, OneBoxCountsWhatArrivesWhileItIsOpen)
{
    ScriptedOperator ui;
    ui.keepFailureBoxOpen = true;
    FailureReporter reporter(ui);
    fromWorker([&] {
        reporter.report(decodeFailure("x=%G1"));
        reporter.report(decodeFailure("yy=%G2"));
        reporter.report(QStringLiteral("Socket is closed"));
    });
    mainthread::servePending();
    EXPECT_EQ(ui.failureBoxesOpened, 1);
    EXPECT_EQ(ui.failureBox, QStringLiteral("Invalid URL encoded character (%G1) at position 3\r(2 failures of this "
                                            "kind)\r\rSocket is closed"));

    // More kinds than a box lists: the rest are counted together.
    fromWorker([&] {
        for (int i = 0; i < 20; ++i) reporter.report(QStringLiteral("kind %1 a").arg(QChar(u'a' + i)));
    });
    mainthread::servePending();
    EXPECT_EQ(ui.failureBoxesOpened, 1);
    EXPECT_EQ(ui.failureBox.count(QStringLiteral("\r\r")), FailureReporter::kMaxKinds);
    EXPECT_TRUE(ui.failureBox.endsWith(QStringLiteral("\r\r(14 failures of other kinds)"))) << ui.failureBox.toStdString();
    EXPECT_TRUE(ui.errors.isEmpty());

    // Closed, the counts start afresh in a new box.
    ui.closeFailureBox();
    fromWorker([&] { reporter.report(QStringLiteral("Socket is closed")); });
    mainthread::servePending();
    EXPECT_EQ(ui.failureBoxesOpened, 2);
    EXPECT_EQ(ui.failureBox, QStringLiteral("Socket is closed"));

    // What arrives after the box was brought up to date and before it was closed is not
    // lost: it opens the next box.
    fromWorker([&] { reporter.report(QStringLiteral("late")); });
    ui.closeFailureBox();
    mainthread::servePending();
    EXPECT_EQ(ui.failureBoxesOpened, 3);
    EXPECT_EQ(ui.failureBox, QStringLiteral("late"));
    ui.closeFailureBox();
    mainthread::servePending();
    EXPECT_EQ(ui.failureBoxesOpened, 3);
}

TEST(FailureReporter, ABoxThatWaitsCountsInsteadOfOpeningAnother)
{
    // The operator's box runs its own event loop, which serves hand-overs.
    struct ModalOperator : ScriptedOperator {
        std::function<void()> whileShown;
        void showError(const QString& text) override
        {
            ScriptedOperator::showError(text);
            if (whileShown) std::exchange(whileShown, nullptr)();
        }
    } ui;
    FailureReporter reporter(ui);
    ui.whileShown = [&] {
        fromWorker([&] {
            reporter.report(QStringLiteral("a"));
            reporter.report(QStringLiteral("b"));
        });
        mainthread::servePending();
    };
    reporter.report(QStringLiteral("a"));
    mainthread::servePending();
    mainthread::servePending();
    EXPECT_EQ(ui.errors, QStringList({"a"}));
    reporter.report(QStringLiteral("a"));
    mainthread::servePending();
    EXPECT_EQ(ui.errors, QStringList({"a", "a"}));
}

TEST(FailureReporter, AReporterGoneBeforeItsHandOverLeavesNoBox)
{
    ScriptedOperator ui;
    {
        FailureReporter reporter(ui);
        fromWorker([&] { reporter.report(QStringLiteral("a")); });
    }
    mainthread::servePending();
    EXPECT_TRUE(ui.errors.isEmpty());
}
