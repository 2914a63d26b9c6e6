// The palette animation engine. Each colour channel is a strip of 236
// intensities that scrolls along the palette, refills from its wave table at
// the far end and, at every colour event, morphs into a freshly generated
// strip. The result is written into the 236 animated palette entries once a
// palette step.
#include "graphics/palette.h"
#include "graphics/surface.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include <string.h>

HPALETTE paletteHandle = 0;
HPALETTE surfacePalette = 0;

// Wave tables, one per channel, shared by every engine of the process.
static int* waveTable[3];
static HGLOBAL waveMemory[3];
static int liveEngines = 0;
static int previousRamp[3];
static int afterEventSteps = 0;

// What an engine selected where, so that it can be undone exactly.
struct PaletteCompanion {
    PaletteState* state;
    HPALETTE palette;
    HPALETTE previous;
    HPALETTE previousSurfacePalette;
    int emulated;       // the surface is an emulated palette device
    int selected;       // the animated palette went into the device context
};
enum { MAX_ENGINES = 4 };
static PaletteCompanion companions[MAX_ENGINES];

static PaletteCompanion* CompanionOf(PaletteState* state)
{
    for (int i = 0; i < MAX_ENGINES; ++i)
        if (companions[i].state == state)
            return &companions[i];
    return 0;
}

// Defaults, limits and the sound flag of the ten parameters.
struct ParameterDefault {
    int value;
    int source;
    int minimum;
    int maximum;
    int rangeLo;
    int rangeHi;
    int sound;
};
static const ParameterDefault parameterDefaults[PALETTE_PARAMETERS] = {
    {100, 0, 0, 100, 0, 100, 1},        // Brightness
    {6, 1, 1, 80, 1, 12, 1},            // Color Frequency
    {14, 0, 1, 300, 1, 200, 1},         // Fade Frequency
    {14, 0, 1, 300, 1, 200, 1},         // Ramp Frequency
    {16, 0, 0, 300, 10, 30, 0},         // Duration
    {30, 0, 10, 200, 10, 60, 0},        // Cycle Rate
    {1000, 0, 0, 3000, 10, 600, 0},     // Event Rate
    {1, 0, -50, 50, -3, 3, 1},          // Direction
    {9, 1, 1, 64, 6, 16, 1},            // Morph Rate
    {100, 0, 0, 200, 0, 100, 1},        // Intensity
};

// A float control value truncated toward zero, kept inside int range.
static int TruncateValue(float v)
{
    if (!(v > -1e9f))
        return v != v ? 0 : -1000000000;
    if (v > 1e9f)
        return 1000000000;
    return (int)v;
}

static int EvaluateEntry(PaletteState* state, int k)
{
    int p = k / 3;
    float value = ControlValue(state->source[k], &state->state[k], state->sense[k], (float)state->rangeLo[k],
                               (float)state->rangeHi[k]);
    return TruncateValue(WithinLimits(value, state->minimum[p], state->maximum[p]));
}

int PaletteValue(PaletteState* state, int parameter, int channel)
{
    int k = 3 * parameter + channel;
    if (state->source[k] >= SOURCE_OSCILLATE)
        state->value[k] = EvaluateEntry(state, k);
    return state->value[k];
}

