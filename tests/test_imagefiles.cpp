// Picture files: picking from masks, Windows bitmaps in every layout, the
// import filters (ours through the imaging component and a test filter that
// misbehaves on request), and damaged or hostile files.
#include <gtest/gtest.h>
#include "imagefiles/filterreg.h"
#include "imagefiles/imageload.h"
#include "runtime/common.h"
#include "support/picture_files.h"
#include <psapi.h>
#include <set>
#include <string>

namespace {

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearImportFilters();
        lastPick = 0;
    }
    void TearDown() override { ClearImportFilters(); }

    // Loads a file and compares it with the picture, pixel by pixel.
    void ExpectLoads(const std::string& path, const TestPicture& expected, int tolerance)
    {
        HBITMAP bitmap = LoadPicture(path.c_str(), 0);
        ASSERT_NE(bitmap, nullptr) << path;
        TestPicture got = ReadBitmapPixels(bitmap);
        DeleteObject(bitmap);
        ASSERT_EQ(got.width, expected.width) << path;
        ASSERT_EQ(got.height, expected.height) << path;
        int wrong = 0, worst = 0;
        for (int y = 0; y < got.height; ++y)
            for (int x = 0; x < got.width; ++x) {
                int d = ColourDistance(got.At(x, y), expected.At(x, y));
                wrong += d > tolerance;
                if (d > worst)
                    worst = d;
            }
        EXPECT_EQ(wrong, 0) << path << ": worst channel difference " << worst;
    }
};

TEST_F(ImageFiles, CountAndPickCycleThroughMatchesInTurnAndAtRandom)
{
    std::string folder = FreshPictureFolder("pick");
    const char* names[] = {"a.bmp", "b.bmp", "c.bmp"};
    for (const char* name : names)
        ASSERT_TRUE(WriteBytes((folder + "\\" + name).c_str(), {'x'}));
    ASSERT_TRUE(WriteBytes((folder + "\\other.txt").c_str(), {'x'}));
    std::string mask = folder + "\\*.bmp";
    EXPECT_EQ(CountMatchingFiles(mask.c_str()), 3);
    EXPECT_EQ(CountMatchingFiles((folder + "\\*.png").c_str()), 0);

    // In turn: every file once per cycle, the same cycle again after it.
    std::vector<std::string> picks;
    char name[MAX_PATH];
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(PickFile(mask.c_str(), name, 0));
        picks.push_back(name);
    }
    std::set<std::string> cycle(picks.begin(), picks.begin() + 3);
    EXPECT_EQ(cycle.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(picks[i], picks[i + 3]);
    for (const std::string& pick : picks)
        EXPECT_EQ(pick.compare(0, folder.size() + 1, folder + "\\"), 0) << pick;

    // At random: always one of the three, and more than one of them.
    SeedRandom(12345);
    std::set<std::string> random;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(PickFile(mask.c_str(), name, 1));
        random.insert(name);
    }
    EXPECT_GE(random.size(), 2u);
    for (const std::string& pick : random)
        EXPECT_TRUE(cycle.count(pick)) << pick;

    // A plain file name is picked every time; nothing matches nothing.
    std::string plain = folder + "\\b.bmp";
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PickFile(plain.c_str(), name, i & 1));
        EXPECT_EQ(plain, name);
    }
    EXPECT_FALSE(PickFile((folder + "\\*.gif").c_str(), name, 0));
    EXPECT_STREQ(name, "");
}

TEST_F(ImageFiles, ExtensionIsTheLastDotOfTheLastComponent)
{
    const char* a = "C:\\pics.d\\photo.final.JPG";
    EXPECT_STREQ(FileExtension(a), ".JPG");
    const char* b = "C:\\pics.d\\photo";
    EXPECT_STREQ(FileExtension(b), "");
    EXPECT_EQ(FileExtension(b), b + strlen(b));
    EXPECT_STREQ(FileExtension("C:\\a.b\\my file"), "");
    EXPECT_STREQ(FileExtension("name.x y"), "");
}

