// The panel file: every control the program addresses, with its number, callback and kind, and
// the events the panel's controls raise.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/rs232link.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"
#include "platform/widgets/framecache.h"
#include "platform/widgets/graphwidgets.h"
#include "program_fixture.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

struct ControlRow {
    const char *name;
    int number; // 0: addressed only through its callback
    const char *callback;
    const char *kind;
};

const ControlRow mainPanelControls[] = {
    {"DropDCom", 2, "CC_DropDCom", "QComboBox"},
    {"BTNGet", 3, "CC_BTNGet", "QPushButton"},
    {"RINGAnaMode", 4, "", "QComboBox"},
    {"RBTFile", 12, "CC_RBTFile", "QRadioButton"},
    {"RBTEeprom", 13, "CC_RBTEeprom", "QRadioButton"},
    {"CTRLAna14", 14, "", "QGroupBox"},
    {"NUMVideoThreshold", 15, "CC_NUMVideoThreshold", "QSpinBox"},
    {"NUMPower", 16, "", "QSpinBox"},
    {"NUMCtrl17", 17, "", "QSpinBox"},
    {"NEDITTolerance", 18, "CC_NEDITTolerance", "QSpinBox"},
    {"NUMTeachValue", 19, "", "QSpinBox"},
    {"RBTRam", 20, "CC_RBTRam", "QRadioButton"},
    {"BTNRun", 21, "CC_BTNRun", "QPushButton"},
    {"BTNVideo", 23, "CC_BTNVideo", "QPushButton"},
    {"RINGEHardware", 24, "", "QComboBox"},
    {"SWITCHPMode", 25, "", "QComboBox"},
    {"SWITCHPolarity", 26, "", "QComboBox"},
    {"NUMAverage", 27, "", "QSpinBox"},
    {"RINGEMode", 28, "", "QComboBox"},
    {"NUMMeasValueA", 30, "", "QSpinBox"},
    {"NUMMeasMicrons", 31, "", "QDoubleSpinBox"},
    {"NUMMeasValueB", 32, "", "QSpinBox"},
    {"NUMAnaMin", 33, "", "QSpinBox"},
    {"NUMRightMax", 34, "", "QSpinBox"},
    {"NUMLeftMax", 35, "", "QSpinBox"},
    {"NUMAnaMax", 36, "", "QSpinBox"},
    {"NUMTolerance", 37, "", "QSpinBox"},
    {"NUMLeftEdge", 38, "", "QSpinBox"},
    {"NUMRightEdge", 39, "", "QSpinBox"},
    {"DECOHeader", 46, "", "QFrame"},
    {"NEDITEdgeRight", 47, "CC_NEDITEdgeRight", "QSpinBox"},
    {"NEDITEdgeLeft", 48, "CC_NEDITEdgeLeft", "QSpinBox"},
    {"TEXTStatus", 49, "", "QLabel"},
    {"GRAPHVideo", 50, "", "KvexGraph"},
    {"GRAPHBar", 51, "", "KvexGraph"},
    {"PICTLogo", 52, "", "QLabel"},
    {"TOGGBTN_Zoom", 53, "CC_TOGGBTN_Zoom", "QPushButton"},
    {"TOGGBTN_ParaII", 55, "CC_TOGGBTN_ParaII", "QPushButton"},
    {"GRAPHStrip", 56, "", "KvexStripChart"},
    {"SWITCHOpMode", 57, "", "QComboBox"},
    {"BTNSend", 58, "CC_BTNSend", "QPushButton"},
    {"ButtonTeach", 59, "CC_ButtonTeach", "QPushButton"},
    {"ButtonReset", 60, "CC_ButtonReset", "QPushButton"},
    {"BTNStop", 0, "CC_BTNStop", "QPushButton"},
    {"TEXTRecording", 120, "", "QLabel"},
    {"BTNRecord", 121, "CC_BTNRecord", "QPushButton"},
    {"BTNExportLine", 122, "CC_BTNExportLine", "QPushButton"},
    {"BTNExportChart", 123, "CC_BTNExportChart", "QPushButton"},
    {"BTNCompare", 124, "CC_BTNCompare", "QPushButton"},
    {"RINGLanguage", 172, "CC_RINGLanguage", "QComboBox"},
    {"TEXTReserve", 173, "", "QLabel"},
    {"BTNPropose", 174, "CC_BTNPropose", "QPushButton"},
    {"FRAMEProposal", 175, "", "QFrame"},
    {"TEXTProposal", 176, "", "QLabel"},
    {"BTNProposeApply", 177, "CC_BTNProposeApply", "QPushButton"},
    {"BTNProposeEeprom", 178, "CC_BTNProposeEeprom", "QPushButton"},
    {"BTNProposeDiscard", 179, "CC_BTNProposeDiscard", "QPushButton"},
};

class PanelFileTest : public ProgramTest {
  protected:
    void SetUp() override {
        startSensor("standard");
        ASSERT_TRUE(startProgram());
    }
};

