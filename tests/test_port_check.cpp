// The port check as kvex-rtn-cli doctor in a process of its own (a missing device, a port another
// process holds, a silent line, a good sensor, ModemManager on the bus, a device of another group
// as user nobody), brltty's sign on a laid-out /sys and /proc, and the panel's Check port…
// window, idle, during run mode and with the adapter gone.
#include "platform/core/internal.h"
#include "platform/rs232.h"
#include "program_fixture.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace {

// A 36-byte echo request and its answer at 19 200 baud: the paced simulator answers no sooner
// (less the moment between its reading the first byte and the program starting its clock).
constexpr double kWireMs = 37.5;
constexpr double kClockSlackMs = 1.0;

struct DoctorRun {
    int exitCode = -1;
    QJsonObject report;
    QString text;
};

// kvex-rtn-cli doctor on a port, with --json unless text is asked for; prefix runs it through
// another program (setpriv).
DoctorRun runDoctor(const QString &port, bool json = true, QStringList prefix = {},
                    const QString &systemBus = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (!systemBus.isEmpty())
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", systemBus);
    process.setProcessEnvironment(env);
    QStringList args = prefix;
    args << KVEX_CLI_PATH << "--port" << port << "doctor";
    if (json)
        args << "--json";
    process.start(args.takeFirst(), args);
    DoctorRun run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.text = QString::fromUtf8(process.readAllStandardOutput());
    if (json)
        run.report = QJsonDocument::fromJson(run.text.toUtf8()).object();
    return run;
}

QJsonObject checkNamed(const QJsonObject &report, const QString &name) {
    for (const QJsonValue &check : report["checks"].toArray())
        if (check["name"].toString() == name)
            return check.toObject();
    return {};
}

TEST(DoctorTest, EachFindingWithItsVerdictFixAndExitCode) {
    enum Setup { kMissing, kHeld, kSilent, kSensor };
    struct Case {
        const char *name;
        Setup setup;
        const char *check;
        const char *result;
        QString detail;
        const char *fix;
        int exitCode;
    };
    const QString self = QString::number(QCoreApplication::applicationPid());
    const Case cases[] = {
        {"missing device", kMissing, "device", "fail", "no such device /dev/ttyKVEXgone0",
         "choose another port (", 3},
        {"held by another process", kHeld, "in_use", "fail", "process " + self + ")",
         "quit that program", 3},
        {"silent line", kSilent, "line", "fail", "Timeout-RS-232...", "null-modem cable", 3},
        {"good sensor", kSensor, "sensor", "ok", "firmware \"", "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        kvexsim::SensorSim sensor(*kvexsim::findProfile("standard"));
        ASSERT_TRUE(sensor.openPty());
        if (c.setup == kSensor)
            sensor.start();
        QSerialPort holder(QString::fromStdString(sensor.devicePath()));
        if (c.setup == kHeld)
            ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
        const QString port = c.setup == kMissing ? QString("/dev/ttyKVEXgone0")
                                                 : QString::fromStdString(sensor.devicePath());

        const DoctorRun run = runDoctor(port);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.text.toStdString();
        const QJsonObject check = checkNamed(run.report, c.check);
        EXPECT_EQ(check["result"].toString(), c.result) << run.text.toStdString();
        EXPECT_TRUE(check["detail"].toString().contains(c.detail)) << run.text.toStdString();
        EXPECT_EQ(check["fix"].toString().isEmpty(), *c.fix == '\0') << run.text.toStdString();
        EXPECT_TRUE(check["fix"].toString().contains(c.fix)) << run.text.toStdString();
        EXPECT_EQ(run.report["ok"].toBool(), c.exitCode == 0);
        if (c.setup == kSensor) {
            // The simulator holds its own end of the line; that is no other program.
            EXPECT_EQ(checkNamed(run.report, "in_use")["result"].toString(), "ok");
            EXPECT_EQ(checkNamed(run.report, "line")["result"].toString(), "ok");
            EXPECT_EQ(checkNamed(run.report, "latency_timer")["result"].toString(), "skip");
            EXPECT_EQ(run.report["firmware"].toString().toStdString(),
                      sensor.profile().firmwareText);
            EXPECT_GE(run.report["answer_ms"].toDouble(), kWireMs - kClockSlackMs);
            EXPECT_LT(run.report["answer_ms"].toDouble(), 1500.0);
        }
    }

    // As text: one line per check, the fix under each failure.
    const QStringList lines = runDoctor("/dev/ttyKVEXgone0", false).text.split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "port /dev/ttyKVEXgone0");
    EXPECT_TRUE(lines[1].startsWith("FAIL  device         no such device"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].trimmed().startsWith("fix: plug the adapter in"))
        << lines[2].toStdString();
}

