// The Vortex module on a real 8-bit surface: the bands it paints, tiling,
// the hold after the collapse and the per-frame controls.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "modules/vortex.h"
#include "runtime/common.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <set>
#include <string.h>
#include <vector>

namespace {

const int W = 160, H = 120;

class Vortex : public ModuleFixture {
protected:
    Vortex() : ModuleFixture({MODULE_VORTEX, 0, VortexStart, VortexFrame, VortexClose}) {}

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenSurface(W, H, 100000));
        SeedRandom(4242);
    }

    std::set<int> Colours(int left, int top, int right, int bottom)
    {
        std::set<int> seen;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                int entry = SurfaceEntry(&surface, x, y);
                if (entry >= 0)
                    seen.insert(entry);
            }
        return seen;
    }
    // Starts a vortex and lets it shrink until the whole ring lies inside
    // the surface; returns the colour offset the next frame paints with.
    int StartAndShrink(int frames)
    {
        VortexStart(record);
        for (int f = 0; f < frames; ++f)
            EXPECT_EQ(VortexFrame(record), ENTRY_WAIT);
        ClearTestSurface(&surface);
        return frames + 1;
    }
};

TEST_F(Vortex, OneBandPerPointPerAdmittedTile)
{
    record->value[0] = 12;   // Points on edge
    record->value[4] = 0;    // Type: colour = point number
    int offset = StartAndShrink(8);
    EXPECT_EQ(VortexFrame(record), ENTRY_WAIT);
    std::set<int> expected;
    for (int d = 0; d < 12; ++d)
        expected.insert((d + offset) % 236);
    // N bands, the last one joining point N - 1 back to point 0.
    EXPECT_EQ(Colours(0, 0, W, H), expected);

    // 2 x 2 tiles, all admitted: every quarter holds the whole ring.
    record->value[10] = 2;
    record->value[11] = 2;
    offset = StartAndShrink(8);
    VortexFrame(record);
    expected.clear();
    for (int d = 0; d < 12; ++d)
        expected.insert((d + offset) % 236);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            EXPECT_EQ(Colours(i * W / 2, j * H / 2, (i + 1) * W / 2, (j + 1) * H / 2), expected)
                << "tile " << i << "," << j;

    // Tile Type 2: only tiles with i + j even are drawn.
    record->value[12] = 2;
    StartAndShrink(8);
    VortexFrame(record);
    EXPECT_EQ(Colours(0, 0, W / 2, H / 2).size(), 12u);
    EXPECT_EQ(Colours(W / 2, H / 2, W, H).size(), 12u);
    EXPECT_EQ(CountDrawn(&surface, W / 2, 0, W, H / 2), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, H / 2, W / 2, H), 0);

    // Tile Type 1: the checkerboard without the top-left tile.
    record->value[12] = 1;
    StartAndShrink(8);
    VortexFrame(record);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, W / 2, H / 2), 0);
    EXPECT_EQ(CountDrawn(&surface, W / 2, H / 2, W, H), 0);
    EXPECT_EQ(Colours(W / 2, 0, W, H / 2).size(), 12u);
    EXPECT_EQ(Colours(0, H / 2, W / 2, H).size(), 12u);
}

TEST_F(Vortex, ColourTypesChangeOnlyOddPoints)
{
    const int n = 10;
    // Point colours by type for d = 0..9 (even points keep d).
    const int table[6][n] = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
        {0, 9, 2, 7, 4, 5, 6, 3, 8, 1},
        {0, 21, 2, 23, 4, 25, 6, 27, 8, 29},
        {0, 1, 2, 9, 4, 25, 6, 49, 8, 81},
        {0, 0, 2, 1, 4, 2, 6, 3, 8, 4},
        {0, 2, 2, 6, 4, 10, 6, 14, 8, 18},
    };
    record->value[0] = n;
    for (int type = 0; type <= 5; ++type) {
        record->value[4] = type;
        int offset = StartAndShrink(9);
        VortexFrame(record);
        std::set<int> expected;
        for (int d = 0; d < n; ++d)
            expected.insert((table[type][d] + offset) % 236);
        EXPECT_EQ(Colours(0, 0, W, H), expected) << "type " << type;
    }
}

TEST_F(Vortex, StrengthAboveOneDoesNotSpeedItUp)
{
    std::vector<BYTE> pictures[2];
    const int strengths[2] = {1, 5};
    for (int run = 0; run < 2; ++run) {
        SeedRandom(777);
        ClearTestSurface(&surface);
        record->frame = VortexFrame;
        record->value[SLOT_STRENGTH] = strengths[run];
        VortexStart(record);
        for (unsigned int frame = 1; frame <= 6; ++frame)
            EXPECT_EQ(RunFrameEntry(record, frame), 1) << "strength " << strengths[run];
        pictures[run] = Snapshot();
    }
    EXPECT_GT(CountDrawn(&surface, 0, 0, W, H), 0);
    EXPECT_TRUE(pictures[0] == pictures[1]);
}

