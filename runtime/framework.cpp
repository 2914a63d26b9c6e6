#include "runtime/framework.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "modules/modules.h"
#include "settings/registry.h"
#include <string.h>

ModuleRecord moduleTable[MODULE_COUNT];
SaverSettings saverSettings = {{0}, 64, 1, 1, 0, 0, 0, 1, 1, 0, {0}};
PaletteState* currentPalette = 0;

const char moduleNames[MODULE_COUNT][8] = {
    "Bezier", "Cyclic", "Pattern", "Plasma", "Polygon", "Sphere", "Stain",
    "Star", "Vortex", "Ray", "Effect", "Bitmap", "Random"
};

// Every control of every module: label id, default, limits and whether it may
// follow the oscillator or a sound level.
const ControlDefinition controlTable[] = {
    {MODULE_BEZIER, 0, 10, 1, 1, 20, 0},  // "Beziers"
    {MODULE_BEZIER, 1, 11, 10, 1, 32, 1},  // "Symmetry"
    {MODULE_BEZIER, 2, 12, 100, 1, 100, 0},  // "Trail Length"
    {MODULE_BEZIER, 3, 13, 12, 1, 200, 1},  // "Width"
    {MODULE_BEZIER, 4, 14, 4, 1, 320, 1},  // "Speed"
    {MODULE_BEZIER, 5, 15, 30, 1, 1000, 0},  // "Duration"
    {MODULE_BEZIER, 6, 16, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_BEZIER, 7, 17, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_BEZIER, 8, 18, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_BEZIER, 9, 19, 1, -10, 10, 0},  // "Strength"
    {MODULE_CYCLIC, 0, 20, 4, 1, 99, 0},  // "Objects"
    {MODULE_CYCLIC, 1, 21, 25, 1, 50, 1},  // "Spasticity"
    {MODULE_CYCLIC, 2, 22, 100, 1, 100, 0},  // "Trail Length"
    {MODULE_CYCLIC, 3, 23, 100, 0, 320, 1},  // "Diameter"
    {MODULE_CYCLIC, 4, 24, 1, 1, 32, 1},  // "Planar Symmetry"
    {MODULE_CYCLIC, 5, 25, 10, -100, 100, 1},  // "Object Rotation"
    {MODULE_CYCLIC, 6, 26, 1, 1, 10, 0},  // "Object Sides"
    {MODULE_CYCLIC, 7, 27, 0, 0, 8, 0},  // "Object Type"
    {MODULE_CYCLIC, 9, 28, 1, -10, 10, 0},  // "Strength"
    {MODULE_CYCLIC, 10, 103, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_CYCLIC, 11, 104, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_CYCLIC, 12, 105, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_PATTERN, 0, 41, 2, 2, 30, 0},  // "Waves"
    {MODULE_PATTERN, 1, 42, 0, 0, 100, 0},  // "Turbulence"
    {MODULE_PATTERN, 2, 43, 21, 0, 21, 0},  // "Type"
    {MODULE_PATTERN, 3, 44, 30, 0, 1000, 0},  // "Image Duration"
    {MODULE_PATTERN, 4, 45, 1, 0, 5, 0},  // "Turbulence Type"
    {MODULE_PATTERN, 5, 46, 50, 0, 100, 0},  // "Pattern Density"
    {MODULE_PATTERN, 6, 47, 0, 0, 6, 0},  // "Wave type"
    {MODULE_PATTERN, 7, 115, 0, 0, 20, 1},  // "Folding"
    {MODULE_PATTERN, 9, 48, 1, -10, 10, 0},  // "Strength"
    {MODULE_PATTERN, 10, 109, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_PATTERN, 11, 110, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_PATTERN, 12, 111, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_PLASMA, 0, 49, 10, 1, 100, 0},  // "Roughness"
    {MODULE_PLASMA, 1, 50, 5, 1, 30, 0},  // "Update Interval"
    {MODULE_PLASMA, 3, 52, 30, 1, 1000, 0},  // "Image Duration"
    {MODULE_PLASMA, 9, 53, 1, -10, 10, 0},  // "Strength"
    {MODULE_PLASMA, 10, 117, 1, 1, 16, 0},  // "X Tiling"
    {MODULE_PLASMA, 11, 118, 1, 1, 16, 0},  // "Y Tiling"
    {MODULE_PLASMA, 12, 119, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_POLYGON, 0, 91, 3, 2, 20, 0},  // "Vertices"
    {MODULE_POLYGON, 1, 92, 10, 1, 50, 1},  // "Symmetry"
    {MODULE_POLYGON, 2, 93, 4, 1, 320, 1},  // "Speed"
    {MODULE_POLYGON, 3, 94, 0, 0, 1, 0},  // "Outline"
    {MODULE_POLYGON, 4, 95, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_POLYGON, 5, 96, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_POLYGON, 6, 97, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_POLYGON, 9, 98, 1, -10, 10, 0},  // "Strength"
    {MODULE_SPHERE, 0, 60, 100, 15, 250, 1},  // "Size"
    {MODULE_SPHERE, 1, 61, 8, 2, 128, 1},  // "Symmetry"
    {MODULE_SPHERE, 2, 62, 0, 0, 63, 0},  // "Type"
    {MODULE_SPHERE, 3, 63, 20, 1, 1000, 0},  // "Image Duration"
    {MODULE_SPHERE, 4, 64, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_SPHERE, 5, 65, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_SPHERE, 6, 66, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_SPHERE, 9, 67, 1, -10, 10, 0},  // "Strength"
    {MODULE_STAIN, 0, 68, 2, 2, 4, 0},  // "Nodes"
    {MODULE_STAIN, 1, 116, 0, 0, 20, 1},  // "Folding"
    {MODULE_STAIN, 2, 69, 4, 0, 10, 0},  // "Type"
    {MODULE_STAIN, 3, 70, 20, 1, 1000, 0},  // "Image Duration"
    {MODULE_STAIN, 9, 71, 1, -10, 10, 0},  // "Strength"
    {MODULE_STAIN, 10, 112, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_STAIN, 11, 113, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_STAIN, 12, 114, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_STAR, 0, 72, 20, 0, 99, 0},  // "Stars"
    {MODULE_STAR, 1, 73, 1, 1, 320, 1},  // "Star Size"
    {MODULE_STAR, 2, 74, 4, 1, 60, 1},  // "Speed"
    {MODULE_STAR, 3, 75, 0, -99, 99, 1},  // "X Revolve"
    {MODULE_STAR, 4, 76, 0, -99, 99, 1},  // "Y Revolve"
    {MODULE_STAR, 5, 77, 0, -99, 99, 1},  // "Z Revolve"
    {MODULE_STAR, 6, 78, 10, -100, 100, 1},  // "Star Rotation"
    {MODULE_STAR, 7, 79, 1, 1, 10, 0},  // "Star Sides"
    {MODULE_STAR, 8, 80, 0, 0, 8, 0},  // "Star Type"
    {MODULE_STAR, 9, 81, 1, -10, 10, 0},  // "Strength"
    {MODULE_STAR, 10, 99, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_STAR, 11, 100, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_STAR, 12, 101, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_STAR, 13, 102, 1, 1, 128, 1},  // "Symmetry"
    {MODULE_VORTEX, 0, 82, 60, 2, 199, 0},  // "Points on edge"
    {MODULE_VORTEX, 1, 83, 300, 1, 300, 1},  // "Spasticity"
    {MODULE_VORTEX, 2, 84, 20, 1, 200, 1},  // "Amplitude"
    {MODULE_VORTEX, 3, 85, 20, 0, 1000, 0},  // "Image Duration"
    {MODULE_VORTEX, 4, 86, 1, 0, 5, 0},  // "Type"
    {MODULE_VORTEX, 5, 87, 5, 1, 50, 1},  // "Collapse Rate"
    {MODULE_VORTEX, 6, 88, 34, 0, 100, 1},  // "Radius Flux"
    {MODULE_VORTEX, 7, 89, 0, 0, 400, 1},  // "Flux Amplitude"
    {MODULE_VORTEX, 9, 90, 1, -10, 10, 0},  // "Strength"
    {MODULE_VORTEX, 10, 106, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_VORTEX, 11, 107, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_VORTEX, 12, 108, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_RAY, 0, 120, 50, 1, 200, 1},  // "Frequency"
    {MODULE_RAY, 1, 122, 12, 1, 200, 1},  // "Amplitude"
    {MODULE_RAY, 2, 121, 1, 1, 500, 0},  // "Density"
    {MODULE_RAY, 3, 123, 2, 0, 20, 1},  // "Folding"
    {MODULE_RAY, 4, 128, 3, -500, 500, 1},  // "Shift Rate"
    {MODULE_RAY, 5, 129, 0, 0, 3, 0},  // "Ray Type"
    {MODULE_RAY, 6, 130, 20, 0, 1000, 0},  // "Duration"
    {MODULE_RAY, 9, 124, 1, -10, 10, 0},  // "Strength"
    {MODULE_RAY, 10, 125, 1, 1, 20, 1},  // "X Tiling"
    {MODULE_RAY, 11, 126, 1, 1, 20, 1},  // "Y Tiling"
    {MODULE_RAY, 12, 127, 0, 0, 3, 0},  // "Tile Type"
    {MODULE_EFFECT, 0, 29, 0, 0, 25, 0},  // "Type"
    {MODULE_EFFECT, 1, 30, 100, 2, 320, 0},  // "X Strength"
    {MODULE_EFFECT, 2, 31, 80, 2, 240, 0},  // "Y Strength"
    {MODULE_EFFECT, 3, 32, 20, 0, 1000, 0},  // "Display Interval"
    {MODULE_EFFECT, 9, 33, 1, -10, 10, 0},  // "Strength"
    {MODULE_BITMAP, 0, 34, 1, 0, 3, 0},  // "Display Type"
    {MODULE_BITMAP, 1, 35, 0, 0, 1, 0},  // "Force Gradient"
    {MODULE_BITMAP, 2, 36, 12, 0, 1000, 0},  // "Duration"
    {MODULE_BITMAP, 3, 37, 2, 0, 10, 0},  // "Smoothing"
    {MODULE_BITMAP, 4, 38, 0, 0, 1, 0},  // "Random Order"
    {MODULE_BITMAP, 5, 39, 0, 0, 1, 0},  // "File or Screen"
    {MODULE_BITMAP, 9, 40, 1, -10, 10, 0},  // "Strength"
    {MODULE_RANDOM, 0, 54, 2, 0, 2, 0},  // "Actv/Svd/Snd"
    {MODULE_RANDOM, 1, 55, 1, 1, 12, 0},  // "Maximum at once"
    {MODULE_RANDOM, 2, 56, 16, 1, 1000, 0},  // "Duration"
    {MODULE_RANDOM, 3, 57, 0, 0, 1, 0},  // "Random Controls"
    {MODULE_RANDOM, 4, 58, 1, 0, 1, 0},  // "Clear Screen"
    {MODULE_RANDOM, 9, 59, 1, -10, 10, 0},  // "Strength"
};
const int controlCount = sizeof(controlTable) / sizeof(controlTable[0]);

