// The header strip of the main panel, drawn once per brand at start-up.
#include "logo/logo.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "platform/userint.h"

namespace {

struct Scheme {
    int header;
    int text;
    int background;
};
const Scheme white = {0xFFFFFF, 0x808080, 0xFFFFFF};
const Scheme blue = {0x0080FF, 0xFFFFFF, 0x0080FF};

struct Position {
    int left;
    int top;
};

struct Brand {
    const Scheme *scheme; // nullptr: the row changes nothing
    const char *bitmap;   // nullptr: the logo is hidden
    Position logo;
    const char *supplier[3];
    Position supplierAt[3];
    Position name;
    Position version;
};

const Brand brands[7] = {
    {&white, nullptr, {}, {}, {}, {20, 20}, {170, 26}},
    {&blue, nullptr, {}, {}, {}, {20, 20}, {170, 26}},
    {&blue,
     "kvex-logo-2.png",
     {300, 10},
     {"KVEX Sensor Systems", "Tel. +00 123 456 789", "www.kvex-sensors.example"},
     {{15, 10}, {15, 25}, {15, 40}},
     {300, 35},
     {460, 40}},
    {&white, "kvex-logo-3.png", {470, 8}, {}, {}, {20, 20}, {170, 26}},
    {&blue,
     "kvex-logo-4.png",
     {470, 7},
     {"Linea Messtechnik", "Tel. +00 987 654 321", "www.linea-mess.example"},
     {{15, 7}, {15, 22}, {15, 37}},
     {220, 30},
     {370, 36}},
    {nullptr, nullptr, {}, {}, {}, {}, {}},
    {&white,
     "kvex-logo-6.png",
     {470, 7},
     {"Optoline Instruments", "Tel. +00 555 010 010", "www.optoline.example"},
     {{15, 7}, {15, 22}, {15, 37}},
     {220, 30},
     {370, 36}},
};

} // namespace

void ShowInfoText(int backgroundColor, int textColor, const char *text, int left, int top,
                  int pointSize) {
    const int control = NewCtrl(pHandle, CTRL_TEXT_MSG, "", top, left);
    SetCtrlAttribute(pHandle, control, ATTR_TEXT_FONT, "NIApp");
    SetCtrlAttribute(pHandle, control, ATTR_TEXT_BGCOLOR, backgroundColor);
    SetCtrlAttribute(pHandle, control, ATTR_TEXT_COLOR, textColor);
    SetCtrlAttribute(pHandle, control, ATTR_TEXT_POINT_SIZE, pointSize);
    SetCtrlVal(pHandle, control, text);
}

void ShowLogo(int brand) {
    if (brand < 0 || brand > 6 || !brands[brand].scheme)
        return;
    const Brand &row = brands[brand];
    const Scheme &scheme = *row.scheme;
    SetCtrlAttribute(pHandle, DECOHeader, ATTR_FRAME_COLOR, scheme.header);
    if (!row.bitmap) {
        SetCtrlAttribute(pHandle, PICTLogo, ATTR_VISIBLE, 0);
    } else {
        SetCtrlAttribute(pHandle, PICTLogo, ATTR_TOP, row.logo.top);
        SetCtrlAttribute(pHandle, PICTLogo, ATTR_LEFT, row.logo.left);
        DisplayImageFile(pHandle, PICTLogo, row.bitmap);
    }
    for (int line = 0; line < 3; ++line)
        if (row.supplier[line])
            ShowInfoText(scheme.background, scheme.text, row.supplier[line],
                         row.supplierAt[line].left, row.supplierAt[line].top, 11);
    ShowInfoText(scheme.background, scheme.text, szSoftName, row.name.left, row.name.top, 18);
    ShowInfoText(scheme.background, scheme.text, szSoftVersion, row.version.left, row.version.top,
                 11);
}
