// Looks at and pokes the watchdog from outside, the way a user or Windows itself would, so the
// end-to-end driver (a bash script) can check the real window and process rather than trust logs.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static int fail(const char* msg, const char* arg = "") {
  fprintf(stderr, "peek: %s%s (error %lu)\n", msg, arg, (unsigned long)GetLastError());
  return 1;
}

static DWORD number(const char* s) { return strtoul(s, NULL, 10); }
static bool is(const char* a, const char* b) { return strcmp(a, b) == 0; }

static HWND foundWindow;

static BOOL CALLBACK matchWindow(HWND hwnd, LPARAM pid) {
  DWORD owner = 0;
  char cls[64];
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != (DWORD)pid || !GetClassNameA(hwnd, cls, sizeof(cls)) || !is(cls, "Tolvane"))
    return TRUE;
  foundWindow = hwnd;
  return FALSE;
}

// Polls every 50 ms for up to waitMs: the watchdog may not have made its window yet.
static HWND findWindow(DWORD pid, DWORD waitMs) {
  DWORD start = GetTickCount();
  for (foundWindow = NULL;
       EnumWindows(matchWindow, (LPARAM)pid), !foundWindow && GetTickCount() - start < waitMs;)
    Sleep(50);
  return foundWindow;
}

// Line breaks come out as \r and \n so that every item stays on one output line.
static void printText(HWND hwnd) {
  int len = GetWindowTextLengthA(hwnd);
  char* text = (char*)calloc(len + 2, 1);
  if (!text) return;
  GetWindowTextA(hwnd, text, len + 1);
  for (char* p = text; *p; ++p)
    *p == '\r' ? fputs("\\r", stdout) : *p == '\n' ? fputs("\\n", stdout) : putchar(*p);
  free(text);
}

static void dumpWindow(HWND hwnd, bool textsOnly) {
  char cls[256];
  RECT r, client;
  if (!textsOnly) {
    GetClassNameA(hwnd, cls, sizeof(cls));
    GetWindowRect(hwnd, &r);
    GetClientRect(hwnd, &client);
    printf("window class=%s title=", cls);
    printText(hwnd);
    printf(" style=%08lX exstyle=%08lX visible=%d rect=%ld,%ld,%ld,%ld\nclient=%ld,%ld\n",
           (unsigned long)GetWindowLongA(hwnd, GWL_STYLE),
           (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE), IsWindowVisible(hwnd) ? 1 : 0, r.left,
           r.top, r.right - r.left, r.bottom - r.top, client.right, client.bottom);
  }
  // Direct children only, in creation order: the order GW_CHILD / GW_HWNDNEXT walk them.
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!textsOnly) {
      GetClassNameA(c, cls, sizeof(cls));
      GetWindowRect(c, &r);
      MapWindowPoints(NULL, hwnd, (POINT*)&r, 2);
      printf("control class=%s style=%08lX rect=%ld,%ld,%ld,%ld text=", cls,
             (unsigned long)GetWindowLongA(c, GWL_STYLE), r.left, r.top, r.right - r.left,
             r.bottom - r.top);
    }
    printText(c);
    putchar('\n');
  }
}

static int clickControl(HWND hwnd, const char* wanted) {
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char text[512] = "";
    GetWindowTextA(c, text, sizeof(text));
    if (!is(text, wanted)) continue;
    DWORD_PTR result = 0;
    SetLastError(0);
    // BM_CLICK answers 0, so a zero return is a failure only when an error code comes with it.
    if (!SendMessageTimeoutA(c, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) && GetLastError())
      return fail("BM_CLICK not delivered to ", wanted);
    return 0;
  }
  return fail("no control with text ", wanted);
}

