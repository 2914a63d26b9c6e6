// The configuration sheet's entry and the sound analyzer launcher.
#pragma once
#include <windows.h>

// Starts the sound analyzer; fullScreen selects its full-screen form.
int LaunchAnalyzer(HWND window, int fullScreen);
