// Scripted panels and their pictures, for the demo program: press, read, save, call back later.
#pragma once

#include <functional>
#include <string>

namespace kvexplatform {

// Presses the panel's button of that object name as the operator would, so its callback runs;
// false if the panel has no such button.
bool clickButton(int panel, const std::string &objectName);

// What the panel's text label of that object name shows, translated as on screen; false if
// the panel has no such label.
bool labelText(int panel, const std::string &objectName, std::string &text);

// The panel's window at that size, as far as its screen's free area and its layout's minimum
// allow; false if there is no such panel.
bool resizePanel(int panel, int width, int height);

// The panel's picture as it stands, in the format the file name's extension says.
bool savePanelPicture(int panel, const std::string &file);

// Two windows on one canvas, `below` under `top` and set apart by a dark band; false unless
// both are there and `below` is shown.
bool saveStackedPicture(int top, int below, const std::string &file);

// The traffic monitor the panel opened; false if it has none.
bool saveTrafficPicture(int panel, const std::string &file);

// Calls `call` once from the event pump, on the program's thread, after that many
// milliseconds.
void callAfter(int milliseconds, std::function<void()> call);

} // namespace kvexplatform
