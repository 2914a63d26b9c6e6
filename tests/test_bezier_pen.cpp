// The Bezier module's wide pen on an 8-bit surface: its curves look like
// those of GDI's wide pen (same width, colour, round ends and joins), and
// what it draws it erases exactly, also around a clipped overlay box.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "modules/bezier.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <stdlib.h>
#include <vector>

namespace {

enum { BEZIERS = 0, SYMMETRY = 1, TRAIL = 2, WIDTH = 3, SPEED = 4, X_TILING = 6, Y_TILING = 7, TILE_TYPE = 8 };

class BezierPen : public ModuleFixture {
protected:
    BezierPen() : ModuleFixture({MODULE_BEZIER, BezierOpen, BezierStart, BezierFrame, BezierClose}) {}

    // Width by height bytes, without the row padding.
    std::vector<BYTE> Picture()
    {
        GdiFlush();
        std::vector<BYTE> bytes((size_t)width * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bytes[(size_t)y * width + x] = Pixel(&surface, x, y);
        return bytes;
    }
    // One frame of a fresh figure; with `gdi` the surface's origins are moved
    // (to no effect on where things land), which leaves the drawing to GDI's
    // own wide pen.
    std::vector<BYTE> FirstFrame(unsigned seed, int gdi)
    {
        ClearTestSurface(&surface);
        if (gdi) {
            SetWindowOrgEx(surface.surface.dc, 7, 5, NULL);
            SetViewportOrgEx(surface.surface.dc, 7, 5, NULL);
        }
        Begin(seed);
        Frames(1);
        std::vector<BYTE> picture = Picture();
        SetWindowOrgEx(surface.surface.dc, 0, 0, NULL);
        SetViewportOrgEx(surface.surface.dc, 0, 0, NULL);
        BezierClose(record);
        return picture;
    }
    // Drawn pixels of `a` with no drawn pixel of `b` within `reach` pixels.
    int FarFrom(const std::vector<BYTE>& a, const std::vector<BYTE>& b, int reach)
    {
        int distant = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                if (!a[(size_t)y * width + x] || b[(size_t)y * width + x])
                    continue;
                int close = 0;
                for (int dy = -reach; dy <= reach && !close; ++dy)
                    for (int dx = -reach; dx <= reach && !close; ++dx) {
                        int u = x + dx, v = y + dy;
                        close = u >= 0 && v >= 0 && u < width && v < height && b[(size_t)v * width + u];
                    }
                distant += !close;
            }
        return distant;
    }
};

int Ink(const std::vector<BYTE>& bytes)
{
    int n = 0;
    for (BYTE b : bytes)
        n += b != 0;
    return n;
}

TEST_F(BezierPen, CurvesMatchGdisWidePenInWidthColourAndShape)
{
    OpenSurface(640, 480, 1000);
    struct Case {
        int width, symmetry, beziers;
    } cases[] = {{12, 10, 1}, {2, 1, 4}, {3, 1, 4}, {7, 3, 2}, {40, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << " symmetry " << c.symmetry);
        record->value[WIDTH] = c.width;
        record->value[SYMMETRY] = c.symmetry;
        record->value[BEZIERS] = c.beziers;
        std::vector<BYTE> own = FirstFrame(31 + c.width, 0);
        std::vector<BYTE> gdi = FirstFrame(31 + c.width, 1);
        int ownCount = Ink(own), gdiCount = Ink(gdi);
        ASSERT_GT(gdiCount, 200);
        // Thin pens: GDI gives them a little more ink than their width.
        EXPECT_NEAR(ownCount, gdiCount, gdiCount / (c.width < 4 ? 4 : 10) + 20) << "a different amount of ink";
        int wrongColour = 0;
        for (size_t i = 0; i < own.size(); ++i)
            wrongColour += own[i] && own[i] != STATIC_LOW + 1;   // the first frame's colour
        EXPECT_EQ(wrongColour, 0);
        // Differences only along the edges of the strokes.
        EXPECT_EQ(FarFrom(own, gdi, 2), 0) << "ink where GDI has none nearby";
        EXPECT_EQ(FarFrom(gdi, own, 2), 0) << "GDI's ink missing here";
    }
}

TEST_F(BezierPen, ErasesExactlyWhatItDrewAroundAClippedBox)
{
    OpenSurface(320, 240, 1000);
    record->value[TRAIL] = 1;   // three frames
    record->value[WIDTH] = 12;
    record->value[SYMMETRY] = 3;
    record->value[BEZIERS] = 4;
    // An overlay box is cut out of the surface's clipping region.
    ExcludeClipRect(surface.surface.dc, 100, 80, 200, 160);
    Begin(8);
    int most = 0;
    for (int f = 0; f < 40; ++f) {
        Frames(1);
        int drawn = Drawn();
        if (drawn > most)
            most = drawn;
        ASSERT_EQ(CountDrawn(&surface, 100, 80, 200, 160), 0) << "drawn inside the box at frame " << f;
    }
    EXPECT_GT(most, 1000);
    BezierClose(record);   // a reset erases the whole trail
    EXPECT_EQ(Drawn(), 0) << "the black replay left pixels behind";
    SelectClipRgn(surface.surface.dc, NULL);
    Begin(8);   // TearDown closes it again
}

// With several tiles a frame's strokes are made once and filled into every
// tile: the very pixels of stroking each tile, through draws and the black
// replay that erases them, at the surface's edges and around a clipped box.
TEST_F(BezierPen, TilesFilledFromOneUnionMatchTilesStrokedOneByOne)
{
    OpenSurface(317, 203, 1000);
    struct Case {
        int width, symmetry, beziers, xTiles, yTiles, tileType;
    } cases[] = {{12, 3, 4, 2, 3, 0}, {2, 1, 2, 3, 1, 0}, {7, 5, 6, 4, 4, 1}, {40, 2, 3, 5, 2, 2},
                 {60, 7, 20, 20, 20, 0}, {13, 32, 8, 3, 3, 3}, {1, 4, 4, 3, 2, 0}};
    long maskedBefore = bezierMaskedDraws;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << " symmetry " << c.symmetry << " tiles "
                                        << c.xTiles << "x" << c.yTiles << " type " << c.tileType);
        std::vector<BYTE> pictures[2], drawn[2];
        for (int masked = 0; masked <= 1; ++masked) {
            bezierTileMasks = masked;
            Set(WIDTH, c.width);
            Set(SYMMETRY, c.symmetry);
            Set(BEZIERS, c.beziers);
            Set(TRAIL, 1);   // three frames: the replay erases from the fourth on
            Set(SPEED, 9);
            Set(X_TILING, c.xTiles);
            Set(Y_TILING, c.yTiles);
            Set(TILE_TYPE, c.tileType);
            ClearTestSurface(&surface);
            ExcludeClipRect(surface.surface.dc, 90, 50, 170, 120);
            Begin(77 + c.width);
            Frames(3);
            drawn[masked] = Picture();
            Frames(4);
            pictures[masked] = Picture();
            SelectClipRgn(surface.surface.dc, NULL);
            BezierClose(record);
        }
        bezierTileMasks = 1;
        EXPECT_GT(Ink(drawn[1]), 300);
        int inBox = 0;
        for (int y = 50; y < 120; ++y)
            for (int x = 90; x < 170; ++x)
                inBox += drawn[1][(size_t)y * width + x] != 0;
        EXPECT_EQ(inBox, 0);
        EXPECT_TRUE(drawn[0] == drawn[1]) << "drawn differently";
        EXPECT_TRUE(pictures[0] == pictures[1]) << "erased differently";
    }
    EXPECT_GT(bezierMaskedDraws, maskedBefore) << "the union was never used";
    Begin(8);   // TearDown closes it again
}

