// The settings store against the real registry of the test prefix: first
// start, loading, saving, captures, the display list and the small helpers.
#include <gtest/gtest.h>
#include "settings/registry.h"
#include "runtime/framework.h"
#include "runtime/common.h"
#include "runtime/soundlink.h"
#include "graphics/palette.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char* const defaultModules[9] = {"Bezier", "Cyclic", "Pattern", "Plasma", "Polygon",
                                       "Sphere", "Stain", "Star", "Vortex"};

std::string DisplayPath(const std::string& name)
{
    return std::string(SAVED_KEY) + "\\" + name;
}

// Reads a value of any type; false when it is missing.
bool ReadValue(const std::string& path, const char* name, DWORD* type, std::vector<BYTE>* data)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name, NULL, type, NULL, &size);
    if (result == ERROR_SUCCESS) {
        data->assign(size, 0);
        result = RegQueryValueExA(key, name, NULL, type, data->empty() ? NULL : data->data(), &size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// A stored 4-byte REG_BINARY integer, or `missing`.
int StoredInt(const std::string& path, const char* name, int missing = -99999)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(path, name, &type, &data))
        return missing;
    EXPECT_EQ(type, (DWORD)REG_BINARY) << path << " " << name;
    EXPECT_EQ(data.size(), 4u) << path << " " << name;
    int value = 0;
    memcpy(&value, data.data(), data.size() < 4 ? data.size() : 4);
    return value;
}

std::string StoredText(const std::string& path, const char* name)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(path, name, &type, &data) || data.empty())
        return "";
    data.push_back(0);
    return std::string((const char*)data.data());
}

void PutInt(const std::string& path, const char* name, int value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_BINARY, (const BYTE*)&value, 4);
    RegCloseKey(key);
}

int CountValues(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD values = 0;
    RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    return (int)values;
}

bool HasModule(const std::string& display, const char* module)
{
    return KeyExists((DisplayPath(display) + "\\Modules\\" + module).c_str()) != 0;
}

int ModuleKeyCount(const std::string& display)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (DisplayPath(display) + "\\Modules").c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return 0;
    DWORD keys = 0;
    RegQueryInfoKeyA(key, NULL, NULL, NULL, &keys, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    return (int)keys;
}

std::string ActiveName(void)
{
    return StoredText(SAVER_KEY, "Active");
}

const SaverSettings initialSettings = {{0}, 64, 1, 1, 0, 0, 0, 1, 1, 0, {0}};

class Store : public ::testing::Test {
protected:
    PaletteState* palette = 0;
    PaletteState* reference = 0;
    SoundShare share;

    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
        ASSERT_FALSE(KeyExists(SAVER_KEY));
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
        reference = (PaletteState*)calloc(1, sizeof(PaletteState));
        ResetPalette(palette);
        ResetPalette(reference);
        currentPalette = palette;
        memset(&share, 0, sizeof(share));
        sound = 0;
        sheetOpen = 0;
    }
    void TearDown() override
    {
        currentPalette = 0;
        sound = 0;
        sheetOpen = 0;
        free(palette);
        free(reference);
    }

    // The saver key must exist for saver-value writes.
    void MakeSaverKey(void)
    {
        HKEY key;
        RegCreateKeyExA(HKEY_CURRENT_USER, SAVED_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        RegCloseKey(key);
    }

    void OnlyActive(int a, int b = -1)
    {
        memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
        saverSettings.moduleActive[a] = 1;
        if (b >= 0)
            saverSettings.moduleActive[b] = 1;
    }
};

// --- First start ------------------------------------------------------------------

TEST_F(Store, EmptyRegistryCreatesDefaultsAndRunsRandomAlone)
{
    memset(moduleTable, 0, sizeof(moduleTable));
    InitModules();

    for (int module = 0; module < 9; ++module) {
        std::string name = std::string("[D] ") + defaultModules[module];
        ASSERT_TRUE(KeyExists(DisplayPath(name).c_str())) << name;
        EXPECT_EQ(ModuleKeyCount(name), 1) << name;
        EXPECT_TRUE(HasModule(name, defaultModules[module])) << name;
        int effect = module == MODULE_STAR ? 0 : 5;
        for (const char* channel : {"RedEffect", "GreenEffect", "BlueEffect"})
            EXPECT_EQ(StoredInt(DisplayPath(name) + "\\Palette", channel), effect) << name;
        EXPECT_EQ(StoredInt(DisplayPath(name), "Priority"), 64);
        // The module's own defaults, e.g. the Bezier count and Vortex spasticity.
        if (module == MODULE_VORTEX) {
            EXPECT_EQ(StoredInt(DisplayPath(name) + "\\Modules\\Vortex", "Control1"), 300);
        }
    }
    ASSERT_TRUE(KeyExists(DisplayPath(RANDOM_DISPLAY).c_str()));
    EXPECT_EQ(ModuleKeyCount(RANDOM_DISPLAY), 1);
    EXPECT_TRUE(HasModule(RANDOM_DISPLAY, "Random"));
    EXPECT_EQ(StoredInt(DisplayPath(RANDOM_DISPLAY), "ShowInfo"), 1);
    EXPECT_EQ(ActiveName(), RANDOM_DISPLAY);

    for (int module = 0; module < MODULE_COUNT; ++module)
        EXPECT_EQ(saverSettings.moduleActive[module], module == MODULE_RANDOM) << moduleNames[module];
    EXPECT_STREQ(saverSettings.displayName, RANDOM_DISPLAY);

    // A later start leaves existing defaults alone.
    PutInt(DisplayPath("[D] Bezier") + "\\Modules\\Bezier", "Control0", 7);
    InitModules();
    EXPECT_EQ(StoredInt(DisplayPath("[D] Bezier") + "\\Modules\\Bezier", "Control0"), 7);
}

