// The settings store in the real Vivra.scr under Wine and Xvfb: captures from
// the keyboard, and the test run of a .VIV file given on the command line.
#include <gtest/gtest.h>
#include "settings/registry.h"
#include "settings/vivfile.h"
#include "runtime/framework.h"
#include "graphics/palette.h"
#include "support/harness.h"
#include <stdlib.h>
#include <string.h>
#include <map>
#include <string>
#include <vector>

namespace {

typedef std::map<std::string, std::vector<BYTE>> Values;

// Every value below a key by relative path and name (type in front of the data).
void ReadValues(HKEY key, const std::string& relative, Values* values)
{
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[2048];
        DWORD nameLength = sizeof(name);
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, NULL, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> item(size + 1);
        item[0] = (BYTE)type;
        memcpy(item.data() + 1, data, size);
        (*values)[relative + "|" + name] = item;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY sub;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        ReadValues(sub, relative + "\\" + name, values);
        RegCloseKey(sub);
    }
}

std::string DisplayPath(const std::string& name)
{
    return std::string(SAVED_KEY) + "\\" + name;
}

Values DisplayValues(const std::string& name)
{
    Values values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DisplayPath(name).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ReadValues(key, "", &values);
        RegCloseKey(key);
    }
    return values;
}

std::string ActiveName(void)
{
    char text[260];
    ReadSaverValue("Active", REG_SZ, text, sizeof(text));
    return text;
}

int WaitForKey(const std::string& path, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (KeyExists(path.c_str()))
            return 1;
        Sleep(20);
    }
    return 0;
}

int StoredInt(const std::string& path, const char* name)
{
    HKEY key;
    int value = -99999;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 4;
    RegQueryValueExA(key, name, NULL, NULL, (BYTE*)&value, &size);
    RegCloseKey(key);
    return value;
}

const SaverSettings initialSettings = {{0}, 64, 1, 1, 0, 0, 0, 1, 1, 0, {0}};

class StoreRun : public ::testing::Test {
protected:
    SaverProcess saver;
    PaletteState* palette = 0;

    void SetUp() override
    {
        memset(&saver, 0, sizeof(saver));
        RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
        BuildValueNames();
        memset(moduleTable, 0, sizeof(moduleTable));
        for (int module = 0; module < MODULE_COUNT; ++module)
            moduleTable[module].name = moduleNames[module];
        for (int row = 0; row < controlCount; ++row) {
            const ControlDefinition* c = &controlTable[row];
            DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
        }
        saverSettings = initialSettings;
        palette = (PaletteState*)calloc(1, sizeof(PaletteState));
        ResetPalette(palette);
        currentPalette = palette;
    }
    void TearDown() override
    {
        KillSaver(&saver);
        currentPalette = 0;
        free(palette);
    }

    // Stores a display of the given modules under `name`, which becomes active.
    void SaveModules(const char* name, std::vector<int> modules)
    {
        memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
        for (int module : modules)
            saverSettings.moduleActive[module] = 1;
        ASSERT_TRUE(SaveDisplay(name));
    }

    void Close(void)
    {
        PostMessageA(saver.window, WM_KEYDOWN, 'Q', 0);
        EXPECT_TRUE(WaitSaverExit(&saver, 10000)) << "the saver did not close";
    }
};

TEST_F(StoreRun, CaptureKeysStoreNumberedDisplays)
{
    // A running display with an oscillating control, which the captures
    // store as a fixed value.
    moduleTable[MODULE_POLYGON].source[2] = 2;
    SaveModules("Running", {MODULE_POLYGON, MODULE_STAIN});
    ASSERT_TRUE(StartSaver("/s", &saver, 20000));
    ASSERT_NE(saver.window, nullptr) << "no saver window appeared";
    long frames = WaitFrames(saver.window, 3, 20000);
    ASSERT_GE(frames, 3) << "the frame loop did not start";

    const char* expected[] = {"Capture #1", "Capture #2"};
    for (const char* name : expected) {
        PostMessageA(saver.window, WM_KEYDOWN, VK_F1, 0);
        ASSERT_TRUE(WaitForKey(DisplayPath(name), 10000)) << name << " was not stored";
        frames = WaitFrames(saver.window, SaverFrameCounter(saver.window) + 2, 10000);
        EXPECT_EQ(ActiveName(), name);
    }
    // The live colours: every channel custom, with the colours on screen.
    PostMessageA(saver.window, WM_KEYDOWN, VK_F3, 0);
    ASSERT_TRUE(WaitForKey(DisplayPath("Capture #3"), 10000));
    WaitFrames(saver.window, SaverFrameCounter(saver.window) + 2, 10000);
    EXPECT_FALSE(WaitSaverExit(&saver, 200)) << "a capture key closed the saver";
    Close();

    for (const char* name : {"Capture #1", "Capture #2", "Capture #3"}) {
        std::string path = DisplayPath(name);
        EXPECT_TRUE(KeyExists((path + "\\Modules\\Polygon").c_str())) << name;
        EXPECT_TRUE(KeyExists((path + "\\Modules\\Stain").c_str())) << name;
        EXPECT_EQ(StoredInt(path + "\\Modules\\Polygon", "Check2"), 0) << name;
    }
    EXPECT_FALSE(KeyExists(DisplayPath("Capture #4").c_str()));
    Values third = DisplayValues("Capture #3");
    EXPECT_EQ(StoredInt(DisplayPath("Capture #3") + "\\Palette", "RedEffect"), EFFECT_CUSTOM);
    EXPECT_EQ(StoredInt(DisplayPath("Capture #3") + "\\Palette", "BlueEffect"), EFFECT_CUSTOM);
    ASSERT_EQ(third.count("\\Palette|Custom"), 1u);
    EXPECT_EQ(third["\\Palette|Custom"].size(), 1u + 708u);
    EXPECT_EQ(DisplayValues("Capture #1").count("\\Palette|Custom"), 0u);
    // The display the captures came from is untouched.
    EXPECT_EQ(StoredInt(DisplayPath("Running") + "\\Modules\\Polygon", "Check2"), 2);
    EXPECT_EQ(ActiveName(), "Capture #3");
}

