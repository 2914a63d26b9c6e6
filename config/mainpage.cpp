// The Main Settings page: active modules, CPU usage, speed, title time and
// the saved displays (load on choice, save, delete, export, import).
#include "config/pages.h"
#include "graphics/surface.h"
#include "resources/resource.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include "settings/vivfile.h"
#include <commctrl.h>
#include <stdio.h>
#include <string.h>

enum { PRIORITY_HIGH = 128, PRIORITY_NORMAL = 32, PRIORITY_LOW = 64, TITLE_SECONDS = 120, SPEED_LIMIT = 10 };

// The module boxes in module order.
static const int moduleBoxes[MODULE_COUNT] = {
    IDC_MAIN_BEZIER, IDC_MAIN_CYCLIC, IDC_MAIN_PATTERN, IDC_MAIN_PLASMA, IDC_MAIN_POLYGON,
    IDC_MAIN_SPHERE, IDC_MAIN_STAIN, IDC_MAIN_STAR, IDC_MAIN_VORTEX, IDC_MAIN_RAY,
    IDC_MAIN_EFFECT, IDC_MAIN_SLIDESHOW, IDC_MAIN_RANDOM
};

struct PriorityButton {
    int id;
    int priority;
};
static const PriorityButton priorityButtons[] = {
    {IDC_CPU_HIGH, PRIORITY_HIGH}, {IDC_CPU_NORMAL, PRIORITY_NORMAL}, {IDC_CPU_LOW, PRIORITY_LOW}
};

static void ReadMainPage(HWND page)
{
    for (int module = 0; module < MODULE_COUNT; ++module)
        saverSettings.moduleActive[module] = IsDlgButtonChecked(page, moduleBoxes[module]) == BST_CHECKED;
    for (size_t i = 0; i < sizeof(priorityButtons) / sizeof(priorityButtons[0]); ++i) {
        if (IsDlgButtonChecked(page, priorityButtons[i].id) == BST_CHECKED) {
            saverSettings.priority = priorityButtons[i].priority;
            break;
        }
    }
    saverSettings.clearFirst = IsDlgButtonChecked(page, IDC_CLEAR_FIRST) == BST_CHECKED;
    saverSettings.showName = (int)SendDlgItemMessageA(page, IDC_TITLE_SLIDER, TBM_GETPOS, 0, 0);
    saverSettings.speed = (int)SendDlgItemMessageA(page, IDC_ANIMATE, TBM_GETPOS, 0, 0);
}

static void FillMainPage(HWND page)
{
    HWND animate = GetDlgItem(page, IDC_ANIMATE);
    SendMessageA(animate, TBM_SETRANGE, FALSE, MAKELONG(0, SPEED_LIMIT));
    SendMessageA(animate, TBM_SETTICFREQ, 1, 0);
    SendMessageA(animate, TBM_SETPOS, TRUE, saverSettings.speed);
    SetSliderAndBox(GetDlgItem(page, IDC_TITLE_SLIDER), GetDlgItem(page, IDC_TITLE_BOX), 0, TITLE_SECONDS,
                    saverSettings.showName);
    for (int module = 0; module < MODULE_COUNT; ++module)
        CheckDlgButton(page, moduleBoxes[module], saverSettings.moduleActive[module] ? BST_CHECKED : BST_UNCHECKED);
    for (size_t i = 0; i < sizeof(priorityButtons) / sizeof(priorityButtons[0]); ++i)
        CheckDlgButton(page, priorityButtons[i].id,
                       saverSettings.priority == priorityButtons[i].priority ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_CLEAR_FIRST, saverSettings.clearFirst ? BST_CHECKED : BST_UNCHECKED);
}

static void ShowColourNote(HWND box)
{
    HDC screen = GetDC(NULL);
    int bits = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
    int emulated = PaletteEmulationWanted(screen);
    ReleaseDC(NULL, screen);
    // Deeper modes than 24 bits add no colours, and 2^32 does not fit.
    if (bits > 24)
        bits = 24;
    unsigned long colours = bits > 0 ? 1ul << bits : 0;
    char text[512];
    if (colours == 256) {
        lstrcpynA(text, "All screen saver features are fully functional in this video mode.", sizeof(text));
    } else if (emulated) {
        // The saver emulates the 256-colour palette on this screen, so every
        // animation feature works here too.
        snprintf(text, sizeof(text),
                 "You are running in a %lu color video mode.  All screen saver features are fully functional "
                 "through palette emulation.  Please consult the documentation for more information on video "
                 "modes.",
                 colours);
    } else {
        snprintf(text, sizeof(text),
                 "You are running in a %lu color video mode.  Many animation features are only available in 256 "
                 "color video modes.  To change your video mode, use the 'Display' panel.  Please consult the "
                 "documentation for more information on video modes.",
                 colours);
    }
    SetWindowTextA(box, text);
}

