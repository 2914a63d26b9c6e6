// The Bezier module on a real 8-bit surface: trails erased by replay, the
// walking colour, curve counts, symmetry, tiling and restarts.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <string.h>
#include <vector>

namespace {

enum { BEZIERS = 0, SYMMETRY = 1, TRAIL = 2, WIDTH = 3, SPEED = 4, DURATION = 5, X_TILING = 6, Y_TILING = 7,
       TILE_TYPE = 8 };

class Bezier : public ModuleFixture {
protected:
    Bezier() : ModuleFixture({MODULE_BEZIER, BezierOpen, BezierStart, BezierFrame, BezierClose}) {}

    void Open(int w, int h) { OpenSurface(w, h, 1000); }
    // Width by height bytes, without the row padding.
    std::vector<BYTE> Snapshot()
    {
        GdiFlush();
        std::vector<BYTE> bytes((size_t)width * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bytes[(size_t)y * width + x] = surface.surface.bits[y * surface.surface.stride + x];
        return bytes;
    }
    static int Drawn(const std::vector<BYTE>& bytes)
    {
        int count = 0;
        for (BYTE b : bytes)
            count += b != 0;
        return count;
    }
};

TEST_F(Bezier, ShortTrailKeepsExactlyTheLastThreeFrames)
{
    Open(160, 120);
    record->value[TRAIL] = 1;
    record->value[SYMMETRY] = 1;
    record->value[WIDTH] = 3;
    record->value[BEZIERS] = 4;
    Begin(77);
    Frames(60);
    std::vector<BYTE> trail = Snapshot();
    BezierClose(record);

    // The same figure with a never-erasing trail: frames 58..60 only.
    ClearTestSurface(&surface);
    record->value[TRAIL] = 100;
    Begin(77);
    Frames(57);
    ClearTestSurface(&surface);
    Frames(3);
    std::vector<BYTE> lastThree = Snapshot();

    int kept = 0, stray = 0, mismatched = 0;
    for (size_t i = 0; i < trail.size(); ++i) {
        if (!trail[i])
            continue;
        ++kept;
        if (!lastThree[i])
            ++stray;
        else if (trail[i] != lastThree[i])
            ++mismatched;
    }
    EXPECT_EQ(stray, 0) << "pixels of older frames survived the replay";
    EXPECT_EQ(mismatched, 0);
    // The black replay only punches small holes where old and new curves cross.
    EXPECT_GT(kept, Drawn(lastThree) * 6 / 10);
    EXPECT_GT(kept, 100);
}

TEST_F(Bezier, DefaultTrailNeverErases)
{
    Open(160, 120);
    record->value[SYMMETRY] = 1;
    record->value[WIDTH] = 2;
    Begin(5);
    Frames(1);
    std::vector<BYTE> first = Snapshot();
    ASSERT_GT(Drawn(first), 20);
    Frames(450);   // well past the 300-record ring
    std::vector<BYTE> later = Snapshot();
    int lost = 0;
    for (size_t i = 0; i < first.size(); ++i)
        lost += first[i] && !later[i];
    EXPECT_EQ(lost, 0);
    EXPECT_GT(Drawn(later), Drawn(first) * 5);
}

TEST_F(Bezier, ColourWalksUpAndDownThePalette)
{
    Open(200, 150);
    record->value[SYMMETRY] = 1;
    record->value[WIDTH] = 1;
    record->value[BEZIERS] = 20;
    Begin(9);
    int checked = 0;
    for (int frame = 1; frame <= 520; ++frame) {
        ClearTestSurface(&surface);
        BezierFrame(record);
        int expected = frame <= 235 ? frame : (frame <= 470 ? 470 - frame : frame - 470);
        int seen[236] = {0};
        int other = 0;
        std::vector<BYTE> bytes = Snapshot();
        for (size_t i = 0; i < bytes.size(); ++i) {
            BYTE b = bytes[i];
            if (b >= STATIC_LOW && b < STATIC_LOW + 236)
                ++seen[b - STATIC_LOW];
            else if (b != 0)
                ++other;
        }
        ASSERT_EQ(other, 0);
        int distinct = 0;
        for (int i = 0; i < 236; ++i)
            distinct += seen[i] != 0;
        if (distinct == 0)
            continue;   // every curve outside the surface this frame
        ++checked;
        ASSERT_EQ(distinct, 1) << "frame " << frame;
        ASSERT_GT(seen[expected], 0) << "frame " << frame;
    }
    EXPECT_GT(checked, 500);
}

TEST_F(Bezier, CurveCountFollowsBeziers)
{
    Open(160, 120);
    std::vector<BYTE> pictures[4];
    for (int n = 1; n <= 3; ++n) {
        ClearTestSurface(&surface);
        record->value[BEZIERS] = n;
        record->value[SYMMETRY] = 1;
        record->value[WIDTH] = 1;
        Begin(31);
        Frames(5);
        pictures[n] = Snapshot();
        BezierClose(record);
    }
    // One and two draw the same single curve of points 0-3 (the points of a
    // set are drawn four random numbers each, so the first four agree).
    EXPECT_TRUE(pictures[1] == pictures[2]);
    int extra = 0, missing = 0;
    for (size_t i = 0; i < pictures[1].size(); ++i) {
        missing += pictures[1][i] && !pictures[3][i];
        extra += pictures[3][i] && !pictures[1][i];
    }
    EXPECT_EQ(missing, 0);
    EXPECT_GT(extra, 20) << "three curves add the curve of points 2-5";
}

TEST_F(Bezier, SymmetryTwoAddsTheHalfTurnedCopy)
{
    Open(160, 120);
    int mirrored[3] = {0, 0, 0};
    int drawn[3] = {0, 0, 0};
    for (int s = 1; s <= 2; ++s) {
        ClearTestSurface(&surface);
        record->value[SYMMETRY] = s;
        record->value[WIDTH] = 1;
        record->value[BEZIERS] = 3;
        Begin(44);
        Frames(4);
        for (int y = 2; y < height - 2; ++y)
            for (int x = 2; x < width - 2; ++x) {
                if (!SurfaceByte(&surface, x, y))
                    continue;
                ++drawn[s];
                int mx = 2 * (width >> 1) - x, my = 2 * (height >> 1) - y;
                int found = 0;
                for (int dy = -2; dy <= 2 && !found; ++dy)
                    for (int dx = -2; dx <= 2 && !found; ++dx) {
                        int px = mx + dx, py = my + dy;
                        if (px >= 0 && py >= 0 && px < width && py < height && SurfaceByte(&surface, px, py))
                            found = 1;
                    }
                mirrored[s] += found;
            }
        BezierClose(record);
    }
    ASSERT_GT(drawn[1], 50);
    EXPECT_GT(mirrored[2], drawn[2] * 97 / 100);
    EXPECT_LT(mirrored[1], drawn[1] * 50 / 100) << "the single copy is not point symmetric";
    EXPECT_GT(drawn[2], drawn[1] * 3 / 2);
}

TEST_F(Bezier, TileTypeOneDrawsOnlyTilesWithOddColumnPlusRow)
{
    Open(600, 400);
    record->value[X_TILING] = 3;
    record->value[Y_TILING] = 2;
    record->value[TILE_TYPE] = 1;
    record->value[SYMMETRY] = 1;
    record->value[WIDTH] = 1;
    record->value[BEZIERS] = 20;
    Begin(3);
    Frames(150);
    // A tile's curves may reach (width + 41) / tiles pixels beyond it, so
    // only the inner part of each tile is judged.
    const int marginX = 16, marginY = 22;
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column) {
            int left = column * 200 + marginX, top = row * 200 + marginY;
            int count = CountDrawn(&surface, left, top, left + 200 - 2 * marginX, top + 200 - 2 * marginY);
            if ((column + row) & 1)
                EXPECT_GT(count, 300) << "tile " << column << "," << row;
            else
                EXPECT_EQ(count, 0) << "tile " << column << "," << row;
        }
}

TEST_F(Bezier, RestartErasesAShortTrailButKeepsTheEndlessOne)
{
    Open(160, 120);
    record->value[TRAIL] = 2;
    record->value[DURATION] = 1;
    record->value[SYMMETRY] = 1;
    Begin(12);
    Frames(20);
    ASSERT_GT(CountDrawn(&surface, 0, 0, width, height), 50);
    testNow = 1000 + 1000;   // not yet past the deadline
    Frames(1);
    ASSERT_GT(CountDrawn(&surface, 0, 0, width, height), 50);
    testNow = 1000 + 1001;
    Frames(1);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, width, height), 0) << "the whole trail is replayed in black";
    Frames(1);
    EXPECT_GT(CountDrawn(&surface, 0, 0, width, height), 0) << "a new figure starts";
    BezierClose(record);

    ClearTestSurface(&surface);
    record->value[TRAIL] = 100;
    testNow = 1000;
    Begin(12);
    Frames(20);
    std::vector<BYTE> before = Snapshot();
    testNow = 1000 + 1001;
    Frames(1);
    std::vector<BYTE> after = Snapshot();
    int lost = 0;
    for (size_t i = 0; i < before.size(); ++i)
        lost += before[i] && !after[i];
    EXPECT_EQ(lost, 0);
}

