// An import filter for the tests: what it hands back is chosen by the first
// word of the file it is asked to import, so the tests can drive every path
// of the import, including filters that misbehave.
#include <windows.h>
#include <string.h>

static HGLOBAL lastMetafile = 0;
static HGLOBAL lastPreferences = 0;
static LONG imports = 0;
// Read through a volatile, so the compiler cannot see the fault coming.
static void* volatile nowhere = 0;

// What the last import handed out, for the tests' leak checks.
extern "C" __declspec(dllexport) void WINAPI TestFilterLastBlocks(HGLOBAL* metafile, HGLOBAL* preferences, LONG* count)
{
    *metafile = lastMetafile;
    *preferences = lastPreferences;
    *count = imports;
}

extern "C" __declspec(dllexport) short WINAPI GetFilterInfo(short version, LPSTR, HANDLE* preferences, DWORD)
{
    lastPreferences = GlobalAlloc(GMEM_MOVEABLE, 64);
    *preferences = lastPreferences;
    return version;
}

static void Put16(BYTE*& p, WORD v)
{
    memcpy(p, &v, 2);
    p += 2;
}

static void Put32(BYTE*& p, DWORD v)
{
    memcpy(p, &v, 4);
    p += 4;
}

// A metafile of one record (`function`, `dibWord` words before its DIB),
// with a DIB of the given header and bits, and an end record.
static HGLOBAL Metafile(WORD function, int dibWord, const BITMAPINFOHEADER* header, const RGBQUAD* table,
                        int tableEntries, const BYTE* bits, DWORD bitsBytes)
{
    DWORD dibBytes = sizeof(BITMAPINFOHEADER) + 4 * tableEntries + bitsBytes;
    DWORD recordWords = (DWORD)dibWord + (dibBytes + 1) / 2;
    DWORD totalWords = 9 + recordWords + 3;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, totalWords * 2);
    BYTE* base = (BYTE*)GlobalLock(block);
    BYTE* p = base;
    Put16(p, 1);
    Put16(p, 9);
    Put16(p, 0x300);
    Put32(p, totalWords);
    Put16(p, 0);
    Put32(p, recordWords);
    Put16(p, 0);
    BYTE* record = p;
    Put32(p, recordWords);
    Put16(p, function);
    p = record + dibWord * 2;
    memcpy(p, header, sizeof(*header));
    p += sizeof(*header);
    memcpy(p, table, 4 * tableEntries);
    p += 4 * tableEntries;
    memcpy(p, bits, bitsBytes);
    p = record + recordWords * 2;
    Put32(p, 3);
    Put16(p, 0);
    GlobalUnlock(block);
    return block;
}

// A 7 x 5 picture of 4 bits per pixel: pixel (x, y) of the top row first
// has index (x + 3y) mod 16; the colour of index i is (16i, 255 - 16i, 8i).
static HGLOBAL FourBitPicture(void)
{
    BITMAPINFOHEADER header;
    ZeroMemory(&header, sizeof(header));
    header.biSize = sizeof(header);
    header.biWidth = 7;
    header.biHeight = 5;   // bottom-up
    header.biPlanes = 1;
    header.biBitCount = 4;
    header.biClrUsed = 16;
    RGBQUAD table[16];
    for (int i = 0; i < 16; ++i) {
        table[i].rgbRed = (BYTE)(16 * i);
        table[i].rgbGreen = (BYTE)(255 - 16 * i);
        table[i].rgbBlue = (BYTE)(8 * i);
        table[i].rgbReserved = 0;
    }
    BYTE bits[4 * 5];
    ZeroMemory(bits, sizeof(bits));
    for (int row = 0; row < 5; ++row) {
        int y = 4 - row;
        for (int x = 0; x < 7; ++x) {
            int index = (x + 3 * y) % 16;
            bits[row * 4 + x / 2] |= (BYTE)(x % 2 ? index : index << 4);
        }
    }
    return Metafile(0x0B41, 13, &header, table, 16, bits, sizeof(bits));
}

// A record that claims a far larger picture than the block holds.
static HGLOBAL LyingPicture(void)
{
    BITMAPINFOHEADER header;
    ZeroMemory(&header, sizeof(header));
    header.biSize = sizeof(header);
    header.biWidth = 30000;
    header.biHeight = 30000;
    header.biPlanes = 1;
    header.biBitCount = 24;
    BYTE bits[64];
    ZeroMemory(bits, sizeof(bits));
    return Metafile(0x0F43, 14, &header, 0, 0, bits, sizeof(bits));
}

// Only a META_SETBKCOLOR record: no picture in it.
static HGLOBAL NoPicture(void)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (9 + 5 + 3) * 2);
    BYTE* p = (BYTE*)GlobalLock(block);
    Put16(p, 1);
    Put16(p, 9);
    Put16(p, 0x300);
    Put32(p, 9 + 5 + 3);
    Put16(p, 0);
    Put32(p, 5);
    Put16(p, 0);
    Put32(p, 5);
    Put16(p, 0x0201);
    Put32(p, 0x00FF00FF);
    Put32(p, 3);
    Put16(p, 0);
    GlobalUnlock(block);
    return block;
}

extern "C" __declspec(dllexport) short WINAPI ImportGr(HDC, void* fileSpec, void* pictureInfo, HANDLE)
{
    InterlockedIncrement(&imports);
    lastMetafile = 0;
    char word[8] = "";
    HANDLE file = CreateFileA((const char*)fileSpec + 8, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD got = 0;
    ReadFile(file, word, sizeof(word) - 1, &got, NULL);
    CloseHandle(file);
    word[got] = 0;
    HGLOBAL block = 0;
    short result = 0;
    if (strncmp(word, "FOUR", 4) == 0) {
        block = FourBitPicture();
    } else if (strncmp(word, "LIES", 4) == 0) {
        block = LyingPicture();
    } else if (strncmp(word, "NODIB", 5) == 0) {
        block = NoPicture();
    } else if (strncmp(word, "FAIL", 4) == 0) {
        block = NoPicture();
        result = 7;
    } else if (strncmp(word, "CRASH", 5) == 0) {
        *(volatile int*)nowhere = 1;
    } else {
        return 1;
    }
    lastMetafile = block;
    memcpy(pictureInfo, &block, sizeof(block));
    return result;
}
