// The Cyclic module on a real 8-bit surface: rotated copies, the pulsating
// size, the trail erased exactly by the replayed motion, restarts, tiles and
// drawing without buffers.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum {
    OBJECTS = 0, SPASTICITY = 1, TRAIL = 2, DIAMETER = 3, SYMMETRY = 4, ROTATION = 5,
    SIDES = 6, TYPE = 7, XTILES = 10, YTILES = 11, TILETYPE = 12
};

class CyclicModule : public ModuleFixture {
protected:
    CyclicModule() : ModuleFixture({MODULE_CYCLIC, 0, CyclicStart, CyclicFrame, CyclicClose}) {}

    void Open(int w, int h)
    {
        ASSERT_NO_FATAL_FAILURE(OpenSurface(w, h, 1000));
        CyclicOpen(record);
    }

    // Drawn pixels whose image under a turn by `angle` about the centre has
    // no drawn pixel within two pixels.
    int TurnMisses(double angle, int* total)
    {
        int cx = width / 2, cy = height / 2, misses = 0;
        double c = cos(angle), s = sin(angle);
        *total = 0;
        GdiFlush();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                if (Pixel(&surface, x, y) == 0)
                    continue;
                ++*total;
                double u = x - cx, v = y - cy;
                int rx = cx + (int)lround(c * u + s * v);
                int ry = cy + (int)lround(c * v - s * u);
                int found = 0;
                for (int dy = -2; dy <= 2 && !found; ++dy)
                    for (int dx = -2; dx <= 2 && !found; ++dx) {
                        int px = rx + dx, py = ry + dy;
                        if (px < 0 || py < 0 || px >= width || py >= height)
                            found = 1;
                        else
                            found = Pixel(&surface, px, py) != 0;
                    }
                misses += !found;
            }
        return misses;
    }
};

TEST_F(CyclicModule, PlanarSymmetryCopiesAreRotationsAboutTheCentre)
{
    Open(240, 240);
    Set(OBJECTS, 3);
    Set(DIAMETER, 1);
    Set(SPASTICITY, 50);   // fast drift: long strokes
    Set(SYMMETRY, 4);
    Start(17);
    Frames(80);
    int total = 0;
    int misses = TurnMisses(1.57075, &total);
    ASSERT_GT(total, 200);
    EXPECT_LE(misses, total / 100);

    // Two copies: the second is the first turned by half a turn.
    CyclicClose(record);
    ClearTestSurface(&surface);
    CyclicOpen(record);
    Set(SYMMETRY, 2);
    Start(17);
    Frames(80);
    misses = TurnMisses(3.1415, &total);
    ASSERT_GT(total, 100);
    EXPECT_LE(misses, total / 100);

    // One copy is not symmetric at all, so the checks above can tell.
    CyclicClose(record);
    ClearTestSurface(&surface);
    CyclicOpen(record);
    Set(SYMMETRY, 1);
    Start(17);
    Frames(80);
    misses = TurnMisses(1.57075, &total);
    ASSERT_GT(total, 50);
    EXPECT_GT(misses, total / 3);
}

TEST_F(CyclicModule, DiameterZeroPulsesBetween70And140)
{
    Open(600, 600);
    Set(OBJECTS, 1);
    Set(DIAMETER, 0);
    Set(SYMMETRY, 1);
    Set(SPASTICITY, 1);    // slow drift: each frame's stroke is nearly a dot
    Start(23);
    int smallest = 1000, largest = 0, measured = 0;
    for (int frame = 1; frame <= 230; ++frame) {
        CyclicFrame(record);
        // The newest stroke is the only one in this frame's colour.
        int left = width, right = -1, top = height, bottom = -1;
        GdiFlush();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (Entry(&surface, x, y) == frame) {
                    if (x < left) left = x;
                    if (x > right) right = x;
                    if (y < top) top = y;
                    if (y > bottom) bottom = y;
                }
        ASSERT_GE(right, 0) << "frame " << frame;
        if (left == 0 || top == 0 || right == width - 1 || bottom == height - 1)
            continue;
        int across = right - left + 1, down = bottom - top + 1;
        int size = across < down ? across : down;
        ++measured;
        smallest = size < smallest ? size : smallest;
        largest = size > largest ? size : largest;
    }
    ASSERT_GT(measured, 100);
    EXPECT_GE(smallest, 69);
    EXPECT_LE(largest, 143);
    EXPECT_GT(largest - smallest, 30);   // it really pulses
}

