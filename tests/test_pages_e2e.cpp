// The Sound, Palette, Custom and Display pages of a real "Vivra.scr /c"
// process, driven through their windows; the registry is checked afterwards.
#include <gtest/gtest.h>
#include "support/harness.h"
#include "support/sheet_driver.h"
#include "config/configure.h"
#include "config/pages.h"
#include "runtime/displaymode.h"
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include "settings/registry.h"
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

enum { PAGE_PALETTE = 13, PAGE_CUSTOM = 14, PAGE_SOUND = 15, PAGE_MAIN = 16, PAGE_DISPLAY = 17 };
const DWORD START_TIMEOUT = 240000;

void SetAnalyzerVersion(int major, int minor)
{
    if (!major) {
        DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Sonalyx");
        return;
    }
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Sonalyx", 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &key, NULL));
    DWORD version = (DWORD)(major << 16 | minor);
    RegSetValueExA(key, "Current Version", 0, REG_DWORD, (const BYTE*)&version, sizeof(version));
    RegCloseKey(key);
}

void SetLogPixels(DWORD dpi)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL) == ERROR_SUCCESS) {
        RegSetValueExA(key, "LogPixels", 0, REG_DWORD, (const BYTE*)&dpi, sizeof(dpi));
        RegCloseKey(key);
    }
}

