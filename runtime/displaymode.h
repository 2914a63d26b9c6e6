// Switching the display to a stored video mode while the saver runs.
#pragma once
#include <windows.h>

int SwitchDisplayMode(HWND window);
void RestoreDisplayMode(HWND window);
int ReleaseDisplayMode(void);
