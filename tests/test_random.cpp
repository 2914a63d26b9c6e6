// The Random module: selections from the user's modules and from saved
// displays in the real registry, the period, clearing and random controls.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "modules/random.h"
#include "runtime/common.h"
#include "runtime/soundlink.h"
#include "graphics/palette.h"
#include "settings/registry.h"
#include "support/harness.h"
#include "support/surface_support.h"
#include <set>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const char SAVED_PATH[] = "Control Panel\\Screen Saver.Vivra\\Saved";

// What the director did to the other modules, in order.
struct Event {
    int module;
    char kind;   // 'o' open, 's' start, 'c' close
};
std::vector<Event> events;

int Index(ModuleRecord* record)
{
    return (int)(record - moduleTable);
}
int RecordOpen(ModuleRecord* record)
{
    events.push_back({Index(record), 'o'});
    return 0;
}
int RecordStart(ModuleRecord* record)
{
    events.push_back({Index(record), 's'});
    return 0;
}
int RecordClose(ModuleRecord* record)
{
    events.push_back({Index(record), 'c'});
    return 0;
}
int NoFrame(ModuleRecord*)
{
    return 0;
}

std::set<int> Running(void)
{
    std::set<int> running;
    for (int module = 0; module < MODULE_COUNT; ++module)
        if (saverSettings.moduleActive[module])
            running.insert(module);
    return running;
}

class RandomModule : public ::testing::Test {
protected:
    TestSurface surface;
    ModuleRecord* record = 0;
    SaverSettings savedSettings;
    PaletteState* palette = 0;
    SoundShare share;

    void SetUp() override
    {
        ASSERT_TRUE(OpenTestSurface(&surface, 64, 48));
        savedSettings = saverSettings;
        for (int module = 0; module < MODULE_COUNT; ++module)
            saverSettings.moduleActive[module] = 0;
        palette = (PaletteState*)calloc(1, sizeof(PaletteState));
        ResetPalette(palette);
        currentPalette = palette;
        for (int module = 0; module < MODULE_COUNT; ++module) {
            moduleTable[module].palette = palette;
            RegisterModule(module, NoFrame, RecordOpen, RecordStart, RecordClose);
        }
        RegisterModule(MODULE_RANDOM, RandomFrame, DoNothingEntry, RandomStart, DoNothingEntry);
        record = &moduleTable[MODULE_RANDOM];
        memset(&share, 0, sizeof(share));
        sound = 0;
        events.clear();
        ResetRandomModule();
        UseTestClock(200000);
        SeedRandom(1234);
    }
    void TearDown() override
    {
        sound = 0;
        currentPalette = 0;
        free(palette);
        saverSettings = savedSettings;
        UseRealClock();
        CloseTestSurface(&surface);
    }

    // The user's choice as the first selection finds it.
    void Choose(std::initializer_list<int> modules)
    {
        for (int module = 0; module < MODULE_COUNT; ++module)
            saverSettings.moduleActive[module] = 0;
        for (int module : modules)
            saverSettings.moduleActive[module] = 1;
    }
    void SetControls(int mode, int maxAtOnce, int seconds, int randomControls, int clear)
    {
        record->value[0] = mode;
        record->value[1] = maxAtOnce;
        record->value[2] = seconds;
        record->value[3] = randomControls;
        record->value[4] = clear;
    }
    // Runs frames until the next selection has been made.
    void NextPeriod()
    {
        testNow += record->value[2] * 1000 + 1;
        RandomFrame(record);
    }
    // Started modules of the last selection, from the event log.
    std::set<int> StartedSince(size_t from)
    {
        std::set<int> started;
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].kind == 's')
                started.insert(events[i].module);
        return started;
    }

    void ClearSavedDisplays()
    {
        DeleteKeyTree(HKEY_CURRENT_USER, SAVED_PATH);
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, SAVED_PATH, &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // Saves a display that runs the given modules with their in-memory
    // settings.
    void Save(const char* name, std::initializer_list<int> modules)
    {
        SaverSettings keep = saverSettings;
        Choose(modules);
        ASSERT_TRUE(SaveDisplay(name)) << name;
        saverSettings = keep;
    }
    std::vector<std::string> SavedNames()
    {
        std::vector<std::string> names;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVED_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return names;
        char name[256];
        DWORD size = sizeof(name);
        for (DWORD i = 0; RegEnumKeyExA(key, i, name, &size, 0, 0, 0, 0) == ERROR_SUCCESS; ++i) {
            names.push_back(name);
            size = sizeof(name);
        }
        RegCloseKey(key);
        return names;
    }
};

