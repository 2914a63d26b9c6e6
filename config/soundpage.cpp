// The Sound page: the global options of the cooperation with the sound
// analyzer, the compatibility note, and the analyzer launcher that the saver
// also uses at start-up.
#include "config/configure.h"
#include "config/pages.h"
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#define ANALYZER_KEY "Software\\Sonalyx"

enum {
    ID_TURBO = 1042,
    ID_SHOW_INFO = 1039,
    ID_AUTO_RUN = 1043,
    ID_AUTO_GAIN = 1044,
    ID_LAUNCH = 1109,
    ID_STATUS = 1110,
    COMMAND_SIZE = 260,
    COMPATIBLE_MAJOR = 3,
    COMPATIBLE_MINOR = 2
};

// SlowCPU and AutoGain live in the shared record, where the analyzer reads
// them; the globals keep them while no record is open.
static void StoreSlowCpu(int on)
{
    saverSettings.slowCpu = on;
    if (sound)
        sound->slowCpu = on;
}

static void StoreAutoGain(int on)
{
    saverSettings.autoGain = on;
    if (sound)
        sound->autoGain = on;
}

static int Checked(HWND page, int id)
{
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

static void ReadSoundPage(HWND page)
{
    StoreSlowCpu(Checked(page, ID_TURBO));
    saverSettings.showInfo = Checked(page, ID_SHOW_INFO);
    saverSettings.autoRun = Checked(page, ID_AUTO_RUN);
    StoreAutoGain(Checked(page, ID_AUTO_GAIN));
}

static void FillSoundPage(HWND page)
{
    int slowCpu = sound ? sound->slowCpu : saverSettings.slowCpu;
    int autoGain = sound ? sound->autoGain : saverSettings.autoGain;
    CheckDlgButton(page, ID_TURBO, slowCpu ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, ID_SHOW_INFO, saverSettings.showInfo ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, ID_AUTO_RUN, saverSettings.autoRun ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, ID_AUTO_GAIN, autoGain ? BST_CHECKED : BST_UNCHECKED);
}

// The analyzer's version (major in the high, minor in the low 16 bits), or
// 0 when it is not installed; its build number into *build when asked.
DWORD ReadAnalyzerVersion(DWORD* build)
{
    if (build)
        *build = 0;
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ANALYZER_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD version = 0, type = 0, size = sizeof(version);
    if (RegQueryValueExA(key, "Current Version", NULL, &type, (BYTE*)&version, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(version))
        version = 0;
    if (build) {
        DWORD value = 0;
        size = sizeof(value);
        if (RegQueryValueExA(key, "Build", NULL, &type, (BYTE*)&value, &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof(value))
            *build = value;
    }
    RegCloseKey(key);
    return version;
}

void ShowSoundStatus(HWND box)
{
    DWORD version = ReadAnalyzerVersion(NULL);
    int major = (int)HIWORD(version), minor = (int)LOWORD(version);
    char text[320];
    if (!version)
        lstrcpynA(text, "Sonalyx has not been installed -- sound synchronization is unavailable!", sizeof(text));
    else if (major == COMPATIBLE_MAJOR && minor == COMPATIBLE_MINOR)
        lstrcpynA(text, sound && sound->analyzerRunning
                            ? "The present versions of The Vivarent Screen Saver and Sonalyx will function "
                              "together to provide sound synchronization."
                            : "Sonalyx must be running in order for sound synchronization to function.",
                  sizeof(text));
    else
        snprintf(text, sizeof(text),
                 "You are running version %d.%d of Sonalyx.  This version is not fully compatible with "
                 "version %d.%d of The Vivarent Screen Saver.  Please download the latest versions of both "
                 "packages.",
                 major, minor, (int)VIVRA_MAJOR, (int)VIVRA_MINOR);
    SetWindowTextA(box, text);
}

// The command the analyzer registered; 0 when it is not installed.
static int ReadAnalyzerCommand(char* command, DWORD size)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ANALYZER_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, got = size - 1;
    memset(command, 0, size);
    LONG result = RegQueryValueExA(key, NULL, NULL, &type, (BYTE*)command, &got);
    RegCloseKey(key);
    // The stored text need not end in a zero.
    command[size - 1] = 0;
    return result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && command[0];
}

int LaunchAnalyzer(HWND window, int fullScreen)
{
    char command[COMMAND_SIZE + 8];
    if (!ReadAnalyzerCommand(command, COMMAND_SIZE + 1))
        return 0;
    if (!fullScreen)
        return WinExec(command, SW_SHOWNORMAL) > 31;

    // At the saver's start: only when it covers the screen, never in the
    // Display control panel's small preview.
    RECT client;
    if (!window || !GetClientRect(window, &client))
        return 0;
    HDC dc = GetDC(window);
    int screenHeight = dc ? GetDeviceCaps(dc, VERTRES) : -1;
    if (dc)
        ReleaseDC(window, dc);
    if (client.bottom != screenHeight)
        return 0;
    lstrcatA(command, " /PPLAY");
    return WinExec(command, SW_SHOWNORMAL) > 31;
}

INT_PTR CALLBACK SoundPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        FillSoundPage(page);
        return TRUE;
    case WM_NOTIFY:
        switch (((NMHDR*)lParam)->code) {
        case PSN_SETACTIVE:
            ShowSoundStatus(GetDlgItem(page, ID_STATUS));
            FillSoundPage(page);
            break;
        case PSN_KILLACTIVE:
        case PSN_APPLY:
            ReadSoundPage(page);
            break;
        }
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case ID_SHOW_INFO:
            case ID_TURBO:
            case ID_AUTO_RUN:
            case ID_AUTO_GAIN:
                unsavedChanges = 1;
                break;
            case ID_TEST_ALL:
                ReadSoundPage(page);
                TestAllSettings();
                break;
            case ID_LAUNCH:
                LaunchAnalyzer(page, 0);
                break;
            case ID_HELP_BUTTON:
                ShowHelp(HELP_SOUND);
                break;
            }
        }
        return FALSE;
    case WM_ACTIVATE:
        if (LOWORD(wParam)) {
            EndTest();
            ShowSoundStatus(GetDlgItem(page, ID_STATUS));
        }
        return FALSE;
    }
    return FALSE;
}
