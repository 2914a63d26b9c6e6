// The running saver: window procedure, render thread and palette thread.
#include "runtime/saver.h"
#include "runtime/common.h"
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include "runtime/overlay.h"
#include "runtime/displaymode.h"
#include "runtime/scrnsave.h"
#include "runtime/threadguard.h"
#include "graphics/palette.h"
#include "graphics/surface.h"
#include "settings/registry.h"
#include "settings/vivfile.h"
#include "config/configure.h"
#include <string.h>

volatile int renderRunning = 1;
volatile int paletteReady = 0;
volatile unsigned int frameCounter = 0;
HANDLE renderThread = 0;
HANDLE paletteThread = 0;
HDC windowDc = 0;
int modeSwitched = 0;
int launchedAnalyzer = 0;
int testRun = 0;
char savedActive[260];
volatile int closeAllowed = 0;
DWORD createTick = 0;
DWORD moveWindowStart = 0;
DWORD moveCount = 0;
int ignoreMouse = 0;
int renderSuspended = 0;
int paletteSuspended = 0;

static UINT frameCounterMessage = 0;

enum { THREAD_GRACE_MS = 2000, THREAD_KILLED_CODE = 42 };

// Waits for a thread, terminates it when it does not end in time, and
// closes its handle.
static void StopThread(HANDLE* thread)
{
    if (!*thread)
        return;
    if (WaitForSingleObject(*thread, THREAD_GRACE_MS) != WAIT_OBJECT_0)
        TerminateThread(*thread, THREAD_KILLED_CODE);
    CloseHandle(*thread);
    *thread = 0;
}

void StopRenderThread(void)
{
    StopThread(&renderThread);
}

// --- Render thread ------------------------------------------------------------

static void StartModule(ModuleRecord* record, int clamp)
{
    if (clamp)
        ClampControls(record);
    record->open(record);
    record->start(record);
}

static void RenderThreadSteps(HWND window)
{
    if (modeSwitched) {
        WaitForInputIdle(GetCurrentProcess(), 1000);
        Sleep(1000);
    }

    SeedRandom(TickCount());
    int width = 0, height = 0;
    windowDc = AcquireDrawSurface(window, &width, &height);
    memset(moduleTable, 0, sizeof(moduleTable));
    for (int module = 0; module < MODULE_COUNT; ++module) {
        moduleTable[module].width = width;
        moduleTable[module].height = height;
        moduleTable[module].dc = windowDc;
    }
    renderRunning = 1;

    currentPalette = CreatePaletteState(windowDc);
    OverlaySurfaceSetup(windowDc, window);
    InitModules();

    launchedAnalyzer = 0;
    if (saverSettings.autoRun && sound && !sound->analyzerRunning) {
        LaunchAnalyzer(window, 1);
        InitModules();
        launchedAnalyzer = 1;
    }
    SetPriorityClass(GetCurrentProcess(),
                     sound && sound->analyzerRunning ? NORMAL_PRIORITY_CLASS : (DWORD)saverSettings.priority);

    if (saverSettings.clearFirst)
        PatBlt(windowDc, 0, 0, width, height, BLACKNESS);

    DWORD threadId;
    paletteThread = CreateThread(NULL, 0, PaletteThreadBody, window, 0, &threadId);
    if (paletteThread) {
        SetThreadPriority(paletteThread, THREAD_PRIORITY_NORMAL);
        while (!paletteReady && renderRunning)
            Sleep(0);
    }

    for (int module = 0; module < MODULE_COUNT; ++module)
        if (saverSettings.moduleActive[module])
            StartModule(&moduleTable[module], 1);

    while (renderRunning) {
        frameCounter = frameCounter + 1;
        ShowInfoStep();
        ShowNameStep();
        SloganStep();
        for (int module = 0; module < MODULE_COUNT; ++module)
            if (saverSettings.moduleActive[module])
                RunFrameEntry(&moduleTable[module], frameCounter);
        GdiFlush();
        SignalFrameDrawn();
        if (saverSettings.speed > 0)
            Sleep(saverSettings.speed * 10);
        if (sound && sound->captureRequest) {
            CaptureDisplay();
            sound->captureRequest = 0;
        }
        if (sound && sound->resetRequest) {
            for (int module = 0; module < MODULE_COUNT; ++module) {
                if (!saverSettings.moduleActive[module])
                    continue;
                ModuleRecord* record = &moduleTable[module];
                record->close(record);
                StartModule(record, 0);
            }
            sound->resetRequest = 0;
        }
    }

    for (int module = 0; module < MODULE_COUNT; ++module)
        if (saverSettings.moduleActive[module])
            moduleTable[module].close(&moduleTable[module]);

    StopThread(&paletteThread);
    renderRunning = 0;
    PaletteState* palette = currentPalette;
    currentPalette = 0;
    if (palette)
        DestroyPaletteState(palette);
    ReleaseDrawSurface(window, windowDc);
    windowDc = 0;
}

