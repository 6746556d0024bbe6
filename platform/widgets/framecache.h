// Group boxes drawn once and then copied: a live loop changes the displays inside a box every
// cycle, and Qt redraws the box under each of them.
#pragma once

class QWidget;

namespace kvexplatform {

// Every group box under `root` keeps a picture of its own frame and title, drawn again only when
// its size, title, state, style, palette or font changed.
void cacheGroupBoxFrames(QWidget *root);

} // namespace kvexplatform
