// The four entry points of every display module.
#pragma once
#include "runtime/framework.h"

#define MODULE_ENTRIES(Name) \
    int Name##Frame(ModuleRecord* record); \
    int Name##Open(ModuleRecord* record); \
    int Name##Start(ModuleRecord* record); \
    int Name##Close(ModuleRecord* record);

MODULE_ENTRIES(Bezier)
MODULE_ENTRIES(Cyclic)
MODULE_ENTRIES(Pattern)
MODULE_ENTRIES(Plasma)
MODULE_ENTRIES(Polygon)
MODULE_ENTRIES(Sphere)
MODULE_ENTRIES(Stain)
MODULE_ENTRIES(Star)
MODULE_ENTRIES(Vortex)
MODULE_ENTRIES(Ray)
MODULE_ENTRIES(Effect)
MODULE_ENTRIES(Bitmap)
MODULE_ENTRIES(Random)

#undef MODULE_ENTRIES

// What a module's start drew, read back (diagnostics and tests).
struct CyclicView {
    float pulseRate, shrink, spin, r0, r1, r2;
    DWORD deadline;
    int formulaX, formulaY;
};
void ViewCyclic(CyclicView* view);
struct RayView {
    double frequency;
    int amplitude, density;
};
void ViewRay(RayView* view);
struct StarView {
    int count;
    float shrink, spin;
    double x[99], y[99], z[99];   // each star's place in space
};
void ViewStars(StarView* view);
// 1: a star's copies turned for its new place are kept and taken as the
// turned start of its next streak (the default); 0 turns both ends each time.
extern int starTurnReuse;
struct VortexView {
    float swirlPeriod, collapse, fluxAmplitude;
};
void ViewVortex(VortexView* view);
