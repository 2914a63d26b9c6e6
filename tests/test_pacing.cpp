// Frame pacing: the render loop shows at most one frame per display refresh
// (plus the Speed delay), presents of the emulated surface go out at most
// once per refresh without losing a palette step or a frame, and the real
// saver and its preview run at the refresh rate, not as fast as they can.
// The loop's waits run on the test clock, so the counts do not depend on
// how busy the machine is.
#include <gtest/gtest.h>
#include "graphics/palette.h"
#include "graphics/surface.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

// The rate the display reports, read here on its own: 60 Hz for 0 or 1.
int ReportedRefreshRate(void)
{
    DEVMODEA mode;
    ZeroMemory(&mode, sizeof(mode));
    mode.dmSize = sizeof(mode);
    DWORD rate = 0;
    if (EnumDisplaySettingsA(NULL, ENUM_CURRENT_SETTINGS, &mode))
        rate = mode.dmDisplayFrequency;
    return rate <= 1 ? 60 : (int)rate;
}

// The driven clock at a finer grain; the tick count is its ceiling, so a
// wait that ends exactly on a refresh lands on or just after it.
double testTime = 0;
void Advance(double ms)
{
    testTime += ms;
    testNow = (DWORD)ceil(testTime);
}

struct Wait {
    unsigned frame;
    int kind;
    double ms;
};
std::vector<Wait> waits;

void DrivenWait(int kind, double ms)
{
    waits.push_back({frameCounter, kind, ms});
    Advance(ms);
}

// The cost of each frame entry on the driven clock, by frame number.
double (*frameCost)(unsigned frame) = 0;
int TimedFrame(ModuleRecord*)
{
    if (frameCost)
        Advance(frameCost(frameCounter));
    return 0;
}
int NoEntry(ModuleRecord*)
{
    return 0;
}

class FrameLoop : public ::testing::Test {
protected:
    ModuleRecord keptRecord;
    SaverSettings keptSettings;
    double period = 0;

    void SetUp() override
    {
        keptRecord = moduleTable[0];
        keptSettings = saverSettings;
        memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
        saverSettings.moduleActive[0] = 1;
        saverSettings.speed = 0;
        memset(&moduleTable[0], 0, sizeof(ModuleRecord));
        RegisterModule(0, TimedFrame, NoEntry, NoEntry, NoEntry);
        moduleTable[0].value[SLOT_STRENGTH] = 1;
        frameCost = 0;
        waits.clear();
        testTime = 100000;
        UseTestClock(100000);
        SetFrameWaitHook(DrivenWait);
        period = 1000.0 / ReportedRefreshRate();
    }
    void TearDown() override
    {
        SetFrameWaitHook(0);
        UseRealClock();
        moduleTable[0] = keptRecord;
        saverSettings = keptSettings;
        frameCost = 0;
    }

    // Runs the real frame loop for `ms` of driven time; the number of frames.
    // A loop that never waits ends after a bound of passes.
    long RunFor(double ms)
    {
        FramePacer pacer;
        StartFramePacer(&pacer, GetDesktopWindow());
        EXPECT_NEAR(pacer.period, period, 0.01) << "the pacer's refresh differs from the display's";
        double end = testTime + ms;
        unsigned first = frameCounter;
        long passes = 0;
        while (testTime < end && passes < 100000) {
            RenderFramePass(&pacer);
            ++passes;
        }
        StopFramePacer(&pacer);
        return (long)(frameCounter - first);
    }
    int RefreshWaitsOf(unsigned frame, double* total)
    {
        int n = 0;
        *total = 0;
        for (const Wait& w : waits)
            if (w.frame == frame && w.kind == WAIT_REFRESH) {
                ++n;
                *total += w.ms;
            }
        return n;
    }
};