// A rectangle of the screen as a bottom-up DIB of BITS bits a pixel, described in `info`, or
// null. The caller frees it.
static char* grabScreen(const RECT& r, WORD bits, BITMAPINFOHEADER* info) {
  int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(NULL);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  DWORD rowBytes = ((DWORD)w * bits / 8 + 3) & ~3u;  // BMP rows are padded to 4 bytes
  *info = {sizeof(*info), w, h, 1, bits, BI_RGB, rowBytes * h, 0, 0, 0, 0};
  char* pixels = (char*)malloc(info->biSizeImage);
  int rows = pixels ? GetDIBits(mem, bmp, 0, h, pixels, (BITMAPINFO*)info, DIB_RGB_COLORS) : 0;
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(NULL, screen);
  if (rows != h) free(pixels);
  return rows == h ? pixels : NULL;
}

// Copies the window's rectangle from the screen. The frame is there only where Wine draws it
// (a virtual desktop, or Decorated=N); PrintWindow from another process gives a blank picture.
static int writeBmp(HWND hwnd, const char* path) {
  RECT r;
  GetWindowRect(hwnd, &r);
  if (r.right <= r.left || r.bottom <= r.top) return fail("window has no area");
  BITMAPINFOHEADER info;
  char* pixels = grabScreen(r, 24, &info);
  DWORD offBits = sizeof(BITMAPFILEHEADER) + sizeof(info);
  BITMAPFILEHEADER file = {0x4D42, offBits + info.biSizeImage, 0, 0, offBits};
  FILE* f = pixels ? fopen(path, "wb") : NULL;
  bool ok = f && fwrite(&file, sizeof(file), 1, f) == 1 && fwrite(&info, sizeof(info), 1, f) == 1 &&
            fwrite(pixels, info.biSizeImage, 1, f) == 1;
  if (f && fclose(f) != 0) ok = false;
  free(pixels);
  return ok ? 0 : fail("cannot capture the window to ", path);
}

// How far TEXT reaches, in pixels of ink (darker than mid grey), when the statistics row whose
// caption begins like it (up to its colon) shows it in its own font. The row shows TEXT,
// widened to the window's edge and raised above its siblings, is read from the screen, then is
// put back as it was. The window must lie where no other does.
static int measureReach(HWND hwnd, const char* text) {
  char caption[128] = "";
  HWND c = GetWindow(hwnd, GW_CHILD);
  while (c && !(GetWindowTextA(c, caption, sizeof(caption)) &&
                strncmp(caption, text, strcspn(text, ":") + 1) == 0))
    c = GetWindow(c, GW_HWNDNEXT);
  if (!c) return fail("no row like ", text);
  RECT r, client;
  GetClientRect(hwnd, &client);
  GetWindowRect(c, &r);
  MapWindowPoints(NULL, hwnd, (POINT*)&r, 2);
  HWND above = GetWindow(c, GW_HWNDPREV);
  SetWindowTextA(c, text);
  SetWindowPos(c, HWND_TOP, 0, 0, client.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOACTIVATE);
  Sleep(500);  // painted by the monitor's own loop
  RECT wide = {r.left, r.top, client.right, r.bottom};
  MapWindowPoints(hwnd, NULL, (POINT*)&wide, 2);
  BITMAPINFOHEADER info;
  DWORD* pixels = (DWORD*)grabScreen(wide, 32, &info);
  SetWindowPos(c, above ? above : HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOACTIVATE);
  SetWindowTextA(c, caption);
  int reach = 0;
  for (int i = 0; pixels && i < info.biWidth * info.biHeight; ++i) {
    DWORD p = pixels[i];
    if ((p & 0xFF) + (p >> 8 & 0xFF) + (p >> 16 & 0xFF) < 3 * 128 && i % info.biWidth >= reach)
      reach = i % info.biWidth + 1;
  }
  bool read = pixels != NULL;
  free(pixels);
  printf("reach=%d\n", reach);
  return read ? 0 : fail("cannot read the screen");
}