TEST_F(PanelFileTest, EveryControlHasItsNameNumberCallbackAndKind) {
    for (const ControlRow &row : mainPanelControls) {
        const QList<QWidget *> matches = mainPanel()->findChildren<QWidget *>(row.name);
        ASSERT_EQ(matches.size(), 1) << row.name;
        QWidget *control = matches.front();
        EXPECT_TRUE(control->inherits(row.kind)) << row.name;
        EXPECT_EQ(control->property("callback").toString(), row.callback) << row.name;
        if (row.number)
            EXPECT_EQ(kvexplatform::controlWidget(pHandle, row.number), control) << row.name;
        EXPECT_FALSE(control->accessibleName().isEmpty()) << row.name;
    }
    EXPECT_EQ(find<QWidget>("BTNRun")->property("ctrlAlias").toString(), "BTNLock21");
    EXPECT_EQ(find<QWidget>("BTNVideo")->property("ctrlAlias").toString(), "BTNLock23");
    EXPECT_EQ(find<QWidget>("BTNGet")->property("ctrlAlias").toString(), "BTNUnlock3");
    QWidget *popup = kvexplatform::panelWidget(pPopup);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(kvexplatform::controlWidget(pPopup, TEXTBOXHardware),
              popup->findChild<QPlainTextEdit *>("TEXTBOXHardware"));
}

TEST_F(PanelFileTest, ParameterControlsStartAtTheStartValues) {
    const struct {
        const char *name;
        int value;
    } rows[] = {{"NUMPower", 500},        {"NUMVideoThreshold", 512}, {"NEDITEdgeLeft", 1},
                {"NEDITEdgeRight", 1024}, {"NUMTeachValue", 512},     {"NEDITTolerance", 100},
                {"NUMAverage", 0}};
    // A fresh panel, before any sensor values reached it.
    const int fresh = LoadPanel(0, PANEL_FILE, MAIN_PANEL);
    ASSERT_GE(fresh, 0);
    QWidget *panel = kvexplatform::panelWidget(fresh);
    for (const auto &row : rows)
        EXPECT_EQ(panel->findChild<QSpinBox *>(row.name)->value(), row.value) << row.name;
    EXPECT_EQ(panel->findChild<QComboBox *>("SWITCHPolarity")->currentIndex(), 1);
    EXPECT_EQ(panel->findChild<QComboBox *>("RINGEMode")->currentIndex(), 1);
    EXPECT_EQ(panel->findChild<QComboBox *>("RINGEHardware")->currentIndex(), 1);
    EXPECT_FALSE(panel->findChild<QRadioButton *>("RBTRam")->autoExclusive());
    DiscardPanel(fresh);
}

TEST_F(PanelFileTest, ProgrammaticChangesRaiseNoEvents) {
    // The tolerance edit mirrors into the display only on an operator's edit.
    SetCtrlVal(pHandle, NUMTolerance, 7);
    SetCtrlVal(pHandle, NEDITTolerance, 55);
    EXPECT_EQ(spinValue("NUMTolerance"), 7);
    SetCtrlVal(pHandle, RBTEeprom, 1);
    EXPECT_EQ(target, RAM);
    SetCtrlAttribute(pHandle, NEDITTolerance, ATTR_MAX_VALUE, 40);
    EXPECT_EQ(spinValue("NUMTolerance"), 7);
    enterValue("NEDITTolerance", 30);
    EXPECT_EQ(spinValue("NUMTolerance"), 30);
}

TEST_F(PanelFileTest, OneChoiceInThePortListReconnectsOnce) {
    kvexsim::SensorSim &sensor = *sensors.front();
    sensor.clearRequests();
    auto *ports = find<QComboBox>("DropDCom");
    ports->setFocus();
    // Choosing the same entry again from the keyboard is one choice.
    QTest::keyClick(ports, Qt::Key_Down, Qt::AltModifier);
    QTest::keyClick(ports->view(), Qt::Key_Return);
    waitUntil([&] { return sensor.requests().size() >= 4; }, 3.0);
    EXPECT_EQ(commands(), (std::vector<int>{5, 10, 2, 7}));
}

