// Placeholder until .VIV files are built.
#include "settings/vivfile.h"

int ExportDisplay(HWND, const char*) { return 0; }
int WriteDisplayFile(const char*, const char*) { return 0; }
int ImportDisplays(HWND) { return 0; }
int ImportDisplayFile(HWND, const char*) { return 0; }
int ImportSettingsFile(const char*, const char*) { return 0; }
