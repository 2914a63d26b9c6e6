// The common module-test fixture: a real surface, one module record on the
// test clock, and the module's entry points.
#pragma once
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "support/surface_support.h"
#include <vector>

// Surface reads without a GDI flush per pixel; every check flushes once.
inline BYTE Pixel(const TestSurface* s, int x, int y)
{
    return s->surface.bits[y * s->surface.stride + x];
}
// The animated entry of a pixel, or -1 for a static colour byte.
inline int Entry(const TestSurface* s, int x, int y)
{
    int b = Pixel(s, x, y);
    return b >= STATIC_LOW && b < STATIC_LOW + 236 ? b - STATIC_LOW : -1;
}

// What the process holds at each stage of a module's life: before its open
// entry, after open, after start, after the frames, after close.
enum { LEAK_BEFORE, LEAK_OPEN, LEAK_START, LEAK_FRAMES, LEAK_CLOSE, LEAK_STAGES };
struct LeakCounts {
    long gdi[LEAK_STAGES];
    long handles[LEAK_STAGES];
};

struct ModuleCalls {
    int module;
    ModuleEntry open;    // run by Begin before start; null when not
    ModuleEntry start;
    ModuleEntry frame;
    ModuleEntry close;   // run by TearDown; null when there is nothing to close
};

class ModuleFixture : public ::testing::Test {
protected:
    explicit ModuleFixture(const ModuleCalls& entries) : calls(entries) {}

    TestSurface surface;
    ModuleRecord* record = 0;
    int width = 0, height = 0;

    // Opens a w x h surface, picks the module record and starts the test
    // clock at `clock`.
    void OpenSurface(int w, int h, DWORD clock);
    void TearDown() override;
    void Set(int slot, int value) { record->value[slot] = value; }
    // Seeds with the seed spread over the generator's range, then starts.
    void Start(unsigned seed);
    // Seeds with the seed as given, opens (when there is an open entry) and
    // starts.
    void Begin(unsigned seed);
    void Frames(int n);
    int Drawn() { return CountDrawn(&surface, 0, 0, width, height); }
    // Pixels showing animated entry `entry`.
    int Count(int entry);
    // The surface bytes, stride by stride.
    std::vector<BYTE> Snapshot();
    // A fresh spread-seed start on a cleared surface; the picture after
    // `frames` frames.
    std::vector<BYTE> Run(unsigned seed, int frames);
    // The module's whole life on the open surface, metered: open, start,
    // `frames` frames with the test clock moving `msPerFrame` each (so
    // pictures restart), close. Fails the test when the GDI objects or
    // handles after close differ from before open.
    void LeakSweep(unsigned seed, int frames, DWORD msPerFrame, LeakCounts* counts);

private:
    ModuleCalls calls;
    int opened = 0;
    int closed = 0;
};
