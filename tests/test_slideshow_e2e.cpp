// The real saver running the Slide Show alone: it shows a known picture
// whose colours then move with the palette, and a folder of damaged and
// hostile pictures neither stops nor crashes it.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "support/harness.h"
#include "support/picture_files.h"
#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

char pictureMask[MAX_PATH];

void ShowMask(ModuleRecord* r)
{
    lstrcpynA(r->path, pictureMask, PATH_SIZE);
    r->value[0] = 1;   // stretched
    r->value[2] = 2;   // a new picture every 2 s
    r->value[3] = 0;
}

std::vector<BYTE> Screen(const char* name)
{
    std::string path = OutputPath(name);
    EXPECT_TRUE(SaveScreenBmp(path.c_str()));
    return ReadBytes(path.c_str());
}

// The colour of a screen pixel in a 24-bit bottom-up screenshot.
DWORD At(const std::vector<BYTE>& shot, int x, int y)
{
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
    size_t at = 54 + (size_t)(h - 1 - y) * stride + (size_t)x * 3;
    if (at + 3 > shot.size())
        return 0xFFFFFFFF;
    return ((DWORD)shot[at + 2] << 16) | ((DWORD)shot[at + 1] << 8) | shot[at];
}

class SlideShow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitModules(); }
};

TEST_F(SlideShow, KnownPictureIsShownAndMovesWithThePalette)
{
    std::string folder = FreshPictureFolder("slideshow_e2e");
    TestPicture p;
    p.width = 40;
    p.height = 40;
    p.pixels.resize(1600);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            p.pixels[(size_t)y * 40 + x] = (x < 20 ? 40 : 200) * 0x010101;
    std::string path = folder + "\\known.bmp";
    ASSERT_TRUE(WriteBmp(path.c_str(), p, 24, BMP_PLAIN, 0));
    lstrcpynA(pictureMask, path.c_str(), MAX_PATH);
    ASSERT_TRUE(MakeModuleActive(MODULE_BITMAP, ShowMask));
    SaverProcess saver;
    ASSERT_GE(StartRenderingSaver(&saver), 10);
    Sleep(3000);
    std::vector<BYTE> first = Screen("slideshow_first.bmp");
    Sleep(1500);
    std::vector<BYTE> second = Screen("slideshow_second.bmp");
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    // Two halves in two grey levels, each one palette colour across its half.
    DWORD left = At(first, w / 4, h / 2), right = At(first, 3 * w / 4, h / 2);
    EXPECT_NE(left, right);
    EXPECT_EQ(At(first, w / 8, h / 4), left);
    EXPECT_EQ(At(first, w / 8, 3 * h / 4), left);
    EXPECT_EQ(At(first, 7 * w / 8, h / 4), right);
    // The palette moves the colours of the same picture.
    EXPECT_TRUE(At(second, w / 4, h / 2) != left || At(second, 3 * w / 4, h / 2) != right);
    EXPECT_EQ(At(second, w / 8, h / 4), At(second, w / 4, h / 2));
    CloseSaverCleanly(&saver);
}

TEST_F(SlideShow, HostilePicturesNeitherStopNorCrashTheSaver)
{
    // Shortened to 15 seconds (a new picture every second) to keep the
    // suite fast.
    std::string folder = FreshPictureFolder("slideshow_hostile");
    TestPicture p = PatternPicture(30, 20, 16);
    std::string good = folder + "\\good.bmp";
    ASSERT_TRUE(WriteBmp(good.c_str(), p, 8, BMP_RLE, 0));
    std::vector<BYTE> bytes = ReadBytes(good.c_str());
    std::vector<std::vector<BYTE>> bad;
    bad.push_back({});
    bad.push_back(std::vector<BYTE>(bytes.begin(), bytes.begin() + bytes.size() / 2));
    std::vector<BYTE> v = bytes;
    v[14 + 40 + 1024] = 250;
    bad.push_back(v);
    v = bytes;
    memset(&v[18], 0x7F, 8);
    bad.push_back(v);
    v = bytes;
    memset(&v[46], 0x7F, 4);
    bad.push_back(v);
    for (size_t i = 0; i < bad.size(); ++i) {
        char name[32];
        sprintf(name, "\\bad%u.bmp", (unsigned)i);
        ASSERT_TRUE(WriteBytes((folder + name).c_str(), bad[i]));
    }
    lstrcpynA(pictureMask, (folder + "\\*.bmp").c_str(), MAX_PATH);
    ASSERT_TRUE(MakeModuleActive(MODULE_BITMAP, [](ModuleRecord* r) {
        ShowMask(r);
        r->value[2] = 1;
        r->value[4] = 1;   // random order
    }));
    SaverProcess saver;
    long first = StartRenderingSaver(&saver);
    ASSERT_GE(first, 10);
    Sleep(15000);
    EXPECT_GT(SaverFrameCounter(saver.window), first + 20);
    CloseSaverCleanly(&saver);
}

}  // namespace