TEST_F(ImageFiles, WindowsBitmapsOfEveryLayoutLoadWithTheirPixels)
{
    std::string folder = FreshPictureFolder("bmp");
    struct Case {
        const char* name;
        int bits;
        BmpLayout layout;
        int table;
        int colours;
        int tolerance;
    } cases[] = {
        {"one.bmp", 1, BMP_PLAIN, 0, 2, 0},
        {"four.bmp", 4, BMP_PLAIN, 0, 16, 0},
        {"four_short_table.bmp", 4, BMP_PLAIN, 9, 9, 0},
        {"eight.bmp", 8, BMP_PLAIN, 0, 200, 0},
        {"eight_short_table.bmp", 8, BMP_PLAIN, 40, 40, 0},
        {"eight_top_down.bmp", 8, BMP_TOP_DOWN, 0, 60, 0},
        {"rle4.bmp", 4, BMP_RLE, 0, 16, 0},
        {"rle8.rle", 8, BMP_RLE, 0, 100, 0},
        // Five-bit channels widen to eight with their top bits repeated.
        {"x555.bmp", 16, BMP_PLAIN, 0, 300, 7},
        {"x565.bmp", 16, BMP_565, 0, 300, 7},
        {"x24.bmp", 24, BMP_PLAIN, 0, 300, 0},
        {"x24_top_down.bmp", 24, BMP_TOP_DOWN, 0, 300, 0},
        {"x24_with_table.dib", 24, BMP_PLAIN, 16, 300, 0},
        {"x32.bmp", 32, BMP_PLAIN, 0, 300, 0},
        {"core8.bmp", 8, BMP_CORE, 0, 100, 0},
        {"core24.bmp", 24, BMP_CORE, 0, 300, 0},
    };
    for (const Case& c : cases) {
        TestPicture picture = PatternPicture(37, 23, c.colours);
        std::string path = folder + "\\" + c.name;
        ASSERT_TRUE(WriteBmp(path.c_str(), picture, c.bits, c.layout, c.table)) << c.name;
        ExpectLoads(path, picture, c.tolerance);
    }
}

TEST_F(ImageFiles, OwnFilterLoadsPngJpegGifAndTiff)
{
    ASSERT_TRUE(RegisterImportFilter(FilterPath().c_str()));
    std::string folder = FreshPictureFolder("wic");
    struct Case {
        const char* name;
        const char* format;
        int colours;
        int tolerance;
    } cases[] = {
        {"p.png", "png", 300, 0},
        {"g.gif", "gif", 200, 0},
        {"t.tif", "tif", 300, 0},
        {"t2.TIFF", "tif", 300, 0},
        {"j.jpeg", "jpg", 6, 40},
        {"j2.jpg", "jpg", 6, 40},
    };
    for (const Case& c : cases) {
        // JPEG is lossy: large flat blocks keep their colours closely.
        TestPicture picture = PatternPicture(64, 48, c.colours);
        if (strcmp(c.format, "jpg") == 0)
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x)
                    picture.pixels[(size_t)y * 64 + x] = (x < 32) == (y < 24) ? 0xC03020 : 0x2060D0;
        std::string path = folder + "\\" + c.name;
        ASSERT_TRUE(WriteWicPicture(path.c_str(), c.format, picture)) << c.name;
        if (strcmp(c.format, "jpg") == 0) {
            // Away from the block edges, where JPEG rings.
            HBITMAP bitmap = LoadPicture(path.c_str(), 0);
            ASSERT_NE(bitmap, nullptr) << c.name;
            TestPicture got = ReadBitmapPixels(bitmap);
            DeleteObject(bitmap);
            ASSERT_EQ(got.width, 64);
            ASSERT_EQ(got.height, 48);
            EXPECT_LE(ColourDistance(got.At(8, 8), 0xC03020), c.tolerance);
            EXPECT_LE(ColourDistance(got.At(48, 8), 0x2060D0), c.tolerance);
            EXPECT_LE(ColourDistance(got.At(8, 40), 0x2060D0), c.tolerance);
            EXPECT_LE(ColourDistance(got.At(48, 40), 0xC03020), c.tolerance);
        } else {
            ExpectLoads(path, picture, c.tolerance);
        }
    }
}

