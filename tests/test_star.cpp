// The Star module on a real 8-bit surface: the tunnel ring, radial streaks
// and respawns without a streak, rotated copies, small sizes drawing strokes,
// tiles and drawing without the view.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/framework.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <math.h>
#include <string.h>
#include <vector>

namespace {

const double PI = 3.14159265358979323846;

enum {
    STARS = 0, SIZE = 1, SPEED = 2, XREV = 3, YREV = 4, ZREV = 5, ROTATION = 6, SIDES = 7,
    TYPE = 8, XTILES = 10, YTILES = 11, TILETYPE = 12, SYMMETRY = 13
};

class StarModule : public ModuleFixture {
protected:
    StarModule() : ModuleFixture({MODULE_STAR, 0, StarStart, StarFrame, StarClose}) {}

    void Open(int w, int h)
    {
        ASSERT_NO_FATAL_FAILURE(OpenSurface(w, h, 1000));
        StarOpen(record);
    }
    double Radius(int x, int y) { return hypot(x - width / 2, y - height / 2); }
    double Angle(int x, int y) { return atan2((double)(y - height / 2), (double)(x - width / 2)); }
};

TEST_F(StarModule, TunnelSpawnsTwentyStarsOnTheRingOfRadius90)
{
    Open(400, 300);
    Set(STARS, 0);
    Set(SPEED, 20);
    Start(51);
    StarFrame(record);
    // Projected from z = 200..350 a ring of radius 90 lies 37.9 to 55.4
    // pixels from the centre; the first streaks run outward from there, at
    // most to 59 pixels (z = 180).
    int pixels = 0, outside = 0;
    int bins[72] = {0};
    GdiFlush();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int entry = Entry(&surface, x, y);
            if (Pixel(&surface, x, y) == 0)
                continue;
            ++pixels;
            EXPECT_EQ(entry, 1);   // the first frame's colour
            double r = Radius(x, y);
            outside += r < 36.5 || r > 59.8;
            int bin = (int)((Angle(x, y) + PI) / (2 * PI) * 72) % 72;
            bins[bin] = 1;
        }
    EXPECT_GT(pixels, 20);
    EXPECT_EQ(outside, 0);
    int directions = 0;
    for (int b : bins)
        directions += b;
    EXPECT_GE(directions, 12);   // twenty stars around the ring
    EXPECT_LE(directions, 40);

    // The colour advances one index a frame.
    ClearTestSurface(&surface);
    StarFrame(record);
    EXPECT_GT(Drawn(), 0);
    GdiFlush();
    for (int y = 0; y < height; y += 1)
        for (int x = 0; x < width; ++x) {
            if (Pixel(&surface, x, y)) {
                ASSERT_EQ(Entry(&surface, x, y), 2);
            }
        }
}

// Longest run of neighbouring one-degree directions (seen from the centre)
// that hold pixels of the given entry, ignoring the inner disc.
static int WidestSpread(const TestSurface* s, int w, int h, int entry, int* count)
{
    int bins[360] = {0};
    *count = 0;
    GdiFlush();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (Entry(s, x, y) != entry)
                continue;
            double dx = x - w / 2, dy = y - h / 2;
            if (hypot(dx, dy) < 30)
                continue;
            ++*count;
            int bin = (int)floor((atan2(dy, dx) + PI) * 180.0 / PI);
            bins[(bin % 360 + 360) % 360] = 1;
        }
    int widest = 0;
    for (int start = 0; start < 360; ++start) {
        int run = 0;
        while (run < 360 && bins[(start + run) % 360])
            ++run;
        widest = run > widest ? run : widest;
    }
    return widest;
}

TEST_F(StarModule, StreaksAreRadialAndARespawnedStarDrawsNoStreak)
{
    // Tunnel stars fly straight at the camera, so every streak points away
    // from the centre. Speed 60 takes all twenty behind the camera within
    // ten frames; a streak drawn at a respawn would cut across directions
    // from the old star's position to the new one.
    Open(1200, 1200);
    Set(STARS, 0);
    Set(SPEED, 60);
    Start(53);
    int framesWithStreaks = 0, innerAfterRespawn = 0;
    for (int frame = 1; frame <= 14; ++frame) {
        StarFrame(record);
        int count = 0;
        int spread = WidestSpread(&surface, width, height, frame, &count);
        framesWithStreaks += count > 0;
        EXPECT_LE(spread, 12) << "frame " << frame;
        if (frame >= 10) {
            // New stars streak again from the ring.
            GdiFlush();
            for (int y = 530; y < 670; ++y)
                for (int x = 530; x < 670; ++x)
                    innerAfterRespawn += Entry(&surface, x, y) == frame;
        }
    }
    EXPECT_GE(framesWithStreaks, 12);
    EXPECT_GT(innerAfterRespawn, 0);
}

