// The module framework: the thirteen display modules' records, their control
// slots and the operations that define, reset, clamp, randomise and evaluate
// controls.
#pragma once
#include <windows.h>

struct PaletteState;

enum {
    MODULE_COUNT = 13,
    SLOT_COUNT = 20,
    PATH_SIZE = 260,
    ENTRY_WAIT = 42          // frame entry result: nothing to draw yet
};

enum ModuleId {
    MODULE_BEZIER = 0, MODULE_CYCLIC, MODULE_PATTERN, MODULE_PLASMA, MODULE_POLYGON,
    MODULE_SPHERE, MODULE_STAIN, MODULE_STAR, MODULE_VORTEX, MODULE_RAY,
    MODULE_EFFECT, MODULE_BITMAP, MODULE_RANDOM
};

enum { SLOT_STRENGTH = 9 };

struct ModuleRecord;
typedef int (*ModuleEntry)(ModuleRecord* record);

struct ModuleRecord {
    const char* name;
    int page;
    int width;
    int height;
    HDC dc;
    PaletteState* palette;
    ModuleRecord* table;
    char path[PATH_SIZE];
    int defined[SLOT_COUNT];
    int labelId[SLOT_COUNT];
    int source[SLOT_COUNT];
    int value[SLOT_COUNT];
    int defaultValue[SLOT_COUNT];
    int rangeLo[SLOT_COUNT];
    int rangeHi[SLOT_COUNT];
    int minimum[SLOT_COUNT];
    int maximum[SLOT_COUNT];
    int sense[SLOT_COUNT];
    float state[SLOT_COUNT];
    int soundCapable[SLOT_COUNT];
    ModuleEntry frame;   // A
    ModuleEntry open;    // B
    ModuleEntry start;   // C
    ModuleEntry close;   // D
};

// One row of the control table.
struct ControlDefinition {
    int module;
    int slot;
    int labelId;
    int defaultValue;
    int minimum;
    int maximum;
    int sound;
};

extern ModuleRecord moduleTable[MODULE_COUNT];
extern const char moduleNames[MODULE_COUNT][8];
extern const ControlDefinition controlTable[];
extern const int controlCount;

// The global options of a display and the saver-wide Speed. SlowCPU and
// AutoGain live in the shared sound record, where the analyzer reads them.
struct SaverSettings {
    int moduleActive[MODULE_COUNT];
    int priority;            // process priority class: 128, 32 or 64
    int clearFirst;
    int showInfo;
    int showName;            // seconds
    int autoRun;
    int speed;               // frame delay in units of 10 ms
    int slowCpu;             // kept here too while no sound record is open
    int autoGain;
    int captureLiveColours;  // F3: store the colours on screen with the capture
    char displayName[PATH_SIZE];
};
extern SaverSettings saverSettings;

// The current PaletteState (created by the render thread or the
// configuration sheet); InitModules points every record at it.
extern PaletteState* currentPalette;

int DoNothingEntry(ModuleRecord* record);

void DefineControl(int module, int labelId, int slot, int defaultValue, int minimum, int maximum);
void RegisterModule(int module, ModuleEntry frame, ModuleEntry open, ModuleEntry start, ModuleEntry close);
void ResetModuleControls(int module);
void ClampControls(ModuleRecord* record);
void RandomizeControls(ModuleRecord* record);
void EvaluateControls(ModuleRecord* record);
void InitModules(void);

// The current value of a slot's live source (the slot's source, state,
// sense and range), as a module re-evaluates it during a frame.
float EvaluateSlot(ModuleRecord* record, int slot);
// A slot's value held inside its hard limits.
int SlotWithinLimits(const ModuleRecord* record, int slot);

// Runs a module's frame entry as its "Strength" (slot 9) says for this frame;
// sleeps 10 ms after a result of 42. Returns how many times it ran. In the
// render loop the module's frame has a time budget (below): once it is
// spent, the entry is not run again this frame.
int RunFrameEntry(ModuleRecord* record, unsigned int frame);

// A module frame at settings far beyond what a frame can draw (every
// control at its maximum, or driven there by a loud sound) would freeze the
// picture for seconds. The render loop gives each module's frame a budget;
// the drawing loops that can run that long stop drawing copies once it is
// spent, so the picture keeps moving. Outside the render loop (tests,
// benches) no budget is set and nothing is cut.
enum { FRAME_BUDGET_MS = 400 };
void StartFrameBudget(void);
void EndFrameBudget(void);
int FrameBudgetSpent(void);
// Module frames cut short so far.
extern volatile long framesCutShort;