TEST(DoctorTest, ModemManagerOnTheSystemBusWarnsWithItsUdevRuleAndNoBusSkips) {
    // A bus of the test's own stands in for the system bus, ModemManager's name owned here.
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    if (!daemon.waitForStarted(5000))
        GTEST_SKIP() << "no dbus-daemon on this machine";
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    kvexsim::SensorSim sensor(*kvexsim::findProfile("standard"));
    ASSERT_TRUE(sensor.openPty());
    sensor.start();
    const QString port = QString::fromStdString(sensor.devicePath());
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, "modem-manager");
        ASSERT_TRUE(bus.registerService("org.freedesktop.ModemManager1"));
        const DoctorRun run = runDoctor(port, true, {}, address);
        // A warning: the sensor still answers.
        EXPECT_EQ(run.exitCode, 0) << run.text.toStdString();
        const QJsonObject check = checkNamed(run.report, "modem_manager");
        EXPECT_EQ(check["result"].toString(), "warn") << run.text.toStdString();
        EXPECT_TRUE(check["fix"].toString().contains("ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee "))
            << run.text.toStdString();
        bus.unregisterService("org.freedesktop.ModemManager1");
        EXPECT_EQ(checkNamed(runDoctor(port, true, {}, address).report, "modem_manager")["result"]
                      .toString(),
                  "ok");
    }
    QDBusConnection::disconnectFromBus("modem-manager");
    daemon.terminate();
    daemon.waitForFinished(5000);
    const DoctorRun noBus = runDoctor(port, true, {}, "unix:path=/nonexistent/bus");
    EXPECT_EQ(checkNamed(noBus.report, "modem_manager")["result"].toString(), "skip");
    EXPECT_EQ(noBus.exitCode, 0);
}

TEST(BrlttyCheckTest, AnAdapterLeftWithoutItsTtyWhileBrlttyRunsIsAWarning) {
    struct Case {
        const char *name;
        const char *vendor;
        const char *product;
        bool tty;
        const char *process;
        const char *result;
    };
    const Case cases[] = {
        {"CH340 without its tty, brltty running", "1a86", "7523", false, "brltty", "warn"},
        {"CP210x with its tty, brltty running", "10c4", "ea60", true, "brltty", "ok"},
        {"CH340 without its tty, no brltty", "1a86", "7523", false, "bash", "ok"},
        {"another chip without a tty, brltty running", "0403", "6001", false, "brltty", "ok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // The parts of /sys and /proc the check reads, as the kernel lays them out.
        QTemporaryDir root;
        const QDir dir(root.path());
        const QString adapter = "sys/bus/usb/devices/1-2";
        ASSERT_TRUE(dir.mkpath(adapter + "/1-2:1.0" + (c.tty ? "/ttyUSB0" : "")));
        ASSERT_TRUE(dir.mkpath("proc/4242"));
        const auto write = [&](const QString &path, const char *text) {
            QFile file(dir.filePath(path));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(text) + "\n");
        };
        write(adapter + "/idVendor", c.vendor);
        write(adapter + "/idProduct", c.product);
        write("proc/4242/comm", c.process);
        const PortCheck check = kvexplatform::checkBrlttyUnder(dir.filePath("sys").toStdString(),
                                                               dir.filePath("proc").toStdString());
        EXPECT_STREQ(checkResultName(check.result), c.result) << check.detail;
        if (check.result == CheckResult::Warn) {
            EXPECT_NE(check.detail.find("CH340 adapter 1a86:7523 (USB 1-2) has no tty"),
                      std::string::npos)
                << check.detail;
            EXPECT_NE(check.detail.find("process 4242"), std::string::npos) << check.detail;
            EXPECT_NE(check.fix.find("sudo systemctl mask brltty-udev.service"), std::string::npos);
        }
    }
}

TEST(LatencyTimerCheckTest, AboveOneMillisecondWarnsWithTheRuleAndTheSysfsLine) {
    struct Case {
        int ms;
        const char *result;
    };
    const Case cases[] = {{-1, "skip"}, {0, "ok"}, {1, "ok"}, {2, "warn"}, {16, "warn"}};
    for (const Case &c : cases) {
        const PortCheck check = kvexplatform::latencyTimerFinding(c.ms, "ttyUSB3");
        EXPECT_STREQ(checkResultName(check.result), c.result) << c.ms << " ms";
        EXPECT_EQ(check.fix.empty(), check.result != CheckResult::Warn) << c.ms << " ms";
        if (check.result == CheckResult::Warn) {
            EXPECT_NE(check.detail.find(std::to_string(c.ms) + " ms"), std::string::npos);
            EXPECT_NE(check.fix.find("/usr/lib/udev/rules.d/60-kvex-rtn.rules"), std::string::npos);
            EXPECT_NE(
                check.fix.find("echo 1 | sudo tee /sys/class/tty/ttyUSB3/device/latency_timer"),
                std::string::npos)
                << check.fix;
        }
    }
}

