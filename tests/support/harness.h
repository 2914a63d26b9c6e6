// Shared test helpers: a driven clock, the built saver's path, and starting
// the real saver process.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The clock that TickCount reads while a test drives it.
extern volatile DWORD testNow;
void UseTestClock(DWORD start);   // TickCount() returns testNow from now on
void UseRealClock(void);

// Windows path of the built Vivra.scr (from VIVRA_SCR), and of the output
// folder for screenshots (VIVRA_OUT).
std::string SaverPath(void);
// The Windows path (Unix paths on drive Z:) held by an environment variable
// that ctest sets for the tests; empty when it is not set.
std::string EnvironmentPath(const char* variable);
std::string OutputPath(const char* fileName);

// A saver process started with the given arguments.
struct SaverProcess {
    PROCESS_INFORMATION info;
    HWND window;
};
// Starts "Vivra.scr <arguments>" and waits up to timeoutMs for its top-level
// window of class "WindowsScreenSaverClass"; window is null when none came.
int StartSaver(const char* arguments, SaverProcess* saver, DWORD timeoutMs);
// Waits for the process to end; 1 when it ended within timeoutMs.
int WaitSaverExit(SaverProcess* saver, DWORD timeoutMs);
void KillSaver(SaverProcess* saver);
// The saver's frame counter (asked through its window), or -1.
long SaverFrameCounter(HWND window);
// Writes a screenshot of the whole screen as a 24-bit BMP; 1 on success.
int SaveScreenBmp(const char* path);

// Waits until the saver's frame counter reaches at least `frames`; returns
// the last counter read (-1 when the window did not answer).
long WaitFrames(HWND window, long frames, DWORD timeoutMs);
// Pixels of a 24-bit BMP screenshot that are not black, or -1.
long CountLitPixels(const std::string& path);
long ScreenPixels(void);
// Writes the display "[T] <module>" holding only that module with its
// defaults, changed by `adjust` when given, and makes it the active display.
// 1 on success.
struct ModuleRecord;
int MakeModuleActive(int module, void (*adjust)(ModuleRecord*));

// Starts "Vivra.scr /s" and waits for its frame loop (at least 10 frames);
// records failures with gtest. Returns the frame counter then, or -1 when
// no saver window came (the process is then already cleaned up).
long StartRenderingSaver(SaverProcess* saver);
// Checks that the saver still runs, closes it with a key and checks that it
// ends within 5 s with exit code 0; cleans up the process.
void CloseSaverCleanly(SaverProcess* saver);

// A run cut off half-way through its clean-up (a log-off, a kill): keys put
// below the key at `path` (HKEY_CURRENT_USER) make deleting it slow, and a
// thread of its own ends `process` the moment the first of them is gone.
struct KillWatch {
    HANDLE process;
    char path[512];
    volatile int stop;
    volatile int killed;   // 1 when the process was ended while the key still existed
    HANDLE thread;
};
int StartKillWatch(KillWatch* watch, HANDLE process, const char* path);
// Waits up to timeoutMs for the watch to end; returns `killed`.
int EndKillWatch(KillWatch* watch, DWORD timeoutMs);

// What a device context shows in (0, 0)..(w, h), 32 bits a pixel, row by row.
std::vector<DWORD> WindowPixels(HDC windowDc, int w, int h);