static int ClampByte(int v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

void ResetPalette(PaletteState* state)
{
    if (!state)
        return;
    for (int ch = 0; ch < 3; ++ch) {
        state->eventDuration[ch] = 15000;
        state->nextEventTime[ch] = 0;
        state->fade[ch] = 0;
        state->ramp[ch] = 0;
        state->coarse[ch] = 0;
        state->blackout[ch] = 0;
        state->customChosen[ch] = 0;
        state->custom[ch] = 0;
        state->eventCounter[ch] = 0;
        state->morphing[ch] = 0;
    }
    for (int p = 0; p < PALETTE_PARAMETERS; ++p) {
        const ParameterDefault* d = &parameterDefaults[p];
        state->minimum[p] = d->minimum;
        state->maximum[p] = d->maximum;
        state->soundCapable[p] = d->sound;
        for (int ch = 0; ch < 3; ++ch) {
            int k = 3 * p + ch;
            state->value[k] = d->value;
            state->source[k] = d->source;
            state->rangeLo[k] = d->rangeLo;
            state->rangeHi[k] = d->rangeHi;
            state->sense[k] = 7;
            state->state[k] = 0.5f;
        }
    }
    state->entryCount = PALETTE_ENTRIES;
}

void RandomGradient(CustomEntry* custom, int redStep, int greenStep, int blueStep)
{
    if (!custom)
        return;
    int v[3], step[3] = {redStep, greenStep, blueStep};
    for (int c = 0; c < 3; ++c)
        v[c] = Random() & 255;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        for (int c = 0; c < 3; ++c) {
            int next = v[c] + step[c];
            if (next >= 0 && next < 256)
                v[c] = next;
            else
                step[c] = -step[c];
        }
        custom[i].red = (BYTE)v[0];
        custom[i].green = (BYTE)v[1];
        custom[i].blue = (BYTE)v[2];
        custom[i].used = 1;
    }
}

static int AllocateWaveTables(void)
{
    for (int ch = 0; ch < 3; ++ch) {
        if (waveTable[ch])
            continue;
        waveMemory[ch] = GlobalAlloc(GHND, WAVE_SIZE * sizeof(int));
        waveTable[ch] = waveMemory[ch] ? (int*)GlobalLock(waveMemory[ch]) : 0;
        if (!waveTable[ch]) {
            if (waveMemory[ch])
                GlobalFree(waveMemory[ch]);
            waveMemory[ch] = 0;
            return 0;
        }
    }
    return 1;
}

static void FreeWaveTables(void)
{
    for (int ch = 0; ch < 3; ++ch) {
        if (waveMemory[ch]) {
            GlobalUnlock(waveMemory[ch]);
            GlobalFree(waveMemory[ch]);
        }
        waveMemory[ch] = 0;
        waveTable[ch] = 0;
    }
}

static void FreeRecord(PaletteState* state)
{
    HGLOBAL self = state->selfMemory;
    if (state->entriesMemory) {
        GlobalUnlock(state->entriesMemory);
        GlobalFree(state->entriesMemory);
    }
    GlobalUnlock(self);
    GlobalFree(self);
}

PaletteState* CreatePaletteState(HDC dc)
{
    SeedRandom(TickCount());
    PaletteCompanion* companion = CompanionOf(0);
    if (!companion || !AllocateWaveTables()) {
        if (!liveEngines)
            FreeWaveTables();
        return 0;
    }

    HGLOBAL self = GlobalAlloc(GHND, sizeof(PaletteState));
    PaletteState* state = self ? (PaletteState*)GlobalLock(self) : 0;
    if (!state) {
        if (self)
            GlobalFree(self);
        if (!liveEngines)
            FreeWaveTables();
        return 0;
    }
    state->selfMemory = self;
    state->entriesMemory = GlobalAlloc(GHND, sizeof(PaletteBlock));
    state->entries = state->entriesMemory ? (PaletteBlock*)GlobalLock(state->entriesMemory) : 0;
    if (!state->entries) {
        FreeRecord(state);
        if (!liveEngines)
            FreeWaveTables();
        return 0;
    }
    ++liveEngines;
    state->entries->version = 0x300;
    state->entries->count = PALETTE_ENTRIES;
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        state->entries->entry[i].peFlags = PC_RESERVED;
    state->animate = 1;
    state->lowColour = dc && GetDeviceCaps(dc, BITSPIXEL) < 8;
    state->dc = dc;
    ResetPalette(state);

    memset(companion, 0, sizeof(*companion));
    companion->state = state;
    companion->previousSurfacePalette = surfacePalette;
    companion->palette = CreatePalette((LOGPALETTE*)state->entries);
    paletteHandle = companion->palette;
    HPALETTE keyPalette = EmulatedSurfacePalette(dc);
    if (keyPalette) {
        // An emulated surface keeps its key colours: the animated colours
        // reach the screen when the surface is presented.
        companion->emulated = 1;
        SelectPalette(dc, keyPalette, FALSE);
        RealizePalette(dc);
        surfacePalette = keyPalette;
    } else if (dc && companion->palette) {
        companion->previous = SelectPalette(dc, companion->palette, FALSE);
        companion->selected = 1;
        RealizePalette(dc);
        surfacePalette = companion->palette;
    }

    int red = Random() % 10;
    int green = Random() % 10;
    int blue = Random() % 10;
    RandomGradient(state->customPalette, red, green, blue);
    return state;
}