TEST_F(Store, BadActiveIsRepaired)
{
    InitModules();
    // No such display, then a display that holds no module.
    for (const char* bad : {"No Such Display", "Globals Only", ""}) {
        if (strcmp(bad, "Globals Only") == 0)
            PutInt(DisplayPath(bad), "Priority", 128);
        ASSERT_TRUE(WriteSaverValue("Active", REG_SZ, bad, (DWORD)strlen(bad) + 1));
        saverSettings.moduleActive[MODULE_BEZIER] = 1;
        InitModules();
        EXPECT_EQ(ActiveName(), RANDOM_DISPLAY) << bad;
        for (int module = 0; module < MODULE_COUNT; ++module)
            EXPECT_EQ(saverSettings.moduleActive[module], module == MODULE_RANDOM) << bad;
    }
}

TEST_F(Store, StartLoadsTheActiveDisplay)
{
    InitModules();
    OnlyActive(MODULE_BEZIER, MODULE_STAR);
    moduleTable[MODULE_STAR].value[0] = 42;
    ASSERT_TRUE(SaveDisplay("Two Modules"));
    EXPECT_EQ(ActiveName(), "Two Modules");
    OnlyActive(MODULE_RANDOM);
    InitModules();
    for (int module = 0; module < MODULE_COUNT; ++module)
        EXPECT_EQ(saverSettings.moduleActive[module], module == MODULE_BEZIER || module == MODULE_STAR);
    EXPECT_EQ(moduleTable[MODULE_STAR].value[0], 42);
    EXPECT_EQ(ActiveName(), "Two Modules");
}

// --- Loading ---------------------------------------------------------------------------

TEST_F(Store, MissingModuleValuesTakeTheSlotDefaults)
{
    std::string bezier = DisplayPath("Sparse") + "\\Modules\\Bezier";
    PutInt(bezier, "Control3", 150);     // Width, within 1..200
    PutInt(bezier, "RangeHi3", 120);
    PutInt(bezier, "RangeLo4", 9);       // Speed
    PutInt(bezier, "Check4", 2);
    PutInt(bezier, "Sense4", 3);
    PutInt(bezier, "Control0", 500);     // Beziers above 20: back to the default
    PutInt(bezier, "Check1", 99);        // no such source
    PutInt(bezier, "Sense1", 44);        // no such sense
    ModuleRecord* record = &moduleTable[MODULE_BEZIER];
    record->value[5] = 77;
    record->rangeLo[3] = 50;
    record->rangeHi[4] = 60;
    record->source[5] = 1;
    record->sense[5] = 2;

    EXPECT_EQ(LoadDisplay("Sparse"), 1);
    EXPECT_TRUE(saverSettings.moduleActive[MODULE_BEZIER]);
    EXPECT_EQ(record->value[3], 150);
    EXPECT_EQ(record->rangeLo[3], 1);      // missing RangeLo: the minimum
    EXPECT_EQ(record->rangeHi[3], 120);
    EXPECT_EQ(record->rangeLo[4], 9);
    EXPECT_EQ(record->rangeHi[4], 320);    // missing RangeHi: the maximum
    EXPECT_EQ(record->source[4], 2);
    EXPECT_EQ(record->sense[4], 3);
    EXPECT_EQ(record->value[5], 30);       // all missing: default, source 0, sense 10
    EXPECT_EQ(record->source[5], 0);
    EXPECT_EQ(record->sense[5], 10);
    EXPECT_EQ(record->value[0], 1);
    EXPECT_EQ(record->source[1], 0);
    EXPECT_EQ(record->sense[1], 10);
    EXPECT_EQ(record->path[0], 0);
    for (int module = 0; module < MODULE_COUNT; ++module)
        EXPECT_EQ(saverSettings.moduleActive[module], module == MODULE_BEZIER);
}

TEST_F(Store, ModulePathIsStoredAsTheWholeBuffer)
{
    OnlyActive(MODULE_BITMAP, MODULE_PLASMA);
    strcpy(moduleTable[MODULE_BITMAP].path, "C:\\Pictures\\*.bmp");
    ASSERT_TRUE(SaveDisplay("Slides"));
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(DisplayPath("Slides") + "\\Modules\\Bitmap", "Path", &type, &data));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(data.size(), (size_t)PATH_SIZE);
    EXPECT_STREQ((const char*)data.data(), "C:\\Pictures\\*.bmp");
    // An empty path is not written.
    EXPECT_FALSE(ReadValue(DisplayPath("Slides") + "\\Modules\\Plasma", "Path", &type, &data));

    strcpy(moduleTable[MODULE_BITMAP].path, "changed");
    ASSERT_EQ(LoadDisplay("Slides"), 1);
    EXPECT_STREQ(moduleTable[MODULE_BITMAP].path, "C:\\Pictures\\*.bmp");
    EXPECT_EQ(moduleTable[MODULE_PLASMA].path[0], 0);
}

TEST_F(Store, DisplayWithoutPaletteLoadsTheResetPalette)
{
    PutInt(DisplayPath("No Palette") + "\\Modules\\Star", "Control0", 30);
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        palette->value[k] = 777;
        palette->rangeLo[k] = -5;
        palette->rangeHi[k] = 999;
        palette->sense[k] = 1;
        palette->source[k] = 1;
    }
    ASSERT_EQ(LoadDisplay("No Palette"), 1);
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        EXPECT_EQ(palette->value[k], reference->value[k]) << k;
        EXPECT_EQ(palette->rangeLo[k], reference->rangeLo[k]) << k;
        EXPECT_EQ(palette->rangeHi[k], reference->rangeHi[k]) << k;
        EXPECT_EQ(palette->sense[k], reference->sense[k]) << k;
        EXPECT_EQ(palette->source[k], reference->source[k]) << k;
    }
    // The documented defaults: Brightness 100, Cycle Rate 30, Color
    // Frequency random over 1..12.
    EXPECT_EQ(palette->value[0], 100);
    EXPECT_EQ(palette->value[3 * PARAM_CYCLE_RATE + 2], 30);
    EXPECT_EQ(palette->source[3 * PARAM_COLOR_FREQUENCY + 1], 1);
    EXPECT_EQ(palette->rangeHi[3 * PARAM_COLOR_FREQUENCY + 1], 12);
}

