// Tiling, ring copies, symmetry and the bitmap helpers, checked pixel by
// pixel on real 8-bit DIB sections.
#include <gtest/gtest.h>
#include "graphics/surface.h"
#include "runtime/common.h"
#include "runtime/soundlink.h"
#include "support/surface_support.h"
#include <math.h>
#include <string.h>
#include <utility>
#include <vector>

namespace {

const BYTE MARK = 5;   // a static colour byte no tiling source holds

void Put(TestSurface* t, int x, int y, BYTE v)
{
    t->surface.bits[y * t->surface.stride + x] = v;
}

void FillAll(TestSurface* t, BYTE v)
{
    GdiFlush();
    memset(t->surface.bits, v, (size_t)t->surface.stride * t->surface.height);
}

// A unique byte per pixel of a 15 x 15 tile.
BYTE Pattern(int x, int y)
{
    return (BYTE)(STATIC_LOW + x * 15 + y);
}

// Paints the pattern into tile (i, j) of 15 x 15 tiles.
void PaintTile(TestSurface* t, int i, int j)
{
    GdiFlush();
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x)
            Put(t, i * 15 + x, j * 15 + y, Pattern(x, y));
}

// Counts the pixels of tile (i, j) that differ from the source pattern seen
// through the tile's mirroring (odd columns left-right, odd rows top-bottom).
int MirrorMismatches(const TestSurface* t, int i, int j)
{
    int bad = 0;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x) {
            int sx = (i & 1) ? 14 - x : x;
            int sy = (j & 1) ? 14 - y : y;
            bad += SurfaceByte(t, i * 15 + x, j * 15 + y) != Pattern(sx, sy);
        }
    return bad;
}

int CountByte(const TestSurface* t, int left, int top, int right, int bottom, BYTE v)
{
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            n += SurfaceByte(t, x, y) == v;
    return n;
}

class Surface : public ::testing::Test {
protected:
    TestSurface t;
    void Open(int w, int h) { ASSERT_TRUE(OpenTestSurface(&t, w, h)); }
    void TearDown() override { CloseTestSurface(&t); }
};

TEST(TileRule, AdmitsByTileType)
{
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(TileAdmitted(i, j, 0), 1);
            EXPECT_EQ(TileAdmitted(i, j, 3), 1);
            EXPECT_EQ(TileAdmitted(i, j, 1), (i + j) % 2 == 1);
            EXPECT_EQ(TileAdmitted(i, j, 2), (i + j) % 2 == 0);
        }
    // 3 x 2 with type 1: exactly (1, 0), (0, 1) and (2, 1).
    int admitted = 0;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i)
            admitted += TileAdmitted(i, j, 1);
    EXPECT_EQ(admitted, 3);
    EXPECT_TRUE(TileAdmitted(1, 0, 1) && TileAdmitted(0, 1, 1) && TileAdmitted(2, 1, 1));
}

TEST_F(Surface, CheckerboardCopiesTheSecondTileIntoTheOtherAdmittedOnes)
{
    Open(47, 30);   // 3 x 2 tiles of 15, a 2-pixel strip at the right
    FillAll(&t, MARK);
    PaintTile(&t, 1, 0);
    TiledCopy(t.surface.dc, 3, 2, 15, 15, 1);
    EXPECT_EQ(MirrorMismatches(&t, 0, 1), 0) << "(0, 1) is the source mirrored top to bottom";
    EXPECT_EQ(MirrorMismatches(&t, 2, 1), 0);
    // The source tile stays, the other tiles and the strip are untouched.
    int bad = 0;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x)
            bad += SurfaceByte(&t, 15 + x, y) != Pattern(x, y);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(CountByte(&t, 0, 0, 15, 15, MARK), 225);
    EXPECT_EQ(CountByte(&t, 30, 0, 45, 15, MARK), 225);
    EXPECT_EQ(CountByte(&t, 15, 15, 30, 30, MARK), 225);
    EXPECT_EQ(CountByte(&t, 45, 0, 47, 30, MARK), 60);
}

