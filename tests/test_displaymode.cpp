// Display modes against the real DirectDraw of the test prefix: which stored
// modes the saver switches to, the full-screen test, and the saver run with a
// stored mode.
#include <gtest/gtest.h>
#include "runtime/displaymode.h"
#include "runtime/common.h"
#include "settings/registry.h"
#include "support/harness.h"
#include <ddraw.h>
#include <string.h>
#include <vector>

namespace {

void Collect(const DEVMODEA* mode, void* context)
{
    ((std::vector<DEVMODEA>*)context)->push_back(*mode);
}

HWND MakeWindow(int x, int y, int width, int height)
{
    return CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, x, y, width, height, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

bool Listed(const std::vector<DEVMODEA>& modes, DWORD width, DWORD height, DWORD depth)
{
    for (const DEVMODEA& mode : modes)
        if (mode.dmPelsWidth == width && mode.dmPelsHeight == height && mode.dmBitsPerPel == depth)
            return true;
    return false;
}

std::vector<DEVMODEA> ListModes(void)
{
    std::vector<DEVMODEA> modes;
    HWND window = MakeWindow(0, 0, 200, 100);
    EXPECT_TRUE(OpenDirectDraw(window, DDSCL_NORMAL));
    EXPECT_TRUE(EnumerateModes(Collect, &modes));
    ReleaseDisplayMode();
    DestroyWindow(window);
    return modes;
}

TEST(DisplayModes, OnlyModesTheDisplayListsAreAvailable)
{
    HWND window = MakeWindow(0, 0, 200, 100);
    ASSERT_TRUE(OpenDirectDraw(window, DDSCL_NORMAL));
    std::vector<DEVMODEA> modes;
    ASSERT_TRUE(EnumerateModes(Collect, &modes));
    ASSERT_FALSE(modes.empty());
    // Every one it lists (a sample spread over the list: each check enumerates again).
    size_t step = modes.size() / 8 + 1;
    for (size_t i = 0; i < modes.size(); i += step) {
        const DEVMODEA& mode = modes[i];
        EXPECT_TRUE(ModeAvailable(&mode)) << mode.dmPelsWidth << "x" << mode.dmPelsHeight << "x" << mode.dmBitsPerPel;
    }

    DEVMODEA mode = modes[0];
    mode.dmPelsWidth = 60000;
    mode.dmPelsHeight = 60000;
    EXPECT_FALSE(ModeAvailable(&mode));
    mode = modes[0];
    mode.dmPelsWidth += 1;
    ASSERT_FALSE(Listed(modes, mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel));
    EXPECT_FALSE(ModeAvailable(&mode));
    mode = modes[0];
    mode.dmBitsPerPel = 7;
    EXPECT_FALSE(ModeAvailable(&mode));
    // A record without a refresh rate matches any rate of its mode.
    mode = modes[0];
    mode.dmDisplayFrequency = 0;
    EXPECT_TRUE(ModeAvailable(&mode));
    // One the driver does not give for that mode does not.
    mode = modes[0];
    if (mode.dmDisplayFrequency) {
        mode.dmDisplayFrequency = 1;
        EXPECT_FALSE(ModeAvailable(&mode));
    }
    ReleaseDisplayMode();
    // Without DirectDraw nothing is available.
    EXPECT_FALSE(ModeAvailable(&modes[0]));
    DestroyWindow(window);
}

TEST(FullScreen, TheWindowMustBeItsMonitorOrTheWholeVirtualScreen)
{
    // Two monitors side by side, the second larger.
    const RECT first = {0, 0, 1024, 768};
    const RECT second = {1024, 0, 2304, 1024};
    const RECT both = {0, 0, 2304, 1024};
    EXPECT_TRUE(CoversMonitor(&both, &first, &both));
    EXPECT_TRUE(CoversMonitor(&second, &second, &both));
    EXPECT_TRUE(CoversMonitor(&first, &first, &both));
    const RECT firstSizeOnSecond = {1024, 0, 2048, 768};
    EXPECT_FALSE(CoversMonitor(&firstSizeOnSecond, &second, &both));
    const RECT part = {0, 0, 2304, 768};
    EXPECT_FALSE(CoversMonitor(&part, &first, &both));
    EXPECT_FALSE(CoversMonitor(&part, NULL, NULL));

    // The real monitor: its size at its place, not only its size.
    HDC screen = GetDC(NULL);
    int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(NULL, screen);
    HWND window = MakeWindow(0, 0, width, height);
    ASSERT_TRUE(window);
    EXPECT_EQ(CoversScreen(window), 1);
    SetWindowPos(window, NULL, 100, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(CoversScreen(window), 0);
    SetWindowPos(window, NULL, 0, 0, width - 1, height, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(CoversScreen(window), 0);
    DestroyWindow(window);
}

class ModeRun : public ::testing::Test {
protected:
    SaverProcess saver;
    void SetUp() override
    {
        memset(&saver, 0, sizeof(saver));
        RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override
    {
        KillSaver(&saver);
        RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
    }
    void StoreMode(DWORD width, DWORD height, DWORD depth)
    {
        BYTE record[DISPLAY_MODE_SIZE];
        memset(record, 0, sizeof(record));
        DEVMODEA* mode = (DEVMODEA*)record;
        mode->dmSize = DISPLAY_MODE_SIZE;
        mode->dmPelsWidth = width;
        mode->dmPelsHeight = height;
        mode->dmBitsPerPel = depth;
        ASSERT_TRUE(WriteSaverValue("DisplayMode", REG_BINARY, record, sizeof(record)));
    }
};

TEST_F(ModeRun, AModeTheDisplayLacksRunsInTheDesktopMode)
{
    std::vector<DEVMODEA> modes = ListModes();
    ASSERT_FALSE(Listed(modes, 60000, 60000, 8));
    StoreMode(60000, 60000, 8);
    ASSERT_GE(StartRenderingSaver(&saver), 10);
    HDC screen = GetDC(NULL);
    int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(NULL, screen);
    RECT client;
    ASSERT_TRUE(GetClientRect(saver.window, &client));
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    // No switch: the frames go on, and a close request closes as usual.
    long frames = SaverFrameCounter(saver.window);
    EXPECT_GT(WaitFrames(saver.window, frames + 5, 20000), frames);
    PostMessageA(saver.window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitSaverExit(&saver, 10000)) << "the saver acted as if the mode had been switched";
}

TEST_F(ModeRun, AListedModeIsSwitchedTo)
{
    HDC screen = GetDC(NULL);
    DWORD width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    DWORD depth = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(NULL, screen);
    std::vector<DEVMODEA> modes = ListModes();
    ASSERT_TRUE(Listed(modes, width, height, depth)) << "the desktop's own mode is not listed";
    StoreMode(width, height, depth);
    ASSERT_GE(StartRenderingSaver(&saver), 10);
    RECT client;
    ASSERT_TRUE(GetClientRect(saver.window, &client));
    EXPECT_EQ((DWORD)client.right, width);
    EXPECT_EQ((DWORD)client.bottom, height);
    // After a switch a bare close request is ignored until a key comes.
    PostMessageA(saver.window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(WaitSaverExit(&saver, 1500)) << "the mode was not switched";
    CloseSaverCleanly(&saver);
}

}  // namespace