TEST_F(Store, SharedPaletteNamesLoadIntoEveryChannel)
{
    std::string path = DisplayPath("Shared Names") + "\\Palette";
    PutInt(DisplayPath("Shared Names") + "\\Modules\\Plasma", "Control0", 10);
    PutInt(path, "CycleRate", 55);
    PutInt(path, "CycleRateSource", 0);
    PutInt(path, "RedSecondsSense", 3);
    PutInt(path, "BlueSecondsSense", 6);
    PutInt(path, "GreenIntensity", 150);
    PutInt(path, "RedEffect", 2);
    PutInt(path, "GreenEffect", 4);
    PutInt(path, "BlueEffect", 1);
    ASSERT_EQ(LoadDisplay("Shared Names"), 1);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(palette->value[3 * PARAM_CYCLE_RATE + c], 55) << c;
    EXPECT_EQ(palette->sense[3 * PARAM_DURATION + 0], 3);
    EXPECT_EQ(palette->sense[3 * PARAM_DURATION + 1], 3);
    EXPECT_EQ(palette->sense[3 * PARAM_DURATION + 2], 6);
    EXPECT_EQ(palette->value[3 * PARAM_INTENSITY + 1], 150);
    EXPECT_EQ(palette->value[3 * PARAM_INTENSITY + 0], reference->value[3 * PARAM_INTENSITY]);
    EXPECT_EQ(palette->effect[0], 2);
    EXPECT_EQ(palette->effect[1], 4);
    EXPECT_EQ(palette->effect[2], 1);
}

TEST_F(Store, PaletteValuesOutsideTheirLimitsFallBack)
{
    std::string path = DisplayPath("Wild Palette") + "\\Palette";
    PutInt(DisplayPath("Wild Palette") + "\\Modules\\Plasma", "Control0", 10);
    PutInt(path, "RedDensity", 0x7fffffff);        // Color Frequency, limit 80
    PutInt(path, "GreenDirectionRangeLo", -100000); // Direction, limits -50..50
    PutInt(path, "BlueMorphRateSource", 1000);      // no such source
    PutInt(path, "RedScaleSense", -4);
    PutInt(path, "GreenScale", 40);                 // fine as it is
    ASSERT_EQ(LoadDisplay("Wild Palette"), 1);
    int density = 3 * PARAM_COLOR_FREQUENCY;
    EXPECT_EQ(palette->value[density], reference->value[density]);
    EXPECT_EQ(palette->rangeLo[3 * PARAM_DIRECTION + 1], reference->minimum[PARAM_DIRECTION]);
    EXPECT_EQ(palette->source[3 * PARAM_MORPH_RATE + 2], reference->source[3 * PARAM_MORPH_RATE + 2]);
    EXPECT_EQ(palette->sense[0], reference->sense[0]);
    EXPECT_EQ(palette->value[1], 40);
}

TEST_F(Store, CustomPaletteLoadsWithUsedEntries)
{
    std::string path = DisplayPath("Custom Colours") + "\\Palette";
    PutInt(DisplayPath("Custom Colours") + "\\Modules\\Plasma", "Control0", 10);
    BYTE custom[708];
    for (int i = 0; i < 708; ++i)
        custom[i] = (BYTE)(i * 7);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Custom", 0, REG_BINARY, custom, sizeof(custom));
    RegCloseKey(key);
    ASSERT_EQ(LoadDisplay("Custom Colours"), 1);
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        EXPECT_EQ(palette->customPalette[i].red, custom[3 * i]);
        EXPECT_EQ(palette->customPalette[i].green, custom[3 * i + 1]);
        EXPECT_EQ(palette->customPalette[i].blue, custom[3 * i + 2]);
        EXPECT_EQ(palette->customPalette[i].used, 1);
    }
}

TEST_F(Store, EarlierPaletteLayoutIsConverted)
{
    std::string path = DisplayPath("Old Layout") + "\\Palette";
    PutInt(DisplayPath("Old Layout") + "\\Modules\\Plasma", "Control0", 10);
    PutInt(path, "Shifted", 1);
    PutInt(path, "Together", 1);
    PutInt(path, "AllEffect", 3);
    PutInt(path, "RedSource", 2);      // the old brightness source: oscillate
    PutInt(path, "RedScale", 50);
    PutInt(path, "RedScaleLo", 10);
    PutInt(path, "RedScaleHi", 90);
    PutInt(path, "RedSense", 4);
    PutInt(path, "GreenSource", 1);    // below 2: brightness left alone
    PutInt(path, "GreenScale", 70);
    PutInt(path, "RedDensitySource", 7);
    PutInt(path, "RedRampDecayRangeLo", 20);

    SeedRandom(4321);
    int expectedLow[3];
    for (int c = 0; c < 3; ++c) {
        int low = 1 + Random() % 3;
        expectedLow[c] = (Random() & 1) ? -low : low;
    }
    SeedRandom(4321);
    ASSERT_EQ(LoadDisplay("Old Layout"), 1);

    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(palette->rangeLo[3 * PARAM_DIRECTION + c], expectedLow[c]) << c;
        EXPECT_EQ(palette->source[3 * PARAM_COLOR_FREQUENCY + c], 1) << c;
        EXPECT_EQ(palette->effect[c], 3) << c;
    }
    EXPECT_EQ(palette->rangeLo[3 * PARAM_COLOR_FREQUENCY], 7);
    EXPECT_EQ(palette->rangeHi[3 * PARAM_COLOR_FREQUENCY], 11);
    // Green's Color Frequency took its reset source number (1).
    EXPECT_EQ(palette->rangeLo[3 * PARAM_COLOR_FREQUENCY + 1], reference->source[3 * PARAM_COLOR_FREQUENCY + 1]);
    EXPECT_EQ(palette->source[0], 2);
    EXPECT_EQ(palette->value[0], 50);
    EXPECT_EQ(palette->rangeLo[0], 10);
    EXPECT_EQ(palette->rangeHi[0], 90);
    EXPECT_EQ(palette->sense[0], 4);
    EXPECT_EQ(palette->source[1], reference->source[1]);
    EXPECT_EQ(palette->value[1], 70);  // "GreenScale" is also the current name of the value
    EXPECT_EQ(palette->rangeLo[3 * PARAM_RAMP_FREQUENCY], 60);
    EXPECT_EQ(palette->rangeLo[3 * PARAM_RAMP_FREQUENCY + 2], reference->rangeLo[3 * PARAM_RAMP_FREQUENCY] * 3);
}

