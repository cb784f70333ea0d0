// Test entry: one QApplication for the whole run, on the offscreen platform unless another
// was asked for, so widget tests build real windows without a display.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test reaches the machine's own CUPS: a print goes to a port where nothing listens,
    // unless a test points CUPS_SERVER at a private cupsd of its own.
    qputenv("CUPS_SERVER", "127.0.0.1:9");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
