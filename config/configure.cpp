// The configuration entry: the property sheet of eighteen pages (or the
// setup wizard), help, and the test runs the pages start.
#include "config/configure.h"
#include "config/pages.h"
#include "graphics/palette.h"
#include "resources/resource.h"
#include "runtime/framework.h"
#include "runtime/platform.h"
#include "runtime/scrnsave.h"
#include "runtime/soundlink.h"
#include "settings/registry.h"
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <string.h>

volatile int unsavedChanges = 0;
HWND displayListWindow = 0;

static int configureEntered = 0;
// Set while a test run started from the sheet is under way, with the
// "Active" name it replaced.
static int testRunning = 0;
static char activeBeforeTest[PATH_SIZE];

// Held by the process that shows the configuration sheet: a second sheet
// in another process would overwrite the first one's saved changes.
#define SHEET_MUTEX_NAME "VivraConfigurationSheetOpen"
#define SHEET_CAPTION_PREFIX "Vivra v"

struct PageEntry {
    const char* templateName;
    int icon;
    const char* title;
    DLGPROC procedure;
    int parameter;
};

static const PageEntry sheetPages[] = {
    {"DLGMODULE", ICON_MODULE, "Bezier", ModulePageProc, MODULE_BEZIER},
    {"DLGMODULE", ICON_MODULE, "Cyclic", ModulePageProc, MODULE_CYCLIC},
    {"DLGMODULE", ICON_MODULE, "Pattern", ModulePageProc, MODULE_PATTERN},
    {"DLGMODULE", ICON_MODULE, "Plasma", ModulePageProc, MODULE_PLASMA},
    {"DLGMODULE", ICON_MODULE, "Polygon", ModulePageProc, MODULE_POLYGON},
    {"DLGMODULE", ICON_MODULE, "Sphere", ModulePageProc, MODULE_SPHERE},
    {"DLGMODULE", ICON_MODULE, "Stain", ModulePageProc, MODULE_STAIN},
    {"DLGMODULE", ICON_MODULE, "Star", ModulePageProc, MODULE_STAR},
    {"DLGMODULE", ICON_MODULE, "Vortex", ModulePageProc, MODULE_VORTEX},
    {"DLGMODULE", ICON_MODULE, "Ray", ModulePageProc, MODULE_RAY},
    {"DLGMODULE", ICON_MODULE, "Effect", ModulePageProc, MODULE_EFFECT},
    {"DLGMODULE", ICON_MODULE, "Random", ModulePageProc, MODULE_RANDOM},
    {"DLGBITMAP", ICON_MODULE, "Slide Show", ModulePageProc, MODULE_BITMAP},
    {"DLGPALETTE", ICON_PALETTE, "Palette", PalettePageProc, 0},
    {"DLGCUSTOMPALETTE", ICON_CUSTOM, "Custom", CustomPalettePageProc, 0},
    {"DLGSOUND", ICON_SOUND, "Sound", SoundPageProc, 0},
    {"DLGMAIN", ICON_MAIN, "Main Settings", MainPageProc, 0},
    {"DLGVIDEO", ICON_DISPLAY, "Display", DisplayPageProc, 0},
};
enum { SHEET_PAGE_COUNT = sizeof(sheetPages) / sizeof(sheetPages[0]), SHEET_START_PAGE = 16 };

static const PageEntry setupPages[] = {
    {"DLGDIRECTORY", ICON_SETUP, "Directory", SetupPageProc, 0},
    {"DLGINSTALL", ICON_SETUP, "Options", SetupPageProc, 1},
    {"DLGCONFIGURE", ICON_SETUP, "Configure", SetupPageProc, 2},
};
enum { SETUP_PAGE_COUNT = sizeof(setupPages) / sizeof(setupPages[0]) };

static const char helpFile[] = "VRNXSLX.HLP";

struct HelpKeyword {
    int topic;
    const char* keyword;
};
static const HelpKeyword helpKeywords[] = {
    {HELP_SOUND, "The Vivarent Screen Saver - Sound Settings"},
    {HELP_MAIN, "The Vivarent Screen Saver - Main Settings"},
    {HELP_PALETTE, "The Vivarent Screen Saver - Palette Settings"},
    {HELP_DISPLAY, "The Vivarent Screen Saver - Display Settings"},
    {HELP_CUSTOM, "The Vivarent Screen Saver - Custom Palette Settings"},
};