TEST_F(Store, GlobalsLoadWithTheirMissingDefaults)
{
    std::string path = DisplayPath("Globals");
    PutInt(path + "\\Modules\\Cyclic", "Control0", 4);
    PutInt(path, "ShowName", 12);
    saverSettings.priority = 128;
    saverSettings.clearFirst = 0;
    saverSettings.showInfo = 1;
    saverSettings.autoRun = 1;
    saverSettings.slowCpu = 0;
    saverSettings.autoGain = 0;
    sound = &share;
    ASSERT_EQ(LoadDisplay("Globals"), 1);
    EXPECT_EQ(saverSettings.priority, 128);   // kept
    EXPECT_EQ(saverSettings.clearFirst, 0);   // kept
    EXPECT_EQ(saverSettings.showInfo, 0);
    EXPECT_EQ(saverSettings.showName, 12);
    EXPECT_EQ(saverSettings.autoRun, 0);
    EXPECT_EQ(share.slowCpu, 1);
    EXPECT_EQ(share.autoGain, 1);
    EXPECT_EQ(share.moduleSoundEnabled, 1);
    EXPECT_EQ(share.paletteSoundEnabled, 1);
    EXPECT_STREQ(share.displayName, "Globals");

    PutInt(path, "Priority", 32);
    PutInt(path, "ClearFirst", 1);
    PutInt(path, "SlowCPU", 0);
    PutInt(path, "AutoGain", 0);
    PutInt(path, "ShowInfo", 1);
    PutInt(path, "AutoRun", 1);
    ASSERT_EQ(LoadDisplay("Globals"), 1);
    EXPECT_EQ(saverSettings.priority, 32);
    EXPECT_EQ(saverSettings.clearFirst, 1);
    EXPECT_EQ(share.slowCpu, 0);
    EXPECT_EQ(share.autoGain, 0);
    EXPECT_EQ(saverSettings.showInfo, 1);
    EXPECT_EQ(saverSettings.autoRun, 1);

    // Values no page could have written fall back.
    PutInt(path, "Priority", 5);
    PutInt(path, "ShowName", 100000);
    ASSERT_EQ(LoadDisplay("Globals"), 1);
    EXPECT_EQ(saverSettings.priority, 32);
    EXPECT_EQ(saverSettings.showName, 0);

    // A missing display key leaves the globals alone.
    saverSettings.showInfo = 1;
    EXPECT_EQ(LoadDisplay("Nowhere"), 0);
    EXPECT_EQ(saverSettings.showInfo, 1);
    for (int module = 0; module < MODULE_COUNT; ++module)
        EXPECT_FALSE(saverSettings.moduleActive[module]);
}

TEST_F(Store, SpeedComesFromTheSaverKey)
{
    MakeSaverKey();
    DWORD speed = 7;
    ASSERT_TRUE(WriteSaverValue("Speed", REG_DWORD, &speed, 4));
    LoadDisplay("Anything");
    EXPECT_EQ(saverSettings.speed, 7);
    speed = 100000;   // would stall every frame for a quarter of an hour
    WriteSaverValue("Speed", REG_DWORD, &speed, 4);
    LoadDisplay("Anything");
    EXPECT_EQ(saverSettings.speed, 0);
    WriteSaverValue("Speed", REG_DWORD, NULL, 0);
    saverSettings.speed = 3;
    LoadDisplay("Anything");
    EXPECT_EQ(saverSettings.speed, 0);
}

TEST_F(Store, SoundSourcesAreReplacedUnlessTheyCanBeServed)
{
    std::string path = DisplayPath("Sound");
    PutInt(path + "\\Modules\\Bezier", "Check1", 3);    // Symmetry follows the volume
    PutInt(path + "\\Modules\\Bezier", "Check3", 2);    // Width oscillates
    PutInt(path + "\\Palette", "RedScaleSource", 8);    // a band

    // No sound record: everything oscillates.
    ASSERT_EQ(LoadDisplay("Sound"), 1);
    EXPECT_EQ(moduleTable[MODULE_BEZIER].source[1], 2);
    EXPECT_EQ(moduleTable[MODULE_BEZIER].source[3], 2);
    EXPECT_EQ(palette->source[0], 2);

    // A record without a running analyzer: the same, and the flags are clear.
    sound = &share;
    share.modulesUseSound = 1;
    share.paletteUsesSound = 1;
    ASSERT_EQ(LoadDisplay("Sound"), 1);
    EXPECT_EQ(moduleTable[MODULE_BEZIER].source[1], 2);
    EXPECT_EQ(palette->source[0], 2);
    EXPECT_EQ(share.modulesUseSound, 0);
    EXPECT_EQ(share.paletteUsesSound, 0);

    // With the analyzer running the sources stay.
    share.analyzerRunning = 1;
    ASSERT_EQ(LoadDisplay("Sound"), 1);
    EXPECT_EQ(moduleTable[MODULE_BEZIER].source[1], 3);
    EXPECT_EQ(palette->source[0], 8);
    EXPECT_EQ(share.modulesUseSound, 1);
    EXPECT_EQ(share.paletteUsesSound, 1);

    // The palette alone uses sound: both flags.
    PutInt(path + "\\Modules\\Bezier", "Check1", 0);
    ASSERT_EQ(LoadDisplay("Sound"), 1);
    EXPECT_EQ(share.modulesUseSound, 1);
    EXPECT_EQ(share.paletteUsesSound, 1);

    // The configuration sheet keeps every source, analyzer or not.
    PutInt(path + "\\Modules\\Bezier", "Check1", 21);
    share.analyzerRunning = 0;
    sheetOpen = 1;
    ASSERT_EQ(LoadDisplay("Sound"), 1);
    EXPECT_EQ(moduleTable[MODULE_BEZIER].source[1], 21);
    EXPECT_EQ(palette->source[0], 8);
}

// --- Saving ------------------------------------------------------------------------------

