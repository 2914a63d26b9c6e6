// Process-wide helpers every subsystem shares: the random generator and the
// tick count (both can be driven by tests), and the full-screen test.
#pragma once
#include <windows.h>

// One linear congruential generator for the whole process, shared by all
// threads without a lock: state = state * 214013 + 2531011, each draw
// (state >> 16) & 32767.
extern volatile unsigned int randomState;
void SeedRandom(unsigned int seed);
int Random(void);

// Every read of the millisecond tick count goes through TickCount so that a
// test can replace the clock. A null source restores GetTickCount.
typedef DWORD (*TickSource)(void);
DWORD TickCount(void);
void SetTickSource(TickSource source);
// Milliseconds with sub-millisecond resolution (the performance counter),
// for pacing frames and presents to the display refresh. While a test
// drives the tick source it follows that instead, so one clock governs both.
double PreciseTickCount(void);

// A deadline has passed when now > deadline in unsigned comparison.
inline int TickPassed(DWORD now, DWORD deadline) { return now > deadline; }

// 1 when the window's client area is exactly the monitor it lies on, or the
// whole virtual screen of all monitors.
int CoversScreen(HWND window);
// The same test on rectangles in screen coordinates (either may be null).
int CoversMonitor(const RECT* client, const RECT* monitor, const RECT* virtualScreen);
