// A hundred simulated days of faults: children that crash, hang, answer and fail to start,
// strangers' datagrams (some too long to count), bursts of window input, and two wraps of the
// tick counter. The invariants are checked after every pass of the loop. The same driver, with
// crash loops, quits and a lost display added, then checks the record an operator reads.
#include <algorithm>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>

#include "unit/alloc_counter.h"
#include "unit/scenario.h"

namespace {

constexpr uint64_t kDay = 86400000;
uint64_t t0;
int32_t longestSeen;
std::mt19937_64 rng(20261207);

uint64_t uniform(uint64_t low, uint64_t high) { return low + rng() % (high - low + 1); }

// With `forTheRecord`, also what shapes the event lines: crash loops, runs about as long as a
// loop's runs may be, the reasons a start fails, requests for the texts, a log that refuses.
void injectFault(bool forTheRecord = false) {
  const uint64_t now = fake::now();
  switch (uniform(0, forTheRecord ? 12 : 7)) {
    case 0: fake::endChildAt(now + uniform(0, 120000)); break;
    case 1: fake::childAnswers(false); break;  // hangs
    case 2: fake::childAnswers(true); break;
    case 3:
      for (uint64_t n = uniform(1, 5); n > 0; --n) fake::datagramArrives(uniform(0, 400));
      break;
    case 4: fake::failStarts(uniform(1, 4)); break;
    case 5: {
      const uint64_t spacing = uniform(1, 1500);
      for (uint64_t i = uniform(1, 200); i > 0; --i) fake::inputAt(now + i * spacing);
      break;
    }
    case 6: fake::childRunsFor(uniform(0, 1) ? fake::kNever : uniform(0, 2 * 3600000)); break;
    case 8: fake::childRunsFor(uniform(0, 30)); break;
    case 9:  // about as long as a steady run, at times just as long
      fake::childRunsFor(uniform(0, 2) == 0 ? uniform(9999, 10000) : uniform(5000, 13000));
      break;
    case 10: fake::failStartsBecause(uniform(0, 1) ? "not found" : "not executable"); break;
    case 11: fake::askForReport(); break;
    case 12: fake::refuseEventLines(static_cast<int>(uniform(1, 3))); break;
    default: break;
  }
}

// The name of the first invariant that does not hold, or null.
const char* brokenInvariant() {
  // The clock at the last refresh: the last tick it read, placed on the 64-bit clock.
  const uint64_t refreshed = fake::now() - (static_cast<uint32_t>(fake::now()) - totalCount);
  if (uint64_t{totalTime} * kMinute + totalTicks != refreshed - t0) return "total time";
  if (fake::startAttempts() != 1 + restarts + noresponse) return "starts vs counters";
  if (restarts != fake::childEndsSeen()) return "restarts vs child ends";
  if (fake::openHandles() > 1 || fake::handleMisuse() != 0) return "handles";
  if (numHandles == 0) return maxTime == kNoValue && curTime == 0 ? nullptr : "no child yet";
  if (uint64_t{curTime} * kMinute + curTicks != refreshed - fake::lastStartAt()) {
    return "current run";
  }
  longestSeen = std::max(longestSeen, static_cast<int32_t>(curTime));
  return maxTime == longestSeen ? nullptr : "longest run";
}

}  // namespace

TEST(Soak, HundredDaysOfFaults) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe", (uint64_t{1} << 32) - 3 * kDay));
  t0 = fake::now();
  longestSeen = 0;
  fake::childAnswers(true);
  countAllocations(true);
  const char* broken = nullptr;
  long passes = 0;
  while (fake::now() < t0 + 100 * kDay && broken == nullptr) {
    injectFault();
    const uint64_t until = std::min(fake::now() + uniform(1000, 3600000), t0 + 100 * kDay);
    while (fake::now() < until && broken == nullptr) {
      superviseOnce();
      ++passes;
      broken = brokenInvariant();
    }
  }
  countAllocations(false);
  ASSERT_EQ(broken, nullptr) << "broken after " << passes << " passes, at day "
                             << (fake::now() - t0) / kDay << ": " << broken;
  if (allocationsCountable()) {
    EXPECT_EQ(allocationsCounted(), 0);
  }
  EXPECT_EQ(totalTime, 100u * 1440);
  EXPECT_GT(restarts, 100);
  EXPECT_GT(noresponse, 100);
  EXPECT_GT(fake::dispatched(), 1000);
  std::printf("soak: %ld passes, %d restarts, %d forced restarts, %d starts, %d inputs\n", passes,
              restarts, noresponse, fake::starts(), fake::dispatched());
}

