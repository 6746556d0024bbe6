// The production program: the application object, its options and the entry point.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/recording/windowmodel.h"
#include "platform/language.h"
#include "platform/rs232.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// True when the options ask only for the help or the version text, which need no screen.
bool asksOnlyForText(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char *argv[]) {
    // The widgets application aborts where there is no display (a shell over ssh): the help and
    // the version are answered without it.
    const std::unique_ptr<QCoreApplication> application =
        asksOnlyForText(argc, argv) ? std::make_unique<QCoreApplication>(argc, argv)
                                    : std::make_unique<QApplication>(argc, argv);
    // The language comes first: the help text is in it.
    std::string language;
    if (!kvexplatform::languageOption(argc, argv, language)) {
        std::fprintf(stderr, "kvex-rtn: --lang takes de or en, not \"%s\"\n", language.c_str());
        return 2;
    }
    kvexplatform::useLanguage(language, true);
    QCoreApplication::setApplicationVersion(KVEX_VERSION);
    QCommandLineParser options;
    options.setApplicationDescription(
        QCoreApplication::translate("kvex", "Set-up and monitoring of K-VEX-RTN line sensors."));
    options.addHelpOption();
    options.addVersionOption();
    options.addOption(
        {"port",
         QCoreApplication::translate("kvex", "Open the serial device PATH instead of port 1."),
         QCoreApplication::translate("kvex", "PATH")});
    options.addOption({"lang",
                       QCoreApplication::translate(
                           "kvex", "Speak LANGUAGE: de (German) or en (English). Without it, the "
                                   "language chosen on the panel, else the system's."),
                       QCoreApplication::translate("kvex", "LANGUAGE")});
    options.addOption(
        {"open",
         QCoreApplication::translate(
             "kvex", "Show the recording FILE (or a folder of recordings) in a window of its own."),
         QCoreApplication::translate("kvex", "FILE")});
    options.process(*application);
    if (options.isSet("open"))
        setRecordingToOpenAtStart(options.value("open").toStdString());
    // The program opens port 1 at start; the device given stands behind it.
    if (options.isSet("port"))
        bindPortDevice(1, options.value("port").toStdString(), "--port");
    return WinMain();
}