TEST_F(Store, SavedPaletteUsesTheSharedNames)
{
    OnlyActive(MODULE_PLASMA);
    palette->sense[3 * PARAM_DURATION + 0] = 2;
    palette->sense[3 * PARAM_DURATION + 1] = 4;
    palette->sense[3 * PARAM_DURATION + 2] = 9;
    palette->value[3 * PARAM_CYCLE_RATE + 0] = 20;
    palette->value[3 * PARAM_CYCLE_RATE + 1] = 30;
    palette->value[3 * PARAM_CYCLE_RATE + 2] = 77;
    palette->rangeHi[3 * PARAM_INTENSITY + 2] = 123;
    palette->source[3 * PARAM_DIRECTION + 1] = 5;
    for (int c = 0; c < 3; ++c)
        palette->effect[c] = c + 1;
    ASSERT_TRUE(SaveDisplay("Palette Names"));
    std::string path = DisplayPath("Palette Names") + "\\Palette";
    EXPECT_EQ(StoredInt(path, "RedSecondsSense"), 4);
    EXPECT_EQ(StoredInt(path, "BlueSecondsSense"), 9);
    EXPECT_EQ(StoredInt(path, "GreenSecondsSense"), -99999);
    EXPECT_EQ(StoredInt(path, "CycleRate"), 77);
    EXPECT_EQ(StoredInt(path, "BlueIntensityRangeHi"), 123);
    EXPECT_EQ(StoredInt(path, "GreenDirectionSource"), 5);
    EXPECT_EQ(StoredInt(path, "RedEffect"), 1);
    EXPECT_EQ(StoredInt(path, "GreenEffect"), 2);
    EXPECT_EQ(StoredInt(path, "BlueEffect"), 3);
    EXPECT_EQ(StoredInt(path, "AllEffect"), -99999);
    // 150 names less the shared ones (4 Cycle Rate sets, 1 Duration sense),
    // plus the three effects.
    EXPECT_EQ(CountValues(path), 150 - 10 - 1 + 3);
}

TEST_F(Store, CustomValueOnlyWhileAChannelUsesIt)
{
    OnlyActive(MODULE_PLASMA);
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        palette->customPalette[i].red = (BYTE)i;
        palette->customPalette[i].green = (BYTE)(255 - i);
        palette->customPalette[i].blue = (BYTE)(i / 2);
    }
    palette->effect[0] = 0;
    palette->effect[1] = EFFECT_CUSTOM;
    palette->effect[2] = 2;
    ASSERT_TRUE(SaveDisplay("Custom"));
    std::string path = DisplayPath("Custom") + "\\Palette";
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(path, "Custom", &type, &data));
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    ASSERT_EQ(data.size(), 708u);
    EXPECT_EQ(data[3 * 200], 200);
    EXPECT_EQ(data[3 * 200 + 1], 55);
    EXPECT_EQ(data[3 * 200 + 2], 100);

    palette->effect[1] = 5;
    ASSERT_TRUE(SaveDisplay("Custom"));
    EXPECT_FALSE(ReadValue(path, "Custom", &type, &data));
    // Also when only the palette is rewritten over an older key.
    palette->effect[2] = EFFECT_CUSTOM;
    ASSERT_TRUE(SavePalette(palette, "Custom"));
    EXPECT_TRUE(ReadValue(path, "Custom", &type, &data));
    palette->effect[2] = 1;
    ASSERT_TRUE(SavePalette(palette, "Custom"));
    EXPECT_FALSE(ReadValue(path, "Custom", &type, &data));
}

TEST_F(Store, SaveReplacesTheWholeDisplay)
{
    OnlyActive(MODULE_BEZIER, MODULE_STAR);
    saverSettings.speed = 4;
    ASSERT_TRUE(SaveDisplay("Replace Me"));
    EXPECT_TRUE(HasModule("Replace Me", "Star"));
    PutInt(DisplayPath("Replace Me") + "\\Extra", "Stray", 1);
    OnlyActive(MODULE_BEZIER);
    ASSERT_TRUE(SaveDisplay("Replace Me"));
    EXPECT_TRUE(HasModule("Replace Me", "Bezier"));
    EXPECT_FALSE(HasModule("Replace Me", "Star"));
    EXPECT_FALSE(KeyExists((DisplayPath("Replace Me") + "\\Extra").c_str()));
    EXPECT_EQ(ActiveName(), "Replace Me");
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(SAVER_KEY, "Speed", &type, &data));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(*(DWORD*)data.data(), 4u);
    // Every defined slot has its five values and nothing else is stored.
    int defined = 0;
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        defined += moduleTable[MODULE_BEZIER].defined[slot];
    EXPECT_EQ(CountValues(DisplayPath("Replace Me") + "\\Modules\\Bezier"), 5 * defined);
    EXPECT_EQ(CountValues(DisplayPath("Replace Me")), 7);
    EXPECT_EQ(StoredInt(DisplayPath("Replace Me") + "\\Modules\\Bezier", "Sense9"), 10);
    EXPECT_EQ(StoredInt(DisplayPath("Replace Me") + "\\Modules\\Bezier", "Control19"), -99999);
}