// Entries of each module, in module-id order.
struct ModuleEntries {
    ModuleEntry frame, open, start, close;
};

static const ModuleEntries moduleEntries[MODULE_COUNT] = {
    {BezierFrame, BezierOpen, BezierStart, BezierClose},
    {CyclicFrame, CyclicOpen, CyclicStart, CyclicClose},
    {PatternFrame, PatternOpen, PatternStart, PatternClose},
    {PlasmaFrame, DoNothingEntry, PlasmaStart, PlasmaClose},
    {PolygonFrame, DoNothingEntry, PolygonStart, PolygonClose},
    {SphereFrame, SphereOpen, SphereStart, SphereClose},
    {StainFrame, StainOpen, StainStart, StainClose},
    {StarFrame, StarOpen, StarStart, StarClose},
    {VortexFrame, DoNothingEntry, VortexStart, VortexClose},
    {RayFrame, RayOpen, RayStart, RayClose},
    {EffectFrame, EffectOpen, EffectStart, DoNothingEntry},
    {BitmapFrame, BitmapOpen, BitmapStart, BitmapClose},
    {RandomFrame, DoNothingEntry, RandomStart, DoNothingEntry},
};

int DoNothingEntry(ModuleRecord*)
{
    return 0;
}

// A slot back at its default, its full range and a fixed source.
static void ResetSlot(ModuleRecord* record, int slot)
{
    record->value[slot] = record->defaultValue[slot];
    record->rangeLo[slot] = record->minimum[slot];
    record->rangeHi[slot] = record->maximum[slot];
    record->sense[slot] = 10;
    record->state[slot] = 0.5f;
    record->source[slot] = SOURCE_SET;
}

