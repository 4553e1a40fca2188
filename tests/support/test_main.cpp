// SPDX-License-Identifier: GPL-3.0-or-later
// The main() of every test program: a QCoreApplication, so that hand-overs to the main
// thread work, then GoogleTest.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "common/mainthread.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    veldra::mainthread::install();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
