// The status window on X11: one top-level window whose controls are rectangles painted here in
// the Windows layout and look. Its event queue is the monitor's input (see x11_events.h).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "icon_argb.h"
#include "platform/posix.h"
#include "platform/x11_events.h"
#include "version.h"
#include "window/window.h"

constexpr int kWidth = 450;  // the client area the Windows layout is measured against
constexpr int kHeight = 130;
constexpr int kRows = 6;

// Controls in creation order, which is also painting order: where they overlap, a later one
// covers an earlier one, as sibling statics do on Windows.
enum Control { ctlProgram, ctlQuit, ctlFirstRow, ctlCount = ctlFirstRow + kRows };

// Windows' classic 3D colours around the menu grey, all of them greys.
enum Grey { greyText, greyDarkShadow, greyShadow, greyLight, greyFace, greyHighlight, greyCount };
static const int greyLevels[greyCount] = {0, 105, 160, 227, 240, 255};
static unsigned long greyPixels[greyCount];  // the display's pixel for each grey

enum AtomName {
  atomProtocols,
  atomDelete,
  atomNetName,
  atomUtf8,
  atomPid,
  atomIcon,
  atomTexts,
  atomFont,
  atomCount
};
static const char* const atomNames[atomCount] = {
    "WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_NAME",   "UTF8_STRING",
    "_NET_WM_PID",  "_NET_WM_ICON",     "_TOLVANE_TEXTS", "_TOLVANE_FONT"};
static Atom atoms[atomCount];

static char szAppName[] = "Tolvane v" TOLVANE_VERSION;
static char szResName[] = "tolvane";
static char szClassName[] = "Tolvane";
static const char szQuit[] = "Quit";

// Xlib is loaded only when a display is wanted: a monitor without one, as most servers run,
// then carries none of the X libraries, and runs where they are not installed at all.
#define XLIB_FUNCTIONS(X) \
  X(XAllocColor)          \
  X(XChangeProperty)      \
  X(XCopyArea)            \
  X(XCreateFontCursor)    \
  X(XCreateGC)            \
  X(XCreatePixmap)        \
  X(XCreateSimpleWindow)  \
  X(XDefineCursor)        \
  X(XDrawLine)            \
  X(XDrawString)          \
  X(XFillRectangle)       \
  X(XFlush)               \
  X(XFreeFont)            \
  X(XInternAtoms)         \
  X(XLoadQueryFont)       \
  X(XMapWindow)           \
  X(XNextEvent)           \
  X(XOpenDisplay)         \
  X(XPending)             \
  X(XSelectInput)         \
  X(XSetClipMask)         \
  X(XSetClipRectangles)   \
  X(XSetErrorHandler)     \
  X(XSetForeground)       \
  X(XSetIOErrorHandler)   \
  X(XSetWMProperties)     \
  X(XSetWMProtocols)      \
  X(XTextExtents)

static struct {
#define DECLARE(name) decltype(&::name) name;
  XLIB_FUNCTIONS(DECLARE)
#undef DECLARE
} xlib;

// Xft draws with the client's own fonts (fontconfig's sans-serif), so the window looks the same
// on any X server, also one that holds no font but its built-in "fixed" (a bare Xvfb). It is
// loaded when there, like Xlib; its few types are declared here as the library's ABI has them,
// so that building needs no Xft headers.
extern "C" {
struct XftFont {
  int ascent, descent, height, max_advance_width;
  void* charset;
  void* pattern;
};
struct XftDraw;
struct XftRenderColor {
  unsigned short red, green, blue, alpha;
};
struct XftColor {
  unsigned long pixel;
  XftRenderColor color;
};
struct XftGlyphInfo {
  unsigned short width, height;
  short x, y, xOff, yOff;
};
XftFont* XftFontOpenName(Display*, int, const char*);
void XftFontClose(Display*, XftFont*);
void XftTextExtents8(Display*, XftFont*, const unsigned char*, int, XftGlyphInfo*);
XftDraw* XftDrawCreate(Display*, Drawable, Visual*, Colormap);
Bool XftDrawSetClipRectangles(XftDraw*, int, int, const XRectangle*, int);
void XftDrawString8(XftDraw*, const XftColor*, XftFont*, int, int, const unsigned char*, int);
Bool XftColorAllocValue(Display*, Visual*, Colormap, const XftRenderColor*, XftColor*);
}