TEST_F(ImageFiles, OwnFilterScalesPicturesLargerThanTheScreenKeepingTheirShape)
{
    ASSERT_TRUE(RegisterImportFilter(FilterPath().c_str()));
    int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    std::string path = FreshPictureFolder("large") + "\\wide.png";
    // Twice the screen's width, the screen's height: half of each.
    TestPicture picture = PatternPicture(screenW * 2, screenH, 4);
    ASSERT_TRUE(WriteWicPicture(path.c_str(), "png", picture));
    HBITMAP bitmap = LoadPicture(path.c_str(), 0);
    ASSERT_NE(bitmap, nullptr);
    BITMAP info;
    GetObjectA(bitmap, sizeof(info), &info);
    DeleteObject(bitmap);
    EXPECT_EQ(info.bmWidth, screenW);
    EXPECT_EQ(info.bmHeight, screenH / 2);
}

TEST_F(ImageFiles, FilterRegistryEntriesAreMatchedAsAWholeAndMissingFiltersSkipped)
{
    char path[FILTER_PATH_SIZE];
    std::string flt = TestFilterPath();
    EXPECT_FALSE(FindFilterFor("C:\\x\\a.tst", path));
    EXPECT_STREQ(path, "");

    ASSERT_TRUE(RegisterTestFilter("Several", "Several", "tst;abc", flt.c_str()));
    EXPECT_FALSE(FindFilterFor("C:\\x\\a.tst", path)) << "a list is compared as a whole";
    EXPECT_FALSE(FindFilterFor("C:\\x\\a.abc", path));

    ASSERT_TRUE(RegisterTestFilter("Missing PNG", "Missing", "png", "C:\\nowhere\\gone.flt"));
    ASSERT_TRUE(RegisterTestFilter("Missing JPG", "Missing", "jpg", "C:\\nowhere\\gone.flt"));
    EXPECT_FALSE(FindFilterFor("C:\\x\\a.png", path));
    EXPECT_STREQ(path, "");
    EXPECT_TRUE(FindFilterFor("C:\\x\\a.JPG", path));
    EXPECT_STREQ(path, "JPEGIM32.FLT");
    EXPECT_TRUE(FindFilterFor("C:\\x\\a.pcx", path));
    EXPECT_STREQ(path, "PCXIMP32.FLT");

    ASSERT_TRUE(RegisterTestFilter("Test", "Test pictures", "TST", flt.c_str()));
    EXPECT_TRUE(FindFilterFor("C:\\x\\a.tst", path));
    EXPECT_STREQ(path, flt.c_str());
    EXPECT_FALSE(FindFilterFor("C:\\x\\noextension", path));

    char name[64], extensions[16], where[FILTER_PATH_SIZE];
    int found = 0;
    for (int i = 0; EnumImportFilter(i, name, sizeof(name), extensions, sizeof(extensions), where, sizeof(where)); ++i)
        found += strcmp(extensions, "TST") == 0 && strcmp(name, "Test pictures") == 0 && flt == where;
    EXPECT_EQ(found, 1);
    EXPECT_FALSE(EnumImportFilter(4, name, sizeof(name), 0, 0, 0, 0));
}

TEST_F(ImageFiles, RegistrationWritesOneEntryPerExtension)
{
    ASSERT_TRUE(RegisterImportFilter(FilterPath().c_str()));
    std::set<std::string> extensions;
    char ext[40], where[FILTER_PATH_SIZE];
    for (int i = 0; EnumImportFilter(i, 0, 0, ext, sizeof(ext), where, sizeof(where)); ++i) {
        extensions.insert(ext);
        EXPECT_EQ(FilterPath(), where);
    }
    EXPECT_EQ(extensions, (std::set<std::string>{"png", "jpg", "jpeg", "gif", "tif", "tiff"}));
    // A path the reader cannot take whole is refused.
    EXPECT_FALSE(RegisterImportFilter(std::string(200, 'x').c_str()));
    UnregisterImportFilter();
    EXPECT_FALSE(EnumImportFilter(0, 0, 0, ext, sizeof(ext), 0, 0));
}

