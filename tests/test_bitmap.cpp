// The Slide Show module on a real 8-bit surface with a real loader thread:
// what it paints, when, from which file, and how it survives faults and
// stops.
#include <gtest/gtest.h>
#include "modules/bitmap.h"
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include "support/meters.h"
#include "support/module_fixture.h"
#include "support/picture_files.h"
#include <algorithm>
#include <stdio.h>
#include <string.h>

namespace {

enum { DISPLAY_TYPE = 0, FORCE_GRADIENT = 1, DURATION = 2, SMOOTHING = 3, RANDOM_ORDER = 4, FROM_SCREEN = 5 };

// A picture of four grey quarters, by default top left 60, top right 180,
// bottom left 120, bottom right 30.
TestPicture Quarters(int w, int h, DWORD topLeft = 60, DWORD topRight = 180, DWORD bottomLeft = 120,
                     DWORD bottomRight = 30)
{
    TestPicture p;
    p.width = w;
    p.height = h;
    p.pixels.resize((size_t)w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            DWORD g = y < h / 2 ? (x < w / 2 ? topLeft : topRight) : (x < w / 2 ? bottomLeft : bottomRight);
            p.pixels[(size_t)y * w + x] = g * 0x010101;
        }
    return p;
}

class Bitmap : public ModuleFixture {
protected:
    Bitmap() : ModuleFixture({MODULE_BITMAP, BitmapOpen, BitmapStart, BitmapFrame, BitmapClose}) {}

    std::string folder;

    void Open(int w, int h, const std::string& mask)
    {
        ResetBitmapStatus();
        ASSERT_NO_FATAL_FAILURE(OpenSurface(w, h, 1000));
        lstrcpynA(record->path, mask.c_str(), PATH_SIZE);
        Set(DISPLAY_TYPE, 1);
        Set(FORCE_GRADIENT, 0);
        Set(DURATION, 5);
        Set(SMOOTHING, 0);
        Set(RANDOM_ORDER, 0);
        Set(FROM_SCREEN, 0);
    }
    BitmapStatus Status()
    {
        BitmapStatus s;
        GetBitmapStatus(&s);
        return s;
    }
    // Runs frame steps (real time passing, test clock still) until `done`
    // holds or the time is up; 1 when it held.
    template <class Done> int FramesUntil(Done done, DWORD limitMs)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < limitMs) {
            BitmapFrame(record);
            if (done())
                return 1;
            Sleep(2);
        }
        return 0;
    }
    int WaitPainted(LONG count)
    {
        return FramesUntil([&] { return Status().picturesPainted >= count; }, 10000);
    }
};

TEST_F(Bitmap, TrueColourPictureIsShownUprightAsGreyLevels)
{
    std::string dir = FreshPictureFolder("bitmap_grey");
    const BmpLayout layouts[] = {BMP_PLAIN, BMP_TOP_DOWN};
    for (BmpLayout layout : layouts) {
        std::string path = dir + (layout == BMP_PLAIN ? "\\up.bmp" : "\\down.bmp");
        ASSERT_TRUE(WriteBmp(path.c_str(), Quarters(20, 10), 24, layout, 0));
        Open(80, 40, path);
        ClearTestSurface(&surface);
        Begin(1);
        ASSERT_TRUE(WaitPainted(1)) << path;
        GdiFlush();
        // Stretched over the surface; each grey level is its palette entry.
        EXPECT_EQ(Entry(&surface, 10, 5), 60) << path;
        EXPECT_EQ(Entry(&surface, 70, 5), 180) << path;
        EXPECT_EQ(Entry(&surface, 10, 35), 120) << path;
        EXPECT_EQ(Entry(&surface, 70, 35), 30) << path;
        EXPECT_EQ(Status().pictureWidth, 20);
        BitmapClose(record);
        CloseTestSurface(&surface);
    }
    record = &moduleTable[MODULE_BITMAP];
    ASSERT_TRUE(OpenTestSurface(&surface, 8, 8));   // for the fixture's tear-down
}

