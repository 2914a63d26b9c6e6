// Custom palette editing on known tables: every operation, the masks, undo,
// copy and merge resampling, .PAL files and the grid geometry, with the
// page palette animated through real GDI.
#include <gtest/gtest.h>
#include "graphics/custompalette.h"
#include "runtime/common.h"
#include "support/harness.h"
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

class CustomPalette : public ::testing::Test {
protected:
    CustomEntry table[PALETTE_ENTRIES];
    CustomEntry before[PALETTE_ENTRIES];
    void SetUp() override
    {
        // Entry i: red i, green 2i mod 256, blue 255 - i.
        for (int i = 0; i < PALETTE_ENTRIES; ++i)
            table[i] = Entry(i, (2 * i) & 255, 255 - i);
        maskRed = maskGreen = maskBlue = 0;
        copyPending = mergePending = 0;
        sliderBase[0] = sliderBase[1] = sliderBase[2] = -1.0f;
        SelectRun(0, 0);
        StoreUndo(table);
        memcpy(before, table, sizeof(table));
        struct {
            WORD version, count;
            PALETTEENTRY entry[PALETTE_ENTRIES];
        } block;
        block.version = 0x300;
        block.count = PALETTE_ENTRIES;
        memcpy(block.entry, table, sizeof(table));
        pagePalette = CreatePalette((LOGPALETTE*)&block);
        ASSERT_NE(pagePalette, (HPALETTE)0);
    }
    void TearDown() override
    {
        DeleteObject(pagePalette);
        pagePalette = 0;
        maskRed = maskGreen = maskBlue = 0;
    }
    static CustomEntry Entry(int r, int g, int b)
    {
        CustomEntry e = {(BYTE)r, (BYTE)g, (BYTE)b, PC_RESERVED};
        return e;
    }
    // Entries outside first..last are as before.
    void ExpectUntouchedOutside(int first, int last)
    {
        for (int i = 0; i < PALETTE_ENTRIES; ++i)
            if (i < first || i > last) {
                ASSERT_EQ(0, memcmp(&table[i], &before[i], 4)) << "entry " << i;
            }
    }
    // The page palette holds exactly the table (what the grid shows).
    void ExpectPaletteIsTable()
    {
        PALETTEENTRY got[PALETTE_ENTRIES];
        ASSERT_EQ((UINT)PALETTE_ENTRIES, GetPaletteEntries(pagePalette, 0, PALETTE_ENTRIES, got));
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            ASSERT_EQ(table[i].red, got[i].peRed) << "entry " << i;
            ASSERT_EQ(table[i].green, got[i].peGreen) << "entry " << i;
            ASSERT_EQ(table[i].blue, got[i].peBlue) << "entry " << i;
        }
    }
};

#define EXPECT_ENTRY(i, r, g, b)                 \
    do {                                         \
        EXPECT_EQ((r), table[i].red) << "entry " << (i);   \
        EXPECT_EQ((g), table[i].green) << "entry " << (i); \
        EXPECT_EQ((b), table[i].blue) << "entry " << (i);  \
    } while (0)

TEST_F(CustomPalette, SelectionIsOneRunInEitherDirection)
{
    SelectRun(30, 20);
    EXPECT_EQ(20, SelectionFirst());
    EXPECT_EQ(30, SelectionLast());
    EXPECT_EQ(11, SelectionCount());
    SelectRun(235, 235);
    EXPECT_EQ(1, SelectionCount());
    EXPECT_EQ(235, SelectionFirst());
}

TEST_F(CustomPalette, NegativeInvertsOnlyUnmaskedChannels)
{
    SelectRun(10, 12);
    maskRed = 1;
    PaletteNegative(table);
    for (int i = 10; i <= 12; ++i)
        EXPECT_ENTRY(i, i, 255 - 2 * i, i);   // blue was 255 - i
    ExpectUntouchedOutside(10, 12);
    ExpectPaletteIsTable();
}