TEST_F(Store, SavedDisplayLoadsBackValueForValue)
{
    SeedRandom(99);
    OnlyActive(MODULE_CYCLIC, MODULE_RAY);
    saverSettings.moduleActive[MODULE_BITMAP] = 1;
    strcpy(moduleTable[MODULE_BITMAP].path, "D:\\slides\\*.rle");
    for (int module = 0; module < MODULE_COUNT; ++module) {
        ModuleRecord* record = &moduleTable[module];
        for (int slot = 0; slot < SLOT_COUNT; ++slot) {
            if (!record->defined[slot])
                continue;
            int span = record->maximum[slot] - record->minimum[slot] + 1;
            record->value[slot] = record->minimum[slot] + Random() % span;
            record->rangeLo[slot] = record->minimum[slot] + Random() % span;
            record->rangeHi[slot] = record->minimum[slot] + Random() % span;
            record->source[slot] = Random() % 3;
            record->sense[slot] = Random() % 11;
        }
    }
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        int p = k / 3;
        int span = reference->maximum[p] - reference->minimum[p] + 1;
        palette->value[k] = reference->minimum[p] + Random() % span;
        palette->rangeLo[k] = reference->minimum[p] + Random() % span;
        palette->rangeHi[k] = reference->minimum[p] + Random() % span;
        palette->source[k] = Random() % 3;
        palette->sense[k] = Random() % 11;
    }
    // The names shared by channels can only hold one value.
    for (int c = 0; c < 3; ++c) {
        int k = 3 * PARAM_CYCLE_RATE + c;
        palette->value[k] = palette->value[k - c];
        palette->rangeLo[k] = palette->rangeLo[k - c];
        palette->rangeHi[k] = palette->rangeHi[k - c];
        palette->sense[k] = palette->sense[k - c];
        palette->source[k] = palette->source[k - c];
    }
    palette->sense[3 * PARAM_DURATION + 1] = palette->sense[3 * PARAM_DURATION];
    for (int c = 0; c < 3; ++c)
        palette->effect[c] = 4 + c;
    saverSettings.priority = 128;
    saverSettings.clearFirst = 0;
    saverSettings.showInfo = 1;
    saverSettings.showName = 33;
    saverSettings.autoRun = 1;
    saverSettings.slowCpu = 0;
    saverSettings.autoGain = 0;
    saverSettings.speed = 6;
    ASSERT_TRUE(SaveDisplay("Everything"));

    ModuleRecord savedModules[MODULE_COUNT];
    memcpy(savedModules, moduleTable, sizeof(moduleTable));
    PaletteState* saved = (PaletteState*)malloc(sizeof(PaletteState));
    memcpy(saved, palette, sizeof(PaletteState));
    SaverSettings savedSettings = saverSettings;

    for (int module = 0; module < MODULE_COUNT; ++module)
        ResetModuleControls(module);
    ResetPalette(palette);
    saverSettings = initialSettings;
    sheetOpen = 1;
    ASSERT_EQ(LoadDisplay("Everything"), 1);

    for (int module = 0; module < MODULE_COUNT; ++module) {
        EXPECT_EQ(saverSettings.moduleActive[module], savedSettings.moduleActive[module]) << module;
        if (!saverSettings.moduleActive[module])
            continue;
        const ModuleRecord* a = &moduleTable[module];
        const ModuleRecord* b = &savedModules[module];
        EXPECT_STREQ(a->path, b->path);
        for (int slot = 0; slot < SLOT_COUNT; ++slot) {
            if (!a->defined[slot])
                continue;
            EXPECT_EQ(a->value[slot], b->value[slot]) << module << "/" << slot;
            EXPECT_EQ(a->rangeLo[slot], b->rangeLo[slot]) << module << "/" << slot;
            EXPECT_EQ(a->rangeHi[slot], b->rangeHi[slot]) << module << "/" << slot;
            EXPECT_EQ(a->source[slot], b->source[slot]) << module << "/" << slot;
            EXPECT_EQ(a->sense[slot], b->sense[slot]) << module << "/" << slot;
        }
    }
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        EXPECT_EQ(palette->value[k], saved->value[k]) << k;
        EXPECT_EQ(palette->rangeLo[k], saved->rangeLo[k]) << k;
        EXPECT_EQ(palette->rangeHi[k], saved->rangeHi[k]) << k;
        EXPECT_EQ(palette->source[k], saved->source[k]) << k;
        EXPECT_EQ(palette->sense[k], saved->sense[k]) << k;
    }
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(palette->effect[c], 4 + c);
    EXPECT_EQ(saverSettings.priority, 128);
    EXPECT_EQ(saverSettings.clearFirst, 0);
    EXPECT_EQ(saverSettings.showInfo, 1);
    EXPECT_EQ(saverSettings.showName, 33);
    EXPECT_EQ(saverSettings.autoRun, 1);
    EXPECT_EQ(saverSettings.slowCpu, 0);
    EXPECT_EQ(saverSettings.autoGain, 0);
    EXPECT_EQ(saverSettings.speed, 6);
    free(saved);
}

TEST_F(Store, GlobalsAreSavedFromTheSoundRecordWhenOpen)
{
    OnlyActive(MODULE_STAIN);
    saverSettings.slowCpu = 1;
    saverSettings.autoGain = 1;
    sound = &share;
    share.slowCpu = 0;
    share.autoGain = 0;
    ASSERT_TRUE(SaveDisplay("Shared Words"));
    EXPECT_EQ(StoredInt(DisplayPath("Shared Words"), "SlowCPU"), 0);
    EXPECT_EQ(StoredInt(DisplayPath("Shared Words"), "AutoGain"), 0);
    sound = 0;
    ASSERT_TRUE(SaveDisplay("Shared Words"));
    EXPECT_EQ(StoredInt(DisplayPath("Shared Words"), "SlowCPU"), 1);
    EXPECT_EQ(StoredInt(DisplayPath("Shared Words"), "AutoGain"), 1);
}

TEST_F(Store, NamesThatAreNoKeyOfTheirOwnAreRefused)
{
    OnlyActive(MODULE_BEZIER);
    ASSERT_TRUE(SaveDisplay("Keep"));
    for (const char* bad : {"", "A\\B", "..", "."}) {
        EXPECT_FALSE(SaveDisplay(bad)) << bad;
        EXPECT_FALSE(DeleteDisplay(bad)) << bad;
    }
    std::string longName(300, 'x');
    EXPECT_FALSE(SaveDisplay(longName.c_str()));
    EXPECT_FALSE(SaveDisplay(NULL));
    EXPECT_TRUE(KeyExists(DisplayPath("Keep").c_str()));
    EXPECT_FALSE(KeyExists(DisplayPath("A").c_str()));
    EXPECT_EQ(ActiveName(), "Keep");
}

TEST_F(Store, DefaultDisplayHoldsOneModuleAndAResetPalette)
{
    MakeSaverKey();
    palette->value[0] = 3;
    ASSERT_TRUE(WriteDefaultDisplay(MODULE_SPHERE, "[T]", 2));
    std::string path = DisplayPath("[T] Sphere");
    EXPECT_EQ(ModuleKeyCount("[T] Sphere"), 1);
    EXPECT_EQ(StoredInt(path + "\\Palette", "RedScale"), reference->value[0]);
    EXPECT_EQ(StoredInt(path + "\\Palette", "BlueEffect"), 2);
    EXPECT_EQ(palette->value[0], 3);   // the running palette is not touched
    EXPECT_EQ(ActiveName(), "");

    saverSettings.showInfo = 0;
    ASSERT_TRUE(WriteDefaultDisplay(-1, "Plain Random", 5));
    EXPECT_EQ(ModuleKeyCount("Plain Random"), 1);
    EXPECT_TRUE(HasModule("Plain Random", "Random"));
    EXPECT_EQ(StoredInt(DisplayPath("Plain Random"), "ShowInfo"), 1);
    EXPECT_EQ(saverSettings.moduleActive[MODULE_RANDOM], 1);
}

