// Random: the programme director. Draws nothing itself; every "Duration"
// seconds it closes the running modules and starts a new selection: some of
// the user's active modules, a saved display, or a saved display that uses
// sound while the analyzer runs.
#include "modules/modules.h"
#include "modules/random.h"
#include "runtime/common.h"
#include "runtime/soundlink.h"
#include "graphics/palette.h"
#include "settings/registry.h"
#include <stdio.h>

enum {
    SLOT_MODE = 0, SLOT_MAX_AT_ONCE = 1, SLOT_DURATION = 2, SLOT_RANDOM_CONTROLS = 3,
    SLOT_CLEAR_SCREEN = 4
};

enum {
    MODE_ACTIVE = 0, MODE_SAVED = 1, MODE_SOUND = 2,
    SAVED_ATTEMPTS = 60,
    LAST_PLAIN_DRAW = 200,         // draw number after which one module is forced
    PICKABLE_MODULES = 12,         // every module but Random itself
    INITIAL_DISPLAY_BOUND = 1000
};

struct RandomSnapshot {
    int moduleActive[MODULE_COUNT];
    int priority;
    int clearFirst;
    int showInfo;
    int showName;
};

struct RandomModuleState {
    int mode;
    int maxAtOnce;
    int durationMs;
    int randomControls;
    int clearScreen;
    RandomSnapshot snapshot;
    int snapshotTaken;
    unsigned int knownDisplayCount;
    DWORD deadline;
};

static RandomModuleState director = {0, 0, 0, 0, 0, {{0}, 0, 0, 0, 0}, 0, INITIAL_DISPLAY_BOUND, 0};

void ResetRandomModule(void)
{
    RandomModuleState fresh = {0, 0, 0, 0, 0, {{0}, 0, 0, 0, 0}, 0, INITIAL_DISPLAY_BOUND, 0};
    director = fresh;
}

int PickSavedDisplay(char* name)
{
    name[0] = 0;
    char path[MAX_PATH];
    snprintf(path, sizeof(path), "Control Panel\\%s\\%s", SAVER_KEY_NAME, "Saved");
    HKEY key;
    if (RegCreateKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS)
        return 0;

    unsigned int n = (unsigned int)Random() % director.knownDisplayCount;
    LONG result = ERROR_SUCCESS;
    for (unsigned int i = 0; i < n; ++i) {
        DWORD size = SAVED_NAME_SIZE;
        result = RegEnumKeyExA(key, i, name, &size, NULL, NULL, NULL, NULL);
        // A name too long for us is still a display: step over it.
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS) {
            // Fewer displays than the bound: remember how many there are
            // (plus one, so a draw can still waste the attempt) and draw again.
            director.knownDisplayCount = i + 1;
            RegCloseKey(key);
            return PickSavedDisplay(name);
        }
    }
    RegCloseKey(key);
    if (n == 0 || result != ERROR_SUCCESS) {
        name[0] = 0;
        return 0;
    }
    name[SAVED_NAME_SIZE - 1] = 0;
    return 1;
}

static void TakeSnapshot(void)
{
    RandomSnapshot* s = &director.snapshot;
    for (int module = 0; module < MODULE_COUNT; ++module)
        s->moduleActive[module] = saverSettings.moduleActive[module];
    s->priority = saverSettings.priority;
    s->clearFirst = saverSettings.clearFirst;
    s->showInfo = saverSettings.showInfo;
    s->showName = saverSettings.showName;
}

static int AnalyzerRunning(void)
{
    SoundShare* share = sound;
    return share && share->analyzerRunning;
}

static int DisplayUsesSound(void)
{
    SoundShare* share = sound;
    return share && (share->paletteUsesSound || share->modulesUseSound);
}

static void ChooseSavedDisplay(void)
{
    for (int attempt = 0; attempt < SAVED_ATTEMPTS; ++attempt) {
        char name[SAVED_NAME_SIZE];
        if (!PickSavedDisplay(name))
            continue;
        // A display that runs the director itself is never loaded.
        if (ModuleKeyExists(name, MODULE_RANDOM))
            continue;
        if (!LoadDisplay(name))
            continue;
        if (director.mode == MODE_SAVED || DisplayUsesSound() || !AnalyzerRunning())
            return;
    }
}

static void ChooseActiveModules(void)
{
    int picks = 0;
    for (int draw = 0;; ++draw) {
        int module = Random() % PICKABLE_MODULES;
        if (director.snapshot.moduleActive[module]) {
            saverSettings.moduleActive[module] = 1;
            ++picks;
        }
        if (draw > LAST_PLAIN_DRAW) {
            // The user's choice holds nothing pickable: run any one module.
            saverSettings.moduleActive[Random() % PICKABLE_MODULES] = 1;
            return;
        }
        if (picks >= director.maxAtOnce)
            return;
    }
}

int RandomStart(ModuleRecord* record)
{
    RandomModuleState* s = &director;
    ModuleRecord* table = record->table ? record->table : moduleTable;
    s->mode = record->value[SLOT_MODE];
    s->maxAtOnce = record->value[SLOT_MAX_AT_ONCE];
    s->durationMs = record->value[SLOT_DURATION] * 1000;
    s->randomControls = record->value[SLOT_RANDOM_CONTROLS];
    s->clearScreen = record->value[SLOT_CLEAR_SCREEN];

    if (!s->snapshotTaken)
        TakeSnapshot();

    for (int module = 0; module < MODULE_COUNT; ++module) {
        if (!saverSettings.moduleActive[module])
            continue;
        if (table[module].close)
            table[module].close(&table[module]);
        saverSettings.moduleActive[module] = 0;
    }

    if (s->mode != MODE_ACTIVE)
        ChooseSavedDisplay();
    else
        ChooseActiveModules();

    if (s->clearScreen == 1)
        PatBlt(record->dc, 0, 0, record->width, record->height, BLACKNESS);

    for (int module = 0; module < MODULE_COUNT; ++module) {
        ModuleRecord* started = &table[module];
        // The director never starts itself: that would recurse.
        if (!saverSettings.moduleActive[module] || started == record)
            continue;
        if (s->randomControls == 1) {
            for (int slot = 0; slot < SLOT_COUNT; ++slot)
                started->source[slot] = 1;
            RandomizeControls(started);
            EvaluateControls(record);
        }
        ClampControls(started);
        if (started->open)
            started->open(started);
        if (started->start)
            started->start(started);
    }

    if (s->mode != MODE_ACTIVE && record->palette)
        ScheduleEvents(record->palette);

    saverSettings.priority = s->snapshot.priority;
    saverSettings.clearFirst = s->snapshot.clearFirst;
    saverSettings.showInfo = s->snapshot.showInfo;
    saverSettings.showName = s->snapshot.showName;
    saverSettings.moduleActive[MODULE_RANDOM] = 1;

    s->snapshotTaken = 1;
    s->deadline = TickCount() + (DWORD)s->durationMs;
    return 0;
}

int RandomFrame(ModuleRecord* record)
{
    if (director.deadline < TickCount())
        RandomStart(record);
    return 0;
}
