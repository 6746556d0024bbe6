// Start-up, identification, the connection sequence, port change and closing, on the real panel
// against simulated sensors.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "platform/widgets/graphwidgets.h"
#include "platform/qtaccess.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "program_fixture.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <cstdlib>

namespace {

// Saves the panel as a PNG when KVEX_SCREENSHOT_DIR names a folder.
void saveScreenshot(QWidget *panel, const char *name) {
    const char *folder = std::getenv("KVEX_SCREENSHOT_DIR");
    if (folder && panel)
        panel->grab().save(QString("%1/%2.png").arg(folder, name));
}

QStringList headerTexts(QWidget *panel) {
    QStringList texts;
    for (QLabel *label : panel->findChildren<QLabel *>())
        if (label->property("kvexFreeLabel").toBool())
            texts << QString("%1@%2,%3").arg(label->text()).arg(label->x()).arg(label->y());
    return texts;
}

using StartupTest = ProgramTest;

TEST_F(StartupTest, ConnectionSequenceOnTheStandardSensor) {
    kvexsim::SensorSim &sensor = startSensor("standard");
    kvexsim::Words ram = kvexsim::defaultParameterSet();
    ram[0] = 750;   // power
    ram[2] = 300;   // threshold
    ram[12] = 4242; // a word with no control
    sensor.setRam(ram);
    ASSERT_TRUE(startProgram());
    saveScreenshot(mainPanel(), "connected-idle");

    EXPECT_EQ(commands(), (std::vector<int>{5, 10, 2, 7}));
    const auto requests = sensor.requests();
    ASSERT_EQ(requests.size(), 4u);
    // Each step waits 0.1 s after the previous answer; a request and its answer take 37.5 ms.
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_GE(requests[i].time - requests[i - 1].time, 0.1 + 0.03) << i;
    // The hardware request carries the echo's answer, sync word 0xAA in data word 0.
    EXPECT_EQ(requests[1].word(0), 0x00AA);

    EXPECT_EQ(status().trimmed(), "KVEX-RTN FW 2.20 standard");
    EXPECT_EQ(spinValue("NUMPower"), 750);
    EXPECT_EQ(spinValue("NUMVideoThreshold"), 300);
    EXPECT_EQ(para12, 4242);
    EXPECT_TRUE(mainPanel()->isVisible());
    // The name Wayland finds the window's icon by: the desktop entry the package installs.
    EXPECT_EQ(QGuiApplication::desktopFileName(), KVEX_APP_ID);
    EXPECT_EQ(ccdsubpixel, 1024);
    EXPECT_DOUBLE_EQ(graph("GRAPHVideo")->xAxis->range().upper, 1024.0);
    EXPECT_DOUBLE_EQ(xArray8[255], 255.0 * 4);
}

TEST_F(StartupTest, SilentSensorShowsThePanelWithTheStartValuesAfterTheTimeout) {
    kvexsim::SensorSim &sensor = startSensor("standard");
    sensor.setFault(5, {kvexsim::FaultKind::Silence, 1, 0.0, -1});
    const double start = Timer();
    ASSERT_TRUE(startProgram());
    const double took = Timer() - start;
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 3.0);
    EXPECT_EQ(status(), "Timeout-RS-232...");
    EXPECT_EQ(commands(), (std::vector<int>{5}));
    EXPECT_EQ(spinValue("NUMPower"), 500);
    EXPECT_EQ(spinValue("NEDITEdgeRight"), 1024);
    saveScreenshot(mainPanel(), "no-sensor");
}

// The first error of the sequence stays on the status line after the sequence went on.
struct StartupFaultRow {
    const char *name;
    int command;
    kvexsim::FaultKind fault;
    const char *status;
};

const StartupFaultRow startupFaultRows[] = {
    {"HardwareSilent", 10, kvexsim::FaultKind::Silence, "Error reading HARDWARE-info!"},
    {"HardwareWrongSync", 10, kvexsim::FaultKind::WrongSync, "Error reading HARDWARE-info!"},
    {"HardwareWrongCode", 10, kvexsim::FaultKind::WrongCommand, "Error reading HARDWARE-info!"},
    {"ParametersSilent", 2, kvexsim::FaultKind::Silence, "Timeout-RS-232..."},
    {"ParametersWrongSync", 2, kvexsim::FaultKind::WrongSync,
     "Bad parameter-frame: wrong sync word!"},
    {"ParametersWrongCode", 2, kvexsim::FaultKind::WrongCommand,
     "Bad parameter-frame: wrong answer code!"},
    {"FirmwareShort", 7, kvexsim::FaultKind::Short, "Error reading firmware-info!"},
};

class StartupFaultTest : public StartupTest,
                         public ::testing::WithParamInterface<StartupFaultRow> {};

