// The statistics rows' texts. A refresh comes every idle second but most texts change once a
// minute at most, so only a text that changed is handed to the window: each hand-over is a
// repaint, and on some systems a round trip to another process.
#include <cstdio>
#include <cstring>

#include "supervisor/monitor.h"

const char* formatTime(uint32_t minutes) {
  static char text[kTextSize];
  const uint32_t day = minutes / 1440;
  minutes %= 1440;
  const uint32_t hour = minutes / 60;
  minutes %= 60;
  if (day != 0) {
    std::snprintf(text, sizeof text, "%u day %u hr %u min", day, hour, minutes);
  } else if (hour != 0) {
    std::snprintf(text, sizeof text, "%u hr %u min", hour, minutes);
  } else {
    std::snprintf(text, sizeof text, "%u min", minutes);
  }
  return text;
}

static void showText(StatusLabel label, const char* text) {
  if (std::strcmp(statusTexts[label], text) == 0) return;
  std::snprintf(statusTexts[label], sizeof statusTexts[label], "%s", text);
  setStatusText(label, text);
}

static void showTime(StatusLabel label, const char* caption, uint32_t minutes) {
  char buf[kTextSize];
  std::snprintf(buf, sizeof buf, "%s: %s", caption, formatTime(minutes));
  showText(label, buf);
}

static void showCount(StatusLabel label, const char* caption, int32_t count) {
  char buf[kTextSize];
  std::snprintf(buf, sizeof buf, "%s: %d", caption, static_cast<int>(count));
  showText(label, buf);
}

void showStatus() {
  showTime(labelTotal, "Total", totalTime);
  showTime(labelCurrent, "Time", curTime);
  if (maxTime == kNoValue) {
    showText(labelMax, "Max: ?");
  } else {
    showTime(labelMax, "Max", static_cast<uint32_t>(maxTime));
  }
  showTime(labelAve, "Ave", averageRun());
  showCount(labelRestart, "Restarts", restarts);
  showCount(labelNoresponse, "NoResponse", noresponse);
}
