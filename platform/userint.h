// User-interface services: panels loaded from the panel file, controls addressed by number,
// graphs, file dialogs and array files, over Qt Widgets and QCustomPlot.
#pragma once

// Events delivered to callbacks.
enum UiEvent {
    EVENT_COMMIT = 1,
    EVENT_VAL_CHANGED = 2,
    EVENT_LEFT_CLICK = 3,
    EVENT_GOT_FOCUS = 8,
    EVENT_LOST_FOCUS = 9,
    EVENT_CLOSE = 11,
};

// Control attributes.
enum UiAttribute {
    ATTR_DIMMED = 500,
    ATTR_VISIBLE = 530,
    ATTR_LEFT = 531,
    ATTR_TOP = 532,
    ATTR_FRAME_COLOR = 550,
    ATTR_LABEL_TEXT = 641,
    ATTR_TEXT_COLOR = 680,
    ATTR_TEXT_FONT = 682,
    ATTR_TEXT_POINT_SIZE = 686,
    ATTR_TEXT_BGCOLOR = 690,
    ATTR_MAX_VALUE = 730,
    ATTR_MIN_VALUE = 731,
    ATTR_ON_TEXT = 940,
    ATTR_OFF_TEXT = 941,
    ATTR_STRIP_CHART_PAUSED = 1088,
    ATTR_NUM_TRACES = 1170,
    ATTR_POINTS_PER_SCREEN = 1171,
    ATTR_TRACE_COLOR = 1230,
    ATTR_TOOLTIP_TEXT = 1500,
};

// Control style for NewCtrl: a text message.
enum { CTRL_TEXT_MSG = 160 };

// Graph axes and scaling.
enum { VAL_XAXIS = 0, VAL_LEFT_YAXIS = 1, VAL_MANUAL = 0, VAL_AUTOSCALE = 1 };
// Array element types.
enum {
    VAL_DOUBLE = 4,
    VAL_UNSIGNED_SHORT_INTEGER = 6,
    VAL_UNSIGNED_INTEGER = 7,
};
// Plot styles, point styles and line styles (only what the program draws).
enum {
    VAL_THIN_LINE = 0,
    VAL_FAT_LINE = 5,
    VAL_NO_POINT = 10,
    VAL_SOLID = 0,
    VAL_DASH = 1,
    VAL_ALL_POINTS = 1
};
// File types of ArrayToFile and FileToArray.
enum { VAL_ASCII = 1 };
// FileSelectPopup button labels and results.
enum { VAL_OK_BUTTON = 0, VAL_LOAD_BUTTON = 3 };
enum { VAL_NO_FILE_SELECTED = 0, VAL_EXISTING_FILE_SELECTED = 1, VAL_NEW_FILE_SELECTED = 2 };

// Colours, 0xRRGGBB.
enum {
    VAL_RED = 0xFF0000,
    VAL_GREEN = 0x00FF00,
    VAL_DK_GREEN = 0x008000,
    VAL_BLACK = 0x000000,
    VAL_WHITE = 0xFFFFFF,
    VAL_GRAY = 0x808080,
    VAL_BLUE = 0x0000FF,
};

// Error results of the user-interface services.
enum {
    UIE_TOO_MANY_PANELS = -1,
    UIE_PANEL_FILE_NOT_FOUND = -45,
    UIE_BAD_PANEL_FILE = -46,
    UIE_INVALID_PANEL = -42,
    UIE_INVALID_CONTROL = -13,
    UIE_INVALID_ATTRIBUTE = -33,
    UIE_INVALID_VALUE = -34,
    UIE_FILE_OPEN_ERROR = -93,
    UIE_FILE_WRITE_ERROR = -94,
    UIE_FILE_FORMAT_ERROR = -95,
    UIE_FILE_TOO_SHORT = -96,
    UIE_PATH_TOO_LONG = -97,
};

typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2);
typedef int (*PanelCallbackPtr)(int panel, int event, void *callbackData, int eventData1,
                                int eventData2);

// The program's callbacks by the names the panel file binds them with.
struct CallbackEntry {
    const char *name;
    CtrlCallbackPtr control; // set for control callbacks
    PanelCallbackPtr panel;  // set for panel callbacks
};
void RegisterCallbacks(const CallbackEntry *table, int count);

// Nonzero when the user-interface engine is usable (an application object exists).
int InitCVIRTE(void *instance, char **argv, void *reserved);

int LoadPanel(int parentPanel, const char *fileName, int panelNumber);
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);
int RunUserInterface();
int QuitUserInterface(int returnCode);
int GetProjectDir(char *directory);

int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned int value);
int SetCtrlVal(int panel, int control, unsigned short value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char *value);
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, unsigned short *value);
int GetCtrlVal(int panel, int control, double *value);
// text: the caller's buffer, at least 260 bytes.
int GetCtrlVal(int panel, int control, char *text);

int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *value);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);

// List controls (the port list): items with a label and an int value.
int ClearListCtrl(int panel, int control);
int InsertListItem(int panel, int control, int index, const char *label, int value);

int NewCtrl(int panel, int style, const char *label, int top, int left);
int ReplaceTextBoxLine(int panel, int control, int line, const char *text);
int DisplayImageFile(int panel, int control, const char *fileName);
// Gives the control the keyboard focus.
int SetActiveCtrl(int panel, int control);

int PlotXY(int panel, int control, const void *xArray, const void *yArray, int numberOfPoints,
           int xDataType, int yDataType, int plotStyle, int pointStyle, int lineStyle,
           int pointFrequency, int color);
int PlotRectangle(int panel, int control, double x1, double y1, double x2, double y2,
                  int frameColor, int fillColor);
int PlotStripChart(int panel, int control, const void *yArray, int numberOfPoints, int startIndex,
                   int skipCount, int dataType);
int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh);
int SetGraphCursor(int panel, int control, int cursor, double x, double y);
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max);
int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);

// Result above 0 when a file was chosen; its path (at most 259 bytes) is in pathOut.
int FileSelectPopup(const char *defaultDirectory, const char *defaultFileSpec,
                    const char *fileTypeList, const char *title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char *pathOut);
// Writes numberOfElements values as text, one per line, each right-aligned in fieldWidth.
// Returns 0, or a negative error code; a failed write never leaves a partial file behind.
int ArrayToFile(const char *fileName, const void *array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int columnLayout,
                int fieldWidth, int fileType, int fileAction);
// Reads numberOfElements numbers from a text file. Returns 0 when all were read, or a negative
// error code; on error the array is left unchanged.
int FileToArray(const char *fileName, void *array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int fileType);
