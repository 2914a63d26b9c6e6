// Tiled shape lines drawn once into a mask and copied into every tile give
// exactly the pixels of drawing each tile through GDI: Cyclic and Star over
// tile grids and types, every shape type, plain and wide strokes, rotated
// copies, odd surface sizes, erased trails and a clip region with a hole.
#include <gtest/gtest.h>
#include "graphics/shapes.h"
#include "graphics/surface.h"
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include "support/surface_support.h"
#include <string.h>
#include <vector>

namespace {

enum {
    CYC_OBJECTS = 0, CYC_SPASTICITY = 1, CYC_TRAIL = 2, CYC_DIAMETER = 3, CYC_SYMMETRY = 4, CYC_ROTATION = 5,
    CYC_SIDES = 6, CYC_TYPE = 7
};
enum {
    STAR_COUNT = 0, STAR_SIZE = 1, STAR_SPEED = 2, STAR_XREV = 3, STAR_YREV = 4, STAR_ZREV = 5, STAR_ROTATION = 6,
    STAR_SIDES = 7, STAR_TYPE = 8
};
enum { XTILES = 10, YTILES = 11, TILETYPE = 12, STAR_SYMMETRY = 13 };

struct TileCase {
    int xTiles, yTiles, tileType;
    int sides, type, size, symmetry;
};

struct Outcome {
    std::vector<BYTE> pixels;
    long maskLines;
};

class TiledShapes : public ::testing::Test {
protected:
    TestSurface surface;
    int width = 0, height = 0;
    int opened = 0;

