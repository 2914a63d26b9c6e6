// The saver's worker threads: F5, F6 and F7 freeze and thaw exactly the
// threads they name (F5 both, F6 the render thread, F7 the palette thread);
// closing the saver thaws a frozen thread before it stops it, so the stop
// never has to kill it; and the palette thread's sleep stays bounded
// whatever Cycle Rate it is handed.
#include <gtest/gtest.h>
#include "runtime/saver.h"
#include "runtime/soundlink.h"
#include "graphics/palette.h"
#include "runtime/framework.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "graphics/surface.h"
#include "support/surface_support.h"

namespace {

volatile LONG renderTicks = 0;
volatile LONG paletteTicks = 0;

// Stand-ins for the two worker threads: they count while the render loop's
// running flag is set and end on their own when it is cleared.
DWORD WINAPI CountingThread(LPVOID counter)
{
    volatile LONG* ticks = (volatile LONG*)counter;
    while (renderRunning) {
        InterlockedIncrement(ticks);
        Sleep(1);
    }
    return 0;
}

// 1 when the counter moves within 3 s.
int Advances(volatile LONG* ticks)
{
    LONG start = *ticks;
    for (int i = 0; i < 300; ++i) {
        Sleep(10);
        if (*ticks != start)
            return 1;
    }
    return 0;
}

// 1 when the counter holds still for 300 ms (after a moment for a suspend
// to land).
int HoldsStill(volatile LONG* ticks)
{
    Sleep(50);
    LONG start = *ticks;
    Sleep(300);
    return *ticks == start;
}

// How often a thread is suspended right now.
DWORD SuspendCount(HANDLE thread)
{
    DWORD previous = SuspendThread(thread);
    ResumeThread(thread);
    return previous;
}

class SuspendKeys : public ::testing::Test {
protected:
    HANDLE render = 0, palette = 0;   // our own handles of the two threads
    void SetUp() override
    {
        renderRunning = 1;
        renderSuspended = 0;
        paletteSuspended = 0;
        renderThread = CreateThread(NULL, 0, CountingThread, (LPVOID)&renderTicks, 0, NULL);
        paletteThread = CreateThread(NULL, 0, CountingThread, (LPVOID)&paletteTicks, 0, NULL);
        ASSERT_TRUE(renderThread && paletteThread);
        DuplicateHandle(GetCurrentProcess(), renderThread, GetCurrentProcess(), &render, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        DuplicateHandle(GetCurrentProcess(), paletteThread, GetCurrentProcess(), &palette, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    }
    void TearDown() override
    {
        renderRunning = 0;
        HANDLE both[2] = {render, palette};
        for (HANDLE h : both) {
            if (!h)
                continue;
            DWORD previous;
            do
                previous = ResumeThread(h);
            while (previous > 1 && previous != (DWORD)-1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
        if (renderThread)
            CloseHandle(renderThread);
        if (paletteThread)
            CloseHandle(paletteThread);
        renderThread = paletteThread = 0;
        renderSuspended = paletteSuspended = 0;
        renderRunning = 1;
    }
    void Expect(int renderFrozen, int paletteFrozen)
    {
        EXPECT_EQ(SuspendCount(render), (DWORD)renderFrozen);
        EXPECT_EQ(SuspendCount(palette), (DWORD)paletteFrozen);
        EXPECT_EQ(renderSuspended, renderFrozen);
        EXPECT_EQ(paletteSuspended, paletteFrozen);
        if (renderFrozen)
            EXPECT_TRUE(HoldsStill(&renderTicks)) << "render thread still runs";
        else
            EXPECT_TRUE(Advances(&renderTicks)) << "render thread does not run";
        if (paletteFrozen)
            EXPECT_TRUE(HoldsStill(&paletteTicks)) << "palette thread still runs";
        else
            EXPECT_TRUE(Advances(&paletteTicks)) << "palette thread does not run";
    }
};

TEST_F(SuspendKeys, F6FreezesAndThawsTheRenderThreadOnly)
{
    Expect(0, 0);
    EXPECT_TRUE(HandleSaverKey(0, VK_F6));
    Expect(1, 0);
    EXPECT_TRUE(HandleSaverKey(0, VK_F6));
    Expect(0, 0);
}

TEST_F(SuspendKeys, F7FreezesAndThawsThePaletteThreadOnly)
{
    EXPECT_TRUE(HandleSaverKey(0, VK_F7));
    Expect(0, 1);
    EXPECT_TRUE(HandleSaverKey(0, VK_F7));
    Expect(0, 0);
}

TEST_F(SuspendKeys, F5FreezesAndThawsBothAndMixesWithF6AndF7)
{
    EXPECT_TRUE(HandleSaverKey(0, VK_F5));
    Expect(1, 1);
    EXPECT_TRUE(HandleSaverKey(0, VK_F5));
    Expect(0, 0);
    // F6 then F5: F5 toggles each thread, so the render thread thaws while
    // the palette thread freezes.
    EXPECT_TRUE(HandleSaverKey(0, VK_F6));
    EXPECT_TRUE(HandleSaverKey(0, VK_F5));
    Expect(0, 1);
    EXPECT_TRUE(HandleSaverKey(0, VK_F7));
    Expect(0, 0);
}

// Closing while both threads are frozen: WM_DESTROY thaws them, so the render
// thread sees the cleared running flag and ends by itself (exit code 0, not
// the stop's 42), and the palette thread runs on to its own end.
TEST_F(SuspendKeys, DestroyThawsFrozenThreadsBeforeStoppingThem)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    sound = share;
    share->saverCount += 1;
    share->clientCount += 1;
    HWND window = CreateWindowExA(0, "STATIC", "saver", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, (HWND)NULL);

    EXPECT_TRUE(HandleSaverKey(window, VK_F5));
    Expect(1, 1);
    DWORD before = GetTickCount();
    ScreenSaverProc(window, WM_DESTROY, 0, 0);
    DWORD took = GetTickCount() - before;

    EXPECT_EQ(renderThread, (HANDLE)0);
    EXPECT_EQ(renderSuspended, 0);
    EXPECT_EQ(paletteSuspended, 0);
    ASSERT_EQ(WaitForSingleObject(render, 0), WAIT_OBJECT_0);
    DWORD code = 1234;
    GetExitCodeThread(render, &code);
    EXPECT_EQ(code, 0u) << "the render thread was killed";
    EXPECT_LT(took, 2000u) << "the stop waited out its grace time";
    ASSERT_EQ(WaitForSingleObject(palette, 3000), WAIT_OBJECT_0) << "the palette thread stayed frozen";
    code = 1234;
    GetExitCodeThread(palette, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(sound, (SoundShare*)0);
    DestroyWindow(window);
}

// A Cycle Rate far beyond its limits (a value handed to the engine as it
// is) must not stall the palette thread: it still ends within about a
// second of the running flag going down.
TEST(PaletteThread, AHugeCycleRateStillLetsTheThreadEnd)
{
    TestSurface surface;
    ASSERT_TRUE(OpenTestSurface(&surface, 64, 48));
    HWND window = CreateWindowExA(0, "STATIC", "saver", WS_POPUP, 0, 0, 64, 48, NULL, NULL, NULL, NULL);
    ASSERT_NE(window, (HWND)NULL);
    PaletteState* palette = CreatePaletteState(surface.surface.dc);
    ASSERT_NE(palette, nullptr);
    for (int ch = 0; ch < 3; ++ch) {
        palette->source[3 * PARAM_CYCLE_RATE + ch] = SOURCE_SET;
        palette->value[3 * PARAM_CYCLE_RATE + ch] = 2000000000;
    }
    currentPalette = palette;
    renderRunning = 1;
    paletteReady = 0;
    HANDLE thread = CreateThread(NULL, 0, PaletteThreadBody, window, 0, NULL);
    ASSERT_NE(thread, (HANDLE)NULL);
    for (int i = 0; i < 500 && !paletteReady; ++i)
        Sleep(10);
    EXPECT_TRUE(paletteReady);
    Sleep(200);   // well into its first wait
    renderRunning = 0;
    DWORD ended = WaitForSingleObject(thread, 3000);
    EXPECT_EQ(ended, WAIT_OBJECT_0) << "the palette thread sleeps on";
    if (ended != WAIT_OBJECT_0) {
        TerminateThread(thread, 1);
        WaitForSingleObject(thread, 1000);
    }
    CloseHandle(thread);
    renderRunning = 1;
    paletteReady = 0;
    currentPalette = 0;
    DestroyPaletteState(palette);
    DestroyWindow(window);
    CloseTestSurface(&surface);
}

}  // namespace
