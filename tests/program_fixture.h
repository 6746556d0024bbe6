// Drives the real program in-process against a simulated sensor on a pseudo-terminal.
#pragma once

#include "sim/sensorsim.h"

#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable failure messages for texts of the panel.
inline void PrintTo(const QString &text, std::ostream *out) {
    *out << '"' << text.toStdString() << '"';
}

class KvexGraph;
class KvexStripChart;

// Pumps the program's events until the condition holds or the time runs out.
bool waitUntil(const std::function<bool()> &condition, double timeoutSeconds);
// Runs action after delaySeconds from inside whatever loop pumps events then.
void later(double delaySeconds, std::function<void()> action);
// Calls action once, from inside the running loop, as soon as condition holds.
void whenever(std::function<bool()> condition, std::function<void()> action);

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A simulator on a pseudo-terminal, bound to port `port`.
    kvexsim::SensorSim &startSensor(const std::string &profile = "standard", int port = 1);
    // Start-up up to the visible panel; false when it failed.
    bool startProgram();
    void stopProgram();

    QWidget *mainPanel() const;
    template <class T = QWidget> T *find(const char *objectName) const {
        return mainPanel() ? mainPanel()->findChild<T *>(objectName) : nullptr;
    }
    KvexGraph *graph(const char *objectName) const;
    KvexStripChart *stripChart() const;
    QString status() const;
    int spinValue(const char *objectName) const;
    // Left click (press and release) on a button, as the operator does it.
    void click(const char *objectName);
    // Types a value into a spin box and commits it with Enter.
    void enterValue(const char *objectName, int value);
    // Requests the simulator recorded, as command codes.
    std::vector<int> commands() const;

    std::vector<std::unique_ptr<kvexsim::SensorSim>> sensors;
    bool programRunning = false;
};

// The program connected to a type104 sensor with its object in the middle of the line, the samples
// the live modes draw counted, and file dialogs answered by the test; for the operator's tools.
class CountingProgramTest : public ProgramTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    kvexsim::SensorSim &connect();
    // The file dialog's next answers: `file`, as chosen by the operator.
    void answerFileDialog(const QString &file);
    // Runs the live mode behind `button` for `cycles` more samples, then presses Stop.
    void runCycles(const char *button, int cycles);

    QTemporaryDir dir;
    int samples = 0;
    int counter = 0;
};
