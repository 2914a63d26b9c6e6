// The screen-saver library's switches and closing rules, and the saver's
// keyboard commands and mouse-move tolerance.
#include <gtest/gtest.h>
#include "runtime/scrnsave.h"
#include "runtime/saver.h"
#include "runtime/soundlink.h"
#include "runtime/framework.h"
#include "graphics/palette.h"
#include "support/harness.h"
#include <string.h>

namespace {

TEST(Switches, ParsesEveryFormCaseInsensitive)
{
    struct Case {
        const char* line;
        int mode;
        unsigned long parent;
        const char* file;
    } cases[] = {
        {"", MODE_CONFIGURE, 0, ""},
        {"   ", MODE_CONFIGURE, 0, ""},
        {"/s", MODE_SAVER, 0, ""},
        {"/S", MODE_SAVER, 0, ""},
        {" -s", MODE_SAVER, 0, ""},
        {"/c", MODE_CONFIGURE, 0, ""},
        {"/C:1234", MODE_CONFIGURE, 1234, ""},
        {"/c 5678", MODE_CONFIGURE, 5678, ""},
        {"/p 4242", MODE_PREVIEW, 4242, ""},
        {"/P:99", MODE_PREVIEW, 99, ""},
        {"/a 777", MODE_PASSWORD, 777, ""},
        {"/A:12", MODE_PASSWORD, 12, ""},
        {"/S C:\\Displays\\Blue.VIV", MODE_SAVER, 0, "C:\\Displays\\Blue.VIV"},
        {"/S C:\\My Displays\\Deep Blue.VIV", MODE_SAVER, 0, "C:\\My Displays\\Deep Blue.VIV"},
        {"/s \"C:\\My Displays\\x.viv\"  ", MODE_SAVER, 0, "C:\\My Displays\\x.viv"},
    };
    for (const Case& c : cases) {
        SaverCommand command;
        ParseSaverCommand(c.line, &command);
        EXPECT_EQ(command.mode, c.mode) << c.line;
        EXPECT_EQ((unsigned long)(ULONG_PTR)command.parent, c.parent) << c.line;
        EXPECT_STREQ(command.fileName, c.file) << c.line;
    }
}

TEST(Switches, OverlongFileNameIsIgnored)
{
    std::string line = "/S " + std::string(400, 'x');
    SaverCommand command;
    ParseSaverCommand(line.c_str(), &command);
    EXPECT_EQ(command.mode, MODE_SAVER);
    EXPECT_STREQ(command.fileName, "");
}

TEST(Switches, PreviewWithoutWindowIsRefused)
{
    SaverCommand command;
    EXPECT_EQ(ParseSaverCommand("/p", &command), 0);
    EXPECT_EQ(ParseSaverCommand("/p abc", &command), 0);
}

// A plain window that receives what the closing rules post.
class Closing : public ::testing::Test {
protected:
    HWND window = 0;
    void SetUp() override
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.lpszClassName = "VivraClosingTest";
        RegisterClassA(&windowClass);
        window = CreateWindowA("VivraClosingTest", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, windowClass.hInstance, NULL);
        ASSERT_NE(window, nullptr);
        fChildPreview = 0;
        mouseSeen = 0;
        Drain();
    }
    void TearDown() override { DestroyWindow(window); }
    void Drain()
    {
        MSG message;
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
        }
    }
    int ClosePosted()
    {
        MSG message;
        int posted = 0;
        while (PeekMessageA(&message, window, 0, 0, PM_REMOVE))
            posted |= message.message == WM_CLOSE;
        return posted;
    }
    void Move(int x, int y) { DefScreenSaverProc(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
};

TEST_F(Closing, FirstMoveAndSmallDriftDoNotClose)
{
    Move(500, 400);
    EXPECT_FALSE(ClosePosted());
    Move(503, 397);
    Move(498, 402);
    EXPECT_FALSE(ClosePosted());
    Move(520, 400);
    EXPECT_TRUE(ClosePosted());
}

TEST_F(Closing, KeysButtonsAndDeactivationClose)
{
    const UINT messages[] = {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    for (UINT message : messages) {
        DefScreenSaverProc(window, message, 0, 0);
        EXPECT_TRUE(ClosePosted()) << message;
    }
    DefScreenSaverProc(window, WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_TRUE(ClosePosted());
    DefScreenSaverProc(window, WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_FALSE(ClosePosted());
}

TEST_F(Closing, PreviewNeverClosesOnInput)
{
    fChildPreview = 1;
    Move(0, 0);
    Move(300, 300);
    DefScreenSaverProc(window, WM_KEYDOWN, 'A', 0);
    DefScreenSaverProc(window, WM_LBUTTONDOWN, 0, 0);
    EXPECT_FALSE(ClosePosted());
    fChildPreview = 0;
}

// The tolerance after a display-mode switch, on a driven clock.
class MouseTolerance : public ::testing::Test {
protected:
    void SetUp() override
    {
        createTick = 100000;
        moveWindowStart = 0;
        moveCount = 0;
    }
    int Burst(DWORD start, int moves, DWORD spacing)
    {
        int closed = 0;
        for (int i = 0; i < moves; ++i)
            closed |= MouseMoveCloses(start + i * spacing);
        return closed;
    }
};

TEST_F(MouseTolerance, TenMovesInFirstEightSecondsDoNotClose)
{
    EXPECT_FALSE(Burst(createTick + 1000, 10, 50));
    EXPECT_FALSE(Burst(createTick + 4000, 10, 100));
}

TEST_F(MouseTolerance, TwentyFiveMovesWithinTwoSecondsClose)
{
    EXPECT_TRUE(Burst(createTick + 1000, 25, 60));
}

TEST_F(MouseTolerance, TwentiethMoveAfterWindowStartClosesEarly)
{
    DWORD t = createTick + 500;
    EXPECT_FALSE(MouseMoveCloses(t));          // opens the window
    for (int i = 1; i <= 19; ++i)
        EXPECT_FALSE(MouseMoveCloses(t + i)) << i;
    EXPECT_TRUE(MouseMoveCloses(t + 20));
}

TEST_F(MouseTolerance, SixthMoveClosesAfterEightSeconds)
{
    DWORD t = createTick + 9000;
    EXPECT_FALSE(MouseMoveCloses(t));
    for (int i = 1; i <= 5; ++i)
        EXPECT_FALSE(MouseMoveCloses(t + i * 10)) << i;
    EXPECT_TRUE(MouseMoveCloses(t + 60));
}

TEST_F(MouseTolerance, IsolatedMovesNeverClose)
{
    for (int i = 0; i < 50; ++i)
        EXPECT_FALSE(MouseMoveCloses(createTick + 2500 * i));
}

// The keyboard commands: which keys are consumed and what they change.
TEST(SaverKeys, CommandsAreConsumedOthersAreNot)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    sound = share;
    PaletteState palette = {};
    for (int ch = 0; ch < 3; ++ch) {
        palette.value[3 * PARAM_DIRECTION + ch] = ch + 1;
        palette.nextEventTime[ch] = 0xFFFFFFF0u;
    }
    currentPalette = &palette;
    UseTestClock(5000);

    EXPECT_TRUE(HandleSaverKey(0, VK_LEFT));
    EXPECT_TRUE(HandleSaverKey(0, VK_LEFT));
    EXPECT_TRUE(HandleSaverKey(0, VK_RIGHT));
    EXPECT_EQ(share->horizontalSteps, -1);
    EXPECT_TRUE(HandleSaverKey(0, VK_UP));
    EXPECT_TRUE(HandleSaverKey(0, VK_DOWN));
    EXPECT_TRUE(HandleSaverKey(0, VK_DOWN));
    EXPECT_EQ(share->verticalSteps, -1);
    for (int digit = 0; digit <= 9; ++digit) {
        EXPECT_TRUE(HandleSaverKey(0, '0' + digit));
        EXPECT_EQ(share->digitKey, digit);
    }
    EXPECT_TRUE(HandleSaverKey(0, VK_F1));
    EXPECT_EQ(share->captureRequest, 1);
    EXPECT_TRUE(HandleSaverKey(0, VK_F2));
    EXPECT_EQ(share->resetRequest, 1);
    share->captureRequest = 0;
    EXPECT_TRUE(HandleSaverKey(0, VK_F3));
    EXPECT_EQ(share->captureRequest, 1);
    EXPECT_EQ(saverSettings.captureLiveColours, 1);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(palette.effect[ch], EFFECT_CUSTOM);
    EXPECT_TRUE(HandleSaverKey(0, VK_F4));
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(palette.nextEventTime[ch], 5000u);
    EXPECT_TRUE(HandleSaverKey(0, VK_F8));
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(palette.value[3 * PARAM_DIRECTION + ch], -(ch + 1));
    int mouse = ignoreMouse;
    EXPECT_TRUE(HandleSaverKey(0, VK_F9));
    EXPECT_EQ(ignoreMouse, !mouse);
    HandleSaverKey(0, VK_F9);

    const WPARAM closing[] = {'A', VK_SPACE, VK_ESCAPE, VK_RETURN, VK_F10, VK_F12, VK_NUMPAD5};
    for (WPARAM key : closing)
        EXPECT_FALSE(HandleSaverKey(0, key)) << key;

    UseRealClock();
    currentPalette = 0;
    saverSettings.captureLiveColours = 0;
    sound = 0;
    CloseSoundLink(share);
}

}  // namespace
