// The port check's window: its report as text the operator can select and copy the fixes from.
#pragma once

// Shows text (Latin-1, like every text of the program) read-only in a small window over the panel
// (it closes with the panel), replacing what an open one shows; 0, or UIE_INVALID_PANEL where
// there is no screen.
int ShowPortCheckWindow(int panel, const char *title, const char *text);
