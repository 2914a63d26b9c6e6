// A real 8-bit drawing surface for module tests: the emulated palette device
// with a PaletteState and module records pointing at it.
#pragma once
#include "graphics/surface.h"
#include "runtime/framework.h"

struct TestSurface {
    EmulatedSurface surface;
};

// Creates the surface, points every module record at it (width, height, dc,
// palette, table) and defines every control with its default.
int OpenTestSurface(TestSurface* test, int width, int height);
void CloseTestSurface(TestSurface* test);
// The animated entry at (x, y), or -1 for a static colour byte.
int SurfaceEntry(const TestSurface* test, int x, int y);
BYTE SurfaceByte(const TestSurface* test, int x, int y);
// Fills the whole surface with static black (byte 0).
void ClearTestSurface(TestSurface* test);
// Number of pixels that are not byte 0 inside a rectangle.
int CountDrawn(const TestSurface* test, int left, int top, int right, int bottom);