#define XFT_FUNCTIONS(X)      \
  X(XftFontOpenName)          \
  X(XftFontClose)             \
  X(XftTextExtents8)          \
  X(XftDrawCreate)            \
  X(XftDrawSetClipRectangles) \
  X(XftDrawString8)           \
  X(XftColorAllocValue)

static struct {
#define DECLARE(name) decltype(&::name) name;
  XFT_FUNCTIONS(DECLARE)
#undef DECLARE
} xft;

static bool loadXft() {
  void* library = dlopen("libXft.so.2", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
#define LOAD(name)                                                       \
  xft.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (xft.name == nullptr) return false;
  XFT_FUNCTIONS(LOAD)
#undef LOAD
  return true;
}

static bool loadXlib() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') return false;  // nothing to connect to
  void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
#define LOAD(name)                                                        \
  xlib.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (xlib.name == nullptr) return false;
  XLIB_FUNCTIONS(LOAD)
#undef LOAD
  return true;
}

static Display* display;  // null until initClass opened the connection, and when headless
static bool headless;     // no display, or none wanted: the monitor runs without a window
static Window window;     // 0 until createMainWindow
static Pixmap canvas;     // always holds the whole client area as it should look
static GC gc;

// The text font: an Xft font when one fits, else a core font. The window publishes which, and
// how far each row's widest text reaches of the width the row shows (_TOLVANE_FONT):
// "xft sans-serif:pixelsize=10 | 135/190 ... 96/100" (or "core NAME | ...").
static XftFont* xftFont;
static XftDraw* xftDraw;
static XftColor xftText;
static XFontStruct* coreFont;
static int fontAscent, fontDescent;
static char fontName[256];
static XRectangle textClip;  // where the control being painted may draw its text

static XRectangle rects[ctlCount];
static int controlCount;  // controls made: the label and Quit, then the rows if asked for
static const char* programText = "";  // owned by the caller for the life of the process
static char rowTexts[kRows][kStatusTextSize];
static char joinedTexts[2048 + ctlCount * kStatusTextSize];  // all texts, '\n' between them

static bool displayGone;  // the connection broke: nothing may be sent on it any more
static bool buttonHeld;   // button 1 went down on Quit and has not come up yet
static bool buttonSunk;   // Quit is drawn pressed: held, with the pointer over it
static bool quitRequested;
static WindowCalls calls;

void setWindowCalls(const WindowCalls& given) { calls = given; }

// A monitor that lost its display can no longer be told to quit: it must not leave its server
// running unsupervised. Xlib exits when this returns, so it never does. The monitor's last words
// may refresh the rows first, which then go nowhere.
static int onDisplayLost(Display*) {
  displayGone = true;
  if (calls.displayLost != nullptr) calls.displayLost();
  endChildrenAndExit(1);
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
  if (display == nullptr) {
    headless = true;
    return true;
  }
  xlib.XSetIOErrorHandler(onDisplayLost);
  xlib.XSetErrorHandler(onRequestFailed);
  return true;
}

static unsigned long greyPixel(int level) {
  XColor colour = {};
  colour.red = colour.green = colour.blue = static_cast<unsigned short>(level * 257);
  if (xlib.XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &colour)) {
    return colour.pixel;
  }
  const int screen = DefaultScreen(display);
  return level < 128 ? BlackPixel(display, screen) : WhitePixel(display, screen);
}

static void allocateGreys() {
  for (int i = 0; i < greyCount; ++i) greyPixels[i] = greyPixel(greyLevels[i]);
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
  setCardinals(atoms[atomIcon], iconPixels, sizeof iconPixels / sizeof iconPixels[0]);
  setUtf8Property(atoms[atomFont], fontName, static_cast<int>(std::strlen(fontName)));
}