TEST_F(Surface, AllTilesFormAKaleidoscopeOfTheFirst)
{
    Open(31, 33);   // 2 x 2 tiles of 15, strips at the right and bottom
    FillAll(&t, MARK);
    PaintTile(&t, 0, 0);
    TiledCopy(t.surface.dc, 2, 2, 15, 15, 0);
    EXPECT_EQ(MirrorMismatches(&t, 0, 0), 0);
    EXPECT_EQ(MirrorMismatches(&t, 1, 0), 0) << "left-right mirror";
    EXPECT_EQ(MirrorMismatches(&t, 0, 1), 0) << "top-bottom mirror";
    EXPECT_EQ(MirrorMismatches(&t, 1, 1), 0) << "turned by 180 degrees";
    EXPECT_EQ(CountByte(&t, 30, 0, 31, 33, MARK), 33);
    EXPECT_EQ(CountByte(&t, 0, 30, 31, 33, MARK), 93);
}

TEST_F(Surface, EvenCheckerboardCopiesOnlyTheDiagonal)
{
    Open(30, 30);
    FillAll(&t, MARK);
    PaintTile(&t, 0, 0);
    TiledCopy(t.surface.dc, 2, 2, 15, 15, 2);
    EXPECT_EQ(MirrorMismatches(&t, 1, 1), 0);
    EXPECT_EQ(CountByte(&t, 15, 0, 30, 15, MARK), 225);
    EXPECT_EQ(CountByte(&t, 0, 15, 15, 30, MARK), 225);
}

// Paints the one-pixel ring inset by k inside a 16 x 16 tile at (ox, 0) with
// unique bytes, and returns its rectangle.
RECT PaintRing(TestSurface* t, int ox, int k)
{
    RECT r = {ox + k, k, ox + 15 - k, 15 - k};
    GdiFlush();
    BYTE v = STATIC_LOW;
    for (int x = r.left; x <= r.right; ++x) {
        Put(t, x, r.top, v++);
        Put(t, x, r.bottom, v++);
    }
    for (int y = r.top + 1; y < r.bottom; ++y) {
        Put(t, r.left, y, v++);
        Put(t, r.right, y, v++);
    }
    return r;
}

// Checks every tile (i, j) that should hold the ring against the source
// tile (si, 0) seen through its mirroring; everything else must be MARK.
void CheckRingCopies(const TestSurface* t, int nx, int ny, int type, int si, int k)
{
    int bad = 0, stray = 0;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            int isSource = i == si && j == 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) {
                    BYTE got = SurfaceByte(t, i * 16 + x, j * 16 + y);
                    int onRing = (x == k || x == 15 - k || y == k || y == 15 - k) && x >= k && x <= 15 - k &&
                                 y >= k && y <= 15 - k;
                    if (isSource)
                        continue;
                    if (!TileAdmitted(i, j, type) || !onRing) {
                        stray += got != MARK;
                        continue;
                    }
                    int sx = (i & 1) ? 15 - x : x;
                    int sy = (j & 1) ? 15 - y : y;
                    bad += got != SurfaceByte(t, si * 16 + sx, sy);
                }
        }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(stray, 0);
}

TEST_F(Surface, RingCopyMovesOnlyTheRingEdgesIntoEveryTile)
{
    Open(32, 32);
    FillAll(&t, MARK);
    RECT ring = PaintRing(&t, 0, 3);
    RingTiledCopy(t.surface.dc, 2, 2, 16, 16, 0, 10, 10, &ring, &ring);
    CheckRingCopies(&t, 2, 2, 0, 0, 3);
}

TEST_F(Surface, RingCopyOfTheCheckerboardSkipsItsShiftedSource)
{
    Open(48, 32);
    FillAll(&t, MARK);
    RECT ring = PaintRing(&t, 16, 2);
    RECT unshifted = {2, 2, 13, 13};
    RingTiledCopy(t.surface.dc, 3, 2, 16, 16, 1, 12, 12, &ring, &unshifted);
    CheckRingCopies(&t, 3, 2, 1, 1, 2);
}

TEST(Rotate, ByZeroKeepsThePointAndAQuarterTurnSwapsAxes)
{
    const POINT points[] = {{0, 0}, {17, -4}, {-300, 250}, {1000, 1}};
    for (POINT p : points) {
        POINT q = p;
        RotatePoint(&q, 0.0f);
        EXPECT_EQ(q.x, p.x);
        EXPECT_EQ(q.y, p.y);
    }
    POINT q = {1000, 0};
    RotatePoint(&q, 1.5707964f);
    EXPECT_EQ(q.x, 0);
    EXPECT_NEAR(q.y, -1000, 1);
    POINT r = {0, 1000};
    RotatePoint(&r, 1.5707964f);
    EXPECT_NEAR(r.x, 1000, 1);
    EXPECT_EQ(r.y, 0);
    POINT n = {5, 5};
    RotatePoint(&n, NAN);
    EXPECT_EQ(n.x, 5);
}

