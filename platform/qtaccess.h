// Qt-side access to the panels, for tests, the fuzz targets and the benchmark.
#pragma once

#include <functional>
#include <string>

class QSerialPort;
class QWidget;

namespace kvexplatform {

QWidget *panelWidget(int panel);
QWidget *controlWidget(int panel, int control);
// The control number a widget was registered under, or 0.
int controlNumber(int panel, const QWidget *widget);

// Answers FileSelectPopup without a dialog: return its result and fill path. An empty
// function restores the real dialog.
struct FileSelectRequest {
    std::string directory;
    std::string defaultFile;
    std::string typeList;
    std::string title;
    int buttonLabel;
};
using FileSelectHook = std::function<int(const FileSelectRequest &, std::string &path)>;
void setFileSelectHook(FileSelectHook hook);

// The Qt port behind an open port number, or nullptr.
QSerialPort *serialPort(int port);

// Where LoadPanel and DisplayImageFile look for bare file names after the program's own folder.
void setDataDirectory(const std::string &directory);

} // namespace kvexplatform
