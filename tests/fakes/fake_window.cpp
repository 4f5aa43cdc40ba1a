// The window, as captured texts.
#include <cstdio>
#include <cstring>

#include "fakes/fake.h"
#include "fakes/fake_internal.h"
#include "supervisor/monitor.h"

static char texts[kStatusLabels][kTextSize];
static char label[kCommandSize];
static bool shown;
static bool rowsMade;
static int writes;
static char refreshRows[kStatusLabels + 1];  // the rows the last refresh wrote, as digits in order
static bool noDisplay;
static bool loseDisplay;  // the next row handed over finds the display gone
static WindowCalls calls;

void setWindowCalls(const WindowCalls& given) { calls = given; }

void fakeWindowReset() {
  static const char* const captions[] = {
      "Total:", "Time:", "Max:", "Ave:", "Restart:", "NoResponse:"};
  for (int i = 0; i < 6; ++i) std::snprintf(texts[i], sizeof texts[i], "%s", captions[i]);
  label[0] = '\0';
  shown = rowsMade = noDisplay = loseDisplay = false;
  writes = 0;
  refreshRows[0] = '\0';
}

bool initClass(InstanceHandle) {
  fakeRecord("class");
  return !fakeStepFails("class");
}

bool createMainWindow(const char* programLabel, bool withStatusRows) {
  fakeRecord("window");
  if (fakeStepFails("window")) return false;
  std::snprintf(label, sizeof label, "%s", programLabel);
  rowsMade = withStatusRows;
  return true;
}

void showMainWindow() {
  fakeRecord("show");
  shown = true;
}

// A refresh writes its rows one after another, so a run of row writes is one "refresh"; a row
// that does not come after the last one written begins the next refresh.
void setStatusText(StatusLabel which, const char* text) {
  if (!rowsMade) return;
  if (loseDisplay) {  // as the X window learns of it: in the middle of drawing a row
    loseDisplay = false;
    calls.displayLost();
    throw fake::ProcessExited{};  // as the X window's does, this call never returns
  }
  const size_t used = std::strlen(refreshRows);
  const char row = static_cast<char>('0' + which);
  if (!fakeTraceEndsWith("refresh")) {
    fakeRecord("refresh");
    refreshRows[0] = '\0';
  } else if (used == kStatusLabels || row <= refreshRows[used - 1]) {
    refreshRows[0] = '\0';
  }
  std::strncat(refreshRows, &row, 1);
  ++writes;
  std::snprintf(texts[which], sizeof texts[which], "%s", text);
}

bool windowAvailable() { return !noDisplay; }

namespace fake {
const char* text(StatusLabel which) { return texts[which]; }
const char* programLabel() { return label; }
bool windowShown() { return shown; }
int textWrites() { return writes; }
const char* refreshedRows() { return refreshRows; }
void runWithoutDisplay() { noDisplay = true; }
void loseDisplayInRowUpdate() { loseDisplay = true; }
const WindowCalls& windowCalls() { return calls; }
}  // namespace fake
