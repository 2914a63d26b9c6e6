// The screen-saver library: process entry, switches, the saver window and
// the default closing behaviour.
#pragma once
#include <windows.h>

enum SaverMode {
    MODE_CONFIGURE = 0,  // none, /c, /c:HWND, /c HWND
    MODE_SAVER,          // /s, also "/S file"
    MODE_PREVIEW,        // /p HWND
    MODE_PASSWORD        // /a HWND
};

struct SaverCommand {
    int mode;
    HWND parent;              // /c, /p and /a windows; null when none given
    char fileName[MAX_PATH];  // "/S file": a settings file to test-run
};

// The process command line without the program name.
const char* GetCommandLineArguments(void);

// Parses a command line (without the program name) into a SaverCommand.
int ParseSaverCommand(const char* arguments, SaverCommand* command);

// The library's window class, instance and mode of the running process.
extern HINSTANCE hMainInstance;
extern HWND hMainWindow;
extern int fChildPreview;
// 1 once the first mouse move has been seen (it only tells where the mouse rests).
extern int mouseSeen;

LRESULT WINAPI DefScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The callbacks the program supplies.
extern "C" __declspec(dllexport) LRESULT WINAPI ScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
extern "C" __declspec(dllexport) BOOL WINAPI ScreenSaverConfigureDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI RegisterDialogClasses(HANDLE instance);

// Runs the saver for a parsed command; returns the process exit code.
int RunScreenSaver(HINSTANCE instance, const SaverCommand* command);