static void ShowScratch(HWND page)
{
    SetDlgItemTextA(page, IDC_DISPLAY_LIST, SCRATCH_DISPLAY);
}

static void LoadChosenDisplay(HWND page, const char* name)
{
    LoadDisplay(name);
    WriteSaverValue("Active", REG_SZ, name, (DWORD)strlen(name) + 1);
    FillMainPage(page);
    unsavedChanges = 0;
}

static void DisplayChosen(HWND page)
{
    HWND list = GetDlgItem(page, IDC_DISPLAY_LIST);
    LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return;
    LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length >= DISPLAY_NAME_SIZE)
        return;
    char name[DISPLAY_NAME_SIZE];
    SendMessageA(list, CB_GETLBTEXT, index, (LPARAM)name);
    LoadChosenDisplay(page, name);
}

// The list's item of exactly this name (any case), or CB_ERR.
static LRESULT FindDisplayItem(HWND list, const char* name)
{
    LRESULT index = -1;
    for (;;) {
        LRESULT found = SendMessageA(list, CB_FINDSTRINGEXACT, index, (LPARAM)name);
        // The search wraps around: back at or before the start means done.
        if (found == CB_ERR || found <= index)
            return CB_ERR;
        char item[DISPLAY_NAME_SIZE];
        LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, found, 0);
        if (length != CB_ERR && length < DISPLAY_NAME_SIZE) {
            SendMessageA(list, CB_GETLBTEXT, found, (LPARAM)item);
            if (lstrcmpiA(item, name) == 0)
                return found;
        }
        index = found;
    }
}

// Tells the user why a display could not be saved under the name typed.
static void ShowSaveRefused(HWND page, const char* name)
{
    char text[DISPLAY_NAME_SIZE + 256];
    if (ValidDisplayName(name)) {
        snprintf(text, sizeof(text), "The display \"%s\" could not be saved.\n\nYour changes are kept.", name);
        MessageBoxA(page, text, "Save Selection", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    snprintf(text, sizeof(text),
             "\"%s\" cannot be the name of a display: a display name may not contain a backslash (\\) and may "
             "not be \".\" or \"..\".\n\nYour changes are kept.  Please choose another name.",
             name);
    MessageBoxA(page, text, "Invalid display name!", MB_OK | MB_ICONEXCLAMATION);
}

static void SaveSelection(HWND page)
{
    ReadMainPage(page);
    char name[128] = "";
    GetDlgItemTextA(page, IDC_DISPLAY_LIST, name, sizeof(name));
    const char* display = name[0] ? name : SCRATCH_DISPLAY;
    // A refused name stores nothing: the list gains no item for it and the
    // changes stay unsaved, so OK still keeps them as "Scratch".
    if (!SaveDisplay(display)) {
        ShowSaveRefused(page, display);
        return;
    }
    HWND list = GetDlgItem(page, IDC_DISPLAY_LIST);
    if (name[0] && SendMessageA(list, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)name) == CB_ERR)
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)name);
    unsavedChanges = 0;
}

static void DeleteSelection(HWND page)
{
    char name[256] = "";
    GetDlgItemTextA(page, IDC_DISPLAY_LIST, name, sizeof(name));
    HWND list = GetDlgItem(page, IDC_DISPLAY_LIST);
    LRESULT index = name[0] ? FindDisplayItem(list, name) : CB_ERR;
    if (index == CB_ERR)
        return;
    char item[DISPLAY_NAME_SIZE];
    SendMessageA(list, CB_GETLBTEXT, index, (LPARAM)item);
    SendMessageA(list, CB_DELETESTRING, index, 0);
    DeleteDisplay(item);
}