void DefineControl(int module, int labelId, int slot, int defaultValue, int minimum, int maximum)
{
    ModuleRecord* record = &moduleTable[module];
    record->defined[slot] = 1;
    record->labelId[slot] = labelId;
    record->defaultValue[slot] = defaultValue;
    record->minimum[slot] = minimum;
    record->maximum[slot] = maximum;
    record->soundCapable[slot] = 0;
    ResetSlot(record, slot);
    record->path[0] = 0;
}

void RegisterModule(int module, ModuleEntry frame, ModuleEntry open, ModuleEntry start, ModuleEntry close)
{
    ModuleRecord* record = &moduleTable[module];
    record->frame = frame;
    record->open = open;
    record->start = start;
    record->close = close;
    record->table = &moduleTable[0];
}

void ResetModuleControls(int module)
{
    ModuleRecord* record = &moduleTable[module];
    record->path[0] = 0;
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (record->defined[slot])
            ResetSlot(record, slot);
    }
}

void ClampControls(ModuleRecord* record)
{
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        int minimum = record->minimum[slot];
        int maximum = record->maximum[slot];
        // Out of limits falls back to the default, not to the nearer limit.
        if (record->value[slot] < minimum || record->value[slot] > maximum)
            record->value[slot] = record->defaultValue[slot];
        if (record->rangeLo[slot] < minimum || record->rangeLo[slot] > maximum)
            record->rangeLo[slot] = minimum;
        if (record->rangeHi[slot] > maximum || record->rangeHi[slot] < minimum)
            record->rangeHi[slot] = maximum;
    }
}