static void makeCanvas() {
  const int screen = DefaultScreen(display);
  canvas = xlib.XCreatePixmap(display, window, kWidth, kHeight, DefaultDepth(display, screen));
  XGCValues values = {};
  values.graphics_exposures = False;  // the canvas is never partly missing
  unsigned long mask = GCGraphicsExposures;
  if (coreFont != nullptr) {
    values.font = coreFont->fid;
    mask |= GCFont;
  }
  gc = xlib.XCreateGC(display, canvas, mask, &values);
  if (xftFont == nullptr) return;
  xftDraw = xft.XftDrawCreate(display, canvas, DefaultVisual(display, screen),
                              DefaultColormap(display, screen));
  const XftRenderColor black = {0, 0, 0, 0xffff};
  xft.XftColorAllocValue(display, DefaultVisual(display, screen), DefaultColormap(display, screen),
                         &black, &xftText);
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

// --- the font: every row's widest text must fit what the row shows of it ---

// The width a row shows: the right-hand column, painted after the left-hand rows, covers them
// from where it begins.
static int roomOf(int row) {
  const XRectangle& rect = rects[ctlFirstRow + row];
  const int rightColumn = rects[ctlFirstRow + labelRestart].x;
  return rect.x < rightColumn ? std::min<int>(rect.width, rightColumn - rect.x) : rect.width;
}

// How far a text reaches from where it starts: its last glyph's advance or ink, whichever is
// further.
static int textExtent(const char* chars) {
  const int length = static_cast<int>(std::strlen(chars));
  if (xftFont != nullptr) {
    XftGlyphInfo glyphs;
    xft.XftTextExtents8(display, xftFont, reinterpret_cast<const unsigned char*>(chars), length,
                        &glyphs);
    return std::max(glyphs.xOff, static_cast<short>(glyphs.width - glyphs.x));
  }
  int direction, ascent, descent;
  XCharStruct overall;
  xlib.XTextExtents(coreFont, chars, length, &direction, &ascent, &descent, &overall);
  return std::max(overall.width, overall.rbearing);
}

static bool rowsFit() {
  for (int row = 0; row < controlCount - ctlFirstRow; ++row) {
    if (textExtent(kWidestRowTexts[row]) > roomOf(row)) return false;
  }
  return true;
}

// The system's sans-serif at the size of the Windows dialog font (11 pixels), or the largest
// smaller size at which the rows fit.
static bool chooseXftFont() {
  if (!loadXft()) return false;
  for (int size = 11; size >= 8; --size) {
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "sans-serif:pixelsize=%d", size);
    xftFont = xft.XftFontOpenName(display, DefaultScreen(display), pattern);
    if (xftFont == nullptr) return false;
    if (rowsFit()) {
      std::snprintf(fontName, sizeof fontName, "xft %s", pattern);
      return true;
    }
    xft.XftFontClose(display, xftFont);
    xftFont = nullptr;
  }
  return false;
}

// Without Xft: the first of the server's fonts that is there and fits. "fixed" is on every X
// server; at 6 pixels a character it cuts the last pixels of NoResponse from 10,000 on.
static bool chooseCoreFont() {
  static const char* const names[] = {"-*-helvetica-medium-r-normal--11-*-*-*-p-*-iso8859-1",
                                      "-*-helvetica-medium-r-normal--10-*-*-*-p-*-iso8859-1", "5x8",
                                      "fixed"};
  for (const char* name : names) {
    coreFont = xlib.XLoadQueryFont(display, name);
    if (coreFont == nullptr) continue;
    std::snprintf(fontName, sizeof fontName, "core %s", name);
    if (rowsFit() || std::strcmp(name, "fixed") == 0) return true;
    xlib.XFreeFont(display, coreFont);
    coreFont = nullptr;
  }
  return false;
}

static bool chooseFont() {
  if (!chooseXftFont() && !chooseCoreFont()) return false;
  fontAscent = xftFont != nullptr ? xftFont->ascent : coreFont->ascent;
  fontDescent = xftFont != nullptr ? xftFont->descent : coreFont->descent;
  size_t used = std::strlen(fontName);
  for (int row = 0; row < controlCount - ctlFirstRow && used < sizeof fontName; ++row) {
    used += std::snprintf(fontName + used, sizeof fontName - used, "%s%d/%d",
                          row == 0 ? " | " : " ", textExtent(kWidestRowTexts[row]), roomOf(row));
  }
  return true;
}

static void makeControls(bool withStatusRows) {
  const int left = 0;
  const int right = kWidth;
  makeControl(left + 10, 15, right - 10, 22);
  makeControl(right - 70, 45, 60, 30);
  if (withStatusRows) makeStatusRows(left);
}

