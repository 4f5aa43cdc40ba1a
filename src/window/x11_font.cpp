// The X11 window's font: every row's widest text must fit what the row shows of it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "window/x11_internal.h"

XftFont* xftFont;
XFontStruct* coreFont;
int fontAscent, fontDescent;
char fontName[256];

// The width a row shows: the right-hand column, painted after the left-hand rows, covers them
// from where it begins.
static int roomOf(int row) {
  const XRectangle& rect = rects[ctlFirstRow + row];
  const int rightColumn = rects[ctlFirstRow + labelRestart].x;
  return rect.x < rightColumn ? std::min<int>(rect.width, rightColumn - rect.x) : rect.width;
}

// How far a text reaches from where it starts: its last glyph's advance or ink, whichever is
// further.
int textExtent(const char* chars) {
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

bool chooseFont() {
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