int ReadPaletteValue(const char* display, const char* name, DWORD* value)
{
    char path[KEY_PATH_SIZE];
    snprintf(path, sizeof(path), SAVED_KEY "\\%s\\Palette", display);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD size = sizeof(*value);
    LONG result = RegQueryValueExA(key, name, NULL, NULL, (BYTE*)value, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// The stored "DisplayMode" as bytes; empty when absent.
std::string StoredMode(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    BYTE data[1024];
    DWORD size = sizeof(data);
    LONG result = RegQueryValueExA(key, "DisplayMode", NULL, NULL, data, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string((const char*)data, size) : std::string();
}

BOOL CALLBACK EndSaver(HWND window, LPARAM)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (strcmp(className, "WindowsScreenSaverClass") == 0) {
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        HANDLE saver = OpenProcess(PROCESS_TERMINATE, FALSE, id);
        if (saver) {
            TerminateProcess(saver, 0);
            CloseHandle(saver);
        }
    }
    return TRUE;
}

// Ends the test savers a page started.
void EndTestSavers(void)
{
    EnumWindows(EndSaver, 0);
}

class PagesTest : public ::testing::Test {
protected:
    SheetProcess process;
    void SetUp() override
    {
        BuildValueNames();
        ZeroMemory(&process, sizeof(process));
        DeleteKeyTree(HKEY_CURRENT_USER, SAVER_KEY);
    }
    void TearDown() override
    {
        CloseSheet(&process);
        SetLogPixels(96);
    }
    HWND Open(void)
    {
        EXPECT_TRUE(StartSheet("/c", &process, START_TIMEOUT));
        EXPECT_TRUE(process.sheet != NULL) << "no configuration sheet appeared";
        return process.sheet;
    }
    void Finish(int button)
    {
        PressSheetButton(process.sheet, button);
        EXPECT_TRUE(WaitSheetExit(&process, 120000)) << "the sheet did not close";
    }
    // Leaves the page and comes back, so that it refills itself.
    HWND Revisit(int index)
    {
        SelectSheetPage(process.sheet, PAGE_MAIN);
        return SelectSheetPage(process.sheet, index);
    }
};

TEST(ModeText, PaddingColourCountsAndRefresh)
{
    DEVMODEA mode;
    char text[MODE_TEXT_SIZE];
    memset(&mode, 0, sizeof(mode));
    mode.dmBitsPerPel = 16;
    mode.dmPelsWidth = 800;
    mode.dmPelsHeight = 600;
    FormatModeText(text, &mode);
    EXPECT_STREQ("   65536 colors at 800x600 (default refresh)", text);
    mode.dmBitsPerPel = 8;
    mode.dmPelsWidth = 640;
    mode.dmPelsHeight = 480;
    mode.dmDisplayFrequency = 60;
    FormatModeText(text, &mode);
    EXPECT_STREQ("     256 colors at 640x480 60Hz", text);
    mode.dmBitsPerPel = 32;
    mode.dmDisplayFrequency = 1;
    FormatModeText(text, &mode);
    EXPECT_STREQ(" 4294967295 colors at 640x480 (default refresh)", text);
    mode.dmBitsPerPel = 24;
    mode.dmDisplayFrequency = 75;
    FormatModeText(text, &mode);
    EXPECT_STREQ("  16777216 colors at 640x480 75Hz", text);
    mode.dmBitsPerPel = 4;
    FormatModeText(text, &mode);
    EXPECT_STREQ("16 colors at 640x480 75Hz", text);
    // The present mode reads like a mode of the list, from the real screen.
    CurrentModeText(text);
    char size[32];
    snprintf(size, sizeof(size), " colors at %dx%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_NE(nullptr, strstr(text, size)) << text;
}

TEST_F(PagesTest, SoundStatusFollowsTheInstalledAnalyzer)
{
    SetAnalyzerVersion(0, 0);
    ASSERT_TRUE(Open());
    HWND page = SelectSheetPage(process.sheet, PAGE_SOUND);
    ASSERT_TRUE(page);
    EXPECT_EQ("Sonalyx has not been installed -- sound synchronization is unavailable!", ControlText(page, 1110));

    SetAnalyzerVersion(3, 2);
    page = Revisit(PAGE_SOUND);
    EXPECT_EQ("Sonalyx must be running in order for sound synchronization to function.", ControlText(page, 1110));

    // The analyzer says it runs through the shared record the sheet holds.
    SoundShare* share = OpenSoundLink();
    ASSERT_TRUE(share);
    share->analyzerRunning = 1;
    page = Revisit(PAGE_SOUND);
    EXPECT_EQ("The present versions of The Vivarent Screen Saver and Sonalyx will function together to provide "
              "sound synchronization.",
              ControlText(page, 1110));
    share->analyzerRunning = 0;
    CloseSoundLink(share);

    SetAnalyzerVersion(3, 5);
    page = Revisit(PAGE_SOUND);
    EXPECT_EQ("You are running version 3.5 of Sonalyx.  This version is not fully compatible with version 3.6 of "
              "The Vivarent Screen Saver.  Please download the latest versions of both packages.",
              ControlText(page, 1110));
    SetAnalyzerVersion(0, 0);

    // The check boxes reach the display saved on OK.
    DWORD wantAutoRun = !ButtonChecked(page, 1043), wantShowInfo = !ButtonChecked(page, 1039);
    ClickButton(page, 1043);
    ClickButton(page, 1039);
    Finish(PSBTN_OK);
    DWORD autoRun = 0, showInfo = 0;
    char path[KEY_PATH_SIZE];
    ASSERT_TRUE(DisplayKeyPath("Scratch", path, sizeof(path)));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key));
    DWORD size = sizeof(autoRun);
    RegQueryValueExA(key, "AutoRun", NULL, NULL, (BYTE*)&autoRun, &size);
    size = sizeof(showInfo);
    RegQueryValueExA(key, "ShowInfo", NULL, NULL, (BYTE*)&showInfo, &size);
    RegCloseKey(key);
    EXPECT_EQ(wantAutoRun, autoRun);
    EXPECT_EQ(wantShowInfo, showInfo);
}

TEST_F(PagesTest, LaunchRunsTheRegisteredCommand)
{
    std::string marker = OutputPath("analyzer_launched.txt");
    DeleteFileA(marker.c_str());
    std::string command = "cmd.exe /c echo launched> \"" + marker + "\"";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Sonalyx", 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &key, NULL));
    RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)command.c_str(), (DWORD)command.size() + 1);
    RegCloseKey(key);
    ASSERT_TRUE(Open());
    HWND page = SelectSheetPage(process.sheet, PAGE_SOUND);
    ClickButton(page, 1109);
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    for (int i = 0; i < 600 && attributes == INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(100);
        attributes = GetFileAttributesA(marker.c_str());
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "the analyzer command did not run";
    Finish(PSBTN_CANCEL);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Sonalyx");
}

