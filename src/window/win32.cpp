// The status window on Win32: class, main window, controls and the window procedure.
#include <windows.h>

#include <cstddef>

#include "version.h"
#include "window/window.h"

static HINSTANCE hInstance;
static HWND hWnd;
static HWND hProgram;
static HWND hButton;
static HWND hTotal, hCurrent, hMinMax, hAve, hRestart, hNoresponse;
static const char szClassName[] = "Tolvane";
static const char szAppName[] = "Tolvane v" TOLVANE_VERSION;
static const char* programText;  // the program label's text, owned by the caller
static bool withRows;            // the statistics rows are made
static WindowCalls calls;
static bool held;  // the system runs a loop of its own (a move, a size, a menu): the timer runs

constexpr UINT_PTR kHeldTimer = 1;
constexpr UINT kHeldSecondMs = 1000;

static HFONT hFont;  // every control's font, made with the first control and kept for good

static const DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP;
constexpr int kLabelChars = 1024;  // the program label: 1023 bytes of UTF-8 at most, and its end

// The room each row has for its text: a left-hand row shows 190 px before the right-hand column
// covers it, a right-hand one its whole 100.
static const int kRowRoom[kStatusLabels] = {190, 190, 190, 190, 100, 100};

constexpr LONG kSmallestHeight = 8;  // pixels; a font cut further would not be read

static bool rowsFit(HDC dc, HFONT font) {
  const HGDIOBJ old = SelectObject(dc, font);
  bool fit = true;
  for (int row = 0; row < kStatusLabels; ++row) {
    const char* text = kWidestRowTexts[row];
    SIZE size;
    if (GetTextExtentPoint32A(dc, text, lstrlenA(text), &size) && size.cx > kRowRoom[row]) {
      fit = false;
    }
  }
  SelectObject(dc, old);
  return fit;
}

// The system's dialog font (its message font, or the stock GUI font where that cannot be read).
// Without one a control draws in the bold System font, in which the rows' longest texts run past
// their labels and lose their numbers. The rows' geometry is fixed, so where even the dialog font
// is too wide for them (a wider face, or larger text chosen in the system's settings), it is made
// a pixel smaller at a time until every row's widest text fits: a smaller number beats a cut one.
// The metrics' size is the one before Vista's extra field, which every version takes.
static HFONT dialogFont() {
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
  LOGFONTA& look = metrics.lfMessageFont;
  const HGDIOBJ stock = GetStockObject(DEFAULT_GUI_FONT);
  if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0) &&
      !GetObjectA(stock, sizeof look, &look)) {
    return static_cast<HFONT>(stock);
  }
  const LONG step = look.lfHeight < 0 ? 1 : -1;  // negative heights are character heights
  HDC screen = GetDC(nullptr);
  HFONT font = CreateFontIndirectA(&look);
  while (font != nullptr && look.lfHeight * -step > kSmallestHeight && !rowsFit(screen, font)) {
    DeleteObject(font);
    look.lfHeight += step;
    font = CreateFontIndirectA(&look);
  }
  ReleaseDC(nullptr, screen);
  return font != nullptr ? font : static_cast<HFONT>(stock);
}

static HWND withFont(HWND control) {
  if (hFont == nullptr) hFont = dialogFont();
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(hFont), FALSE);  // drawn when shown
  return control;
}

static HWND makeControl(HWND parent, const char* className, const char* text, DWORD style, int x,
                        int y, int width, int height) {
  return withFont(CreateWindowExA(0, className, text, style, x, y, width, height,
                                  parent,   // owner and parent
                                  nullptr,  // no id: the Quit button is known by its handle
                                  hInstance,
                                  nullptr));  // no creation data
}

// The server's command line comes as UTF-8 and may be in any script: its label is a control of
// the W kind, which shows what the ANSI code page lacks. A byte sequence cut at the label's end
// shows as one replacement character.
static HWND makeProgramLabel(HWND parent, int x, int y, int width, int height) {
  static wchar_t text[kLabelChars];
  if (!MultiByteToWideChar(CP_UTF8, 0, programText, -1, text, kLabelChars)) text[0] = L'\0';
  return withFont(CreateWindowExW(0, L"STATIC", text, kLabelStyle, x, y, width, height, parent,
                                  nullptr, hInstance, nullptr));
}

static HWND makeLabel(HWND parent, const char* text, int x, int y, int width, int height) {
  return makeControl(parent, "STATIC", text, kLabelStyle, x, y, width, height);
}

