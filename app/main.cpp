// The production program: the application object, its options and the entry point.
#include "app/K-VEX-RTN-RedozU15.h"
#include "platform/rs232.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(KVEX_VERSION);
    QCommandLineParser options;
    options.setApplicationDescription("Set-up and monitoring of K-VEX-RTN line sensors.");
    options.addHelpOption();
    options.addVersionOption();
    options.addOption({"port", "Open the serial device PATH instead of port 1.", "PATH"});
    options.process(application);
    // The program opens port 1 at start; the device given stands behind it.
    if (options.isSet("port"))
        bindPortDevice(1, options.value("port").toStdString(), "--port");
    return WinMain();
}
