// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QScreen>
#include <csignal>

#include "common/mainthread.h"
#include "common/process.h"
#include "console/mainwindow.h"

int main(int argc, char** argv)
{
    veldra::prepareServerProcess();
    QApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    veldra::mainthread::install();
    veldra::TForm1 window;
    window.show();
    if (QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    return app.exec();
}
