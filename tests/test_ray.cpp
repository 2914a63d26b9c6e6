// The Ray module on a real 8-bit surface: the colour ring around the
// outline, its rotation, folding, tiling, the picture's end and the hold.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "runtime/common.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <set>
#include <stdlib.h>
#include <vector>

namespace {

// A seed whose start draws give the random extras of Frequency, Amplitude
// and Density (each 0..5) after `skip` draws for randomised controls.
unsigned int SeedFor(int skip, int frequency, int amplitude, int density)
{
    for (unsigned int seed = 1;; ++seed) {
        SeedRandom(seed);
        for (int i = 0; i < skip; ++i)
            Random();
        int f = Random() % 6, a = Random() % 6, d = Random() % 6;
        if (f == frequency && a == amplitude && d == density)
            return seed;
    }
}

class Ray : public ModuleFixture {
protected:
    Ray() : ModuleFixture({MODULE_RAY, RayOpen, RayStart, RayFrame, RayClose}) {}

    void Open(int w, int h) { OpenSurface(w, h, 50000); }
    // Amplitude 1 makes each frame's modulation add exactly 2 to every entry,
    // so the ring keeps the shape of its starting ramp.
    void StartPlain(int density)
    {
        record->value[1] = 1;          // Amplitude
        record->value[2] = density;    // Density
        int randomised = 0;
        for (int slot = 0; slot < SLOT_COUNT; ++slot)
            randomised += record->source[slot] != 0;
        SeedRandom(SeedFor(randomised, 0, 0, 0));
        RayOpen(record);
        RayStart(record);
    }
    int At(int x, int y) { return SurfaceEntry(&surface, x, y); }
};

// The ramp value the stretched outer ring shows for ring entry j, with the
// ramp slope e, after the first frame (rotation by shift, then + 2).
double RampAt(int j, int shift, int ringSize, double slope)
{
    int index = ((j + shift) % ringSize + ringSize) % ringSize;
    return (index + 1) * slope + 2;
}

TEST_F(Ray, StretchedRingRunsOnceAroundTheOutline)
{
    Open(40, 30);
    const int W = 40, H = 30, P = 2 * (W + H);
    record->value[3] = 0;   // Folding: stretched
    record->value[4] = 0;   // Shift Rate
    StartPlain(30);         // slope 1.5: 140 entries stay below 236
    ASSERT_EQ(RayFrame(record), 0);

    // Outline pixel -> ring entry, in ring order (corners belong to the
    // edge painted last).
    std::vector<int> xs, ys, entries;
    for (int x = 1; x <= W - 2; ++x) { xs.push_back(x); ys.push_back(H - 1); entries.push_back(x); }
    for (int k = 0; k < H; ++k) { xs.push_back(W - 1); ys.push_back(H - 1 - k); entries.push_back(W + k); }
    for (int k = 1; k <= W - 2; ++k) { xs.push_back(W - 1 - k); ys.push_back(0); entries.push_back(W + H + k); }
    for (int k = 0; k < H; ++k) { xs.push_back(0); ys.push_back(k); entries.push_back(2 * W + H + k); }
    for (size_t n = 0; n < xs.size(); ++n)
        EXPECT_NEAR(At(xs[n], ys[n]), RampAt(entries[n], 0, P, 1.5), 1.0)
            << "at " << xs[n] << "," << ys[n];
    // The last of the 2 (W + H) entries sits in the bottom-left corner, next
    // to the first ones: the ramp's top meets its foot there.
    EXPECT_NEAR(At(0, H - 1), P * 1.5 + 2, 1.0);
    EXPECT_LT(At(1, H - 1), 10);
}

TEST_F(Ray, ShiftRateTurnsTheRingEitherWay)
{
    Open(40, 30);
    const int H = 30;
    record->value[3] = 0;

    // Shift 0: the seam of the ramp is in the bottom-left corner.
    record->value[4] = 0;
    StartPlain(30);
    RayFrame(record);
    EXPECT_GT(At(0, H - 1), 150);
    EXPECT_LT(At(1, H - 1), 20);
    EXPECT_GT(At(0, H - 2), 150);
    RayClose(record);

    // Shift -3: entries move away from index 0, the seam moves 3 pixels
    // along the bottom edge.
    ClearTestSurface(&surface);
    record->value[4] = -3;
    StartPlain(30);
    RayFrame(record);
    EXPECT_GT(At(2, H - 1), 150);
    EXPECT_LT(At(3, H - 1), 20);
    RayClose(record);

    // Shift 3: toward index 0, the seam moves 3 pixels up the left edge.
    ClearTestSurface(&surface);
    record->value[4] = 3;
    StartPlain(30);
    RayFrame(record);
    EXPECT_LT(At(0, H - 3), 20);
    EXPECT_GT(At(0, H - 4), 150);
    EXPECT_GT(At(1, H - 1), 5);
}

TEST_F(Ray, OutlinesMeetAfterEightyFramesAndThePictureIsHeld)
{
    Open(640, 480);
    SeedRandom(99);
    RayOpen(record);
    RayStart(record);
    const int W = 640, H = 480;

    // Three one-pixel rings per frame.
    ASSERT_EQ(RayFrame(record), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W, 3), 3 * W);
    EXPECT_EQ(CountDrawn(&surface, 0, H - 3, W, H), 3 * W);
    EXPECT_EQ(CountDrawn(&surface, 3, 3, W - 3, H - 3), 0);