// The union mask skips the rows of a stroke it already holds and writes only
// the pixels still open, and the surface is filled row by row with the union
// of every tile's runs: the very masks and pixels of writing every span and
// every run of every tile, drawn and erased, around a clipped box, with every
// check of a skipped row finding its span already set.
struct CoverageCase {
    int width, symmetry, beziers, xTiles, yTiles, tileType, speed, trail, frames;
};

// Every mask made, as its place, size, set pixels and a hash of its bytes.
struct MaskPrint {
    int left, top, width, height, set;
    unsigned hash;
    bool operator==(const MaskPrint& o) const
    {
        return left == o.left && top == o.top && width == o.width && height == o.height && set == o.set &&
               hash == o.hash;
    }
};
std::vector<MaskPrint> masks[2];
int probing = 0;

void ProbeMask(const BYTE* mask, int left, int top, int width, int height)
{
    MaskPrint p = {left, top, width, height, 0, 2166136261u};
    for (size_t i = 0; i < (size_t)width * height; ++i) {
        p.set += mask[i] != 0;
        p.hash = (p.hash ^ mask[i]) * 16777619u;
    }
    masks[probing].push_back(p);
}

class BezierCoverage : public BezierPen {
protected:
    void Compare(const CoverageCase* cases, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            const CoverageCase& c = cases[i];
            SCOPED_TRACE(testing::Message() << "width " << c.width << " symmetry " << c.symmetry << " beziers "
                                            << c.beziers << " tiles " << c.xTiles << "x" << c.yTiles << " type "
                                            << c.tileType << " speed " << c.speed << " trail " << c.trail);
            std::vector<BYTE> pictures[2][2];
            long skipsBefore = bezierCoverageSkips, faultsBefore = bezierCoverageFaults;
            long maskedBefore = bezierMaskedDraws;
            bezierMaskProbe = ProbeMask;
            for (int skipping = 0; skipping <= 1; ++skipping) {
                probing = skipping;
                bezierCoverage = skipping;
                bezierCoverageCheck = skipping;
                Set(WIDTH, c.width);
                Set(SYMMETRY, c.symmetry);
                Set(BEZIERS, c.beziers);
                Set(TRAIL, c.trail);
                Set(SPEED, c.speed);
                Set(X_TILING, c.xTiles);
                Set(Y_TILING, c.yTiles);
                Set(TILE_TYPE, c.tileType);
                ClearTestSurface(&surface);
                // An overlay box cut out of the clip: the rows are filled around it.
                ExcludeClipRect(surface.surface.dc, width / 3, height / 3, width / 2, height / 2);
                Begin(501 + c.width + c.symmetry);
                masks[skipping].clear();
                Frames(c.frames);
                pictures[skipping][0] = Picture();
                Frames(c.frames);
                pictures[skipping][1] = Picture();
                SelectClipRgn(surface.surface.dc, NULL);
                BezierClose(record);
            }
            bezierCoverage = 1;
            bezierCoverageCheck = 0;
            bezierMaskProbe = 0;
            if (c.trail >= 100) {   // never erased (wide pens may fill and then erase the whole picture)
                EXPECT_GT(Ink(pictures[1][0]), 300);
            }
            EXPECT_GT(bezierMaskedDraws, maskedBefore) << "the union was never used";
            if (c.width > 2) {
                EXPECT_GT(bezierCoverageSkips, skipsBefore) << "nothing was skipped";
            }
            // The masks themselves: in a picture that the wide pens fill
            // whole, a difference at a mask's edge could hide under a tile.
            ASSERT_EQ(masks[0].size(), masks[1].size());
            int partial = 0;
            for (size_t m = 0; m < masks[0].size(); ++m) {
                EXPECT_TRUE(masks[0][m] == masks[1][m]) << "mask " << m << " differs";
                partial += masks[0][m].set < masks[0][m].width * masks[0][m].height;
            }
            EXPECT_GT(partial, 0) << "every mask was full";
            EXPECT_EQ(bezierCoverageFaults, faultsBefore) << "a skipped row was not all set";
            int inBox = 0;
            for (int y = height / 3; y < height / 2; ++y)
                for (int x = width / 3; x < width / 2; ++x)
                    inBox += pictures[1][0][(size_t)y * width + x] != 0;
            EXPECT_EQ(inBox, 0) << "drawn inside the box";
            EXPECT_TRUE(pictures[0][0] == pictures[1][0]) << "drawn differently";
            EXPECT_TRUE(pictures[0][1] == pictures[1][1]) << "drawn or erased differently later";
        }
        Begin(8);   // TearDown closes it again
    }
};

