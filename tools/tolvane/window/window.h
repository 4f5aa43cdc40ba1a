// The status window as the supervisor sees it. The product links win32.cpp (or x11.cpp on
// Linux); the unit tests link a fake that records what would be shown. Nothing here reads the
// monitor's state: the core hands over every text it wants shown.
#pragma once

#include "platform/platform.h"

enum StatusLabel { labelTotal, labelCurrent, labelMax, labelAve, labelRestart, labelNoresponse };

constexpr int kStatusLabels = 6;
constexpr int kStatusTextSize = 100;  // a row's text, terminator included

/// Registers the window class with the program's icons. False when registration failed.
bool initClass(InstanceHandle instance);

/// Creates the main window, still hidden, with the program label showing `programLabel` (kept
/// by the caller for the life of the process), the Quit button and, when `withStatusRows`, the
/// statistics rows under their first captions. False when no window was made.
bool createMainWindow(const char* programLabel, bool withStatusRows);

/// Shows the main window, whatever the launcher asked for.
void showMainWindow();

/// Replaces the text of one statistics row (shorter than kStatusTextSize).
void setStatusText(StatusLabel label, const char* text);

/// After initClass: false when there is nowhere to show a window (no display), so the monitor
/// runs without one and its operator reads event lines instead.
bool windowAvailable();
