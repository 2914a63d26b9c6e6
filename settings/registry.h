// The registry schema of displays, modules, palette and global options, with
// load, save, first-run defaults and captures.
#pragma once
#include <windows.h>

struct PaletteState;

#define SAVER_KEY_NAME "Screen Saver.Vivra"
#define RANDOM_DISPLAY "[R] Saved Sound Settings"
#define TEST_DISPLAY "Testing Current Settings"
#define SCRATCH_DISPLAY "Scratch"

// Per-slot value names ("Control%lu" ...), built once at start-up.
void BuildValueNames(void);

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
int CaptureDisplay(void);
int ModuleKeyExists(const char* display, int module);
int ListDisplays(HWND combo, int selectScratch);
int RegisterFileType(const char* saverPath);
void WriteVersionStamp(int major, int minor, int build);
