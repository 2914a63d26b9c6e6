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
#include <math.h>
#include <mmsystem.h>
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

// --- Frame pacing ----------------------------------------------------------------

typedef HRESULT(WINAPI* DwmFlushFunction)(void);
typedef HRESULT(WINAPI* DwmCompositionFunction)(BOOL* enabled);
typedef HANDLE(WINAPI* CreateTimerExFunction)(LPSECURITY_ATTRIBUTES, LPCSTR, DWORD, DWORD);
static DwmFlushFunction dwmFlush = 0;
static DwmCompositionFunction dwmCompositionEnabled = 0;
static FrameWaitHook frameWaitHook = 0;

enum { HIGH_RESOLUTION_TIMER = 0x00000002 };   // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

void SetFrameWaitHook(FrameWaitHook hook)
{
    frameWaitHook = hook;
}

void StartFramePacer(FramePacer* pacer, HWND window)
{
    ZeroMemory(pacer, sizeof(*pacer));
    pacer->period = 1000.0 / DisplayRefreshRate(window);
    // Loaded by name: the desktop window manager exists from Windows Vista on.
    if (!dwmFlush) {
        HMODULE dwm = LoadLibraryA("dwmapi.dll");
        if (dwm) {
            dwmCompositionEnabled = (DwmCompositionFunction)(void*)GetProcAddress(dwm, "DwmIsCompositionEnabled");
            dwmFlush = (DwmFlushFunction)(void*)GetProcAddress(dwm, "DwmFlush");
        }
    }
    pacer->useFlush = dwmFlush && dwmCompositionEnabled;
    CreateTimerExFunction createEx = (CreateTimerExFunction)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "CreateWaitableTimerExA");
    if (createEx)
        pacer->timer = createEx(NULL, NULL, HIGH_RESOLUTION_TIMER, TIMER_ALL_ACCESS);
    if (!pacer->timer)
        pacer->timer = CreateWaitableTimerA(NULL, FALSE, NULL);
    // Without it, timers and sleeps run in steps of a whole system tick
    // (15.6 ms), about one refresh.
    pacer->finerTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
}

void StopFramePacer(FramePacer* pacer)
{
    if (pacer->timer)
        CloseHandle(pacer->timer);
    if (pacer->finerTimer)
        timeEndPeriod(1);
    ZeroMemory(pacer, sizeof(*pacer));
}

static void TimerWait(FramePacer* pacer, double milliseconds)
{
    if (milliseconds <= 0)
        return;
    if (pacer->timer) {
        LARGE_INTEGER due;
        due.QuadPart = -(LONGLONG)(milliseconds * 10000.0);   // relative, in 100 ns
        if (SetWaitableTimer(pacer->timer, &due, 0, NULL, NULL, FALSE)) {
            WaitForSingleObject(pacer->timer, (DWORD)ceil(milliseconds) + 100);
            return;
        }
    }
    Sleep((DWORD)(milliseconds + 0.5));
}

static int CompositionOn(void)
{
    BOOL enabled = FALSE;
    return dwmCompositionEnabled && dwmCompositionEnabled(&enabled) == S_OK && enabled;
}

// Waits for the next display refresh; at most `milliseconds`, the rest of the
// frame's refresh by the pacing clock.
static void WaitForRefresh(FramePacer* pacer, double milliseconds, double frameStart)
{
    if (frameWaitHook) {
        frameWaitHook(WAIT_REFRESH, milliseconds);
        return;
    }
    if (pacer->useFlush && CompositionOn()) {
        if (dwmFlush() == S_OK) {
            double now = PreciseTickCount();
            if (now - frameStart >= pacer->period / 4) {
                pacer->shortFlushes = 0;
                return;
            }
            // A flush that does not wait for the refresh cannot pace frames.
            if (++pacer->shortFlushes >= 3)
                pacer->useFlush = 0;
            milliseconds = pacer->next - now;
        } else {
            pacer->useFlush = 0;
        }
    }
    TimerWait(pacer, milliseconds);
}

void PaceFrame(FramePacer* pacer, double frameStart)
{
    if (pacer->period <= 0)
        return;
    // A frame that started a little after its refresh began (a late wake-up)
    // keeps the cadence; one that started much later (a long frame, the
    // Speed delay) counts from its own start.
    double begin = frameStart;
    if (pacer->scheduled && frameStart >= pacer->next && frameStart - pacer->next < pacer->period / 2)
        begin = pacer->next;
    pacer->next = begin + pacer->period;
    pacer->scheduled = 1;
    double remaining = pacer->next - PreciseTickCount();
    // A frame that already took its whole refresh shows at once.
    if (remaining <= 0)
        return;
    WaitForRefresh(pacer, remaining, frameStart);
}

static void SpeedDelay(int speed)
{
    if (speed <= 0)
        return;
    if (frameWaitHook)
        frameWaitHook(WAIT_SPEED, speed * 10.0);
    else
        Sleep((DWORD)speed * 10);
}

// --- Render thread ------------------------------------------------------------

static void StartModule(ModuleRecord* record, int clamp)
{
    if (clamp)
        ClampControls(record);
    record->open(record);
    record->start(record);
}

void RenderFramePass(FramePacer* pacer)
{
    double frameStart = PreciseTickCount();
    frameCounter = frameCounter + 1;
    ShowInfoStep();
    ShowNameStep();
    SloganStep();
    for (int module = 0; module < MODULE_COUNT; ++module)
        if (saverSettings.moduleActive[module]) {
            StartFrameBudget();
            RunFrameEntry(&moduleTable[module], frameCounter);
            EndFrameBudget();
        }
    GdiFlush();
    SignalFrameDrawn();
    PaceFrame(pacer, frameStart);
    SpeedDelay(saverSettings.speed);
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

    FramePacer pacer;
    StartFramePacer(&pacer, window);
    while (renderRunning)
        RenderFramePass(&pacer);
    StopFramePacer(&pacer);

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
    // "Active" before the display goes: a run ended in between (a log-off,
    // a kill) leaves a stray test display, never a lost "Active". Nothing
    // remembered (another test run was under way when this one began):
    // that run puts its own name back.
    if (savedActive[0])
        WriteSaverValue("Active", REG_SZ, savedActive, (DWORD)strlen(savedActive) + 1);
    DeleteDisplay(TEST_DISPLAY);
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
