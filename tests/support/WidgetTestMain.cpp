// main() for test binaries that create widgets. The offscreen platform is chosen here, not in
// ctest's environment, because test discovery runs the binary at build time without it.
#include "Application.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    InitializeToolkit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
