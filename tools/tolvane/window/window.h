// The status window as the supervisor sees it. The product links win32.cpp; the unit tests link
// a fake that records what would be shown.
#pragma once

#include "platform/platform.h"

enum StatusLabel { labelTotal, labelCurrent, labelMax, labelAve, labelRestart, labelNoresponse };

/// Registers the window class with the program's icons. False when registration failed.
bool initClass(InstanceHandle instance);

/// Creates the main window, still hidden, with all its controls. False when no window was made.
bool createMainWindow();

/// Shows the main window, whatever the launcher asked for.
void showMainWindow();

/// Replaces the text of one statistics row.
void setStatusText(StatusLabel label, const char* text);

/// The texts of the statistics rows, refreshed from the monitor state. Portable.
void showStatus();

/// Whole minutes as "D day H hr M min", "H hr M min" or "M min". The text lives in one static
/// buffer: each call overwrites the previous result.
const char* formatTime(uint32_t minutes);
