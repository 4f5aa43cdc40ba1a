// The status window as the supervisor sees it. The product links win32.cpp (or the x11_*.cpp
// files on Linux); the unit tests link a fake that records what would be shown. Nothing here
// reads the monitor's state: the core hands over every text it wants shown.
#pragma once

#include "platform/platform.h"

enum StatusLabel { labelTotal, labelCurrent, labelMax, labelAve, labelRestart, labelNoresponse };

constexpr int kStatusLabels = 6;
constexpr int kStatusTextSize = 100;  // a row's text, terminator included

/// Each row's widest text in years of running (999 days, 99,999 restarts), by StatusLabel: the
/// window's font must show each one whole.
inline constexpr const char* kWidestRowTexts[kStatusLabels] = {"Total: 999 day 23 hr 59 min",
                                                               "Time: 999 day 23 hr 59 min",
                                                               "Max: 999 day 23 hr 59 min",
                                                               "Ave: 999 day 23 hr 59 min",
                                                               "Restarts: 99999",
                                                               "NoResponse: 99999"};

/// What only the window learns of, handed to the monitor as it happens. The system may hold
/// this thread in a loop of its own (a window being moved or sized, an open menu), in which the
/// monitor's loop does not run; and the run may be ended from outside, where the process can end
/// as soon as the window has answered, or the end called off. A request to close the program
/// alone (an installer's, through the Restart Manager) is a quit, and comes as the quit message.
/// Given once, before initClass; a null call is not made.
struct WindowCalls {
  void (*heldSecond)();     // a second passed while the thread was held: one pass of the loop
  void (*sessionEnding)();  // the session ends: the system may end the process after this
  void (*sessionGoesOn)();  // the session's end was called off after all
  void (*displayLost)();    // the display is gone: end as at a quit; the process then exits (1)
};
void setWindowCalls(const WindowCalls& calls);

/// Registers the window class with the program's icons. False when registration failed.
bool initClass(InstanceHandle instance);

/// Creates the main window, still hidden, with the program label showing `programLabel` (UTF-8,
/// kept by the caller for the life of the process), the Quit button and, when `withStatusRows`, the
/// statistics rows under their first captions. False when no window was made.
bool createMainWindow(const char* programLabel, bool withStatusRows);

/// Shows the main window. On Windows the first show takes the launcher's show command instead,
/// when it gave one: a shortcut set to Minimized starts it minimized, and a hidden start leaves it
/// with no window on the screen and no taskbar button.
void showMainWindow();

/// Replaces the text of one statistics row (shorter than kStatusTextSize).
void setStatusText(StatusLabel label, const char* text);

/// After initClass: false when there is nowhere to show a window (no display), so the monitor
/// runs without one and its operator reads event lines instead.
bool windowAvailable();
