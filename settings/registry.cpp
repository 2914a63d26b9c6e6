// Placeholder until the settings store is built.
#include "settings/registry.h"

void BuildValueNames(void) {}
int ReadSaverValue(const char*, DWORD, void*, DWORD) { return 0; }
int WriteSaverValue(const char*, DWORD, const void*, DWORD) { return 0; }
int KeyExists(const char*) { return 0; }
LONG DeleteKeyTree(HKEY, const char*) { return ERROR_BADKEY; }
int DeleteDisplay(const char*) { return 0; }
int LoadDisplay(const char*) { return 0; }
int SaveDisplay(const char*) { return 0; }
int SaveModule(int, const char*) { return 0; }
int SavePalette(PaletteState*, const char*) { return 0; }
int SaveGlobals(const char*) { return 0; }
int WriteDefaultDisplay(int, const char*, int) { return 0; }
void EnsureDefaultDisplays(void) {}
int CaptureDisplay(void) { return 0; }
int ModuleKeyExists(const char*, int) { return 0; }
int ListDisplays(HWND, int) { return 0; }
int RegisterFileType(const char*) { return 0; }
void WriteVersionStamp(int, int, int) {}
