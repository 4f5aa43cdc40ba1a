// What the X11 window's files share among themselves. The core never sees this: window.h is all
// it includes.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "window/window.h"

constexpr int kWidth = 450;  // the client area the Windows layout is measured against
constexpr int kHeight = 130;
constexpr int kRows = 6;

// Controls in creation order, which is also painting order: where they overlap, a later one
// covers an earlier one, as sibling statics do on Windows.
enum Control { ctlProgram, ctlQuit, ctlFirstRow, ctlCount = ctlFirstRow + kRows };

// Windows' classic 3D colours around the menu grey, all of them greys.
enum Grey { greyText, greyDarkShadow, greyShadow, greyLight, greyFace, greyHighlight, greyCount };
extern unsigned long greyPixels[greyCount];  // the display's pixel for each grey

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

extern struct XlibCalls {
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

extern struct XftCalls {
#define DECLARE(name) decltype(&::name) name;
  XFT_FUNCTIONS(DECLARE)
#undef DECLARE
} xft;

// The libraries (x11_library.cpp): false when one is missing, or lacks a function.
bool loadXlib();
bool loadXft();

// The connection and the window (x11_window.cpp).
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
extern Atom atoms[atomCount];
extern Display* display;  // null until initClass opened the connection, and when headless
extern Window window;     // 0 until createMainWindow
extern XRectangle rects[ctlCount];
extern int controlCount;  // controls made: the label and Quit, then the rows if asked for
extern const char* const szQuit;
const char* controlText(int control);

// The text font (x11_font.cpp): an Xft font when one fits, else a core font. The window publishes
// which, and how far each row's widest text reaches of the width the row shows (_TOLVANE_FONT):
// "xft sans-serif:pixelsize=10 | 135/190 ... 96/100" (or "core NAME | ...").
extern XftFont* xftFont;
extern XFontStruct* coreFont;
extern int fontAscent, fontDescent;
extern char fontName[256];
bool chooseFont();
int textExtent(const char* chars);

// Drawing (x11_draw.cpp): the canvas always holds the whole client area as it should look.
extern Pixmap canvas;
extern GC gc;
extern bool buttonSunk;  // Quit is drawn pressed: held, with the pointer over it
void allocateGreys();
void makeCanvas();
void paintArea(const XRectangle& area);
