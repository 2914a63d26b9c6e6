// Switching the display to a stored video mode while the saver runs, through
// DirectDraw loaded at run time.
#pragma once
#include <windows.h>

enum { DISPLAY_MODE_SIZE = 156 };   // the stored DEVMODEA record

typedef void (*ModeCallback)(const DEVMODEA* mode, void* context);

int OpenDirectDraw(HWND window, DWORD cooperativeFlags);
int ApplyMode(const DEVMODEA* mode);
int LeaveMode(HWND window);
int ReleaseDisplayMode(void);
int EnumerateModes(ModeCallback callback, void* context);
// 1 when DirectDraw (opened) lists the mode's width, height and depth, and its
// refresh rate where the record and the driver both give one.
int ModeAvailable(const DEVMODEA* mode);
int SwitchDisplayMode(HWND window);
void RestoreDisplayMode(HWND window);
