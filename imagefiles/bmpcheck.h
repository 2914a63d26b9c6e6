// A check of a Windows bitmap file before the platform's loader reads it,
// and a direct reader for the layouts that loader gets wrong.
#pragma once
#include <windows.h>

// Where the parts of a checked bitmap file lie.
struct BitmapFileLayout {
    int width;
    int height;          // rows, always positive
    int topDown;
    int core;            // the old 12-byte header
    int bits;
    DWORD compression;
    int tableEntries;
    DWORD tableOffset;   // from the start of the file
    DWORD bitsOffset;
    DWORD masks[3];      // for BI_BITFIELDS
};

// 1 when the file is a bitmap whose header, colour table, sizes and bits
// (including every run of a run-length encoded one) lie within the file
// and describe a picture the loader can make; 0 for anything damaged.
// `layout`, when given, receives where its parts lie.
int BitmapFileSound(const char* fileName, BitmapFileLayout* layout);
// Reads an uncompressed checked bitmap into a bottom-up DIB section of its
// own depth; null on failure.
HBITMAP ReadBitmapFile(const char* fileName, const BitmapFileLayout* layout);
