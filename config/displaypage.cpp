// The Display page: the video mode the saver runs in, chosen from the modes
// DirectDraw enumerates and stored as the saver value "DisplayMode".
#include "config/configure.h"
#include "config/pages.h"
#include "runtime/displaymode.h"
#include "settings/registry.h"
#include <ddraw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    ID_CURRENT_MODE = 1039,
    ID_STORED_MODE = 1040,
    ID_MODE_LIST = 1043,
    ID_TEST_MODE = 2,
    ID_SET = 1106,
    ID_CLEAR = 1107,
    ID_NOTE = 1321,
    BACKUP_SIZE = 1024     // room for a stored value larger than a mode record
};

#define DIRECTX_ADDRESS "https://www.microsoft.com/download/details.aspx?id=35"

// "DisplayMode" as it was before a test run, kept whatever its type or size.
static struct {
    int pending;       // a test of this page awaits its end
    int existed;
    DWORD type;
    DWORD size;
    BYTE data[BACKUP_SIZE];
} backup;

static HFONT listFont = 0;

static unsigned long ColourCount(unsigned long bits)
{
    // 32 bits do not fit: all 32 bits set stands for them.
    return bits >= 32 ? 4294967295UL : 1UL << bits;
}

void FormatModeText(char* text, const DEVMODEA* mode)
{
    static const struct {
        DWORD bits;
        const char* format;
    } padding[] = {
        {8, "     %lu"}, {15, "    %lu"}, {16, "   %lu"}, {24, "  %lu"}, {32, " %lu"},
    };
    const char* format = "%lu";
    for (const auto& p : padding)
        if (p.bits == mode->dmBitsPerPel)
            format = p.format;
    char count[24];
    snprintf(count, sizeof(count), format, ColourCount(mode->dmBitsPerPel));
    int width = (int)mode->dmPelsWidth, height = (int)mode->dmPelsHeight;
    DWORD refresh = mode->dmDisplayFrequency;
    if (refresh != 0 && refresh != 1)
        snprintf(text, MODE_TEXT_SIZE, "%s colors at %dx%d %dHz", count, width, height, (int)refresh);
    else
        snprintf(text, MODE_TEXT_SIZE, "%s colors at %dx%d (default refresh)", count, width, height);
}

static void CapabilityModeText(char* text)
{
    HDC screen = GetDC(NULL);
    unsigned long bits = (unsigned long)(GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES));
    snprintf(text, MODE_TEXT_SIZE, "%lu colors at %dx%d", ColourCount(bits), GetDeviceCaps(screen, HORZRES),
             GetDeviceCaps(screen, VERTRES));
    ReleaseDC(NULL, screen);
}

void CurrentModeText(char* text)
{
    DWORD version = GetVersion();
    int windows9x = (version & 0x80000000) != 0;
    DWORD build = HIWORD(version) & 0x7FFF;
    DEVMODEA mode;
    memset(&mode, 0, sizeof(mode));
    mode.dmSize = sizeof(mode);
    if (!windows9x && build > 1380 && EnumDisplaySettingsA(NULL, ENUM_CURRENT_SETTINGS, &mode))
        FormatModeText(text, &mode);
    else
        CapabilityModeText(text);
}

static void ShowStoredMode(HWND page)
{
    DEVMODEA mode;
    char text[MODE_TEXT_SIZE];
    memset(&mode, 0, sizeof(mode));
    if (ReadSaverValue("DisplayMode", REG_BINARY, &mode, DISPLAY_MODE_SIZE))
        FormatModeText(text, &mode);
    else
        lstrcpyA(text, "Default");
    SetDlgItemTextA(page, ID_STORED_MODE, text);
}

static void AddMode(const DEVMODEA* mode, void* context)
{
    HWND list = (HWND)context;
    DEVMODEA* copy = (DEVMODEA*)calloc(1, sizeof(DEVMODEA));
    if (!copy)
        return;
    memcpy(copy, mode, DISPLAY_MODE_SIZE);
    copy->dmSize = DISPLAY_MODE_SIZE;
    copy->dmDriverExtra = 0;
    char text[MODE_TEXT_SIZE];
    FormatModeText(text, copy);
    LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)text);
    if (index < 0 || SendMessageA(list, LB_SETITEMDATA, (WPARAM)index, (LPARAM)copy) == LB_ERR) {
        if (index >= 0)
            SendMessageA(list, LB_DELETESTRING, (WPARAM)index, 0);
        free(copy);
    }
}

static void FreeModes(HWND list)
{
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT data = SendMessageA(list, LB_GETITEMDATA, (WPARAM)i, 0);
        if (data != LB_ERR && data)
            free((void*)data);
        SendMessageA(list, LB_SETITEMDATA, (WPARAM)i, 0);
    }
}

static const DEVMODEA* SelectedMode(HWND page)
{
    HWND list = GetDlgItem(page, ID_MODE_LIST);
    LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR)
        return 0;
    LRESULT data = SendMessageA(list, LB_GETITEMDATA, (WPARAM)index, 0);
    return data == LB_ERR ? 0 : (const DEVMODEA*)data;
}

