#include <QApplication>
#include <QMainWindow>

#include "common/mainthread.h"
#include "version.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    veldra::mainthread::install();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Veldra " VELDRA_VERSION));
    window.resize(1000, 700);
    window.show();
    return app.exec();
}