// The rows overlap a little (15 pixels apart, 20 high; the right column starts inside the left
// one's width). Their look depends on it, so the geometry stays as it is.
static void makeStatusRows(HWND parent, int left) {
  hTotal = makeLabel(parent, "Total:", left + 10, 35, 200, 20);
  hCurrent = makeLabel(parent, "Time:", left + 10, 50, 200, 20);
  hMinMax = makeLabel(parent, "Max:", left + 10, 65, 200, 20);
  hAve = makeLabel(parent, "Ave:", left + 10, 80, 200, 20);
  hRestart = makeLabel(parent, "Restart:", left + 200, 35, 100, 20);
  hNoresponse = makeLabel(parent, "NoResponse:", left + 200, 50, 100, 20);
}

// Runs inside CreateWindowExA, before hWnd is set: `window` is the handle to build on.
static bool initWindow(HWND window) {
  RECT rcClient;
  GetClientRect(window, &rcClient);
  hProgram = makeProgramLabel(window, rcClient.left + 10, 15, rcClient.right - 10, 22);
  hButton =
      makeControl(window, "BUTTON", "Quit", WS_CHILD | WS_VISIBLE, rcClient.right - 70, 45, 60, 30);
  if (withRows) makeStatusRows(window, rcClient.left);
  UpdateWindow(window);
  return true;
}

// A loop of the system's own (an open menu, a move) would hold the quit message until a user
// ended it: the loop is cancelled, as the system cancels it when another window takes over.
static void quit() {
  stopNetwork();
  PostQuitMessage(0);
  if (held) SendMessageA(hWnd, WM_CANCELMODE, 0, 0);
}

// While the system holds the thread in a loop of its own, the monitor's loop does not run; that
// loop still delivers timers, so a timer stands in for it, second by second. Only then: the
// monitor's own wait wakes on any timer message, so one left running would take its seconds.
static void holdStarts(HWND window) {
  held = true;
  SetTimer(window, kHeldTimer, kHeldSecondMs, nullptr);
}

static void holdEnds(HWND window) {
  held = false;
  KillTimer(window, kHeldTimer);  // a tick already queued is ignored: `held` is false
}

static void onTimer(WPARAM id) {
  if (held && id == kHeldTimer && calls.heldSecond != nullptr) calls.heldSecond();
}

// As the Quit button: the network stopped, the loop told to end the server and the run.
// Once this returns, with the end going ahead, the system may end the process at any moment,
// without another message. An end called off (FALSE) lets supervision resume. A request to close
// this program alone (the Restart Manager's, while an installer replaces a file in use) comes as
// a session's end with ENDSESSION_CLOSEAPP, while the session goes on: "If wParam is TRUE, the
// application must shut down", and it does so as its Quit button does.
static void onEndSession(WPARAM ending, LPARAM how) {
  if (!ending) {
    if (calls.sessionGoesOn != nullptr) calls.sessionGoesOn();
  } else if (how & ENDSESSION_CLOSEAPP) {
    quit();
  } else if (calls.sessionEnding != nullptr) {
    calls.sessionEnding();
  }
}

static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return initWindow(window) ? 0 : -1;
    case WM_DESTROY: quit(); return 0;
    case WM_QUERYENDSESSION: return TRUE;  // the session may end: the server is told first
    case WM_ENDSESSION: onEndSession(wParam, lParam); return 0;
    case WM_ENTERSIZEMOVE:
    case WM_ENTERMENULOOP: holdStarts(window); break;
    case WM_EXITSIZEMOVE:
    case WM_EXITMENULOOP: holdEnds(window); break;
    case WM_TIMER: onTimer(wParam); return 0;
    case WM_COMMAND:
      // Only the Quit button sends commands; anything else still ends the program, but
      // leaves the network library to the process's end.
      if (reinterpret_cast<HWND>(lParam) == hButton) stopNetwork();
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void setWindowCalls(const WindowCalls& given) { calls = given; }

bool initClass(InstanceHandle instance) {
  hInstance = static_cast<HINSTANCE>(instance);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = hInstance;
  wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(1));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
  wc.lpszClassName = szClassName;
  wc.hIconSm = LoadIconA(hInstance, MAKEINTRESOURCEA(2));
  return RegisterClassExA(&wc) != 0;
}

bool createMainWindow(const char* programLabel, bool withStatusRows) {
  programText = programLabel;  // read by the creation message, before CreateWindowExA returns
  withRows = withStatusRows;
  hWnd = CreateWindowExA(0, szClassName, szAppName,
                         WS_OVERLAPPEDWINDOW,           // hidden until shown
                         CW_USEDEFAULT, CW_USEDEFAULT,  // the system picks the place
                         450, 130,                      // outer size
                         nullptr,                       // top level
                         nullptr,                       // no menu
                         hInstance,
                         nullptr);  // no creation data
  return hWnd != nullptr;
}

void showMainWindow() { ShowWindow(hWnd, SW_SHOW); }

void setStatusText(StatusLabel label, const char* text) {
  static HWND* const rows[] = {&hTotal, &hCurrent, &hMinMax, &hAve, &hRestart, &hNoresponse};
  SendMessageA(*rows[label], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

bool windowAvailable() { return true; }