TEST_F(StarModule, SymmetryCopiesAreRotationsAboutTheCentre)
{
    Open(240, 240);
    Set(STARS, 30);
    Set(SPEED, 8);
    Set(SYMMETRY, 4);
    Start(57);
    Frames(40);
    int total = 0, misses = 0;
    GdiFlush();
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 240; ++x) {
            if (!Pixel(&surface, x, y))
                continue;
            ++total;
            // RotatePoint by a quarter turn: (u, v) -> (v, -u).
            int rx = 120 + (y - 120), ry = 120 - (x - 120);
            int found = 0;
            for (int dy = -2; dy <= 2 && !found; ++dy)
                for (int dx = -2; dx <= 2 && !found; ++dx) {
                    int px = rx + dx, py = ry + dy;
                    found = px < 0 || py < 0 || px >= 240 || py >= 240 || Pixel(&surface, px, py);
                }
            misses += !found;
        }
    ASSERT_GT(total, 100);
    EXPECT_LE(misses, total / 100);

    // Symmetry 1 draws each streak once: the first of the copies.
    Set(SYMMETRY, 1);
    std::vector<BYTE> once = Run(57, 40);
    Set(SYMMETRY, 4);
    std::vector<BYTE> four = Run(57, 40);
    size_t drawn = 0, covered = 0, extra = 0;
    for (size_t i = 0; i < once.size(); ++i) {
        drawn += once[i] != 0;
        covered += once[i] && four[i];
        extra += !once[i] && four[i];
    }
    ASSERT_GT(drawn, 50u);
    EXPECT_GE(covered, drawn * 95 / 100);   // later copies may overdraw a few
    EXPECT_GT(extra, drawn);
}

TEST_F(StarModule, SizesOneToThreeDrawStrokesWhateverTheSides)
{
    Open(320, 240);
    Set(STARS, 40);
    Set(SPEED, 10);
    for (int size = 1; size <= 3; ++size) {
        Set(SIZE, size);
        Set(SIDES, 1);
        std::vector<BYTE> strokes = Run(61, 20);
        Set(SIDES, 6);
        Set(TYPE, 5);
        std::vector<BYTE> sixSided = Run(61, 20);
        Set(TYPE, 0);
        EXPECT_TRUE(strokes == sixSided) << size;
        size_t n = 0;
        for (BYTE b : strokes)
            n += b != 0;
        EXPECT_GT(n, 100u) << size;
    }
    // Bigger shapes with sides stamp polygons instead of strokes.
    Set(SIZE, 8);
    Set(SIDES, 1);
    std::vector<BYTE> strokes = Run(61, 20);
    Set(SIDES, 6);
    std::vector<BYTE> shapes = Run(61, 20);
    EXPECT_FALSE(strokes == shapes);
    // Wider strokes cover more.
    Set(SIZE, 1);
    Set(SIDES, 1);
    std::vector<BYTE> thin = Run(61, 20);
    Set(SIZE, 3);
    std::vector<BYTE> thick = Run(61, 20);
    size_t thinCount = 0, thickCount = 0;
    for (size_t i = 0; i < thin.size(); ++i) {
        thinCount += thin[i] != 0;
        thickCount += thick[i] != 0;
    }
    EXPECT_GT(thickCount * 10, thinCount * 18);
}

TEST_F(StarModule, TilesRepeatTheStreaksAndTileTypesAlternate)
{
    // The tunnel keeps its streaks near the centre for the first frames, so
    // each tile's copy stays inside its own tile.
    Open(320, 240);
    Set(STARS, 0);
    Set(SPEED, 4);
    Set(XTILES, 2);
    Set(YTILES, 2);
    Set(TILETYPE, 0);
    Run(67, 10);
    ASSERT_GT(CountDrawn(&surface, 0, 0, 160, 120), 20);
    GdiFlush();
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            BYTE b = Pixel(&surface, x, y);
            ASSERT_EQ(Pixel(&surface, x + 160, y), b) << x << "," << y;
            ASSERT_EQ(Pixel(&surface, x, y + 120), b) << x << "," << y;
            ASSERT_EQ(Pixel(&surface, x + 160, y + 120), b) << x << "," << y;
        }
    // At half scale: nothing farther than about 32 pixels from a tile centre.
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 160, 120), CountDrawn(&surface, 40, 20, 120, 100));
    Set(TILETYPE, 2);   // (0, 0) and (1, 1)
    Run(67, 10);
    EXPECT_GT(CountDrawn(&surface, 0, 0, 160, 120), 0);
    EXPECT_GT(CountDrawn(&surface, 160, 120, 320, 240), 0);
    EXPECT_EQ(CountDrawn(&surface, 160, 0, 320, 120), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 120, 160, 240), 0);
}