static const char* controlText(int control) {
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

static bool intersect(const XRectangle& a, const XRectangle& b, XRectangle* both) {
  const int left = a.x > b.x ? a.x : b.x;
  const int top = a.y > b.y ? a.y : b.y;
  const int right = a.x + a.width < b.x + b.width ? a.x + a.width : b.x + b.width;
  const int bottom = a.y + a.height < b.y + b.height ? a.y + a.height : b.y + b.height;
  if (right <= left || bottom <= top) return false;
  *both = {static_cast<short>(left), static_cast<short>(top),
           static_cast<unsigned short>(right - left), static_cast<unsigned short>(bottom - top)};
  return true;
}

static void fill(Grey grey, const XRectangle& rect) {
  xlib.XSetForeground(display, gc, greyPixels[grey]);
  xlib.XFillRectangle(display, canvas, gc, rect.x, rect.y, rect.width, rect.height);
}

static void line(Grey grey, int x1, int y1, int x2, int y2) {
  xlib.XSetForeground(display, gc, greyPixels[grey]);
  xlib.XDrawLine(display, canvas, gc, x1, y1, x2, y2);
}

// One edge of a 3D frame: the top and left sides in one grey, the bottom and right in another.
static void frame(Grey topLeft, Grey bottomRight, int left, int top, int right, int bottom) {
  line(topLeft, left, top, right - 1, top);
  line(topLeft, left, top, left, bottom - 1);
  line(bottomRight, left, bottom, right, bottom);
  line(bottomRight, right, top, right, bottom);
}

static void text(const char* chars, int x, int baseline) {
  const int length = static_cast<int>(std::strlen(chars));
  if (xftDraw != nullptr) {
    xft.XftDrawSetClipRectangles(xftDraw, 0, 0, &textClip, 1);
    xft.XftDrawString8(xftDraw, &xftText, xftFont, x, baseline,
                       reinterpret_cast<const unsigned char*>(chars), length);
    return;
  }
  xlib.XSetForeground(display, gc, greyPixels[greyText]);
  xlib.XDrawString(display, canvas, gc, x, baseline, chars, length);
}

// A static's text starts at its top left corner and is cut at its edges.
static void paintLabel(int control) {
  const XRectangle& rect = rects[control];
  fill(greyFace, rect);
  text(controlText(control), rect.x, rect.y + fontAscent);
}

static void paintButton(const XRectangle& rect) {
  const int right = rect.x + rect.width - 1;
  const int bottom = rect.y + rect.height - 1;
  const int shift = buttonSunk ? 1 : 0;  // a pressed face's caption moves down and right
  fill(greyFace, rect);
  if (buttonSunk) {
    frame(greyDarkShadow, greyDarkShadow, rect.x, rect.y, right, bottom);
    frame(greyShadow, greyShadow, rect.x + 1, rect.y + 1, right - 1, bottom - 1);
  } else {
    frame(greyHighlight, greyDarkShadow, rect.x, rect.y, right, bottom);
    frame(greyLight, greyShadow, rect.x + 1, rect.y + 1, right - 1, bottom - 1);
  }
  const int width = textExtent(szQuit);
  const int height = fontAscent + fontDescent;
  text(szQuit, rect.x + (rect.width - width) / 2 + shift,
       rect.y + (rect.height - height) / 2 + fontAscent + shift);
}

static void paintControl(int control, const XRectangle& area) {
  XRectangle clip;
  if (!intersect(rects[control], area, &clip)) return;
  xlib.XSetClipRectangles(display, gc, 0, 0, &clip, 1, Unsorted);
  textClip = clip;
  if (control == ctlQuit) {
    paintButton(rects[control]);
  } else {
    paintLabel(control);
  }
}

// Repaints everything inside `area` on the canvas, then shows it.
static void paintArea(const XRectangle& area) {
  xlib.XSetClipRectangles(display, gc, 0, 0, const_cast<XRectangle*>(&area), 1, Unsorted);
  fill(greyFace, area);
  for (int i = 0; i < controlCount; ++i) paintControl(i, area);
  xlib.XSetClipMask(display, gc, None);
  xlib.XCopyArea(display, canvas, window, gc, area.x, area.y, area.width, area.height, area.x,
                 area.y);
}

bool createMainWindow(const char* programLabel, bool withStatusRows) {
  if (headless) {
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
  if (headless) return;
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

bool windowAvailable() { return !headless; }
