// The operator's parameter commands and the parameter file, on the real panel against the sensor.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "platform/confirm.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "program_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <iterator>
#include <memory>
#include <ostream>
#include <sys/resource.h>
#include <utility>

namespace {

using kvexsim::Words;

unsigned short *const parameterVariables[PNUM] = {
    &power, &pMode, &vThd,   &anaMode,   &polarity, &eMode,  &eBeg,    &eEnd,
    &tVal,  &tTol,  &opMode, &eHardware, &para12,   &para13, &average, &para15};

// Panel control of each parameter word; 0 for the three words the panel has no control for.
const int parameterControls[PNUM] = {NUMPower,
                                     SWITCHPMode,
                                     NUMVideoThreshold,
                                     RINGAnaMode,
                                     SWITCHPolarity,
                                     RINGEMode,
                                     NEDITEdgeLeft,
                                     NEDITEdgeRight,
                                     NUMTeachValue,
                                     NEDITTolerance,
                                     SWITCHOpMode,
                                     RINGEHardware,
                                     0,
                                     0,
                                     NUMAverage,
                                     0};

// Two sets that differ in every word and pass the panel's range clamps unchanged, so a word that
// comes from the wrong place shows.
const Words setA{750, 1, 300, 2, 0, 3, 100, 900, 640, 25, 1, 2, 4242, 17, 8, 99};
const Words setB{250, 0, 700, 5, 1, 0, 50, 1000, 65535, 65535, 0, 3, 65535, 1, 1024, 65535};

Words variables() {
    Words words{};
    for (int i = 0; i < PNUM; ++i)
        words[i] = *parameterVariables[i];
    return words;
}

void setVariables(const Words &words) {
    for (int i = 0; i < PNUM; ++i)
        *parameterVariables[i] = words[i];
}

// What the operator sees, read from the widgets rather than through the program's accessors.
int shownValue(int control) {
    QWidget *widget = kvexplatform::controlWidget(pHandle, control);
    if (auto *spin = qobject_cast<QSpinBox *>(widget))
        return spin->value();
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->currentIndex();
    return -1;
}

void setPanel(const Words &words) {
    for (int i = 0; i < PNUM; ++i)
        if (parameterControls[i])
            SetCtrlVal(pHandle, parameterControls[i], words[i]);
}

void expectPanelShows(const Words &words) {
    for (int i = 0; i < PNUM; ++i) {
        if (parameterControls[i]) {
            EXPECT_EQ(shownValue(parameterControls[i]), words[i]) << "word " << i;
        }
    }
}

Words requestWords(const kvexsim::Request &request) {
    Words words{};
    for (int i = 0; i < PNUM; ++i)
        words[i] = request.word(i);
    return words;
}

Words ppWords() {
    Words words{};
    for (int i = 0; i < PNUM; ++i)
        words[i] = pp[i];
    return words;
}

// Test rows print as their names.
template <class Row, class = decltype(std::declval<const Row &>().name)>
std::ostream &operator<<(std::ostream &os, const Row &row) {
    return os << row.name;
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The file as the program must write it: one number a line, right-aligned in five characters.
QByteArray fileText(const Words &words) {
    QByteArray text;
    for (uint16_t w : words)
        text += QByteArray::number(w).rightJustified(5, ' ') + '\n';
    return text;
}

class CommandTest : public ProgramTest {
  protected:
    void TearDown() override {
        // Pending delayed actions must not outlive the test whose locals they use.
        timerContext.reset();
        ProgramTest::TearDown();
    }

    // Like later(), but cancelled when the test ends.
    void soon(double seconds, std::function<void()> action) {
        QTimer::singleShot(static_cast<int>(seconds * 1000), timerContext.get(), std::move(action));
    }

    // Answers the next file dialogs with `result` and `path`, keeping what each asked.
    void answerFileDialogs(int result, const QString &path) {
        kvexplatform::setFileSelectHook(
            [this, result, path](const kvexplatform::FileSelectRequest &request, std::string &out) {
                dialogs.push_back(request);
                out = path.toStdString();
                return result;
            });
    }

    void chooseFileTarget() {
        click("RBTFile");
        ASSERT_EQ(target, DATFILE);
    }

    // No request reaches the sensor within a little more than one exchange.
    bool portStaysQuiet(kvexsim::SensorSim &sensor) {
        return !sensor.waitForRequests(1, 0.1) && sensor.requests().empty();
    }

    QString inFolder(const char *name) const { return folder.filePath(name); }

    std::unique_ptr<QObject> timerContext = std::make_unique<QObject>();
    std::vector<kvexplatform::FileSelectRequest> dialogs;
    QTemporaryDir folder;
};

// ---- GET from the sensor ----

struct MemoryRow {
    const char *name;
    const char *button; // nullptr: the RAM target the program starts with
    int target;
    int readCommand;
    int writeCommand;
};

const MemoryRow memoryRows[] = {
    {"Ram", nullptr, RAM, 2, 1},
    {"Eeprom", "RBTEeprom", EEPROM, 4, 3},
};

class MemoryTest : public CommandTest, public ::testing::WithParamInterface<MemoryRow> {};

TEST_P(MemoryTest, GetSendsTheVariablesAndLoadsTheAnswer) {
    const MemoryRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    sensor.setRam(row.target == RAM ? setA : setB);
    sensor.setEeprom(row.target == RAM ? setB : setA);
    if (row.button)
        click(row.button);
    ASSERT_EQ(target, row.target);
    // The request carries the variables, not what the panel shows.
    power = 777;
    SetCtrlVal(pHandle, NUMPower, static_cast<unsigned short>(333));
    const Words sent = variables();
    // A late answer leaves time to see the status line while the program waits.
    sensor.setFault(row.readCommand, {kvexsim::FaultKind::Late, 1, 0.25, 1});
    auto whileWaiting = std::make_shared<QString>();
    soon(0.12, [this, whileWaiting] { *whileWaiting = status(); });
    sensor.clearRequests();

    click("BTNGet");

    EXPECT_EQ(commands(), std::vector<int>{row.readCommand});
    ASSERT_EQ(sensor.requests().size(), 1u);
    EXPECT_EQ(requestWords(sensor.requests()[0]), sent);
    EXPECT_EQ(*whileWaiting, "Waiting for parameter-frame ...");
    EXPECT_EQ(status(), "Parameter-frame received! - Line Ok!");
    EXPECT_EQ(variables(), setA);
    expectPanelShows(setA);
}

TEST_P(MemoryTest, SendOnThePressWritesThePanelsValues) {
    const MemoryRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    sensor.setRam(setB);
    sensor.setEeprom(setB);
    if (row.button)
        click(row.button);
    ASSERT_EQ(target, row.target);
    setVariables(setB);
    setPanel(setA);
    // The words without a control go out from the variables.
    para12 = setA[12];
    para13 = setA[13];
    para15 = setA[15];
    sensor.clearRequests();
    enterValue("NUMPower", 654);
    Words expected = setA;
    expected[0] = 654;

    // SEND to EEPROM first reads the EEPROM and asks (tests/test_operator_views.cpp); yes here.
    int asked = 0;
    kvexplatform::setConfirmHook([&](const std::string &, const std::string &) {
        ++asked;
        return 1;
    });
    const size_t reads = row.target == EEPROM ? 1 : 0;

    auto *send = find<QAbstractButton>("BTNSend");
    ASSERT_NE(send, nullptr);
    QTest::mousePress(send, Qt::LeftButton);
    EXPECT_TRUE(sensor.waitForRequests(1 + reads, 1.0)) << "nothing sent on the press";
    QTest::mouseRelease(send, Qt::LeftButton);
    EXPECT_FALSE(sensor.waitForRequests(2 + reads, 0.1)) << "the release sent again";

    EXPECT_EQ(asked, static_cast<int>(reads));
    EXPECT_EQ(commands(), (reads ? std::vector<int>{row.readCommand, row.writeCommand}
                                 : std::vector<int>{row.writeCommand}));
    ASSERT_GT(sensor.requests().size(), reads);
    EXPECT_EQ(requestWords(sensor.requests()[reads]), expected);
    EXPECT_EQ(row.target == RAM ? sensor.ram() : sensor.eeprom(), expected);
    EXPECT_EQ(row.target == RAM ? sensor.eeprom() : sensor.ram(), setB) << "the other memory";
    EXPECT_EQ(variables(), expected);
    EXPECT_EQ(status(), "Line Ok!");
}

INSTANTIATE_TEST_SUITE_P(Targets, MemoryTest, ::testing::ValuesIn(memoryRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CommandTest, GetWithoutAnswerKeepsTheVariablesAndRewritesThePanel) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    setVariables(setA);
    setPanel(setB);
    sensor.setRam(setB);
    sensor.setFault(2, {kvexsim::FaultKind::Silence, 1, 0.0, 1});
    sensor.clearRequests();
    const double start = Timer();

    click("BTNGet");

    EXPECT_GE(Timer() - start, TIMEOUT);
    EXPECT_EQ(commands(), std::vector<int>{2});
    EXPECT_EQ(status(), "Timeout-RS-232...");
    EXPECT_EQ(variables(), setA);
    expectPanelShows(setA);
}

// ---- Target choice ----

TEST_F(CommandTest, TargetButtonsStayExclusiveAndFallBackToRam) {
    startSensor();
    ASSERT_TRUE(startProgram());
    struct Step {
        const char *click;
        int target;
        bool ram, eeprom, file;
    };
    const Step steps[] = {
        {"RBTEeprom", EEPROM, false, true, false}, {"RBTEeprom", RAM, true, false, false},
        {"RBTRam", RAM, true, false, false},       {"RBTFile", DATFILE, false, false, true},
        {"RBTEeprom", EEPROM, false, true, false}, {"RBTFile", DATFILE, false, false, true},
        {"RBTFile", RAM, true, false, false},      {"RBTFile", DATFILE, false, false, true},
        {"RBTRam", RAM, true, false, false},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step &step = steps[i];
        SCOPED_TRACE(::testing::Message() << "step " << i << ": " << step.click);
        click(step.click);
        EXPECT_EQ(target, step.target);
        EXPECT_EQ(find<QRadioButton>("RBTRam")->isChecked(), step.ram);
        EXPECT_EQ(find<QRadioButton>("RBTEeprom")->isChecked(), step.eeprom);
        EXPECT_EQ(find<QRadioButton>("RBTFile")->isChecked(), step.file);
    }
}

// ---- Teach ----

struct TeachRow {
    const char *name;
    const char *button; // target chosen first; nullptr keeps RAM
    double lateness;    // added before the sensor answers; < 0: no fault
    bool readsBack;
};

// Request and answer each take 36 byte times (18.75 ms): a lateness of 1.36 s brings the answer
// about 1.40 s after the request left, 1.56 s about 1.60 s after.
const TeachRow teachRows[] = {
    {"Prompt", nullptr, -1.0, true},
    {"PromptWithEepromTarget", "RBTEeprom", -1.0, true},
    {"AnsweredAfter1_4s", nullptr, 1.36, true},
    {"AnsweredAfter1_6s", nullptr, 1.56, false},
};

class TeachTest : public CommandTest, public ::testing::WithParamInterface<TeachRow> {};

TEST_P(TeachTest, AnswerInTimeReadsTheNewSetPointBack) {
    const TeachRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    sensor.setObject(300, 600);
    if (row.button)
        click(row.button);
    const Words before = variables();
    ASSERT_EQ(before[8], 512);
    for (int i = 0; i < PNUM; ++i)
        pp[i] = static_cast<unsigned short>(1000 + 7 * i);
    const Words sentPP = ppWords();
    if (row.lateness >= 0)
        sensor.setFault(6, {kvexsim::FaultKind::Late, 1, row.lateness, 1});
    sensor.clearRequests();

    click("ButtonTeach");
    // A late answer still arriving must not start anything either.
    EXPECT_FALSE(sensor.waitForRequests(row.readsBack ? 3 : 2, 0.2));
    waitUntil([] { return false; }, 0.15);

    const auto requests = sensor.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].command(), 6);
    EXPECT_EQ(requestWords(requests[0]), sentPP);
    const uint16_t taught = sensor.ram()[kvexsim::kParSetPoint];
    EXPECT_NEAR(taught, 600, 2);
    if (row.readsBack) {
        EXPECT_EQ(commands(), (std::vector<int>{6, 2}));
        if (requests.size() == 2 && row.lateness > 0) {
            EXPECT_GE(requests[1].time - requests[0].time, row.lateness);
        }
        EXPECT_EQ(tVal, taught);
        EXPECT_EQ(spinValue("NUMTeachValue"), taught);
        EXPECT_EQ(status(), "Parameter-frame received! - Line Ok!");
    } else {
        EXPECT_EQ(commands(), std::vector<int>{6});
        EXPECT_EQ(variables(), before);
        EXPECT_EQ(spinValue("NUMTeachValue"), 512);
        EXPECT_EQ(status(), "Timeout RS232-Line!");
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, TeachTest, ::testing::ValuesIn(teachRows),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Reset of the analog output's extremes ----

struct ResetRow {
    const char *name;
    bool silent;
    const char *status;
};

const ResetRow resetRows[] = {
    {"Answered", false, "Reset of analog-output Max/Min OK!"},
    {"Silent", true, "Timeout-RS-232..."},
};

class ResetTest : public CommandTest, public ::testing::WithParamInterface<ResetRow> {};

TEST_P(ResetTest, SendsTheCurrentWordsAndReportsTheAnswer) {
    const ResetRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    for (int i = 0; i < PNUM; ++i)
        pp[i] = static_cast<unsigned short>(2000 + 3 * i);
    const Words sentPP = ppWords();
    if (row.silent)
        sensor.setFault(11, {kvexsim::FaultKind::Silence, 1, 0.0, 1});
    sensor.clearRequests();
    const double start = Timer();

    click("ButtonReset");

    const double took = Timer() - start;
    EXPECT_EQ(commands(), std::vector<int>{11});
    ASSERT_EQ(sensor.requests().size(), 1u);
    EXPECT_EQ(requestWords(sensor.requests()[0]), sentPP);
    EXPECT_EQ(status(), row.status);
    if (row.silent)
        EXPECT_GE(took, TIMEOUT);
    else
        EXPECT_LT(took, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Answers, ResetTest, ::testing::ValuesIn(resetRows),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Tolerance and popup ----

TEST_F(CommandTest, ToleranceShowsAtOnceAndReachesTheSetOnlyWithTheNextSend) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_EQ(tTol, 100);
    ASSERT_EQ(spinValue("NUMTolerance"), 100);

    enterValue("NEDITTolerance", 250);

    EXPECT_EQ(spinValue("NUMTolerance"), 250);
    EXPECT_EQ(tTol, 100);
    sensor.clearRequests();
    click("BTNSend");
    ASSERT_TRUE(sensor.waitForRequests(1, 1.0));
    EXPECT_EQ(tTol, 250);
    EXPECT_EQ(sensor.requests()[0].word(9), 250);
}

TEST_F(CommandTest, PopupFollowsItsToggle) {
    startSensor();
    ASSERT_TRUE(startProgram());
    QWidget *popup = kvexplatform::panelWidget(pPopup);
    ASSERT_NE(popup, nullptr);
    ASSERT_FALSE(popup->isVisible());
    click("TOGGBTN_ParaII");
    EXPECT_TRUE(popup->isVisible());
    click("TOGGBTN_ParaII");
    EXPECT_FALSE(popup->isVisible());
}

// ---- One exchange at a time ----

struct BusyRow {
    const char *name;
    const char *button;
};

const BusyRow busyRows[] = {
    {"Get", "BTNGet"},
    {"Teach", "ButtonTeach"},
    {"Reset", "ButtonReset"},
    {"Send", "BTNSend"},
};

class BusyTest : public CommandTest, public ::testing::WithParamInterface<BusyRow> {};

TEST_P(BusyTest, ClickWhileGetWaitsStartsNoSecondExchange) {
    const BusyRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    sensor.setRam(setA);
    setPanel(setB);
    sensor.setFault(2, {kvexsim::FaultKind::Late, 1, 0.6, 1});
    sensor.clearRequests();
    soon(0.25, [this, button = row.button] { click(button); });

    click("BTNGet");
    EXPECT_FALSE(sensor.waitForRequests(2, 0.2));

    EXPECT_EQ(commands(), std::vector<int>{2});
    EXPECT_EQ(sensor.ram(), setA);
    EXPECT_EQ(variables(), setA);
    expectPanelShows(setA);
    EXPECT_EQ(status(), "Parameter-frame received! - Line Ok!");
}

INSTANTIATE_TEST_SUITE_P(Commands, BusyTest, ::testing::ValuesIn(busyRows),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The parameter file ----

TEST_F(CommandTest, SaveWritesSixteenAlignedLinesAndNeverTouchesThePort) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(folder.isValid());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    setPanel(setB);
    setVariables(setA);
    para12 = setB[12];
    para13 = setB[13];
    para15 = setB[15];
    const QString path = inFolder("saved.dat");
    answerFileDialogs(VAL_NEW_FILE_SELECTED, path);
    sensor.clearRequests();

    click("BTNSend");

    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].title, "K-VEX-RTN-Series Parameter File");
    EXPECT_EQ(dialogs[0].defaultFile, "KVEXpara.dat");
    EXPECT_EQ(dialogs[0].typeList, "*.dat");
    EXPECT_NE(dialogs[0].buttonLabel, VAL_LOAD_BUTTON);
    EXPECT_FALSE(std::string(proj_dir).empty());
    EXPECT_EQ(dialogs[0].directory, proj_dir);
    EXPECT_EQ(readAll(path), fileText(setB));
    EXPECT_TRUE(portStaysQuiet(sensor));
}

TEST_F(CommandTest, CancelledSaveWritesNothing) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    const QString path = inFolder("never.dat");
    answerFileDialogs(VAL_NO_FILE_SELECTED, path);
    sensor.clearRequests();

