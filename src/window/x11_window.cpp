// The status window on X11: one top-level window whose controls are rectangles painted in the
// Windows layout and look. Its event queue is the monitor's input (see x11_events.h).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "icon_argb.h"
#include "platform/posix.h"
#include "version.h"
#include "window/x11_internal.h"

static const char* const atomNames[atomCount] = {
    "WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_NAME",   "UTF8_STRING",
    "_NET_WM_PID",  "_NET_WM_ICON",     "_TOLVANE_TEXTS", "_TOLVANE_FONT"};
Atom atoms[atomCount];

static char szAppName[] = "Tolvane v" TOLVANE_VERSION;
static char szResName[] = "tolvane";
static char szClassName[] = "Tolvane";
const char* const szQuit = "Quit";

Display* display;
Window window;
XRectangle rects[ctlCount];
int controlCount;
static const char* programText = "";  // owned by the caller for the life of the process
static char rowTexts[kRows][kStatusTextSize];
static char joinedTexts[2048 + ctlCount * kStatusTextSize];  // all texts, '\n' between them

static bool displayGone;  // the connection broke: nothing may be sent on it any more
static WindowCalls calls;

void setWindowCalls(const WindowCalls& given) { calls = given; }

// A monitor that lost its display can no longer be told to quit: it must not leave its server
// running unsupervised. Xlib exits when this returns, so it never does: the monitor ends its
// server and its record as at a quit, and exits as after one. Its last words may refresh the
// rows first, which then go nowhere.
static int onDisplayLost(Display*) {
  displayGone = true;
  if (calls.displayLost != nullptr) calls.displayLost();
  _exit(1);
}

// A failed request costs at most a wrong picture; Xlib's default handler would exit and leave the
// server running unsupervised.
static int onRequestFailed(Display*, XErrorEvent*) { return 0; }

// Most servers run where no display is: the monitor then works without a window and tells its
// operator what happens in event lines instead.
static bool headlessAsked() {
  const char* value = std::getenv("TOLVANE_HEADLESS");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

bool initClass(InstanceHandle) {
  if (!headlessAsked() && loadXlib()) display = xlib.XOpenDisplay(nullptr);
  if (display == nullptr) return true;  // no display, or none wanted: no window
  xlib.XSetIOErrorHandler(onDisplayLost);
  xlib.XSetErrorHandler(onRequestFailed);
  return true;
}

static void makeTopLevel() {
  const int screen = DefaultScreen(display);
  window = xlib.XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, kWidth, kHeight,
                                    0,  // no border: the window manager frames it
                                    greyPixels[greyFace],   // border colour, unused
                                    greyPixels[greyFace]);  // what the server clears to
  xlib.XSelectInput(display, window,
                    ExposureMask | ButtonPressMask | ButtonReleaseMask | Button1MotionMask);
  xlib.XDefineCursor(display, window, xlib.XCreateFontCursor(display, XC_left_ptr));
}

static void setUtf8Property(Atom property, const char* text, int length) {
  xlib.XChangeProperty(display, window, property, atoms[atomUtf8], 8, PropModeReplace,
                       reinterpret_cast<const unsigned char*>(text), length);
}

static void setCardinals(Atom property, const unsigned long* values, int count) {
  xlib.XChangeProperty(display, window, property, XA_CARDINAL, 32, PropModeReplace,
                       reinterpret_cast<const unsigned char*>(values), count);
}

static void setWindowManagerHints() {
  XTextProperty title = {reinterpret_cast<unsigned char*>(szAppName), XA_STRING, 8,
                         sizeof szAppName - 1};
  XSizeHints size = {};
  size.flags = PSize;
  size.width = kWidth;
  size.height = kHeight;
  XWMHints hints = {};
  hints.flags = InputHint | StateHint;
  hints.input = True;
  hints.initial_state = NormalState;
  XClassHint classHint = {szResName, szClassName};
  xlib.XSetWMProperties(display, window, &title, &title, nullptr, 0, &size, &hints, &classHint);
  xlib.XSetWMProtocols(display, window, &atoms[atomDelete], 1);
}