TEST_F(CyclicModule, TrailIsErasedExactlyByTheReplayedMotion)
{
    Open(300, 240);
    Set(OBJECTS, 5);
    Set(TRAIL, 1);         // three frames stay on screen
    Set(SYMMETRY, 3);
    Set(DIAMETER, 6);
    Set(SPASTICITY, 40);
    Start(29);
    for (int frame = 1; frame <= 120; ++frame) {
        CyclicFrame(record);
        if (frame < 4 || frame % 10)
            continue;
        // Only this frame's and the two before it's colours are left.
        int kept = Count(frame) + Count(frame - 1) + Count(frame - 2);
        EXPECT_GT(Count(frame), 0) << frame;
        EXPECT_EQ(Drawn(), kept) << frame;
    }
    // A reset (close while rendering) removes the rest of the trail.
    CyclicClose(record);
    EXPECT_EQ(Drawn(), 0);

    // Shapes along the strokes are erased just as exactly.
    ClearTestSurface(&surface);
    CyclicOpen(record);
    Set(SIDES, 5);
    Set(TYPE, 4);
    Set(DIAMETER, 12);
    Set(TRAIL, 4);
    Start(31);
    Frames(60);
    EXPECT_GT(Drawn(), 0);
    CyclicClose(record);
    EXPECT_EQ(Drawn(), 0);
}

TEST_F(CyclicModule, ShutdownLeavesThePictureAndFullTrailsStay)
{
    Open(200, 200);
    Set(TRAIL, 100);       // 300 frames: never erased
    Set(DIAMETER, 4);
    Set(SPASTICITY, 50);
    Start(37);
    Frames(40);
    int before = Drawn();
    // Most frames' colours are still to be seen (later strokes cover some).
    int colours = 0;
    for (int frame = 1; frame <= 40; ++frame)
        colours += Count(frame) > 0;
    EXPECT_GE(colours, 30);
    renderRunning = 0;
    CyclicClose(record);
    EXPECT_EQ(Drawn(), before);
    // Without its buffers the module paints nothing and does not fault.
    ClearTestSurface(&surface);
    CyclicStart(record);
    CyclicFrame(record);
    EXPECT_EQ(Drawn(), 0);
    renderRunning = 1;
}

TEST_F(CyclicModule, DeadlineErasesTheTrailAndStartsANewFigure)
{
    Open(240, 200);
    Set(TRAIL, 10);        // 30 frames
    Set(DIAMETER, 5);
    Set(SPASTICITY, 50);   // K = 1: the figure lives 20 to 29 seconds
    Start(41);
    Frames(50);
    ASSERT_GT(Drawn(), 0);
    testNow = 1000 + 20000;        // not yet past the shortest lifetime
    CyclicFrame(record);
    ASSERT_GT(Drawn(), 0);
    testNow = 1000 + 30000;        // past the longest
    CyclicFrame(record);
    EXPECT_EQ(Drawn(), 0);          // old trail gone, new figure not drawn yet
    CyclicFrame(record);
    EXPECT_GT(Count(1), 0);         // the new figure begins at colour 1
    EXPECT_EQ(Drawn(), Count(1));
}

TEST_F(CyclicModule, TilesRepeatTheStrokesAtHalfScale)
{
    // Taller than wide, so the orbits (which swing by half the width both
    // ways) stay on the surface and each tile's copy inside its tile.
    Open(200, 240);
    Set(OBJECTS, 4);
    Set(DIAMETER, 3);
    Set(SPASTICITY, 45);
    Set(XTILES, 2);
    Set(YTILES, 2);
    Set(TILETYPE, 0);
    Start(43);
    Frames(60);
    ASSERT_GT(CountDrawn(&surface, 0, 0, 100, 120), 0);
    // Away from the tile borders, where wide strokes of a neighbour reach in.
    GdiFlush();
    for (int y = 3; y < 117; ++y)
        for (int x = 3; x < 97; ++x) {
            BYTE b = Pixel(&surface, x, y);
            ASSERT_EQ(Pixel(&surface, x + 100, y), b) << x << "," << y;
            ASSERT_EQ(Pixel(&surface, x, y + 120), b) << x << "," << y;
            ASSERT_EQ(Pixel(&surface, x + 100, y + 120), b) << x << "," << y;
        }

    CyclicClose(record);
    ClearTestSurface(&surface);
    CyclicOpen(record);
    Set(TILETYPE, 1);      // only (1, 0) and (0, 1)
    Start(43);
    Frames(60);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 98, 118), 0);
    EXPECT_EQ(CountDrawn(&surface, 102, 122, 200, 240), 0);
    EXPECT_GT(CountDrawn(&surface, 100, 0, 200, 120), 0);
    EXPECT_GT(CountDrawn(&surface, 0, 120, 100, 240), 0);
}