    for (int frame = 2; frame <= 79; ++frame)
        ASSERT_EQ(RayFrame(record), 0) << frame;
    // Rings 0..236 are painted; only the middle strip of rings 237..239 is left.
    EXPECT_EQ(CountDrawn(&surface, 237, 237, W - 237, H - 237), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W, H), W * H - (W - 2 * 237) * (H - 2 * 237));
    ASSERT_EQ(RayFrame(record), 0);                  // frame 80 closes the middle
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W, H), W * H);

    DWORD finished = testNow;
    EXPECT_EQ(RayFrame(record), 0);                  // the outlines have met: restart
    EXPECT_EQ(RayFrame(record), ENTRY_WAIT);         // held for "Duration" 20 s
    testNow = finished + 19999;
    EXPECT_EQ(RayFrame(record), ENTRY_WAIT);
    ClearTestSurface(&surface);
    testNow = finished + 20000;
    EXPECT_EQ(RayFrame(record), 0);                  // the next picture, from the border
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W, 3), 3 * W);
    EXPECT_EQ(CountDrawn(&surface, 3, 3, W - 3, H - 3), 0);

    // "Duration" 0: the next picture starts on the frame after the meeting.
    record->value[6] = 0;
    RayStart(record);
    for (int frame = 1; frame <= 81; ++frame)
        ASSERT_EQ(RayFrame(record), 0) << frame;
    EXPECT_EQ(RayFrame(record), 0);
}

TEST_F(Ray, RayTypeOneFollowsTheColoursNotThePosition)
{
    Open(64, 48);
    const int H = 48;
    // Density 1: the ramp starts with 19 entries of colour 0; the laws that
    // follow the position still change from entry to entry there.
    record->value[0] = 50;   // Frequency
    record->value[3] = 0;    // stretched
    record->value[4] = 0;
    for (int type = 0; type <= 3; ++type) {
        ClearTestSurface(&surface);
        record->value[5] = type;
        record->value[1] = 50;
        record->value[2] = 1;
        int randomised = 0;
        for (int slot = 0; slot < SLOT_COUNT; ++slot)
            randomised += record->source[slot] != 0;
        SeedRandom(SeedFor(randomised, 0, 0, 0));
        RayOpen(record);
        RayStart(record);
        RayFrame(record);
        std::set<int> colours;
        for (int x = 1; x <= 18; ++x)
            colours.insert(At(x, H - 1));
        if (type == 1)
            EXPECT_EQ(colours.size(), 1u) << "equal colours stay equal";
        else
            EXPECT_GT(colours.size(), 4u) << "type " << type << " varies along the ring";
        RayClose(record);
    }
}