TEST_P(StartupFaultTest, FirstErrorStaysVisibleAndTheSequenceGoesOn) {
    const StartupFaultRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor("standard");
    sensor.setFault(row.command, {row.fault, 1});
    // A later step failing as well does not replace the first error.
    if (row.command != 7)
        sensor.setFault(7, {kvexsim::FaultKind::Short, 1});
    ASSERT_TRUE(startProgram());
    EXPECT_EQ(commands(), (std::vector<int>{5, 10, 2, 7}));
    EXPECT_EQ(status(), row.status);
    if (row.command == 10) {
        EXPECT_EQ(YAXISMAX, 1024);
        EXPECT_EQ(ccdsubpixel, 0);
    }
    if (row.command == 2) {
        EXPECT_EQ(spinValue("NUMPower"), 500);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, StartupFaultTest, ::testing::ValuesIn(startupFaultRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(StartupTest, PortChangeConnectsToAnotherSensor) {
    startSensor("standard", 1);
    kvexsim::SensorSim &other = startSensor("type102-230", 2);
    ASSERT_TRUE(startProgram());
    auto *ports = find<QComboBox>("DropDCom");
    ASSERT_NE(ports, nullptr);
    const int index = ports->findData(2);
    ASSERT_GE(index, 0);
    ports->setCurrentIndex(index);
    emit ports->activated(index);
    EXPECT_EQ(com, 2);
    EXPECT_EQ(status(), "KVEX-RTN FW 2.30 type 102, board 400");
    std::vector<int> codes;
    for (const auto &request : other.requests())
        codes.push_back(request.command());
    EXPECT_EQ(codes, (std::vector<int>{5, 10, 2, 7}));
    EXPECT_EQ(ccdtype, 102);
    EXPECT_FALSE(find<QComboBox>("SWITCHOpMode")->isEnabled());
}

TEST_F(StartupTest, ClosingTheWindowStopsAndClosesThePort) {
    startSensor("standard");
    ASSERT_TRUE(startProgram());
    stop_flag = 0;
    mainPanel()->close();
    EXPECT_EQ(stop_flag, 1);
    EXPECT_TRUE(mainPanel()->isVisible()); // the callback decides, the window stays until discarded
    EXPECT_EQ(GetInQLen(com), kComPortNotOpen);
}

TEST_F(StartupTest, PopupFollowsItsToggleAndClosingItResetsTheToggle) {
    startSensor("unknown-type");
    ASSERT_TRUE(startProgram());
    QWidget *popup = kvexplatform::panelWidget(pPopup);
    ASSERT_NE(popup, nullptr);
    EXPECT_FALSE(popup->isVisible());
    click("TOGGBTN_ParaII");
    EXPECT_TRUE(popup->isVisible());
    auto *box = popup->findChild<QPlainTextEdit *>("TEXTBOXHardware");
    EXPECT_EQ(box->toPlainText().split('\n').value(0), "CCD-SENSOR: no information avialable!");
    saveScreenshot(popup, "popup");
    popup->close();
    EXPECT_FALSE(popup->isVisible());
    EXPECT_FALSE(find<QPushButton>("TOGGBTN_ParaII")->isChecked());
}

TEST_F(StartupTest, HeaderOfTheProgramsBrand) {
    startSensor("standard");
    ASSERT_TRUE(startProgram());
    auto *header = find<QFrame>("DECOHeader");
    EXPECT_EQ(header->palette().color(QPalette::Window), QColor(0x00, 0x80, 0xFF));
    auto *logo = find<QLabel>("PICTLogo");
    EXPECT_EQ(logo->pos(), QPoint(300, 10));
    EXPECT_FALSE(logo->pixmap().isNull());
    const QStringList texts = headerTexts(mainPanel());
    EXPECT_TRUE(texts.contains("K-VEX-RTN-Rodaz@300,35")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("V.1.5@460,40"));
    EXPECT_TRUE(texts.contains("KVEX Sensor Systems@15,10"));
    EXPECT_EQ(texts.size(), 5);
}

// The sensor-type and board-type rows: what each sensor makes of the panel.
struct IdentificationRow {
    const char *profile;
    const char *onText; // SWITCHOpMode's texts, nullptr: left as the panel file has them
    unsigned short pixB, pixE, yAxisMax;
    bool opModeDimmed, pModeDimmed, anaDimmed, micronsVisible;
    const char *line0; // TEXTBOXHardware line 0, nullptr: unchanged
};

const IdentificationRow identificationRows[] = {
    {"standard", "HI-GAIN", 1, 1024, 1024, false, false, false, true, "CCD-SENSOR:"},
    {"type1-fw1001", "HI-GAIN", 1, 8192, 1024, false, true, false, false, "CCD-SENSOR:"},
    {"type2-750", "HI-GAIN", 1, 1024, 1024, false, false, false, true, "CCD-SENSOR:"},
    {"type2-350", "HI-GAIN", 1, 1024, 256, false, false, false, true, "CCD-SENSOR:"},
    {"type2-350-fw230", "HI-GAIN", 1, 1024, 1024, false, false, false, true, "CCD-SENSOR:"},
    {"type2-other", nullptr, 1, 1024, 1024, false, false, false, true, "CCD-SENSOR:"},
    {"type3", "HI-GAIN", 1, 512, 1024, false, false, false, true, "CCD-SENSOR:"},
    {"type4", nullptr, 1, 512, 1024, false, false, false, true, "CCD-SENSOR:"},
    {"type101", "ADC-CNV", 1, 256, 1024, false, true, true, true, "CCD-SENSOR:"},
    {"type102-220", "ADC-CNV", 1, 768, 1024, false, true, true, true, "CCD-SENSOR:"},
    {"type102-230", nullptr, 1, 768, 256, true, true, true, true, "CCD-SENSOR:"},
    {"type102-221", nullptr, 1, 768, 256, false, true, true, true, "CCD-SENSOR:"},
    {"type103", "ADC-CNV", 1, 9440, 256, false, false, false, true,
     "CCD-SENSOR:1180 pixel; 63.5\xC2\xB5m pixel-pitch;"},
    {"type104", "ADC-CNV", 1, 1536, 1024, false, true, true, true,
     "CCD-SENSOR:1536 pixel; 63.5\xC2\xB5m pixel-pitch;"},
    {"unknown-type", "ADC-CNV", 1, 1024, 1024, false, false, false, true,
     "CCD-SENSOR: no information avialable!"},
};

class IdentificationTest : public ProgramTest,
                           public ::testing::WithParamInterface<IdentificationRow> {};

TEST_P(IdentificationTest, PanelFitsTheSensor) {
    const IdentificationRow &row = GetParam();
    startSensor(row.profile);
    ASSERT_TRUE(startProgram());
    const kvexsim::SensorProfile &profile = *kvexsim::findProfile(row.profile);
    // Board type 0 sends 36 characters, padded with blanks.
    const QString firmware = QString::fromStdString(profile.firmwareText);
    EXPECT_EQ(status(), profile.pcbtype == 0 ? firmware.leftJustified(36, ' ') : firmware);
    EXPECT_EQ(pixB, row.pixB);
    EXPECT_EQ(pixE, row.pixE);
    EXPECT_EQ(YAXISMAX, row.yAxisMax);
    auto *opMode = find<QComboBox>("SWITCHOpMode");
    EXPECT_EQ(opMode->itemText(1), row.onText ? row.onText : "HI-GAIN");
    EXPECT_EQ(!opMode->isEnabled(), row.opModeDimmed);
    EXPECT_EQ(!find<QWidget>("SWITCHPMode")->isEnabled(), row.pModeDimmed);
    EXPECT_EQ(!find<QWidget>("RINGAnaMode")->isEnabled(), row.anaDimmed);
    EXPECT_EQ(find<QWidget>("NUMMeasMicrons")->isVisibleTo(mainPanel()), row.micronsVisible);
    auto *box = kvexplatform::panelWidget(pPopup)->findChild<QPlainTextEdit *>("TEXTBOXHardware");
    EXPECT_EQ(box->toPlainText().split('\n').value(0), QString::fromUtf8(row.line0));
    EXPECT_DOUBLE_EQ(graph("GRAPHVideo")->xAxis->range().upper, profile.ccdsubpixel);
}

INSTANTIATE_TEST_SUITE_P(SensorTypes, IdentificationTest, ::testing::ValuesIn(identificationRows),
                         [](const auto &info) {
                             std::string name = info.param.profile;
                             for (char &c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST_F(StartupTest, Type102Firmware230RelabelsAndLimitsControl17) {
    startSensor("type102-230");
    ASSERT_TRUE(startProgram());
    auto *control17 = find<QSpinBox>("NUMCtrl17");
    EXPECT_EQ(control17->maximum(), 1000);
    EXPECT_EQ(control17->minimum(), 950);
    bool relabelled = false;
    for (QLabel *label : mainPanel()->findChildren<QLabel *>())
        relabelled = relabelled || (label->buddy() == control17 && label->text() == "OFFSET-VALUE");
    EXPECT_TRUE(relabelled);
}

TEST_F(StartupTest, RawFirmwareTextOfSeventyTwoCharactersIsShownWhole) {
    startSensor("fw-raw72");
    ASSERT_TRUE(startProgram());
    EXPECT_EQ(status().size(), 72);
    EXPECT_EQ(status(), QString::fromStdString(kvexsim::findProfile("fw-raw72")->firmwareText));
}

} // namespace
