// Between the Linux platform and the X11 window: the window's event queue is the monitor's
// input, so the platform's wait and pump go through these.
#pragma once

/// The X connection's file descriptor, for poll; -1 before the display is open.
int windowEventFd();

/// True when an event is queued or can be read without blocking. Flushes drawing first.
bool windowEventPending();

/// Handles one queued event (drawing, the Quit button, the window manager's close).
void dispatchWindowEvent();

/// True once after Quit was pressed or the window manager closed the window.
bool takeQuitRequest();
