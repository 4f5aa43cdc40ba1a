// How far each text reaches, in pixels, in the font the monitor's window names in its
// _TOLVANE_FONT property: "xft PATTERN" (a client-side font, found by fontconfig) or "core NAME"
// (one of the X server's). Measured here, apart from the monitor, the way it draws.
// Usage: textwidth FONT TEXT...   prints one width per line; exit 1 when the font is not there.
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

struct GlyphInfo {  // Xft's XGlyphInfo
  unsigned short width, height;
  short x, y, xOff, yOff;
};
using OpenName = void* (*)(Display*, int, const char*);
using Extents8 = void (*)(Display*, void*, const unsigned char*, int, GlyphInfo*);

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(nullptr);
  if (argc < 2 || display == nullptr) return 1;
  const bool xft = std::strncmp(argv[1], "xft ", 4) == 0;
  void* library = xft ? dlopen("libXft.so.2", RTLD_NOW) : nullptr;
  auto open = library ? reinterpret_cast<OpenName>(dlsym(library, "XftFontOpenName")) : nullptr;
  auto extents = library ? reinterpret_cast<Extents8>(dlsym(library, "XftTextExtents8")) : nullptr;
  void* xftFont = open ? open(display, DefaultScreen(display), argv[1] + 4) : nullptr;
  XFontStruct* core = xft ? nullptr : XLoadQueryFont(display, argv[1] + 5);
  if (xftFont == nullptr && core == nullptr) return 1;
  for (int i = 2; i < argc; ++i) {
    const int length = static_cast<int>(std::strlen(argv[i]));
    int reach;
    if (xftFont != nullptr) {
      GlyphInfo glyphs;
      extents(display, xftFont, reinterpret_cast<const unsigned char*>(argv[i]), length, &glyphs);
      reach = std::max<int>(glyphs.xOff, glyphs.width - glyphs.x);
    } else {
      int direction, ascent, descent;
      XCharStruct overall;
      XTextExtents(core, argv[i], length, &direction, &ascent, &descent, &overall);
      reach = std::max<int>(overall.width, overall.rbearing);
    }
    std::printf("%d\n", reach);
  }
  return 0;
}