TEST_F(Ray, FoldingMirrorsEachEdgeAndCopiesItOpposite)
{
    Open(64, 48);
    const int W = 64, H = 48;
    record->value[3] = 1;   // at start: fold 2
    record->value[4] = 0;
    StartPlain(20);
    RayFrame(record);
    // Fold periods (63 / 2 + 1) = 32 across and (47 / 2 + 1) = 24 down:
    // the pattern runs forward and back.
    for (int j = 1; j <= 30; ++j)
        EXPECT_EQ(At(32 + j, H - 1), At(32 - j, H - 1)) << j;
    for (int j = 1; j <= 23; ++j)
        EXPECT_EQ(At(0, H - 1 - (24 + j)), At(0, H - 1 - (24 - j))) << j;
    for (int x = 1; x < W - 1; ++x)
        EXPECT_EQ(At(x, 0), At(x, H - 1)) << x;
    for (int y = 0; y < H; ++y)
        EXPECT_EQ(At(0, y), At(W - 1, y)) << y;
    EXPECT_NE(At(10, H - 1), At(20, H - 1));
    RayClose(record);

    // A live "Folding" of 1 is taken as it is: one period spans the edge.
    ClearTestSurface(&surface);
    record->value[3] = 1;
    record->source[3] = 2;
    record->rangeLo[3] = record->rangeHi[3] = 1;
    StartPlain(20);
    RayFrame(record);
    for (int x = 2; x < W - 1; ++x)
        EXPECT_GT(At(x, H - 1), At(x - 1, H - 1)) << x;   // the ramp, unfolded
    EXPECT_EQ(At(20, 0), At(20, H - 1));
    RayClose(record);

    // A live "Folding" of 0 stretches the ring: opposite edges differ.
    ClearTestSurface(&surface);
    record->rangeLo[3] = record->rangeHi[3] = 0;
    StartPlain(20);
    RayFrame(record);
    EXPECT_NE(At(20, 0), At(20, H - 1));
    EXPECT_NE(At(0, 20), At(W - 1, 20));
}

TEST_F(Ray, TileTypeOneSkipsTheTopLeftTile)
{
    Open(64, 48);
    const int W = 64, H = 48;
    SeedRandom(5);
    record->value[12] = 1;
    RayOpen(record);
    RayStart(record);
    // One tile, and it is not admitted: nothing is painted, the picture
    // ends at once and is held for "Duration".
    EXPECT_EQ(RayFrame(record), 0);
    EXPECT_EQ(RayFrame(record), ENTRY_WAIT);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W, H), 0);
    testNow += 20000;
    EXPECT_EQ(RayFrame(record), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W, H), 0);

    // Two columns: the rings go into tile (1, 0); tile (0, 0) stays black.
    record->value[10] = 2;
    RayStart(record);
    testNow += 20000;        // past the hold of the last empty picture
    EXPECT_EQ(RayFrame(record), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W / 2, H), 0);
    EXPECT_EQ(CountDrawn(&surface, W / 2, 0, W, 3), 3 * W / 2);
    EXPECT_EQ(CountDrawn(&surface, W / 2, H - 3, W, H), 3 * W / 2);
}

TEST_F(Ray, TilesRepeatEachRingMirrored)
{
    Open(64, 48);
    const int W = 64;
    record->value[10] = 2;
    record->value[11] = 2;
    record->value[4] = 0;
    record->value[3] = 0;
    StartPlain(30);
    RayFrame(record);
    // Tile (1, 0) holds tile (0, 0)'s ring mirrored left to right, tile
    // (0, 1) the same mirrored top to bottom.
    for (int x = 0; x < W / 2; ++x) {
        EXPECT_EQ(At(W - 1 - x, 0), At(x, 0)) << x;
        EXPECT_EQ(At(x, 47), At(x, 0)) << x;
    }
    EXPECT_EQ(CountDrawn(&surface, 3, 3, 29, 21), 0);
}

TEST_F(Ray, NoPaintingWithoutItsBuffers)
{
    Open(64, 48);
    // A surface too large for its ring: the allocation fails.
    record->width = 700000000;
    RayOpen(record);
    RayStart(record);
    for (int frame = 0; frame < 5; ++frame)
        EXPECT_EQ(RayFrame(record), ENTRY_WAIT);
    RayClose(record);
    record->width = 64;
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 64, 48), 0);

    // Back at a sane size it paints again.
    RayOpen(record);
    RayStart(record);
    EXPECT_EQ(RayFrame(record), 0);
    EXPECT_GT(CountDrawn(&surface, 0, 0, 64, 48), 0);
}

}  // namespace
