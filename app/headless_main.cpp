#include <QCoreApplication>

#include "common/mainthread.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    veldra::mainthread::install();
    return 0;
}