    void Open(int w, int h)
    {
        width = w;
        height = h;
        ASSERT_TRUE(OpenTestSurface(&surface, w, h));
        opened = 1;
        UseTestClock(1000);
        renderRunning = 1;
    }
    void TearDown() override
    {
        if (!opened)
            return;
        SelectClipRgn(surface.surface.dc, NULL);
        UseRealClock();
        CloseTestSurface(&surface);
    }
    // Everything but a box in the middle, as an overlay box leaves it.
    void ClipHole()
    {
        HRGN all = CreateRectRgn(0, 0, width, height);
        HRGN hole = CreateRectRgn(width / 4, height / 3, width / 2 + 7, height / 2 + 5);
        CombineRgn(all, all, hole, RGN_DIFF);
        SelectClipRgn(surface.surface.dc, all);
        DeleteObject(all);
        DeleteObject(hole);
    }
    std::vector<BYTE> Snapshot()
    {
        GdiFlush();
        const BYTE* bits = surface.surface.bits;
        return std::vector<BYTE>(bits, bits + (size_t)surface.surface.stride * height);
    }
    // Cyclic from a fresh start: enough frames that the oldest are erased.
    Outcome Cyclic(const TileCase& c, unsigned seed, int masks, int frames, int clip)
    {
        ModuleRecord* record = &moduleTable[MODULE_CYCLIC];
        record->value[CYC_OBJECTS] = 4;
        record->value[CYC_SPASTICITY] = 45;
        record->value[CYC_TRAIL] = 1;   // three frames stay, then black strokes erase
        record->value[CYC_DIAMETER] = c.size;
        record->value[CYC_SYMMETRY] = c.symmetry;
        record->value[CYC_ROTATION] = 30;
        record->value[CYC_SIDES] = c.sides;
        record->value[CYC_TYPE] = c.type;
        record->value[XTILES] = c.xTiles;
        record->value[YTILES] = c.yTiles;
        record->value[TILETYPE] = c.tileType;
        return Drive(record, CyclicOpen, CyclicStart, CyclicFrame, CyclicClose, seed, masks, frames, clip);
    }
    Outcome Star(const TileCase& c, unsigned seed, int masks, int frames, int clip)
    {
        ModuleRecord* record = &moduleTable[MODULE_STAR];
        record->value[STAR_COUNT] = 12;
        record->value[STAR_SIZE] = c.size;
        record->value[STAR_SPEED] = 25;
        record->value[STAR_XREV] = 20;
        record->value[STAR_YREV] = 10;
        record->value[STAR_ZREV] = 30;
        record->value[STAR_ROTATION] = 40;
        record->value[STAR_SIDES] = c.sides;
        record->value[STAR_TYPE] = c.type;
        record->value[XTILES] = c.xTiles;
        record->value[YTILES] = c.yTiles;
        record->value[TILETYPE] = c.tileType;
        record->value[STAR_SYMMETRY] = c.symmetry;
        return Drive(record, StarOpen, StarStart, StarFrame, StarClose, seed, masks, frames, clip);
    }
    Outcome Drive(ModuleRecord* record, ModuleEntry open, ModuleEntry start, ModuleEntry frame, ModuleEntry close,
                  unsigned seed, int masks, int frames, int clip)
    {
        for (int slot = 0; slot < SLOT_COUNT; ++slot)
            record->source[slot] = SOURCE_SET;
        SelectClipRgn(surface.surface.dc, NULL);
        ClearTestSurface(&surface);
        if (clip)
            ClipHole();
        // 2: the mask as it was before runs of lines and repeated stamps.
        shapeTileMasks = masks != 0;
        shapeLineRuns = masks != 2;
        shapeStampOnce = masks != 2;
        shapeLeafCopies = masks != 2;
        shapeJoinedCopies = masks != 2;
        shapeStampBlocks = masks != 2;
        quickTruncation = masks != 2;
        starTurnReuse = masks != 2;
        long before = shapeTileMaskLines;
        SeedRandom(seed * 2654435761u);
        open(record);
        start(record);
        for (int i = 0; i < frames; ++i)
            frame(record);
        Outcome out;
        // Before the close: Cyclic's close erases what is left of its trail.
        out.pixels = Snapshot();
        close(record);
        shapeTileMasks = 1;
        shapeLineRuns = 1;
        shapeStampOnce = 1;
        shapeLeafCopies = 1;
        shapeJoinedCopies = 1;
        shapeStampBlocks = 1;
        quickTruncation = 1;
        starTurnReuse = 1;
        out.maskLines = shapeTileMaskLines - before;
        return out;
    }
};

// Where two pictures first differ, for the failure message.
std::string FirstDifference(const std::vector<BYTE>& a, const std::vector<BYTE>& b, int stride)
{
    size_t differing = 0, first = a.size();
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) {
            if (first == a.size())
                first = i;
            ++differing;
        }
    if (!differing)
        return "same";
    char text[160];
    snprintf(text, sizeof(text), "%u pixels differ, first at (%d, %d): tiles %d, GDI %d", (unsigned)differing,
             (int)(first % stride), (int)(first / stride), a[first], b[first]);
    return text;
}

// Shape types whose outline and fill share a colour, or have no fill, and
// plain strokes, go through the mask; black outlines around a fill do not.
int OneColour(const TileCase& c)
{
    int sides = c.sides, type = c.type;
    if (c.size > 0 && c.size < 4)
        sides = 1;
    if (sides < 2)
        return 1;
    if ((c.size > 0 && c.size < 3) || sides == 2)
        type = type / 3 * 3 + 1;
    return type % 3 != 0;
}

const TileCase CASES[] = {
    // xTiles, yTiles, tileType, sides, type, size, symmetry
    {2, 3, 0, 3, 1, 30, 1},  {2, 3, 1, 10, 2, 40, 3}, {20, 20, 0, 1, 0, 12, 1}, {20, 20, 2, 3, 4, 60, 2},
    {2, 3, 3, 1, 5, 3, 1},   {20, 20, 1, 10, 8, 50, 1}, {2, 3, 0, 2, 0, 25, 2},   {2, 3, 2, 3, 7, 30, 1},
    {20, 20, 3, 10, 5, 80, 3}, {2, 3, 1, 1, 2, 1, 2}, {2, 3, 0, 3, 3, 30, 1},   {20, 20, 0, 10, 6, 40, 1},
    {1, 1, 0, 3, 1, 30, 1},  {2, 3, 2, 1, 1, 8, 3},   {4, 3, 0, 10, 5, 90, 6},
};