// Counts the pixels darker than mid grey in a rectangle of the window's client area, as the
// screen shows them: the ink of the glyphs a user sees there.
static int countInk(HWND hwnd, int x, int y, int width, int height) {
  POINT origin = {x, y};
  ClientToScreen(hwnd, &origin);
  HDC screen = GetDC(NULL);
  int ink = 0;
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      COLORREF c = GetPixel(screen, origin.x + column, origin.y + row);
      ink += c != CLR_INVALID && GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128 ? 1 : 0;
    }
  }
  ReleaseDC(NULL, screen);
  printf("ink=%d\n", ink);
  return 0;
}

// Runs an exact command line (read from a file so no shell or wine layer re-quotes it) and
// hands back the child's own exit code. The PID file appears whole, by rename. With `app` the
// program is named apart, so the command line may be one the system could not parse itself.
// runalone gives the program no standard handles, as Explorer or a shortcut starts it. The file
// is UTF-8 and the program is started through the W call, as Explorer starts one: a command line
// in any script reaches it whole, whatever the ANSI code page.
static int runCommand(const char* cmdFile, const char* pidFile, const char* app, bool alone) {
  static char cmd[65536];
  static wchar_t wideCmd[65536];
  wchar_t wideApp[MAX_PATH] = L"";
  FILE* f = fopen(cmdFile, "rb");
  size_t len = f ? fread(cmd, 1, sizeof(cmd) - 1, f) : 0;
  if (!f) return fail("cannot read ", cmdFile), 255;
  fclose(f);
  while (len > 0 && (cmd[len - 1] == '\n' || cmd[len - 1] == '\r')) --len;
  cmd[len] = 0;
  if (!MultiByteToWideChar(CP_UTF8, 0, cmd, -1, wideCmd, 65536) ||
      (app && !MultiByteToWideChar(CP_ACP, 0, app, -1, wideApp, MAX_PATH)))
    return fail("cannot convert the command line of ", cmdFile), 255;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  if (alone) si.dwFlags = STARTF_USESTDHANDLES;  // and all three null
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(app ? wideApp : NULL, wideCmd, NULL, NULL, !alone, 0, NULL, NULL, &si, &pi))
    return fail("CreateProcessW failed for ", cmd), 255;
  char tmpName[MAX_PATH + 8];
  snprintf(tmpName, sizeof(tmpName), "%s.tmp", pidFile);
  f = fopen(tmpName, "wb");
  bool ok = f && fprintf(f, "%lu\n", (unsigned long)pi.dwProcessId) > 0;
  if ((f && fclose(f) != 0) || !ok || !MoveFileExA(tmpName, pidFile, MOVEFILE_REPLACE_EXISTING))
    fail("cannot write ", pidFile);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 255;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return (int)code;
}

static void printResourceId(const char* id) {
  if (IS_INTRESOURCE(id))
    printf("%u", (unsigned)(ULONG_PTR)id);
  else
    printf("%s", id);
}

static BOOL CALLBACK printName(HMODULE, LPCSTR type, LPSTR name, LONG_PTR) {
  printResourceId(type);
  putchar(' ');
  printResourceId(name);
  putchar('\n');
  return TRUE;
}

static BOOL CALLBACK listNames(HMODULE module, LPSTR type, LONG_PTR) {
  EnumResourceNamesA(module, type, printName, 0);
  return TRUE;
}

// Every resource of an executable as "TYPE NAME", numbers for numeric ids (3 icon, 14 icon group,
// 16 version, 24 manifest).
static int listResources(const char* path) {
  HMODULE module = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return fail("cannot load ", path);
  EnumResourceTypesA(module, listNames, 0);
  FreeLibrary(module);
  return 0;
}

