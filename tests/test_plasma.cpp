// The Plasma module on a real 8-bit surface: progressive redraws, the
// finished picture, its hold, clamped midpoints and the tile placement.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "runtime/common.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <vector>

namespace {

enum { ROUGHNESS = 0, UPDATE_INTERVAL = 1, SYMMETRY = 2, DURATION = 3, X_TILING = 10, Y_TILING = 11,
       TILE_TYPE = 12 };

class Plasma : public ModuleFixture {
protected:
    Plasma() : ModuleFixture({MODULE_PLASMA, 0, PlasmaStart, PlasmaFrame, PlasmaClose}) {}

    void Open(int w, int h)
    {
        ASSERT_NO_FATAL_FAILURE(OpenSurface(w, h, 1000));
        // Slot 2 is the finishing symmetry; a negative mode changes nothing,
        // so the picture on screen is the computed one.
        record->value[SYMMETRY] = -1;
    }
    std::vector<int> Entries()
    {
        std::vector<int> entries((size_t)width * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                entries[(size_t)y * width + x] = SurfaceEntry(&surface, x, y);
        return entries;
    }
    // Runs frames until something is drawn; the frame count, or -1.
    int FramesUntilDrawn(int limit)
    {
        for (int frame = 1; frame <= limit; ++frame) {
            PlasmaFrame(record);
            if (Drawn())
                return frame;
        }
        return -1;
    }
    // How many source columns a drawn picture shows: a column that differs
    // from its left neighbour starts a new magnified source column.
    int DistinctColumns(int left, int right)
    {
        int count = 1;
        for (int x = left + 1; x < right; ++x) {
            for (int y = 0; y < height; ++y)
                if (SurfaceEntry(&surface, x, y) != SurfaceEntry(&surface, x - 1, y)) {
                    ++count;
                    break;
                }
        }
        return count;
    }
};

TEST_F(Plasma, FirstProgressiveRedrawWaitsForProgressAboveSixtyTwo)
{
    Open(256, 256);
    record->value[ROUGHNESS] = 60;
    Begin(4242);
    int frame = FramesUntilDrawn(400);
    ASSERT_GT(frame, 1) << "no redraw before the top-left square has grown";
    // Depth-first subdivision completes the top-left square in steps of
    // 2^k + 1 pixels: the first redraw shows the 65-pixel square magnified.
    int columns = DistinctColumns(0, width);
    EXPECT_GT(columns, 62);
    EXPECT_LE(columns, 65);
    // Only computed pixels are shown: the magnified square is the finished
    // top-left corner, not the still empty rest.
    std::vector<int> entries = Entries();
    int zero = 0;
    for (int e : entries)
        zero += e == 0;
    EXPECT_LT(zero, (int)entries.size() / 50);
    EXPECT_EQ(Drawn(), width * height);
}

TEST_F(Plasma, FinishedPictureWaitsForTheUpdateIntervalThenHolds)
{
    Open(256, 256);
    record->value[ROUGHNESS] = 60;
    record->value[UPDATE_INTERVAL] = 4;
    record->value[DURATION] = 7;
    Begin(99);
    ASSERT_GT(FramesUntilDrawn(400), 0);
    std::vector<int> partial = Entries();

    // The picture completes well within 300 frames, but nothing is redrawn
    // before the interval has passed.
    for (int frame = 0; frame < 300; ++frame)
        PlasmaFrame(record);
    EXPECT_TRUE(Entries() == partial);
    testNow = 1000 + 4000;
    PlasmaFrame(record);
    EXPECT_TRUE(Entries() == partial) << "the deadline passes only when the tick count is beyond it";
    testNow = 1000 + 4001;
    PlasmaFrame(record);
    std::vector<int> finished = Entries();
    EXPECT_FALSE(finished == partial);
    EXPECT_GT(DistinctColumns(0, width), 200) << "the whole tile at full resolution";

    // Held for Image Duration: nothing is computed or drawn meanwhile.
    ClearTestSurface(&surface);
    for (int frame = 0; frame < 400; ++frame)
        EXPECT_EQ(PlasmaFrame(record), 0);
    testNow = 1000 + 4001 + 7000;
    for (int frame = 0; frame < 50; ++frame)
        PlasmaFrame(record);
    EXPECT_EQ(Drawn(), 0);
    testNow = 1000 + 4001 + 7001;
    EXPECT_GT(FramesUntilDrawn(400), 0) << "the next picture resumes after the hold";
    EXPECT_FALSE(Entries() == finished);
}

TEST_F(Plasma, SmallPictureIsShownWholeWhenFinished)
{
    Open(64, 48);
    Begin(7);
    int frame = FramesUntilDrawn(20);
    ASSERT_GT(frame, 0);
    // 48 rows never give progress above 62: the only redraw is the finished one.
    EXPECT_GT(DistinctColumns(0, width), 40);
    EXPECT_EQ(Drawn(), width * height);
}

TEST_F(Plasma, MidpointsClampToFiveAndTwoHundredThirtyOne)
{
    // Maximal roughness displaces long edges far beyond the palette; the
    // clamped values stand out as spikes in the pictures' histogram.
    Open(128, 128);
    record->value[ROUGHNESS] = 99;
    long histogram[236] = {0};
    for (unsigned seed = 1; seed <= 12; ++seed) {
        ClearTestSurface(&surface);
        Begin(seed * 7919);
        ASSERT_GT(FramesUntilDrawn(200), 0);
        for (int e : Entries()) {
            ASSERT_GE(e, 0);
            ++histogram[e];
        }
        PlasmaClose(record);
    }
    EXPECT_GT(histogram[5], histogram[4] * 2);
    EXPECT_GT(histogram[5], histogram[6]);
    EXPECT_GT(histogram[231], histogram[232] * 3);
    EXPECT_GT(histogram[231], histogram[230] * 3 / 2);
    // Never the nearest bound.
    EXPECT_LT(histogram[235], histogram[231] / 2);
    EXPECT_LT(histogram[0], histogram[5] / 4);
}

TEST_F(Plasma, TileTypeOnePaintsTheSecondColumnMirrored)
{
    Open(128, 64);
    record->value[X_TILING] = 2;
    record->value[TILE_TYPE] = 1;
    Begin(11);
    ASSERT_GT(FramesUntilDrawn(20), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 64, 64), 0);
    EXPECT_EQ(CountDrawn(&surface, 64, 0, 128, 64), 64 * 64);
    PlasmaClose(record);

