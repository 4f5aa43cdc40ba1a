// The statistics rows' texts. A refresh comes every idle second but most texts change once a
// minute at most, so the window is handed the rows only when one of them changed: each hand-over
// is a repaint, and on some systems a round trip to another process. Then all six go, in order:
// the rows overlap, and a repainted row's background covers the edge of the row beside it until
// that one is painted again. A crash loop changes Restarts hundreds of times a second, where an
// eye takes in ten: the window gets the rows at most once a kRowsPeriod, the latest always.
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

static void composeTime(StatusLabel label, const char* caption, uint32_t minutes) {
  std::snprintf(statusTexts[label], kTextSize, "%s: %s", caption, formatTime(minutes));
}

static void composeCount(StatusLabel label, const char* caption, int32_t count) {
  std::snprintf(statusTexts[label], kTextSize, "%s: %d", caption, static_cast<int>(count));
}

static bool anyRowChanged() {
  for (int label = 0; label < kStatusLabels; ++label) {
    if (std::strcmp(shownTexts[label], statusTexts[label]) != 0) return true;
  }
  return false;
}

static void handOverRows() {
  for (int label = 0; label < kStatusLabels; ++label) {
    std::memcpy(shownTexts[label], statusTexts[label], kTextSize);
    setStatusText(static_cast<StatusLabel>(label), shownTexts[label]);
  }
  rowsShownAt = tickCount();
  rowsWaiting = false;
}

void showStatus() {
  composeTime(labelTotal, "Total", totalTime);
  composeTime(labelCurrent, "Time", curTime);
  if (maxTime == kNoValue) {
    std::snprintf(statusTexts[labelMax], kTextSize, "Max: ?");
  } else {
    composeTime(labelMax, "Max", static_cast<uint32_t>(maxTime));
  }
  composeTime(labelAve, "Ave", averageRun());
  composeCount(labelRestart, "Restarts", restarts);
  composeCount(labelNoresponse, "NoResponse", noresponse);
  rowsWaiting = anyRowChanged();
  if (rowsDueIn() == 0) handOverRows();
}

uint32_t rowsDueIn() {
  if (!rowsWaiting) return kNoRowsDue;
  if (shownTexts[labelTotal][0] == '\0') return 0;   // never handed over: at once
  const uint32_t since = tickCount() - rowsShownAt;  // modular: survives a wrap
  return since >= kRowsPeriod ? 0 : kRowsPeriod - since;
}

void showWaitingRows() {
  if (rowsWaiting) handOverRows();
}