void ShowHelp(int topic)
{
    const char* keyword = NULL;
    for (size_t i = 0; i < sizeof(helpKeywords) / sizeof(helpKeywords[0]); ++i)
        if (helpKeywords[i].topic == topic)
            keyword = helpKeywords[i].keyword;
    if (!platform.winHelpAvailable()) {
        ShowHelpPage(keyword);
        return;
    }
    if (keyword) {
        WinHelpA(GetActiveWindow(), helpFile, HELP_KEY, (ULONG_PTR)keyword);
        return;
    }
    char path[MAX_PATH + 16];
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        path[0] = 0;
    lstrcatA(path, "\\");
    lstrcatA(path, helpFile);
    WinHelpA(GetActiveWindow(), path, HELP_CONTENTS, 0);
}

int IsSetupProgram(void)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return 0;
    CharUpperA(path);
    return strstr(path, "SETUP.EXE") != NULL;
}

void TestAllSettings(void)
{
    // A second test before the first has ended finds the test display
    // active: the name to come back to is still the one of the first.
    if (!testRunning) {
        activeBeforeTest[0] = 0;
        ReadSaverValue("Active", REG_SZ, activeBeforeTest, sizeof(activeBeforeTest));
        activeBeforeTest[sizeof(activeBeforeTest) - 1] = 0;
    }
    testRunning = 1;
    SaveDisplay(TEST_DISPLAY);

    // Quoted, so that a folder with blanks still names this program.
    char own[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, own, sizeof(own));
    if (length == 0 || length >= sizeof(own)) {
        MessageBeep(0);
        return;
    }
    char command[MAX_PATH + 8];
    snprintf(command, sizeof(command), "\"%s\" /S", own);
    if (WinExec(command, SW_SHOWNORMAL) <= 31)
        MessageBeep(0);
}

void TestModule(int module)
{
    if (module == MODULE_RANDOM || module < 0 || module >= MODULE_COUNT) {
        TestAllSettings();
        return;
    }
    int active[MODULE_COUNT];
    memcpy(active, saverSettings.moduleActive, sizeof(active));
    memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
    saverSettings.moduleActive[module] = 1;
    TestAllSettings();
    memcpy(saverSettings.moduleActive, active, sizeof(active));
}

void EndTest(void)
{
    if (!testRunning)
        return;
    testRunning = 0;
    // "Active" first: a sheet ended in between keeps the user's display.
    WriteSaverValue("Active", REG_SZ, activeBeforeTest, (DWORD)strlen(activeBeforeTest) + 1);
    DeleteDisplay(TEST_DISPLAY);
    if (displayListWindow && IsWindow(displayListWindow)) {
        ListDisplays(displayListWindow, unsavedChanges);
        // The list's edit field shows "Scratch" while changes are unsaved,
        // even before the first save of that name.
        if (unsavedChanges)
            SetWindowTextA(displayListWindow, SCRATCH_DISPLAY);
    }
}

// Pages are child windows and never see the sheet's activation; the sheet
// hands it to the page shown, which ends a finished test run.
static WNDPROC sheetProcedure = 0;

static LRESULT CALLBACK SheetWindowProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam)
{
    if ((message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) || message == WM_DISPLAYCHANGE) {
        HWND page = (HWND)SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
        if (page)
            SendMessageA(page, message, wParam, lParam);
    }
    return CallWindowProcA(sheetProcedure, sheet, message, wParam, lParam);
}

// The sheet's owner is the hidden entry dialog: place the sheet in the
// middle of the work area, so that all of it and its buttons are on screen.
static void CentreSheet(HWND sheet)
{
    RECT area, box;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(sheet, &box))
        return;
    int width = box.right - box.left, height = box.bottom - box.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(sheet, NULL, x < area.left ? area.left : x, y < area.top ? area.top : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED && sheet && !sheetProcedure) {
        sheetProcedure = (WNDPROC)SetWindowLongPtrA(sheet, GWLP_WNDPROC, (LONG_PTR)SheetWindowProc);
        CentreSheet(sheet);
    }
    return 0;
}

static void BuildPages(const PageEntry* table, int count, PROPSHEETPAGEA* pages)
{
    for (int i = 0; i < count; ++i) {
        PROPSHEETPAGEA* page = &pages[i];
        ZeroMemory(page, sizeof(*page));
        page->dwSize = sizeof(*page);
        page->dwFlags = PSP_USETITLE | PSP_USEICONID;
        page->hInstance = hMainInstance;
        page->pszTemplate = table[i].templateName;
        page->pszIcon = MAKEINTRESOURCEA(table[i].icon);
        page->pszTitle = table[i].title;
        page->pfnDlgProc = table[i].procedure;
        page->lParam = table[i].parameter;
    }
}