    click("BTNSend");

    EXPECT_EQ(dialogs.size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(portStaysQuiet(sensor));
}

TEST_F(CommandTest, SavedSetLoadsBackWhole) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    const QString path = inFolder("round.dat");
    setPanel(setB);
    para12 = setB[12];
    para13 = setB[13];
    para15 = setB[15];
    answerFileDialogs(VAL_NEW_FILE_SELECTED, path);
    click("BTNSend");
    ASSERT_TRUE(QFileInfo::exists(path));

    setVariables(setA);
    setPanel(setA);
    answerFileDialogs(VAL_EXISTING_FILE_SELECTED, path);
    sensor.clearRequests();
    click("BTNGet");

    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].title, "K-VEX-RTN-Parameter-File");
    EXPECT_EQ(dialogs[1].buttonLabel, VAL_LOAD_BUTTON);
    EXPECT_EQ(variables(), setB);
    expectPanelShows(setB);
    EXPECT_TRUE(portStaysQuiet(sensor));
}

TEST_F(CommandTest, SaveOverALongerFileLeavesOnlyTheNewLines) {
    startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    const QString path = inFolder("longer.dat");
    ASSERT_TRUE(writeAll(path, QByteArray("99999\n").repeated(40)));
    setPanel(setA);
    para12 = setA[12];
    para13 = setA[13];
    para15 = setA[15];
    answerFileDialogs(VAL_EXISTING_FILE_SELECTED, path);

    click("BTNSend");

    EXPECT_EQ(readAll(path), fileText(setA));
}

