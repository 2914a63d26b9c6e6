// Placeholder until the palette engine is built.
#include "graphics/palette.h"
#include <stdlib.h>

HPALETTE paletteHandle = 0;
HPALETTE surfacePalette = 0;

PaletteState* CreatePaletteState(HDC dc)
{
    PaletteState* state = (PaletteState*)calloc(1, sizeof(PaletteState));
    state->dc = dc;
    ResetPalette(state);
    return state;
}
void DestroyPaletteState(PaletteState* state) { free(state); }
void ResetPalette(PaletteState* state)
{
    for (int ch = 0; ch < 3; ++ch)
        state->value[3 * PARAM_CYCLE_RATE + ch] = 30;
}
void StartChannels(PaletteState*) {}
void ColourEvent(PaletteState*, int) {}
void PaletteStep(PaletteState*) {}
void EventTick(PaletteState*) {}
void ScheduleEvents(PaletteState*) {}
void RandomGradient(CustomEntry*, int, int, int) {}
int PaletteValue(PaletteState* state, int parameter, int channel)
{
    return state->value[3 * parameter + channel];
}