static void setWindowProperties() {
  xlib.XInternAtoms(display, const_cast<char**>(atomNames), atomCount, False, atoms);
  setWindowManagerHints();
  setUtf8Property(atoms[atomNetName], szAppName, sizeof szAppName - 1);
  const unsigned long pid = static_cast<unsigned long>(getpid());
  setCardinals(atoms[atomPid], &pid, 1);
  // Its 32-bit items travel in unsigned longs on the Xlib side, whatever their width.
  unsigned long icon[sizeof iconPixels / sizeof iconPixels[0]];
  std::copy(std::begin(iconPixels), std::end(iconPixels), icon);
  setCardinals(atoms[atomIcon], icon, sizeof icon / sizeof icon[0]);
  setUtf8Property(atoms[atomFont], fontName, static_cast<int>(std::strlen(fontName)));
}

static void makeControl(int x, int y, int width, int height) {
  rects[controlCount++] = {static_cast<short>(x), static_cast<short>(y),
                           static_cast<unsigned short>(width), static_cast<unsigned short>(height)};
}

static void makeRow(StatusLabel label, const char* caption, int x, int y, int width, int height) {
  std::snprintf(rowTexts[label], sizeof rowTexts[label], "%s", caption);
  makeControl(x, y, width, height);
}

// The rows overlap a little (15 pixels apart, 20 high; the right column starts inside the left
// one's width). Their look depends on it, so the geometry stays as it is.
static void makeStatusRows(int left) {
  makeRow(labelTotal, "Total:", left + 10, 35, 200, 20);
  makeRow(labelCurrent, "Time:", left + 10, 50, 200, 20);
  makeRow(labelMax, "Max:", left + 10, 65, 200, 20);
  makeRow(labelAve, "Ave:", left + 10, 80, 200, 20);
  makeRow(labelRestart, "Restart:", left + 200, 35, 100, 20);
  makeRow(labelNoresponse, "NoResponse:", left + 200, 50, 100, 20);
}

static void makeControls(bool withStatusRows) {
  const int left = 0;
  const int right = kWidth;
  makeControl(left + 10, 15, right - 10, 22);
  makeControl(right - 70, 45, 60, 30);
  if (withStatusRows) makeStatusRows(left);
}

const char* controlText(int control) {
  if (control == ctlProgram) return programText;
  if (control == ctlQuit) return szQuit;
  return rowTexts[control - ctlFirstRow];
}

static void publishTexts() {
  int length = 0;
  for (int i = 0; i < controlCount; ++i) {
    length += std::snprintf(joinedTexts + length, sizeof joinedTexts - length, "%s%s",
                            i == 0 ? "" : "\n", controlText(i));
  }
  setUtf8Property(atoms[atomTexts], joinedTexts, length);
}

bool createMainWindow(const char* programLabel, bool withStatusRows) {
  if (display == nullptr) {
    if (!headlessAsked()) sayNow(STDERR_FILENO, "no display: running without a window\n");
    return true;
  }
  programText = programLabel;
  makeControls(withStatusRows);
  if (!chooseFont()) return false;
  allocateGreys();
  makeTopLevel();
  setWindowProperties();
  makeCanvas();
  publishTexts();
  paintArea({0, 0, kWidth, kHeight});
  return true;
}

void showMainWindow() {
  if (display == nullptr) return;
  xlib.XMapWindow(display, window);
  xlib.XFlush(display);
}

void setStatusText(StatusLabel label, const char* text) {
  const int control = ctlFirstRow + label;
  if (control >= controlCount || displayGone) return;  // no rows, or nowhere to show them
  // Every row comes again when one changed; this window repaints what overlaps a changed row
  // itself, so an unchanged one costs nothing.
  if (std::strcmp(rowTexts[label], text) == 0) return;
  std::snprintf(rowTexts[label], sizeof rowTexts[label], "%s", text);
  paintArea(rects[control]);
  publishTexts();
}

bool windowAvailable() { return display != nullptr; }
