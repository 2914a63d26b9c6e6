// The configuration sheet's entry, the sound analyzer launcher and the texts
// the Sound and Display pages show.
#pragma once
#include <windows.h>

// Starts the sound analyzer; fullScreen selects its full-screen form.
int LaunchAnalyzer(HWND window, int fullScreen);
// The analyzer's version (major << 16 | minor), 0 when not installed.
DWORD ReadAnalyzerVersion(DWORD* build);
void ShowSoundStatus(HWND box);

enum { MODE_TEXT_SIZE = 64 };
// "     256 colors at 640x480 60Hz" and the like.
void FormatModeText(char* text, const DEVMODEA* mode);
// The desktop's present mode.
void CurrentModeText(char* text);
