// The info overlay on a real 8-bit surface: the display name, CD information
// and slogan boxes, their timing, their size limits, and the modules drawing
// around them.
#include <gtest/gtest.h>
#include "runtime/overlay.h"
#include "runtime/common.h"
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include "modules/modules.h"
#include "settings/registry.h"
#include "support/harness.h"
#include "support/surface_support.h"
#include <string.h>
#include <string>
#include <vector>

namespace {

const int W = 640, H = 480;
const int BACKGROUND = 7;   // entry the "picture" is painted in

HWND CreateTestWindow(int width, int height)
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSA wc;
        ZeroMemory(&wc, sizeof(wc));
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "OverlayTestWindow";
        atom = RegisterClassA(&wc);
    }
    return CreateWindowExA(0, "OverlayTestWindow", "", WS_POPUP, 0, 0, width, height, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

void SetSlogan(const char* text)
{
    HKEY key = 0;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\" SAVER_KEY_NAME, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                    NULL);
    if (key)
        RegCloseKey(key);
    if (text)
        WriteSaverValue("Slogan", REG_SZ, text, (DWORD)strlen(text) + 1);
    else
        WriteSaverValue("Slogan", REG_SZ, "", 0);   // removes the value
}

class Overlay : public ::testing::Test {
protected:
    TestSurface surface;
    HWND window;
    SoundShare* share;
    void SetUp() override
    {
        ASSERT_TRUE(OpenTestSurface(&surface, W, H));
        window = CreateTestWindow(W, H);
        ASSERT_TRUE(window != 0);
        share = OpenSoundLink();
        ASSERT_TRUE(share != 0);
        sound = share;
        share->analyzerRunning = 0;
        share->infoSerial = 0;
        saverSettings.showName = 5;
        saverSettings.showInfo = 1;
        strcpy(saverSettings.displayName, "Evening Waves");
        SetSlogan(NULL);
        UseTestClock(10000);
        Paint(BACKGROUND);
        OverlayStart();
        OverlaySurfaceSetup(surface.surface.dc, window);
    }
    void TearDown() override
    {
        SelectClipRgn(surface.surface.dc, NULL);
        SetSlogan(NULL);
        UseRealClock();
        sound = 0;
        CloseSoundLink(share);
        DestroyWindow(window);
        CloseTestSurface(&surface);
    }
    void Paint(int entry)
    {
        GdiFlush();
        for (int y = 0; y < H; ++y)
            memset(surface.surface.bits + y * surface.surface.stride, STATIC_LOW + entry, W);
    }
    // One frame of the render loop's overlay steps.
    void Frame()
    {
        ShowInfoStep();
        ShowNameStep();
        SloganStep();
        GdiFlush();
    }
    // Bounds and count of the pixels that are no longer the background.
    int Changed(RECT* bounds)
    {
        SetRect(bounds, W, H, -1, -1);
        int count = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (SurfaceEntry(&surface, x, y) != BACKGROUND) {
                    ++count;
                    if (x < bounds->left) bounds->left = x;
                    if (y < bounds->top) bounds->top = y;
                    if (x > bounds->right) bounds->right = x;
                    if (y > bounds->bottom) bounds->bottom = y;
                }
        return count;
    }
    // The rectangle is black all over (an erased box).
    bool AllBlack(const RECT& r)
    {
        for (int y = r.top; y <= r.bottom; ++y)
            for (int x = r.left; x <= r.right; ++x)
                if (SurfaceByte(&surface, x, y) != 0)
                    return false;
        return true;
    }
    SIZE Text(const char* text)
    {
        SIZE size = {0, 0};
        GetTextExtentPoint32A(surface.surface.dc, text, (int)strlen(text), &size);
        return size;
    }
    std::vector<BYTE> Snapshot()
    {
        GdiFlush();
        return std::vector<BYTE>(surface.surface.bits, surface.surface.bits + W * H);
    }
};

TEST_F(Overlay, NameBoxSitsAtTopCentreForShowNameSeconds)
{
    saverSettings.showName = 3;
    Frame();
    RECT box;
    ASSERT_GT(Changed(&box), 1000);
    SIZE text = Text("Evening Waves");
    int half = text.cx / 2 + 29;
    EXPECT_EQ(box.left, W / 2 - half);
    EXPECT_EQ(box.right, W / 2 + half - 1);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.bottom, text.cy + 44 - 1);
    // Frame, face and text are static colours: the box does not change with
    // the animated palette.
    int animated = 0;
    for (int y = box.top; y <= box.bottom; ++y)
        for (int x = box.left; x <= box.right; ++x)
            animated += SurfaceEntry(&surface, x, y) >= 0;
    EXPECT_EQ(animated, 0);

    testNow += 3000;        // the last moment it is shown
    Frame();
    RECT still;
    Changed(&still);
    EXPECT_FALSE(AllBlack(still));
    testNow += 1;
    Frame();
    EXPECT_TRUE(AllBlack(box));
    RECT after;
    Changed(&after);
    EXPECT_TRUE(EqualRect(&after, &box));   // nothing else touched
}