TEST_F(TiledShapes, CyclicGivesTheSamePixelsThroughTheMask)
{
    Open(317, 203);
    long fast = 0;
    int n = 0, pictures = 0;
    for (const TileCase& c : CASES) {
        for (int clip = 0; clip < 2; ++clip) {
            unsigned seed = 11 + 7 * n++;
            Outcome gdi = Cyclic(c, seed, 0, 6, clip);
            Outcome tiles = Cyclic(c, seed, 1, 6, clip);
            SCOPED_TRACE(testing::Message() << "tiles " << c.xTiles << "x" << c.yTiles << " type " << c.tileType
                                            << ", sides " << c.sides << " type " << c.type << " size " << c.size
                                            << " symmetry " << c.symmetry << ", clip " << clip);
            EXPECT_EQ(gdi.maskLines, 0);
            EXPECT_EQ(FirstDifference(tiles.pixels, gdi.pixels, surface.surface.stride), "same");
            int drawn = 0;
            for (BYTE b : gdi.pixels)
                drawn += b != 0;
            // A still object strokes nothing; most pictures show something.
            pictures += drawn > 0;
            // The black erase of the trail paints outline and fill alike, so
            // every style erases through the mask when there are tiles.
            if (c.xTiles * c.yTiles > 1)
                EXPECT_GT(tiles.maskLines, 0);
            else
                EXPECT_EQ(tiles.maskLines, 0);
            fast += tiles.maskLines;
        }
    }
    EXPECT_GT(fast, 100);
    EXPECT_GT(pictures, n * 3 / 4);
}

TEST_F(TiledShapes, StarGivesTheSamePixelsThroughTheMask)
{
    Open(317, 203);
    int n = 0, pictures = 0;
    for (const TileCase& c : CASES) {
        for (int clip = 0; clip < 2; ++clip) {
            unsigned seed = 5 + 13 * n++;
            Outcome gdi = Star(c, seed, 0, 8, clip);
            Outcome tiles = Star(c, seed, 1, 8, clip);
            Outcome before = Star(c, seed, 2, 8, clip);
            EXPECT_EQ(FirstDifference(before.pixels, gdi.pixels, surface.surface.stride), "same");
            SCOPED_TRACE(testing::Message() << "tiles " << c.xTiles << "x" << c.yTiles << " type " << c.tileType
                                            << ", sides " << c.sides << " type " << c.type << " size " << c.size
                                            << " symmetry " << c.symmetry << ", clip " << clip);
            EXPECT_EQ(gdi.maskLines, 0);
            EXPECT_EQ(FirstDifference(tiles.pixels, gdi.pixels, surface.surface.stride), "same");
            int drawn = 0;
            for (BYTE b : gdi.pixels)
                drawn += b != 0;
            pictures += drawn > 0;
            int masked = OneColour(c) && (c.xTiles * c.yTiles > 1);
            if (masked)
                EXPECT_GT(tiles.maskLines, 0);
            else
                EXPECT_EQ(tiles.maskLines, 0);
        }
    }
    EXPECT_GT(pictures, n * 3 / 4);
}

// In the mask a kept stamp is not set again where it already was, and a
// nested stamp is made from one leaf drawn by GDI: the very pixels of setting
// every stamp and drawing every nested one whole, Cyclic and Star, every slot
// at its maximum and ordinary settings, through trails that erase in black.
enum { NONE = -999 };
struct SlotValues {
    int module;
    int values[14];   // NONE: left alone
    int frames;
};