// Handles the process holds, from the system-wide handle table (information class 16), for
// systems whose GetProcessHandleCount is a stub that answers 0.
static DWORD countHandlesInSystemTable(DWORD pid) {
  struct Entry {
    ULONG ownerPid;
    BYTE objectType, flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  // The entries follow the count at their own alignment: 4 bytes in on 32-bit, 8 on 64-bit.
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
  QueryFn query = (QueryFn)(void (*)())GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                      "NtQuerySystemInformation");
  for (ULONG size = 1 << 16; query && size <= (1u << 26); size *= 4) {
    Table* table = (Table*)malloc(size);
    LONG status = table ? query(16, table, size, NULL) : -1;
    if (status == 0) {
      DWORD count = 0;
      for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].ownerPid == pid ? 1 : 0;
      free(table);
      return count;
    }
    free(table);
    if (status != (LONG)0xC0000004) break;  // anything but "buffer too small" ends the try
  }
  return 0;
}

static int printHandleCount(HANDLE process, DWORD pid) {
  typedef BOOL(WINAPI * HandleCountFn)(HANDLE, PDWORD);
  HandleCountFn getCount = (HandleCountFn)(void (*)())GetProcAddress(
      GetModuleHandleA("kernel32.dll"), "GetProcessHandleCount");
  DWORD value = 0;
  // A live process always holds some handles: a count of 0 means the call is a stub.
  if (getCount && getCount(process, &value) && value > 0) {
    printf("handles=%lu source=GetProcessHandleCount\n", (unsigned long)value);
  } else if ((value = countHandlesInSystemTable(pid)) > 0) {
    printf("handles=%lu source=SystemHandleInformation\n", (unsigned long)value);
  } else {
    puts("unsupported");
  }
  return 0;
}

// Sends COUNT 6-byte datagrams to 127.0.0.1:PORT as fast as the system takes them.
static int floodPort(DWORD port, DWORD count) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(1, 1), &wsa);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons((u_short)port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  const char datagram[6] = {1, 2, 3, 4, 5, 6};
  DWORD sent = 0;
  for (DWORD i = 0; s != INVALID_SOCKET && i < count; ++i)
    sent += sendto(s, datagram, sizeof datagram, 0, (sockaddr*)&to, sizeof to) == 6 ? 1 : 0;
  printf("sent=%lu\n", (unsigned long)sent);
  return sent == count ? 0 : 1;
}

// Asks the window for its title with a message, which only a window that still serves its
// queue answers, and says how long the answer took.
static int askWindow(HWND hwnd, DWORD timeoutMs) {
  char title[256] = "";
  DWORD_PTR result = 0;
  const DWORD start = GetTickCount();
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof title, (LPARAM)title, SMTO_ABORTIFHUNG,
                           timeoutMs, &result) ||
      result == 0)
    return fail("no answer from the window");
  printf("answered in %lu ms: %s\n", (unsigned long)(GetTickCount() - start), title);
  return 0;
}

// The system's exit time of an ended process, in 100 ns units (0 if it cannot be read).
static unsigned long long exitTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (unsigned long long)exited.dwHighDateTime << 32 | exited.dwLowDateTime;
}

// Holds the processes from now on, so that how they end can be read after they are gone:
// prints "waiting" once it holds them, then, when all have ended or MS have passed, one line per
// process in the order given: exit=CODE, running, or gone (it could not be opened); last
// "ended=TIME..." with the system's exit time of each (FILETIME units, 0 where none).
static int waitProcesses(DWORD timeoutMs, int count, char** pids) {
  HANDLE held[MAXIMUM_WAIT_OBJECTS];
  unsigned long long ended[MAXIMUM_WAIT_OBJECTS] = {};
  if (count > MAXIMUM_WAIT_OBJECTS) return fail("too many processes");
  for (int i = 0; i < count; ++i)
    held[i] = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, number(pids[i]));
  puts("waiting");
  fflush(stdout);
  const DWORD start = GetTickCount();
  for (int i = 0; i < count; ++i) {
    DWORD spent = GetTickCount() - start, code = 0;
    if (!held[i]) {
      puts("gone");
    } else if (WaitForSingleObject(held[i], spent < timeoutMs ? timeoutMs - spent : 0) ==
                   WAIT_OBJECT_0 &&
               GetExitCodeProcess(held[i], &code)) {
      printf("exit=%lu\n", (unsigned long)code);
      ended[i] = exitTime(held[i]);
    } else {
      puts("running");
    }
    if (held[i]) CloseHandle(held[i]);
  }
  fputs("ended=", stdout);
  for (int i = 0; i < count; ++i) printf(i ? " %llu" : "%llu", ended[i]);
  putchar('\n');
  return 0;
}

