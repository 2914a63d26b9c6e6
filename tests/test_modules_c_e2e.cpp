// The real saver under Wine and Xvfb running Sphere and Effect, each alone:
// it keeps rendering, paints the screen and shows the display name box.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "settings/registry.h"
#include "graphics/surface.h"
#include "support/harness.h"
#include <stdio.h>
#include <string>
#include <vector>

namespace {

// A 24-bit screenshot, bottom-up rows as SaveScreenBmp writes them.
struct Shot {
    int width = 0, height = 0, stride = 0;
    std::vector<unsigned char> bits;
    bool Load(const std::string& path)
    {
        FILE* file = fopen(path.c_str(), "rb");
        if (!file)
            return false;
        BITMAPFILEHEADER fileHeader;
        BITMAPINFOHEADER info;
        bool ok = fread(&fileHeader, sizeof(fileHeader), 1, file) == 1 &&
                  fread(&info, sizeof(info), 1, file) == 1 && info.biBitCount == 24;
        if (ok) {
            width = info.biWidth;
            height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
            stride = (width * 3 + 3) & ~3;
            bits.resize((size_t)stride * height);
            fseek(file, fileHeader.bfOffBits, SEEK_SET);
            ok = fread(bits.data(), bits.size(), 1, file) == 1;
        }
        fclose(file);
        return ok;
    }
    const unsigned char* At(int x, int y) const { return &bits[(size_t)(height - 1 - y) * stride + 3 * x]; }
    long Lit(int left, int top, int right, int bottom) const
    {
        long lit = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                const unsigned char* p = At(x, y);
                lit += p[0] > 8 || p[1] > 8 || p[2] > 8;
            }
        return lit;
    }
    // Pixels in one of the non-black static system colours: the frame and
    // face of a box, never the animated entries.
    long Static(int left, int top, int right, int bottom) const
    {
        long count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                const unsigned char* p = At(x, y);
                COLORREF c = RGB(p[2], p[1], p[0]);
                for (int byte = 1; byte < 256; byte = byte == 9 ? 246 : byte + 1)
                    if (c == StaticColour(byte)) {
                        ++count;
                        break;
                    }
            }
        return count;
    }
};

class ModulesAloneC : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitModules(); }

    void MakeActive(int module, void (*adjust)(ModuleRecord*), int showName)
    {
        ResetModuleControls(module);
        if (adjust)
            adjust(&moduleTable[module]);
        saverSettings.showName = showName;
        saverSettings.clearFirst = 1;
        ASSERT_TRUE(WriteDefaultDisplay(module, "[T]", 5));
        std::string name = std::string("[T] ") + moduleNames[module];
        ASSERT_TRUE(WriteSaverValue("Active", REG_SZ, name.c_str(), (DWORD)name.size() + 1));
    }

    // Runs the saver for `seconds`, checks that it renders all along and
    // loads a screenshot taken at the end.
    bool RunAndShoot(const char* picture, int seconds, Shot* shot)
    {
        SaverProcess saver;
        long first = StartRenderingSaver(&saver);
        if (first < 0)
            return false;
        Sleep(seconds * 1000);
        long later = SaverFrameCounter(saver.window);
        EXPECT_GT(later, first + 10) << "the frame counter stopped";
        std::string path = OutputPath(picture);
        EXPECT_TRUE(SaveScreenBmp(path.c_str()));
        CloseSaverCleanly(&saver);
        return shot->Load(path);
    }
};

TEST_F(ModulesAloneC, SphereStampsDiscsAroundTheNameBox)
{
    MakeActive(MODULE_SPHERE, nullptr, 30);
    Shot shot;
    ASSERT_TRUE(RunAndShoot("modules_c_sphere.bmp", 4, &shot));
    long screen = (long)shot.width * shot.height;
    EXPECT_GT(shot.Lit(0, 0, shot.width, shot.height), screen / 20);
    // The name box at the top centre stays a box: the discs go around it.
    int middle = shot.width / 2;
    long band = 40L * 16;
    EXPECT_GT(shot.Static(middle - 20, 12, middle + 20, 28), band / 3);
    EXPECT_LT(shot.Static(middle - 20, shot.height / 2 - 8, middle + 20, shot.height / 2 + 8), band / 3);
}

TEST_F(ModulesAloneC, EffectStampsBlobsEveryFrame)
{
    // Squares of the colour found, every frame: X Strength 15 gives 15 to 22
    // mod 20 blobs, Y Strength 20 squares 20 to 27 pixels across.
    MakeActive(MODULE_EFFECT,
               [](ModuleRecord* r) {
                   r->value[0] = 22;
                   r->value[1] = 15;
                   r->value[2] = 20;
                   r->value[3] = 0;
               },
               0);
    Shot shot;
    ASSERT_TRUE(RunAndShoot("modules_c_effect.bmp", 4, &shot));
    EXPECT_GT(shot.Lit(0, 0, shot.width, shot.height), (long)shot.width * shot.height / 20);
}

}  // namespace
