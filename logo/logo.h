// The header strip: colours, logo, supplier lines and the software's name and version.
#pragma once

void ShowLogo(int brand);
void ShowInfoText(int backgroundColor, int textColor, const char *text, int left, int top,
                  int pointSize);