TEST_F(CommandTest, CancelledLoadRewritesThePanelFromTheVariables) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    setVariables(setA);
    setPanel(setB);
    const QString before = status();
    answerFileDialogs(VAL_NO_FILE_SELECTED, "");
    sensor.clearRequests();

    click("BTNGet");

    EXPECT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(variables(), setA);
    expectPanelShows(setA);
    EXPECT_EQ(status(), before);
    EXPECT_TRUE(portStaysQuiet(sensor));
}

// Files the reader must accept, and the set each holds.
struct GoodFileRow {
    const char *name;
    QByteArray content;
    Words words;
};

QByteArray eachLine(const Words &words, const char *format) {
    QByteArray text;
    for (uint16_t w : words)
        text += QByteArray(format).replace("%", QByteArray::number(w));
    return text;
}

const GoodFileRow goodFileRows[] = {
    {"SpacesAroundTheNumbers", eachLine(setA, "  % \t \n"), setA},
    {"CrLfLineEnds", eachLine(setA, "%\r\n"), setA},
    {"CrLfAndSpaces", eachLine(setB, "   %  \r\n"), setB},
    {"NoNewlineAtTheEnd", eachLine(setB, "%\n").chopped(1), setB},
};

class GoodFileTest : public CommandTest, public ::testing::WithParamInterface<GoodFileRow> {};