// CTRL as the sheet's thread sees it when it handles the next message: the
// test shares the sheet thread's input state and sets the key there.
void HoldControl(HWND sheet, int down)
{
    DWORD sheetThread = GetWindowThreadProcessId(sheet, NULL);
    AttachThreadInput(GetCurrentThreadId(), sheetThread, TRUE);
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    keys[VK_LCONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
    if (!down)
        AttachThreadInput(GetCurrentThreadId(), sheetThread, FALSE);
}

TEST_F(PagesTest, PaletteRowsCtrlCustomAndSharedCycleRate)
{
    ASSERT_TRUE(Open());
    HWND page = SelectSheetPage(process.sheet, PAGE_PALETTE);
    ASSERT_TRUE(page);
    // Brightness on green: with CTRL all three channels, without only green.
    ClickButton(page, 1304);
    HoldControl(process.sheet, 1);
    MoveTrackbar(page, ROW_VALUE_SLIDER + 0, 40);
    HoldControl(process.sheet, 0);
    MoveTrackbar(page, ROW_VALUE_SLIDER + 0, 60);
    EXPECT_EQ("60", ControlText(page, ROW_VALUE_BOX + 0));

    // Cycle Rate: red 20, green 30, blue 50 (blue is the one stored).
    const int rates[3] = {20, 30, 50};
    for (int ch = 0; ch < 3; ++ch) {
        ClickButton(page, 1303 + ch);
        MoveTrackbar(page, ROW_VALUE_SLIDER + 5, rates[ch]);
    }
    // Custom on the red channel only.
    ClickButton(page, 1303);
    EXPECT_EQ("20", ControlText(page, ROW_VALUE_BOX + 5));
    ClickButton(page, 1071);
    EXPECT_TRUE(ButtonChecked(page, 1071));
    ClickButton(page, 1305);
    EXPECT_FALSE(ButtonChecked(page, 1071));
    // Blue's brightness typed and confirmed with Enter: the box keeps the focus.
    SetControlText(page, ROW_VALUE_BOX + 0, "70", 0);
    PressEnter(page, ROW_VALUE_BOX + 0);
    Finish(-1);

    DWORD red = 0, green = 0, blue = 0, cycle = 0, effect = 0;
    ASSERT_TRUE(ReadPaletteValue("Scratch", "RedScale", &red));
    ASSERT_TRUE(ReadPaletteValue("Scratch", "GreenScale", &green));
    ASSERT_TRUE(ReadPaletteValue("Scratch", "BlueScale", &blue));
    EXPECT_EQ(40u, red);
    EXPECT_EQ(60u, green);
    EXPECT_EQ(70u, blue);
    ASSERT_TRUE(ReadPaletteValue("Scratch", "CycleRate", &cycle));
    EXPECT_EQ(50u, cycle);
    ASSERT_TRUE(ReadPaletteValue("Scratch", "RedEffect", &effect));
    EXPECT_EQ(6u, effect);
    char path[KEY_PATH_SIZE];
    snprintf(path, sizeof(path), SAVED_KEY "\\Scratch\\Palette");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key));
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Custom", NULL, NULL, NULL, &size));
    RegCloseKey(key);
    EXPECT_EQ(708u, size);

    // Loaded again, every channel's Cycle Rate holds blue's value.
    ASSERT_TRUE(Open());
    page = SelectSheetPage(process.sheet, PAGE_PALETTE);
    for (int ch = 0; ch < 3; ++ch) {
        ClickButton(page, 1303 + ch);
        EXPECT_EQ("50", ControlText(page, ROW_VALUE_BOX + 5)) << "channel " << ch;
    }
    Finish(PSBTN_CANCEL);
}

TEST_F(PagesTest, CustomGridSelectsByDragAndOperationsReachTheSavedPalette)
{
    ASSERT_TRUE(Open());
    HWND page = SelectSheetPage(process.sheet, PAGE_CUSTOM);
    ASSERT_TRUE(page);
    HWND grid = PageControl(page, 1018);
    ASSERT_TRUE(grid);
    RECT client;
    GetClientRect(grid, &client);
    // The pointer away from the grid, so that no real mouse move lands in
    // the drags sent below.
    SetCursorPos(0, 0);
    // Drag from entry 16 to entry 19 (row 1, columns 0 to 3).
    auto centre = [&](int entry) {
        int w = (client.right - 5) / 16, h = (client.bottom - 5) / 15;
        return MAKELPARAM(2 + (entry % 16) * w + w / 2, 2 + (entry / 16) * h + h / 2);
    };
    SendMessageA(grid, WM_LBUTTONDOWN, MK_LBUTTON, centre(16));
    SendMessageA(grid, WM_MOUSEMOVE, MK_LBUTTON, centre(19));
    SendMessageA(grid, WM_LBUTTONUP, 0, centre(19));
    EXPECT_TRUE(IsWindowEnabled(PageControl(page, 1008))) << "Reverse needs more than one entry";
    EXPECT_EQ(128, TrackbarPosition(page, 1000));
    // Sliders on a run scale it; mask green first.
    ClickButton(page, 1002);
    EXPECT_FALSE(IsWindowEnabled(PageControl(page, 1003)));
    ClickButton(page, 1007);   // negative
    // One entry: the sliders show its colour and set it.
    SendMessageA(grid, WM_LBUTTONDOWN, MK_LBUTTON, centre(5));
    SendMessageA(grid, WM_LBUTTONUP, 0, centre(5));
    EXPECT_FALSE(IsWindowEnabled(PageControl(page, 1008)));
    MoveTrackbar(page, 1000, 201);
    SendMessageA(page, WM_HSCROLL, TB_ENDTRACK, (LPARAM)PageControl(page, 1000));
    EXPECT_EQ(201, TrackbarPosition(page, 1000));
    SaveSheetShot(process.sheet, "page_custom_edited.bmp");

    // The Custom effect stores the table; entry 5's red is 201.
    HWND palette = SelectSheetPage(process.sheet, PAGE_PALETTE);
    ClickButton(palette, 1303);
    ClickButton(palette, 1071);
    Finish(PSBTN_OK);
    char path[KEY_PATH_SIZE];
    snprintf(path, sizeof(path), SAVED_KEY "\\Scratch\\Palette");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key));
    BYTE custom[708];
    DWORD size = sizeof(custom);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Custom", NULL, NULL, custom, &size));
    RegCloseKey(key);
    EXPECT_EQ(201, custom[5 * 3]);
}

