// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real window on a display (scripts/screenshots runs it under Xvfb): presses
// START, sends a few requests, and writes a picture of every page and settings tab.
//   veldra-screenshots PROGRAM_FOLDER OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <future>

#include "common/files.h"
#include "common/mainthread.h"
#include "console/cachepage.h"
#include "console/clientaccesspage.h"
#include "console/queryeditortab.h"
#include "console/mainwindow.h"

using namespace veldra;

namespace {

// Messages go to stderr instead of dialogs, so nothing waits for a click.
class PrintingOperator : public OperatorUi {
public:
    void showMessage(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    void showError(const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    bool askYesNo(const QString& question) override
    {
        std::fprintf(stderr, "question (answered No): %s\n", qPrintable(question));
        return false;
    }
    QString chooseFolder(const QString&) override { return {}; }
    void openWithItsProgram(const QString&) override {}
};

QByteArray request(quint16 port, const QByteArray& line)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForConnected(5000)) return {};
    s.write(line + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
    s.waitForBytesWritten(5000);
    QByteArray answer;
    while (s.waitForReadyRead(10000)) answer += s.readAll();
    return answer;
}

// Lets the window work for `ms` milliseconds.
void settle(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    mainthread::serveUntil([&] { return std::chrono::steady_clock::now() >= end; });
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: veldra-screenshots PROGRAM_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    mainthread::install();
    setProgramFolder(QString::fromLocal8Bit(argv[1]));

    PrintingOperator ui;
    TForm1 window;
    window.setOperatorUi(ui);
    window.show();
    if (QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    settle(500);

    auto shoot = [&](const QString& name) {
        settle(300);
        const QString path = out + u'/' + name + QStringLiteral(".png");
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        std::printf("%s\n", qPrintable(path));
    };

    window.startStopButton()->click();
    if (!window.control().running()) {
        std::fprintf(stderr, "START failed\n");
        return 1;
    }
    const quint16 port = window.control().listeningPort();
    auto sent = std::async(std::launch::async, [port] {
        for (const char* line : {"GET /sales?format=json", "GET /sales?format=json", "GET /sales?year=2021&format=xml",
                                 "GET /customers?name=o&format=csv[,]", "GET /nosales?format=json", "GET /unknown"})
            request(port, line);
    });
    mainthread::serveUntil([&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    settle(5500);  // the counts within a second, the memory line within five
    shoot(QStringLiteral("1-status-page"));

    window.showPage(QStringLiteral("SERVERSETTINGS"));
    const char* tabs[] = {"2-settings-main", "3-settings-connect"};
    for (int i = 0; i < 2; ++i) {
        window.settingsTabs()->setCurrentIndex(i);
        shoot(QString::fromLatin1(tabs[i]));
    }
    // the editor with a function loaded: its main data, then its SQL
    window.settingsTabs()->setCurrentIndex(2);
    auto* editor = window.findChild<QueryEditorTab*>();
    if (!editor) {
        std::fprintf(stderr, "no REQUESTS tab\n");
        return 1;
    }
    editor->updateListButton()->click();
    if (editor->functionList()->count() > 0) {
        const auto found = editor->functionList()->findItems(QStringLiteral("sales"), Qt::MatchExactly);
        editor->functionList()->setCurrentItem(found.isEmpty() ? editor->functionList()->item(0) : found.first());
    }
    const char* editorTabs[] = {"4-settings-requests-main-data", "5-settings-requests-query", "6-settings-requests-last-query"};
    for (int i = 0; i < 3; ++i) {
        editor->tabs()->setCurrentIndex(i);
        shoot(QString::fromLatin1(editorTabs[i]));
    }
    editor->tabs()->setCurrentIndex(0);

    window.showPage(QStringLiteral("CLIENTACCESS"));
    auto* clients = window.findChild<ClientAccessPage*>();
    if (!clients) {
        std::fprintf(stderr, "no CLIENTACCESS page\n");
        return 1;
    }
    clients->loadButton()->click();
    const char* clientTabs[] = {"7-client-access-white", "8-client-access-black"};
    for (int i = 0; i < 2; ++i) {
        clients->tabs()->setCurrentIndex(i);
        shoot(QString::fromLatin1(clientTabs[i]));
    }
    window.showPage(QStringLiteral("CACHESETTINGS"));
    window.cachePage()->updateListButton()->click();
    if (window.cachePage()->functionList()->count() > 0) window.cachePage()->functionList()->setCurrentRow(0);
    shoot(QStringLiteral("9-cache-page"));

    window.startStopButton()->click();
    settle(200);
    window.showPage(QStringLiteral("STATUSPAGE"));
    shoot(QStringLiteral("10-status-page-stopped"));
    return window.control().running() ? 1 : 0;
}