static void ExportSelection(HWND page)
{
    char name[128] = "";
    GetDlgItemTextA(page, IDC_DISPLAY_LIST, name, sizeof(name));
    ReadMainPage(page);
    if (!SaveDisplay(name))
        return;
    HWND list = GetDlgItem(page, IDC_DISPLAY_LIST);
    if (SendMessageA(list, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)name) == CB_ERR)
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)name);
    ExportDisplay(page, name);
}

static void ImportSelection(HWND page)
{
    char name[PATH_SIZE] = "";
    if (!ImportDisplays(page, name) || !name[0])
        return;
    HWND list = GetDlgItem(page, IDC_DISPLAY_LIST);
    LRESULT index = SendMessageA(list, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)name);
    SendMessageA(list, CB_SETCURSEL, index == CB_ERR ? (WPARAM)-1 : (WPARAM)index, 0);
    LoadChosenDisplay(page, name);
}

static int IsSettingClick(int id)
{
    if (id == IDC_CLEAR_FIRST)
        return 1;
    for (int module = 0; module < MODULE_COUNT; ++module)
        if (moduleBoxes[module] == id)
            return 1;
    for (size_t i = 0; i < sizeof(priorityButtons) / sizeof(priorityButtons[0]); ++i)
        if (priorityButtons[i].id == id)
            return 1;
    return 0;
}

static INT_PTR MainCommand(HWND page, int id, int code)
{
    if (id == IDC_DISPLAY_LIST) {
        if (code == CBN_SELCHANGE)
            DisplayChosen(page);
        return TRUE;
    }
    if (code != BN_CLICKED)
        return FALSE;
    if (IsSettingClick(id)) {
        unsavedChanges = 1;
        ShowScratch(page);
        return TRUE;
    }
    switch (id) {
    case IDC_EXPORT_DISPLAY:
        ExportSelection(page);
        return TRUE;
    case IDC_IMPORT_DISPLAY:
        ImportSelection(page);
        return TRUE;
    case IDC_DELETE_DISPLAY:
        DeleteSelection(page);
        return TRUE;
    case IDC_SAVE_DISPLAY:
        SaveSelection(page);
        return TRUE;
    case IDC_PREVIEW:
        ReadMainPage(page);
        TestAllSettings();
        return TRUE;
    case IDC_HELP_BUTTON:
        ShowHelp(HELP_MAIN);
        return TRUE;
    }
    return FALSE;
}

static void ApplyMainPage(HWND page)
{
    ReadMainPage(page);
    DWORD speed = (DWORD)saverSettings.speed;
    WriteSaverValue("Speed", REG_DWORD, &speed, sizeof(speed));
    if (unsavedChanges) {
        SaveDisplay(SCRATCH_DISPLAY);
        WriteSaverValue("Active", REG_SZ, SCRATCH_DISPLAY, sizeof(SCRATCH_DISPLAY));
    }
}

INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        HWND list = GetDlgItem(page, IDC_DISPLAY_LIST);
        displayListWindow = list;
        SendMessageA(list, CB_LIMITTEXT, DISPLAY_NAME_SIZE - 1, 0);
        ListDisplays(list, unsavedChanges);
        FillMainPage(page);
        return TRUE;
    }
    case WM_NOTIFY: {
        const NMHDR* header = (const NMHDR*)lParam;
        switch (header->code) {
        case PSN_SETACTIVE:
            if (unsavedChanges)
                ShowScratch(page);
            ShowColourNote(GetDlgItem(page, IDC_COLOUR_NOTE));
            SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
            return TRUE;
        case PSN_KILLACTIVE:
            ReadMainPage(page);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, FALSE);
            return TRUE;
        case PSN_APPLY:
            ApplyMainPage(page);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        return FALSE;
    }
    case WM_COMMAND:
        return MainCommand(page, LOWORD(wParam), HIWORD(wParam));
    case WM_HSCROLL:
        if ((HWND)lParam == GetDlgItem(page, IDC_TITLE_SLIDER)) {
            char text[16];
            snprintf(text, sizeof(text), "%d", (int)SendMessageA((HWND)lParam, TBM_GETPOS, 0, 0));
            SetDlgItemTextA(page, IDC_TITLE_BOX, text);
            unsavedChanges = 1;
        }
        return TRUE;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != 0)
            EndTest();
        return FALSE;
    }
    return FALSE;
}