const SlotValues SHORTCUT_CASES[] = {
    // Cyclic: objects, spasticity, trail, diameter, symmetry, rotation, sides, type, -, -, x, y, tile type
    {MODULE_CYCLIC, {99, 50, 100, 320, 32, 100, 10, 8, NONE, NONE, 20, 20, 3, NONE}, 3},
    {MODULE_CYCLIC, {99, 50, 1, 320, 32, 100, 10, 8, NONE, NONE, 20, 20, 3, NONE}, 5},
    {MODULE_CYCLIC, {30, 40, 1, 200, 7, -60, 5, 7, NONE, NONE, 5, 4, 1, NONE}, 6},
    {MODULE_CYCLIC, {20, 30, 1, 120, 3, 40, 3, 5, NONE, NONE, 20, 20, 2, NONE}, 6},
    {MODULE_CYCLIC, {12, 50, 100, 320, 9, 100, 10, 7, NONE, NONE, 3, 2, 0, NONE}, 4},
    {MODULE_CYCLIC, {40, 25, 1, 90, 5, 20, 4, 4, NONE, NONE, 20, 20, 0, NONE}, 6},
    {MODULE_CYCLIC, {25, 45, 1, 60, 2, 80, 1, 8, NONE, NONE, 4, 4, 3, NONE}, 6},
    {MODULE_CYCLIC, {25, 45, 1, 320, 2, 80, 2, 7, NONE, NONE, 6, 6, 0, NONE}, 6},
    // Star: stars, size, speed, x, y, z revolve, rotation, sides, type, -, x, y, tile type, symmetry
    {MODULE_STAR, {99, 320, 60, 99, 99, 99, 100, 10, 8, NONE, 20, 20, 3, 16}, 3},
    {MODULE_STAR, {40, 200, 30, 20, -40, 60, 50, 6, 5, NONE, 8, 5, 1, 5}, 5},
    {MODULE_STAR, {30, 120, 20, 10, 10, 10, -30, 3, 7, NONE, 20, 20, 2, 3}, 5},
};

class TiledShortcuts : public TiledShapes {
protected:
    Outcome Run(const SlotValues& c, unsigned seed, int shortcuts)
    {
        ModuleRecord* record = &moduleTable[c.module];
        for (int slot = 0; slot < 14; ++slot)
            if (c.values[slot] != NONE)
                record->value[slot] = c.values[slot];
        SetShortcuts(shortcuts);
        Outcome out = c.module == MODULE_CYCLIC
                          ? Drive(record, CyclicOpen, CyclicStart, CyclicFrame, CyclicClose, seed, 1, c.frames, 1)
                          : Drive(record, StarOpen, StarStart, StarFrame, StarClose, seed, 1, c.frames, 1);
        SetShortcuts(1);
        return out;
    }
    static void SetShortcuts(int on)
    {
        shapeLineRuns = shapeStampOnce = shapeLeafCopies = shapeJoinedCopies = shapeStampBlocks = on;
    }
};

TEST_F(TiledShortcuts, StampsSetOnceAndNestedStampsFromALeafGiveTheSamePixels)
{
    Open(640, 480);
    int n = 0, pictures = 0;
    for (const SlotValues& c : SHORTCUT_CASES) {
        unsigned seed = 21 + 5 * n++;
        SCOPED_TRACE(testing::Message() << (c.module == MODULE_CYCLIC ? "Cyclic" : "Star") << " case " << n);
        Outcome plain = Run(c, seed, 0);
        Outcome fast = Run(c, seed, 1);
        EXPECT_GT(fast.maskLines, 0);
        int drawn = 0;
        for (BYTE b : fast.pixels)
            drawn += b != 0;
        // A trail of wide shapes may fill the picture and then erase it whole.
        pictures += drawn > 100;
        EXPECT_EQ(FirstDifference(fast.pixels, plain.pixels, surface.surface.stride), "same");
    }
    EXPECT_GT(pictures, n / 2);
}


