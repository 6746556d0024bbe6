// Test entry: one headless application object for the whole test executable.
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Settings the program keeps (the panel's language choice) stay out of the user's own.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    // Windows fit the screen they open on, so the tests give them a desktop's, not the offscreen
    // platform's 800 x 600; a test that wants another screen sets its own configuration.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        QFile screen(settings.filePath("screen.json"));
        if (screen.open(QIODevice::WriteOnly)) {
            screen.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1920,
                             "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96}]})");
            screen.close();
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName().toLocal8Bit());
        }
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