TEST_F(Bezier, StopErasesTheTrailOnResetOnly)
{
    Open(160, 120);
    record->value[TRAIL] = 5;
    record->value[SYMMETRY] = 1;
    record->value[BEZIERS] = 8;
    Begin(21);
    Frames(30);
    ASSERT_GT(CountDrawn(&surface, 0, 0, width, height), 50);
    BezierClose(record);   // a reset: the render loop is still running
    EXPECT_EQ(CountDrawn(&surface, 0, 0, width, height), 0);

    Begin(21);
    Frames(30);
    int drawn = CountDrawn(&surface, 0, 0, width, height);
    renderRunning = 0;     // shutdown: the picture stays
    BezierClose(record);
    renderRunning = 1;
    EXPECT_EQ(CountDrawn(&surface, 0, 0, width, height), drawn);
}

TEST_F(Bezier, PointsThatWouldLeaveTheBounceBoxStayPut)
{
    // At 320 pixels a frame every step would cross the box of a 40 x 30
    // surface (-52 to 92 across): the points only reverse, and every frame
    // draws the very same curves.
    Open(40, 30);
    record->value[SPEED] = 320;
    record->value[SYMMETRY] = 1;
    record->value[WIDTH] = 1;
    record->value[BEZIERS] = 4;
    Begin(8);
    Frames(1);
    std::vector<BYTE> first = Snapshot();
    ASSERT_GT(Drawn(first), 10);
    for (int frame = 0; frame < 30; ++frame) {
        ClearTestSurface(&surface);
        Frames(1);
        std::vector<BYTE> now = Snapshot();
        int moved = 0;
        for (size_t i = 0; i < now.size(); ++i)
            moved += (now[i] != 0) != (first[i] != 0);
        ASSERT_EQ(moved, 0) << "frame " << frame;
    }
    BezierClose(record);

    // At the default speed the same curves move away.
    ClearTestSurface(&surface);
    record->value[SPEED] = 4;
    Begin(8);
    Frames(1);
    first = Snapshot();
    ClearTestSurface(&surface);
    Frames(5);
    std::vector<BYTE> later = Snapshot();
    int moved = 0;
    for (size_t i = 0; i < later.size(); ++i)
        moved += (later[i] != 0) != (first[i] != 0);
    EXPECT_GT(moved, 10);
}

TEST_F(Bezier, NoRingNoPaintingAndOddValuesAreSafe)
{
    Open(64, 48);
    SeedRandom(2);
    BezierStart(record);   // never opened: no history ring
    Frames(10);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, width, height), 0);

    // Values outside the table's limits must not crash or divide by zero.
    record->value[X_TILING] = 0;
    record->value[Y_TILING] = -3;
    record->value[SYMMETRY] = 0;
    record->value[BEZIERS] = 500;
    record->value[TRAIL] = 0;
    Begin(2);
    Frames(10);
    BezierClose(record);
    record->value[SYMMETRY] = 1;
    record->value[X_TILING] = 1;
    record->value[Y_TILING] = 1;
    CloseTestSurface(&surface);
    Open(4, 4);
    Begin(2);
    Frames(10);
    SUCCEED();
}

}  // namespace
