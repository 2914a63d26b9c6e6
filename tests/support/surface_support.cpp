#include "support/surface_support.h"
#include "graphics/palette.h"
#include <string.h>

int OpenTestSurface(TestSurface* test, int width, int height)
{
    if (!CreateEmulatedSurface(&test->surface, width, height))
        return 0;
    memset(moduleTable, 0, sizeof(moduleTable));
    for (int module = 0; module < MODULE_COUNT; ++module) {
        ModuleRecord* record = &moduleTable[module];
        record->name = moduleNames[module];
        record->width = width;
        record->height = height;
        record->dc = test->surface.dc;
        record->table = &moduleTable[0];
    }
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
        if (c->sound)
            moduleTable[c->module].soundCapable[c->slot] = 1;
    }
    surfacePalette = test->surface.palette;
    return 1;
}

void CloseTestSurface(TestSurface* test)
{
    if (surfacePalette == test->surface.palette)
        surfacePalette = 0;
    DestroyEmulatedSurface(&test->surface);
}

BYTE SurfaceByte(const TestSurface* test, int x, int y)
{
    GdiFlush();
    return test->surface.bits[y * test->surface.stride + x];
}

int SurfaceEntry(const TestSurface* test, int x, int y)
{
    int byte = SurfaceByte(test, x, y);
    return byte >= STATIC_LOW && byte < STATIC_LOW + 236 ? byte - STATIC_LOW : -1;
}

void ClearTestSurface(TestSurface* test)
{
    GdiFlush();
    memset(test->surface.bits, 0, (size_t)test->surface.stride * test->surface.height);
}

int CountDrawn(const TestSurface* test, int left, int top, int right, int bottom)
{
    GdiFlush();
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            count += test->surface.bits[y * test->surface.stride + x] != 0;
    return count;
}
