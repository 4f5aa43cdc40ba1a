// The version the window title shows. make release reads it from here to name the zip, so this
// line is the only place it is written.
#pragma once
#define TOLVANE_VERSION "2.0"
