// kvex-rtn-cli run as its own process, with no display, against a simulated sensor on a
// pseudo-terminal: every command, its files, its exit codes, waiting for a lost device, its
// language and its files under a German locale; and the panel program opening the port given
// with --port.
#include "sim/sensorsim.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

QStringList readLines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        sensor = std::make_unique<kvexsim::SensorSim>(*kvexsim::findProfile("standard"));
        ASSERT_TRUE(sensor->openPty());
        sensor->start();
    }

    QString port() const { return QString::fromStdString(sensor->devicePath()); }
    QString file(const char *name) const { return dir.filePath(name); }

    // No display and no platform plug-in: the tool must need neither. English, whatever the
    // machine's language, unless a test asks for the locale's own (no --lang, the locale given).
    void startCli(QProcess &process, const QStringList &args, const QStringList &locale = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        if (!locale.isEmpty())
            for (const char *name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_NUMERIC"})
                env.remove(name);
        for (const QString &setting : locale)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        process.setProcessEnvironment(env);
        process.start(KVEX_CLI_PATH, locale.isEmpty() ? QStringList{"--lang", "en"} + args : args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    CliResult finish(QProcess &process) {
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    CliResult cli(const QStringList &args, const QStringList &locale = {}) {
        QProcess process;
        startCli(process, args, locale);
        return finish(process);
    }

    void writeWords(const QString &path, const kvexsim::Words &words) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Text));
        for (uint16_t w : words)
            out.write(QByteArray::number(w).rightJustified(5, ' ') + '\n');
    }

    QTemporaryDir dir;
    std::unique_ptr<kvexsim::SensorSim> sensor;
};

