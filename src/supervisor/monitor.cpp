#include "supervisor/monitor.h"

char process[kCommandSize];
char program[kCommandSize];
int32_t port;
bool debugInfoOn;

ChildHandle childProcess;
bool childOpen;
int32_t numHandles;
bool sessionEnded;
bool endWhileEnding;
int32_t secondsWithoutEnd;

int32_t restarts;
int32_t noresponse;

uint32_t totalTime, totalTicks, totalCount;
uint32_t curTime, curTicks, curCount;
int32_t maxTime = kNoValue;

char statusTexts[kStatusLabels][kTextSize];
char shownTexts[kStatusLabels][kTextSize];
uint32_t rowsShownAt;
bool rowsWaiting;

char pendingEvents[kMaxPendingEvents][kEventSize];
int pendingEventCount;
char reportedFailure[kEventSize];
char restartFailure[kEventSize];
bool endReported;
uint32_t droppedLines;
char toldWithout[kEventSize];

uint32_t runStartTick;
int quickEnds;
uint32_t loopLineTick;
int32_t loopEnds, loopStarts;
int32_t loopFailures;
char loopLastEnd[64];

SocketHandle asocket;
uint32_t sendCount;
uint32_t lastSendTime;
