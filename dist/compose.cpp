// Composes the sample displays of the distribution with the saver's own
// store: each is set up in the module table and palette, saved as a display
// and exported as "<name>.VIV" into the folder given on the command line.
// Usage: compose_displays.exe FOLDER
#include "graphics/palette.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include "settings/vivfile.h"
#include <stdio.h>
#include <string.h>

struct Setting {
    int module;
    int slot;
    int value;
};

struct Sample {
    const char* name;
    int effects[3];          // red, green, blue colour effects
    int cycleRate;           // palette Cycle Rate, 0 keeps the default
    Setting settings[12];    // module -1 ends the list; a module listed is active
};

static const Sample samples[] = {
    {"Kaleidoscope Bezier", {EFFECT_SMOOTH, EFFECT_SMOOTH, EFFECT_FADE}, 0,
     {{MODULE_BEZIER, 0, 3}, {MODULE_BEZIER, 1, 8}, {MODULE_BEZIER, 2, 60}, {MODULE_BEZIER, 3, 6},
      {MODULE_BEZIER, 4, 6}, {-1, 0, 0}}},
    {"Tiled Cyclones", {EFFECT_RAMP, EFFECT_SMOOTH, EFFECT_RAMP}, 0,
     {{MODULE_CYCLIC, 0, 6}, {MODULE_CYCLIC, 3, 60}, {MODULE_CYCLIC, 4, 4}, {MODULE_CYCLIC, 7, 2},
      {MODULE_CYCLIC, 10, 2}, {MODULE_CYCLIC, 11, 2}, {-1, 0, 0}}},
    {"Ocean Waves", {EFFECT_FADE, EFFECT_SMOOTH, EFFECT_SMOOTH}, 0,
     {{MODULE_PATTERN, 0, 6}, {MODULE_PATTERN, 1, 25}, {MODULE_PATTERN, 2, 4}, {MODULE_PATTERN, 5, 70},
      {-1, 0, 0}}},
    {"Plasma Quilt", {EFFECT_SMOOTH, EFFECT_RANDOM, EFFECT_SMOOTH}, 0,
     {{MODULE_PLASMA, 0, 30}, {MODULE_PLASMA, 10, 2}, {MODULE_PLASMA, 11, 2},
      {-1, 0, 0}}},
    {"Star Tunnel", {EFFECT_RAMP, EFFECT_RAMP, EFFECT_SMOOTH}, 0,
     {{MODULE_STAR, 0, 60}, {MODULE_STAR, 1, 4}, {MODULE_STAR, 2, 10}, {MODULE_STAR, 5, 8},
      {MODULE_STAR, 13, 4}, {-1, 0, 0}}},
    {"Vortex Bloom", {EFFECT_RANDOM, EFFECT_RANDOM, EFFECT_RANDOM}, 0,
     {{MODULE_VORTEX, 0, 120}, {MODULE_VORTEX, 2, 60}, {MODULE_VORTEX, 6, 60}, {MODULE_VORTEX, 7, 80},
      {-1, 0, 0}}},
    {"Ray Interference", {EFFECT_COARSE, EFFECT_SMOOTH, EFFECT_FADE}, 0,
     {{MODULE_RAY, 0, 80}, {MODULE_RAY, 3, 4}, {MODULE_RAY, 10, 2}, {MODULE_RAY, 11, 2}, {-1, 0, 0}}},
    {"Spheres and Stains", {EFFECT_SMOOTH, EFFECT_FADE, EFFECT_SMOOTH}, 0,
     {{MODULE_SPHERE, 0, 80}, {MODULE_SPHERE, 1, 12}, {MODULE_STAIN, 0, 3}, {MODULE_STAIN, 1, 4},
      {-1, 0, 0}}},
    {"Polygon Dance", {EFFECT_RANDOM, EFFECT_SMOOTH, EFFECT_RAMP}, 0,
     {{MODULE_POLYGON, 0, 5}, {MODULE_POLYGON, 1, 12}, {MODULE_POLYGON, 2, 8}, {MODULE_POLYGON, 3, 1},
      {-1, 0, 0}}},
};

static int Compose(const Sample* sample, const char* folder)
{
    for (int module = 0; module < MODULE_COUNT; ++module) {
        saverSettings.moduleActive[module] = 0;
        ResetModuleControls(module);
    }
    for (const Setting* s = sample->settings; s->module >= 0; ++s) {
        saverSettings.moduleActive[s->module] = 1;
        moduleTable[s->module].value[s->slot] = s->value;
    }
    ResetPalette(currentPalette);
    for (int channel = 0; channel < 3; ++channel)
        currentPalette->effect[channel] = sample->effects[channel];
    saverSettings.clearFirst = 1;
    saverSettings.showName = 4;
    if (!SaveDisplay(sample->name))
        return 0;
    char file[MAX_PATH];
    snprintf(file, sizeof(file), "%s\\%s.VIV", folder, sample->name);
    int ok = WriteDisplayFile(sample->name, file);
    DeleteDisplay(sample->name);
    return ok;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: compose_displays FOLDER\n");
        return 2;
    }
    HDC screen = GetDC(NULL);
    currentPalette = CreatePaletteState(screen);
    if (!currentPalette)
        return 1;
    BuildValueNames();
    InitModules();
    char active[128];
    ReadSaverValue("Active", REG_SZ, active, sizeof(active));
    active[sizeof(active) - 1] = 0;
    int failed = 0;
    for (const Sample& sample : samples) {
        int ok = Compose(&sample, argv[1]);
        printf("%s %s\n", ok ? "wrote" : "FAILED", sample.name);
        failed |= !ok;
    }
    WriteSaverValue("Active", REG_SZ, active, (DWORD)strlen(active) + 1);
    DestroyPaletteState(currentPalette);
    ReleaseDC(NULL, screen);
    return failed;
}