// kill and handles: verbs on the process itself, no window needed.
static int processVerb(const char* verb, DWORD pid) {
  DWORD access = is(verb, "kill") ? PROCESS_TERMINATE : PROCESS_QUERY_INFORMATION | SYNCHRONIZE;
  HANDLE h = OpenProcess(access, FALSE, pid);
  if (!h) return fail("cannot open process");
  bool ok = is(verb, "kill") ? TerminateProcess(h, 9) : printHandleCount(h, pid) == 0;
  CloseHandle(h);
  return ok ? 0 : is(verb, "kill") ? fail("cannot terminate process") : 1;
}

// What the system does to the window of process PID. endsession [cancel|closeapp]: tells it of
// the session's end (printing its answer to the question), that the end was called off, or, as
// the Restart Manager does for an installer, that this program alone must close. hold
// menu|release|state: opens its system menu as Alt+Space does, presses Escape twice, or prints
// whether a loop of the system's own holds its thread.
static int systemVerb(int argc, char** argv) {
  HWND hwnd = findWindow(number(argv[2]), 0);
  if (!hwnd) return fail("no Tolvane window for that process");
  DWORD_PTR answer = 0;
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (is(argv[1], "endsession")) {
    const LPARAM how = argc == 4 && is(argv[3], "closeapp") ? ENDSESSION_CLOSEAPP : 0;
    SendMessageTimeoutA(hwnd, WM_QUERYENDSESSION, 0, how, SMTO_ABORTIFHUNG, 5000, &answer);
    printf("query=%lu\n", (unsigned long)answer);
    SendMessageTimeoutA(hwnd, WM_ENDSESSION, argc == 3 || how != 0, how, SMTO_ABORTIFHUNG, 5000,
                        &answer);
  } else if (is(argv[3], "state")) {
    // A failed reading says so: it must not fall through to the release below.
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, NULL), &info))
      return fail("cannot read the window's thread state");
    printf("menu=%d move=%d\n", info.flags & GUI_INMENUMODE ? 1 : 0,
           info.flags & GUI_INMOVESIZE ? 1 : 0);
  } else if (is(argv[3], "menu")) {
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_KEYMENU, ' ');
  } else {
    for (int i = 0; i < 2; ++i) PostMessageA(hwnd, WM_KEYDOWN, VK_ESCAPE, 1);
  }
  return 0;
}

// injob: like run, in a job of the inspector's own, as the Task Scheduler or Run As start a
// program; injob-breakaway: in a job that lets what the program starts leave it.
static int runInJob(bool breakaway, const char* cmdFile, const char* pidFile, const char* app) {
  HANDLE job = CreateJobObjectA(NULL, NULL);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = breakaway ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0;
  // The inspector joins it first: the program then runs in it from its first instruction on.
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
      !AssignProcessToJobObject(job, GetCurrentProcess()))
    return fail("cannot make or join the job"), 255;
  return runCommand(cmdFile, pidFile, app, false);
}