DWORD WINAPI RenderThreadBody(LPVOID window)
{
    GuardCurrentThread();
    RenderThreadSteps((HWND)window);
    UnguardCurrentThread();
    return 0;
}

// --- Palette thread -----------------------------------------------------------

static void PaletteThreadSteps(HWND window)
{
    PaletteState* palette = currentPalette;
    HDC remembered = palette->dc;
    HDC own = GetDC(window);
    palette->dc = own;
    StartChannels(palette);
    paletteReady = 1;
    while (renderRunning) {
        PaletteStep(palette);
        EventTick(palette);
        int cycle = palette->value[3 * PARAM_CYCLE_RATE + 0];
        // The stored limits are 10..200; an odd stored value must not spin
        // or stall the thread.
        if (cycle < 1)
            cycle = 1;
        if (cycle > 1000)
            cycle = 1000;
        PaletteThreadWait(palette, (DWORD)cycle);
    }
    SelectClipRgn(own, NULL);
    ReleaseDC(window, own);
    palette->dc = remembered;
}

DWORD WINAPI PaletteThreadBody(LPVOID window)
{
    GuardCurrentThread();
    if (currentPalette)
        PaletteThreadSteps((HWND)window);
    else
        paletteReady = 1;
    UnguardCurrentThread();
    return 0;
}

// --- Input ----------------------------------------------------------------------

int MouseMoveCloses(DWORD now)
{
    if (now - moveWindowStart >= 2000) {
        moveWindowStart = now;
        moveCount = 0;
        return 0;
    }
    DWORD count = moveCount++;
    DWORD sinceCreate = now - createTick;
    if (sinceCreate < 8000 && count > 18)
        return 1;
    if (sinceCreate <= 8000)
        return 0;
    return count > 4;
}

static void ToggleSuspend(HANDLE thread, int* suspended)
{
    if (!thread)
        return;
    if (*suspended)
        ResumeThread(thread);
    else
        SuspendThread(thread);
    *suspended = !*suspended;
}

int HandleSaverKey(HWND, WPARAM key)
{
    SoundShare* share = sound;
    PaletteState* palette = currentPalette;
    int beep = 1;
    switch (key) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
        if (share) {
            if (key == VK_LEFT) share->horizontalSteps -= 1;
            if (key == VK_RIGHT) share->horizontalSteps += 1;
            if (key == VK_UP) share->verticalSteps += 1;
            if (key == VK_DOWN) share->verticalSteps -= 1;
        }
        beep = 0;
        break;
    case VK_F1:
        if (share) share->captureRequest = 1;
        break;
    case VK_F2:
        if (share) share->resetRequest = 1;
        break;
    case VK_F3:
        if (palette)
            for (int ch = 0; ch < 3; ++ch)
                palette->effect[ch] = EFFECT_CUSTOM;
        saverSettings.captureLiveColours = 1;
        if (share) share->captureRequest = 1;
        break;
    case VK_F4:
        if (palette) {
            DWORD now = TickCount();
            for (int ch = 0; ch < 3; ++ch)
                palette->nextEventTime[ch] = now;
        }
        break;
    case VK_F5:
        ToggleSuspend(paletteThread, &paletteSuspended);
        ToggleSuspend(renderThread, &renderSuspended);
        break;
    case VK_F6:
        ToggleSuspend(renderThread, &renderSuspended);
        break;
    case VK_F7:
        ToggleSuspend(paletteThread, &paletteSuspended);
        break;
    case VK_F8:
        if (palette)
            for (int ch = 0; ch < 3; ++ch)
                palette->value[3 * PARAM_DIRECTION + ch] = -palette->value[3 * PARAM_DIRECTION + ch];
        break;
    case VK_F9:
        ignoreMouse = !ignoreMouse;
        break;
    default:
        if (key >= '0' && key <= '9') {
            if (share) share->digitKey = (short)(key - '0');
            beep = 0;
            break;
        }
        return 0;
    }
    if (beep)
        MessageBeep(0);
    return 1;
}