TEST_F(PanelFileTest, KeyboardReachesEveryControlInASensibleOrder) {
    const std::vector<QString> expected = {
        "DropDCom",         "NUMPower",          "SWITCHPMode",   "NUMVideoThreshold",
        "SWITCHPolarity",   "RINGEMode",         "NEDITEdgeLeft", "NEDITEdgeRight",
        "NUMTeachValue",    "NEDITTolerance",    "SWITCHOpMode",  "RINGEHardware",
        "NUMAverage",       "NUMCtrl17",         "RINGAnaMode",   "RBTRam",
        "RBTEeprom",        "RBTFile",           "BTNGet",        "BTNSend",
        "ButtonTeach",      "ButtonReset",       "BTNRun",        "BTNVideo",
        "BTNStop",          "TOGGBTN_Zoom",      "BTNPropose",    "BTNProposeApply",
        "BTNProposeEeprom", "BTNProposeDiscard", "TOGGBTN_ParaII"};
    std::vector<QString> chain;
    QWidget *first = find<QWidget>("DropDCom");
    QWidget *w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus && !w->objectName().startsWith("qt_"))
            chain.push_back(w->objectName());
        w = w->nextInFocusChain();
    } while (w && w != first && chain.size() < 100);
    std::vector<QString> named;
    for (const QString &name : chain)
        if (std::find(expected.begin(), expected.end(), name) != expected.end())
            named.push_back(name);
    EXPECT_EQ(named, expected);

    // Buttons have mnemonics; parameter controls say which word they hold.
    for (const char *button : {"BTNGet", "BTNSend", "ButtonTeach", "ButtonReset", "BTNRun",
                               "BTNVideo", "BTNStop", "TOGGBTN_Zoom", "TOGGBTN_ParaII"})
        EXPECT_TRUE(find<QPushButton>(button)->text().contains('&')) << button;
    for (const char *parameter :
         {"NUMPower", "SWITCHPMode", "NUMVideoThreshold", "RINGAnaMode", "SWITCHPolarity",
          "RINGEMode", "NEDITEdgeLeft", "NEDITEdgeRight", "NUMTeachValue", "NEDITTolerance",
          "SWITCHOpMode", "RINGEHardware", "NUMAverage"})
        EXPECT_TRUE(find<QWidget>(parameter)->toolTip().contains("word")) << parameter;
}

TEST_F(PanelFileTest, SpaceOnAFocusedTargetChoosesIt) {
    auto *eeprom = find<QRadioButton>("RBTEeprom");
    eeprom->setFocus();
    QTest::keyClick(eeprom, Qt::Key_Space);
    EXPECT_EQ(target, EEPROM);
    EXPECT_FALSE(find<QRadioButton>("RBTRam")->isChecked());
}

TEST_F(PanelFileTest, MissingOrBrokenPanelFileEndsStartUp) {
    stopProgram();
    kvexplatform::setDataDirectory("");
    EXPECT_LT(LoadPanel(0, "no-such-panel.uir", 1), 0);
    const QString broken = QDir::temp().filePath("kvex-broken.uir");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<ui version=\"4.0\"><widget class=\"QWidget\" name=\"x\">");
    file.close();
    EXPECT_LT(LoadPanel(0, QFile::encodeName(broken).constData(), 1), 0);
    EXPECT_LT(LoadPanel(0, PANEL_FILE, 9), 0);
    QFile::remove(broken);
}

// A group box draws its frame from a picture it took once. Each change of what the frame shows
// must take a new picture; until then, drawing the box must not run its own painting again.
TEST(GroupBoxFrameTest, TheCopiedFrameFollowsEveryChangeOfTheBox) {
    struct CountingBox : QGroupBox {
        int painted = 0;
        void paintEvent(QPaintEvent *event) override {
            ++painted;
            QGroupBox::paintEvent(event);
        }
    };
    struct Change {
        const char *name;
        std::function<void(QGroupBox *)> apply;
    };
    const Change changes[] = {
        {"title", [](QGroupBox *b) { b->setTitle("Analogue output, changed"); }},
        {"size", [](QGroupBox *b) { b->resize(260, 90); }},
        {"disabled", [](QGroupBox *b) { b->setEnabled(false); }},
        {"flat", [](QGroupBox *b) { b->setFlat(true); }},
        {"alignment", [](QGroupBox *b) { b->setAlignment(Qt::AlignRight); }},
        {"font",
         [](QGroupBox *b) {
             QFont font = b->font();
             font.setPointSize(font.pointSize() + 4);
             b->setFont(font);
         }},
        {"palette",
         [](QGroupBox *b) {
             QPalette palette = b->palette();
             palette.setColor(QPalette::WindowText, Qt::red);
             palette.setColor(QPalette::Window, Qt::yellow);
             b->setPalette(palette);
         }},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.name);
        QWidget cachedRoot, plainRoot;
        auto *cached = new CountingBox;
        auto *plain = new QGroupBox;
        cached->setParent(&cachedRoot);
        plain->setParent(&plainRoot);
        for (QGroupBox *box : {static_cast<QGroupBox *>(cached), plain}) {
            box->setTitle("Read-outs");
            box->setGeometry(0, 0, 200, 60);
        }
        kvexplatform::cacheGroupBoxFrames(&cachedRoot);
        cached->grab();
        QCoreApplication::processEvents(); // the picture is taken after the painting
        const int painted = cached->painted;
        EXPECT_EQ(cached->grab().toImage(), plain->grab().toImage());
        EXPECT_EQ(cached->painted, painted);

        change.apply(cached);
        change.apply(plain);
        cached->grab();
        QCoreApplication::processEvents();
        EXPECT_EQ(cached->grab().toImage(), plain->grab().toImage());
    }
}

} // namespace
