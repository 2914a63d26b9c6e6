#include "support/module_fixture.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include "support/meters.h"

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
    if (calls.close && !closed)
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

void ModuleFixture::LeakSweep(unsigned seed, int frames, DWORD msPerFrame, LeakCounts* counts)
{
    HANDLE self = GetCurrentProcess();
    DWORD id = GetCurrentProcessId();
    int stage = LEAK_BEFORE;
    auto meter = [&]() {
        GdiFlush();
        counts->gdi[stage] = GdiObjects(self);
        counts->handles[stage] = ProcessHandles(id);
        ++stage;
    };
    // A first short life lets the platform make what it makes once per
    // process (caches, stock objects) before anything is counted.
    SeedRandom(seed);
    if (calls.open)
        calls.open(record);
    calls.start(record);
    Frames(5);
    if (calls.close)
        calls.close(record);
    ClearTestSurface(&surface);
    meter();
    // A second open and start (a reset, a new picture) replace what the
    // first made.
    SeedRandom(seed);
    for (int twice = 0; twice < 2; ++twice)
        if (calls.open)
            calls.open(record);
    meter();
    for (int twice = 0; twice < 2; ++twice)
        calls.start(record);
    meter();
    for (int i = 0; i < frames; ++i) {
        calls.frame(record);
        testNow += msPerFrame;
    }
    meter();
    if (calls.close)
        calls.close(record);
    closed = 1;
    meter();
    ASSERT_GT(counts->gdi[LEAK_BEFORE], 0) << "the GDI table cannot be read";
    ASSERT_GT(counts->handles[LEAK_BEFORE], 0) << "the handle list cannot be read";
    EXPECT_EQ(counts->gdi[LEAK_CLOSE], counts->gdi[LEAK_BEFORE])
        << "GDI objects: before " << counts->gdi[LEAK_BEFORE] << ", open " << counts->gdi[LEAK_OPEN] << ", start "
        << counts->gdi[LEAK_START] << ", frames " << counts->gdi[LEAK_FRAMES] << ", close " << counts->gdi[LEAK_CLOSE];
    EXPECT_EQ(counts->handles[LEAK_CLOSE], counts->handles[LEAK_BEFORE])
        << "handles: before " << counts->handles[LEAK_BEFORE] << ", open " << counts->handles[LEAK_OPEN]
        << ", start " << counts->handles[LEAK_START] << ", frames " << counts->handles[LEAK_FRAMES] << ", close "
        << counts->handles[LEAK_CLOSE];
}
