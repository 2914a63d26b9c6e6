#include "support/module_fixture.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "support/harness.h"

void ModuleFixture::OpenSurface(int w, int h, DWORD clock)
{
    width = w;
    height = h;
    record = &moduleTable[calls.module];
    ASSERT_TRUE(OpenTestSurface(&surface, w, h));
    opened = 1;
    UseTestClock(clock);
    renderRunning = 1;
}

void ModuleFixture::TearDown()
{
    if (!opened)
        return;
    if (calls.close)
        calls.close(record);
    // A test may stop the render loop; the next one starts with it running.
    renderRunning = 1;
    UseRealClock();
    CloseTestSurface(&surface);
}

void ModuleFixture::Start(unsigned seed)
{
    // Small seeds make the generator's first draws small; spread them.
    SeedRandom(seed * 2654435761u);
    calls.start(record);
}

void ModuleFixture::Begin(unsigned seed)
{
    SeedRandom(seed);
    if (calls.open)
        calls.open(record);
    calls.start(record);
}

void ModuleFixture::Frames(int n)
{
    for (int i = 0; i < n; ++i)
        calls.frame(record);
}

int ModuleFixture::Count(int entry)
{
    int n = 0;
    GdiFlush();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            n += Entry(&surface, x, y) == entry;
    return n;
}

std::vector<BYTE> ModuleFixture::Snapshot()
{
    GdiFlush();
    const BYTE* bits = surface.surface.bits;
    return std::vector<BYTE>(bits, bits + (size_t)surface.surface.stride * height);
}

std::vector<BYTE> ModuleFixture::Run(unsigned seed, int frames)
{
    ClearTestSurface(&surface);
    Start(seed);
    Frames(frames);
    return Snapshot();
}
