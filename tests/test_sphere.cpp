// The Sphere module on a real 8-bit surface: which sphere image is stamped,
// its rings, the draw size, the wedge and tile clipping, restarts and the
// sound-driven distance.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "modules/sphere.h"
#include "runtime/common.h"
#include "runtime/framework.h"
#include "runtime/overlay.h"
#include "runtime/soundlink.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <math.h>
#include <string.h>
#include <vector>

namespace {

const int W = 640, H = 480;
enum { SIZE = 0, SYMMETRY = 1, TYPE = 2, DURATION = 3, X_TILING = 4, Y_TILING = 5, TILE_TYPE = 6 };

// First seed for which the start's colour-factor draw (after `before` draws
// of the controls) gives `factor` and, when nearCentre is set, the first
// frame's distance draw is tiny (every sphere lands on its tile centre).
unsigned int SeedFor(int factor, int before, int nearCentre)
{
    for (unsigned int seed = 1;; ++seed) {
        SeedRandom(seed);
        for (int i = 0; i < before; ++i)
            Random();
        if (Random() % 8 != factor)
            continue;
        if (!nearCentre)
            return seed;
        Random();                 // spin
        if (Random() < 10)        // distance
            return seed;
    }
}

class Sphere : public ModuleFixture {
protected:
    Sphere() : ModuleFixture({MODULE_SPHERE, SphereOpen, SphereStart, SphereFrame, SphereClose}) {}

    void SetUp() override { OpenSurface(W, H, 100000); }
    void Begin(unsigned int seed)
    {
        ClearTestSurface(&surface);
        ModuleFixture::Begin(seed);
    }
    void Frames(int count)
    {
        ModuleFixture::Frames(count);
        GdiFlush();
    }
    // Highest animated entry drawn; -2 when a non-black static byte appears.
    int HighestEntry()
    {
        int highest = -1;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                if (SurfaceByte(&surface, x, y) == 0)
                    continue;
                int e = SurfaceEntry(&surface, x, y);
                if (e < 0)
                    return -2;
                if (e > highest)
                    highest = e;
            }
        return highest;
    }
    RECT DrawnBounds()
    {
        RECT r = {W, H, -1, -1};
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (SurfaceByte(&surface, x, y)) {
                    if (x < r.left) r.left = x;
                    if (y < r.top) r.top = y;
                    if (x > r.right) r.right = x;
                    if (y > r.bottom) r.bottom = y;
                }
        return r;
    }
};

TEST_F(Sphere, ColourFactorZeroStampsOnlyTheFirstImage)
{
    // Image 0 has base colour 0 and 51 rings: nothing above entry 50.
    Begin(SeedFor(0, 0, 0));
    Frames(30);
    int highest = HighestEntry();
    EXPECT_GE(highest, 40);
    EXPECT_LE(highest, 50);

    // Any other factor picks images by distance, with higher base colours.
    SphereClose(record);
    Begin(SeedFor(3, 0, 0));
    Frames(30);
    EXPECT_GT(HighestEntry(), 60);
}

TEST_F(Sphere, RingsStepOneEntryPerPixelFromRimToCentre)
{
    // All eight copies land on the centre (320, 240): one whole disc of
    // image 0, entry 50 - r at radius r.
    Begin(SeedFor(0, 0, 1));
    Frames(1);
    for (int t = 2; t <= 45; ++t) {
        int e = SurfaceEntry(&surface, 320 + t, 240);
        EXPECT_NEAR(e, 50 - t, 2) << "radius " << t;
        EXPECT_NEAR(SurfaceEntry(&surface, 320, 240 - t), 50 - t, 2) << "radius " << t;
    }
    for (int t = 1; t <= 45; ++t)
        EXPECT_LE(SurfaceEntry(&surface, 320 + t, 240), SurfaceEntry(&surface, 320 + t - 1, 240));
    // Outside the disc nothing is drawn.
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 260, H), 0);
    EXPECT_EQ(CountDrawn(&surface, 380, 0, W, H), 0);
}

TEST_F(Sphere, SquareRingsFollowTheLargerOffset)
{
    record->value[TYPE] = 8;
    Begin(SeedFor(0, 0, 1));
    Frames(1);
    // Along the diagonal a square ring keeps the colour of the axis.
    for (int t = 5; t <= 30; t += 5)
        EXPECT_NEAR(SurfaceEntry(&surface, 320 + t, 240 + t), SurfaceEntry(&surface, 320 + t, 240), 1) << t;
    // Circles would be one ring further out on the diagonal.
    SphereClose(record);
    record->value[TYPE] = 0;
    Begin(SeedFor(0, 0, 1));
    Frames(1);
    EXPECT_LT(SurfaceEntry(&surface, 320 + 30, 240 + 30), SurfaceEntry(&surface, 320 + 30, 240) - 8);
}

