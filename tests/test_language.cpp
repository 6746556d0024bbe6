// The operator's language: German from the catalogue on the panel, in status texts (fixed,
// formatted and built ones), dialogs and Qt's own buttons, English again without it, the panel's
// choice for the next start; texts translated from several threads at once; and files that read
// the same under a German locale as under C.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "platform/language.h"
#include "platform/qtaccess.h"
#include "platform/report.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "program_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string readFile(const QString &path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A file's lines with every run of digits as 9: what stays when only the measured data differ.
std::string shape(const std::string &text) {
    return QString::fromStdString(text).replace(QRegularExpression("[0-9]+"), "9").toStdString();
}

std::string firstLine(const std::string &text) {
    return text.substr(0, text.find('\n'));
}

QWidget *visibleWindow(const char *objectName) {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible())
            return w;
    return nullptr;
}

void saveScreenshot(QWidget *widget, const char *name) {
    if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR"))
        widget->grab().save(QString("%1/%2.png").arg(folder, name));
}

class LanguageTest : public CountingProgramTest {
  protected:
    void TearDown() override {
        CountingProgramTest::TearDown();
        kvexplatform::useLanguage("en", false);
    }

    QString text(const char *objectName) const {
        QWidget *w = find(objectName);
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            return button->text();
        if (auto *label = qobject_cast<QLabel *>(w))
            return label->text();
        return w ? w->toolTip() : QString();
    }
};

TEST_F(LanguageTest, GermanOnThePanelInStatusTextsDialogsAndQtsOwnButtons) {
    ASSERT_EQ(kvexplatform::useLanguage("de", false), "de");
    kvexsim::SensorSim &sensor = connect();
    EXPECT_EQ(text("ButtonTeach"), "&Einlernen");
    EXPECT_EQ(text("labelMeasValueA"), "Messwert");
    EXPECT_EQ(find("BTNRun")->toolTip(),
              "Messbetrieb starten: laufende Messung mit Balkendiagramm und Linienschreiber");
    EXPECT_EQ(find<QComboBox>("RINGEMode")->itemText(0), "0 - linke Kante");
    EXPECT_EQ(QMessageBox(QMessageBox::Question, "", "", QMessageBox::Cancel)
                  .button(QMessageBox::Cancel)
                  ->text(),
              "Abbrechen");

    struct Case {
        const char *name;
        std::function<void()> act;
        const char *german;
        const char *english;
    };
    const QString shortFile = dir.filePath("short.dat");
    std::ofstream(shortFile.toStdString()) << "1\n2\n3\n";
    const Case cases[] = {
        {"a fixed status text", [&] { click("BTNGet"); },
         "Parametertelegramm empfangen! - Leitung OK!", "Parameter-frame received! - Line Ok!"},
        {"a printf format",
         [&] {
             answerFileDialog(shortFile);
             click("RBTFile");
             click("BTNGet");
             click("RBTRam");
         },
         "Parameterdatei short.dat enthält weniger als 16 Zahlen!",
         "Parameter file short.dat holds fewer than 16 numbers!"},
        {"a text built from parts",
         [&] {
             sensor.setFault(2, {kvexsim::FaultKind::WrongSync, 1, 0.0, 1});
             click("BTNGet");
         },
         "Fehlerhaftes Parametertelegramm: falsches Sync-Wort!",
         "Bad parameter-frame: wrong sync word!"},
    };
    for (const char *language : {"de", "en"}) {
        kvexplatform::useLanguage(language, false);
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(language) + ": " + c.name);
            c.act();
            EXPECT_EQ(status(),
                      QString::fromUtf8(language == std::string("de") ? c.german : c.english));
        }
    }

    kvexplatform::useLanguage("de", false);
    // Fractions the German way on the panel; raw words stay plain integers.
    runCycles("BTNRun", 5);
    EXPECT_TRUE(
        QRegularExpression("^\\d+,\\d\\d \\(\\d+,\\d µm\\)$").match(text("STATMean")).hasMatch())
        << text("STATMean").toStdString();
    EXPECT_TRUE(find<QDoubleSpinBox>("NUMMeasMicrons")->text().contains(','));
    EXPECT_EQ(find<QSpinBox>("NEDITEdgeRight")->text(), "1024");

    // The report's headings and labels in German; its figures as the panel shows them.
    const QString report = dir.filePath("report.pdf");
    kvexplatform::setReportSetupHook([&](ReportRequest &request) {
        request.path = report.toStdString();
        return true;
    });
    click("BTNReport");
    kvexplatform::setReportSetupHook({});
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", report, "-"});
    ASSERT_TRUE(pdftotext.waitForFinished(20000));
    const QString page = QString::fromUtf8(pdftotext.readAllStandardOutput());
    for (const char *words : {"K-VEX-RTN Inbetriebnahmeprotokoll", "Sensor und Verbindung",
                              "Statistik des letzten Laufs", "Parametersatz", "Sollwert",
                              "Standardabweichung", "Linienschreiber des letzten Laufs"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(words))) << words;
    EXPECT_TRUE(page.contains(text("STATMean"))) << page.toStdString();

    QString question;
    whenever([] { return visibleWindow("ConfirmPopup") != nullptr; },
             [&] {
                 auto *box = static_cast<QMessageBox *>(visibleWindow("ConfirmPopup"));
                 question = box->windowTitle() + "|" + box->text() + "|" +
                            box->button(QMessageBox::Cancel)->text();
                 saveScreenshot(box, "confirm-eeprom-de");
                 box->button(QMessageBox::Cancel)->click();
             });
    enterValue("NEDITTolerance", 150);
    click("RBTEeprom");
    click("BTNSend");
    EXPECT_TRUE(question.startsWith("Ins EEPROM schreiben|Diese Wörter im EEPROM des Sensors "
                                    "ändern sich dauerhaft:"))
        << question.toStdString();
    EXPECT_TRUE(question.contains("Toleranz (Wort 9): 100 -> 150")) << question.toStdString();
    EXPECT_TRUE(question.endsWith("|Abbrechen")) << question.toStdString();
    EXPECT_EQ(status(), "Schreiben ins EEPROM abgebrochen.");

    QString summary;
    whenever([] { return visibleWindow("CompareView") != nullptr; },
             [&] {
                 QWidget *view = visibleWindow("CompareView");
                 summary = view->windowTitle() + "|" +
                           view->findChild<QLabel *>("compareSummary")->text();
                 saveScreenshot(view, "compare-de");
                 static_cast<QDialog *>(view)->reject();
             });
    click("BTNCompare");
    EXPECT_EQ(summary, "Parametersätze vergleichen|1 von 16 Wörtern weichen ab.");
}