// --- Captures ---------------------------------------------------------------------------

TEST_F(Store, CapturesTakeTheFirstFreeNumber)
{
    MakeSaverKey();
    OnlyActive(MODULE_BEZIER, MODULE_RANDOM);
    moduleTable[MODULE_BEZIER].source[1] = 2;
    moduleTable[MODULE_BEZIER].value[1] = 17;
    moduleTable[MODULE_VORTEX].source[2] = 1;
    sound = &share;
    share.captureRequest = 1;

    EXPECT_EQ(CaptureDisplay(), 1);
    std::string first = DisplayPath("Capture #1");
    ASSERT_TRUE(KeyExists(first.c_str()));
    EXPECT_TRUE(HasModule("Capture #1", "Bezier"));
    EXPECT_FALSE(HasModule("Capture #1", "Random"));
    EXPECT_EQ(StoredInt(first + "\\Modules\\Bezier", "Check1"), 0);
    EXPECT_EQ(StoredInt(first + "\\Modules\\Bezier", "Control1"), 17);
    EXPECT_EQ(ActiveName(), "Capture #1");
    // The running settings are as before.
    EXPECT_EQ(moduleTable[MODULE_BEZIER].source[1], 2);
    EXPECT_EQ(moduleTable[MODULE_VORTEX].source[2], 1);
    EXPECT_EQ(saverSettings.moduleActive[MODULE_RANDOM], 1);
    EXPECT_EQ(share.captureRequest, 0);

    EXPECT_EQ(CaptureDisplay(), 2);
    EXPECT_TRUE(KeyExists(DisplayPath("Capture #2").c_str()));
    EXPECT_EQ(ActiveName(), "Capture #2");
    ASSERT_TRUE(DeleteDisplay("Capture #1"));
    EXPECT_EQ(CaptureDisplay(), 1);
    EXPECT_TRUE(KeyExists(first.c_str()));
    EXPECT_EQ(CaptureDisplay(), 3);
}

TEST_F(Store, LiveColourCaptureStoresThePaletteOnScreen)
{
    MakeSaverKey();
    OnlyActive(MODULE_PLASMA);
    PaletteBlock block;
    memset(&block, 0, sizeof(block));
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        block.entry[i].peRed = (BYTE)(i + 3);
        block.entry[i].peGreen = (BYTE)(i * 2);
        block.entry[i].peBlue = 200;
        palette->customPalette[i].red = 9;
    }
    palette->entries = &block;
    for (int c = 0; c < 3; ++c)
        palette->effect[c] = EFFECT_CUSTOM;
    saverSettings.captureLiveColours = 1;
    ASSERT_EQ(CaptureDisplay(), 1);
    palette->entries = 0;
    EXPECT_EQ(saverSettings.captureLiveColours, 0);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(DisplayPath("Capture #1") + "\\Palette", "Custom", &type, &data));
    ASSERT_EQ(data.size(), 708u);
    EXPECT_EQ(data[3 * 10], 13);
    EXPECT_EQ(data[3 * 10 + 1], 20);
    EXPECT_EQ(data[3 * 10 + 2], 200);
    EXPECT_EQ(StoredInt(DisplayPath("Capture #1") + "\\Palette", "GreenEffect"), EFFECT_CUSTOM);

    // A plain capture with the custom effect stores the custom palette.
    ASSERT_EQ(CaptureDisplay(), 2);
    ASSERT_TRUE(ReadValue(DisplayPath("Capture #2") + "\\Palette", "Custom", &type, &data));
    EXPECT_EQ(data[3 * 10], 9);
}

// --- Helpers --------------------------------------------------------------------------------

TEST_F(Store, SaverValuesNeedTheSaverKey)
{
    DWORD speed = 5;
    EXPECT_FALSE(WriteSaverValue("Speed", REG_DWORD, &speed, 4));
    EXPECT_FALSE(KeyExists(SAVER_KEY));
    char text[32];
    memset(text, 'x', sizeof(text));
    EXPECT_FALSE(ReadSaverValue("Slogan", REG_SZ, text, sizeof(text)));
    for (char c : text)
        EXPECT_EQ(c, 0);

    MakeSaverKey();
    EXPECT_TRUE(WriteSaverValue("Slogan", REG_SZ, "Hello", 6));
    EXPECT_TRUE(ReadSaverValue("Slogan", REG_SZ, text, sizeof(text)));
    EXPECT_STREQ(text, "Hello");
    // A value of another type is not read as this one.
    DWORD number = 0;
    EXPECT_FALSE(ReadSaverValue("Slogan", REG_DWORD, &number, 4));
    EXPECT_EQ(number, 0u);
    // Size 0 deletes.
    EXPECT_TRUE(WriteSaverValue("Slogan", REG_SZ, NULL, 0));
    EXPECT_FALSE(ReadSaverValue("Slogan", REG_SZ, text, sizeof(text)));
    // A text longer than the buffer is not cut short silently.
    std::string longText(200, 'y');
    EXPECT_TRUE(WriteSaverValue("Active", REG_SZ, longText.c_str(), (DWORD)longText.size() + 1));
    char active[128];
    EXPECT_FALSE(ReadSaverValue("Active", REG_SZ, active, sizeof(active)));
    EXPECT_EQ(active[0], 0);
}

