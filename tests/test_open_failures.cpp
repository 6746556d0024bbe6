// A port that does not open says why on the status line: no such device, permission denied, or
// in use by another program; over real pseudo-terminals.
#include "app/K-VEX-RTN-RedozU15.h"
#include "platform/rs232.h"
#include "program_fixture.h"

#include <QProcess>
#include <QSerialPort>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

// A pseudo-terminal whose device end stays free for the test to open.
class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            path_ = ptsname(master_);
    }
    ~Pty() {
        if (master_ >= 0)
            close(master_);
    }
    const std::string &path() const { return path_; }

  private:
    int master_ = -1;
    std::string path_;
};

class OpenFailureTest : public ProgramTest {};

TEST_F(OpenFailureTest, MissingDeviceSaysSoAndListsThePortsThere) {
    startSensor("standard", 2);
    const std::string present = portDevicePath(2);
    bindPortDevice(1, "/dev/ttyKVEXgone0");
    ASSERT_TRUE(startProgram());
    const std::string text = status().toStdString();
    EXPECT_EQ(text.rfind("Cannot open port: no such device /dev/ttyKVEXgone0 - ", 0), 0u) << text;
    EXPECT_NE(text.find("2: " + present), std::string::npos) << text;
    EXPECT_EQ(text.find("1: /dev/ttyKVEXgone0"), std::string::npos) << text;
}

TEST_F(OpenFailureTest, PortInUseNamesTheProgramHoldingIt) {
    Pty pty;
    ASSERT_FALSE(pty.path().empty());
    QSerialPort holder(QString::fromStdString(pty.path()));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    bindPortDevice(1, pty.path());
    ASSERT_TRUE(startProgram());
    const std::string text = status().toStdString();
    EXPECT_EQ(text.rfind("Cannot open port: " + pty.path() + " is in use by another program (", 0),
              0u)
        << text;
    EXPECT_NE(text.find("process " + std::to_string(getpid()) + ")"), std::string::npos) << text;

    // Once the other program lets go, the same port opens.
    holder.close();
    stopProgram();
    ASSERT_TRUE(startProgram());
    EXPECT_EQ(status().toStdString().find("Cannot open port"), std::string::npos);
}

TEST(OpenFailurePermissionTest, PermissionDeniedNamesTheGroupThatGivesAccess) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a device another user may not open";
    const group *dialout = getgrnam("dialout");
    const gid_t groupId = dialout ? dialout->gr_gid : 0;
    const std::string groupName = dialout ? "dialout" : "root";
    struct Case {
        mode_t mode;
        gid_t group;
        std::string advice;
    };
    const Case cases[] = {
        {0660, groupId, "add the user to group \"" + groupName + "\""},
        {0600, 0, "only its owner \"root\" may open it (mode 0600)"},
    };
    for (const Case &c : cases) {
        Pty pty;
        ASSERT_FALSE(pty.path().empty());
        ASSERT_EQ(chown(pty.path().c_str(), 0, c.group), 0);
        ASSERT_EQ(chmod(pty.path().c_str(), c.mode), 0);
        QProcess probe;
        probe.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                KVEX_OPEN_PROBE_PATH, QString::fromStdString(pty.path())});
        ASSERT_TRUE(probe.waitForFinished(20000));
        const std::string text = probe.readAllStandardOutput().toStdString();
        EXPECT_EQ(text.rfind("Cannot open port: permission denied on " + pty.path() + " - ", 0), 0u)
            << text << probe.readAllStandardError().toStdString();
        EXPECT_NE(text.find(c.advice), std::string::npos) << text;
        EXPECT_NE(text.find("log in again"), std::string::npos) << text;
    }
}

} // namespace