// Single tiled lines that leave the surface, wide and thin, at many offsets:
// GDI's strokes and polygons do not depend on where they lie, so the copies
// match the strokes drawn in place, clipped at every edge.
TEST_F(TiledShapes, LinesLeavingTheSurfaceMatchAtEveryEdge)
{
    Open(203, 117);
    const int widths[] = {0, 1, 2, 3, 5, 8, 13};
    const int ends[][4] = {{-30, -20, 250, 140}, {190, 5, 260, 100}, {10, 110, -40, 150}, {100, 60, 101, 61},
                           {-500, 60, 700, 61}, {50, -300, 52, 400}, {5, 5, 5, 5}};
    int n = 0;
    for (int w : widths)
        for (const auto& e : ends)
            for (int grid = 0; grid < 2; ++grid) {
                int nx = grid ? 7 : 2, ny = grid ? 5 : 3;
                std::vector<BYTE> pictures[2];
                for (int masks = 0; masks < 2; ++masks) {
                    ClearTestSurface(&surface);
                    shapeTileMasks = masks;
                    SeedRandom(77 + n);
                    ShapePen pen;
                    // Odd rounds: a plain stroke of the width; even: ringed polygons.
                    int plain = (n >> 1) & 1;
                    shapePenInit(surface.surface.dc, plain ? 1 : 7, plain ? 1 : 5, 1, 9, 0.3f, &pen);
                    pen.shapeSize = plain ? (float)w : (float)(4 * w + 4);
                    shapePenSelect(&pen, PALETTEINDEX(9));
                    // Plain strokes take the selected pen's width: the size may move on.
                    if (plain)
                        pen.shapeSize = 1000.0f;
                    shapeTiledLine(e[0], e[1], e[2], e[3], 203, 117, nx, ny, n % 3, &pen);
                    shapePenRelease(&pen);
                    pictures[masks] = Snapshot();
                }
                shapeTileMasks = 1;
                EXPECT_EQ(FirstDifference(pictures[1], pictures[0], surface.surface.stride), "same")
                    << "width " << w << " line " << e[0] << "," << e[1] << " to " << e[2] << "," << e[3] << " grid "
                    << nx << "x" << ny;
                ++n;
            }
}

// One run of lines where a turned stamp lands on another's spot and a line
// repeats, drawn in two colours one after the other: the stamps set once per
// spot of each mask still give GDI's pixels.
TEST_F(TiledShapes, RepeatedSpotsOfOneRunMatchGdi)
{
    Open(203, 117);
    const POINT ends[] = {{40, 120}, {40, 40}, {100, 48}, {40, 48}, {40, 120}, {40, 40}, {40, 40}, {40, 120},
                          {41, 49}, {41, 49}, {90, 30}, {40, 56}};
    std::vector<BYTE> pictures[2];
    for (int masks = 0; masks < 2; ++masks) {
        ClearTestSurface(&surface);
        shapeTileMasks = masks;
        SeedRandom(31);
        ShapePen pen;
        shapePenInit(surface.surface.dc, 7, 2, 3, 24, 2.0f, &pen);
        for (int colour = 12; colour <= 13; ++colour) {
            shapePenSelect(&pen, PALETTEINDEX(colour));
            shapeTiledLines(ends, 6, 203, 117, 2, 2, 0, &pen);
            shapePenRelease(&pen);
        }
        pictures[masks] = Snapshot();
    }
    shapeTileMasks = 1;
    EXPECT_EQ(FirstDifference(pictures[1], pictures[0], surface.surface.stride), "same");
}