TEST_F(ImageFiles, FilterMaskAndBitmapDialogList)
{
    char list[2048];
    int length = BitmapFilterList(list, sizeof(list));
    ASSERT_GT(length, 0);
    EXPECT_STREQ(list, "Bitmaps (*.bmp,*.dib,*.rle)");
    char mask[FILTER_MASK_SIZE];
    EXPECT_FALSE(BuildFilterMask(mask));
    EXPECT_STREQ(mask, "");

    ASSERT_TRUE(RegisterImportFilter(FilterPath().c_str()));
    ASSERT_TRUE(BuildFilterMask(mask));
    EXPECT_EQ(std::string(mask).find("Graphics files\t*.bmp;*."), 0u);
    EXPECT_NE(std::string(mask).find("*.png"), std::string::npos);
    EXPECT_EQ(mask[strlen(mask) - 1], '\t');
    EXPECT_EQ(std::string(mask).find(";\t"), std::string::npos);
    length = BitmapFilterList(list, sizeof(list));
    EXPECT_STREQ(list, "Graphics files");
    // The entries follow one another, zero-separated, ending in two zeros.
    const char* entry = list + strlen(list) + 1;
    EXPECT_EQ(std::string(entry).find("*.bmp;"), 0u);
    entry += strlen(entry) + 1;
    EXPECT_STREQ(entry, "Bitmaps (*.bmp,*.dib,*.rle)");
    EXPECT_EQ(list[length - 1], 0);
    EXPECT_EQ(list[length - 2], 0);
}

class TestFilter : public ImageFiles {
protected:
    HMODULE library = 0;
    typedef void(WINAPI* LastBlocks)(HGLOBAL*, HGLOBAL*, LONG*);
    LastBlocks lastBlocks = 0;
    std::string folder;

    void SetUp() override
    {
        ImageFiles::SetUp();
        // Held open here, so the filter's own record of what it handed out
        // outlives each import's FreeLibrary.
        library = LoadLibraryA(TestFilterPath().c_str());
        ASSERT_NE(library, nullptr);
        lastBlocks = (LastBlocks)(void*)GetProcAddress(library, "TestFilterLastBlocks");
        ASSERT_NE(lastBlocks, nullptr);
        ASSERT_TRUE(RegisterTestFilter("Test", "Test pictures", "tst", TestFilterPath().c_str()));
        folder = FreshPictureFolder("testfilter");
    }
    void TearDown() override
    {
        if (library)
            FreeLibrary(library);
        ImageFiles::TearDown();
    }
    std::string File(const char* name, const char* word)
    {
        std::string path = folder + "\\" + name;
        std::vector<BYTE> bytes(word, word + strlen(word));
        EXPECT_TRUE(WriteBytes(path.c_str(), bytes));
        return path;
    }
    static int Freed(HGLOBAL block) { return block && GlobalFlags(block) == GMEM_INVALID_HANDLE; }
};

TEST_F(TestFilter, FourBitPictureKeepsAllItsRows)
{
    HBITMAP bitmap = LoadPicture(File("four.tst", "FOUR").c_str(), 0);
    ASSERT_NE(bitmap, nullptr);
    TestPicture got = ReadBitmapPixels(bitmap);
    DeleteObject(bitmap);
    ASSERT_EQ(got.width, 7);
    ASSERT_EQ(got.height, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            int i = (x + 3 * y) % 16;
            DWORD expected = ((DWORD)(16 * i) << 16) | ((DWORD)(255 - 16 * i) << 8) | (DWORD)(8 * i);
            EXPECT_EQ(got.At(x, y), expected) << x << "," << y;
        }
    HGLOBAL metafile, preferences;
    LONG count;
    lastBlocks(&metafile, &preferences, &count);
    EXPECT_TRUE(Freed(metafile)) << "the metafile block is freed after the copy";
    EXPECT_TRUE(Freed(preferences)) << "the filter's preference memory is freed";
}

