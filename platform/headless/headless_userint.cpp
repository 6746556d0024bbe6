// The user-interface services without a screen: panels are plain stores of control values, so
// the program's code runs unchanged on machines with no display; graphs and dialogs do nothing.
#include "platform/core/translation.h"
#include "platform/headless.h"
#include "platform/language.h"
#include "platform/trafficwindow.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

namespace {

constexpr int kFirstFreeControlNumber = 1000;
constexpr int kPathSize = 260;

struct Control {
    double number = 0.0;
    std::string text;
    std::map<int, int> attributes;
};

struct Panel {
    std::map<int, Control> controls;
    int nextControlNumber = kFirstFreeControlNumber;
};

std::map<int, Panel> panels;
int nextPanelHandle = 1;
bool quitRequested = false;
kvexplatform::TextSink textSink;

Control *findControl(int panel, int control) {
    auto p = panels.find(panel);
    if (p == panels.end())
        return nullptr;
    return &p->second.controls[control];
}

int setNumber(int panel, int control, double value) {
    Control *c = findControl(panel, control);
    if (!c)
        return UIE_INVALID_PANEL;
    c->number = value;
    return 0;
}

template <class T> int getNumber(int panel, int control, T *value) {
    Control *c = findControl(panel, control);
    if (!c)
        return UIE_INVALID_PANEL;
    if (!value)
        return UIE_INVALID_VALUE;
    *value = static_cast<T>(c->number);
    return 0;
}

int checkControl(int panel, int control) {
    return findControl(panel, control) ? 0 : UIE_INVALID_PANEL;
}

} // namespace

namespace kvexplatform {

void setHeadlessTextSink(TextSink sink) {
    textSink = std::move(sink);
}

} // namespace kvexplatform

void RegisterCallbacks(const CallbackEntry *, int) {}

int InitCVIRTE(void *, char **, void *) {
    kvexplatform::keepNumbersPortable();
    return QCoreApplication::instance() ? 1 : 0;
}

int LoadPanel(int, const char *, int) {
    const int handle = nextPanelHandle++;
    panels[handle] = Panel{};
    return handle;
}

int DisplayPanel(int panel) {
    return panels.count(panel) ? 0 : UIE_INVALID_PANEL;
}

int HidePanel(int panel) {
    return DisplayPanel(panel);
}

int DiscardPanel(int panel) {
    return panels.erase(panel) ? 0 : UIE_INVALID_PANEL;
}

int RunUserInterface() {
    quitRequested = false;
    while (!quitRequested && QCoreApplication::instance())
        ProcessSystemEvents();
    return 0;
}

int QuitUserInterface(int) {
    quitRequested = true;
    return 0;
}

int GetProjectDir(char *directory) {
    if (!directory)
        return UIE_INVALID_VALUE;
    const QByteArray path = QFile::encodeName(QDir::toNativeSeparators(
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                     : QDir::currentPath()));
    std::snprintf(directory, kPathSize, "%s", path.constData());
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    return setNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, unsigned int value) {
    return setNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, unsigned short value) {
    return setNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, double value) {
    return setNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, const char *value) {
    Control *c = findControl(panel, control);
    if (!c)
        return UIE_INVALID_PANEL;
    c->text = value ? value : "";
    if (textSink)
        textSink(panel, control, kvexplatform::shownBytes(c->text.c_str()).c_str());
    return 0;
}

int GetCtrlVal(int panel, int control, int *value) {
    return getNumber(panel, control, value);
}

int GetCtrlVal(int panel, int control, unsigned short *value) {
    return getNumber(panel, control, value);
}

int GetCtrlVal(int panel, int control, double *value) {
    return getNumber(panel, control, value);
}

int GetCtrlVal(int panel, int control, char *text) {
    Control *c = findControl(panel, control);
    if (!c)
        return UIE_INVALID_PANEL;
    if (!text)
        return UIE_INVALID_VALUE;
    std::snprintf(text, kPathSize, "%s", c->text.c_str());
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Control *c = findControl(panel, control);
    if (!c)
        return UIE_INVALID_PANEL;
    c->attributes[attribute] = value;
    return 0;
}

int SetCtrlAttribute(int panel, int control, int, const char *) {
    return checkControl(panel, control);
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    Control *c = findControl(panel, control);
    if (!c)
        return UIE_INVALID_PANEL;
    if (!value)
        return UIE_INVALID_VALUE;
    auto a = c->attributes.find(attribute);
    *value = a == c->attributes.end() ? 0 : a->second;
    return 0;
}

int ClearListCtrl(int panel, int control) {
    return checkControl(panel, control);
}

int InsertListItem(int panel, int control, int, const char *, int) {
    return checkControl(panel, control);
}

int NewCtrl(int panel, int, const char *, int, int) {
    auto p = panels.find(panel);
    if (p == panels.end())
        return UIE_INVALID_PANEL;
    return p->second.nextControlNumber++;
}

int ReplaceTextBoxLine(int panel, int control, int, const char *) {
    return checkControl(panel, control);
}

int DisplayImageFile(int panel, int control, const char *) {
    return checkControl(panel, control);
}

int SetActiveCtrl(int panel, int control) {
    return checkControl(panel, control);
}

int PlotXY(int panel, int control, const void *, const void *, int, int, int, int, int, int, int,
           int) {
    return checkControl(panel, control);
}

int PlotRectangle(int panel, int control, double, double, double, double, int, int) {
    return checkControl(panel, control);
}

int PlotStripChart(int panel, int control, const void *, int, int, int, int) {
    return checkControl(panel, control);
}

int DeleteGraphPlot(int panel, int control, int, int) {
    return checkControl(panel, control);
}

int SetGraphCursor(int panel, int control, int, double, double) {
    return checkControl(panel, control);
}

int SetAxisScalingMode(int panel, int control, int, int, double, double) {
    return checkControl(panel, control);
}

int SetTraceAttribute(int panel, int control, int, int, int) {
    return checkControl(panel, control);
}

int FileSelectPopup(const char *, const char *, const char *, const char *, int, int, int, int, int,
                    char *pathOut) {
    if (pathOut)
        pathOut[0] = '\0';
    return VAL_NO_FILE_SELECTED;
}

int OpenTrafficWindow(int, const TrafficWindowSource &) {
    return UIE_INVALID_PANEL;
}
