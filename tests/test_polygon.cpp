// The Polygon module on a real 8-bit surface: palette walk and outline
// colour, the bounce rule at the border, the speed limit, rotated copies,
// tiles and the restart after 100 seconds.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "modules/polygon.h"
#include "runtime/common.h"
#include "support/harness.h"
#include "support/meters.h"
#include "support/module_fixture.h"
#include <math.h>
#include <string.h>
#include <vector>

namespace {

enum { VERTICES = 0, SYMMETRY = 1, SPEED = 2, OUTLINE = 3, XTILES = 4, YTILES = 5, TILETYPE = 6 };

struct DirectCase {
    int vertices, symmetry, xTiles, yTiles, tileType, outline;
};

// Symmetry 1, 2, 7 and 50 with 1, 2 x 3 and 20 x 20 tiles, every tile
// type, the outline on and off and 2, 3 and 20 vertices spread over them.
static std::vector<DirectCase> DirectCases()
{
    const int symmetries[] = {1, 2, 7, 50};
    const int tiles[][2] = {{1, 1}, {2, 3}, {20, 20}};
    const int vertices[] = {2, 3, 20};
    std::vector<DirectCase> cases;
    int n = 0;
    for (int s = 0; s < 4; ++s)
        for (int t = 0; t < 3; ++t)
            for (int type = 0; type < 4; ++type, ++n)
                cases.push_back({vertices[n % 3], symmetries[s], tiles[t][0], tiles[t][1], type, (n / 3) % 2});
    return cases;
}

class PolygonModule : public ModuleFixture {
protected:
    PolygonModule() : ModuleFixture({MODULE_POLYGON, 0, PolygonStart, PolygonFrame, PolygonClose}) {}

    void Open(int w, int h) { OpenSurface(w, h, 5000); }

    // A background that is neither black nor a fill colour, so that every
    // pixel a path leaves alone must be left exactly as it was.
    void PaintBackground()
    {
        GdiFlush();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                surface.surface.bits[y * surface.surface.stride + x] = (BYTE)((x * 7 + y * 13) & 0xFF);
    }

    // The picture after `frames` frames from the seed on the background, drawn
    // the direct way or through GDI; `box`, when given, is kept out of the
    // clip region as the overlay keeps its shown boxes. `directFrames`
    // receives how many frame entries took the direct way.
    std::vector<BYTE> Paint(int directWay, unsigned seed, int frames, const RECT* box, long* directFrames)
    {
        polygonDirectTiles = directWay;
        int minimum = polygonDirectMinimum;
        polygonDirectMinimum = 2;   // every frame with two tiles or more goes the direct way
        PaintBackground();
        if (box)
            ExcludeClipRect(surface.surface.dc, box->left, box->top, box->right, box->bottom);
        long before = polygonDirectFrames;
        Start(seed);
        Frames(frames);
        *directFrames = polygonDirectFrames - before;
        SelectClipRgn(surface.surface.dc, NULL);
        polygonDirectTiles = 1;
        polygonDirectMinimum = minimum;
        return Snapshot();
    }

    // Both ways from the same seed; fails at the first differing pixel.
    // Returns how many frame entries went the direct way; `shown` receives
    // how many pixels the frames changed.
    long SamePicture(unsigned seed, int frames, const RECT* box, const char* what, int* shown)
    {
        long direct = 0, gdi = 0;
        std::vector<BYTE> fast = Paint(1, seed, frames, box, &direct);
        std::vector<BYTE> slow = Paint(0, seed, frames, box, &gdi);
        EXPECT_EQ(gdi, 0) << what;
        int stride = surface.surface.stride;
        *shown = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                size_t at = (size_t)y * stride + x;
                BYTE background = (BYTE)((x * 7 + y * 13) & 0xFF);
                *shown += slow[at] != background;
                if (fast[at] != slow[at]) {
                    ADD_FAILURE() << what << ": pixel " << x << "," << y << " direct " << (int)fast[at] << ", GDI "
                                  << (int)slow[at];
                    return direct;
                }
                if (box && x >= box->left && x < box->right && y >= box->top && y < box->bottom &&
                    fast[at] != background) {
                    ADD_FAILURE() << what << ": painted inside the kept-out box at " << x << "," << y;
                    return direct;
                }
            }
        return direct;
    }