TEST_F(StoreRun, TestRunOfAFileLeavesNothingBehind)
{
    SaveModules("From File", {MODULE_STAR, MODULE_PLASMA});
    std::string file = OutputPath("testrun.viv");
    ASSERT_EQ(WriteDisplayFile("From File", file.c_str()), 1);
    Values fromFile = DisplayValues("From File");
    ASSERT_TRUE(DeleteDisplay("From File"));
    SaveModules("Mine", {MODULE_BEZIER});
    ASSERT_EQ(ActiveName(), "Mine");

    ASSERT_TRUE(StartSaver(("/S " + file).c_str(), &saver, 20000));
    ASSERT_NE(saver.window, nullptr);
    ASSERT_GE(WaitFrames(saver.window, 3, 20000), 3);
    // While it runs, the file is the active display.
    EXPECT_EQ(ActiveName(), TEST_DISPLAY);
    EXPECT_EQ(DisplayValues(TEST_DISPLAY), fromFile);
    Close();

    EXPECT_FALSE(KeyExists(DisplayPath(TEST_DISPLAY).c_str()));
    EXPECT_EQ(ActiveName(), "Mine");
    EXPECT_TRUE(KeyExists((DisplayPath("Mine") + "\\Modules\\Bezier").c_str()));

    // A run ended while it removes the test display has put "Mine" back.
    KillSaver(&saver);
    ASSERT_TRUE(StartSaver(("/S " + file).c_str(), &saver, 20000));
    ASSERT_NE(saver.window, nullptr);
    ASSERT_GE(WaitFrames(saver.window, 3, 20000), 3);
    KillWatch watch;
    ASSERT_TRUE(StartKillWatch(&watch, saver.info.hProcess, DisplayPath(TEST_DISPLAY).c_str()));
    PostMessageA(saver.window, WM_KEYDOWN, 'Q', 0);
    EXPECT_TRUE(EndKillWatch(&watch, 20000)) << "the saver was not ended while it removed the test display";
    EXPECT_EQ(ActiveName(), "Mine");
}

TEST_F(StoreRun, OverlappingTestRunsPutTheUsersDisplayBack)
{
    std::string first = OutputPath("overlap-first.viv");
    std::string second = OutputPath("overlap-second.viv");
    SaveModules("File", {MODULE_STAR});
    ASSERT_EQ(WriteDisplayFile("File", first.c_str()), 1);
    SaveModules("File", {MODULE_PLASMA});
    ASSERT_EQ(WriteDisplayFile("File", second.c_str()), 1);
    ASSERT_TRUE(DeleteDisplay("File"));
    SaveModules("Mine", {MODULE_BEZIER});

    ASSERT_TRUE(StartSaver(("/S " + first).c_str(), &saver, 20000));
    ASSERT_NE(saver.window, nullptr);
    ASSERT_GE(WaitFrames(saver.window, 3, 20000), 3);
    SaverProcess later;
    ASSERT_TRUE(StartSaver(("/S " + second).c_str(), &later, 20000));
    EXPECT_NE(later.window, nullptr);
    EXPECT_GE(WaitFrames(later.window, 3, 20000), 3);
    EXPECT_EQ(ActiveName(), TEST_DISPLAY);

    // The first run ends first and puts "Mine" back; the later one must not
    // put its test display in its place.
    Close();
    EXPECT_EQ(ActiveName(), "Mine");
    PostMessageA(later.window, WM_KEYDOWN, 'Q', 0);
    EXPECT_TRUE(WaitSaverExit(&later, 10000));
    KillSaver(&later);
    EXPECT_EQ(ActiveName(), "Mine");
    EXPECT_FALSE(KeyExists(DisplayPath(TEST_DISPLAY).c_str()));
    EXPECT_TRUE(KeyExists((DisplayPath("Mine") + "\\Modules\\Bezier").c_str()));
}

TEST_F(StoreRun, DamagedFileRunsTheUsersOwnDisplay)
{
    SaveModules("Source", {MODULE_STAR});
    std::string file = OutputPath("damaged-run.viv");
    ASSERT_EQ(WriteDisplayFile("Source", file.c_str()), 1);
    // Cut the last record short.
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD size = GetFileSize(handle, NULL);
    SetFilePointer(handle, (LONG)size - 3, NULL, FILE_BEGIN);
    SetEndOfFile(handle);
    CloseHandle(handle);
    SaveModules("Mine", {MODULE_BEZIER});
    Values mine = DisplayValues("Mine");

    ASSERT_TRUE(StartSaver(("/S " + file).c_str(), &saver, 20000));
    ASSERT_NE(saver.window, nullptr);
    ASSERT_GE(WaitFrames(saver.window, 3, 20000), 3);
    EXPECT_EQ(ActiveName(), "Mine");
    EXPECT_FALSE(KeyExists(DisplayPath(TEST_DISPLAY).c_str()));
    Close();
    EXPECT_EQ(ActiveName(), "Mine");
    EXPECT_EQ(DisplayValues("Mine"), mine);
}

}  // namespace