    // On 1 x 1 tiling the second column lies outside the surface.
    ClearTestSurface(&surface);
    record->value[X_TILING] = 1;
    Begin(11);
    for (int frame = 0; frame < 20; ++frame)
        PlasmaFrame(record);
    EXPECT_EQ(Drawn(), 0);
}

TEST_F(Plasma, TwoByTwoTilesFormAKaleidoscope)
{
    Open(128, 96);
    record->value[X_TILING] = 2;
    record->value[Y_TILING] = 2;
    Begin(13);
    ASSERT_GT(FramesUntilDrawn(20), 0);
    int tw = 64, th = 48, wrong = 0;
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            int source = SurfaceEntry(&surface, x, y);
            wrong += SurfaceEntry(&surface, 2 * tw - 1 - x, y) != source;
            wrong += SurfaceEntry(&surface, x, 2 * th - 1 - y) != source;
            wrong += SurfaceEntry(&surface, 2 * tw - 1 - x, 2 * th - 1 - y) != source;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(DistinctColumns(0, tw), 30);
}

TEST_F(Plasma, NoBuffersNoPicture)
{
    Open(64, 48);
    // A picture far too large for the address space.
    record->width = 60000;
    record->height = 60000;
    Begin(1);
    for (int frame = 0; frame < 20; ++frame)
        EXPECT_EQ(PlasmaFrame(record), 0);
    EXPECT_EQ(Drawn(), 0);

    // More tiles than pixels, and tile counts outside their limits.
    record->width = 64;
    record->height = 48;
    record->value[X_TILING] = 100;
    Begin(1);
    for (int frame = 0; frame < 5; ++frame)
        PlasmaFrame(record);
    EXPECT_EQ(Drawn(), 0);
    record->value[X_TILING] = 0;
    record->value[Y_TILING] = -2;
    Begin(1);
    EXPECT_GT(FramesUntilDrawn(20), 0);

    // A later start with room for the picture paints again.
    ClearTestSurface(&surface);
    record->value[X_TILING] = 1;
    record->value[Y_TILING] = 1;
    PlasmaClose(record);
    Begin(1);
    EXPECT_GT(FramesUntilDrawn(20), 0);
}

TEST_F(Plasma, PortraitTileFinishes)
{
    // Progress along the diagonal stops at the tile's width, so a portrait
    // tile is shown only when finished.
    Open(24, 160);
    Begin(17);
    ASSERT_GT(FramesUntilDrawn(400), 0);
    EXPECT_EQ(Drawn(), 24 * 160);
    EXPECT_GT(DistinctColumns(0, width), 20);
}

}  // namespace