TEST_F(Vortex, HoldsTheFinishedPictureForImageDuration)
{
    record->value[3] = 2;    // Image Duration, seconds
    DWORD t = testNow;
    VortexStart(record);
    // 100 px of radius at about 5 px per update: collapsed well within 60.
    for (int f = 0; f < 60; ++f)
        ASSERT_EQ(VortexFrame(record), ENTRY_WAIT);
    std::vector<BYTE> finished = Snapshot();
    EXPECT_GT(CountDrawn(&surface, 0, 0, W, H), W * H / 2);

    testNow = t + 2000;
    EXPECT_EQ(VortexFrame(record), ENTRY_WAIT);
    testNow = t + 2001;
    EXPECT_EQ(VortexFrame(record), 0);       // a new vortex begins
    EXPECT_TRUE(Snapshot() == finished);       // nothing erased, nothing drawn yet
    ClearTestSurface(&surface);
    EXPECT_EQ(VortexFrame(record), ENTRY_WAIT);
    // The new ring starts again at the half-diagonal: an outer band only.
    EXPECT_GT(CountDrawn(&surface, 0, 0, W, H), 0);
    EXPECT_EQ(CountDrawn(&surface, W / 4, H / 4, 3 * W / 4, 3 * H / 4), 0);

    // Image Duration 0: the first frame whose tick is past the last drawing.
    record->value[3] = 0;
    VortexStart(record);
    t = testNow;
    for (int f = 0; f < 60; ++f)
        ASSERT_EQ(VortexFrame(record), ENTRY_WAIT);
    testNow = t + 1;
    EXPECT_EQ(VortexFrame(record), 0);
}

TEST_F(Vortex, LiveControlsAreReadEveryFrame)
{
    DWORD t = testNow;
    record->value[3] = 1;
    VortexStart(record);
    for (int f = 0; f < 4; ++f)
        VortexFrame(record);
    testNow = t + 1001;
    EXPECT_EQ(VortexFrame(record), ENTRY_WAIT);   // 5 px per update: still shrinking

    // "Collapse Rate" oscillating over 40..40 is 40 px per update: the
    // 100 px ring is gone after three updates.
    record->source[5] = 2;
    record->rangeLo[5] = 40;
    record->rangeHi[5] = 40;
    t = testNow;
    VortexStart(record);
    for (int f = 0; f < 4; ++f)
        VortexFrame(record);
    testNow = t + 1001;
    EXPECT_EQ(VortexFrame(record), 0);
    record->source[5] = 0;
    record->value[5] = 5;    // the start drew it from the 40..40 range

    // Live tiling takes effect on the next frame without a restart.
    record->value[0] = 12;
    record->value[4] = 0;
    StartAndShrink(8);
    record->source[10] = 2;
    record->rangeLo[10] = record->rangeHi[10] = 2;
    record->source[11] = 2;
    record->rangeLo[11] = record->rangeHi[11] = 2;
    VortexFrame(record);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            EXPECT_EQ(Colours(i * W / 2, j * H / 2, (i + 1) * W / 2, (j + 1) * H / 2).size(), 12u)
                << "tile " << i << "," << j;
}

// Copying the first tile into the others paints the very bytes of drawing
// every tile: later tiles over earlier ones where the ring overlaps its
// cell, at the surface's edges, and around a box the clip region keeps out.
TEST_F(Vortex, CopiedTilesPaintWhatDrawnTilesPaint)
{
    ASSERT_NO_FATAL_FAILURE(OpenSurface(317, 203, 100000));
    struct Case {
        int points, type, xTiles, yTiles, tileType, collapse;
    } cases[] = {{12, 0, 2, 3, 0, 5}, {60, 3, 4, 4, 1, 9}, {199, 5, 20, 20, 0, 50},
                 {7, 1, 3, 2, 2, 2}, {33, 2, 5, 1, 3, 20}, {2, 4, 1, 2, 0, 30}};
    long copiedBefore = vortexCopiedFrames;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "points " << c.points << " tiles " << c.xTiles << "x" << c.yTiles
                                        << " type " << c.tileType);
        std::vector<BYTE> pictures[2];
        for (int copied = 0; copied <= 1; ++copied) {
            vortexTileCopies = copied;
            Set(0, c.points);
            Set(4, c.type);
            Set(5, c.collapse);
            Set(7, 300);                       // Flux Amplitude: a ring well over its cell
            Set(10, c.xTiles);
            Set(11, c.yTiles);
            Set(12, c.tileType);
            ClearTestSurface(&surface);
            ExcludeClipRect(surface.surface.dc, 100, 40, 180, 90);
            SeedRandom(99 + c.points);
            VortexStart(record);
            for (int f = 0; f < 12; ++f)
                VortexFrame(record);
            pictures[copied] = Snapshot();
            SelectClipRgn(surface.surface.dc, NULL);
            VortexClose(record);
        }
        vortexTileCopies = 1;
        EXPECT_GT(Drawn(), 500);
        EXPECT_EQ(CountDrawn(&surface, 100, 40, 180, 90), 0) << "drawn inside the clipped box";
        int differ = 0;
        for (size_t i = 0; i < pictures[0].size(); ++i)
            differ += pictures[0][i] != pictures[1][i];
        EXPECT_EQ(differ, 0);
    }
    EXPECT_GT(vortexCopiedFrames, copiedBefore) << "no tile was ever copied";
}

}  // namespace