TEST_F(Bitmap, EightBitPictureKeepsItsIndicesCentredAtNaturalSize)
{
    std::string path = FreshPictureFolder("bitmap_eight") + "\\eight.bmp";
    TestPicture picture = PatternPicture(30, 20, 32);
    ASSERT_TRUE(WriteBmp(path.c_str(), picture, 8, BMP_PLAIN, 0));
    Open(100, 60, path);
    ClearTestSurface(&surface);
    Set(DISPLAY_TYPE, 0);
    Begin(2);
    ASSERT_TRUE(WaitPainted(1));
    GdiFlush();
    // The picture's pixel values are its colour table positions, painted as
    // those palette entries, at (50 - 15, 30 - 10).
    std::vector<DWORD> table;
    for (DWORD c : picture.pixels)
        if (std::find(table.begin(), table.end(), c) == table.end())
            table.push_back(c);
    int wrong = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            int index = (int)(std::find(table.begin(), table.end(), picture.At(x, y)) - table.begin());
            wrong += Entry(&surface, 35 + x, 20 + y) != index;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 100, 20), 0) << "nothing above the picture";
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 35, 60), 0) << "nothing left of it";
}

// Tiles: the 20 x 16 picture, then copies across and down; "mirrored"
// turns every other copy over, "plain" repeats it one pixel to the left.
// Smoothing: each 3 x 3 pass carries the edge between the halves one
// column further into the dark half.
TEST_F(Bitmap, TilesAndSmoothingShapeThePainting)
{
    std::string dir = FreshPictureFolder("bitmap_tiles");
    std::string quarters = dir + "\\quarters.bmp", halves = dir + "\\halves.bmp";
    ASSERT_TRUE(WriteBmp(quarters.c_str(), Quarters(20, 16), 24, BMP_PLAIN, 0));
    ASSERT_TRUE(WriteBmp(halves.c_str(), Quarters(20, 16, 60, 180, 60, 180), 24, BMP_PLAIN, 0));
    struct Point {
        int x, y, entry;
    };
    struct Case {
        int displayType, smoothing;
        const char* file;
        int w, h;
        Point points[4];
    } cases[] = {
        // The copy right of the first: its right half, then its left.
        {2, 0, "quarters", 64, 48, {{22, 2, 180}, {35, 2, 60}, {2, 18, 120}, {2, 28, 60}}},
        {3, 0, "quarters", 64, 48, {{22, 2, 60}, {35, 2, 180}, {2, 18, 60}, {2, 28, 120}}},
        // Natural size on a surface of the picture's size; -1: between the
        // two greys.
        {0, 0, "halves", 20, 16, {{7, 8, 60}, {8, 8, 60}, {9, 8, 60}, {10, 8, 180}}},
        {0, 1, "halves", 20, 16, {{7, 8, 60}, {8, 8, 60}, {9, 8, -1}, {10, 8, -1}}},
        {0, 2, "halves", 20, 16, {{6, 8, 60}, {7, 8, 60}, {8, 8, -1}, {9, 8, -1}}},
    };
    for (const Case& c : cases) {
        Open(c.w, c.h, strcmp(c.file, "halves") == 0 ? halves : quarters);
        ClearTestSurface(&surface);
        Set(DISPLAY_TYPE, c.displayType);
        Set(SMOOTHING, c.smoothing);
        Begin(9);
        ASSERT_TRUE(WaitPainted(1)) << c.displayType << "/" << c.smoothing;
        GdiFlush();
        EXPECT_EQ(Drawn(), c.w * c.h) << "type " << c.displayType << " leaves the surface partly bare";
        for (const Point& p : c.points) {
            int entry = Entry(&surface, p.x, p.y);
            if (p.entry >= 0)
                EXPECT_EQ(entry, p.entry) << "type " << c.displayType << ", smoothing " << c.smoothing << " at ("
                                          << p.x << ", " << p.y << ")";
            else
                EXPECT_TRUE(entry > 60 && entry < 180) << "smoothing " << c.smoothing << " leaves the edge at "
                                                       << p.x << " sharp: " << entry;
        }
        BitmapClose(record);
        CloseTestSurface(&surface);
    }
    record = &moduleTable[MODULE_BITMAP];
    ASSERT_TRUE(OpenTestSurface(&surface, 8, 8));   // for the fixture's tear-down
}

