// Saved displays as .VIV files: export, import and the checks that keep a
// damaged file from touching a stored display.
#pragma once
#include <windows.h>

enum {
    VIV_MAGIC = 0x42004200,
    VIV_TEXT_LIMIT = 260,     // path or value name, terminating zero included
    VIV_DATA_LIMIT = 1024,
    VIV_FILE_LIMIT = 1 << 20, // far above any display; larger files are not ours
    DISPLAY_LIST_ID = 1078    // the Main Settings page's list of displays
};

int ExportDisplay(HWND owner, const char* display);
// Writes display `display` (a name under ...\Saved) to the file; 0 when the
// display cannot be opened (the file then holds only the magic) or the file
// cannot be written.
int WriteDisplayFile(const char* display, const char* fileName);
// Asks for one or more files and imports each; 1 when at least one was
// imported. `name` (260 characters, may be null) receives the last imported
// display's name and is left alone when none was imported.
int ImportDisplays(HWND owner, char* name = 0);
// Imports one file under its base name, asking before it replaces a display;
// adds the name to the owner's display list. `name` as above.
int ImportDisplayFile(HWND owner, const char* fileName, char* name = 0);
// Imports the file as the display `display`; 0 when the file is rejected, in
// which case nothing in the registry has changed.
int ImportSettingsFile(const char* fileName, const char* display);
// 1 when a file image passes every check of the import (magic, complete
// records, limits, types, relative key paths) and holds at least one record.
int CheckSettingsData(const BYTE* data, DWORD size);

// The suggested file name of a display: every character that is not a
// letter, a digit or one of $%'-_@ ~`!(){.}^#&+,;=[] becomes "_".
void SuggestFileName(const char* display, char* fileName, int size);
// The display name of a file: its name without folder and extension.
void DisplayNameOfFile(const char* fileName, char* display, int size);
