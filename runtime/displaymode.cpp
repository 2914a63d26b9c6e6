#include "runtime/displaymode.h"
#include "runtime/common.h"
#include "settings/registry.h"
#include <initguid.h>
#include <ddraw.h>
#include <string.h>

typedef HRESULT(WINAPI* DirectDrawCreateProc)(GUID*, LPDIRECTDRAW*, IUnknown*);

static HMODULE ddrawModule = 0;
static DirectDrawCreateProc directDrawCreate = 0;
static IDirectDraw* directDraw = 0;
static IDirectDraw2* directDraw2 = 0;
static BOOL previousSaverRunning = FALSE;

int OpenDirectDraw(HWND window, DWORD cooperativeFlags)
{
    if (!ddrawModule)
        ddrawModule = LoadLibraryA("DDRAW.DLL");
    if (!ddrawModule)
        return 0;
    if (!directDrawCreate)
        directDrawCreate = (DirectDrawCreateProc)(void*)GetProcAddress(ddrawModule, "DirectDrawCreate");
    if (!directDrawCreate)
        return 0;
    if (!directDraw && FAILED(directDrawCreate(NULL, &directDraw, NULL))) {
        directDraw = 0;
        return 0;
    }
    if (!directDraw2 &&
        FAILED(directDraw->QueryInterface(IID_IDirectDraw2, (void**)&directDraw2))) {
        directDraw2 = 0;
        return 0;
    }
    return SUCCEEDED(directDraw2->SetCooperativeLevel(window, cooperativeFlags));
}

int ApplyMode(const DEVMODEA* mode)
{
    if (!directDraw2)
        return 0;
    return SUCCEEDED(directDraw2->SetDisplayMode(mode->dmPelsWidth, mode->dmPelsHeight, mode->dmBitsPerPel, 0, 0));
}

int LeaveMode(HWND window)
{
    if (!directDraw2)
        return 0;
    directDraw2->SetCooperativeLevel(window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
    return SUCCEEDED(directDraw2->RestoreDisplayMode());
}

int ReleaseDisplayMode(void)
{
    if (directDraw2)
        directDraw2->Release();
    if (directDraw)
        directDraw->Release();
    directDraw2 = 0;
    directDraw = 0;
    return 1;
}

struct EnumerationContext {
    ModeCallback callback;
    void* context;
};

static HRESULT WINAPI ConvertMode(LPDDSURFACEDESC description, LPVOID lParam)
{
    EnumerationContext* enumeration = (EnumerationContext*)lParam;
    DEVMODEA mode;
    memset(&mode, 0, sizeof(mode));
    mode.dmSize = sizeof(mode);
    mode.dmBitsPerPel = description->ddpfPixelFormat.dwRGBBitCount;
    mode.dmPelsWidth = description->dwWidth;
    mode.dmPelsHeight = description->dwHeight;
    if (description->dwFlags & DDSD_REFRESHRATE)
        mode.dmDisplayFrequency = description->dwRefreshRate;
    enumeration->callback(&mode, enumeration->context);
    return DDENUMRET_OK;
}

int EnumerateModes(ModeCallback callback, void* context)
{
    if (!directDraw2)
        return 0;
    EnumerationContext enumeration = {callback, context};
    return SUCCEEDED(directDraw2->EnumDisplayModes(0, NULL, &enumeration, ConvertMode));
}

static int ReadStoredMode(DEVMODEA* mode)
{
    static_assert(sizeof(DEVMODEA) >= DISPLAY_MODE_SIZE, "DEVMODEA holds the stored record");
    memset(mode, 0, sizeof(*mode));
    return ReadSaverValue("DisplayMode", REG_BINARY, mode, DISPLAY_MODE_SIZE);
}

struct ModeSearch {
    const DEVMODEA* wanted;
    int found;
};

static void MatchMode(const DEVMODEA* mode, void* context)
{
    ModeSearch* search = (ModeSearch*)context;
    const DEVMODEA* wanted = search->wanted;
    if (mode->dmPelsWidth != wanted->dmPelsWidth || mode->dmPelsHeight != wanted->dmPelsHeight ||
        mode->dmBitsPerPel != wanted->dmBitsPerPel)
        return;
    // A refresh rate counts only where both the record and the driver give one.
    if (wanted->dmDisplayFrequency && mode->dmDisplayFrequency &&
        wanted->dmDisplayFrequency != mode->dmDisplayFrequency)
        return;
    search->found = 1;
}

int ModeAvailable(const DEVMODEA* mode)
{
    ModeSearch search = {mode, 0};
    return mode && EnumerateModes(MatchMode, &search) && search.found;
}

int SwitchDisplayMode(HWND window)
{
    if (!CoversScreen(window))
        return 0;   // a preview or other window: never switch
    DEVMODEA mode;
    if (!ReadStoredMode(&mode))
        return 0;
    // Only a mode the display offers: anything else would size the window
    // to it and then leave the screen in the desktop's mode.
    if (!OpenDirectDraw(window, DDSCL_NORMAL) || !ModeAvailable(&mode) ||
        !OpenDirectDraw(window, DDSCL_EXCLUSIVE | DDSCL_ALLOWREBOOT | DDSCL_FULLSCREEN)) {
        if (directDraw2)
            directDraw2->SetCooperativeLevel(window, DDSCL_NORMAL);
        ReleaseDisplayMode();
        return 0;
    }
    RECT before;
    GetWindowRect(window, &before);
    SetWindowPos(window, 0, 0, 0, (int)mode.dmPelsWidth, (int)mode.dmPelsHeight, SWP_NOZORDER | SWP_NOREDRAW);
    SystemParametersInfoA(SPI_SCREENSAVERRUNNING, TRUE, &previousSaverRunning, 0);
    if (ApplyMode(&mode))
        return 1;
    // The driver refused after all: back to the desktop's mode and size.
    SystemParametersInfoA(SPI_SCREENSAVERRUNNING, previousSaverRunning, NULL, 0);
    SetWindowPos(window, 0, before.left, before.top, before.right - before.left, before.bottom - before.top,
                 SWP_NOZORDER | SWP_NOREDRAW);
    directDraw2->SetCooperativeLevel(window, DDSCL_NORMAL);
    ReleaseDisplayMode();
    return 0;
}

void RestoreDisplayMode(HWND window)
{
    DEVMODEA mode;
    if (!directDraw2 || !ReadStoredMode(&mode))
        return;
    LeaveMode(window);
    SystemParametersInfoA(SPI_SCREENSAVERRUNNING, previousSaverRunning, NULL, 0);
}