TEST_F(Bitmap, PicturesFollowInTurnAfterTheDuration)
{
    std::string dir = FreshPictureFolder("bitmap_turn");
    const DWORD greys[] = {40, 100, 160};
    for (int i = 0; i < 3; ++i) {
        TestPicture p = Quarters(8, 8);
        for (DWORD& c : p.pixels)
            c = greys[i] * 0x010101;
        char name[16];
        sprintf(name, "\\p%d.bmp", i);
        ASSERT_TRUE(WriteBmp((dir + name).c_str(), p, 24, BMP_PLAIN, 0));
    }
    Open(40, 30, dir + "\\*.bmp");
    Begin(3);
    ASSERT_TRUE(WaitPainted(1));
    std::vector<int> shown;
    shown.push_back(Entry(&surface, 20, 15));
    for (int n = 2; n <= 4; ++n) {
        // Prepared, but not painted before the duration has passed.
        FramesUntil([] { return false; }, 300);
        EXPECT_EQ(Status().picturesPainted, n - 1);
        testNow += 5001;
        ASSERT_TRUE(WaitPainted(n));
        shown.push_back(Entry(&surface, 20, 15));
    }
    // Three files in turn: every one once, then the first again.
    EXPECT_NE(shown[0], shown[1]);
    EXPECT_NE(shown[1], shown[2]);
    EXPECT_NE(shown[0], shown[2]);
    EXPECT_EQ(shown[0], shown[3]);
    for (int value : shown)
        EXPECT_TRUE(value == 40 || value == 100 || value == 160) << value;
}

TEST_F(Bitmap, MaskMatchingNothingPaintsNothingAndRetriesEachDuration)
{
    Open(40, 30, FreshPictureFolder("bitmap_none") + "\\*.bmp");
    Begin(4);
    ASSERT_TRUE(FramesUntil([&] { return Status().loadersEnded >= 1; }, 5000));
    EXPECT_EQ(Status().lastExitCode, 100u);
    // The first retry comes at once (no picture was ever shown); later ones
    // wait for the duration.
    FramesUntil([&] { return Status().loadersStarted >= 2; }, 2000);
    FramesUntil([&] { return Status().loadersEnded >= 2; }, 2000);
    LONG started = Status().loadersStarted;
    FramesUntil([] { return false; }, 300);
    EXPECT_EQ(Status().loadersStarted, started);
    testNow += 5001;
    EXPECT_TRUE(FramesUntil([&] { return Status().loadersStarted > started; }, 3000));
    EXPECT_EQ(Status().picturesPainted, 0);
    EXPECT_EQ(Drawn(), 0);
}

TEST_F(Bitmap, FaultingFilterEndsOnlyItsLoader)
{
    std::string dir = FreshPictureFolder("bitmap_fault");
    ClearImportFilters();
    ASSERT_TRUE(RegisterTestFilter("Test", "Test", "tst", TestFilterPath().c_str()));
    std::vector<BYTE> crash = {'C', 'R', 'A', 'S', 'H'};
    ASSERT_TRUE(WriteBytes((dir + "\\a.tst").c_str(), crash));
    ASSERT_TRUE(WriteBytes((dir + "\\b.tst").c_str(), crash));
    Open(40, 30, dir + "\\*.tst");
    Begin(5);
    ASSERT_TRUE(FramesUntil([&] { return Status().loadersEnded >= 1; }, 5000));
    EXPECT_EQ(Status().lastExitCode, 300u);
    // The render side goes on: the lock is free, the next loader starts.
    testNow += 5001;
    EXPECT_TRUE(FramesUntil([&] { return Status().loadersEnded >= 2; }, 5000));
    EXPECT_EQ(Status().lastExitCode, 300u);
    EXPECT_EQ(renderRunning, 1) << "a loader fault must not stop the saver";
    ClearImportFilters();
}

