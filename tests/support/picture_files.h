// Picture files the tests write themselves: Windows bitmaps in every layout
// the loader meets, and PNG/JPEG/GIF/TIFF through the imaging component.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A fresh empty folder under the temporary folder (Windows path, no
// trailing backslash).
std::string FreshPictureFolder(const char* name);
// Windows path of the built import filter (from VIVRA_FLT).
std::string FilterPath(void);
// Windows path of the tests' own filter (from VIVRA_TEST_FLT), whose answer
// is chosen by the first word of the imported file: FOUR (a 7 x 5 4-bit
// picture), LIES (a DIB larger than its block), NODIB, FAIL, CRASH.
std::string TestFilterPath(void);

// A picture as 0xRRGGBB per pixel, row 0 at the top.
struct TestPicture {
    int width;
    int height;
    std::vector<DWORD> pixels;
    DWORD At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};
// A picture of `colours` distinct colours laid out in small blocks; the
// colours are exact in 5-bit channels.
TestPicture PatternPicture(int width, int height, int colours);

enum BmpLayout {
    BMP_PLAIN,        // uncompressed, bottom-up
    BMP_TOP_DOWN,     // uncompressed, top-down
    BMP_RLE,          // run-length encoded (4 and 8 bits)
    BMP_565,          // 16 bits with 5-6-5 bit masks
    BMP_CORE          // the old 12-byte header
};
// Writes the picture as a bitmap of `bits` bits per pixel. For 8 or fewer
// bits the picture's colours become the colour table (`tableEntries` of
// them written, 0 for a full table); for more bits `tableEntries` writes an
// optional colour table of that many entries. 1 on success.
int WriteBmp(const char* path, const TestPicture& picture, int bits, BmpLayout layout, int tableEntries);
// The raw bytes of a file, and writing raw bytes.
std::vector<BYTE> ReadBytes(const char* path);
int WriteBytes(const char* path, const std::vector<BYTE>& bytes);

// Writes the picture through the imaging component: format "png", "jpg",
// "gif" or "tif". 1 on success.
int WriteWicPicture(const char* path, const char* format, const TestPicture& picture);

// The pixels of a bitmap as 0xRRGGBB, row 0 at the top; empty on failure.
TestPicture ReadBitmapPixels(HBITMAP bitmap);
// Largest channel difference between two colours.
int ColourDistance(DWORD a, DWORD b);

// Registers a filter entry under the import filters key; removes the whole
// key with ClearImportFilters.
int RegisterTestFilter(const char* key, const char* name, const char* extensions, const char* path);
void ClearImportFilters(void);