TEST_F(FrameLoop, SpeedZeroShowsOneFramePerDisplayRefresh)
{
    int rate = ReportedRefreshRate();
    long frames = RunFor(3000);
    EXPECT_NEAR(frames, 3.0 * rate, 0.15 * 3.0 * rate) << "frames in 3 s at " << rate << " Hz";
    for (const Wait& w : waits) {
        EXPECT_EQ(w.kind, WAIT_REFRESH) << "a Speed delay at Speed 0";
        EXPECT_LE(w.ms, period + 0.001);
        EXPECT_GT(w.ms, 0.0);
    }

    // Frames that take a while still come once per refresh: the wait counts
    // from the start of the frame, not from its end.
    frameCost = [](unsigned) { return 6.0; };
    waits.clear();
    frames = RunFor(3000);
    EXPECT_NEAR(frames, 3.0 * rate, 0.15 * 3.0 * rate) << "frames of 6 ms in 3 s";
    for (const Wait& w : waits)
        EXPECT_LE(w.ms, period - 6.0 + 1.0) << "frame " << w.frame;
}

TEST_F(FrameLoop, SpeedFiveDelaysFiftyMillisecondsOnTopOfThePacedFrame)
{
    saverSettings.speed = 5;
    long frames = RunFor(3000);
    EXPECT_LE(frames, 3000 / 50) << "more than 1000 / 50 frames a second";
    EXPECT_GE(frames, (long)(0.85 * 3000 / (50 + period))) << "the frames came too slowly";
    int speedDelays = 0, refreshWaits = 0;
    for (const Wait& w : waits) {
        if (w.kind == WAIT_SPEED) {
            ++speedDelays;
            EXPECT_EQ(w.ms, 50.0);
        } else {
            ++refreshWaits;
        }
    }
    EXPECT_GE(speedDelays, frames - 1);
    EXPECT_GE(refreshWaits, frames - 1) << "the Speed delay replaced the refresh wait";

    // Every step of the slider is slower than the one before.
    saverSettings.speed = 1;
    waits.clear();
    long faster = RunFor(3000);
    EXPECT_GT(faster, frames);
    EXPECT_LT(faster, (long)(3.0 * ReportedRefreshRate())) << "Speed 1 as fast as Speed 0";
}

TEST_F(FrameLoop, AFrameLongerThanARefreshIsNotFollowedByAWait)
{
    // Every third frame takes 25 ms, longer than a refresh; the others 3 ms.
    frameCost = [](unsigned frame) { return frame % 3 == 0 ? 25.0 : 3.0; };
    unsigned first = frameCounter + 1;
    long frames = RunFor(1000);
    ASSERT_GT(frames, 10);
    int longFrames = 0;
    for (unsigned f = first; f < first + (unsigned)frames - 1; ++f) {
        double total = 0;
        int n = RefreshWaitsOf(f, &total);
        if (f % 3 == 0) {
            ++longFrames;
            EXPECT_EQ(n, 0) << "frame " << f << " took 25 ms and still waited " << total << " ms";
        } else {
            EXPECT_LE(n, 1);
            EXPECT_LE(total, period - 3.0 + 1.0) << "frame " << f;
        }
    }
    EXPECT_GT(longFrames, 5);

    // Nothing but long frames: no waits at all.
    frameCost = [](unsigned) { return 25.0; };
    waits.clear();
    frames = RunFor(500);
    EXPECT_EQ(frames, 20);
    EXPECT_TRUE(waits.empty()) << waits.size() << " waits after frames longer than a refresh";
}

// --- Presents of the emulated surface ---------------------------------------------

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(int x, int y, int w, int h)
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSA wc;
        ZeroMemory(&wc, sizeof(wc));
        wc.lpfnWndProc = PlainWindowProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "PacingTestWindow";
        atom = RegisterClassA(&wc);
    }
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "PacingTestWindow", "", WS_POPUP | WS_VISIBLE, x, y, w, h, NULL,
                                  NULL, GetModuleHandleA(NULL), NULL);
    UpdateWindow(window);
    return window;
}