TEST_F(RandomModule, OnlyRandomActiveStartsOneRandomModulePerPeriod)
{
    Choose({MODULE_RANDOM});
    SetControls(0, 1, 2, 0, 0);
    // Every draw misses the user's choice; after the 202nd draw one module
    // R % 12 is started.
    SeedRandom(777);
    for (int draw = 0; draw < 202; ++draw)
        Random();
    int expected = Random() % 12;
    SeedRandom(777);
    RandomStart(record);
    EXPECT_EQ(Running(), (std::set<int>{expected, MODULE_RANDOM}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].module, expected);
    EXPECT_EQ(events[0].kind, 'o');
    EXPECT_EQ(events[1].kind, 's');

    // Nothing happens until the period has passed.
    testNow += 2000;
    RandomFrame(record);
    EXPECT_EQ(events.size(), 2u);

    std::set<int> seen;
    int previous = expected;
    for (int period = 0; period < 60; ++period) {
        size_t from = events.size();
        NextPeriod();
        std::set<int> running = Running();
        ASSERT_EQ(running.size(), 2u);
        ASSERT_TRUE(running.count(MODULE_RANDOM));
        int now = *running.begin();
        // The old module is closed before the new one opens and starts.
        ASSERT_EQ(events.size(), from + 3);
        EXPECT_EQ(events[from].module, previous);
        EXPECT_EQ(events[from].kind, 'c');
        EXPECT_EQ(events[from + 1].module, now);
        EXPECT_EQ(events[from + 1].kind, 'o');
        EXPECT_EQ(events[from + 2].kind, 's');
        seen.insert(now);
        previous = now;
    }
    EXPECT_GE(seen.size(), 9u);
    EXPECT_FALSE(seen.count(MODULE_RANDOM));
}

TEST_F(RandomModule, ActiveModeDrawsFromTheUsersChoiceKeptAtTheFirstSelection)
{
    Choose({MODULE_BEZIER, MODULE_STAR, MODULE_RANDOM});
    saverSettings.priority = 32;
    saverSettings.showName = 7;
    SetControls(0, 3, 1, 0, 0);
    RandomStart(record);
    std::set<std::set<int>> selections;
    for (int period = 0; period < 60; ++period) {
        size_t from = events.size();
        saverSettings.priority = 128;   // as a loaded display would leave it
        saverSettings.showName = 0;
        NextPeriod();
        std::set<int> started = StartedSince(from);
        ASSERT_FALSE(started.empty());
        for (int module : started)
            ASSERT_TRUE(module == MODULE_BEZIER || module == MODULE_STAR) << module;
        selections.insert(started);
        EXPECT_EQ(saverSettings.priority, 32);
        EXPECT_EQ(saverSettings.showName, 7);
    }
    // Bezier, Star, or both.
    EXPECT_EQ(selections.size(), 3u);
}

TEST_F(RandomModule, ClearsTheScreenAndRandomisesStartedControls)
{
    HBRUSH brush = CreateSolidBrush(PALETTEINDEX(77));
    RECT all = {0, 0, 64, 48};
    FillRect(surface.surface.dc, &all, brush);
    DeleteObject(brush);
    ASSERT_EQ(SurfaceEntry(&surface, 10, 10), 77);

    Choose({MODULE_VORTEX});
    SetControls(0, 1, 5, 0, 0);
    RandomStart(record);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 64, 48), 64 * 48);   // picture kept

    ModuleRecord* vortex = &moduleTable[MODULE_VORTEX];
    vortex->value[0] = 500;    // out of limits: started clamped to its default
    record->value[4] = 1;
    NextPeriod();
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 64, 48), 0);
    EXPECT_EQ(vortex->value[0], 60);
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        EXPECT_EQ(vortex->source[slot], 0);

    // "Random Controls": every source becomes random and the values are
    // drawn inside their ranges.
    record->value[3] = 1;
    std::set<int> points;
    for (int period = 0; period < 10; ++period) {
        NextPeriod();
        for (int slot = 0; slot < SLOT_COUNT; ++slot)
            ASSERT_EQ(vortex->source[slot], 1);
        for (int slot = 0; slot < SLOT_COUNT; ++slot) {
            if (!vortex->defined[slot])
                continue;
            EXPECT_GE(vortex->value[slot], vortex->minimum[slot]);
            EXPECT_LE(vortex->value[slot], vortex->maximum[slot]);
        }
        points.insert(vortex->value[0]);
    }
    EXPECT_GT(points.size(), 5u);
}