TEST_F(CliTest, IdentifiesTheSensorAsTextAndJson) {
    const CliResult text = cli({"--port", port(), "identify"});
    EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains("firmware:         KVEX-RTN FW 2.20 standard"))
        << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("pixels:           1024"));
    EXPECT_TRUE(text.err.isEmpty()) << text.err.toStdString();

    const CliResult json = cli({"--json", "--port", port(), "identify"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_TRUE(json.out.contains("\"firmware\":\"KVEX-RTN FW 2.20 standard\""))
        << json.out.toStdString();
    EXPECT_TRUE(json.out.contains("\"sensor_type\":1,"));
    EXPECT_TRUE(json.out.contains("\"firmware_version\":"));
    EXPECT_TRUE(json.out.contains("\"pixels\":1024,"));
    EXPECT_TRUE(json.out.contains("\"positions\":"));
}

TEST_F(CliTest, GetWritesTheParameterFileTheSendCommandReadsBack) {
    kvexsim::Words eeprom = sensor->eeprom();
    eeprom[1] = 1;
    eeprom[8] = 640;
    sensor->setEeprom(eeprom);
    const CliResult got = cli({"--port", port(), "get", "--from", "eeprom", "-o", file("p.dat")});
    ASSERT_EQ(got.exitCode, 0) << got.err.toStdString();
    const QStringList lines = readLines(file("p.dat"));
    ASSERT_EQ(lines.size(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(lines[i], QString::number(eeprom[i]).rightJustified(5, ' ')) << i;

    const CliResult json = cli({"--port", port(), "--json", "get", "--from", "eeprom"});
    EXPECT_TRUE(json.out.startsWith("{\"memory\":\"eeprom\",\"words\":[500,1,"))
        << json.out.toStdString();
    // By name too, under the gateway's keys.
    EXPECT_TRUE(json.out.contains(",\"params\":{\"power\":500,\"p_mode\":1,\"v_thd\":"))
        << json.out.toStdString();

    kvexsim::Words changed = sensor->ram();
    changed[0] = 700;
    changed[9] = 55;
    writeWords(file("new.dat"), changed);
    const CliResult sent = cli({"--port", port(), "send", "--to", "ram", file("new.dat")});
    EXPECT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    EXPECT_EQ(sensor->ram(), changed);
}

// diff: exit codes as diff(1) gives them, one line per word that differs (JSON with --json), and an
// approved file that cannot be one refused before the sensor is spoken to.
TEST_F(CliTest, DiffComparesRamEepromAndTheApprovedSetWithDiffsExitCodes) {
    const kvexsim::Words approved = sensor->eeprom();
    writeWords(file("approved.dat"), approved);
    QFile bad(file("bad.dat"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("1 2 three\n");
    bad.close();
    kvexsim::Words unfit = approved;
    unfit[2] = 10; // below the panel's least video threshold
    writeWords(file("unfit.dat"), unfit);
    kvexsim::Words tuned = approved;
    tuned[9] = static_cast<uint16_t>(approved[9] + 50);
    struct Case {
        const char *what;
        kvexsim::Words ram, eeprom;
        QStringList args;
        int exitCode;
        QString out, err;
    };
    const QString tolerance = "Tolerance (word 9): approved " + QString::number(approved[9]);
    const Case cases[] = {
        {"all agree",
         approved,
         approved,
         {"--golden", file("approved.dat")},
         0,
         "RAM, EEPROM and the approved set agree\n",
         ""},
        {"without an approved set", approved, approved, {}, 0, "RAM and EEPROM agree\n", ""},
        {"unsaved",
         tuned,
         approved,
         {"--golden", file("approved.dat")},
         1,
         tolerance + ", EEPROM " + QString::number(approved[9]) + ", RAM " +
             QString::number(tuned[9]) + "\n",
         ""},
        {"EEPROM changed",
         tuned,
         tuned,
         {"--golden", file("approved.dat")},
         1,
         tolerance + ", EEPROM " + QString::number(tuned[9]) + ", RAM " +
             QString::number(tuned[9]) + "\n",
         ""},
        {"not a number",
         approved,
         approved,
         {"--golden", file("bad.dat")},
         2,
         "",
         "is no approved parameter set"},
        {"outside the panel's limits",
         approved,
         approved,
         {"--golden", file("unfit.dat")},
         2,
         "",
         "Video threshold (word 2) is 10"},
        {"missing",
         approved,
         approved,
         {"--golden", file("none.dat")},
         2,
         "",
         "Cannot open parameter file none.dat"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sensor->setRam(c.ram);
        sensor->setEeprom(c.eeprom);
        sensor->clearRequests();
        const CliResult r = cli(QStringList{"--port", port(), "diff"} + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_EQ(r.out, c.out);
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        if (c.exitCode == 2)
            EXPECT_TRUE(sensor->requests().empty());
    }
    sensor->setRam(tuned);
    sensor->setEeprom(approved);
    const CliResult json =
        cli({"--port", port(), "--json", "diff", "--golden", file("approved.dat")});
    EXPECT_EQ(json.exitCode, 1);
    const QJsonObject found = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(found["golden"], true);
    EXPECT_EQ(found["ram_eeprom"], 1);
    EXPECT_EQ(found["eeprom_golden"], 0);
    EXPECT_EQ(found["ram_golden"], 1);
    const QJsonObject word = found["words"].toArray().at(0).toObject();
    EXPECT_EQ(word["key"], "t_tol");
    EXPECT_EQ(word["ram"], tuned[9]);
    const CliResult plain = cli({"--port", port(), "--json", "diff"});
    EXPECT_TRUE(QJsonDocument::fromJson(plain.out.toUtf8()).object()["eeprom_golden"].isNull())
        << plain.out.toStdString();
}

// propose over the simulator's line (lit 818, shadow 102): the threshold halfway, the window
// round the object; applied, it is checked by measuring before anything is stored, and a check
// that fails (the run-mode answers stop) leaves RAM as it was; a line without an object gets no
// proposal and exit code 3. The check fails when the light fades fast (15 % a second) while it
// measures.
TEST_F(CliTest, ProposeAppliesOnlyWhatItCheckedAndLeavesTheSensorAsItWasOtherwise) {
    const kvexsim::Words ram = sensor->ram(), eeprom = sensor->eeprom();
    const struct {
        const char *name;
        std::vector<uint16_t> object;
        QStringList args;
        double dimPerHour; // the light fading while it measures
        int exitCode;
        const char *json; // a part of the JSON answer
        bool stored;      // the proposal reached RAM (and, with eeprom, the EEPROM)
    } cases[] = {
        {"shown only", {400, 560}, {"propose"}, 0, 0, "\"proposed\":true,\"v_thd\":460,", false},
        {"applied",
         {400, 560},
         {"propose", "--apply", "eeprom"},
         0,
         0,
         "\"applied\":\"eeprom\"",
         true},
        {"check fails",
         {400, 560},
         {"propose", "--apply", "ram"},
         54000,
         4,
         "\"restored\":true",
         false},
        {"no object", {2000, 2100}, {"propose"}, 0, 3, "\"reason\":\"no_edge\"", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sensor->setRam(ram);
        sensor->setEeprom(eeprom);
        sensor->setObject(c.object[0], c.object[1]);
        sensor->setDimming(c.dimPerHour);
        const CliResult r = cli(QStringList{"--json", "--port", port()} + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(c.json)) << r.out.toStdString();
        const kvexsim::Words now = sensor->ram();
        if (!c.stored) {
            EXPECT_EQ(now, ram) << "RAM changed";
            EXPECT_EQ(sensor->eeprom(), eeprom);
            continue;
        }
        EXPECT_EQ(now[2], 460);
        EXPECT_LT(now[6], 400u);
        EXPECT_GT(now[7], 560u);
        EXPECT_EQ(sensor->eeprom(), now) << "the EEPROM got another set than RAM";
        for (int word : {0, 1, 3, 4, 5, 8, 9})
            EXPECT_EQ(now[word], ram[word]) << word;
    }
}

TEST_F(CliTest, ACorruptedReadBackNamesTheDifferingWords) {
    writeWords(file("set.dat"), sensor->eeprom());
    // Identification reads RAM; the EEPROM's answers come back spoiled: the read before the
    // write (which then goes ahead, as asked for) and the read-back after it.
    sensor->setFault(4, {kvexsim::FaultKind::Garbage, 1, 0.0, 2});
    const CliResult sent = cli({"--port", port(), "send", "--to", "eeprom", file("set.dat")});
    EXPECT_EQ(sent.exitCode, 4);
    EXPECT_TRUE(sent.err.startsWith("kvex-rtn-cli: read-back from eeprom differs from "))
        << sent.err.toStdString();
    EXPECT_TRUE(sent.err.contains("word 0 (sent 500, read ")) << sent.err.toStdString();
    EXPECT_EQ(sent.err.count('\n'), 1);
}

TEST_F(CliTest, SendRefusesWordsThePanelWouldChangeAndSendsNothing) {
    const kvexsim::Words eeprom = sensor->eeprom();
    struct Case {
        const char *what;
        std::vector<std::pair<int, QByteArray>> lines; // 0-based line, its text
        QStringList messages;                          // one stderr line each, in order
        bool identified; // the window's end is the sensor's: checked after identification
    };
    const Case cases[] = {
        {"evaluation mode 7",
         {{5, "7"}},
         {"line 6: Evaluation mode (word 5) is 7, allowed 0 to 4"}},
        {"above 16 bits",
         {{0, "70000"}},
         {"line 1: Power (word 0) is 70000, above 65535 (allowed 0 to 1000)"}},
        {"negative",
         {{2, "-5"}},
         {"line 3: Video threshold (word 2) is -5, a negative number (allowed 50 to 950)"}},
        {"several",
         {{3, "8"}, {12, "99999999999"}},
         {"line 4: Analogue output mode (word 3) is 8, allowed 0 to 7",
          "line 13: Word 12 (word 12) is 99999999999, above 65535 (allowed 0 to 65535)"}},
        {"window beyond the sensor",
         {{7, "1025"}},
         {"line 8: Evaluation right (word 7) is 1025, allowed 1 to 1024"},
         true},
    };
    for (const char *memory : {"ram", "eeprom"}) {
        for (const Case &c : cases) {
            QList<QByteArray> text;
            for (uint16_t w : eeprom)
                text << QByteArray::number(w);
            for (const auto &[line, content] : c.lines)
                text[line] = content;
            QFile out(file("bad.dat"));
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(text.join('\n') + '\n');
            out.close();
            sensor->clearRequests();

            const CliResult r = cli({"--port", port(), "send", "--to", memory, file("bad.dat")});
            const QString name = QString(memory) + ", " + c.what;
            EXPECT_EQ(r.exitCode, 5) << name.toStdString();
            const QStringList lines = r.err.split('\n', Qt::SkipEmptyParts);
            ASSERT_EQ(lines.size(), c.messages.size() + 1) << r.err.toStdString();
            for (int i = 0; i < c.messages.size(); ++i)
                EXPECT_EQ(lines[i], "kvex-rtn-cli: " + file("bad.dat") + " " + c.messages[i]);
            EXPECT_TRUE(lines.last().endsWith(" - nothing sent")) << r.err.toStdString();
            // What the simulator received: nothing, or only the identification.
            std::vector<int> commands;
            for (const kvexsim::Request &request : sensor->requests())
                commands.push_back(request.command());
            const std::vector<int> identification = {5, 10, 2, 7};
            EXPECT_EQ(commands, c.identified ? identification : std::vector<int>())
                << name.toStdString();
        }
    }
    EXPECT_EQ(sensor->eeprom(), eeprom);
}

TEST_F(CliTest, SendOfTheSetTheEepromHoldsSaysNothingWasSentAndComparesNothing) {
    writeWords(file("same.dat"), sensor->eeprom());
    sensor->clearRequests();
    const CliResult r = cli({"--port", port(), "send", "--to", "eeprom", file("same.dat")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "eeprom already holds " + file("same.dat") + " - nothing sent\n");
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    // Identification, then the one EEPROM read the comparison needs; no write, no read-back.
    std::vector<int> commands;
    for (const kvexsim::Request &request : sensor->requests())
        commands.push_back(request.command());
    EXPECT_EQ(commands, (std::vector<int>{5, 10, 2, 7, 4}));
}

TEST_F(CliTest, RunAndVideoWriteTheAskedNumberOfRows) {
    const CliResult run =
        cli({"--port", port(), "run", "--cycles", "25", "--csv", file("run.csv")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList runRows = readLines(file("run.csv"));
    ASSERT_EQ(runRows.size(), 26);
    EXPECT_TRUE(runRows[0].startsWith("time (UTC),left edge (units),"));
    EXPECT_EQ(runRows[1].count(','), runRows[0].count(','));

    const CliResult video =
        cli({"--port", port(), "video", "--lines", "3", "--csv", file("v.csv"), "--json"});
    ASSERT_EQ(video.exitCode, 0) << video.err.toStdString();
    QStringList videoRows = readLines(file("v.csv"));
    ASSERT_EQ(videoRows.size(), 5);
    // The first line's reserve above the header: the simulator's clean lit level 818 over the
    // threshold word 512 (docs/signal-reserve.md).
    const QString comment = videoRows.takeFirst();
    EXPECT_TRUE(comment.startsWith("# signal_reserve=0.5")) << comment.toStdString();
    EXPECT_TRUE(comment.contains(" reserve_state=ok contrast=0.")) << comment.toStdString();
    const QJsonObject summary = QJsonDocument::fromJson(video.out.toUtf8()).object();
    EXPECT_NEAR(summary["signal_reserve"].toDouble(), 818.4 / 512 - 1, 0.03);
    EXPECT_EQ(summary["reserve_state"], "ok");
    EXPECT_GT(summary["contrast"].toDouble(), 0.7);
    EXPECT_EQ(summary["saturated"], false);
    EXPECT_EQ(summary["rows"], 3);
    EXPECT_TRUE(videoRows[0].endsWith(",sample 255,threshold (units)"));
    for (const QString &row : videoRows)
        EXPECT_EQ(row.split(',').size(), 4 + 256 + 1);
}

// run --csv through the recorder's files: a rotating recording named by its start time, every
// Nth video line beside it, and options that do not fit together refused.
TEST_F(CliTest, RunRecordsRotatingFilesWithVideoLines) {
    QDir(dir.path()).mkdir("rot");
    const CliResult run =
        cli({"--port", port(), "run", "--cycles", "20", "--csv", file("rot/run.csv"),
             "--rotate-hours", "1", "--keep-mb", "100", "--video-every", "4", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("\"files\":1")) << run.out.toStdString();
    // The video file's name sorts first.
    const QStringList names = QDir(file("rot")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 2) << names.join(' ').toStdString();
    EXPECT_TRUE(QRegularExpression(R"(^run-\d{8}T\d{6}Z\.csv$)").match(names[1]).hasMatch());
    EXPECT_EQ(names[0], QString(names[1]).replace(".csv", "-video.csv"));
    EXPECT_EQ(readLines(file("rot/") + names[1]).size(), 21);
    const QStringList video = readLines(file("rot/") + names[0]);
    ASSERT_EQ(video.size(), 1 + 20 / 4);
    for (const QString &row : video)
        EXPECT_EQ(row.split(',').size(), 4 + 256 + 1);

    const QStringList refused[] = {{"--keep-mb", "10"},
                                   {"--rotate-hours", "1", "--rotate-mb", "5"},
                                   {"--rotate-mb", "0"},
                                   {"--video-every", "x"}};
    for (const QStringList &options : refused) {
        const CliResult bad =
            cli(QStringList{"--port", port(), "run", "--cycles", "2", "--csv", file("bad.csv")} +
                options);
        EXPECT_EQ(bad.exitCode, 2) << options.join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(file("bad.csv")));
    }
    const CliResult videoOnly = cli({"--port", port(), "video", "--lines", "2", "--csv",
                                     file("bad.csv"), "--video-every", "2"});
    EXPECT_EQ(videoOnly.exitCode, 2);
    EXPECT_FALSE(QFile::exists(file("bad.csv")));
}

TEST_F(CliTest, FailuresExitWithTheirCodeAndOneLine) {
    QFile bad(file("bad.dat"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("1 2 three\n");
    bad.close();
    struct Case {
        const char *what;
        int silentCommand; // a command the sensor does not answer, or 0
        kvexsim::FaultKind fault;
        QStringList args;
        int exitCode;
        const char *message;
    };
    const Case cases[] = {
        {"no port", 0, kvexsim::FaultKind::None, {"identify"}, 2, "--port PORT is needed"},
        {"unknown command",
         0,
         kvexsim::FaultKind::None,
         {"--port", port(), "fly"},
         2,
         "unknown command"},
        {"no count",
         0,
         kvexsim::FaultKind::None,
         {"--port", port(), "run", "--csv", file("x.csv")},
         2,
         "--cycles N"},
        {"no device",
         0,
         kvexsim::FaultKind::None,
         {"--port", file("none"), "identify"},
         3,
         "cannot use port"},
        {"silent sensor",
         5,
         kvexsim::FaultKind::Silence,
         {"--port", port(), "identify"},
         3,
         "no answer"},
        {"wrong sync",
         5,
         kvexsim::FaultKind::WrongSync,
         {"--port", port(), "identify"},
         4,
         "bad answer"},
        {"bad file",
         0,
         kvexsim::FaultKind::None,
         {"--port", port(), "send", "--to", "ram", file("bad.dat")},
         5,
         "holds text that is not a number"},
        {"no file",
         0,
         kvexsim::FaultKind::None,
         {"--port", port(), "send", "--to", "ram", file("none.dat")},
         5,
         "Cannot open parameter file none.dat"},
    };
    for (const Case &c : cases) {
        sensor->clearFaults();
        sensor->clearRequests();
        if (c.silentCommand)
            sensor->setFault(c.silentCommand, {c.fault, 1, 0.0, -1});
        const CliResult r = cli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what;
        EXPECT_TRUE(r.err.startsWith("kvex-rtn-cli: ") && r.err.contains(c.message))
            << c.what << ": " << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << c.what;
        // A file that cannot be used is refused before the sensor is spoken to.
        if (c.exitCode == 5)
            EXPECT_TRUE(sensor->requests().empty()) << c.what;
    }
}

TEST_F(CliTest, WaitsForTheDeviceAndForItsReturnDuringARun) {
    // A stable name for a device whose own path changes, as udev gives a USB adapter.
    const QString link = file("sensor");
    QProcess late;
    startCli(late, {"--wait", "--port", link, "identify"});
    late.waitForFinished(700);
    EXPECT_EQ(late.state(), QProcess::Running);
    ASSERT_TRUE(QFile::link(port(), link));
    const CliResult identified = finish(late);
    EXPECT_EQ(identified.exitCode, 0) << identified.err.toStdString();

    QProcess run;
    startCli(run, {"--wait", "--port", link, "run", "--cycles", "60", "--csv", file("r.csv")});
    ASSERT_TRUE(sensor->waitForRequests(20, 20.0));
    // Unplugged: the device and its stable name vanish together.
    sensor->hangUp();
    QFile::remove(link);
    run.waitForFinished(2500);
    ASSERT_EQ(run.state(), QProcess::Running);
    ASSERT_TRUE(sensor->openPty());
    sensor->start();
    ASSERT_TRUE(QFile::link(port(), link));
    const CliResult result = finish(run);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("is gone, waiting for it to come back"));
    EXPECT_EQ(readLines(file("r.csv")).size(), 61);
    // It identified the sensor again on the new device before going on.
    bool identifiedAgain = false;
    for (const kvexsim::Request &r : sensor->requests())
        identifiedAgain = identifiedAgain || r.command() == 10;
    EXPECT_TRUE(identifiedAgain);
}

// The port check's report is output: English under a German locale, as scripts and bug reports
// quote it.
TEST_F(CliTest, DoctorsReportStaysEnglishUnderAGermanLocale) {
    const CliResult doctor = cli({"--port", "/dev/ttyUSB9", "doctor"}, {"LANG=de_DE.UTF-8"});
    EXPECT_EQ(doctor.exitCode, 3);
    EXPECT_TRUE(doctor.out.contains("\nFAIL  device         no such device /dev/ttyUSB9\n"
                                    "                     fix: plug the adapter in"))
        << doctor.out.toStdString();
}

TEST_F(CliTest, SpeaksTheLocalesLanguageOrTheOnesGivenWithLang) {
    const char *const english = "kvex-rtn-cli: no command given (see --help)\n";
    const char *const german = "kvex-rtn-cli: kein Befehl angegeben (siehe --help)\n";
    const struct {
        QStringList locale;
        QStringList args;
        int exitCode;
        const char *err;
    } cases[] = {
        {{"LC_ALL=C"}, {}, 2, english},
        {{"LANG=en_US.UTF-8"}, {}, 2, english},
        {{"LC_ALL=fr_FR.UTF-8"}, {}, 2, english},
        {{"LANG=de_DE.UTF-8"}, {}, 2, german},
        {{"LANG=C", "LC_MESSAGES=de_AT.UTF-8"}, {}, 2, german},
        {{"LC_ALL=de_DE.UTF-8"}, {"--lang", "en"}, 2, english},
        {{"LC_ALL=C"}, {"--lang=de"}, 2, german},
        {{"LC_ALL=C"}, {"--lang", "fr"}, 2, "kvex-rtn-cli: --lang takes de or en, not \"fr\"\n"},
        // The gateway's log, the journal under systemd, too.
        {{"LANG=de_DE.UTF-8"},
         {"--port", "/dev/null", "serve", "--queue", "x"},
         2,
         "serve: --queue: erwartet 1 bis 10000000 (angegeben: \"x\")\n"},
        {{"LANG=de_DE.UTF-8"},
         {"--port", "/dev/null", "serve"},
         2,
         "serve: nichts zu bedienen; --mqtt HOST, --modbus PORT, --http PORT und/oder --opcua PORT "
         "angeben\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.locale + c.args).join(' ').toStdString());
        const CliResult result = cli(c.args, c.locale);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.err, QString::fromUtf8(c.err));
    }
    const CliResult help = cli({"--help"}, {"LANG=de_DE.UTF-8"});
    EXPECT_TRUE(help.out.contains("Exit-Codes: 0 OK, 2 Aufruf")) << help.out.toStdString();

    // Without its catalogue (a copy of the tool alone in a folder) it speaks English, silently;
    // unless an installation's data folder holds one.
    if (QFile::exists(KVEX_INSTALLED_DATA_DIR "/kvex-rtn_de.qm"))
        return;
    const QString alone = file("kvex-rtn-cli");
    ASSERT_TRUE(QFile::copy(KVEX_CLI_PATH, alone));
    QProcess copy;
    QProcessEnvironment locale = QProcessEnvironment::systemEnvironment();
    locale.insert("LC_ALL", "de_DE.UTF-8");
    copy.setProcessEnvironment(locale);
    copy.start(alone, {});
    ASSERT_TRUE(copy.waitForFinished(20000));
    EXPECT_EQ(copy.exitCode(), 2);
    EXPECT_EQ(QString::fromUtf8(copy.readAllStandardError()), english);

    QProcess panel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LC_ALL", "de_DE.UTF-8");
    panel.setProcessEnvironment(env);
    panel.start(KVEX_PANEL_PATH, {"--help"});
    ASSERT_TRUE(panel.waitForFinished(20000));
    EXPECT_TRUE(QString::fromUtf8(panel.readAllStandardOutput())
                    .contains("Einrichten und Überwachen von K-VEX-RTN-Zeilensensoren."));
}

// Other programs read what the tool writes: the same bytes under a German locale (decimal
// comma, German messages) as under C, except for what the sensor measured and when.
TEST_F(CliTest, OutputAndFilesAreTheSameUnderAGermanLocale) {
    kvexsim::SensorSim type104(*kvexsim::findProfile("type104"));
    ASSERT_TRUE(type104.openPty());
    type104.setObject(400, 600);
    type104.start();
    const QString device = QString::fromStdString(type104.devicePath());
    const auto shape = [](QString text) { return text.replace(QRegularExpression("[0-9]+"), "9"); };
    QStringList outputs[2], files[2];
    const char *const locales[] = {"LC_ALL=C", "LC_ALL=de_DE.UTF-8"};
    for (int l = 0; l < 2; ++l) {
        SCOPED_TRACE(locales[l]);
        const QString folder = file(locales[l]);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QList<QStringList> commands = {
            {"identify"},
            {"get", "--from", "ram", "-o", folder + "/params.dat"},
            {"get", "--from", "ram", "--json"},
            {"run", "--cycles", "5", "--csv", folder + "/run.csv"},
            {"video", "--lines", "1", "--csv", folder + "/video.csv"},
        };
        for (const QStringList &command : commands) {
            const CliResult result = cli(QStringList{"--port", device} + command, {locales[l]});
            ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
            outputs[l] << result.out;
        }
        QFile params(folder + "/params.dat");
        ASSERT_TRUE(params.open(QIODevice::ReadOnly));
        files[l] << QString::fromUtf8(params.readAll());
        for (const char *csv : {"/run.csv", "/video.csv"}) {
            const QStringList rows = readLines(folder + csv);
            ASSERT_GE(rows.size(), 2);
            // The video file opens with its first line's reserve: figures, shaped like a row.
            files[l] << shape(rows[0]) << shape(rows[1]);
        }
    }
    type104.stop();
    EXPECT_EQ(outputs[1].join('\n').toStdString(), outputs[0].join('\n').toStdString());
    EXPECT_EQ(files[1].join('\n').toStdString(), files[0].join('\n').toStdString());
    // The run rows hold micrometres: a fraction that a German locale would write with a comma.
    EXPECT_TRUE(files[0][2].contains(",9.9,")) << files[0][2].toStdString();
}

TEST_F(CliTest, PanelProgramOpensThePortGivenWithItsOption) {
    QProcess panel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    panel.setProcessEnvironment(env);
    panel.start(KVEX_PANEL_PATH, {"--port", port()});
    ASSERT_TRUE(panel.waitForStarted(5000));
    const bool connected = sensor->waitForRequests(4, 20.0);
    panel.kill();
    panel.waitForFinished(5000);
    ASSERT_TRUE(connected);
    std::vector<int> commands;
    for (const kvexsim::Request &r : sensor->requests())
        commands.push_back(r.command());
    EXPECT_EQ(commands, (std::vector<int>{5, 10, 2, 7}));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