    // Every case on the open surface, a few frames each (the colour walks),
    // every other case with a box kept out of the clip region.
    void CompareCases(unsigned seedBase)
    {
        std::vector<DirectCase> cases = DirectCases();
        RECT box = {width / 5, height / 4, width / 5 + 97, height / 4 + 61};
        long direct = 0, repeatedBefore = polygonRepeatedFrames;
        int expected = 0, blank = 0, compared = 0;
        for (size_t n = 0; n < cases.size(); ++n) {
            const DirectCase& c = cases[n];
            Set(VERTICES, c.vertices);
            Set(SYMMETRY, c.symmetry);
            Set(SPEED, 61);   // fast, so the vertices soon spread and copies overlap
            Set(OUTLINE, c.outline);
            Set(XTILES, c.xTiles);
            Set(YTILES, c.yTiles);
            Set(TILETYPE, c.tileType);
            char what[160];
            snprintf(what, sizeof(what), "%dx%d vertices %d symmetry %d tiles %dx%d type %d outline %d box %d", width,
                     height, c.vertices, c.symmetry, c.xTiles, c.yTiles, c.tileType, c.outline, (int)(n % 2));
            int admitted = 0;
            for (int i = 0; i < c.xTiles; ++i)
                for (int j = 0; j < c.yTiles; ++j)
                    admitted += TileAdmitted(i, j, c.tileType);
            if (admitted == 0)
                continue;   // type 1 of a single tile: nothing to draw
            int frames = 8;
            int shown = 0;
            direct += SamePicture(seedBase + (unsigned)n, frames, n % 2 ? &box : 0, what, &shown);
            ++compared;
            blank += shown == 0;
            // A single tile is drawn through GDI.
            if (admitted > 1)
                expected += frames;
            if (HasFailure())
                return;
        }
        // The comparisons are only worth something where the direct way ran.
        EXPECT_EQ(direct, expected);
        EXPECT_GT(expected, 100);
        // A two-vertex line in a tiny tile may shrink to a point, drawing
        // nothing; the comparisons must mostly have something to compare.
        EXPECT_LE(blank, compared / 10);
        // Many tiles repeat one block inside the border tiles.
        EXPECT_GT(polygonRepeatedFrames - repeatedBefore, 20);
    }
};



TEST_F(PolygonModule, FillWalksThePaletteAndOutlineUsesTheMirroredIndex)
{
    Open(200, 150);
    Set(VERTICES, 5);
    Set(SYMMETRY, 1);
    Set(OUTLINE, 1);
    Start(11);
    // The fill colour runs 2, 3, ..., 235, 234, ...; the outline is 236 - fill.
    for (int frame = 1; frame <= 240; ++frame) {
        int colour = frame <= 234 ? frame + 1 : 469 - frame;
        ClearTestSurface(&surface);
        PolygonFrame(record);
        if (frame % 20 != 0 && frame < 233)
            continue;
        EXPECT_GT(Count(colour), 0) << "frame " << frame;
        EXPECT_GT(Count(236 - colour), 0) << "frame " << frame;
        EXPECT_EQ(CountDrawn(&surface, 0, 0, width, height), Count(colour) + Count(236 - colour))
            << "frame " << frame;
    }
    // Without the outline no mirrored colour appears.
    Set(OUTLINE, 0);
    Start(11);
    ClearTestSurface(&surface);
    PolygonFrame(record);
    EXPECT_GT(Count(2), 0);
    EXPECT_EQ(Count(234), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, width, height), Count(2));
}

