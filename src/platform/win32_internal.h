// What the Win32 platform's files share among themselves. The core never sees this: platform.h is
// all it includes.
#pragma once

#include <windows.h>

// The server's job (win32_job.cpp).
bool placeInJob(HANDLE process);
void endLeftovers(HANDLE process);

// The session's end, as starting a server sees it (win32_start.cpp).
extern HANDLE endToldInShutdown;