TEST_F(TestFilter, MetafilesWithoutAPictureOrWithALyingOneGiveNoneAndAreFreed)
{
    const char* words[] = {"NODIB", "LIES", "FAIL"};
    for (const char* word : words) {
        std::string path = File((std::string(word) + ".tst").c_str(), word);
        EXPECT_EQ(ImportWithFilter(path.c_str()), nullptr) << word;
        HGLOBAL metafile, preferences;
        LONG count;
        lastBlocks(&metafile, &preferences, &count);
        EXPECT_TRUE(Freed(metafile)) << word;
        EXPECT_TRUE(Freed(preferences)) << word;
        EXPECT_EQ(LoadPicture(path.c_str(), 0), nullptr) << word;
    }
}

TEST_F(TestFilter, FindMetafileDibStopsAtTheBlockEnd)
{
    // A header whose total size claims far more than the block: the walk
    // ends at the block and finds nothing.
    BYTE block[64];
    memset(block, 0, sizeof(block));
    WORD headerWords = 9;
    DWORD totalWords = 100000;
    memcpy(block + 2, &headerWords, 2);
    memcpy(block + 6, &totalWords, 4);
    DWORD recordWords = 4;
    WORD function = 0x0201;
    memcpy(block + 18, &recordWords, 4);
    memcpy(block + 22, &function, 2);
    EXPECT_EQ(FindMetafileDib(block, sizeof(block)), nullptr);
    // The same walk finds a DIB record placed inside the block.
    function = 0x0940;
    recordWords = 11 + 20;
    BYTE big[18 + 2 * 31 + 6];
    memset(big, 0, sizeof(big));
    memcpy(big + 2, &headerWords, 2);
    totalWords = sizeof(big) / 2;
    memcpy(big + 6, &totalWords, 4);
    memcpy(big + 18, &recordWords, 4);
    memcpy(big + 22, &function, 2);
    EXPECT_EQ((BYTE*)FindMetafileDib(big, sizeof(big)), big + 18 + 22);
}

// Damaged and hostile Windows bitmaps: each gives no picture, none crashes,
// and loading them over and over does not grow the process.
TEST(HostileBitmaps, GiveNoPictureAndLeakNothing)
{
    std::string folder = FreshPictureFolder("hostile");
    TestPicture picture = PatternPicture(40, 30, 16);
    std::string good = folder + "\\good.bmp";
    ASSERT_TRUE(WriteBmp(good.c_str(), picture, 8, BMP_PLAIN, 0));
    std::vector<BYTE> bytes = ReadBytes(good.c_str());
    std::string rlePath = folder + "\\good_rle.bmp";
    ASSERT_TRUE(WriteBmp(rlePath.c_str(), picture, 8, BMP_RLE, 0));
    std::vector<BYTE> rle = ReadBytes(rlePath.c_str());
    auto dword = [](std::vector<BYTE>& v, size_t at, DWORD x) { memcpy(&v[at], &x, 4); };
    std::vector<std::pair<std::string, std::vector<BYTE>>> hostile;
    hostile.push_back({"empty.bmp", {}});
    hostile.push_back({"truncated.bmp", std::vector<BYTE>(bytes.begin(), bytes.begin() + bytes.size() / 2)});
    hostile.push_back({"header_only.bmp", std::vector<BYTE>(bytes.begin(), bytes.begin() + 30)});
    std::vector<BYTE> v = bytes;
    dword(v, 18, 100000);
    dword(v, 22, 100000);
    hostile.push_back({"huge.bmp", v});
    v = bytes;
    dword(v, 22, 0x80000000u);
    hostile.push_back({"most_negative_height.bmp", v});
    v = bytes;
    dword(v, 22, (DWORD)-100000);
    hostile.push_back({"huge_negative_height.bmp", v});
    v = bytes;
    dword(v, 46, 100000);
    hostile.push_back({"big_colour_table.bmp", v});
    v = bytes;
    dword(v, 46, 257);
    hostile.push_back({"table_257.bmp", v});
    v = bytes;
    dword(v, 14, 0xFFFFFF00u);
    hostile.push_back({"header_size.bmp", v});
    v = rle;
    // The first run of the first row made longer than the row.
    v[14 + 40 + 4 * 256] = 250;
    hostile.push_back({"rle_run_past_row.bmp", v});
    v = rle;
    v.resize(v.size() - 40);
    hostile.push_back({"rle_cut.bmp", v});
    v = rle;
    {
        // A move far past the bottom right.
        size_t at = 14 + 40 + 4 * 256;
        v[at] = 0;
        v[at + 1] = 2;
        v[at + 2] = 255;
        v[at + 3] = 255;
    }
    hostile.push_back({"rle_delta_past_end.bmp", v});
    v = rle;
    dword(v, 34, 0x7FFFFFF0u);
    hostile.push_back({"rle_size_lies.bmp", v});
    v = bytes;
    dword(v, 30, BI_RLE8);
    v[28] = 24;
    hostile.push_back({"rle_24.bmp", v});

    for (auto& file : hostile) {
        std::string path = folder + "\\" + file.first;
        ASSERT_TRUE(WriteBytes(path.c_str(), file.second));
        HBITMAP bitmap = LoadPicture(path.c_str(), 0);
        EXPECT_EQ(bitmap, nullptr) << file.first;
        if (bitmap)
            DeleteObject(bitmap);
    }
    // The good ones still load.
    HBITMAP bitmap = LoadPicture(good.c_str(), 0);
    EXPECT_NE(bitmap, nullptr);
    DeleteObject(bitmap);

    PROCESS_MEMORY_COUNTERS before, after;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    for (int round = 0; round < 40; ++round)
        for (auto& file : hostile)
            LoadPicture((folder + "\\" + file.first).c_str(), 0);
    for (int round = 0; round < 40; ++round)
        DeleteObject(LoadPicture(good.c_str(), 0));
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    EXPECT_LT(after.PagefileUsage, before.PagefileUsage + 4 * 1024 * 1024);
}