TEST_F(Store, DeleteKeyTreeRemovesEverythingBelow)
{
    EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, ""), ERROR_BADKEY);
    EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, NULL), ERROR_BADKEY);
    EXPECT_NE(DeleteKeyTree(HKEY_CURRENT_USER, SAVER_KEY "\\Missing"), ERROR_SUCCESS);
    std::string root = std::string(SAVER_KEY) + "\\Tree";
    for (const char* sub : {"\\a\\b\\c", "\\a\\d", "\\e", "\\e\\f\\g\\h"})
        PutInt(root + sub, "v", 1);
    PutInt(root, "v", 1);
    PutInt(std::string(SAVER_KEY) + "\\Treeside", "v", 2);
    EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, root.c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(root.c_str()));
    EXPECT_TRUE(KeyExists((std::string(SAVER_KEY) + "\\Treeside").c_str()));
}

TEST_F(Store, ModuleKeyExistsAsksOneModule)
{
    PutInt(DisplayPath("Mixed") + "\\Modules\\Random", "Control0", 1);
    PutInt(DisplayPath("Mixed") + "\\Modules\\Effect", "Control0", 1);
    EXPECT_TRUE(ModuleKeyExists("Mixed", MODULE_RANDOM));
    EXPECT_TRUE(ModuleKeyExists("Mixed", MODULE_EFFECT));
    EXPECT_FALSE(ModuleKeyExists("Mixed", MODULE_BEZIER));
    EXPECT_FALSE(ModuleKeyExists("Missing", MODULE_RANDOM));
    EXPECT_FALSE(ModuleKeyExists("Mixed", 13));
    EXPECT_FALSE(ModuleKeyExists("", MODULE_RANDOM));
}

std::vector<std::string> ComboItems(HWND combo)
{
    std::vector<std::string> items;
    int count = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        char text[300] = "";
        SendMessageA(combo, CB_GETLBTEXT, i, (LPARAM)text);
        items.push_back(text);
    }
    return items;
}

std::string ComboSelection(HWND combo)
{
    int index = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (index < 0)
        return "";
    char text[300] = "";
    SendMessageA(combo, CB_GETLBTEXT, index, (LPARAM)text);
    return text;
}

TEST_F(Store, DisplayListShowsTheSavedNames)
{
    HWND combo = CreateWindowA("COMBOBOX", "", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL, 0, 0, 200, 200, NULL, NULL,
                               GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(combo);
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)"stale");
    for (const char* name : {"Zebra", "alpha", "Scratch", "Middle"})
        PutInt(DisplayPath(name), "Priority", 64);
    WriteSaverValue("Active", REG_SZ, "Middle", 7);
    EXPECT_EQ(ListDisplays(combo, 0), 4);
    std::vector<std::string> items = ComboItems(combo);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], "alpha");
    EXPECT_EQ(items[3], "Zebra");
    EXPECT_EQ(ComboSelection(combo), "Middle");
    ListDisplays(combo, 1);
    EXPECT_EQ(ComboSelection(combo), "Scratch");
    // Only the whole name selects.
    WriteSaverValue("Active", REG_SZ, "Mid", 4);
    ListDisplays(combo, 0);
    EXPECT_EQ(ComboSelection(combo), "");
    WriteSaverValue("Active", REG_SZ, "Gone", 5);
    ListDisplays(combo, 0);
    EXPECT_EQ(ComboSelection(combo), "");

    // A name longer than the list holds (left by another program) hides only
    // itself: the names after it still come.
    std::string longName = "B" + std::string(DISPLAY_NAME_LIMIT, 'n');
    PutInt(DisplayPath(longName), "Priority", 64);
    EXPECT_EQ(ListDisplays(combo, 0), 4);
    items = ComboItems(combo);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], "alpha");
    EXPECT_EQ(items[1], "Middle");
    EXPECT_EQ(items[3], "Zebra");
    DestroyWindow(combo);
}

TEST_F(Store, DisplayListStopsAtOneThousand)
{
    HKEY saved;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SAVED_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &saved, NULL),
              ERROR_SUCCESS);
    for (int i = 0; i < 1005; ++i) {
        char name[16];
        snprintf(name, sizeof(name), "D%04d", i);
        HKEY key;
        RegCreateKeyExA(saved, name, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        RegCloseKey(key);
    }
    RegCloseKey(saved);
    HWND combo = CreateWindowA("COMBOBOX", "", CBS_DROPDOWN | CBS_SORT, 0, 0, 200, 200, NULL, NULL,
                               GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(combo);
    EXPECT_EQ(ListDisplays(combo, 0), 1000);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 1000);
    DestroyWindow(combo);
}

TEST_F(Store, FileTypeAndVersionStamp)
{
    ASSERT_TRUE(RegisterFileType("C:\\Windows\\System32\\VIVRA.SCR"));
    char text[300];
    LONG size = sizeof(text);
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, ".VIV", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "Vivra");
    size = sizeof(text);
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Vivra\\shell\\open\\command", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "\"C:\\Windows\\System32\\VIVRA.SCR\" /S \"%1\"");
    size = sizeof(text);
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Vivra\\DefaultIcon", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "C:\\Windows\\System32\\VIVRA.SCR,2");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".VIV", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD length = sizeof(text);
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Content Type", NULL, &type, (BYTE*)text, &length), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_STREQ(text, "application/vivra");

    // Without a path the running program's own path is used.
    ASSERT_TRUE(RegisterFileType(NULL));
    char own[MAX_PATH];
    GetModuleFileNameA(NULL, own, sizeof(own));
    size = sizeof(text);
    RegQueryValueA(HKEY_CLASSES_ROOT, "Vivra\\DefaultIcon", text, &size);
    EXPECT_EQ(std::string(text), std::string(own) + ",2");
    size = sizeof(text);
    RegQueryValueA(HKEY_CLASSES_ROOT, "Vivra\\shell\\open\\command", text, &size);
    EXPECT_EQ(std::string(text), "\"" + std::string(own) + "\" /S \"%1\"");

    WriteVersionStamp(3, 6, 505);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, VERSION_KEY, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD value = 0;
    length = 4;
    ASSERT_EQ(RegQueryValueExA(key, "Current Version", NULL, &type, (BYTE*)&value, &length), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(value, 0x00030006u);
    length = 4;
    ASSERT_EQ(RegQueryValueExA(key, "Build", NULL, &type, (BYTE*)&value, &length), ERROR_SUCCESS);
    EXPECT_EQ(value, 505u);
    RegCloseKey(key);
}

}  // namespace
