#pragma once

struct FrameKeys;

// The bar across the top of the screen: the program's name and "X", which opens the quit
// dialog, as Esc does when no popup was open as the frame began. The dialog is the bar's
// popup, so the bar draws it. True when the user confirmed quitting.
bool drawTitleBar(const FrameKeys& keys, bool popupWasOpen);

// "Quit?": "Quit" or Enter confirms, "Cancel" or Esc closes it; the keys count only when the
// dialog was open as the frame began. Drawn inside the title bar's window. True when confirmed.
bool drawQuitDialog(const FrameKeys& keys, bool wasOpen);