TEST_F(PolygonModule, OutlineOfColourZeroAndTwoVertexPolygonsDrawSafely)
{
    Open(200, 150);
    Set(VERTICES, 2);   // forces the outline: a line between two vertices
    Set(SYMMETRY, 1);
    Set(OUTLINE, 0);
    Start(5);
    Frames(468);       // the next frame has colour 0 and outline index 236
    ClearTestSurface(&surface);
    PolygonFrame(record);
    EXPECT_GT(CountDrawn(&surface, 0, 0, width, height), 0);
    EXPECT_EQ(GetCurrentObject(surface.surface.dc, OBJ_BRUSH), GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(GetCurrentObject(surface.surface.dc, OBJ_PEN), GetStockObject(NULL_PEN));
    // The walk turns back up after 0.
    ClearTestSurface(&surface);
    PolygonFrame(record);
    EXPECT_GT(Count(235), 0);   // outline of colour 1
}

TEST_F(PolygonModule, VertexAtTheRightEdgeIsNotBouncedEarly)
{
    // Two tiles across, only the left one drawn: a vertex at x = W lands on
    // the left tile's column W / 2, a vertex at W - 1 one column short.
    Open(100, 60);
    Set(VERTICES, 2);
    Set(SYMMETRY, 1);
    Set(SPEED, 1);
    Set(XTILES, 2);
    Set(YTILES, 1);
    Set(TILETYPE, 2);
    Start(77);
    int reachedHalf = 0, reachedZero = 0;
    for (int frame = 0; frame < 450; ++frame) {
        PolygonFrame(record);
        if (frame % 5 == 0 || frame == 449) {
            reachedHalf |= CountDrawn(&surface, 50, 0, 51, 60) > 0;
            reachedZero |= CountDrawn(&surface, 0, 0, 1, 60) > 0;
        }
    }
    EXPECT_TRUE(reachedHalf);
    EXPECT_TRUE(reachedZero);
    EXPECT_EQ(CountDrawn(&surface, 51, 0, 100, 60), 0);
}

TEST_F(PolygonModule, FixedSpeedAbove100RunsAs100)
{
    Open(1000, 800);
    Set(VERTICES, 4);
    Set(SYMMETRY, 1);
    Set(SPEED, 320);
    std::vector<BYTE> fast = Run(31, 25);
    Set(SPEED, 100);
    std::vector<BYTE> hundred = Run(31, 25);
    Set(SPEED, 99);
    std::vector<BYTE> slower = Run(31, 25);
    EXPECT_TRUE(fast == hundred);
    EXPECT_FALSE(hundred == slower);

    // A random 200 is still capped at start; an oscillating one (here a
    // range of one value) is used as it is every frame.
    record->source[SPEED] = 1;
    record->rangeLo[SPEED] = record->rangeHi[SPEED] = 200;
    std::vector<BYTE> random200 = Run(31, 25);
    record->rangeLo[SPEED] = record->rangeHi[SPEED] = 100;
    std::vector<BYTE> random100 = Run(31, 25);
    record->source[SPEED] = 2;
    record->rangeLo[SPEED] = record->rangeHi[SPEED] = 200;
    std::vector<BYTE> live200 = Run(31, 25);
    EXPECT_TRUE(random200 == random100);
    EXPECT_FALSE(live200 == random100);
}

// Every drawn pixel's image under a quarter turn about the centre is drawn
// too (within two pixels, for the truncation of rotated vertices).
static int QuarterTurnMisses(const TestSurface* s, int size, int* total)
{
    int c = size / 2, misses = 0;
    *total = 0;
    GdiFlush();
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            if (Pixel(s, x, y) == 0)
                continue;
            ++*total;
            int rx = c + (y - c), ry = c - (x - c);
            int found = 0;
            for (int dy = -2; dy <= 2 && !found; ++dy)
                for (int dx = -2; dx <= 2 && !found; ++dx) {
                    int px = rx + dx, py = ry + dy;
                    if (px < 0 || py < 0 || px >= size || py >= size)
                        found = 1;
                    else
                        found = Pixel(s, px, py) != 0;
                }
            misses += !found;
        }
    return misses;
}

TEST_F(PolygonModule, SymmetryCopiesAreQuarterTurnsAndIncludeTheUnrotatedOne)
{
    Open(240, 240);
    Set(VERTICES, 3);
    Set(SYMMETRY, 1);
    Set(SPEED, 7);
    std::vector<BYTE> once = Run(9, 1);
    Set(SYMMETRY, 4);
    std::vector<BYTE> four = Run(9, 1);
    size_t drawnOnce = 0, covered = 0;
    for (size_t i = 0; i < once.size(); ++i)
        if (once[i]) {
            ++drawnOnce;
            covered += four[i] != 0;
        }
    ASSERT_GT(drawnOnce, 50u);
    EXPECT_EQ(covered, drawnOnce);   // the first copy is the unrotated polygon
    int total = 0;
    int misses = QuarterTurnMisses(&surface, 240, &total);
    EXPECT_GT(total, (int)drawnOnce);
    EXPECT_LE(misses, total / 100);
    // The copies are not all in one place.
    Set(SYMMETRY, 1);
    Run(9, 1);
    int single = 0;
    EXPECT_GT(QuarterTurnMisses(&surface, 240, &single), single / 4);
}

