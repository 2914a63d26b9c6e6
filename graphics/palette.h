// The palette animation engine: three channel strips of 236 intensities that
// scroll, refill from wave tables and morph, rewritten into the 236 animated
// palette entries at every palette step.
#pragma once
#include <windows.h>

enum {
    PALETTE_ENTRIES = 236,
    PALETTE_PARAMETERS = 10,
    PALETTE_SLOTS = 30,       // entry k = 3p + channel
    WAVE_SIZE = 2048
};

// Parameter numbers p; entry k of the value arrays is 3p + channel.
enum {
    PARAM_BRIGHTNESS = 0, PARAM_COLOR_FREQUENCY, PARAM_FADE_FREQUENCY, PARAM_RAMP_FREQUENCY,
    PARAM_DURATION, PARAM_CYCLE_RATE, PARAM_EVENT_RATE, PARAM_DIRECTION, PARAM_MORPH_RATE,
    PARAM_INTENSITY
};

// Colour effects, as stored.
enum {
    EFFECT_RAMP = 0, EFFECT_FADE, EFFECT_SMOOTH, EFFECT_COARSE, EFFECT_BLACKOUT,
    EFFECT_RANDOM, EFFECT_CUSTOM
};

struct CustomEntry {
    BYTE red;
    BYTE green;
    BYTE blue;
    BYTE used;
};

// Logical palette block: version, count and the 236 animated entries.
struct PaletteBlock {
    WORD version;
    WORD count;
    PALETTEENTRY entry[PALETTE_ENTRIES];
};

struct PaletteState {
    PaletteBlock* entries;
    HGLOBAL selfMemory;
    HGLOBAL entriesMemory;
    BYTE current[3][PALETTE_ENTRIES];
    BYTE from[3][PALETTE_ENTRIES];
    BYTE to[3][PALETTE_ENTRIES];
    int position[3];
    int step[3];
    int offset[3];
    int minimum[PALETTE_PARAMETERS];
    int maximum[PALETTE_PARAMETERS];
    int soundCapable[PALETTE_PARAMETERS];
    int source[PALETTE_SLOTS];
    int value[PALETTE_SLOTS];
    int rangeLo[PALETTE_SLOTS];
    int rangeHi[PALETTE_SLOTS];
    int sense[PALETTE_SLOTS];
    float state[PALETTE_SLOTS];
    int effect[3];
    int allEffect;
    int fade[3];
    int ramp[3];
    int coarse[3];
    int blackout[3];
    int customChosen[3];
    int morphProgress[3];
    int morphStep[3];
    int eventCounter[3];
    int custom[3];
    int morphing[3];
    int eventDuration[3];
    DWORD nextEventTime[3];
    int entryCount;
    int animate;
    int lowColour;
    HDC dc;
    CustomEntry customPalette[PALETTE_ENTRIES];
};

// The animated logical palette of the running engine, and the palette that
// is selected into the drawing surface: the same handle on a palette device;
// the fixed key-colour palette when the surface is emulated.
extern HPALETTE paletteHandle;
extern HPALETTE surfacePalette;

PaletteState* CreatePaletteState(HDC dc);
void DestroyPaletteState(PaletteState* state);
void ResetPalette(PaletteState* state);
void StartChannels(PaletteState* state);
void ColourEvent(PaletteState* state, int channel);
void PaletteStep(PaletteState* state);
void EventTick(PaletteState* state);
void ScheduleEvents(PaletteState* state);
void RandomGradient(CustomEntry* custom, int redStep, int greenStep, int blueStep);

// The current value of parameter p of a channel, evaluated first when its
// source is live (2 and up).
int PaletteValue(PaletteState* state, int parameter, int channel);