TEST(DoctorPermissionTest, GroupAndLoginAsUserNobody) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a device to another group and run as nobody";
    const group *dialout = getgrnam("dialout");
    const gid_t serialGroup = dialout ? dialout->gr_gid : 0;
    const QString serialName = dialout ? "dialout" : "root";
    // nobody's own group in the database, but not this login's when it starts with another one.
    constexpr gid_t kNobodysGroup = 65534;
    struct Case {
        const char *name;
        mode_t mode;
        gid_t deviceGroup;
        gid_t loginGroup;
        QString detail;
        QString fix;
    };
    const Case cases[] = {
        {"not a member", 0660, serialGroup, kNobodysGroup, "user \"nobody\" is not in that group",
         "sudo usermod -aG " + serialName + " nobody"},
        {"member since this login", 0660, kNobodysGroup, serialGroup,
         "\"nobody\" is in that group, but this login began before it joined",
         "log out and in again"},
        {"owner only", 0600, serialGroup, kNobodysGroup, "only its owner \"root\" may open it",
         "read and write access with a udev rule"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        kvexsim::SensorSim sensor(*kvexsim::findProfile("standard"));
        ASSERT_TRUE(sensor.openPty());
        const std::string path = sensor.devicePath();
        ASSERT_EQ(chown(path.c_str(), 0, c.deviceGroup), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        const DoctorRun run =
            runDoctor(QString::fromStdString(path), true,
                      {"setpriv", "--reuid=65534", QString("--regid=%1").arg(c.loginGroup),
                       "--clear-groups"});
        EXPECT_EQ(run.exitCode, 3) << run.text.toStdString();
        const QJsonObject access = checkNamed(run.report, "access");
        EXPECT_EQ(access["result"].toString(), "fail") << run.text.toStdString();
        EXPECT_TRUE(access["detail"].toString().contains(c.detail)) << run.text.toStdString();
        EXPECT_TRUE(access["fix"].toString().contains(c.fix)) << run.text.toStdString();
        EXPECT_EQ(checkNamed(run.report, "line")["result"].toString(), "skip");
    }
}

class PortCheckWindowTest : public ProgramTest {
  protected:
    QString checkPort() {
        click("BTNCheckPort");
        auto *view = find<QPlainTextEdit>("TEXTPortCheck");
        return view && view->window()->isVisible() ? view->toPlainText() : QString();
    }
};

TEST_F(PortCheckWindowTest, ChecksTheConnectedPortIdleAndDuringRunMode) {
    kvexsim::SensorSim &sensor = startSensor();
    ASSERT_TRUE(startProgram());
    const QString idle = checkPort();
    // The program's own hold on the port is not another program's.
    EXPECT_TRUE(idle.contains("\nOK    in_use ")) << idle.toStdString();
    EXPECT_TRUE(idle.contains("\nOK    line           the echo came back in "))
        << idle.toStdString();
    EXPECT_TRUE(idle.contains(QString::fromStdString(sensor.profile().firmwareText)))
        << idle.toStdString();
    // The check leaves the port connected.
    click("BTNGet");
    EXPECT_EQ(status(), "Parameter-frame received! - Line Ok!");

    QString running;
    whenever([&] { return sensor.requests().size() >= 10; },
             [&] {
                 running = checkPort();
                 click("BTNStop");
             });
    click("BTNRun");
    EXPECT_TRUE(running.contains("\nOK    in_use ")) << running.toStdString();
    EXPECT_TRUE(running.contains("\nSKIP  line           the program is using the port"))
        << running.toStdString();

    // The adapter pulled out: the device check says so, with the fix.
    bindPortDevice(1, "/dev/ttyUSB9");
    const QString gone = checkPort();
    EXPECT_TRUE(gone.contains("\nFAIL  device         no such device /dev/ttyUSB9\n"
                              "                     fix: plug the adapter in"))
        << gone.toStdString();
    if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR"))
        find<QWidget>("PortCheckWindow")->grab().save(QString("%1/port-check.png").arg(folder));
}

} // namespace