TEST_F(Sphere, DrawSizeBelowTenIsRaisedToTen)
{
    // Size 15 on 3 x 1 tiles: 2 * 15 / 4 = 7, raised to 10. Tile type 1 keeps
    // only tile (1, 0); symmetry 2 gives two copies at the same height.
    record->value[SIZE] = 15;
    record->value[SYMMETRY] = 2;
    record->value[X_TILING] = 3;
    record->value[Y_TILING] = 1;
    record->value[TILE_TYPE] = 1;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        Begin(attempt * 1000 + 7);
        Frames(1);
        RECT r = DrawnBounds();
        int height = r.bottom - r.top + 1;
        EXPECT_GE(height, 8) << "attempt " << attempt;
        EXPECT_LE(height, 11) << "attempt " << attempt;
        EXPECT_LE(CountDrawn(&surface, 0, 0, W, H), 2 * 100);
        SphereClose(record);
    }
}

TEST_F(Sphere, SymmetryTwoIgnoresTheWedgeBit)
{
    const unsigned int seed = 4242;
    record->value[SYMMETRY] = 2;
    record->value[TYPE] = 0;
    Begin(seed);
    Frames(6);
    std::vector<BYTE> plain = Snapshot();
    SphereClose(record);
    record->value[TYPE] = 1;
    Begin(seed);
    Frames(6);
    EXPECT_TRUE(Snapshot() == plain);

    // From symmetry 3 on the wedge cuts each sphere.
    SphereClose(record);
    record->value[SYMMETRY] = 3;
    record->value[TYPE] = 0;
    Begin(seed);
    Frames(6);
    int whole = CountDrawn(&surface, 0, 0, W, H);
    SphereClose(record);
    record->value[TYPE] = 1;
    Begin(seed);
    Frames(6);
    EXPECT_LT(CountDrawn(&surface, 0, 0, W, H), whole);
}

TEST_F(Sphere, TileClipKeepsSpheresInsideTheirCell)
{
    // Only tile (1, 0) of 2 x 1 is admitted; its spheres reach far beyond it.
    record->value[X_TILING] = 2;
    record->value[Y_TILING] = 1;
    record->value[TILE_TYPE] = 1;
    record->value[TYPE] = 0;
    Begin(77);
    Frames(20);
    EXPECT_GT(CountDrawn(&surface, 0, 0, 320, H), 0);
    SphereClose(record);
    record->value[TYPE] = 32;
    Begin(77);
    Frames(20);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 320, H), 0);
    EXPECT_GT(CountDrawn(&surface, 320, 0, W, H), 1000);
}

TEST_F(Sphere, StartsOverWithNewControlsAfterTheImageDuration)
{
    record->value[X_TILING] = 2;
    record->value[Y_TILING] = 1;
    record->value[TILE_TYPE] = 1;
    record->value[TYPE] = 0;
    record->value[DURATION] = 20;
    Begin(77);
    record->value[TYPE] = 32;   // read only when the picture starts over
    Frames(20);
    EXPECT_GT(CountDrawn(&surface, 0, 0, 320, H), 0);
    testNow += 20001;
    Frames(1);                  // the last frame of the old picture
    ClearTestSurface(&surface);
    Frames(20);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 320, H), 0);
    EXPECT_GT(CountDrawn(&surface, 320, 0, W, H), 0);
}

TEST_F(Sphere, MovingSizeMakesImagesOfTheRangeEnd)
{
    // Oscillating Size with range 15..40: the images are 40 pixels across
    // (21 rings), not the stored value of 100.
    record->source[SIZE] = 2;
    record->rangeLo[SIZE] = 15;
    record->rangeHi[SIZE] = 40;
    record->value[SIZE] = 100;
    Begin(SeedFor(0, 1, 0));
    Frames(10);
    int highest = HighestEntry();
    EXPECT_GE(highest, 16);
    EXPECT_LE(highest, 21);
}

TEST_F(Sphere, LiveVolumeSetsTheDistance)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_TRUE(share != 0);
    sound = share;
    share->analyzerRunning = 1;
    share->moduleSoundEnabled = 1;
    share->autoGain = 0;
    share->slowCpu = 0;
    share->volumeScale = 1.0f;
    share->leftLevel = 0.5f;
    share->rightLevel = 0.5f;
    // One tile: reach 400, so the spheres sit 0.5 * 400 + 1 = 201 pixels from
    // the centre.
    Begin(5);
    Frames(5);
    int drawn = 0, offRing = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (!SurfaceByte(&surface, x, y))
                continue;
            ++drawn;
            double r = sqrt((double)(x - 320) * (x - 320) + (double)(y - 240) * (y - 240));
            offRing += r < 201 - 52 || r > 201 + 52;
        }
    EXPECT_GT(drawn, 1000);
    EXPECT_EQ(offRing, 0);

    // Silence: at least one pixel away, all within one sphere of the centre.
    SphereClose(record);
    share->leftLevel = 0;
    share->rightLevel = 0;
    Begin(5);
    Frames(5);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 260, H), 0);
    EXPECT_EQ(CountDrawn(&surface, 382, 0, W, H), 0);
    EXPECT_GT(CountDrawn(&surface, 260, 180, 380, 300), 5000);

    sound = 0;
    CloseSoundLink(share);
}

