// Windows bitmap files are checked before LoadImageA sees them: the loader
// believes the sizes a file declares, so a truncated or hostile file could
// make it read past the data or allocate without bound.
#include "imagefiles/bmpcheck.h"
#include <windows.h>
#include <string.h>

enum {
    MAX_SIDE = 32768,
    MAX_PIXELS = 64 * 1024 * 1024,
    MAX_RLE_BYTES = 64 * 1024 * 1024
};

// Walks a run-length encoded stream: every run, absolute block and move
// must stay inside the picture and inside the stream.
static int RleSound(const BYTE* data, DWORD size, int width, int height, int fourBit)
{
    long long x = 0, y = 0;
    DWORD at = 0;
    while (at + 2 <= size) {
        BYTE count = data[at], code = data[at + 1];
        at += 2;
        if (count) {
            if (x + count > width || y >= height)
                return 0;
            x += count;
            continue;
        }
        if (code == 0) {          // end of line
            x = 0;
            ++y;
        } else if (code == 1) {   // end of picture
            return 1;
        } else if (code == 2) {   // move
            if (at + 2 > size)
                return 0;
            x += data[at];
            y += data[at + 1];
            at += 2;
            if (x > width || y > height)
                return 0;
        } else {                  // absolute block, padded to words
            DWORD bytes = fourBit ? (code + 1) / 2 : code;
            bytes = (bytes + 1) & ~1u;
            if (x + code > width || y >= height || at + bytes > size)
                return 0;
            x += code;
            at += bytes;
        }
    }
    // The stream ends at a record boundary without its end mark: the loader
    // stops there too.
    return at == size;
}

int BitmapFileSound(const char* fileName, BitmapFileLayout* layout)
{
    BitmapFileLayout found;
    ZeroMemory(&found, sizeof(found));
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int sound = 0;
    BYTE* stream = 0;
    LARGE_INTEGER fileSize;
    BYTE head[14 + 124 + 12];
    DWORD got = 0;
    memset(head, 0, sizeof(head));
    do {
        if (!GetFileSizeEx(file, &fileSize) || fileSize.QuadPart < 14 + 12 || fileSize.QuadPart > 0x7FFFFFFF)
            break;
        long long total = fileSize.QuadPart;
        if (!ReadFile(file, head, sizeof(head), &got, NULL) || got < 14 + 12)
            break;
        if (head[0] != 'B' || head[1] != 'M')
            break;
        DWORD offBits, headerSize;
        memcpy(&offBits, head + 10, 4);
        memcpy(&headerSize, head + 14, 4);
        long long width, height;
        int planes, bits;
        DWORD compression = BI_RGB, colours = 0, imageSize = 0;
        if (headerSize == sizeof(BITMAPCOREHEADER)) {
            BITMAPCOREHEADER core;
            memcpy(&core, head + 14, sizeof(core));
            width = core.bcWidth;
            height = core.bcHeight;
            planes = core.bcPlanes;
            bits = core.bcBitCount;
        } else if (headerSize >= sizeof(BITMAPINFOHEADER) && headerSize <= 124 && 14 + headerSize <= got) {
            BITMAPINFOHEADER info;
            memcpy(&info, head + 14, sizeof(info));
            width = info.biWidth;
            height = info.biHeight;
            planes = info.biPlanes;
            bits = info.biBitCount;
            compression = info.biCompression;
            colours = info.biClrUsed;
            imageSize = info.biSizeImage;
        } else {
            break;
        }
        int topDown = height < 0;
        if (topDown)
            height = -height;
        if (planes != 1 || width <= 0 || height <= 0 || width > MAX_SIDE || height > MAX_SIDE ||
            width * height > MAX_PIXELS)
            break;
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            break;
        // A colour table holds at most one entry per pixel value.
        long long tableLimit = bits <= 8 ? (1 << bits) : 256;
        if (colours > tableLimit)
            break;
        long long tableEntries = colours ? colours : (bits <= 8 ? (1 << bits) : 0);
        long long tableBytes = tableEntries * (headerSize == sizeof(BITMAPCOREHEADER) ? 3 : 4);
        if (compression == BI_BITFIELDS) {
            if (bits != 16 && bits != 32)
                break;
            if (headerSize == sizeof(BITMAPINFOHEADER))
                tableBytes += 12;
        } else if (compression == BI_RLE8 || compression == BI_RLE4) {
            if (bits != (compression == BI_RLE8 ? 8 : 4) || topDown)
                break;
        } else if (compression != BI_RGB) {
            break;
        }
        long long bitsStart = 14 + (long long)headerSize + tableBytes;
        if (bitsStart > total)
            break;
        // The file's own offset wins where it points past the table.
        if (offBits >= bitsStart)
            bitsStart = offBits;
        if (bitsStart >= total)
            break;
        found.width = (int)width;
        found.height = (int)height;
        found.topDown = topDown;
        found.core = headerSize == sizeof(BITMAPCOREHEADER);
        found.bits = bits;
        found.compression = compression;
        found.tableEntries = (int)tableEntries;
        found.tableOffset = 14 + headerSize + (compression == BI_BITFIELDS && headerSize == sizeof(BITMAPINFOHEADER) ? 12 : 0);
        found.bitsOffset = (DWORD)bitsStart;
        if (compression == BI_BITFIELDS)
            memcpy(found.masks, head + 14 + 40, 12);
        if (compression == BI_RGB || compression == BI_BITFIELDS) {
            long long stride = ((width * bits + 31) / 32) * 4;
            if (bitsStart + stride * height > total)
                break;
            sound = 1;
            break;
        }
        DWORD size = (DWORD)(total - bitsStart);
        // The loader reads the declared size of the stream.
        if (imageSize > size)
            break;
        if (imageSize)
            size = imageSize;
        if (size > MAX_RLE_BYTES)
            break;
        stream = (BYTE*)HeapAlloc(GetProcessHeap(), 0, size);
        LARGE_INTEGER to;
        to.QuadPart = bitsStart;
        DWORD read = 0;
        if (!stream || !SetFilePointerEx(file, to, NULL, FILE_BEGIN) || !ReadFile(file, stream, size, &read, NULL) ||
            read != size)
            break;
        sound = RleSound(stream, size, (int)width, (int)height, compression == BI_RLE4);
    } while (0);
    if (stream)
        HeapFree(GetProcessHeap(), 0, stream);
    CloseHandle(file);
    if (sound && layout)
        *layout = found;
    return sound;
}

