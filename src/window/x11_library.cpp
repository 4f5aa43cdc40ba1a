// Xlib and Xft on Linux, loaded when a window is wanted.
#include <dlfcn.h>

#include <cstdlib>

#include "window/x11_internal.h"

XlibCalls xlib;
XftCalls xft;

bool loadXft() {
#ifdef TOLVANE_NO_XFT  // defined only to build the bench's monitor without it
  return false;
#endif
  void* library = dlopen("libXft.so.2", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
#define LOAD(name)                                                       \
  xft.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (xft.name == nullptr) return false;
  XFT_FUNCTIONS(LOAD)
#undef LOAD
  return true;
}

bool loadXlib() {
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