TEST_F(BezierCoverage, EverySlotAtItsMaximumAt1920x1080)
{
    OpenSurface(1920, 1080, 1000);
    const CoverageCase cases[] = {{200, 32, 20, 20, 20, 3, 320, 100, 2}};
    Compare(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST_F(BezierCoverage, WideAndThinPensManyTilesAndTrails)
{
    OpenSurface(640, 480, 1000);
    const CoverageCase cases[] = {
        {200, 32, 20, 20, 20, 3, 320, 100, 3}, {199, 32, 20, 20, 20, 3, 320, 100, 3},
        {200, 7, 20, 20, 20, 0, 320, 1, 4},    {199, 5, 20, 13, 7, 1, 77, 1, 4},
        {60, 7, 20, 20, 20, 0, 9, 1, 4},       {40, 2, 3, 5, 2, 2, 9, 1, 4},
        {13, 32, 8, 3, 3, 3, 9, 1, 4},         {12, 3, 4, 2, 3, 0, 9, 1, 4},
        {7, 5, 6, 4, 4, 1, 30, 1, 4},          {3, 32, 20, 20, 20, 3, 320, 1, 4},
        {2, 1, 2, 3, 1, 0, 9, 1, 4},           {101, 1, 20, 2, 2, 0, 320, 1, 4},
        {150, 32, 20, 2, 1, 0, 320, 100, 2},   {9, 32, 20, 20, 20, 1, 320, 100, 2},
        {5, 3, 20, 20, 20, 2, 320, 1, 4},      {17, 2, 6, 7, 5, 1, 40, 1, 4},
        {31, 4, 10, 4, 9, 2, 90, 100, 3},
    };
    Compare(cases, sizeof(cases) / sizeof(cases[0]));
}

// Pictures and masks of the code before the mask skipped anything (commit
// 5899405, with only the mask probe added), each as a hash: every frame's
// mask and the surface after each frame, every slot at its maximum and
// ordinary settings, through the mask, tile by tile and on one tile.
struct GoldenCase {
    int w, h, width, symmetry, beziers, xTiles, yTiles, tileType, speed, trail, frames;
    unsigned maskHash, pictureHash;
};

unsigned Fold(unsigned hash, unsigned value)
{
    for (int i = 0; i < 4; ++i)
        hash = (hash ^ ((value >> (8 * i)) & 0xFF)) * 16777619u;
    return hash;
}

class BezierGolden : public BezierPen {
protected:
    void Check(const GoldenCase* cases, size_t count)
    {
        int print = getenv("VIVRA_PRINT_GOLDEN") != 0;
        for (size_t i = 0; i < count; ++i) {
            const GoldenCase& c = cases[i];
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " width " << c.width << " symmetry "
                                            << c.symmetry << " tiles " << c.xTiles << "x" << c.yTiles);
            bezierMaskProbe = ProbeMask;
            probing = 0;
            masks[0].clear();
            Set(WIDTH, c.width);
            Set(SYMMETRY, c.symmetry);
            Set(BEZIERS, c.beziers);
            Set(TRAIL, c.trail);
            Set(SPEED, c.speed);
            Set(X_TILING, c.xTiles);
            Set(Y_TILING, c.yTiles);
            Set(TILE_TYPE, c.tileType);
            ClearTestSurface(&surface);
            ExcludeClipRect(surface.surface.dc, c.w / 3, c.h / 3, c.w / 2, c.h / 2);
            Begin(901 + c.width + c.symmetry);
            unsigned pictureHash = 2166136261u;
            for (int f = 0; f < c.frames; ++f) {
                Frames(1);
                std::vector<BYTE> picture = Picture();
                for (BYTE b : picture)
                    pictureHash = (pictureHash ^ b) * 16777619u;
            }
            SelectClipRgn(surface.surface.dc, NULL);
            BezierClose(record);
            bezierMaskProbe = 0;
            unsigned maskHash = 2166136261u;
            for (const MaskPrint& m : masks[0]) {
                maskHash = Fold(Fold(Fold(Fold(maskHash, m.left), m.top), m.width), m.height);
                maskHash = Fold(Fold(maskHash, m.set), m.hash);
            }
            if (print)
                printf("        {%d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, 0x%08xu, 0x%08xu},\n", c.w, c.h, c.width,
                       c.symmetry, c.beziers, c.xTiles, c.yTiles, c.tileType, c.speed, c.trail, c.frames, maskHash,
                       pictureHash);
            EXPECT_EQ(maskHash, c.maskHash) << "the masks are not those of before";
            EXPECT_EQ(pictureHash, c.pictureHash) << "the pictures are not those of before";
        }
        Begin(8);   // TearDown closes it again
    }
};

TEST_F(BezierGolden, EverySlotAtItsMaximumAt1920x1080AsBefore)
{
    OpenSurface(1920, 1080, 1000);
    const GoldenCase cases[] = {
        {1920, 1080, 200, 32, 20, 20, 20, 3, 320, 100, 3, 0x215de84au, 0xf0d31fc5u},
    };
    Check(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST_F(BezierGolden, OrdinarySettingsAt640x480AsBefore)
{
    OpenSurface(640, 480, 1000);
    const GoldenCase cases[] = {
        {640, 480, 200, 32, 20, 20, 20, 3, 320, 100, 3, 0x856a857au, 0x43b17dc5u},
        {640, 480, 12, 10, 1, 1, 1, 0, 4, 100, 6, 0x811c9dc5u, 0x39e469fbu},
        {640, 480, 40, 7, 6, 1, 1, 0, 30, 1, 6, 0x811c9dc5u, 0x5dda9c45u},
        {640, 480, 9, 32, 20, 20, 20, 1, 320, 100, 3, 0x04143ce3u, 0x315db085u},
        {640, 480, 5, 3, 20, 20, 20, 2, 320, 1, 5, 0xc0bef391u, 0x59b34b25u},
        {640, 480, 17, 2, 6, 7, 5, 1, 40, 1, 5, 0xbc673ba1u, 0xc0163e28u},
        {640, 480, 31, 4, 10, 4, 9, 2, 90, 100, 4, 0x363c9cc4u, 0xa1eaddf2u},
        {640, 480, 60, 7, 20, 20, 20, 0, 9, 1, 5, 0x1bc180a1u, 0xcd78fdc5u},
        {640, 480, 13, 32, 8, 3, 3, 3, 9, 1, 5, 0x5eab7e69u, 0x3fb00c21u},
        {640, 480, 2, 1, 2, 3, 1, 0, 9, 1, 5, 0x7633d08du, 0x74fb69b1u},
        {640, 480, 150, 32, 20, 2, 1, 0, 320, 100, 3, 0x064f732bu, 0x43b17dc5u},
        {640, 480, 101, 5, 20, 2, 2, 0, 320, 1, 5, 0x42d601b9u, 0x8dcce102u},
    };
    Check(cases, sizeof(cases) / sizeof(cases[0]));
}

}  // namespace