// --- The record: whatever happens, the lines add up to the counters they show ---

namespace {

const char* const kTimeText = R"((?:\d+ day \d+ hr \d+ min|\d+ hr \d+ min|\d+ min))";
const std::regex kLineForm(
    std::string(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )"
                R"((started, pid \d+|ended by itself, exit code \d+|start failed: [^|(]+|)"
                R"(replaced after six silent probe periods|)"
                R"((?:crash loop|running steadily again): ended by itself (\d+) times, )"
                R"((?:start failed ([1-9]\d*) times, )?started (\d+) times since the last line; )"
                R"(last end: exit code \d+|status|quit|display lost))"
                R"((?: \((1 line|(?:[2-9]|[1-9]\d+) lines) dropped before this one\))?)") +
    " \\| Total: " + kTimeText + " \\| Time: " + kTimeText + " \\| Max: (?:" + kTimeText +
    "|\\?) \\| Ave: " + kTimeText + R"( \| Restarts: (\d+) \| NoResponse: \d+$)");

constexpr int64_t kSteadyRunMs = 10000;  // a run this long is no part of a crash loop
constexpr int kQuickEndsTold = 3;        // a crash loop's first ends are told in full

// What the lines of one monitor run have told so far.
int linesChecked;
std::string lastTime;
int refusedSince;      // lines the log refused since it last took one
int64_t toldRestarts;  // ends by themselves and retried failed restarts, single or summed
int64_t toldStarts;    // starts, single or summed
bool afterEnd;         // a "start failed" line now tells a failed restart after an end
bool afterFailure;     // a start failed, and no start has been told since
int quickEndsInFull;   // full end lines in a row of runs shorter than a steady run
bool loopBroken;       // a line of this pass broke a crash loop: nothing may be left untold
int lastEndRun;        // fake::starts() when the current run's end was first seen
std::string lastWhat;  // the last line's, and its Restarts text
int64_t lastRestarts;

void resetRecordCheck() {
  linesChecked = refusedSince = quickEndsInFull = 0;
  toldRestarts = toldStarts = 0;
  afterEnd = afterFailure = false;
  lastEndRun = -1;
}

int64_t number(const std::ssub_match& match) { return match.matched ? std::stoll(match.str()) : 0; }

// Checks one line; `quickRun` says how long a run its end ended, when it ended in this pass.
const char* checkLine(const std::string& line, bool taken, int64_t runMs) {
  std::smatch m;
  if (!std::regex_match(line, m, kLineForm)) return "a line of no known form";
  const std::string time = line.substr(0, 24);
  if (time < lastTime) return "a line earlier than the one before";
  lastTime = time;
  const int64_t announced = m[5].matched ? std::stoll(m[5].str()) : 0;
  if (announced != refusedSince) {
    std::printf("DEBUG %s taken=%d refusedSince=%d announced=%lld m5=%s\n", line.c_str(), taken,
                refusedSince, (long long)announced, m[5].str().c_str());
    return "lines dropped before a line, not as it says";
  }
  refusedSince = taken ? 0 : refusedSince + 1;
  const std::string what = m[1].str();
  lastWhat = what;
  lastRestarts = number(m[6]);
  if (what.rfind("ended by itself, ", 0) == 0) {
    ++toldRestarts;
    afterEnd = true;
    quickEndsInFull = runMs < kSteadyRunMs ? quickEndsInFull + 1 : 0;
    if (quickEndsInFull > kQuickEndsTold) return "a crash loop's quick ends all told in full";
    return nullptr;
  }
  if (what.rfind("started, pid ", 0) == 0) {
    ++toldStarts;
    afterEnd = afterFailure = false;
    return nullptr;
  }
  if (what == "status") return nullptr;
  quickEndsInFull = 0;  // anything else leaves a crash loop, having told what it counted
  loopBroken = true;
  if (m[2].matched) {
    toldRestarts += number(m[2]) + number(m[3]);
    toldStarts += number(m[4]);
    afterEnd = true;
    if (afterFailure && number(m[4]) != 0) return "a start after a failed one not told in full";
  } else if (what.rfind("start failed: ", 0) == 0) {
    toldRestarts += afterEnd ? 1 : 0;
    afterFailure = true;
  } else {
    afterEnd = false;
  }
  return nullptr;
}

