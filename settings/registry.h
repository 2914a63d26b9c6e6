// The registry schema of displays, modules, palette and global options, with
// load, save, first-run defaults and captures.
#pragma once
#include <windows.h>

struct PaletteState;

#define SAVER_KEY_NAME "Screen Saver.Vivra"
#define RANDOM_DISPLAY "[R] Saved Sound Settings"
#define TEST_DISPLAY "Testing Current Settings"
#define SCRATCH_DISPLAY "Scratch"

// Key paths under HKEY_CURRENT_USER.
#define SAVER_KEY "Control Panel\\" SAVER_KEY_NAME
#define SAVED_KEY SAVER_KEY "\\Saved"
#define VERSION_KEY "Software\\Vivra"

enum {
    VALUE_NAME_SIZE = 16,    // per-slot names: "RangeHi19" and the like
    KEY_PATH_SIZE = 1024,    // room for a saver key path with a 260-byte name
    // The longest display name: the lists and the Main Settings edit hold
    // 128 characters, and a name they cannot hold would be a display the
    // user can never see again.
    DISPLAY_NAME_LIMIT = 127,
    DISPLAY_NAME_SIZE = DISPLAY_NAME_LIMIT + 1,
    LIST_LIMIT = 1000        // most names ListDisplays adds
};

// Set by the configuration sheet once its sound record is open (never
// cleared): while it is set, LoadDisplay keeps every sound source.
extern volatile int sheetOpen;

// Per-slot value names ("Control%lu" ...), built once at start-up.
void BuildValueNames(void);
extern char controlNames[20][VALUE_NAME_SIZE];
extern char rangeLoNames[20][VALUE_NAME_SIZE];
extern char rangeHiNames[20][VALUE_NAME_SIZE];
extern char checkNames[20][VALUE_NAME_SIZE];
extern char senseNames[20][VALUE_NAME_SIZE];

int ReadSaverValue(const char* name, DWORD type, void* buffer, DWORD size);
int WriteSaverValue(const char* name, DWORD type, const void* data, DWORD size);
int KeyExists(const char* path);
LONG DeleteKeyTree(HKEY root, const char* path);
int DeleteDisplay(const char* name);
int LoadDisplay(const char* name);
int SaveDisplay(const char* name);
int SaveModule(int module, const char* name);
int SavePalette(PaletteState* palette, const char* name);
int SaveGlobals(const char* name);
int WriteDefaultDisplay(int module, const char* name, int effect);
void EnsureDefaultDisplays(void);
// Capture #n for the first free n; returns n, or 0 when nothing was stored.
int CaptureDisplay(void);
int ModuleKeyExists(const char* display, int module);
// Returns the number of names added.
int ListDisplays(HWND combo, int selectScratch);
int RegisterFileType(const char* saverPath);
// The same for the user alone (HKEY_CURRENT_USER "Software\Classes") when
// perUser is set.
int RegisterFileTypeFor(int perUser, const char* saverPath);
void WriteVersionStamp(int major, int minor, int build);

// 1 when the name can be a display of its own: not empty, at most
// DISPLAY_NAME_LIMIT characters, no backslash, not "." or "..".
int ValidDisplayName(const char* name);
// "Control Panel\Screen Saver.Vivra\Saved\<name>"; 0 for an invalid name.
int DisplayKeyPath(const char* name, char* path, int size);
// The first-run defaults when the module table does not hold the control
// defaults (the saver's test run of a file before any start-up): works on a
// copy of the defaults and leaves the module table and globals untouched.
void EnsureFirstRunDefaults(void);