TEST_F(PolygonModule, TileTypesDrawAlternateTilesAsTranslatedCopies)
{
    Open(200, 160);
    Set(VERTICES, 3);
    Set(SYMMETRY, 1);
    Set(XTILES, 2);
    Set(YTILES, 2);
    Set(TILETYPE, 0);
    Run(21, 30);
    // Tiles are drawn directly, not mirrored: every tile is the same picture
    // (compared away from the borders, where a neighbour's edge may reach).
    GdiFlush();
    for (int y = 2; y < 78; ++y)
        for (int x = 2; x < 98; ++x) {
            BYTE b = Pixel(&surface, x, y);
            ASSERT_EQ(Pixel(&surface, x + 100, y), b) << x << "," << y;
            ASSERT_EQ(Pixel(&surface, x, y + 80), b) << x << "," << y;
            ASSERT_EQ(Pixel(&surface, x + 100, y + 80), b) << x << "," << y;
        }
    EXPECT_GT(CountDrawn(&surface, 0, 0, 100, 80), 0);

    Set(TILETYPE, 1);   // (1, 0) and (0, 1) only
    Run(21, 30);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 100, 80), 0);
    EXPECT_EQ(CountDrawn(&surface, 100, 80, 200, 160), 0);
    EXPECT_GT(CountDrawn(&surface, 100, 0, 200, 80), 0);
    EXPECT_GT(CountDrawn(&surface, 0, 80, 100, 160), 0);

    Set(TILETYPE, 2);   // (0, 0) and (1, 1) only
    Run(21, 30);
    EXPECT_GT(CountDrawn(&surface, 0, 0, 100, 80), 0);
    EXPECT_GT(CountDrawn(&surface, 100, 80, 200, 160), 0);
    EXPECT_EQ(CountDrawn(&surface, 100, 0, 200, 80), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 80, 100, 160), 0);
}

TEST_F(PolygonModule, StartsOverAfterOneHundredSeconds)
{
    Open(200, 150);
    Set(SYMMETRY, 1);
    Start(3);
    Frames(10);                     // colours 2..11
    testNow = 5000 + 100000;        // the deadline itself has not passed
    ClearTestSurface(&surface);
    PolygonFrame(record);
    EXPECT_GT(Count(12), 0);
    testNow = 5000 + 100001;
    PolygonFrame(record);           // draws 13, then starts over
    ClearTestSurface(&surface);
    PolygonFrame(record);
    EXPECT_GT(Count(2), 0);         // the walk began again at 1
    EXPECT_EQ(Count(14), 0);
}

TEST_F(PolygonModule, OddTilingValuesDoNotFault)
{
    Open(64, 48);
    Set(SYMMETRY, 3);
    Start(8);
    // A live tiling that comes out as 0 or wider than the surface.
    record->source[XTILES] = 2;
    record->rangeLo[XTILES] = record->rangeHi[XTILES] = 0;
    record->source[YTILES] = 2;
    record->rangeLo[YTILES] = record->rangeHi[YTILES] = 100;
    Frames(5);
    SUCCEED();
}


// Many tiles are painted the direct way: exactly the pixels GDI paints with
// every copy in every tile, outside a kept-out box as well, over symmetry,
// tiling, tile type, outline and vertex count, at odd surface sizes.
TEST_F(PolygonModule, DirectTilesPaintExactlyWhatGdiPaints)
{
    Open(317, 203);
    CompareCases(100);
}

TEST_F(PolygonModule, DirectTilesPaintExactlyWhatGdiPaintsOnALargerSurface)
{
    Open(641, 479);
    CompareCases(500);
}

TEST_F(PolygonModule, DirectTilesFollowTheWalkDownToColourZero)
{
    Open(200, 150);
    Set(VERTICES, 5);
    Set(SYMMETRY, 3);
    Set(SPEED, 4);
    Set(OUTLINE, 1);
    Set(XTILES, 2);
    Set(YTILES, 2);
    Set(TILETYPE, 0);
    RECT box = {30, 20, 90, 70};
    // Frame 469 has colour 0 and the outline index past the last entry.
    int shown = 0;
    EXPECT_EQ(SamePicture(61, 469, &box, "down to colour 0", &shown), 469);
    EXPECT_GT(shown, 0);
    EXPECT_EQ(SamePicture(62, 471, 0, "back up from colour 0", &shown), 471);
    EXPECT_GT(shown, 0);
}

