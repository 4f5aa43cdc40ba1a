// Drawing the X11 window: its controls painted on a canvas in the Windows layout and look, then
// shown.
#include <X11/Xlib.h>

#include <cstring>

#include "window/x11_internal.h"

static const int greyLevels[greyCount] = {0, 105, 160, 227, 240, 255};
unsigned long greyPixels[greyCount];  // the display's pixel for each grey
Pixmap canvas;
GC gc;
bool buttonSunk;
static XftDraw* xftDraw;
static XftColor xftText;
static XRectangle textClip;  // where the control being painted may draw its text

static unsigned long greyPixel(int level) {
  XColor colour = {};
  colour.red = colour.green = colour.blue = static_cast<unsigned short>(level * 257);
  if (xlib.XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &colour)) {
    return colour.pixel;
  }
  const int screen = DefaultScreen(display);
  return level < 128 ? BlackPixel(display, screen) : WhitePixel(display, screen);
}

void allocateGreys() {
  for (int i = 0; i < greyCount; ++i) greyPixels[i] = greyPixel(greyLevels[i]);
}

void makeCanvas() {
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
void paintArea(const XRectangle& area) {
  xlib.XSetClipRectangles(display, gc, 0, 0, const_cast<XRectangle*>(&area), 1, Unsorted);
  fill(greyFace, area);
  for (int i = 0; i < controlCount; ++i) paintControl(i, area);
  xlib.XSetClipMask(display, gc, None);
  xlib.XCopyArea(display, canvas, window, gc, area.x, area.y, area.width, area.height, area.x,
                 area.y);
}
