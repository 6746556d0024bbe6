// Windows that fit the screen they open on and come back where the operator left them.
#pragma once

#include <QSize>

class QWidget;

namespace kvexplatform {

// Once per window, before it is first shown: the geometry and splitter positions it had when it
// was last closed, under its object name, or else `preferred` centred on the screen of its parent
// (the primary screen for a panel). Either way never larger than that screen's free area, and
// back on the primary screen when the one it was on is gone. From then on its geometry and
// splitters are kept as they change. A window without an object name is only fitted.
void placeWindow(QWidget *window, QSize preferred);

// Shrinks and moves the window into its screen's free area where it reaches beyond it.
void fitWindow(QWidget *window);

// The panel's arrangement for the room it has: below the width its full arrangement needs, the
// grids marked `compactColumns` fold their columns from that one on into rows below; below the
// height, the widgets marked `compactHidden` (decoration only) are hidden. Called when the window
// is placed, moves to another screen or changes its language.
void arrangeForScreen(QWidget *window);

// Splitters of a loaded panel: a child marked `collapsible` false cannot be dragged shut.
void prepareSplitters(QWidget *panel);

} // namespace kvexplatform