// Whole numbers and their nearest neighbours either side, at every size a
// coordinate takes, and values no LONG holds: the quick truncation gives
// the cast's every result.
TEST(Rotate, QuickTruncationIsTheCast)
{
    const long double wholes[] = {0, 1, 2, 3, 17, 255, 1000, 65536, 1e6L, 16777217, 1073741824.0L, 2147483647.0L};
    int checked = 0;
    for (long double w : wholes)
        for (int sign = -1; sign <= 1; sign += 2)
            for (long double step : {0.0L, 1e-15L, 1e-9L, 0.25L, 0.5L, 0.75L}) {
                long double base = sign * w;
                for (long double v : {base, base + step, base - step, nextafterl(base, 1e30L), nextafterl(base, -1e30L)}) {
                    quickTruncation = 0;
                    LONG cast = TruncLongDouble(v);
                    quickTruncation = 1;
                    EXPECT_EQ(TruncLongDouble(v), cast) << (double)v << " + " << (double)(v - (long double)(double)v);
                    ++checked;
                }
            }
    quickTruncation = 1;
    EXPECT_GT(checked, 500);
}

// A pixel buffer of maxX + 1 columns and maxY + 1 rows on DIB row strides.
struct Buffer {
    int maxX, maxY, stride;
    std::vector<BYTE> bytes;
    Buffer(int mx, int my) : maxX(mx), maxY(my), stride((mx + 1 + 3) & ~3), bytes((size_t)stride * (my + 1), 0) {}
    BYTE& at(int x, int y) { return bytes[(size_t)y * stride + x]; }
};

TEST(Symmetry, SwapsExchangeEveryOtherPixel)
{
    // 4 x 3 pixels, p(x, y) = 10y + x.
    Buffer point(3, 2), horizontal(3, 2), vertical(3, 2);
    for (int y = 0; y <= 2; ++y)
        for (int x = 0; x <= 3; ++x)
            point.at(x, y) = horizontal.at(x, y) = vertical.at(x, y) = (BYTE)(10 * y + x);
    Buffer original = point;

    ApplySymmetry(point.bytes.data(), 3, 2, 1);
    Buffer expected = original;
    std::swap(expected.at(1, 0), expected.at(2, 2));
    std::swap(expected.at(0, 1), expected.at(3, 1));
    EXPECT_EQ(point.bytes, expected.bytes);

    ApplySymmetry(horizontal.bytes.data(), 3, 2, 2);
    expected = original;
    std::swap(expected.at(1, 0), expected.at(2, 0));
    std::swap(expected.at(0, 1), expected.at(3, 1));
    EXPECT_EQ(horizontal.bytes, expected.bytes);

    ApplySymmetry(vertical.bytes.data(), 3, 2, 3);
    expected = original;
    std::swap(expected.at(1, 0), expected.at(1, 2));
    EXPECT_EQ(vertical.bytes, expected.bytes);
}

TEST(Symmetry, ModeFourteenSmoothsThenFillsThePointMirrorAbove127)
{
    Buffer b(11, 9);
    for (int y = 0; y <= 9; ++y)
        for (int x = 0; x <= 11; ++x)
            b.at(x, y) = (BYTE)((x * 37 + y * 91 + x * y * 13) & 255);
    // The expected picture, worked out step by step.
    Buffer e = b;
    for (int x = 1; x <= 11 - 3; ++x)
        for (int y = 1; y <= 9 - 3; ++y) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += e.at(x + dx, y + dy);
            e.at(x, y) = (BYTE)(sum / 9);
        }
    Buffer smoothed = e;
    for (int y = 0; y <= 9 - 1; ++y)
        for (int x = 0; x <= 11 - 1; ++x)
            if (e.at(x, y) > 127)
                e.at(x, y) = smoothed.at(11 - x, 9 - y);
    ApplySymmetry(b.bytes.data(), 11, 9, 14);
    EXPECT_EQ(b.bytes, e.bytes);
    // The last row and column are outside the fill.
    EXPECT_EQ(b.at(11, 4), smoothed.at(11, 4));
}

