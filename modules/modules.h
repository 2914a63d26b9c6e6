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