TEST_F(RandomModule, PickSavedDisplayLearnsHowManyDisplaysThereAre)
{
    ClearSavedDisplays();
    HKEY saved;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SAVED_PATH, 0, KEY_WRITE, &saved), ERROR_SUCCESS);
    for (int i = 0; i < 10; ++i) {
        char name[32];
        snprintf(name, sizeof(name), "Display %c", 'A' + i);
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(saved, name, &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    RegCloseKey(saved);
    std::vector<std::string> names = SavedNames();
    ASSERT_EQ(names.size(), 10u);

    // Seeds whose first draw modulo a bound falls where wanted.
    auto seedFor = [](unsigned int bound, unsigned int low, unsigned int high) {
        for (unsigned int seed = 1;; ++seed) {
            SeedRandom(seed);
            unsigned int n = (unsigned int)Random() % bound;
            if (n >= low && n <= high)
                return seed;
        }
    };
    char name[SAVED_NAME_SIZE];

    // n of 1 to 10 picks display n - 1 directly; n = 0 wastes the attempt.
    unsigned int seed = seedFor(1000, 1, 10);
    SeedRandom(seed);
    unsigned int n = (unsigned int)Random() % 1000;
    SeedRandom(seed);
    ASSERT_TRUE(PickSavedDisplay(name));
    EXPECT_EQ(name, names[n - 1]);
    SeedRandom(seedFor(1000, 0, 0));
    EXPECT_FALSE(PickSavedDisplay(name));
    EXPECT_STREQ(name, "");

    // n of 11 or more finds index 10 missing: the bound becomes 11 and the
    // pick is drawn again from 0..10.
    seed = seedFor(1000, 11, 999);
    SeedRandom(seed);
    Random();
    unsigned int again = (unsigned int)Random() % 11;
    SeedRandom(seed);
    EXPECT_EQ(PickSavedDisplay(name), again != 0);
    if (again) {
        EXPECT_EQ(name, names[again - 1]);
    }

    // From now on one draw modulo 11 decides, even where a draw modulo 1000
    // would have gone past the end.
    for (unsigned int s = 1;; ++s) {
        SeedRandom(s);
        unsigned int r = (unsigned int)Random();
        if (r % 1000 >= 11 && r % 11 >= 1) {
            seed = s;
            n = r % 11;
            break;
        }
    }
    SeedRandom(seed);
    Random();
    int following = Random();
    SeedRandom(seed);
    ASSERT_TRUE(PickSavedDisplay(name));
    EXPECT_EQ(name, names[n - 1]);
    EXPECT_EQ(Random(), following);   // one draw only
}

TEST_F(RandomModule, DisplaysHoldingRandomAreNeverLoaded)
{
    ClearSavedDisplays();
    moduleTable[MODULE_BEZIER].value[0] = 7;   // "Beziers"
    Save(RANDOM_DISPLAY, {MODULE_RANDOM});
    Save("Mixed", {MODULE_BEZIER, MODULE_RANDOM});
    moduleTable[MODULE_BEZIER].value[0] = 3;
    lstrcpyA(saverSettings.displayName, "Before");

    Choose({MODULE_RANDOM});
    SetControls(1, 1, 1, 0, 0);
    RandomStart(record);
    for (int period = 0; period < 10; ++period)
        NextPeriod();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(Running(), (std::set<int>{MODULE_RANDOM}));
    EXPECT_EQ(moduleTable[MODULE_BEZIER].value[0], 3);
    EXPECT_STREQ(saverSettings.displayName, "Before");

    // With no saved displays at all nothing but Random runs either.
    ClearSavedDisplays();
    record->value[0] = 2;
    for (int period = 0; period < 3; ++period)
        NextPeriod();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(Running(), (std::set<int>{MODULE_RANDOM}));
}

TEST_F(RandomModule, SoundModeSkipsSilentDisplaysWhileTheAnalyzerRuns)
{
    ClearSavedDisplays();
    sound = &share;
    share.analyzerRunning = 1;
    share.moduleSoundEnabled = 1;
    share.paletteSoundEnabled = 1;
    saverSettings.priority = 128;             // stored with every display
    Save("Quiet", {MODULE_BEZIER});
    moduleTable[MODULE_STAR].source[1] = 3;   // "Star Size" follows the volume
    Save("Loud", {MODULE_STAR});
    Save(RANDOM_DISPLAY, {MODULE_RANDOM});
    moduleTable[MODULE_STAR].source[1] = 0;

    Choose({MODULE_RANDOM});
    saverSettings.priority = 64;
    SetControls(2, 1, 1, 0, 0);
    RandomStart(record);
    for (int period = 0; period < 20; ++period) {
        size_t from = events.size();
        NextPeriod();
        EXPECT_EQ(StartedSince(from), (std::set<int>{MODULE_STAR})) << period;
        EXPECT_EQ(Running(), (std::set<int>{MODULE_STAR, MODULE_RANDOM}));
        EXPECT_EQ(moduleTable[MODULE_STAR].source[1], 3);
        EXPECT_EQ(saverSettings.priority, 64);
    }
    // The loaded palette's colour events follow half a second later.
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_EQ(palette->nextEventTime[channel], testNow + 500) << channel;

    // Without the analyzer the first loadable display is taken.
    share.analyzerRunning = 0;
    std::set<int> seen;
    for (int period = 0; period < 30; ++period) {
        size_t from = events.size();
        NextPeriod();
        std::set<int> started = StartedSince(from);
        ASSERT_EQ(started.size(), 1u);
        seen.insert(*started.begin());
    }
    EXPECT_EQ(seen, (std::set<int>{MODULE_BEZIER, MODULE_STAR}));

    // "Svd" takes any display without Random, sound or not.
    share.analyzerRunning = 1;
    record->value[0] = 1;
    seen.clear();
    for (int period = 0; period < 30; ++period) {
        size_t from = events.size();
        NextPeriod();
        std::set<int> started = StartedSince(from);
        ASSERT_EQ(started.size(), 1u);
        seen.insert(*started.begin());
    }
    EXPECT_EQ(seen, (std::set<int>{MODULE_BEZIER, MODULE_STAR}));
}

}  // namespace