TEST_F(PolygonModule, DirectTilesLetTheLaterTileWinWhereEqualCopiesOverlap)
{
    // Quarter turns of a wide polygon reach into the tile below, where the
    // same copy of that tile covers them too: there the tile drawn later
    // decides between fill and outline.
    Open(200, 150);
    Set(VERTICES, 20);
    Set(SYMMETRY, 4);
    Set(SPEED, 37);
    Set(OUTLINE, 1);
    Set(XTILES, 2);
    Set(YTILES, 2);
    Set(TILETYPE, 0);
    for (unsigned seed = 1; seed <= 5; ++seed) {
        int shown = 0;
        EXPECT_EQ(SamePicture(seed, 8, 0, "overlapping quarter turns", &shown), 8);
        EXPECT_GT(shown, 0);
    }
}

TEST_F(PolygonModule, DirectTilesWithTilesNoPixelHigh)
{
    // More rows than the surface is high: every row of tiles at offset 0.
    Open(317, 203);
    Set(VERTICES, 4);
    Set(SYMMETRY, 7);
    Set(OUTLINE, 1);
    Set(XTILES, 3);
    Set(YTILES, 250);
    Set(TILETYPE, 1);
    Set(SPEED, 23);
    int shown = 0;
    EXPECT_EQ(SamePicture(71, 6, 0, "3 x 250 tiles", &shown), 6);
    EXPECT_GT(shown, 0);
}

TEST_F(PolygonModule, DirectWayOnlyForManyPolygonsOnAnEmulatedSurface)
{
    Open(320, 200);
    Set(VERTICES, 6);
    Set(OUTLINE, 1);
    Set(TILETYPE, 0);
    // Four polygons a frame are quicker through GDI.
    Set(SYMMETRY, 1);
    Set(XTILES, 2);
    Set(YTILES, 2);
    long before = polygonDirectFrames;
    Start(3);
    Frames(3);
    EXPECT_EQ(polygonDirectFrames, before);
    // A hundred and sixty go the direct way.
    Set(SYMMETRY, 10);
    Set(XTILES, 4);
    Set(YTILES, 4);
    Start(3);
    Frames(3);
    EXPECT_EQ(polygonDirectFrames, before + 3);
    // Not on a device context that is no emulated surface, though it holds
    // an 8-bit DIB section too.
    BITMAPINFO* info = 0;
    void* bits = 0;
    HDC plain = CreateCompatibleDC(surface.surface.dc);
    HBITMAP bitmap = CreateDib8(plain, 1, 320, 200, &info, &bits);
    ASSERT_TRUE(plain && bitmap);
    HGDIOBJ old = SelectObject(plain, bitmap);
    HDC own = record->dc;
    record->dc = plain;
    Start(3);
    Frames(3);
    record->dc = own;
    EXPECT_EQ(polygonDirectFrames, before + 3);
    SelectObject(plain, old);
    DeleteObject(bitmap);
    DeleteDC(plain);
    LocalFree(info);
}

TEST_F(PolygonModule, DirectWayGivesBackItsScratchOnClose)
{
    Open(641, 479);
    Set(VERTICES, 12);
    Set(SYMMETRY, 20);
    Set(SPEED, 50);
    Set(OUTLINE, 1);
    Set(XTILES, 5);
    Set(YTILES, 4);
    Set(TILETYPE, 0);
    HANDLE self = GetCurrentProcess();
    DWORD id = GetCurrentProcessId();
    // The same frames through GDI first, so that what the platform makes
    // once is made before counting.
    polygonDirectTiles = 0;
    Start(41);
    Frames(5);
    PolygonClose(record);
    polygonDirectTiles = 1;
    GdiFlush();
    long gdiBefore = GdiObjects(self), handlesBefore = ProcessHandles(id);
    ASSERT_GT(gdiBefore, 0);
    long before = polygonDirectFrames;
    Start(41);
    Frames(30);
    EXPECT_EQ(polygonDirectFrames - before, 30);
    PolygonClose(record);
    GdiFlush();
    EXPECT_EQ(GdiObjects(self), gdiBefore);
    EXPECT_EQ(ProcessHandles(id), handlesBefore);
    // A second life after close makes its scratch afresh.
    Start(42);
    Frames(3);
    EXPECT_EQ(polygonDirectFrames - before, 33);
}

}  // namespace