TEST(Symmetry, ModeZeroDrawsAModeAndOddModesAreSafe)
{
    Buffer b(9, 7);
    for (size_t i = 0; i < b.bytes.size(); ++i)
        b.bytes[i] = (BYTE)(i * 29);
    // Find seeds whose first draw gives mode 0 and mode 1.
    unsigned zeroSeed = 0, oneSeed = 0;
    for (unsigned s = 1; (!zeroSeed || !oneSeed) && s < 100000; ++s) {
        SeedRandom(s);
        int m = Random() % 20;
        if (m == 0 && !zeroSeed)
            zeroSeed = s;
        if (m == 1 && !oneSeed)
            oneSeed = s;
    }
    Buffer c = b;
    SeedRandom(zeroSeed);
    ApplySymmetry(c.bytes.data(), 9, 7, 0);
    EXPECT_EQ(c.bytes, b.bytes) << "a drawn 0 changes nothing";
    SeedRandom(oneSeed);
    ApplySymmetry(c.bytes.data(), 9, 7, 0);
    Buffer d = b;
    ApplySymmetry(d.bytes.data(), 9, 7, 1);
    EXPECT_EQ(c.bytes, d.bytes);
    EXPECT_NE(c.bytes, b.bytes);

    c = b;
    ApplySymmetry(c.bytes.data(), 9, 7, -4);
    EXPECT_EQ(c.bytes, b.bytes);
    // 25 only smooths; 20 smooths twice.
    Buffer once = b, twice = b, smooth = b;
    ApplySymmetry(once.bytes.data(), 9, 7, 25);
    ApplySymmetry(smooth.bytes.data(), 9, 7, 10);
    EXPECT_EQ(once.bytes, smooth.bytes);
    ApplySymmetry(twice.bytes.data(), 9, 7, 20);
    ApplySymmetry(smooth.bytes.data(), 9, 7, 10);
    EXPECT_EQ(twice.bytes, smooth.bytes);

    for (int mode = -2; mode < 30; ++mode) {
        Buffer tiny(0, 0), line(5, 0), column(0, 5);
        ApplySymmetry(tiny.bytes.data(), 0, 0, mode);
        ApplySymmetry(line.bytes.data(), 5, 0, mode);
        ApplySymmetry(column.bytes.data(), 0, 5, mode);
    }
    ApplySymmetry(nullptr, 10, 10, 4);
}

TEST_F(Surface, CreateDib8MakesGreyOrSurfaceColourTables)
{
    Open(16, 16);
    BITMAPINFO* info = nullptr;
    void* bits = nullptr;
    HBITMAP grey = CreateDib8(t.surface.dc, 1, 10, 6, &info, &bits);
    ASSERT_NE(grey, (HBITMAP)0);
    ASSERT_NE(info, nullptr);
    EXPECT_NE(bits, nullptr);
    EXPECT_EQ(info->bmiHeader.biSize, 40u);
    EXPECT_EQ(info->bmiHeader.biWidth, 10);
    EXPECT_EQ(info->bmiHeader.biHeight, 6);
    EXPECT_EQ(info->bmiHeader.biBitCount, 8);
    EXPECT_EQ(info->bmiHeader.biClrUsed, 256u);
    for (int k = 0; k < 256; ++k) {
        ASSERT_EQ(info->bmiColors[k].rgbRed, (k + 1) % 256);
        ASSERT_EQ(info->bmiColors[k].rgbBlue, (k + 1) % 256);
    }
    DeleteObject(grey);
    LocalFree(info);

    HBITMAP copy = CreateDib8(t.surface.dc, 0, 4, 4, &info, &bits);
    ASSERT_NE(copy, (HBITMAP)0);
    COLORREF key = KeyColour(0);
    EXPECT_EQ(info->bmiColors[STATIC_LOW].rgbRed, GetRValue(key));
    EXPECT_EQ(info->bmiColors[STATIC_LOW].rgbGreen, GetGValue(key));
    EXPECT_EQ(info->bmiColors[255].rgbRed, 255);
    DeleteObject(copy);
    LocalFree(info);
}