// Checks the lines this pass wrote. `runMs`: how long the run lasted whose end this pass saw
// first, or -1.
const char* checkNewLines(int64_t runMs) {
  bool endInFull = false;
  loopBroken = false;
  for (; linesChecked < fake::linesOffered(); ++linesChecked) {
    bool taken;
    const std::string line = fake::lineOffered(linesChecked, &taken);
    if (const char* broken = checkLine(line, taken, runMs)) return broken;
    endInFull |= lastWhat.rfind("ended by itself, ", 0) == 0;
  }
  if (runMs >= kSteadyRunMs && !endInFull) return "the end of a steady run not told in full";
  if (loopBroken && loopEnds + loopStarts + loopFailures != 0) return "counts left untold";
  if (toldRestarts + loopEnds + loopFailures != restarts) return "restarts told and counted";
  if (toldStarts + loopStarts != fake::starts()) return "starts told and counted";
  return nullptr;
}

// One pass of the loop, and the lines it wrote.
const char* superviseAndCheck() {
  const int startsBefore = fake::starts();
  const uint64_t runStart = fake::lastStartAt();
  const int endsBefore = fake::childEndsSeen();
  superviseOnce();
  int64_t runMs = -1;
  if (fake::childEndsSeen() > endsBefore && lastEndRun != startsBefore) {
    lastEndRun = startsBefore;
    runMs = static_cast<int64_t>(fake::now() - runStart);
  }
  return checkNewLines(runMs);
}

// The run ended (quit, display lost): its last line says how, and nothing is left untold.
const char* checkLastLine(const char* how) {
  if (const char* broken = checkNewLines(-1)) return broken;
  if (lastWhat != how) return "the last line does not say how the run ended";
  if (lastRestarts != restarts || toldRestarts != restarts) return "the last line's Restarts";
  if (toldStarts != fake::starts()) return "starts left untold at the end";
  return nullptr;
}

bool startRecordedRun(uint64_t at) {
  fake::reset("t.exe 40000 srv.exe", at);
  fake::wantEventLines(true);
  resetRecordCheck();
  return startUp(nullptr) && checkNewLines(-1) == nullptr;
}

// Ends the run now, by quit or by a lost display, checks its last lines and starts the next.
const char* endRunAndStartAgain() {
  const char* how = "quit";
  if (uniform(0, 1) == 0) {
    fake::quitAt(fake::now());
    if (runLoop() != 1) return "quit did not exit with 1";
  } else {
    how = "display lost";
    fake::windowCalls().displayLost();
  }
  if (const char* broken = checkLastLine(how)) return broken;
  return startRecordedRun(fake::now()) ? nullptr : "start-up";
}

uint64_t recordSeed() {
  const char* given = std::getenv("TOLVANE_RECORD_SEED");
  return given != nullptr ? std::strtoull(given, nullptr, 10) : std::random_device{}();
}

}  // namespace

TEST(Soak, TheRecordAddsUpWhateverHappens) {
  const uint64_t seed = recordSeed();
  rng.seed(seed);
  const uint64_t t0 = (uint64_t{1} << 32) - 3 * 3600000;  // the tick counter wraps after 3 h
  ASSERT_TRUE(startRecordedRun(t0));
  const char* broken = nullptr;
  long passes = 0;
  int runs = 1;
  for (int episode = 0; episode < 400 && broken == nullptr; ++episode) {
    if (uniform(0, 40) == 0) {
      broken = endRunAndStartAgain();
      ++runs;
      continue;
    }
    injectFault(true);
    const uint64_t until = fake::now() + uniform(100, 90000);
    for (long n = 0; fake::now() < until && n < 4000 && broken == nullptr; ++n, ++passes) {
      if (uniform(0, 300) == 0) fake::failStarts(1);  // the program gone for a moment
      broken = superviseAndCheck();
    }
  }
  if (broken == nullptr) broken = endRunAndStartAgain();
  ASSERT_EQ(broken, nullptr) << "seed " << seed << " (TOLVANE_RECORD_SEED=" << seed
                             << " repeats it), after " << passes << " passes: " << broken
                             << "\n  last line checked: " << lastWhat;
  EXPECT_GT(fake::now(), t0 + 3 * 3600000);  // past the wrap
  std::printf("record: seed %llu, %ld passes, %d runs\n", static_cast<unsigned long long>(seed),
              passes, runs);
}
