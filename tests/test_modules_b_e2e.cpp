// The real saver under Wine and Xvfb running Polygon, Cyclic and Star alone:
// it keeps rendering through a reset (F2), paints the screen and closes
// cleanly.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "settings/registry.h"
#include "support/harness.h"
#include <stdio.h>
#include <string>
#include <vector>

namespace {

long WaitFrames(HWND window, long frames, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    long counter = -1;
    while (GetTickCount() - start < timeoutMs) {
        counter = SaverFrameCounter(window);
        if (counter >= frames)
            break;
        Sleep(50);
    }
    return counter;
}

// Pixels of a 24-bit screenshot that are not black.
long CountLitPixels(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER info;
    long lit = -1;
    if (fread(&fileHeader, sizeof(fileHeader), 1, file) == 1 && fread(&info, sizeof(info), 1, file) == 1 &&
        info.biBitCount == 24) {
        int width = info.biWidth, height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
        int stride = (width * 3 + 3) & ~3;
        std::vector<unsigned char> row(stride);
        fseek(file, fileHeader.bfOffBits, SEEK_SET);
        lit = 0;
        for (int y = 0; y < height; ++y) {
            if (fread(row.data(), stride, 1, file) != 1)
                break;
            for (int x = 0; x < width; ++x)
                lit += row[3 * x] > 8 || row[3 * x + 1] > 8 || row[3 * x + 2] > 8;
        }
    }
    fclose(file);
    return lit;
}

long ScreenPixels(void)
{
    return (long)GetSystemMetrics(SM_CXSCREEN) * GetSystemMetrics(SM_CYSCREEN);
}

class ModulesAloneB : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitModules(); }

    // Writes "[T] <module>" with the module's defaults changed by `adjust`
    // and makes it the active display.
    void MakeActive(int module, void (*adjust)(ModuleRecord*))
    {
        ResetModuleControls(module);
        if (adjust)
            adjust(&moduleTable[module]);
        ASSERT_TRUE(WriteDefaultDisplay(module, "[T]", 5));
        std::string name = std::string("[T] ") + moduleNames[module];
        ASSERT_TRUE(WriteSaverValue("Active", REG_SZ, name.c_str(), (DWORD)name.size() + 1));
    }

    // Runs the saver for `seconds` with a reset (F2) halfway, checks that it
    // renders all along and returns the lit pixels of a final screenshot.
    long RunAndShoot(const char* picture, int seconds)
    {
        SaverProcess saver;
        EXPECT_TRUE(StartSaver("/s", &saver, 15000));
        EXPECT_NE(saver.window, nullptr) << "no saver window";
        if (!saver.window) {
            KillSaver(&saver);
            return -1;
        }
        long first = WaitFrames(saver.window, 10, 15000);
        EXPECT_GE(first, 10) << "the frame loop did not start";
        Sleep(seconds * 500);
        PostMessageA(saver.window, WM_KEYDOWN, VK_F2, 0);
        Sleep(500);
        long afterReset = SaverFrameCounter(saver.window);
        Sleep(seconds * 500);
        long later = SaverFrameCounter(saver.window);
        EXPECT_GT(afterReset, first);
        EXPECT_GT(later, afterReset) << "the frame loop stopped after the reset";
        std::string path = OutputPath(picture);
        EXPECT_TRUE(SaveScreenBmp(path.c_str()));
        long lit = CountLitPixels(path);
        EXPECT_FALSE(WaitSaverExit(&saver, 0)) << "the saver ended by itself";
        PostMessageA(saver.window, WM_KEYDOWN, 'Q', 0);
        EXPECT_TRUE(WaitSaverExit(&saver, 5000)) << "the saver did not close";
        DWORD code = 1234;
        GetExitCodeProcess(saver.info.hProcess, &code);
        EXPECT_EQ(code, 0u);
        KillSaver(&saver);
        return lit;
    }
};

TEST_F(ModulesAloneB, PolygonPaintsItsBands)
{
    MakeActive(MODULE_POLYGON, nullptr);
    long lit = RunAndShoot("modules_b_polygon.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 10);
}

TEST_F(ModulesAloneB, CyclicPaintsItsOrbitsWithShapes)
{
    MakeActive(MODULE_CYCLIC, [](ModuleRecord* r) {
        r->value[1] = 50;   // fast drift: long strokes
        r->value[3] = 30;   // Diameter
        r->value[4] = 3;    // Planar Symmetry
        r->value[6] = 5;    // Object Sides
        r->value[7] = 4;    // Object Type: rings of filled shapes
    });
    long lit = RunAndShoot("modules_b_cyclic.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 50);
}

TEST_F(ModulesAloneB, StarFliesItsField)
{
    MakeActive(MODULE_STAR, [](ModuleRecord* r) {
        r->value[0] = 60;   // Stars
        r->value[1] = 3;    // Star Size
        r->value[2] = 12;   // Speed
        r->value[13] = 4;   // Symmetry
    });
    long lit = RunAndShoot("modules_b_star.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 200);
}

TEST_F(ModulesAloneB, StarTunnelWithShapes)
{
    MakeActive(MODULE_STAR, [](ModuleRecord* r) {
        r->value[0] = 0;    // tunnel
        r->value[1] = 12;   // Star Size
        r->value[7] = 6;    // Star Sides
        r->value[8] = 2;    // outlined shapes
    });
    long lit = RunAndShoot("modules_b_star_tunnel.bmp", 3);
    EXPECT_GT(lit, 500);
}

}  // namespace