void DestroyPaletteState(PaletteState* state)
{
    if (!state)
        return;
    PaletteCompanion* companion = CompanionOf(state);
    if (liveEngines > 0)
        --liveEngines;
    // Other engines may still be generating from the shared tables.
    if (!liveEngines)
        FreeWaveTables();
    if (companion) {
        if (companion->selected && companion->previous && state->dc) {
            UnrealizeObject(companion->previous);
            SelectPalette(state->dc, companion->previous, FALSE);
            RealizePalette(state->dc);
        }
        if (paletteHandle == companion->palette)
            paletteHandle = 0;
        if (surfacePalette == companion->palette || companion->emulated)
            surfacePalette = companion->previousSurfacePalette;
        if (companion->palette)
            DeleteObject(companion->palette);
        memset(companion, 0, sizeof(*companion));
    }
    FreeRecord(state);
}

// --- Strips -------------------------------------------------------------------

static void FillWaveTable(PaletteState* state, int ch)
{
    int* wave = waveTable[ch];
    if (!wave)
        return;
    if (Random() % 2 == 1) {
        memcpy(wave, sineTable, WAVE_SIZE * sizeof(int));
    } else {
        float a = 0;
        float step = 31.998047f;
        for (int i = 0; i < WAVE_SIZE; ++i) {
            wave[i] = (int)a;
            a += step;
            if (a > 16383) {
                a = 16383;
                step = -step;
            }
            if (a < -16383) {
                a = -16383;
                step = -step;
            }
        }
    }
    if (!state->coarse[ch])
        return;
    int spikes = Random() % 85 + 32;
    int passes = Random() % 48 + 48;
    for (int n = 0; n < spikes; ++n) {
        int i = Random() % 1984 + 32;
        int sign = Random() % 2 == 0 ? 1 : -1;
        int magnitude = Random() % 16383;
        wave[i - 1] = wave[i] = wave[i + 1] = sign * magnitude;
    }
    for (int m = 0; m < passes; ++m)
        for (int i = 1; i <= WAVE_SIZE - 2; ++i)
            wave[i] = (wave[i - 1] + wave[i] + wave[i + 1]) / 3;
}

static void GenerateEntry(PaletteState* state, int ch, int i)
{
    if (state->blackout[ch]) {
        state->current[ch][i] = 0;
        return;
    }
    int position = state->position[ch];
    int c;
    if (state->custom[ch]) {
        const CustomEntry* e = &state->customPalette[(unsigned)position % PALETTE_ENTRIES];
        c = ch == 0 ? e->red : ch == 1 ? e->green : e->blue;
    } else {
        const int* wave = waveTable[ch];
        unsigned index = ((unsigned)state->offset[ch] + (unsigned)state->step[ch] * (unsigned)position) & 2047;
        int w = wave ? wave[index] : 0;
        c = (w < 0 ? -w : w) >> 6;
    }
    int intensity = PaletteValue(state, PARAM_INTENSITY, ch);
    int entry = c * intensity / 100;
    entry = ClampByte(entry);
    state->step[ch] = PaletteValue(state, PARAM_COLOR_FREQUENCY, ch);

    if (state->fade[ch]) {
        int f = PaletteValue(state, PARAM_FADE_FREQUENCY, ch);
        int s = sineTable[((unsigned)position * (unsigned)f) & 2047];
        if (s < 0)
            s = -s;
        entry = s > 0 ? s * entry / 16383 : 0;
    } else if (state->ramp[ch]) {
        int r = PaletteValue(state, PARAM_RAMP_FREQUENCY, ch);
        int s = sineTable[((unsigned)position * (unsigned)r) & 2047];
        entry = s < previousRamp[ch] && s > 0 ? s * entry / 16383 : 0;
        previousRamp[ch] = s;
    }
    state->current[ch][i] = (BYTE)entry;
    state->position[ch] = position + 1;
}

