// The window, as captured texts.
#include <cstdio>
#include <cstring>

#include "fakes/fake.h"
#include "fakes/fake_internal.h"
#include "supervisor/monitor.h"

static char texts[6][kTextSize];
static char label[kCommandSize];
static bool shown;
static uint64_t refreshedAt;

void fakeWindowReset() {
  static const char* const captions[] = {
      "Total:", "Time:", "Max:", "Ave:", "Restart:", "NoResponse:"};
  for (int i = 0; i < 6; ++i) std::snprintf(texts[i], sizeof texts[i], "%s", captions[i]);
  label[0] = '\0';
  shown = false;
  refreshedAt = 0;
}

bool initClass(InstanceHandle) {
  fakeRecord("class");
  return !fakeStepFails("class");
}

bool createMainWindow() {
  fakeRecord("window");
  if (fakeStepFails("window")) return false;
  std::snprintf(label, sizeof label, "%s", program);
  return true;
}

void showMainWindow() {
  fakeRecord("show");
  shown = true;
}

void setStatusText(StatusLabel which, const char* text) {
  if (which == labelTotal) {
    fakeRecord("refresh");
    refreshedAt = fake::now();
  }
  std::snprintf(texts[which], sizeof texts[which], "%s", text);
}

namespace fake {
const char* text(StatusLabel which) { return texts[which]; }
const char* programLabel() { return label; }
bool windowShown() { return shown; }
uint64_t lastRefreshAt() { return refreshedAt; }
}  // namespace fake