TEST_F(Overlay, ShowNameZeroNeverShowsTheName)
{
    saverSettings.showName = 0;
    for (int i = 0; i < 5; ++i) {
        Frame();
        testNow += 1000;
        strcpy(saverSettings.displayName, i % 2 ? "Evening Waves" : "Morning Sun");
    }
    RECT box;
    EXPECT_EQ(Changed(&box), 0);
}

TEST_F(Overlay, NameTooWideForItsBoxIsNotShown)
{
    // A name that would bring the box within 50 pixels of the left edge.
    std::string name;
    while (Text(name.c_str()).cx < W - 2 * 50 - 58 + 2)
        name += "W";
    strcpy(saverSettings.displayName, name.c_str());
    Frame();
    RECT box;
    EXPECT_EQ(Changed(&box), 0);
    // Nothing was cut out of the picture either: a module paints everywhere.
    PatBlt(surface.surface.dc, 0, 0, W, H, DSTINVERT);
    GdiFlush();
    EXPECT_EQ(SurfaceEntry(&surface, W / 2, 10), 235 - BACKGROUND);
    Paint(BACKGROUND);

    // A short name is shown, and the failed layout left no black band behind.
    strcpy(saverSettings.displayName, "Short");
    Frame();
    EXPECT_GT(Changed(&box), 100);
    EXPECT_EQ(box.right - box.left + 1, 2 * (Text("Short").cx / 2 + 29));
}

TEST_F(Overlay, NameBoxComesBackOnlyForAnotherDisplay)
{
    Frame();
    RECT first;
    ASSERT_GT(Changed(&first), 0);
    testNow += 5001;
    Frame();
    ASSERT_TRUE(AllBlack(first));
    Paint(BACKGROUND);
    for (int i = 0; i < 10; ++i) {
        testNow += 1000;
        Frame();
    }
    RECT box;
    EXPECT_EQ(Changed(&box), 0);   // the same display: no box

    strcpy(saverSettings.displayName, "Deep Blue");
    Frame();
    EXPECT_GT(Changed(&box), 0);
    SIZE text = Text("Deep Blue");
    EXPECT_EQ(box.right - box.left + 1, 2 * (text.cx / 2 + 29));

    // A new name while the old box is up replaces it at once.
    strcpy(saverSettings.displayName, "A much longer display name");
    testNow += 100;
    Frame();
    RECT wider;
    Changed(&wider);
    EXPECT_LT(wider.left, box.left);
}

TEST_F(Overlay, InfoBoxFollowsTheSerialAndExpiresAfter4332Ms)
{
    share->analyzerRunning = 1;
    strcpy(share->infoText1, "Track 4");
    strcpy(share->infoText2, "The Long Album Title");
    strcpy(share->infoText3, "3:12");
    share->infoSerial = 1;
    saverSettings.showName = 0;
    Frame();
    RECT box;
    ASSERT_GT(Changed(&box), 1000);
    SIZE line1 = Text("Track 4"), line2 = Text("The Long Album Title");
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.bottom, H - 1);
    EXPECT_EQ(box.right, line2.cx + 58 - 1);
    EXPECT_EQ(box.top, H - (3 * line1.cy + 44));

    testNow += 4332;
    Frame();
    EXPECT_FALSE(AllBlack(box));
    testNow += 1;
    Frame();
    EXPECT_TRUE(AllBlack(box));

    // The same serial: nothing more. A new one: shown again.
    Paint(BACKGROUND);
    testNow += 2000;
    Frame();
    RECT none;
    EXPECT_EQ(Changed(&none), 0);
    share->infoSerial = 2;
    Frame();
    RECT again;
    EXPECT_GT(Changed(&again), 1000);
    EXPECT_TRUE(EqualRect(&again, &box));
}

// The analyzer's lines need not end in a zero: each shows at most its own 63
// characters and nothing of the fields that follow it in the record.
TEST_F(Overlay, UnterminatedInfoLinesShowOnlyTheirOwnBytes)
{
    share->analyzerRunning = 1;
    memset(share->infoText1, '.', sizeof(share->infoText1));
    memset(share->infoText2, ':', sizeof(share->infoText2));
    memset(share->infoText3, '.', sizeof(share->infoText3));
    share->infoSerial = 0x2E2E2E2E;   // dots again, should a read run on
    saverSettings.showName = 0;
    Frame();
    RECT box;
    ASSERT_GT(Changed(&box), 1000) << "no box for unterminated lines";
    std::string dots(63, '.'), colons(63, ':');
    SIZE widest = Text(dots.c_str());
    SIZE second = Text(colons.c_str());
    if (second.cx > widest.cx)
        widest = second;
    EXPECT_EQ(box.right, widest.cx + 58 - 1);
    EXPECT_EQ(box.top, H - (3 * widest.cy + 44));
}