// The blank padding right-aligns the colour counts only in a fixed-pitch
// font: give the list one of the dialog font's height.
static void UseFixedFont(HWND page)
{
    HFONT dialogFont = (HFONT)SendMessageA(page, WM_GETFONT, 0, 0);
    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    if (!dialogFont || !GetObjectA(dialogFont, sizeof(font), &font))
        return;
    LOGFONTA fixed;
    memset(&fixed, 0, sizeof(fixed));
    fixed.lfHeight = font.lfHeight;
    fixed.lfWeight = FW_NORMAL;
    fixed.lfCharSet = DEFAULT_CHARSET;
    fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpyA(fixed.lfFaceName, "Courier New");
    listFont = CreateFontIndirectA(&fixed);
    if (listFont)
        SendDlgItemMessageA(page, ID_MODE_LIST, WM_SETFONT, (WPARAM)listFont, FALSE);
}

static void InitDisplayPage(HWND page)
{
    char text[MODE_TEXT_SIZE];
    HWND list = GetDlgItem(page, ID_MODE_LIST);
    UseFixedFont(page);
    ShowStoredMode(page);
    CurrentModeText(text);
    SetDlgItemTextA(page, ID_CURRENT_MODE, text);
    // DirectDraw is asked through a hidden window of its own: on some
    // systems a cooperative level leaves the window it was set for to
    // DirectDraw's drawing, and the sheet would show nothing but a blank.
    HWND probe = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, 0, 0, 1, 1, GetParent(page), NULL,
                                 (HINSTANCE)GetWindowLongPtrA(page, GWLP_HINSTANCE), NULL);
    if (probe && OpenDirectDraw(probe, DDSCL_NORMAL)) {
        EnumerateModes(AddMode, list);
        SendMessageA(list, LB_SETCURSEL, 0, 0);
    } else {
        EnableWindow(GetDlgItem(page, ID_SET), FALSE);
        EnableWindow(GetDlgItem(page, ID_CLEAR), FALSE);
        EnableWindow(GetDlgItem(page, ID_TEST_MODE), FALSE);
        SetDlgItemTextA(page, ID_NOTE,
                        "PLEASE NOTE: On the fly resolution changing is not supported on this system. To get support "
                        "for this feature you must have Microsofts DirectX extensions installed. You can get the "
                        "DirectX extensions (for free) from: " DIRECTX_ADDRESS);
    }
    // A half-opened DirectDraw is let go as well.
    ReleaseDisplayMode();
    if (probe)
        DestroyWindow(probe);
}

static void SetMode(HWND page)
{
    const DEVMODEA* mode = SelectedMode(page);
    if (!mode)
        return;
    char text[MODE_TEXT_SIZE];
    FormatModeText(text, mode);
    SetDlgItemTextA(page, ID_STORED_MODE, text);
    WriteSaverValue("DisplayMode", REG_BINARY, mode, DISPLAY_MODE_SIZE);
}

static void ClearMode(HWND page)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "DisplayMode");
    RegCloseKey(key);
    SetDlgItemTextA(page, ID_STORED_MODE, "Default");
}

// 0 when the present value cannot be copied (too large to keep).
static int BackUpStoredMode(void)
{
    backup.existed = 0;
    backup.size = 0;
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 1;
    backup.size = sizeof(backup.data);
    LONG result = RegQueryValueExA(key, "DisplayMode", NULL, &backup.type, backup.data, &backup.size);
    RegCloseKey(key);
    backup.existed = result == ERROR_SUCCESS;
    return result != ERROR_MORE_DATA;
}

static void RestoreStoredMode(void)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (backup.existed)
        RegSetValueExA(key, "DisplayMode", 0, backup.type, backup.data, backup.size);
    else
        RegDeleteValueA(key, "DisplayMode");
    RegCloseKey(key);
}

static void TestMode(HWND page)
{
    const DEVMODEA* mode = SelectedMode(page);
    if (!mode)
        return;
    // A stored value too large to copy back is left alone: no test.
    if (!BackUpStoredMode())
        return;
    if (!WriteSaverValue("DisplayMode", REG_BINARY, mode, DISPLAY_MODE_SIZE)) {
        RestoreStoredMode();
        return;
    }
    backup.pending = 1;
    TestAllSettings();
}

static void ShowDisplayChange(HWND page, WPARAM bits, LPARAM size)
{
    char text[MODE_TEXT_SIZE];
    snprintf(text, sizeof(text), "%lu colors at %dx%d", ColourCount((unsigned long)bits), (int)LOWORD(size),
             (int)HIWORD(size));
    SetDlgItemTextA(page, ID_CURRENT_MODE, text);
}

INT_PTR CALLBACK DisplayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDisplayPage(page);
        return TRUE;
    case WM_DESTROY:
        FreeModes(GetDlgItem(page, ID_MODE_LIST));
        if (listFont)
            DeleteObject(listFont);
        listFont = 0;
        return FALSE;
    case WM_DISPLAYCHANGE:
        ShowDisplayChange(page, wParam, lParam);
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        switch (LOWORD(wParam)) {
        case ID_SET:
            SetMode(page);
            break;
        case ID_CLEAR:
            ClearMode(page);
            break;
        case ID_TEST_MODE:
            TestMode(page);
            break;
        case ID_HELP_BUTTON:
            ShowHelp(HELP_DISPLAY);
            break;
        }
        return FALSE;
    case WM_ACTIVATE:
        if (LOWORD(wParam) && backup.pending) {
            EndTest();
            backup.pending = 0;
            RestoreStoredMode();
            char text[MODE_TEXT_SIZE];
            CurrentModeText(text);
            SetDlgItemTextA(page, ID_CURRENT_MODE, text);
        }
        return FALSE;
    }
    return FALSE;
}