void ColourEvent(PaletteState* state, int ch)
{
    if (!state || ch < 0 || ch > 2)
        return;
    for (int p = 0; p < PALETTE_PARAMETERS; ++p) {
        int k = 3 * p + ch;
        if (state->source[k] != SOURCE_RANDOM)
            continue;
        int lo = state->rangeLo[k], hi = state->rangeHi[k];
        int low = lo < hi ? lo : hi;
        unsigned span = lo < hi ? (unsigned)hi - (unsigned)lo : (unsigned)lo - (unsigned)hi;
        state->value[k] = low + (int)((unsigned)Random() % (span + 1));
    }
    for (int p = 0; p < PALETTE_PARAMETERS; ++p) {
        int k = 3 * p + ch;
        if (state->source[k] >= SOURCE_OSCILLATE)
            state->value[k] = EvaluateEntry(state, k);
    }
    state->eventDuration[ch] = state->value[3 * PARAM_DURATION + ch] * 1000;
    state->ramp[ch] = 0;
    state->fade[ch] = 0;
    state->blackout[ch] = 0;
    state->coarse[ch] = Random() % 2;
    switch (state->effect[ch]) {
    case EFFECT_RAMP:
        state->ramp[ch] = 1;
        break;
    case EFFECT_FADE:
        state->fade[ch] = 1;
        break;
    case EFFECT_SMOOTH:
        state->coarse[ch] = 0;
        break;
    case EFFECT_COARSE:
        state->coarse[ch] = 1;
        break;
    case EFFECT_BLACKOUT:
        state->blackout[ch] = 1;
        break;
    case EFFECT_CUSTOM:
        state->customChosen[ch] = 1;
        state->custom[ch] = 1;
        break;
    default:
        if (Random() % 6 == 1)
            state->ramp[ch] = 1;
        if (!state->ramp[ch] && Random() % 6 == 1)
            state->fade[ch] = 1;
        break;
    }
    if (state->value[3 * PARAM_EVENT_RATE + ch] == 3000)
        state->value[3 * PARAM_EVENT_RATE + ch] = 16777215;
    state->nextEventTime[ch] = TickCount() + (DWORD)state->eventDuration[ch];
    FillWaveTable(state, ch);
    state->step[ch] = state->value[3 * PARAM_COLOR_FREQUENCY + ch];
    state->offset[ch] = Random() % PALETTE_ENTRIES;
    state->position[ch] = 0;
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        GenerateEntry(state, ch, i);
}

void StartChannels(PaletteState* state)
{
    for (int ch = 0; ch < 3; ++ch)
        ColourEvent(state, ch);
}

static void Scroll(PaletteState* state, int ch)
{
    int d = PaletteValue(state, PARAM_DIRECTION, ch);
    // A scroll can renew the whole strip but never reach past it.
    if (d > PALETTE_ENTRIES - 1)
        d = PALETTE_ENTRIES - 1;
    if (d < -(PALETTE_ENTRIES - 1))
        d = -(PALETTE_ENTRIES - 1);
    BYTE* strip = state->current[ch];
    if (d > 0) {
        memmove(strip, strip + d, (size_t)(PALETTE_ENTRIES - d));
        for (int i = PALETTE_ENTRIES - d; i < PALETTE_ENTRIES; ++i)
            GenerateEntry(state, ch, i);
    } else if (d < 0) {
        int n = -d;
        memmove(strip + n, strip, (size_t)(PALETTE_ENTRIES - n));
        for (int i = n; i >= 0; --i)
            GenerateEntry(state, ch, i);
    }
}