TEST_P(GoodFileTest, LoadsIntoTheVariablesAndThePanel) {
    const GoodFileRow &row = GetParam();
    startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    const QString path = inFolder("good.dat");
    ASSERT_TRUE(writeAll(path, row.content));
    const Words other = row.words == setA ? setB : setA;
    setVariables(other);
    setPanel(other);
    answerFileDialogs(VAL_EXISTING_FILE_SELECTED, path);

    click("BTNGet");

    EXPECT_EQ(variables(), row.words);
    expectPanelShows(row.words);
}

INSTANTIATE_TEST_SUITE_P(Contents, GoodFileTest, ::testing::ValuesIn(goodFileRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Files the reader must refuse, leaving the set and the panel alone.
enum class Make { Nothing, Folder, Content, LongPath };

struct BadFileRow {
    const char *name;
    Make make;
    QByteArray content;
    const char *status;
};

QByteArray withWord(int index, const char *text) {
    QList<QByteArray> lines = fileText(setA).split('\n');
    lines[index] = text;
    return lines.join('\n');
}

const BadFileRow badFileRows[] = {
    {"Missing", Make::Nothing, {}, "Cannot open parameter file bad.dat!"},
    {"Folder", Make::Folder, {}, "Cannot open parameter file bad.dat!"},
    {"Empty", Make::Content, "", "Parameter file bad.dat holds fewer than 16 numbers!"},
    {"FifteenNumbers", Make::Content, fileText(setA).chopped(6),
     "Parameter file bad.dat holds fewer than 16 numbers!"},
    {"LetterAfterDigits", Make::Content, withWord(3, "12a"),
     "Parameter file bad.dat holds text that is not a number (line 4)!"},
    {"LoneMinus", Make::Content, withWord(3, "-"),
     "Parameter file bad.dat holds text that is not a number (line 4)!"},
    {"Word", Make::Content, withWord(15, "abc"),
     "Parameter file bad.dat holds text that is not a number (line 16)!"},
    // Numbers no 16-bit word holds are refused, not cut to their low bits.
    {"Negative", Make::Content, withWord(9, "-5"),
     "Parameter file bad.dat line 10: -5 is below 0!"},
    {"AboveSixteenBits", Make::Content, withWord(12, "65536"),
     "Parameter file bad.dat line 13: 65536 is above 65535!"},
    {"BeyondAnyInteger", Make::Content, withWord(0, "000099999999999999999999"),
     "Parameter file bad.dat line 1: 000099999999999999999999 is above 65535!"},
    {"PathTooLong", Make::LongPath, {}, "Path of the parameter file is too long!"},
};

class BadFileTest : public CommandTest, public ::testing::WithParamInterface<BadFileRow> {};

TEST_P(BadFileTest, LeavesTheSetAndThePanelAndNamesTheFile) {
    const BadFileRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    QString path = inFolder("bad.dat");
    if (row.make == Make::Folder)
        ASSERT_TRUE(QDir(folder.path()).mkdir("bad.dat"));
    else if (row.make == Make::Content)
        ASSERT_TRUE(writeAll(path, row.content));
    else if (row.make == Make::LongPath)
        path = inFolder(QByteArray(300, 'x').append(".dat").constData());
    setVariables(setA);
    // A panel that differs from the variables shows whether the panel was rewritten.
    setPanel(setB);
    answerFileDialogs(VAL_EXISTING_FILE_SELECTED, path);
    sensor.clearRequests();

    click("BTNGet");

    EXPECT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(status(), row.status);
    EXPECT_EQ(variables(), setA);
    expectPanelShows(setB);
    EXPECT_TRUE(portStaysQuiet(sensor));
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest, ::testing::ValuesIn(badFileRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Saves that must fail, leaving the folder as it was.
struct FailedSaveRow {
    const char *name;
    const char *relativePath;
    const char *status;
};

const FailedSaveRow failedSaveRows[] = {
    {"FolderMissing", "missing/out.dat", "Cannot write parameter file out.dat!"},
    {"PathIsAFolder", "folder/out.dat", "Cannot write parameter file out.dat!"},
    {"ParentIsAFile", "plain.txt/out.dat", "Cannot write parameter file out.dat!"},
};

class FailedSaveTest : public CommandTest, public ::testing::WithParamInterface<FailedSaveRow> {};

QStringList listing(const QString &path) {
    QStringList names;
    for (const QFileInfo &info : QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                          QDir::Hidden | QDir::System))
        names << info.fileName() + (info.isDir() ? "/" : "") + QString::number(info.size());
    return names;
}

TEST_P(FailedSaveTest, SaysSoAndLeavesNoFile) {
    const FailedSaveRow &row = GetParam();
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    // "folder/out.dat" is itself a folder, so saving there must not replace it.
    ASSERT_TRUE(QDir(folder.path()).mkpath("folder/out.dat"));
    ASSERT_TRUE(writeAll(inFolder("plain.txt"), "keep\n"));
    const QStringList top = listing(folder.path());
    const QStringList inner = listing(inFolder("folder"));
    answerFileDialogs(VAL_NEW_FILE_SELECTED, inFolder(row.relativePath));
    sensor.clearRequests();

    click("BTNSend");

    EXPECT_EQ(status(), row.status);
    EXPECT_EQ(listing(folder.path()), top);
    EXPECT_EQ(listing(inFolder("folder")), inner);
    EXPECT_TRUE(QFileInfo(inFolder("folder/out.dat")).isDir());
    EXPECT_EQ(readAll(inFolder("plain.txt")), "keep\n");
    EXPECT_TRUE(portStaysQuiet(sensor));
}

INSTANTIATE_TEST_SUITE_P(Targets, FailedSaveTest, ::testing::ValuesIn(failedSaveRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Root ignores file permissions but not the file-size limit: the write itself fails.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    bool active = false;

  private:
    rlimit previous{};
    void (*previousHandler)(int) = nullptr;
};

TEST_F(CommandTest, FailedWriteKeepsTheOldFileWhole) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(chooseFileTarget());
    const QString path = inFolder("old.dat");
    const QByteArray old = fileText(setA);
    ASSERT_TRUE(writeAll(path, old));
    setPanel(setB);
    answerFileDialogs(VAL_EXISTING_FILE_SELECTED, path);
    const QStringList before = listing(folder.path());
    sensor.clearRequests();
    {
        FileSizeLimit limit(20);
        ASSERT_TRUE(limit.active);
        click("BTNSend");
    }

    EXPECT_EQ(status(), "Cannot write parameter file old.dat!");
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(listing(folder.path()), before);
    EXPECT_TRUE(portStaysQuiet(sensor));
}

} // namespace