TEST_F(LanguageTest, ThePanelsChoiceHoldsFromTheNextStartAndTheOptionBeatsIt) {
    const std::string system = kvexplatform::useLanguage("", false);
    const struct {
        int item;
        const char *stored;
        const char *next;
    } cases[] = {{1, "de", "de"}, {2, "en", "en"}, {0, "", system.c_str()}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        connect();
        auto *choice = find<QComboBox>("RINGLanguage");
        choice->setCurrentIndex(c.item);
        emit choice->activated(c.item);
        EXPECT_EQ(kvexplatform::storedLanguage(), c.stored);
        EXPECT_EQ(status(), "The language changes at the next start of the program.");
        EXPECT_EQ(kvexplatform::currentLanguage(), system);
        stopProgram();
        EXPECT_EQ(kvexplatform::useLanguage("", true), c.next);
        EXPECT_EQ(kvexplatform::useLanguage("en", true), "en");
        kvexplatform::useLanguage(system, false);
        connect();
        EXPECT_EQ(find<QComboBox>("RINGLanguage")->currentIndex(), c.item);
        TearDown();
        SetUp();
    }
}

TEST_F(LanguageTest, ThePortCheckWindowSpeaksGerman) {
    ASSERT_EQ(kvexplatform::useLanguage("de", false), "de");
    connect();
    bindPortDevice(1, "/dev/ttyUSB9");
    click("BTNCheckPort");
    auto *view = find<QPlainTextEdit>("TEXTPortCheck");
    ASSERT_TRUE(view && view->window()->isVisible());
    const QString report = view->toPlainText();
    EXPECT_TRUE(report.contains("\nFAIL  device         Gerät /dev/ttyUSB9 gibt es nicht\n"
                                "                     Abhilfe: den Adapter anstecken"))
        << report.toStdString();
    EXPECT_EQ(view->window()->windowTitle(), "K-VEX-RTN Portprüfung: Port 1 (/dev/ttyUSB9)");
    saveScreenshot(view->window(), "port-check-de");
}