// --- Window procedure -----------------------------------------------------------

// Drops the test-run display and puts the earlier active display back.
static void EndTestRun(void)
{
    if (!testRun)
        return;
    DeleteDisplay(TEST_DISPLAY);
    // Nothing remembered (another test run was under way when this one
    // began): that run puts its own name back.
    if (savedActive[0])
        WriteSaverValue("Active", REG_SZ, savedActive, (DWORD)strlen(savedActive) + 1);
    testRun = 0;
}

static LRESULT SaverCreate(HWND window)
{
    BuildValueNames();

    SaverCommand command;
    ParseSaverCommand(GetCommandLineArguments(), &command);
    if (command.fileName[0] && ImportSettingsFile(command.fileName, TEST_DISPLAY)) {
        ReadSaverValue("Active", REG_SZ, savedActive, sizeof(savedActive));
        savedActive[sizeof(savedActive) - 1] = 0;
        // The test display itself is never the one to come back to.
        if (lstrcmpiA(savedActive, TEST_DISPLAY) == 0)
            savedActive[0] = 0;
        WriteSaverValue("Active", REG_SZ, TEST_DISPLAY, sizeof(TEST_DISPLAY));
        testRun = 1;
    }

    WriteVersionStamp(3, 6, 505);
    OverlayStart();
    sound = OpenSoundLink();
    if (!sound) {
        // No window follows, so nothing else would undo the test run.
        EndTestRun();
        return -1;
    }
    sound->saverCount += 1;
    sound->clientCount += 1;
    modeSwitched = SwitchDisplayMode(window);
    createTick = TickCount();
    return 0;
}

static void SaverDestroy(HWND window)
{
    renderRunning = 0;
    if (sound) {
        if (launchedAnalyzer)
            sound->quitRequest = 1;
        // A suspended thread could never see the cleared flag.
        if (renderSuspended && renderThread)
            ResumeThread(renderThread), renderSuspended = 0;
        if (paletteSuspended && paletteThread)
            ResumeThread(paletteThread), paletteSuspended = 0;
        StopRenderThread();
        RestoreDisplayMode(window);
        EndTestRun();
        sound->saverCount -= 1;
        sound->clientCount -= 1;
        sound->paletteUsesSound = 0;
        sound->modulesUseSound = 0;
        sound->fullScreen = 0;
        SoundShare* share = sound;
        sound = 0;
        CloseSoundLink(share);
    }
    if (modeSwitched)
        ReleaseDisplayMode();
}

extern "C" LRESULT WINAPI ScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!frameCounterMessage)
        frameCounterMessage = RegisterWindowMessageA(FRAME_COUNTER_MESSAGE);
    if (message == frameCounterMessage)
        return (LRESULT)frameCounter;

    switch (message) {
    case WM_CREATE:
        return SaverCreate(window);
    case WM_ERASEBKGND:
        if (!renderThread && sound) {
            DWORD threadId;
            renderThread = CreateThread(NULL, 0, RenderThreadBody, window, 0, &threadId);
            if (renderThread)
                SetThreadPriority(renderThread, THREAD_PRIORITY_BELOW_NORMAL);
        }
        return 0;
    case WM_DESTROY:
        SaverDestroy(window);
        return 0;
    case WM_KEYDOWN:
        if (HandleSaverKey(window, wParam))
            return 0;
        closeAllowed = 1;
        break;
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        closeAllowed = 1;
        break;
    case WM_MOUSEMOVE:
        if (ignoreMouse)
            return 0;
        if (modeSwitched) {
            if (!MouseMoveCloses(TickCount()))
                return 0;
            closeAllowed = 1;
        }
        break;
    case WM_CLOSE:
        if (modeSwitched && !closeAllowed)
            return 0;
        break;
    case WM_ACTIVATE:
    case WM_ACTIVATEAPP:
        if (LOWORD(wParam) == 0)
            return 0;
        break;
    }
    return DefScreenSaverProc(window, message, wParam, lParam);
}