void PaletteStep(PaletteState* state)
{
    if (!state || !state->entries)
        return;
    PaletteCompanion* companion = CompanionOf(state);
    DWORD now = TickCount();
    for (int ch = 0; ch < 3; ++ch) {
        if (!TickPassed(now, state->nextEventTime[ch]) || state->morphing[ch])
            continue;
        memcpy(state->from[ch], state->current[ch], PALETTE_ENTRIES);
        ColourEvent(state, ch);
        memcpy(state->to[ch], state->current[ch], PALETTE_ENTRIES);
        state->morphing[ch] = 1;
        state->morphProgress[ch] = 0;
        int morphStep = PaletteValue(state, PARAM_MORPH_RATE, ch);
        // A step of 0 or less would hold the channel in its morph for good.
        state->morphStep[ch] = morphStep < 1 ? 1 : morphStep;
        afterEventSteps = 0;
        state->animate = 1;
    }

    if (!state->animate)
        return;
    if (afterEventSteps > PALETTE_ENTRIES) {
        int emulated = paletteEmulation || (companion && companion->emulated);
        state->animate = emulated || (state->dc && (GetDeviceCaps(state->dc, RASTERCAPS) & RC_PALETTE));
    } else {
        ++afterEventSteps;
    }

    for (int ch = 0; ch < 3; ++ch) {
        if (state->morphing[ch]) {
            int progress = state->morphProgress[ch];
            for (int i = 0; i < PALETTE_ENTRIES; ++i)
                state->current[ch][i] =
                    (BYTE)((state->from[ch][i] * (255 - progress) + state->to[ch][i] * progress) >> 8);
            progress += state->morphStep[ch];
            state->morphProgress[ch] = progress;
            if ((unsigned)progress > 255)
                state->morphing[ch] = 0;
        } else {
            Scroll(state, ch);
        }
    }

    int brightness[3];
    for (int ch = 0; ch < 3; ++ch) {
        int k = 3 * PARAM_BRIGHTNESS + ch;
        brightness[ch] = state->source[k] >= SOURCE_OSCILLATE ? EvaluateEntry(state, k) : state->value[k];
    }
    PALETTEENTRY* entry = state->entries->entry;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        // A loud sound may push Brightness past 100: saturate, never wrap.
        entry[i].peRed = (BYTE)ClampByte(state->current[0][i] * brightness[0] / 100);
        entry[i].peGreen = (BYTE)ClampByte(state->current[1][i] * brightness[1] / 100);
        entry[i].peBlue = (BYTE)ClampByte(state->current[2][i] * brightness[2] / 100);
        entry[i].peFlags = PC_RESERVED;
    }
    if (companion && companion->palette)
        AnimatePalette(companion->palette, 0, PALETTE_ENTRIES, entry);
    if (paletteEmulation)
        PresentSurface(state->dc, entry);
}

void EventTick(PaletteState* state)
{
    if (!state)
        return;
    for (int ch = 0; ch < 3; ++ch) {
        if (state->eventCounter[ch] > state->value[3 * PARAM_EVENT_RATE + ch]) {
            state->eventCounter[ch] = 0;
            if (Random() % 2 == 0) {
                int k = 3 * PARAM_DIRECTION + ch;
                state->value[k] = -state->value[k];
            } else {
                state->position[ch] = Random() % WAVE_SIZE;
            }
        } else {
            state->eventCounter[ch] += 1;
        }
    }
}

void ScheduleEvents(PaletteState* state)
{
    if (!state)
        return;
    DWORD now = TickCount();
    for (int ch = 0; ch < 3; ++ch)
        state->nextEventTime[ch] = now + 500;
}