TEST_F(StarModule, RevolvingFieldAndOddValuesStaySafe)
{
    Open(200, 150);
    Set(STARS, 99);
    Set(SPEED, 60);
    Set(XREV, 99);
    Set(YREV, -99);
    Set(ZREV, 50);
    Set(SIZE, 40);
    Set(SIDES, 10);
    Set(TYPE, 8);
    Start(71);
    Frames(30);
    EXPECT_GT(Drawn(), 0);
    // A live symmetry or tiling of 0 must not divide by zero.
    record->source[SYMMETRY] = 2;
    record->rangeLo[SYMMETRY] = record->rangeHi[SYMMETRY] = 0;
    record->source[XTILES] = 2;
    record->rangeLo[XTILES] = record->rangeHi[XTILES] = 0;
    Frames(5);
    // Without its view the module paints nothing.
    StarClose(record);
    ClearTestSurface(&surface);
    StarStart(record);
    StarFrame(record);
    EXPECT_EQ(Drawn(), 0);
}

// A star that reaches the camera's own plane has no projection (the distance
// to it is zero): it is respawned like one behind the camera, not divided by
// zero and left there.
TEST_F(StarModule, AStarInTheCameraPlaneIsRespawnedNotProjected)
{
    Open(200, 150);
    Set(STARS, 0);   // the tunnel: depths 200 + 150 * draw / 32767
    Set(SPEED, 65);
    Set(XREV, 0);
    Set(YREV, 0);
    Set(ZREV, 0);
    // A seed whose depth draw for one star is 0: that star starts at depth
    // 200 exactly and is at -125, the camera's plane, after five frames.
    unsigned seed = 0;
    int chosen = -1;
    for (unsigned candidate = 1; chosen < 0 && candidate < 200000; ++candidate) {
        SeedRandom(candidate);
        Random();   // the pen's two draws
        Random();
        for (int i = 19; i >= 0 && chosen < 0; --i) {
            Random();
            if (Random() == 0) {
                seed = candidate;
                chosen = i;
            }
        }
    }
    ASSERT_GE(chosen, 0);
    SeedRandom(seed);
    StarStart(record);
    StarView view;
    ViewStars(&view);
    ASSERT_EQ(view.z[chosen], 200.0);
    Frames(4);
    ViewStars(&view);
    ASSERT_EQ(view.z[chosen], -60.0);
    StarFrame(record);
    ViewStars(&view);
    EXPECT_GE(view.z[chosen], 200.0) << "the star in the camera plane was kept at depth " << view.z[chosen];
    EXPECT_LE(view.z[chosen], 350.0);
}

// Every control at its maximum is millions of stamps a frame. In the render
// loop the frame stops drawing copies once its budget is spent: here each
// read of the clock costs 50 ms, so the frame must end after a few copies
// instead of running for minutes.
DWORD budgetClock = 0;
DWORD CostlyClock(void)
{
    return budgetClock += 50;
}

DWORD WINAPI BudgetedFrames(LPVOID parameter)
{
    ModuleRecord* record = (ModuleRecord*)parameter;
    for (int f = 0; f < 3; ++f) {
        StartFrameBudget();
        StarFrame(record);
        EndFrameBudget();
    }
    return 0;
}

TEST_F(StarModule, AFrameFarBeyondItsBudgetStopsDrawingCopies)
{
    Open(320, 200);
    Set(STARS, 99);
    Set(SIZE, 320);
    Set(SPEED, 60);
    Set(SIDES, 10);
    Set(TYPE, 8);
    Set(XTILES, 20);
    Set(YTILES, 20);
    Set(SYMMETRY, 128);
    Begin(5);
    SetTickSource(CostlyClock);
    long cutBefore = framesCutShort;
    HANDLE worker = CreateThread(NULL, 0, BudgetedFrames, record, 0, NULL);
    ASSERT_TRUE(worker != NULL);
    DWORD waited = WaitForSingleObject(worker, 30000);
    if (waited != WAIT_OBJECT_0) {
        ADD_FAILURE() << "three frames at every maximum did not end within 30 s";
        TerminateThread(worker, 1);
    }
    CloseHandle(worker);
    SetTickSource(0);
    UseTestClock(1000);
    EXPECT_GE(framesCutShort, cutBefore + 2) << "the frames were not cut short";
    EXPECT_GT(Drawn(), 0) << "nothing drawn before the budget ran out";
}

}  // namespace
