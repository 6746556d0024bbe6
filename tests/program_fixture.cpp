// Fixture that starts the program on the real panel file against the simulator.
#include "program_fixture.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/panelcontrols.h"
#include "platform/confirm.h"
#include "platform/qtaccess.h"
#include "platform/recordingchoice.h"
#include "platform/rs232.h"
#include "platform/utility.h"
#include "platform/widgets/graphwidgets.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

bool waitUntil(const std::function<bool()> &condition, double timeoutSeconds) {
    const double end = Timer() + timeoutSeconds;
    while (!condition()) {
        if (Timer() > end)
            return false;
        ProcessSystemEvents();
    }
    return true;
}

void later(double delaySeconds, std::function<void()> action) {
    QTimer::singleShot(static_cast<int>(delaySeconds * 1000), qApp, std::move(action));
}

void ProgramTest::SetUp() {}

void ProgramTest::TearDown() {
    stopProgram();
    kvexplatform::setFileSelectHook({});
    kvexplatform::setConfirmHook({});
    kvexplatform::setRecordingChoiceHook({});
    for (auto &sensor : sensors)
        sensor->stop();
    sensors.clear();
    for (int port = 1; port <= 8; ++port)
        bindPortDevice(port, "");
}

kvexsim::SensorSim &ProgramTest::startSensor(const std::string &profile, int port) {
    const kvexsim::SensorProfile *found = kvexsim::findProfile(profile);
    EXPECT_NE(found, nullptr) << profile;
    sensors.push_back(std::make_unique<kvexsim::SensorSim>(*found));
    kvexsim::SensorSim &sensor = *sensors.back();
    EXPECT_TRUE(sensor.openPty());
    sensor.start();
    bindPortDevice(port, sensor.devicePath());
    return sensor;
}

bool ProgramTest::startProgram() {
    programRunning = startUpProgram() == 0;
    return programRunning;
}

void ProgramTest::stopProgram() {
    if (!programRunning)
        return;
    shutDownProgram();
    programRunning = false;
}

QWidget *ProgramTest::mainPanel() const {
    return kvexplatform::panelWidget(pHandle);
}

KvexGraph *ProgramTest::graph(const char *objectName) const {
    return find<KvexGraph>(objectName);
}

KvexStripChart *ProgramTest::stripChart() const {
    return find<KvexStripChart>("GRAPHStrip");
}

QString ProgramTest::status() const {
    auto *label = find<QLabel>("TEXTStatus");
    return label ? label->text() : QString();
}

int ProgramTest::spinValue(const char *objectName) const {
    auto *spin = find<QSpinBox>(objectName);
    return spin ? spin->value() : -1;
}

void ProgramTest::click(const char *objectName) {
    auto *button = find<QAbstractButton>(objectName);
    ASSERT_NE(button, nullptr) << objectName;
    QTest::mouseClick(button, Qt::LeftButton);
}

void ProgramTest::enterValue(const char *objectName, int value) {
    auto *spin = find<QSpinBox>(objectName);
    ASSERT_NE(spin, nullptr) << objectName;
    QLineEdit *edit = spin->findChild<QLineEdit *>();
    ASSERT_NE(edit, nullptr);
    spin->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QString::number(value));
    QTest::keyClick(edit, Qt::Key_Return);
}

std::vector<int> ProgramTest::commands() const {
    std::vector<int> codes;
    if (!sensors.empty())
        for (const kvexsim::Request &request : sensors.front()->requests())
            codes.push_back(request.command());
    return codes;
}

void whenever(std::function<bool()> condition, std::function<void()> action) {
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [=] {
        if (!condition())
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start(1);
}

void CountingProgramTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
}

void CountingProgramTest::TearDown() {
    removeLiveObserver(counter);
    ProgramTest::TearDown();
}

kvexsim::SensorSim &CountingProgramTest::connect() {
    kvexsim::SensorSim &sensor = startSensor("type104");
    sensor.setObject(400, 600);
    EXPECT_TRUE(startProgram());
    removeLiveObserver(counter);
    LiveObserver hooks;
    hooks.runSample = [this] { ++samples; };
    hooks.videoLine = [this] { ++samples; };
    counter = addLiveObserver(hooks);
    sensor.clearRequests();
    return sensor;
}

void CountingProgramTest::answerFileDialog(const QString &file) {
    kvexplatform::setFileSelectHook(
        [file](const kvexplatform::FileSelectRequest &, std::string &chosen) {
            chosen = file.toStdString();
            return 2;
        });
    // A recording chosen there is one file, as it was before files could rotate.
    kvexplatform::setRecordingChoiceHook([](RecordingChoice &) { return 1; });
}

void CountingProgramTest::runCycles(const char *button, int cycles) {
    const int until = samples + cycles;
    whenever([&, until] { return samples >= until; }, [&] { click("BTNStop"); });
    click(button);
}