int main(int argc, char** argv) {
  const char* verb = argc > 1 ? argv[1] : "";
  if ((is(verb, "run") || is(verb, "runalone")) && (argc == 4 || argc == 5))
    return runCommand(argv[2], argv[3], argc == 5 ? argv[4] : NULL, is(verb, "runalone"));
  if (is(verb, "resources") && argc == 3) return listResources(argv[2]);
  if ((is(verb, "injob") || is(verb, "injob-breakaway")) && (argc == 4 || argc == 5))
    return runInJob(is(verb, "injob-breakaway"), argv[2], argv[3], argc == 5 ? argv[4] : NULL);
  if ((is(verb, "endsession") && (argc == 3 || argc == 4)) || (is(verb, "hold") && argc == 4))
    return systemVerb(argc, argv);
  if (is(verb, "udpflood") && argc == 4) return floodPort(number(argv[2]), number(argv[3]));
  if (is(verb, "wait") && argc >= 4) return waitProcesses(number(argv[2]), argc - 3, argv + 3);
  if ((is(verb, "kill") || is(verb, "handles")) && argc == 3)
    return processVerb(verb, number(argv[2]));
  bool known =
      is(verb, "ink")    ? argc == 7
      : is(verb, "move") ? argc == 5
      : (is(verb, "find") || is(verb, "flood") || is(verb, "click") || is(verb, "shot") ||
         is(verb, "ask") || is(verb, "reach"))
          ? argc == 4
          : (is(verb, "dump") || is(verb, "texts") || is(verb, "close") || is(verb, "postquit")) &&
                argc == 3;
  if (!known) {
    fprintf(stderr,
            "usage: peek run|runalone CMDFILE PIDFILE [APP] | wait MS PID... | find PID MS | dump "
            "PID | "
            "texts PID |\n"
            "       click PID TEXT | close PID | postquit PID | kill PID | handles PID |\n"
            "       flood PID COUNT | ask PID MS | shot PID FILE.bmp | ink PID X Y W H |\n"
            "       move PID X Y | reach PID TEXT | resources EXE | udpflood PORT COUNT\n");
    fprintf(
        stderr,
        "       injob|injob-breakaway CMDFILE PIDFILE [APP] | endsession PID [cancel|closeapp] |\n"
        "       hold PID menu|release|state\n");
    return 1;
  }
  HWND hwnd = findWindow(number(argv[2]), is(verb, "find") ? number(argv[3]) : 0);
  if (!hwnd) return fail("no Tolvane window for that process");
  if (is(verb, "find")) printf("%08lX\n", (unsigned long)(ULONG_PTR)hwnd);
  if (is(verb, "dump") || is(verb, "texts")) dumpWindow(hwnd, is(verb, "texts"));
  if (is(verb, "click")) return clickControl(hwnd, argv[3]);
  if (is(verb, "ask")) return askWindow(hwnd, number(argv[3]));
  if (is(verb, "reach")) return measureReach(hwnd, argv[3]);
  if (is(verb, "close") && !PostMessageA(hwnd, WM_CLOSE, 0, 0)) return fail("cannot post WM_CLOSE");
  if (is(verb, "postquit") &&
      !PostThreadMessageA(GetWindowThreadProcessId(hwnd, NULL), WM_QUIT, 0, 0))
    return fail("cannot post WM_QUIT");
  if (is(verb, "flood")) {
    // A full queue (10000 messages on Windows) refuses posts; count them rather than stop.
    DWORD count = number(argv[3]), posted = 0;
    for (DWORD i = 0; i < count; ++i) posted += PostMessageA(hwnd, WM_NULL, 0, 0) ? 1 : 0;
    printf("posted=%lu failed=%lu\n", (unsigned long)posted, (unsigned long)(count - posted));
  }
  if (is(verb, "shot")) return writeBmp(hwnd, argv[3]);
  // Where no other window lies, the screen shows this one's own pixels.
  if (is(verb, "move") && !SetWindowPos(hwnd, HWND_TOP, number(argv[3]), number(argv[4]), 0, 0,
                                        SWP_NOSIZE | SWP_NOACTIVATE))
    return fail("cannot move the window");
  if (is(verb, "ink"))
    return countInk(hwnd, number(argv[3]), number(argv[4]), number(argv[5]), number(argv[6]));
  return 0;
}