void Pump(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

void FillEntry(HDC dc, int left, int top, int right, int bottom, int entry)
{
    HBRUSH brush = CreateSolidBrush(PALETTEINDEX(entry));
    RECT r = {left, top, right, bottom};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    GdiFlush();
}

COLORREF EntryColour(const PaletteState* state, int i)
{
    const PALETTEENTRY& e = state->entries->entry[i];
    return RGB(e.peRed, e.peGreen, e.peBlue);
}

// The window's pixel once the blit has landed (Wine hands it on shortly).
COLORREF WindowPixel(HDC own, int x, int y, COLORREF wanted)
{
    COLORREF got = GetPixel(own, x, y);
    for (int i = 0; i < 100 && got != wanted; ++i) {
        Sleep(5);
        got = GetPixel(own, x, y);
    }
    return got;
}

class Presents : public ::testing::Test {
protected:
    HWND window = 0;
    HDC dc = 0, own = 0;
    int width = 0, height = 0;
    PaletteState* state = 0;
    int rate = 60;

    void SetUp() override
    {
        window = MakeWindow(40, 30, 160, 120);
        ASSERT_NE(window, (HWND)0);
        Pump(50);
        dc = AcquireDrawSurface(window, &width, &height);
        ASSERT_NE(dc, (HDC)0);
        ASSERT_EQ(paletteEmulation, 1) << "a true-colour screen emulates its palette";
        state = CreatePaletteState(dc);
        ASSERT_NE(state, nullptr);
        own = GetDC(window);
        state->dc = own;   // as the palette thread does
        for (int ch = 0; ch < 3; ++ch) {
            state->source[3 * PARAM_DIRECTION + ch] = SOURCE_SET;
            state->value[3 * PARAM_DIRECTION + ch] = 3;
            state->effect[ch] = EFFECT_SMOOTH;
        }
        StartChannels(state);
        rate = ReportedRefreshRate();
        renderRunning = 1;
        UseTestClock(200000);
    }
    void TearDown() override
    {
        UseRealClock();
        if (state) {
            state->dc = dc;
            DestroyPaletteState(state);
        }
        if (own)
            ReleaseDC(window, own);
        if (dc)
            ReleaseDrawSurface(window, dc);
        DestroyWindow(window);
    }
};

TEST_F(Presents, NeverMoreThanOnePerRefreshWhileThePaletteStepsFaster)
{
    FillEntry(dc, 0, 0, width, height, 100);
    SignalFrameDrawn();
    // A palette step every 2 ms and a drawn frame every 8 ms, for one second.
    LONG before = SurfacePresentCount();
    for (int t = 2; t <= 1000; t += 2) {
        testNow += 2;
        PaletteStep(state);
        if (t % 8 == 0) {
            FillEntry(dc, 0, 0, 20, 20, t % 200);
            SignalFrameDrawn();
        }
    }
    LONG presents = SurfacePresentCount() - before;
    EXPECT_LE(presents, rate + 1) << "presents in one second at " << rate << " Hz";
    EXPECT_GE(presents, (LONG)(0.85 * rate)) << "presents were dropped, not coalesced";
}

TEST_F(Presents, AHeldBackStepOrFrameShowsAtTheNextRefresh)
{
    DWORD refresh = (DWORD)ceil(1000.0 / rate);
    FillEntry(dc, 0, 0, width, height, 120);
    SignalFrameDrawn();
    testNow += refresh;
    PaletteStep(state);
    COLORREF shown = EntryColour(state, 120);
    EXPECT_EQ(WindowPixel(own, 50, 50, shown), shown);

    // A step right after a present is held back; its colours are not lost.
    LONG presents = SurfacePresentCount();
    testNow += 2;
    PaletteStep(state);
    COLORREF held = EntryColour(state, 120);
    ASSERT_NE(held, shown) << "the palette did not move";
    EXPECT_EQ(SurfacePresentCount(), presents) << "two presents within one refresh";
    // The palette thread's wait on a clock that stands still: it ends, and
    // makes no present before the refresh.
    PaletteThreadWait(state, 20);
    EXPECT_EQ(SurfacePresentCount(), presents);
    testNow += refresh;
    PaletteThreadWait(state, 5);
    EXPECT_EQ(SurfacePresentCount(), presents + 1) << "the held step was never presented";
    EXPECT_EQ(WindowPixel(own, 50, 50, held), held) << "the held step's colours are not on screen";

    // A frame drawn right after a present reaches the screen at the next refresh.
    FillEntry(dc, 0, 0, width, height, 60);
    SignalFrameDrawn();
    testNow += 1;
    PaletteThreadWait(state, 5);
    EXPECT_EQ(SurfacePresentCount(), presents + 1);
    testNow += refresh;
    PaletteThreadWait(state, 5);
    EXPECT_EQ(SurfacePresentCount(), presents + 2) << "the drawn frame was never presented";
    COLORREF frame = EntryColour(state, 60);
    EXPECT_EQ(WindowPixel(own, 50, 50, frame), frame);
}

TEST_F(Presents, AHeldPresentDoesNotShortenThePaletteThreadsWait)
{
    UseRealClock();
    FillEntry(dc, 0, 0, width, height, 30);
    SignalFrameDrawn();
    PaletteStep(state);
    PaletteStep(state);   // most likely held: within a refresh of the first
    // The Cycle Rate sleep of the palette thread stays what it was, so the
    // colours move exactly as fast as before.
    for (int ms : {10, 40}) {
        DWORD start = GetTickCount();
        PaletteThreadWait(state, (DWORD)ms);
        DWORD elapsed = GetTickCount() - start;
        EXPECT_GE(elapsed + 1, (DWORD)ms);
        EXPECT_LT(elapsed, (DWORD)ms + 1000);
    }
}

// --- The real saver ------------------------------------------------------------------

// Frames a second of a running saver window over about `ms`.
double MeasuredRate(HWND window, DWORD ms)
{
    long f0 = SaverFrameCounter(window);
    DWORD t0 = GetTickCount();
    Pump(ms);
    long f1 = SaverFrameCounter(window);
    DWORD t1 = GetTickCount();
    if (f0 < 0 || f1 < 0 || t1 == t0)
        return -1;
    return (f1 - f0) * 1000.0 / (t1 - t0);
}

TEST(PacedSaver, FullScreenAndPreviewRunAtMostAtTheRefreshRate)
{
    int rate = ReportedRefreshRate();
    SaverProcess saver;
    long first = StartRenderingSaver(&saver);
    ASSERT_GE(first, 0);
    double fps = MeasuredRate(saver.window, 3000);
    printf("full screen: %.1f frames a second at %d Hz\n", fps, rate);
    EXPECT_GT(fps, 0.0) << "the frame loop stopped";
    EXPECT_LE(fps, rate * 1.15) << "faster than the display refreshes";
    CloseSaverCleanly(&saver);

    HWND parent = MakeWindow(100, 100, 200, 150);
    ASSERT_NE(parent, (HWND)0);
    char arguments[64];
    snprintf(arguments, sizeof(arguments), "/p %lu", (unsigned long)(ULONG_PTR)parent);
    ASSERT_TRUE(StartSaver(arguments, &saver, 500));
    HWND child = 0;
    long frames = -1;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 20000 && frames < 10) {
        Pump(100);
        child = FindWindowExA(parent, NULL, "WindowsScreenSaverClass", NULL);
        if (child)
            frames = SaverFrameCounter(child);
    }
    ASSERT_GE(frames, 10) << "the preview's frame loop did not run";
    fps = MeasuredRate(child, 3000);
    printf("preview: %.1f frames a second at %d Hz\n", fps, rate);
    EXPECT_GT(fps, 0.0);
    EXPECT_LE(fps, rate * 1.15) << "the preview runs faster than the display refreshes";
    DestroyWindow(parent);
    EXPECT_TRUE(WaitSaverExit(&saver, 5000));
    KillSaver(&saver);
}

}  // namespace