TEST_F(Overlay, InfoWithEmptyFirstLineStaysInvisibleButExpires)
{
    saverSettings.showName = 0;
    share->analyzerRunning = 1;
    strcpy(share->infoText1, "Track 4");
    strcpy(share->infoText2, "Album");
    strcpy(share->infoText3, "");
    share->infoSerial = 1;
    Frame();
    testNow += 4333;
    Frame();
    Paint(BACKGROUND);   // the modules paint over where the box was

    share->infoText1[0] = 0;
    share->infoSerial = 2;
    Frame();
    RECT box;
    EXPECT_EQ(Changed(&box), 0);
    // Not cut out of the picture: a module paints the bottom left.
    PatBlt(surface.surface.dc, 0, H - 60, 60, 60, DSTINVERT);
    GdiFlush();
    EXPECT_EQ(SurfaceEntry(&surface, 10, H - 10), 235 - BACKGROUND);
    Paint(BACKGROUND);
    testNow += 4333;     // it runs out without painting anything
    Frame();
    EXPECT_EQ(Changed(&box), 0);

    // The next serial with text shows at once.
    strcpy(share->infoText1, "Track 5");
    share->infoSerial = 3;
    Frame();
    EXPECT_GT(Changed(&box), 1000);
}

TEST_F(Overlay, InfoNeedsShowInfoAndARunningAnalyzer)
{
    saverSettings.showName = 0;
    strcpy(share->infoText1, "Track 4");
    share->infoSerial = 5;
    share->analyzerRunning = 0;
    Frame();
    RECT box;
    EXPECT_EQ(Changed(&box), 0);
    share->analyzerRunning = 1;
    saverSettings.showInfo = 0;
    for (int i = 0; i < 3; ++i) {
        ++share->infoSerial;
        Frame();
    }
    EXPECT_EQ(Changed(&box), 0);
    saverSettings.showInfo = 1;
    ++share->infoSerial;
    Frame();
    EXPECT_GT(Changed(&box), 0);
}

TEST_F(Overlay, SloganShowsOnceAtBottomRight)
{
    SetSlogan("Keep the music playing");
    OverlayStart();
    OverlaySurfaceSetup(surface.surface.dc, window);
    saverSettings.showName = 0;
    Frame();
    RECT box;
    ASSERT_GT(Changed(&box), 1000);
    SIZE text = Text("Keep the music playing");
    EXPECT_EQ(box.right, W - 1);
    EXPECT_EQ(box.bottom, H - 1);
    EXPECT_EQ(box.left, W - text.cx - 58);
    EXPECT_EQ(box.top, H - text.cy - 44);

    testNow += 6172;
    Frame();
    EXPECT_FALSE(AllBlack(box));
    testNow += 1;
    Frame();
    EXPECT_TRUE(AllBlack(box));
    Paint(BACKGROUND);
    for (int i = 0; i < 20; ++i) {
        testNow += 5000;
        Frame();
    }
    RECT none;
    EXPECT_EQ(Changed(&none), 0);
}

TEST_F(Overlay, WithoutASloganNothingShowsAtBottomRight)
{
    saverSettings.showName = 0;
    for (int i = 0; i < 5; ++i) {
        Frame();
        testNow += 2000;
    }
    RECT box;
    EXPECT_EQ(Changed(&box), 0);
}

TEST_F(Overlay, LongSloganShowsItsFirst79Characters)
{
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += "ab c";   // 80 characters
    text += "and the rest that no box can hold, as long as setup allows";
    SetSlogan(text.c_str());
    OverlayStart();
    OverlaySurfaceSetup(surface.surface.dc, window);
    saverSettings.showName = 0;
    Frame();
    RECT box;
    ASSERT_GT(Changed(&box), 1000);
    SIZE shown = Text(text.substr(0, 79).c_str());
    EXPECT_EQ(box.left, W - shown.cx - 58);
}

TEST_F(Overlay, ModulesDrawAroundShownBoxes)
{
    SetSlogan("Slogan");
    OverlayStart();
    OverlaySurfaceSetup(surface.surface.dc, window);
    share->analyzerRunning = 1;
    strcpy(share->infoText1, "Track 1");
    share->infoSerial = 9;
    Frame();
    RECT boxes;
    ASSERT_GT(Changed(&boxes), 3000);
    std::vector<BYTE> shown = Snapshot();

    // Effect inverts the whole surface every frame; Sphere stamps discs.
    ModuleRecord* effect = &moduleTable[MODULE_EFFECT];
    effect->value[3] = 0;
    EffectOpen(effect);
    EffectStart(effect);
    ModuleRecord* sphere = &moduleTable[MODULE_SPHERE];
    SeedRandom(31);
    SphereOpen(sphere);
    SphereStart(sphere);
    for (int i = 0; i < 60; ++i) {
        SphereFrame(sphere);
        testNow += 10;
        Frame();
    }
    EffectFrame(effect);
    GdiFlush();
    SphereClose(sphere);

    int boxPixels = 0, touched = 0, outsideChanged = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int i = y * W + x;
            if (shown[i] != STATIC_LOW + BACKGROUND) {
                ++boxPixels;
                touched += surface.surface.bits[i] != shown[i];
            } else {
                outsideChanged += surface.surface.bits[i] != shown[i];
            }
        }
    EXPECT_GT(boxPixels, 3000);
    EXPECT_EQ(touched, 0);
    EXPECT_GT(outsideChanged, W * H / 2);
}

}  // namespace