// The gateway translates on its polling thread and its web thread at once, each text's first use
// filling the cache, while a test (or the panel) may switch the language; scripts/test-tsan.sh
// runs this under ThreadSanitizer, which sees any access the cache's lock misses.
TEST(TranslationCacheTest, ThreadsTranslateAtOnceWhileTheLanguageChanges) {
    ASSERT_EQ(kvexplatform::useLanguage("de", false), "de");
    const struct {
        const char *english, *german;
    } known[] = {{"off", "aus"},
                 {"on", "ein"},
                 {"no system bus here", "kein Systembus vorhanden"},
                 {"ModemManager is not running", "ModemManager läuft nicht"}};
    constexpr int threads = 4;
    constexpr int texts = 300;
    // Texts the catalogue lacks, each new to the cache, so the threads insert while others look up.
    std::vector<std::string> untranslated;
    for (int i = 0; i < texts; ++i)
        untranslated.push_back("a text without German, number " + std::to_string(i));
    std::vector<std::vector<const char *>> handedOut(threads, std::vector<const char *>(texts));
    std::atomic<int> wrong{0};
    std::atomic<bool> switching{true};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int round = 0; switching || round < 2; ++round)
                for (int i = 0; i < texts; ++i) {
                    const auto &k = known[(i + t) % std::size(known)];
                    const std::string shown = kvex::trNow(k.english);
                    if (shown != k.german && shown != k.english)
                        ++wrong;
                    handedOut[t][i] = kvex::trNow(untranslated[i].c_str());
                    if (untranslated[i] != handedOut[t][i])
                        ++wrong;
                }
        });
    for (int i = 0; i < 10; ++i)
        kvexplatform::useLanguage(i % 2 ? "de" : "en", false);
    switching = false;
    for (std::thread &worker : workers)
        worker.join();

    EXPECT_EQ(wrong, 0);
    EXPECT_STREQ(kvex::trNow(known[0].english), known[0].german);
    // Every text handed out still reads as it did: the cache never moves or drops an entry.
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < texts; ++i)
            ASSERT_EQ(handedOut[t][i], untranslated[i]) << t << " " << i;
    kvexplatform::useLanguage("en", false);
}

// The files other programs read: a parameter file, a CSV export of the video line and a run
// recording, written once under a German locale (decimal comma) and once under C.
TEST_F(LanguageTest, FilesReadTheSameUnderAGermanLocaleAsUnderC) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    struct Written {
        std::string parameters, line, recording;
    };
    std::vector<Written> written;
    for (const char *locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        // What the application object does with LC_ALL set so, before the program starts.
        ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr) << "needs the locale (locales-all)";
        kvexplatform::useLanguage(locale == std::string("C") ? "en" : "de", false);
        connect();
        const QString folder = dir.filePath(locale);
        ASSERT_TRUE(QDir().mkpath(folder));
        answerFileDialog(folder + "/params.dat");
        click("RBTFile");
        click("BTNSend");
        click("RBTRam");
        runCycles("BTNVideo", 2);
        answerFileDialog(folder + "/line.csv");
        click("BTNExportLine");
        answerFileDialog(folder + "/run.csv");
        click("BTNRecord");
        runCycles("BTNRun", 20);
        written.push_back({readFile(folder + "/params.dat"), readFile(folder + "/line.csv"),
                           readFile(folder + "/run.csv")});
        TearDown();
        SetUp();
    }
    std::setlocale(LC_ALL, before.c_str());
    ASSERT_EQ(written.size(), 2u);
    ASSERT_FALSE(written[0].parameters.empty());
    EXPECT_EQ(written[1].parameters, written[0].parameters);
    EXPECT_EQ(firstLine(written[1].line), firstLine(written[0].line));
    EXPECT_EQ(shape(written[1].line), shape(written[0].line));
    // Times and measured values move; header, separators and number formats must not.
    ASSERT_NE(written[0].recording.find("9"), std::string::npos);
    EXPECT_EQ(firstLine(written[1].recording), firstLine(written[0].recording));
    const std::string row0 =
        shape(written[0].recording.substr(written[0].recording.find('\n') + 1));
    const std::string row1 =
        shape(written[1].recording.substr(written[1].recording.find('\n') + 1));
    EXPECT_EQ(firstLine(row1), firstLine(row0));
    EXPECT_NE(firstLine(row0).find("9.9"), std::string::npos) << "no fraction written";
}

} // namespace