static BOOL CALLBACK FindOpenSheet(HWND window, LPARAM lParam)
{
    char caption[32] = "";
    GetWindowTextA(window, caption, sizeof(caption));
    if (IsWindowVisible(window) &&
        strncmp(caption, SHEET_CAPTION_PREFIX, sizeof(SHEET_CAPTION_PREFIX) - 1) == 0) {
        *(HWND*)lParam = window;
        return FALSE;
    }
    return TRUE;
}

// 1 when another process shows the configuration sheet; brings it forward.
static int SheetOpenElsewhere(HANDLE* mutex)
{
    *mutex = CreateMutexA(NULL, FALSE, SHEET_MUTEX_NAME);
    if (!*mutex || GetLastError() != ERROR_ALREADY_EXISTS)
        return 0;
    CloseHandle(*mutex);
    *mutex = 0;
    HWND open = 0;
    EnumWindows(FindOpenSheet, (LPARAM)&open);
    if (open)
        SetForegroundWindow(open);
    return 1;
}

extern "C" BOOL WINAPI ScreenSaverConfigureDialog(HWND dialog, UINT, WPARAM, LPARAM)
{
    if (configureEntered)
        return 1;
    configureEntered = 1;

    int setup = IsSetupProgram();
    HANDLE sheetMutex = 0;
    if (!setup && SheetOpenElsewhere(&sheetMutex)) {
        EndDialog(dialog, 0);
        return 1;
    }

    InitCommonControls();
    BuildValueNames();
    HDC dc = GetDC(dialog);
    currentPalette = CreatePaletteState(dc);

    sound = OpenSoundLink();
    if (!sound) {
        if (currentPalette)
            DestroyPaletteState(currentPalette);
        currentPalette = 0;
        ReleaseDC(dialog, dc);
        if (sheetMutex)
            CloseHandle(sheetMutex);
        EndDialog(dialog, 0);
        return 0;
    }
    sound->saverMajor = VIVRA_MAJOR;
    sound->saverMinor = VIVRA_MINOR;
    sound->saverBuild = VIVRA_BUILD;
    sheetOpen = 1;

    WriteVersionStamp(VIVRA_MAJOR, VIVRA_MINOR, VIVRA_BUILD);
    InitModules();

    PROPSHEETPAGEA pages[SHEET_PAGE_COUNT];
    PROPSHEETHEADERA header;
    ZeroMemory(&header, sizeof(header));
    header.dwSize = sizeof(header);
    header.hwndParent = dialog;
    header.hInstance = hMainInstance;
    header.ppsp = pages;
    char caption[128];
    if (setup) {
        BuildPages(setupPages, SETUP_PAGE_COUNT, pages);
        header.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD | PSH_USEICONID;
        header.pszIcon = MAKEINTRESOURCEA(ICON_SETUP);
        header.nPages = SETUP_PAGE_COUNT;
        header.nStartPage = 0;
        snprintf(caption, sizeof(caption), "Setup for Vivra v%d.%d.%d", VIVRA_MAJOR, VIVRA_MINOR, VIVRA_BUILD);
    } else {
        BuildPages(sheetPages, SHEET_PAGE_COUNT, pages);
        header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USEICONID | PSH_USECALLBACK;
        header.pszIcon = MAKEINTRESOURCEA(ICON_CUSTOM);
        header.nPages = SHEET_PAGE_COUNT;
        header.nStartPage = SHEET_START_PAGE;
        header.pfnCallback = SheetCallback;
        char own[64];
        snprintf(own, sizeof(own), SHEET_CAPTION_PREFIX "%d.%d.%d", VIVRA_MAJOR, VIVRA_MINOR, VIVRA_BUILD);
        if (sound->analyzerMajor != 0)
            snprintf(caption, sizeof(caption), "%s w/Sonalyx v%d.%d", own, sound->analyzerMajor,
                     sound->analyzerMinor);
        else
            lstrcpynA(caption, own, sizeof(caption));
    }
    header.pszCaption = caption;

    sound->clientCount += 1;
    PropertySheetA(&header);
    sound->clientCount -= 1;

    displayListWindow = 0;
    if (currentPalette)
        DestroyPaletteState(currentPalette);
    currentPalette = 0;
    for (int module = 0; module < MODULE_COUNT; ++module)
        moduleTable[module].palette = 0;
    ReleaseDC(dialog, dc);
    EndDialog(dialog, 0);
    SoundShare* share = sound;
    sound = 0;
    CloseSoundLink(share);
    if (sheetMutex)
        CloseHandle(sheetMutex);
    return 0;
}

BOOL WINAPI RegisterDialogClasses(HANDLE)
{
    return TRUE;
}