TEST_F(CustomPalette, ReverseAndGradientOnTwoAndFiveEntries)
{
    SelectRun(40, 41);
    PaletteGradient(table);
    EXPECT_EQ(0, memcmp(table, before, sizeof(table))) << "a two-entry gradient changes nothing";
    PaletteReverse(table);
    EXPECT_ENTRY(40, 41, 82, 214);
    EXPECT_ENTRY(41, 40, 80, 215);
    ExpectUntouchedOutside(40, 41);

    table[10] = Entry(0, 0, 0);
    table[14] = Entry(100, 200, 40);
    memcpy(before, table, sizeof(table));
    SelectRun(10, 14);
    maskBlue = 1;
    PaletteGradient(table);
    EXPECT_ENTRY(10, 0, 0, 0);
    EXPECT_ENTRY(11, 25, 50, before[11].blue);
    EXPECT_ENTRY(12, 50, 100, before[12].blue);
    EXPECT_ENTRY(13, 75, 150, before[13].blue);
    EXPECT_ENTRY(14, 100, 200, 40);
    ExpectUntouchedOutside(10, 14);

    // Odd-length reverse leaves the middle where it is.
    memcpy(before, table, sizeof(table));
    maskBlue = 0;
    maskGreen = 1;
    SelectRun(100, 102);
    PaletteReverse(table);
    EXPECT_ENTRY(100, 102, before[100].green, 153);
    EXPECT_ENTRY(101, 101, before[101].green, 154);
    EXPECT_ENTRY(102, 100, before[102].green, 155);
    ExpectPaletteIsTable();
}

TEST_F(CustomPalette, SmoothUsesTheSmoothedPreviousEntryAndSkipsTheEnds)
{
    table[9] = Entry(10, 0, 0);
    table[10] = Entry(50, 0, 0);
    table[11] = Entry(0, 0, 0);
    table[12] = Entry(18, 0, 0);
    memcpy(before, table, sizeof(table));
    SelectRun(10, 11);
    maskGreen = maskBlue = 1;
    PaletteSmooth(table);
    EXPECT_EQ(32, table[10].red);   // (10 + 0 + 150) / 5
    EXPECT_EQ(10, table[11].red);   // (32 + 18 + 0) / 5
    ExpectUntouchedOutside(10, 11);

    memcpy(before, table, sizeof(table));
    maskGreen = maskBlue = 0;
    SelectRun(0, 0);
    PaletteSmooth(table);
    SelectRun(235, 235);
    PaletteSmooth(table);
    EXPECT_EQ(0, memcmp(table, before, sizeof(table))) << "entries 0 and 235 are never smoothed";
}

TEST_F(CustomPalette, ShiftRotatesChannelsAroundMasks)
{
    SelectRun(5, 5);
    PaletteShift(table);
    EXPECT_ENTRY(5, 10, 250, 5);
    table[5] = Entry(1, 2, 3);
    maskGreen = 1;
    PaletteShift(table);
    EXPECT_ENTRY(5, 2, 2, 1);
    ExpectUntouchedOutside(5, 5);
}

TEST_F(CustomPalette, RoughStaysWithinTenAndSkipsMaskedDraws)
{
    SelectRun(0, 235);
    maskGreen = 1;
    SeedRandom(777);
    PaletteRough(table);
    // The same draws, in the documented order, without the masked channel.
    SeedRandom(777);
    int changed = 0;
    for (int i = 1; i < PALETTE_ENTRIES - 1; ++i) {
        int r = before[i].red + Random() % 21 - 10;
        int b = before[i].blue + Random() % 21 - 10;
        int er = r >= 0 && r <= 255 ? r : before[i].red;
        int eb = b >= 0 && b <= 255 ? b : before[i].blue;
        ASSERT_EQ(er, table[i].red) << "entry " << i;
        ASSERT_EQ(before[i].green, table[i].green) << "entry " << i;
        ASSERT_EQ(eb, table[i].blue) << "entry " << i;
        changed += er != before[i].red;
    }
    EXPECT_GT(changed, 100);
    EXPECT_EQ(0, memcmp(&table[0], &before[0], 4));
    EXPECT_EQ(0, memcmp(&table[235], &before[235], 4));
}

TEST_F(CustomPalette, RandomGradientWalksEverySelectedComponent)
{
    SelectRun(50, 149);
    maskBlue = 1;
    SeedRandom(31337);
    PaletteRandomGradient(table);
    SeedRandom(31337);
    int start[3], step[3];
    for (int c = 0; c < 3; ++c)
        start[c] = Random() & 255;
    for (int c = 0; c < 3; ++c)
        step[c] = Random() % 8;
    int v[2] = {start[0], start[1]};
    for (int i = 50; i <= 149; ++i) {
        for (int c = 0; c < 2; ++c) {
            int next = v[c] + step[c];
            if (next >= 0 && next < 256)
                v[c] = next;
            else
                step[c] = -step[c];
        }
        ASSERT_EQ(v[0], table[i].red) << i;
        ASSERT_EQ(v[1], table[i].green) << i;
        ASSERT_EQ(before[i].blue, table[i].blue) << i;
    }
    ExpectUntouchedOutside(50, 149);
    ExpectPaletteIsTable();
}