TEST_F(PagesTest, DisplayPageStoresTestsAndRestoresTheMode)
{
    ASSERT_TRUE(Open());
    HWND page = SelectSheetPage(process.sheet, PAGE_DISPLAY);
    ASSERT_TRUE(page);
    EXPECT_EQ("Default", ControlText(page, 1040));
    EXPECT_NE(std::string::npos, ControlText(page, 1039).find(" colors at "));
    HWND list = PageControl(page, 1043);
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (count == 0) {
        // No DirectDraw mode switching here: nothing can be stored.
        EXPECT_FALSE(IsWindowEnabled(PageControl(page, 1106)));
        EXPECT_FALSE(IsWindowEnabled(PageControl(page, 2)));
        EXPECT_NE(std::string::npos, ControlText(page, 1321).find("microsoft.com"));
        Finish(PSBTN_CANCEL);
        return;
    }
    // Set writes the selected item's record at once; Cancel keeps it.
    SendMessageA(list, LB_SETCURSEL, count - 1, 0);
    ClickButton(page, 1106);
    std::string stored = StoredMode();
    ASSERT_EQ((size_t)DISPLAY_MODE_SIZE, stored.size());
    DEVMODEA mode;
    memset(&mode, 0, sizeof(mode));
    memcpy(&mode, stored.data(), DISPLAY_MODE_SIZE);
    EXPECT_EQ((WORD)DISPLAY_MODE_SIZE, mode.dmSize);
    char itemText[MODE_TEXT_SIZE] = "";
    FormatModeText(itemText, &mode);
    EXPECT_EQ(std::string(itemText), ControlText(page, 1040));
    Finish(PSBTN_CANCEL);
    EXPECT_EQ(stored, StoredMode()) << "Cancel keeps the stored mode";

    // Test Video Mode stores the mode for the test run only.
    ASSERT_TRUE(Open());
    page = SelectSheetPage(process.sheet, PAGE_DISPLAY);
    EXPECT_EQ(std::string(itemText), ControlText(page, 1040));
    ClickButton(page, 1107);
    EXPECT_EQ("Default", ControlText(page, 1040));
    EXPECT_EQ("", StoredMode());
    list = PageControl(page, 1043);
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    ClickButton(page, 2);
    EXPECT_EQ((size_t)DISPLAY_MODE_SIZE, StoredMode().size()) << "the test runs in the selected mode";
    // The sheet comes back to the front when the test saver has ended.
    Sleep(3000);
    EndTestSavers();
    SendMessageA(process.sheet, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ("", StoredMode()) << "absent before the test, absent after it";
    Finish(PSBTN_CANCEL);
}

TEST_F(PagesTest, ScreenshotsAtTwoResolutions)
{
    const DWORD dpis[2] = {96, 144};
    for (DWORD dpi : dpis) {
        SetLogPixels(dpi);
        ASSERT_TRUE(Open());
        struct {
            int page;
            const char* name;
        } shots[] = {{PAGE_SOUND, "page_sound"},
                     {PAGE_PALETTE, "page_palette"},
                     {PAGE_CUSTOM, "page_custom"},
                     {PAGE_DISPLAY, "page_display"}};
        for (const auto& shot : shots) {
            HWND page = SelectSheetPage(process.sheet, shot.page);
            ASSERT_TRUE(page);
            char name[64];
            snprintf(name, sizeof(name), "%s_%lu.bmp", shot.name, (unsigned long)dpi);
            EXPECT_TRUE(SaveSheetShot(process.sheet, name));
        }
        Finish(PSBTN_CANCEL);
    }
}

}  // namespace