static int ReadAt(HANDLE file, DWORD offset, void* buffer, DWORD size)
{
    LARGE_INTEGER to;
    to.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, to, NULL, FILE_BEGIN) && ReadFile(file, buffer, size, &read, NULL) && read == size;
}

HBITMAP ReadBitmapFile(const char* fileName, const BitmapFileLayout* layout)
{
    if (!layout || (layout->compression != BI_RGB && layout->compression != BI_BITFIELDS))
        return 0;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info;
    ZeroMemory(&info, sizeof(info));
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = layout->width;
    // Always bottom-up, like the platform loader's sections: top-down rows
    // are laid in reverse.
    info.header.biHeight = layout->height;
    info.header.biPlanes = 1;
    info.header.biBitCount = (WORD)layout->bits;
    info.header.biCompression = layout->compression;
    info.header.biClrUsed = layout->bits <= 8 ? (DWORD)layout->tableEntries : 0;
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    HBITMAP section = 0;
    do {
        if (layout->compression == BI_BITFIELDS) {
            memcpy(info.colours, layout->masks, 12);
        } else if (layout->bits <= 8) {
            int entries = layout->tableEntries > 256 ? 256 : layout->tableEntries;
            BYTE table[256 * 4];
            int entrySize = layout->core ? 3 : 4;
            if (!ReadAt(file, layout->tableOffset, table, (DWORD)(entries * entrySize)))
                break;
            for (int i = 0; i < entries; ++i) {
                info.colours[i].rgbBlue = table[i * entrySize];
                info.colours[i].rgbGreen = table[i * entrySize + 1];
                info.colours[i].rgbRed = table[i * entrySize + 2];
            }
        }
        void* bits = 0;
        section = CreateDIBSection(NULL, (BITMAPINFO*)&info, DIB_RGB_COLORS, &bits, NULL, 0);
        if (!section || !bits)
            break;
        DWORD stride = (DWORD)((((long long)layout->width * layout->bits + 31) / 32) * 4);
        if (!ReadAt(file, layout->bitsOffset, bits, stride * (DWORD)layout->height)) {
            DeleteObject(section);
            section = 0;
            break;
        }
        if (layout->topDown) {
            BYTE* top = (BYTE*)bits;
            BYTE* bottom = top + (size_t)(layout->height - 1) * stride;
            for (; top < bottom; top += stride, bottom -= stride)
                for (DWORD i = 0; i < stride; ++i) {
                    BYTE t = top[i];
                    top[i] = bottom[i];
                    bottom[i] = t;
                }
        }
    } while (0);
    CloseHandle(file);
    return section;
}