TEST_F(CustomPalette, CopyAndMergeResampleTheSourceRun)
{
    // A 4-entry run onto 8 entries: each source entry twice.
    for (int i = 0; i < 4; ++i)
        table[20 + i] = Entry(10 * (i + 1), 20 * (i + 1), 30 * (i + 1));
    StoreUndo(table);
    memcpy(before, table, sizeof(table));
    sourceFirst = 20;
    sourceLast = 23;
    SelectRun(100, 107);
    PaletteCopy(table);
    for (int j = 0; j < 8; ++j)
        EXPECT_ENTRY(100 + j, 10 * (j / 2 + 1), 20 * (j / 2 + 1), 30 * (j / 2 + 1));
    ExpectUntouchedOutside(100, 107);

    // 10 entries onto 5: every second one; onto 20: each twice.
    for (int i = 0; i < 10; ++i)
        table[60 + i] = Entry(i, 100 + i, 200 + i);
    StoreUndo(table);
    memcpy(before, table, sizeof(table));
    sourceFirst = 60;
    sourceLast = 69;
    SelectRun(180, 184);
    PaletteCopy(table);
    for (int j = 0; j < 5; ++j)
        EXPECT_ENTRY(180 + j, 2 * j, 100 + 2 * j, 200 + 2 * j);
    SelectRun(200, 219);
    PaletteCopy(table);
    for (int j = 0; j < 20; ++j)
        EXPECT_ENTRY(200 + j, j / 2, 100 + j / 2, 200 + j / 2);

    // Merge averages; a masked channel keeps the target.
    memcpy(before, table, sizeof(table));
    sourceFirst = 20;
    sourceLast = 23;
    maskGreen = 1;
    SelectRun(120, 127);
    PaletteMerge(table);
    for (int j = 0; j < 8; ++j) {
        int s = j / 2 + 1;
        EXPECT_ENTRY(120 + j, (before[120 + j].red + 10 * s) >> 1, before[120 + j].green,
                     (before[120 + j].blue + 30 * s) >> 1);
    }
    ExpectUntouchedOutside(120, 127);

    // A 3-entry run onto 7 never reads past the run.
    sourceFirst = 21;
    sourceLast = 23;
    maskGreen = 0;
    SelectRun(0, 6);
    PaletteCopy(table);
    EXPECT_ENTRY(6, 40, 80, 120);
    ExpectPaletteIsTable();
}

TEST_F(CustomPalette, SlidersSetOneColourOrScaleARun)
{
    SelectRun(7, 7);
    maskBlue = 1;
    PaletteSetColor(table, 200, 100, 50);
    EXPECT_ENTRY(7, 200, 100, 248);
    ExpectUntouchedOutside(7, 7);

    maskBlue = 0;
    StoreUndo(table);
    SelectRun(30, 33);
    sliderBase[0] = sliderBase[1] = sliderBase[2] = 128.0f;
    int half[3] = {64, 128, 255};
    PaletteScale(table, half);
    for (int i = 30; i <= 33; ++i) {
        EXPECT_EQ(i / 2, table[i].red);
        EXPECT_EQ((2 * i) & 255, table[i].green);
        EXPECT_EQ(255, table[i].blue) << "scaled up, held at 255";
    }
    // Scaling always starts from the copy taken at the drag's start.
    int back[3] = {128, 128, 128};
    PaletteScale(table, back);
    EXPECT_EQ(0, memcmp(&table[30], &undoCopy[30], 16));
    // A drag that started at 0 does not divide by zero.
    sliderBase[0] = 0.0f;
    int up[3] = {10, 128, 128};
    PaletteScale(table, up);
    EXPECT_EQ(255, table[33].red);
}

