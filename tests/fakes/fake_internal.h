// Shared between the fake platform and the fake window.
#pragma once

void fakeRecord(const char* event);
bool fakeTraceEndsWith(const char* event);
bool fakeStepFails(const char* step);
void fakeWindowReset();
void fakeLogReset();
