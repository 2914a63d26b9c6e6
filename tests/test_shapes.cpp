// Shape lines on a real 8-bit surface: pen styles, stamped shapes, recursive
// rings, the stamp spacing along a walked line and the record staying as it
// was.
#include <gtest/gtest.h>
#include "graphics/shapes.h"
#include "runtime/common.h"
#include "support/surface_support.h"
#include <math.h>
#include <string.h>

namespace {

const int BACKGROUND = 50;   // animated entry the surface is filled with
const int INK = 7;

class Shapes : public ::testing::Test {
protected:
    TestSurface surface;
    HDC dc;
    void SetUp() override
    {
        ASSERT_TRUE(OpenTestSurface(&surface, 160, 120));
        dc = surface.surface.dc;
        SeedRandom(4242);
    }
    void TearDown() override { CloseTestSurface(&surface); }

    void Fill(int entry)
    {
        GdiFlush();
        memset(surface.surface.bits, STATIC_LOW + entry,
               (size_t)surface.surface.stride * surface.surface.height);
    }
    int At(int x, int y) { return SurfaceEntry(&surface, x, y); }
    int Count(int entry, int left, int top, int right, int bottom)
    {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                n += At(x, y) == entry;
        return n;
    }
    int CountAll(int entry) { return Count(entry, 0, 0, 160, 120); }
    // Rows [top, bottom) of column x that hold the entry.
    int ColumnRun(int entry, int x)
    {
        int n = 0;
        for (int y = 0; y < 120; ++y)
            n += At(x, y) == entry;
        return n;
    }
};

TEST_F(Shapes, SmallSizesGiveStrokesAndFilledStyles)
{
    ShapePen pen;
    for (int size = 1; size <= 3; ++size) {
        shapePenInit(dc, 6, 5, 2, size, 0.5f, &pen);
        EXPECT_EQ(pen.sides, 1) << size;
        // Sizes 1 and 2 force a filled style of the same depth; 3 does not.
        EXPECT_EQ(pen.type, size < 3 ? 4 : 5) << size;
    }
    shapePenInit(dc, 2, 8, 2, 20, 0.5f, &pen);
    EXPECT_EQ(pen.sides, 2);
    EXPECT_EQ(pen.type, 7);
    shapePenInit(dc, 2, 0, 2, 20, 0.5f, &pen);
    EXPECT_EQ(pen.type, 1);
    shapePenInit(dc, 6, 5, 2, 20, 0.5f, &pen);
    EXPECT_EQ(pen.sides, 6);
    EXPECT_EQ(pen.type, 5);
    EXPECT_FLOAT_EQ(pen.shapeSize, 20.0f);
    EXPECT_EQ(pen.angle, 0.0f);
    EXPECT_EQ(pen.counter, 0);
    // Odd inputs stay drawable: no more than ten vertices.
    shapePenInit(dc, 200, 2, 2, 20, 0.5f, &pen);
    EXPECT_EQ(pen.sides, 10);
    for (int i = 0; i < 200; ++i) {
        shapePenInit(dc, 6, 1, 2, 20, 0.5f, &pen);
        ASSERT_GE(pen.shrink, 0.18f);
        ASSERT_LE(pen.shrink, 0.6667f);
        ASSERT_GE(pen.spin, 0.5f);
        ASSERT_LE(pen.spin, 1.5f);
    }
}

TEST_F(Shapes, SizesOneToThreeDrawStrokesOfThatWidthAndDots)
{
    for (int size = 1; size <= 3; ++size) {
        ClearTestSurface(&surface);
        ShapePen pen;
        shapePenInit(dc, 6, 2, 3, size, 0.0f, &pen);
        shapePenSelect(&pen, PALETTEINDEX(INK));
        shapeLine(20, 40, 100, 40, &pen);
        // A plain horizontal band as thick as the size, not a row of shapes.
        for (int x = 30; x <= 90; x += 10)
            EXPECT_EQ(ColumnRun(INK, x), size) << "size " << size << " x " << x;
        EXPECT_EQ(Count(INK, 0, 0, 160, 37), 0);
        EXPECT_EQ(Count(INK, 0, 44, 160, 120), 0);
        shapeStamp(60, 90, &pen);
        shapePenRelease(&pen);
        if (size > 1) {
            // The wide pen leaves a dot centred on the point.
            int dot = Count(INK, 55, 85, 66, 96);
            EXPECT_GT(dot, 0) << size;
            EXPECT_LE(dot, 16) << size;
            EXPECT_EQ(Count(INK, 0, 50, 160, 120), dot) << size;
        }
    }
}

TEST_F(Shapes, FillStylesOfAStampedPolygon)
{
    // A four-sided shape at angle 0 is the diamond with vertices 10 pixels
    // below, right of, above and left of the centre.
    const int x = 80, y = 60;
    struct { int type; int centre; int border; } styles[] = {
        {0, INK, -2},          // filled, black outline
        {1, INK, INK},         // filled, outline in the fill colour
        {2, BACKGROUND, INK},  // outline only
    };
    for (auto& style : styles) {
        Fill(BACKGROUND);
        ShapePen pen;
        shapePenInit(dc, 4, style.type, 1, 10, 0.0f, &pen);
        shapePenSelect(&pen, PALETTEINDEX(INK));
        shapeStamp(x, y, &pen);
        shapePenRelease(&pen);
        EXPECT_EQ(At(x, y), style.centre) << style.type;
        EXPECT_EQ(At(x + 4, y - 3), style.centre) << style.type;
        // The left vertex lies on the outline.
        if (style.border == -2)
            EXPECT_EQ(SurfaceByte(&surface, x - 10, y), 0) << style.type;
        else
            EXPECT_EQ(At(x - 10, y), style.border) << style.type;
        // Outside the diamond nothing changes.
        EXPECT_EQ(At(x + 7, y + 7), BACKGROUND) << style.type;
        EXPECT_EQ(At(x - 12, y), BACKGROUND) << style.type;
        EXPECT_EQ(At(x, y + 12), BACKGROUND) << style.type;
    }
}

TEST_F(Shapes, RecursiveTypesDrawRingsOfShapes)
{
    const int x = 80, y = 60;
    // Type 4: a ring of four small filled diamonds, one on each vertex of the
    // big one; nothing at the centre.
    Fill(BACKGROUND);
    ShapePen pen;
    shapePenInit(dc, 4, 4, 1, 30, 0.0f, &pen);
    float child = 30.0f * pen.shrink + 1.0f;
    shapePenSelect(&pen, PALETTEINDEX(INK));
    shapeStamp(x, y, &pen);
    shapePenRelease(&pen);
    EXPECT_EQ(At(x, y), BACKGROUND);
    EXPECT_EQ(At(x, y + 30), INK);
    EXPECT_EQ(At(x + 30, y), INK);
    EXPECT_EQ(At(x, y - 30), INK);
    EXPECT_EQ(At(x - 30, y), INK);
    EXPECT_EQ(At(x + 15, y + 15), BACKGROUND);   // between the ring's shapes
    int reach = (int)child + 2;
    EXPECT_EQ(At(x + 30 + reach, y), BACKGROUND);

    // Type 7: a ring of rings: no shape on the first ring's vertices
    // themselves, shapes around each of them.
    Fill(BACKGROUND);
    shapePenInit(dc, 4, 7, 1, 40, 0.0f, &pen);
    shapePenSelect(&pen, PALETTEINDEX(INK));
    shapeStamp(x, y, &pen);
    shapePenRelease(&pen);
    float second = 40.0f * pen.shrink + 1.0f;
    int r = (int)second;
    EXPECT_EQ(At(x, y), BACKGROUND);
    EXPECT_EQ(At(x + 40, y), BACKGROUND);          // a first-ring vertex: empty
    EXPECT_EQ(At(x + 40, y + r), INK);             // its own ring below it
    EXPECT_EQ(At(x + 40 + r, y), INK);
    EXPECT_GT(CountAll(INK), 0);
}

TEST_F(Shapes, LineStampsEveryIntervalPlusOnePointsFromItsSecondEnd)
{
    ClearTestSurface(&surface);
    ShapePen pen;
    shapePenInit(dc, 4, 1, 9, 4, 0.0f, &pen);
    ShapePen before = pen;
    shapePenSelect(&pen, PALETTEINDEX(INK));
    // Walked from (120, 60) toward (80, 60): points 120, 119, ..., 81.
    shapeLine(80, 60, 120, 60, &pen);
    EXPECT_EQ(memcmp(&before, &pen, sizeof(pen)), 0);   // the record is as it was
    // Stamps at 120, 110, 100, 90; none at the first end (80).
    for (int cx : {120, 110, 100, 90}) {
        EXPECT_EQ(At(cx, 60), INK) << cx;
        EXPECT_EQ(At(cx, 63), INK) << cx;
    }
    EXPECT_EQ(SurfaceByte(&surface, 80, 60), 0);
    EXPECT_EQ(SurfaceByte(&surface, 85, 60), 0);
    EXPECT_EQ(SurfaceByte(&surface, 105, 60), 0);
    // Four separate diamonds of radius 4, nothing else.
    int total = CountAll(INK);
    EXPECT_EQ(total, 4 * Count(INK, 115, 50, 126, 70));

    // A zero-length line visits no point and stamps nothing.
    ClearTestSurface(&surface);
    shapeLine(50, 50, 50, 50, &pen);
    EXPECT_EQ(CountAll(INK), 0);

    // Interval 0 stamps every point.
    shapePenInit(dc, 4, 1, 0, 4, 1.0f, &pen);
    shapeLine(30, 30, 60, 30, &pen);
    shapePenRelease(&pen);
    for (int cx = 31; cx <= 60; ++cx)
        EXPECT_EQ(At(cx, 34), INK) << cx;
}

TEST_F(Shapes, ShapesAlongALineTurnByTheAngleStep)
{
    ClearTestSurface(&surface);
    ShapePen pen;
    // Two stamps on a 40-point line (at points 0 and 20); the second is
    // turned by angleStep * 19 / 40, chosen to be 45 degrees.
    const float quarterPi = 0.78539816f;
    shapePenInit(dc, 4, 2, 19, 12, quarterPi * 40.0f / 19.0f, &pen);
    shapePenSelect(&pen, PALETTEINDEX(INK));
    shapeLine(80, 60, 120, 60, &pen);
    // First stamp at 120: an outlined diamond with a vertex 12 below.
    EXPECT_EQ(At(120, 72), INK);
    EXPECT_NE(At(120 + 8, 60 + 8), INK);
    // Second stamp at 100: a square with corners at 45 degrees.
    EXPECT_NE(At(100, 72), INK);
    EXPECT_EQ(At(100 + 8, 60 + 8), INK);
    // The next line starts with the same angle again.
    ClearTestSurface(&surface);
    shapeLine(80, 60, 120, 60, &pen);
    EXPECT_EQ(At(120, 72), INK);
    EXPECT_EQ(At(100 + 8, 60 + 8), INK);
    shapePenRelease(&pen);
}

TEST_F(Shapes, PlainStrokeEvenForRecursiveTypes)
{
    ClearTestSurface(&surface);
    ShapePen pen;
    shapePenInit(dc, 1, 5, 2, 10, 0.5f, &pen);
    EXPECT_EQ(pen.type, 5);
    shapePenSelect(&pen, PALETTEINDEX(INK));
    shapeLine(30, 60, 130, 60, &pen);
    shapePenRelease(&pen);
    // One solid band ten pixels thick.
    for (int x = 40; x <= 120; x += 20) {
        EXPECT_EQ(ColumnRun(INK, x), 10) << x;
        EXPECT_EQ(Count(INK, x, 55, x + 1, 65), 10) << x;
    }
}

TEST_F(Shapes, ReleaseDeletesWhatSelectCreated)
{
    for (int style = 0; style < 3; ++style) {
        ShapePen pen;
        shapePenInit(dc, 5, style, 1, 10, 0.0f, &pen);
        shapePenSelect(&pen, PALETTEINDEX(INK));
        HGDIOBJ linePen = GetCurrentObject(dc, OBJ_PEN);
        HGDIOBJ brush = GetCurrentObject(dc, OBJ_BRUSH);
        EXPECT_NE(linePen, GetStockObject(BLACK_PEN));
        shapePenRelease(&pen);
        EXPECT_EQ(GetObjectType(linePen), 0u) << style;
        if (style != 2)
            EXPECT_EQ(GetObjectType(brush), 0u) << style;
        else
            EXPECT_EQ(brush, GetStockObject(NULL_BRUSH));
        EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
        EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(BLACK_BRUSH));
    }
    ShapePen stroke;
    shapePenInit(dc, 1, 0, 1, 6, 0.0f, &stroke);
    shapePenSelect(&stroke, PALETTEINDEX(INK));
    HGDIOBJ wide = GetCurrentObject(dc, OBJ_PEN);
    LOGPEN logical;
    ASSERT_EQ(GetObjectA(wide, sizeof(logical), &logical), (int)sizeof(logical));
    EXPECT_EQ(logical.lopnWidth.x, 6);
    shapePenRelease(&stroke);
    EXPECT_EQ(GetObjectType(wide), 0u);
}

}  // namespace