// A bottom-up section with a plain grey table: rows land the right way up,
// and a colour no entry matches exactly (GDI may dither it) stays with GDI.
TEST_F(TiledShapes, BottomUpSectionsAndInexactColours)
{
    HDC dc = CreateCompatibleDC(NULL);
    ASSERT_TRUE(dc != NULL);
    BITMAPINFO* info = 0;
    void* bits = 0;
    const int w = 131, h = 97;
    HBITMAP bitmap = CreateDib8(dc, 1, w, h, &info, &bits);
    ASSERT_TRUE(bitmap && bits);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const int stride = (w + 3) & ~3;
    const COLORREF colours[] = {RGB(100, 100, 100), RGB(100, 101, 100)};
    for (int inexact = 0; inexact < 2; ++inexact)
        for (int round = 0; round < 6; ++round) {
            std::vector<BYTE> pictures[2];
            long lines[2];
            for (int masks = 0; masks < 2; ++masks) {
                GdiFlush();
                memset(bits, 200, (size_t)stride * h);
                shapeTileMasks = masks;
                long before = shapeTileMaskLines;
                SeedRandom(300 + round);
                ShapePen pen;
                int plain = round & 1;
                shapePenInit(dc, plain ? 1 : 3 + round, plain ? 0 : 2, 1, 9, 0.4f, &pen);
                pen.shapeSize = plain ? (float)round : 30.0f;
                shapePenSelect(&pen, colours[inexact]);
                shapeTiledLine(-20 + round * 9, 5, 140, 80 - round * 7, w, h, 3, 2, round % 3, &pen);
                shapeTiledLine(60, -10, 10 + round, 120, w, h, 3, 2, round % 3, &pen);
                shapePenRelease(&pen);
                GdiFlush();
                pictures[masks].assign((BYTE*)bits, (BYTE*)bits + (size_t)stride * h);
                lines[masks] = shapeTileMaskLines - before;
            }
            shapeTileMasks = 1;
            EXPECT_EQ(FirstDifference(pictures[1], pictures[0], stride), "same") << "round " << round << " inexact "
                                                                                   << inexact;
            EXPECT_EQ(lines[0], 0);
            EXPECT_EQ(lines[1], inexact ? 0 : 2) << "round " << round;
            int drawn = 0;
            for (BYTE b : pictures[0])
                drawn += b != 200;
            EXPECT_GT(drawn, 20) << "round " << round;
        }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    LocalFree(info);
    DeleteDC(dc);
}

// Lines whose surface is deleted before the pen is released are dropped: the
// next pen on another surface neither writes into the freed bits nor gets
// the old lines.
TEST_F(TiledShapes, LinesOfAGoneSurfaceAreDropped)
{
    Open(160, 120);
    HDC dc = CreateCompatibleDC(NULL);
    ASSERT_TRUE(dc != NULL);
    BITMAPINFO* info = 0;
    void* bits = 0;
    HBITMAP bitmap = CreateDib8(dc, 1, 160, 120, &info, &bits);
    ASSERT_TRUE(bitmap && bits);
    HGDIOBJ old = SelectObject(dc, bitmap);
    ShapePen pen;
    SeedRandom(5);
    shapePenInit(dc, 1, 1, 1, 2, 0.0f, &pen);
    shapePenSelect(&pen, RGB(100, 100, 100));
    long before = shapeTileMaskLines;
    shapeTiledLine(0, 0, 150, 110, 160, 120, 4, 4, 0, &pen);
    EXPECT_EQ(shapeTileMaskLines, before + 1);
    // No release: the caller drops the surface with the pen still in it.
    HGDIOBJ gdiPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DeleteObject(gdiPen);
    LocalFree(info);

    ClearTestSurface(&surface);
    ShapePen other;
    shapePenInit(surface.surface.dc, 1, 1, 1, 2, 0.0f, &other);
    shapePenSelect(&other, PALETTEINDEX(3));
    shapeTiledLine(10, 60, 150, 60, 160, 120, 2, 2, 0, &other);
    shapePenRelease(&other);
    std::vector<BYTE> picture = Snapshot();
    int drawn = 0, foreign = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            BYTE b = picture[(size_t)y * surface.surface.stride + x];
            drawn += b == STATIC_LOW + 3;
            foreign += b != 0 && b != STATIC_LOW + 3;
        }
    EXPECT_GT(drawn, 100);
    EXPECT_EQ(foreign, 0);
}

} // namespace