TEST(HostilePictures, DamagedPngJpegAndGifGiveNoPicture)
{
    ClearImportFilters();
    ASSERT_TRUE(RegisterImportFilter(FilterPath().c_str()));
    std::string folder = FreshPictureFolder("hostile_wic");
    TestPicture picture = PatternPicture(40, 30, 16);
    std::string png = folder + "\\good.png";
    ASSERT_TRUE(WriteWicPicture(png.c_str(), "png", picture));
    std::vector<BYTE> bytes = ReadBytes(png.c_str());
    ASSERT_GT(bytes.size(), 60u);

    std::vector<std::pair<std::string, std::vector<BYTE>>> hostile;
    hostile.push_back({"empty.png", {}});
    hostile.push_back({"truncated.png", std::vector<BYTE>(bytes.begin(), bytes.begin() + 40)});
    std::vector<BYTE> v = bytes;
    // The header chunk's CRC broken.
    v[29] ^= 0x55;
    // Whether a decoder shows it is its own matter; it must not crash or leak.
    std::string badCrc = folder + "\\bad_crc.png";
    ASSERT_TRUE(WriteBytes(badCrc.c_str(), v));
    DeleteObject(LoadPicture(badCrc.c_str(), 0));
    v = bytes;
    // Width and height of the header chunk made enormous (CRC left wrong).
    v[16] = v[17] = v[20] = v[21] = 0x7F;
    hostile.push_back({"huge.png", v});
    hostile.push_back({"text.jpg", {'h', 'e', 'l', 'l', 'o'}});
    hostile.push_back({"text.gif", {'G', 'I', 'F', '8', '9', 'a', 1, 2, 3}});
    hostile.push_back({"noise.tif", {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF}});

    for (auto& file : hostile) {
        std::string path = folder + "\\" + file.first;
        ASSERT_TRUE(WriteBytes(path.c_str(), file.second));
        HBITMAP bitmap = LoadPicture(path.c_str(), 0);
        EXPECT_EQ(bitmap, nullptr) << file.first;
        if (bitmap)
            DeleteObject(bitmap);
    }
    PROCESS_MEMORY_COUNTERS before, after;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    for (int round = 0; round < 20; ++round)
        for (auto& file : hostile)
            LoadPicture((folder + "\\" + file.first).c_str(), 0);
    for (int round = 0; round < 20; ++round)
        DeleteObject(LoadPicture(badCrc.c_str(), 0));
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    EXPECT_LT(after.PagefileUsage, before.PagefileUsage + 8 * 1024 * 1024);
    ClearImportFilters();
}

}  // namespace
