// The X11 window's events, which are the Linux monitor's input: its drawing, the Quit button
// and the window manager's close.
#include "window/x11_events.h"

#include <X11/Xlib.h>

#include "window/x11_internal.h"

static bool buttonHeld;  // button 1 went down on Quit and has not come up yet
static bool quitRequested;

// What the Windows window procedure does for Quit and for closing.
static void quit() {
  stopNetwork();
  quitRequested = true;
}

static bool overButton(int x, int y) {
  const XRectangle& rect = rects[ctlQuit];
  return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
}

static void sinkButton(bool sunk) {
  if (sunk == buttonSunk) return;
  buttonSunk = sunk;
  paintArea(rects[ctlQuit]);
}

static void onButtonPress(const XButtonEvent& event) {
  if (event.button != Button1 || !overButton(event.x, event.y)) return;
  buttonHeld = true;
  sinkButton(true);
}

// While held, the button follows the pointer in and out, like a Windows push button.
static void onPointerMotion(const XMotionEvent& event) {
  if (buttonHeld) sinkButton(overButton(event.x, event.y));
}

static void onButtonRelease(const XButtonEvent& event) {
  if (event.button != Button1 || !buttonHeld) return;
  buttonHeld = false;
  sinkButton(false);
  if (overButton(event.x, event.y)) quit();
}

static void onClientMessage(const XClientMessageEvent& event) {
  if (event.message_type != atoms[atomProtocols]) return;
  if (static_cast<Atom>(event.data.l[0]) == atoms[atomDelete]) quit();
}

// Beyond the canvas (a window made larger) the server has already cleared to the face grey.
static void onExpose(const XExposeEvent& event) {
  xlib.XCopyArea(display, canvas, window, gc, event.x, event.y, event.width, event.height, event.x,
                 event.y);
}

int windowEventFd() { return display == nullptr ? -1 : ConnectionNumber(display); }

bool windowEventPending() { return display != nullptr && xlib.XPending(display) > 0; }

void dispatchWindowEvent() {
  XEvent event;
  xlib.XNextEvent(display, &event);
  switch (event.type) {
    case Expose: onExpose(event.xexpose); break;
    case ButtonPress: onButtonPress(event.xbutton); break;
    case MotionNotify: onPointerMotion(event.xmotion); break;
    case ButtonRelease: onButtonRelease(event.xbutton); break;
    case ClientMessage: onClientMessage(event.xclient); break;
    default: break;
  }
}

bool takeQuitRequest() {
  const bool requested = quitRequested;
  quitRequested = false;
  return requested;
}