TEST(BitmapHeaders, ColourCountsAndTableSizes)
{
    BITMAPCOREHEADER core = {sizeof(BITMAPCOREHEADER), 4, 4, 1, 8};
    EXPECT_EQ(DibColorCount((BITMAPINFOHEADER*)&core), 256);
    EXPECT_EQ(DibColorTableSize((BITMAPINFOHEADER*)&core), 768);
    core.bcBitCount = 24;
    EXPECT_EQ(DibColorCount((BITMAPINFOHEADER*)&core), 0);

    BITMAPINFOHEADER h;
    ZeroMemory(&h, sizeof(h));
    h.biSize = sizeof(h);
    h.biBitCount = 4;
    EXPECT_EQ(DibColorCount(&h), 16);
    EXPECT_EQ(DibColorTableSize(&h), 64);
    h.biClrUsed = 5;
    EXPECT_EQ(DibColorCount(&h), 5);
    h.biBitCount = 24;
    h.biClrUsed = 0;
    EXPECT_EQ(DibColorCount(&h), 0);
    h.biBitCount = 16;
    h.biCompression = BI_BITFIELDS;
    EXPECT_EQ(DibColorTableSize(&h), 12);
    h.biBitCount = 1;
    EXPECT_EQ(DibColorTableSize(&h), 20);
    // A damaged count never asks for more than a full table.
    h.biClrUsed = 0xFFFFFFF0u;
    EXPECT_EQ(DibColorCount(&h), 256);
}

TEST(BitmapHeaders, BitCountAndLowestBit)
{
    EXPECT_EQ(BitCount(0), 0);
    EXPECT_EQ(BitCount(0xFF0000), 8);
    EXPECT_EQ(BitCount(0x07E0), 6);
    EXPECT_EQ(BitCount(0xFFFFFFFFu), 32);
    EXPECT_EQ(LowestBit(0), 255);
    EXPECT_EQ(LowestBit(1), 0);
    EXPECT_EQ(LowestBit(0x03E0), 5);
    EXPECT_EQ(LowestBit(0x80000000u), 31);
}

// A bottom-up DIB section of the given depth, optionally with bit fields.
HBITMAP MakeSection(int width, int height, int depth, const DWORD* masks, void** bits)
{
    struct {
        BITMAPINFOHEADER h;
        DWORD masks[3];
    } info;
    ZeroMemory(&info, sizeof(info));
    info.h.biSize = sizeof(BITMAPINFOHEADER);
    info.h.biWidth = width;
    info.h.biHeight = height;
    info.h.biPlanes = 1;
    info.h.biBitCount = (WORD)depth;
    if (masks) {
        info.h.biCompression = BI_BITFIELDS;
        memcpy(info.masks, masks, sizeof(info.masks));
    }
    return CreateDIBSection(NULL, (BITMAPINFO*)&info, DIB_RGB_COLORS, bits, NULL, 0);
}