void RandomizeControls(ModuleRecord* record)
{
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (record->source[slot] == SOURCE_SET)
            continue;
        int lo = record->rangeLo[slot];
        int hi = record->rangeHi[slot];
        int low = lo < hi ? lo : hi;
        int span = lo < hi ? hi - lo : lo - hi;
        record->value[slot] = low + Random() % (span + 1);
    }
}

void EvaluateControls(ModuleRecord* record)
{
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (record->source[slot] <= SOURCE_RANDOM)
            continue;
        record->value[slot] = (int)EvaluateSlot(record, slot);
    }
}

void InitModules(void)
{
    for (int module = 0; module < MODULE_COUNT; ++module) {
        moduleTable[module].name = moduleNames[module];
        moduleTable[module].palette = currentPalette;
    }
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
    }

    EnsureDefaultDisplays();
    if (!LoadDisplay(RANDOM_DISPLAY))
        WriteDefaultDisplay(-1, RANDOM_DISPLAY, 5);

    char active[128];
    ReadSaverValue("Active", REG_SZ, active, sizeof(active));
    active[sizeof(active) - 1] = 0;
    if (!LoadDisplay(active)) {
        LoadDisplay(RANDOM_DISPLAY);
        WriteSaverValue("Active", REG_SZ, RANDOM_DISPLAY, sizeof(RANDOM_DISPLAY));
    }

    int anyActive = 0;
    for (int module = 0; module < MODULE_COUNT; ++module)
        anyActive |= saverSettings.moduleActive[module];
    if (!anyActive)
        saverSettings.moduleActive[MODULE_RANDOM] = 1;

    // The sound flags and entry points come after the loads, as the
    // start-up order has them; the loads read neither.
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        if (c->sound)
            moduleTable[c->module].soundCapable[c->slot] = 1;
    }
    for (int module = 0; module < MODULE_COUNT; ++module) {
        const ModuleEntries* e = &moduleEntries[module];
        RegisterModule(module, e->frame, e->open, e->start, e->close);
        ClampControls(&moduleTable[module]);
    }
}

float EvaluateSlot(ModuleRecord* record, int slot)
{
    float value = ControlValue(record->source[slot], &record->state[slot], record->sense[slot],
                               (float)record->rangeLo[slot], (float)record->rangeHi[slot]);
    return WithinLimits(value, record->minimum[slot], record->maximum[slot]);
}

int SlotWithinLimits(const ModuleRecord* record, int slot)
{
    int value = record->value[slot];
    if (value < record->minimum[slot])
        return record->minimum[slot];
    if (value > record->maximum[slot])
        return record->maximum[slot];
    return value;
}

static int budgetSet = 0;
static int budgetCut = 0;
static DWORD budgetEnd = 0;
volatile long framesCutShort = 0;

void StartFrameBudget(void)
{
    budgetEnd = TickCount() + FRAME_BUDGET_MS;
    budgetCut = 0;
    budgetSet = 1;
}

void EndFrameBudget(void)
{
    budgetSet = 0;
}

int FrameBudgetSpent(void)
{
    if (!budgetSet)
        return 0;
    if (!budgetCut && TickPassed(TickCount(), budgetEnd)) {
        budgetCut = 1;
        framesCutShort = framesCutShort + 1;
    }
    return budgetCut;
}

int RunFrameEntry(ModuleRecord* record, unsigned int frame)
{
    int strength = record->value[SLOT_STRENGTH];
    if (strength < 0) {
        if (frame % (unsigned int)(-strength) != 0)
            return 0;
        if (record->frame(record) == ENTRY_WAIT)
            Sleep(10);
        return 1;
    }
    if (strength == 0) {
        record->frame(record);
        return 1;
    }
    int runs = 0;
    while (runs < strength && !(runs > 0 && FrameBudgetSpent())) {
        ++runs;
        if (record->frame(record) == ENTRY_WAIT) {
            Sleep(10);
            break;
        }
    }
    return runs;
}