TEST_F(Bitmap, StopEndsAWaitingLoaderWithoutPainting)
{
    std::string path = FreshPictureFolder("bitmap_stop") + "\\p.bmp";
    ASSERT_TRUE(WriteBmp(path.c_str(), Quarters(16, 16), 24, BMP_PLAIN, 0));
    Open(40, 30, path);
    Begin(6);
    ASSERT_TRUE(WaitPainted(1));
    // The second loader prepares its picture and waits for its time.
    ASSERT_TRUE(FramesUntil([&] { return Status().loadersStarted >= 2; }, 5000));
    FramesUntil([] { return false; }, 300);
    ClearTestSurface(&surface);
    DWORD start = GetTickCount();
    BitmapClose(record);
    EXPECT_LT(GetTickCount() - start, 1500u);
    EXPECT_EQ(Status().loadersEnded, 2);
    EXPECT_EQ(Status().picturesPainted, 1);
    EXPECT_EQ(Drawn(), 0);
    // Open and start again: a stop leaves the module ready for a reset.
    BitmapOpen(record);
    BitmapStart(record);
    testNow += 5001;
    EXPECT_TRUE(WaitPainted(2));
}

TEST_F(Bitmap, ScreenGrabShowsAHalfSizeGreyCopy)
{
    Open(80, 60, "");
    // Left half one colour, right half another.
    GdiFlush();
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x)
            surface.surface.bits[y * surface.surface.stride + x] = x < 40 ? 1 : 255;   // static dark red, white
    Set(FROM_SCREEN, 1);
    Set(DURATION, 0);
    Set(DISPLAY_TYPE, 0);
    Begin(7);
    ASSERT_TRUE(FramesUntil([&] { return Status().picturesPainted >= 1; }, 8000));
    EXPECT_EQ(Status().pictureWidth, 40);
    EXPECT_EQ(Status().pictureHeight, 30);
    GdiFlush();
    // Centred at (20, 15): its left half the grey of dark red, its right
    // half the grey of white (entry 255 of the grey table is past the
    // animated ones, so compare the left half only by value).
    int left = Entry(&surface, 25, 30);
    EXPECT_EQ(left, (128 / 3 + 255) % 256);
    EXPECT_NE(SurfaceByte(&surface, 50, 30), SurfaceByte(&surface, 25, 30));
    // Outside the copy the surface is as it was.
    EXPECT_EQ(SurfaceByte(&surface, 5, 30), 1);
    EXPECT_EQ(SurfaceByte(&surface, 75, 30), 255);
}

// A reset (a second start, or a second open and start) ends the loader the
// first start began before beginning its own: two loaders would share one
// picture, and the one whose picture is replaced leaves it behind.
TEST_F(Bitmap, ASecondStartOrOpenEndsTheRunningLoaderFirst)
{
    std::string path = FreshPictureFolder("bitmap_again") + "\\p.bmp";
    ASSERT_TRUE(WriteBmp(path.c_str(), Quarters(16, 16), 24, BMP_PLAIN, 0));
    Open(40, 30, path);
    // A first life, so that what the platform makes once is not counted.
    Begin(8);
    ASSERT_TRUE(WaitPainted(1));
    BitmapClose(record);
    GdiFlush();
    HANDLE self = GetCurrentProcess();
    long gdiBefore = GdiObjects(self);
    long handlesBefore = ProcessHandles(GetCurrentProcessId());
    ResetBitmapStatus();

    BitmapOpen(record);
    BitmapStart(record);
    // The render thread holds the lock until its next frame step, so the
    // first loader cannot have ended by itself.
    BitmapStart(record);
    EXPECT_EQ(Status().loadersStarted, 2);
    EXPECT_EQ(Status().loadersEnded, 1) << "the first loader runs on beside the second";
    BitmapOpen(record);
    EXPECT_EQ(Status().loadersEnded, 2) << "a second open leaves the loader running";
    BitmapStart(record);
    ASSERT_TRUE(WaitPainted(1));
    BitmapClose(record);
    EXPECT_EQ(Status().loadersEnded, Status().loadersStarted);
    EXPECT_EQ(Status().picturesPainted, 1);
    GdiFlush();
    EXPECT_EQ(GdiObjects(self), gdiBefore);
    EXPECT_EQ(ProcessHandles(GetCurrentProcessId()), handlesBefore);
}

}  // namespace
