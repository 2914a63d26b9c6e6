// The running saver: window procedure, render thread and palette thread.
#pragma once
#include <windows.h>

extern volatile int renderRunning;
extern volatile int paletteReady;
extern volatile unsigned int frameCounter;
extern HANDLE renderThread;
extern HANDLE paletteThread;
extern HDC windowDc;
extern int modeSwitched;
extern int launchedAnalyzer;
extern int testRun;
extern char savedActive[260];
extern volatile int closeAllowed;
extern DWORD createTick;
extern DWORD moveWindowStart;
extern DWORD moveCount;
extern int ignoreMouse;
extern int renderSuspended;
extern int paletteSuspended;

// Answered by the saver window with the frame counter (diagnostics, tests).
#define FRAME_COUNTER_MESSAGE "Vivra.FrameCounter"

extern "C" __declspec(dllexport) LRESULT WINAPI ScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// --- Frame pacing --------------------------------------------------------------
// The render loop shows at most one frame per display refresh: after each
// frame it waits for the next refresh, counted from the start of the frame,
// through DwmFlush while desktop composition is on, else a high-resolution
// waitable timer at the refresh rate of the window's monitor.
struct FramePacer {
    double period;     // milliseconds per display refresh
    double next;       // pacing-clock time at which the next frame's refresh begins
    int scheduled;     // 0 before the first frame
    int useFlush;      // DwmFlush may pace (dwmapi present and trusted)
    int shortFlushes;  // successive flushes that came back far too soon
    HANDLE timer;      // waitable timer for the refresh wait
    int finerTimer;    // 1 while the 1 ms system timer period is asked for
};
enum { WAIT_REFRESH = 0, WAIT_SPEED = 1 };
// Replaces the frame loop's waits (the refresh wait, and the Speed delay of
// Speed x 10 ms), so that a test can let them pass on its own clock; null
// restores the real waits.
typedef void (*FrameWaitHook)(int kind, double milliseconds);
void SetFrameWaitHook(FrameWaitHook hook);
void StartFramePacer(FramePacer* pacer, HWND window);
void StopFramePacer(FramePacer* pacer);
// After a frame that began at frameStart (PreciseTickCount): waits for the
// frame's refresh to end; a frame that took that long already does not wait.
void PaceFrame(FramePacer* pacer, double frameStart);
// One pass of the frame loop: the frame, its pacing, the Speed delay, and
// the capture and reset requests.
void RenderFramePass(FramePacer* pacer);

DWORD WINAPI RenderThreadBody(LPVOID window);
DWORD WINAPI PaletteThreadBody(LPVOID window);
void StopRenderThread(void);

// The mouse-move tolerance rule after a mode switch: 1 when the move goes
// to the default (closing) handling, 0 when it is ignored.
int MouseMoveCloses(DWORD now);
// The keyboard commands: 1 when the key was consumed.
int HandleSaverKey(HWND window, WPARAM key);