TEST_F(CustomPalette, UndoExchangesTheTableAndItsCopy)
{
    SelectRun(0, 235);
    StoreUndo(table);
    PaletteNegative(table);
    CustomEntry afterOperation[PALETTE_ENTRIES];
    memcpy(afterOperation, table, sizeof(table));
    PaletteUndo(table);
    EXPECT_EQ(0, memcmp(table, before, sizeof(table)));
    ExpectPaletteIsTable();
    PaletteUndo(table);
    EXPECT_EQ(0, memcmp(table, afterOperation, sizeof(table)));
}

TEST_F(CustomPalette, ExportImportsBackByteForByteAndDamagedFilesChangeNothing)
{
    std::string path = OutputPath("custom_roundtrip.PAL");
    ASSERT_EQ(1, PaletteExport(table, path.c_str()));
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<unsigned char> bytes(2000);
    size_t size = fread(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    ASSERT_EQ((size_t)952, size);
    const unsigned char head[8] = {0x00, 0x42, 0x00, 0x42, 0xB0, 0x03, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(bytes.data(), head, 8));
    EXPECT_EQ(0, memcmp(bytes.data() + 8, table, 944));

    CustomEntry imported[PALETTE_ENTRIES];
    memset(imported, 0x5A, sizeof(imported));
    ASSERT_EQ(IMPORT_DONE, PaletteImport(imported, path.c_str()));
    EXPECT_EQ(0, memcmp(imported, table, sizeof(table)));

    // Damaged copies: cut off, wrong magic, wrong length, trailing bytes.
    struct Damage {
        const char* name;
        size_t size;
        int offset;
        unsigned char value;
    } damages[] = {
        {"custom_truncated.PAL", 500, -1, 0},
        {"custom_header_only.PAL", 6, -1, 0},
        {"custom_magic.PAL", 952, 1, 0x43},
        {"custom_length.PAL", 952, 4, 0xAF},
        {"custom_longer.PAL", 960, -1, 0},
    };
    for (const Damage& d : damages) {
        std::vector<unsigned char> copy(bytes.begin(), bytes.begin() + 952);
        copy.resize(d.size, 0x11);
        if (d.offset >= 0)
            copy[d.offset] = d.value;
        std::string damaged = OutputPath(d.name);
        FILE* out = fopen(damaged.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        fwrite(copy.data(), 1, copy.size(), out);
        fclose(out);
        memcpy(imported, before, sizeof(imported));
        imported[3] = Entry(1, 2, 3);
        CustomEntry expected[PALETTE_ENTRIES];
        memcpy(expected, imported, sizeof(imported));
        EXPECT_EQ(IMPORT_DAMAGED, PaletteImport(imported, damaged.c_str())) << d.name;
        EXPECT_EQ(0, memcmp(imported, expected, sizeof(imported))) << d.name;
    }
    EXPECT_EQ(IMPORT_NO_FILE, PaletteImport(imported, OutputPath("no_such_file.PAL").c_str()));
}

TEST_F(CustomPalette, GridCellsTileTheGridAndMissesHitTheLastEntry)
{
    RECT client = {0, 0, 323, 243};   // 320 x 240 after the margins
    RECT cell;
    GridCellRect(&client, 0, &cell);
    EXPECT_EQ(2, cell.left);
    EXPECT_EQ(2, cell.top);
    EXPECT_EQ(22, cell.right);
    EXPECT_EQ(18, cell.bottom);
    GridCellRect(&client, 17, &cell);
    EXPECT_EQ(22, cell.left);
    EXPECT_EQ(18, cell.top);
    POINT inside = {30, 25};
    EXPECT_EQ(17, GridHitTest(&client, inside));
    // Row 14 holds entries 224 to 235; its right-hand columns are empty.
    GridCellRect(&client, 235, &cell);
    POINT last = {cell.left + 1, cell.top + 1};
    EXPECT_EQ(235, GridHitTest(&client, last));
    POINT empty = {300, 235};
    EXPECT_EQ(235, GridHitTest(&client, empty));
    POINT outside = {-5, -5};
    EXPECT_EQ(235, GridHitTest(&client, outside));
    // Neighbouring cells share their edges: no gaps, no overlaps.
    for (int i = 0; i < PALETTE_ENTRIES - 1; ++i) {
        RECT a, b;
        GridCellRect(&client, i, &a);
        GridCellRect(&client, i + 1, &b);
        if ((i + 1) % GRID_COLUMNS) {
            ASSERT_EQ(a.right, b.left) << i;
        }
    }
}

}  // namespace
