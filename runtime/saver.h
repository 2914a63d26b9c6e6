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

DWORD WINAPI RenderThreadBody(LPVOID window);
DWORD WINAPI PaletteThreadBody(LPVOID window);
void StopRenderThread(void);

// The mouse-move tolerance rule after a mode switch: 1 when the move goes
// to the default (closing) handling, 0 when it is ignored.
int MouseMoveCloses(DWORD now);
// The keyboard commands: 1 when the key was consumed.
int HandleSaverKey(HWND window, WPARAM key);
