#include "platform/Translations.h"

#include <QApplication>

#include <gtest/gtest.h>

// One QApplication for the window tests, on the offscreen platform, with the Japanese catalogue installed as the
// window program installs it.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QCoreApplication::installTranslator(&kavelo::platform::japaneseCatalogue());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
