// The program's main module: start-up and shutdown, panel values, parameter commands, run mode
// and video mode.
#pragma once

// Where GET and SEND go.
constexpr int RAM = 1;
constexpr int EEPROM = 2;
constexpr int DATFILE = 3;
constexpr int PATH_SIZE = 260;

extern char proj_dir[PATH_SIZE];
extern char file_name[PATH_SIZE];
extern int stop_flag;
extern int target;
extern char szSoftName[72];
extern char szSoftVersion[72];

// The program's entry: 0 after a normal end, -1 when start-up fails.
int WinMain();
// Start-up up to the visible main panel (WinMain without the event loop and the shutdown);
// 0, or -1 when the engine or the panel file is unusable.
int startUpProgram();
// What WinMain does after the event loop: close the port, discard the panels.
void shutDownProgram();

void InitVars();
int CC_PANEL(int panel, int event, void *callbackData, int eventData1, int eventData2);
int CC_POPUP(int panel, int event, void *callbackData, int eventData1, int eventData2);
int CC_DropDCom(int panel, int control, int event, void *callbackData, int eventData1,
                int eventData2);
// Keeps the operator's language for the next start.
int CC_RINGLanguage(int panel, int control, int event, void *callbackData, int eventData1,
                    int eventData2);

// Panel values.
void GetPanelValues();
void SetPanelValues();
// The panel's controls take the limits of app/parameterwords.h; once, after loading the panel.
void SetPanelLimits();

// Parameter commands.
// True when the set was taken; a failed read leaves the variables as they were, and the panel
// shows them.
bool PushGET(int source);
int CC_BTNGet(int panel, int control, int event, void *callbackData, int eventData1,
              int eventData2);
int CC_BTNSend(int panel, int control, int event, void *callbackData, int eventData1,
               int eventData2);
enum SendResult { SEND_WRITTEN, SEND_UNCHANGED, SEND_CANCELLED, SEND_WRITE_FAILED };
// The SEND button's path to the sensor's RAM or EEPROM (target) for the panel's set; pp then
// holds the words sent. Called inside an exchange.
SendResult sendPanelSet();
int CC_RBTRam(int panel, int control, int event, void *callbackData, int eventData1,
              int eventData2);
int CC_RBTEeprom(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
int CC_RBTFile(int panel, int control, int event, void *callbackData, int eventData1,
               int eventData2);
int CC_ButtonTeach(int panel, int control, int event, void *callbackData, int eventData1,
                   int eventData2);
int CC_ButtonReset(int panel, int control, int event, void *callbackData, int eventData1,
                   int eventData2);
int CC_NEDITTolerance(int panel, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
int CC_TOGGBTN_ParaII(int panel, int control, int event, void *callbackData, int eventData1,
                      int eventData2);

// Run mode.
void PushRUN();
int CC_BTNRun(int panel, int control, int event, void *callbackData, int eventData1,
              int eventData2);
int CC_BTNStop(int panel, int control, int event, void *callbackData, int eventData1,
               int eventData2);

// Video mode.
int CC_BTNVideo(int panel, int control, int event, void *callbackData, int eventData1,
                int eventData2);
int CC_NUMVideoThreshold(int panel, int control, int event, void *callbackData, int eventData1,
                         int eventData2);
int CC_NEDITEdgeLeft(int panel, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CC_NEDITEdgeRight(int panel, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