TEST_F(Sphere, OpenCloseCyclesAndTinySurfacesAreSafe)
{
    for (int i = 0; i < 20; ++i) {
        Begin(i + 1);
        Frames(2);
        SphereClose(record);
    }
    CloseTestSurface(&surface);
    ASSERT_TRUE(OpenTestSurface(&surface, 1, 1));
    record = &moduleTable[MODULE_SPHERE];
    record->value[TYPE] = 63;
    record->value[SYMMETRY] = 128;
    SeedRandom(3);
    SphereOpen(record);
    SphereStart(record);
    SphereFrame(record);
    SUCCEED();
}

}  // namespace

namespace {

// Stamps copied straight into the surface, tile by tile or (clipped to their
// cell) composed once and copied into every cell, give the very pixels of the
// clipped BitBlts: every type bit (wedge, mirror, random size, squares, bars,
// tile clip), every tile type, on a surface whose size is not a multiple of
// the tiles; and they keep out of a box the overlay shows, as the clip
// region keeps the blits out.
TEST_F(Sphere, DirectStampsPaintExactlyWhatClippedBlitsPaint)
{
    const int w = W - 3, h = H - 5;
    OpenSurface(w, h, 5000);
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, w, h, NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(window != 0);
    SaverSettings keptSettings = saverSettings;
    saverSettings.showName = 30;
    saverSettings.showInfo = 0;
    strcpy(saverSettings.displayName, "A rather long display name");
    SoundShare* keptSound = sound;
    sound = 0;
    OverlayStart();
    OverlaySurfaceSetup(record->dc, window);

    const int types[] = {0, 1, 2, 3, 4, 7, 9, 17, 25, 32, 33, 35, 63};
    long copiedBefore = sphereStampsCopied, composedBefore = sphereCellsComposed;
    int boxesSeen = 0;
    for (int type : types) {
        for (int tileType = 0; tileType <= 3; ++tileType) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " tile type " << tileType);
            // Clipped blits, direct stamps tile by tile, composed cells.
            std::vector<BYTE> pictures[3];
            for (int direct = 0; direct <= 2; ++direct) {
                sphereDirectStamps = direct > 0;
                sphereCellComposite = direct > 1;
                Set(SIZE, 120);
                Set(SYMMETRY, 7);
                Set(TYPE, type);
                Set(X_TILING, 3);
                Set(Y_TILING, 2);
                Set(TILE_TYPE, tileType);
                ClearTestSurface(&surface);
                Begin(1000 + type * 4 + tileType);
                // The name box appears over the cleared picture; the
                // stamps must go round it.
                OverlayStart();
                OverlaySurfaceSetup(record->dc, window);
                ShowNameStep();
                RECT box[4];
                int shown = OverlayShownBoxes(record->dc, box, 4);
                Frames(6);
                pictures[direct] = Snapshot();
                if (direct == 2 && shown == 1) {
                    ++boxesSeen;
                    ASSERT_GT(box[0].bottom, box[0].top);
                }
            }
            sphereDirectStamps = 1;
            EXPECT_GT(Drawn(), 0);
            ASSERT_TRUE(pictures[0] == pictures[1]);
            ASSERT_TRUE(pictures[0] == pictures[2]) << "composed cells";
        }
    }
    EXPECT_GT(sphereStampsCopied, copiedBefore) << "the direct path never ran";
    EXPECT_GT(sphereCellsComposed, composedBefore) << "no cell was composed";
    EXPECT_EQ(boxesSeen, 13 * 4) << "the name box was not up while the spheres were stamped";

    // The box itself stays as the overlay drew it: no stamp lands in it.
    RECT box[4];
    ASSERT_EQ(OverlayShownBoxes(record->dc, box, 4), 1);
    std::vector<BYTE> withBox = Snapshot();
    Frames(20);
    std::vector<BYTE> after = Snapshot();
    int stride = (int)(withBox.size() / h), changedInBox = 0, changedOutside = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            POINT p = {x, y};
            if (withBox[(size_t)y * stride + x] == after[(size_t)y * stride + x])
                continue;
            if (PtInRect(&box[0], p))
                ++changedInBox;
            else
                ++changedOutside;
        }
    EXPECT_GT(changedOutside, 0);
    EXPECT_EQ(changedInBox, 0);

    saverSettings = keptSettings;
    sound = keptSound;
    OverlayStart();
    SelectClipRgn(record->dc, NULL);
    DestroyWindow(window);
}

}  // namespace