TEST(GreyConversion, EveryDepthGivesTheMeanOfItsChannels)
{
    void* greyBits = nullptr;
    BITMAPINFO* info = nullptr;
    HBITMAP grey = CreateDib8(NULL, 1, 3, 2, &info, &greyBits);
    ASSERT_NE(grey, (HBITMAP)0);
    DIBSECTION destination;
    ASSERT_TRUE(GetObjectA(grey, sizeof(destination), &destination));
    BYTE* out = (BYTE*)greyBits;   // rows of 4 bytes

    void* bits = nullptr;
    HBITMAP s32 = MakeSection(3, 2, 32, nullptr, &bits);
    DWORD* p32 = (DWORD*)bits;
    p32[0] = 0x00FFFFFF;   // white
    p32[1] = 0x00000000;
    p32[2] = 0x00306090;   // red 0x30, green 0x60, blue 0x90
    p32[3] = 0x00FF0000;
    DIBSECTION source;
    GetObjectA(s32, sizeof(source), &source);
    DibToGrey8(&source, &destination);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], (0x30 + 0x60 + 0x90) / 3);
    EXPECT_EQ(out[4], 85) << "second row lands in the second row";
    DeleteObject(s32);

    HBITMAP s24 = MakeSection(3, 2, 24, nullptr, &bits);
    BYTE* p24 = (BYTE*)bits;   // rows of 12 bytes
    p24[0] = 30, p24[1] = 60, p24[2] = 90;
    p24[12 + 6] = 255, p24[12 + 7] = 255, p24[12 + 8] = 255;
    GetObjectA(s24, sizeof(source), &source);
    DibToGrey8(&source, &destination);
    EXPECT_EQ(out[0], 60);
    EXPECT_EQ(out[4 + 2], 255);
    DeleteObject(s24);

    HBITMAP s555 = MakeSection(3, 2, 16, nullptr, &bits);
    WORD* p16 = (WORD*)bits;
    p16[0] = 0x7FFF;
    p16[1] = 0x7C00;   // red only
    GetObjectA(s555, sizeof(source), &source);
    DibToGrey8(&source, &destination);
    EXPECT_EQ(out[0], 248);
    EXPECT_EQ(out[1], 248 / 3);
    DeleteObject(s555);

    const DWORD masks565[3] = {0xF800, 0x07E0, 0x001F};
    HBITMAP s565 = MakeSection(3, 2, 16, masks565, &bits);
    p16 = (WORD*)bits;
    p16[0] = 0xFFFF;
    p16[1] = 0x07E0;   // green only
    GetObjectA(s565, sizeof(source), &source);
    DibToGrey8(&source, &destination);
    EXPECT_EQ(out[0], (248 + 252 + 248) / 3);
    EXPECT_EQ(out[1], 252 / 3);
    DeleteObject(s565);

    // Other depths leave the destination as it was.
    out[0] = 77;
    HBITMAP s8 = MakeSection(3, 2, 8, nullptr, &bits);
    GetObjectA(s8, sizeof(source), &source);
    DibToGrey8(&source, &destination);
    EXPECT_EQ(out[0], 77);
    DeleteObject(s8);
    DeleteObject(grey);
    LocalFree(info);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(int x, int y, int w, int h)
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSA wc;
        ZeroMemory(&wc, sizeof(wc));
        wc.lpfnWndProc = PlainWindowProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "SurfaceTestWindow";
        atom = RegisterClassA(&wc);
    }
    return CreateWindowExA(0, "SurfaceTestWindow", "", WS_POPUP | WS_VISIBLE, x, y, w, h, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

TEST(SurfaceSetup, FullScreenFlagAndFontArePublished)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    sound = share;
    HDC screen = GetDC(NULL);
    int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(NULL, screen);

    HWND full = MakeWindow(0, 0, width, height);
    ASSERT_NE(full, (HWND)0);
    HDC dc = GetDC(full);
    share->fullScreen = 0;
    EXPECT_EQ(SetupDrawSurface(dc, full), 1);
    EXPECT_EQ(share->fullScreen, 1);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(ANSI_VAR_FONT));
    ReleaseDC(full, dc);
    DestroyWindow(full);

    HWND small = MakeWindow(10, 10, 200, 120);
    dc = GetDC(small);
    EXPECT_EQ(SetupDrawSurface(dc, small), 0);
    EXPECT_EQ(share->fullScreen, 0);
    ReleaseDC(small, dc);
    DestroyWindow(small);

    // Without a sound link the flag is still computed.
    sound = nullptr;
    small = MakeWindow(0, 0, 50, 50);
    dc = GetDC(small);
    EXPECT_EQ(SetupDrawSurface(dc, small), 0);
    ReleaseDC(small, dc);
    DestroyWindow(small);
    CloseSoundLink(share);
}

}  // namespace

// RotatePointBy truncates toward zero as a cast of its long double sums does,
// without the cast's changes of the x87 rounding mode: whole and half values,
// both signs, every angle, points far out and beyond what a LONG holds.
TEST(RotatePointBy, TruncatesAsTheCastDoes)
{
    int differing = 0, checked = 0;
    const LONG coordinates[] = {0, 1, -1, 2, -2, 3, 7, -7, 100, -100, 959, -540, 12345, -54321, 1000000, -1000000,
                                2000000000, -2000000000};
    for (int k = 0; k < 4000; ++k) {
        float angle = (float)k * 0.0157079632f - 31.4f;
        long double c = cosl(angle), s = sinl(angle);
        if (k % 97 == 0) {   // exact quarter and half turns
            c = (k / 97) % 3 - 1;
            s = (k / 97 + 1) % 3 - 1;
        }
        for (LONG x : coordinates)
            for (LONG y : coordinates) {
                if ((x + y + k) % 3)
                    continue;
                long double u = c * x + s * y, v = c * y - s * x;
                POINT expected = {(LONG)u, (LONG)v};
                POINT p = {x, y};
                RotatePointBy(&p, c, s);
                differing += p.x != expected.x || p.y != expected.y;
                ++checked;
            }
        // Halves and near-halves of both signs.
        long double h = (long double)(k - 2000) / 2 + (k % 5 - 2) * 1e-12L;
        POINT half = {1, 0};
        RotatePointBy(&half, h, 0.0L);
        differing += half.x != (LONG)h || half.y != 0;
        ++checked;
    }
    EXPECT_GT(checked, 10000);
    EXPECT_EQ(differing, 0);
}
