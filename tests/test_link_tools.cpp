// The traffic monitor over a real GET, its marks, pause, save and release on close; and the
// Reconnect offer when the unplugged device comes back.
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/rs232link.h"
#include "com232/traffic.h"
#include "platform/qtaccess.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "program_fixture.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

namespace {

class LinkToolsTest : public ProgramTest {
  protected:
    QAbstractItemModel *openMonitor() {
        click("BTNTraffic");
        auto *table = find<QTableView>("TABLETraffic");
        return table ? table->model() : nullptr;
    }

    QString cell(QAbstractItemModel *model, int row, int column) const {
        return model->index(row, column).data().toString();
    }

    // The rows the monitor shows after the table has caught up with `count` frames.
    bool waitForRows(QAbstractItemModel *model, int count) {
        return waitUntil([&] { return model->rowCount() >= count; }, 5.0);
    }

    void choosePortOne() {
        auto *ports = find<QComboBox>("DropDCom");
        emit ports->activated(ports->findData(1));
    }
};

enum Column { kTime, kDirection, kCode, kBytes, kWords, kMarks };

TEST_F(LinkToolsTest, MonitorShowsTheFramesOfAGet) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    EXPECT_FALSE(trafficRunning());
    QAbstractItemModel *model = openMonitor();
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(trafficRunning());
    EXPECT_EQ(model->rowCount(), 0);

    click("BTNGet");
    ASSERT_TRUE(waitForRows(model, 2));
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(cell(model, 0, kDirection), "out");
    EXPECT_EQ(cell(model, 0, kCode), "2");
    EXPECT_EQ(cell(model, 0, kBytes), "36");
    EXPECT_EQ(cell(model, 1, kDirection), "in");
    EXPECT_EQ(cell(model, 1, kCode), "2");
    EXPECT_EQ(cell(model, 1, kBytes), "36/36");
    QStringList ram;
    for (uint16_t w : sensor.ram())
        ram << QString::number(w);
    EXPECT_EQ(cell(model, 1, kWords), ram.join(' '));
    EXPECT_EQ(cell(model, 1, kMarks), "");
    EXPECT_LE(cell(model, 0, kTime).toDouble(), cell(model, 1, kTime).toDouble());
}

TEST_F(LinkToolsTest, SpoiledAnswersAreMarked) {
    struct Case {
        int command;
        kvexsim::Fault fault;
        const char *mark;
    };
    const Case cases[] = {
        {2, {kvexsim::FaultKind::WrongSync, 1, 0.0, 1}, "BAD-SYNC(0x00BB)"},
        {2, {kvexsim::FaultKind::Late, 1, 1.8, 1}, "LATE"},
        {7, {kvexsim::FaultKind::Short, 3, 0.0, 1}, "SHORT"},
    };
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    QAbstractItemModel *model = openMonitor();
    ASSERT_NE(model, nullptr);
    for (const Case &c : cases) {
        find<QPushButton>("BTNTrafficClear")->click();
        sensor.setFault(c.command, c.fault);
        // GET asks with command 2; choosing the port again runs the whole connection sequence.
        if (c.command == 2)
            click("BTNGet");
        else
            choosePortOne();
        const QString code = QString::number(c.command);
        int marked = -1;
        waitUntil(
            [&] {
                for (int row = 0; row < model->rowCount(); ++row)
                    if (cell(model, row, kDirection) == "in" && cell(model, row, kCode) == code &&
                        !cell(model, row, kMarks).isEmpty())
                        marked = row;
                return marked >= 0;
            },
            5.0);
        ASSERT_GE(marked, 0) << c.mark;
        EXPECT_EQ(cell(model, marked, kMarks), QString(c.mark));
        EXPECT_EQ(model->index(marked, kMarks).data(Qt::ForegroundRole).value<QBrush>().color(),
                  QColor(Qt::red));
        sensor.clearFaults();
    }
}

TEST_F(LinkToolsTest, PausedMonitorKeepsItsRowsSavesThemAndClosingFreesIt) {
    startSensor();
    ASSERT_TRUE(startProgram());
    QAbstractItemModel *model = openMonitor();
    ASSERT_NE(model, nullptr);
    click("BTNGet");
    ASSERT_TRUE(waitForRows(model, 2));

    click("BTNTrafficPause");
    click("BTNGet");
    waitUntil([] { return false; }, 0.6);
    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(trafficFrames().size(), 2u);

    QTemporaryDir dir;
    const QString path = dir.filePath("traffic.txt");
    kvexplatform::setFileSelectHook([&](const kvexplatform::FileSelectRequest &, std::string &out) {
        out = path.toStdString();
        return VAL_NEW_FILE_SELECTED;
    });
    click("BTNTrafficSave");
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "time (s)\tdir\tcode\tbytes\twords\tmarks");
    EXPECT_TRUE(lines[1].contains("\tout\t2\t36\t"));
    EXPECT_TRUE(find<QLabel>("TEXTTrafficStatus")->text().startsWith("Saved to "));

    find<QWidget>("TrafficWindow")->close();
    EXPECT_FALSE(trafficRunning());
    EXPECT_TRUE(trafficFrames().empty());
}

TEST_F(LinkToolsTest, ReconnectIsOfferedWhenTheDeviceIsBack) {
    kvexsim::SensorSim &sensor = startSensor();
    QTemporaryDir dir;
    const QString link = dir.filePath("sensor");
    ASSERT_TRUE(QFile::link(QString::fromStdString(sensor.devicePath()), link));
    bindPortDevice(1, link.toStdString());
    ASSERT_TRUE(startProgram());
    auto *reconnect = find<QPushButton>("BTNReconnect");
    EXPECT_FALSE(reconnect->isEnabled());

    // Unplugged: the device and its stable name vanish together.
    sensor.hangUp();
    QFile::remove(link);
    ASSERT_TRUE(waitUntil([] { return comDeviceGone(1); }, 5.0));
    waitUntil([] { return false; }, 1.2);
    EXPECT_FALSE(reconnect->isEnabled());

    ASSERT_TRUE(sensor.openPty());
    sensor.start();
    ASSERT_TRUE(QFile::link(QString::fromStdString(sensor.devicePath()), link));
    ASSERT_TRUE(waitUntil([&] { return reconnect->isEnabled(); }, 3.0));
    EXPECT_EQ(status(), "Device is back - press Reconnect!");

    sensor.clearRequests();
    click("BTNReconnect");
    EXPECT_EQ(status().trimmed(), "KVEX-RTN FW 2.20 standard");
    EXPECT_EQ(commands(), (std::vector<int>{5, 10, 2, 7}));
    EXPECT_FALSE(reconnect->isEnabled());
    EXPECT_FALSE(comDeviceGone(1));
}

} // namespace
