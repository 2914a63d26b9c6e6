// Saved displays as .VIV files: export, import and the checks that keep a
// damaged file from touching a stored display.
#pragma once
#include <windows.h>

int ExportDisplay(HWND owner, const char* display);
int WriteDisplayFile(const char* display, const char* fileName);
int ImportDisplays(HWND owner);
int ImportDisplayFile(HWND owner, const char* fileName);
// Imports the file as the display `display`; 0 when the file is rejected, in
// which case nothing in the registry has changed.
int ImportSettingsFile(const char* fileName, const char* display);