TEST_F(CyclicModule, SingleObjectStartsOnTheVerticalThroughTheCentre)
{
    Open(200, 200);
    Set(OBJECTS, 1);
    Set(DIAMETER, 1);
    Set(SPASTICITY, 50);   // a long first stroke; the phase is still near 0
    Start(47);
    CyclicFrame(record);
    int drawn = Drawn();
    ASSERT_GT(drawn, 0);
    EXPECT_EQ(CountDrawn(&surface, 100, 0, 101, 200), drawn);
}

// Pictures of the code before the stamp shortcuts (commit 5899405), each as
// a hash of the surface after every frame: every slot at its maximum (1920 x
// 1080 and 640 x 480) and ordinary settings, through the mask, trails erased
// in black and one tile through GDI.
struct CyclicGolden {
    int w, h;
    int values[13];
    int frames;
    unsigned hash;
};

class CyclicAsBefore : public CyclicModule {
protected:
    void Check(const CyclicGolden* cases, size_t count)
    {
        int print = getenv("VIVRA_PRINT_GOLDEN") != 0;
        for (size_t i = 0; i < count; ++i) {
            const CyclicGolden& c = cases[i];
            SCOPED_TRACE(testing::Message() << "case " << i);
            for (int slot = 0; slot < 13; ++slot)
                if (slot != 8 && slot != 9)
                    Set(slot, c.values[slot]);
            ClearTestSurface(&surface);
            Start(300 + (unsigned)i);
            unsigned hash = 2166136261u;
            for (int f = 0; f < c.frames; ++f) {
                Frames(1);
                GdiFlush();
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        hash = (hash ^ Pixel(&surface, x, y)) * 16777619u;
            }
            if (print) {
                printf("        {%d, %d, {", c.w, c.h);
                for (int slot = 0; slot < 13; ++slot)
                    printf("%s%d", slot ? ", " : "", c.values[slot]);
                printf("}, %d, 0x%08xu},\n", c.frames, hash);
            }
            EXPECT_EQ(hash, c.hash) << "the pictures are not those of before";
        }
    }
};

TEST_F(CyclicAsBefore, EverySlotAtItsMaximumAt1920x1080)
{
    Open(1920, 1080);
    const CyclicGolden cases[] = {
        {1920, 1080, {99, 50, 100, 320, 32, 100, 10, 8, 0, 0, 20, 20, 3}, 3, 0xd1839565u},
    };
    Check(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST_F(CyclicAsBefore, OrdinarySettingsAt640x480)
{
    Open(640, 480);
    const CyclicGolden cases[] = {
        {640, 480, {99, 50, 100, 320, 32, 100, 10, 8, 0, 0, 20, 20, 3}, 3, 0xdb425945u},
        {640, 480, {99, 50, 1, 320, 32, 100, 10, 8, 0, 0, 20, 20, 3}, 5, 0x6ca32315u},
        {640, 480, {30, 40, 1, 200, 7, -60, 5, 7, 0, 0, 5, 4, 1}, 6, 0x138daf8fu},
        {640, 480, {20, 30, 1, 120, 3, 40, 3, 5, 0, 0, 20, 20, 2}, 6, 0x78ce32e5u},
        {640, 480, {12, 50, 100, 320, 9, 100, 10, 7, 0, 0, 3, 2, 0}, 4, 0xf8bd1f67u},
        {640, 480, {40, 25, 1, 90, 5, 20, 4, 4, 0, 0, 20, 20, 0}, 6, 0xb74b8ec5u},
        {640, 480, {25, 45, 1, 60, 2, 80, 1, 8, 0, 0, 4, 4, 3}, 6, 0x033813c5u},
        {640, 480, {25, 45, 1, 320, 2, 80, 2, 7, 0, 0, 6, 6, 0}, 6, 0xdba082deu},
        {640, 480, {8, 20, 1, 100, 6, 30, 6, 6, 0, 0, 1, 1, 0}, 6, 0x29fa3989u},
        {640, 480, {15, 35, 100, 0, 4, -20, 3, 3, 0, 0, 1, 1, 0}, 6, 0x47f8689fu},
    };
    Check(cases, sizeof(cases) / sizeof(cases[0]));
}

}  // namespace
