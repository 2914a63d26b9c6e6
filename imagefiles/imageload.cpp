// Picture files: picking from a mask, Windows bitmaps, import filters and the
// bitmap open dialog.
#include "imagefiles/imageload.h"
#include "imagefiles/bmpcheck.h"
#include "imagefiles/filedialog.h"
#include "graphics/surface.h"
#include "runtime/common.h"
#include <commdlg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int lastPick = 0;

int CountMatchingFiles(const char* mask)
{
    if (!mask || !mask[0])
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(mask, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 1;
    while (FindNextFileA(search, &found))
        ++count;
    FindClose(search);
    return count;
}

int PickFile(const char* mask, char* name, int random)
{
    if (!name)
        return 0;
    name[0] = 0;
    int n = CountMatchingFiles(mask);
    if (n == 0)
        return 0;
    int k = random ? Random() % n : (lastPick + 1) % n;
    if (k < 0)
        k = 0;
    lastPick = k;

    char drive[_MAX_DRIVE], folder[_MAX_DIR], base[_MAX_FNAME], extension[_MAX_EXT];
    _splitpath(mask, drive, folder, base, extension);

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(mask, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    // The folder may have changed since it was counted: an index that is no
    // longer there picks nothing.
    int index = 0, reached = 1;
    while (index < k) {
        if (!FindNextFileA(search, &found)) {
            reached = 0;
            break;
        }
        ++index;
    }
    FindClose(search);
    if (!reached)
        return 0;
    int length = snprintf(name, MAX_PATH, "%s%s%s", drive, folder, found.cFileName);
    if (length <= 0 || length >= MAX_PATH) {
        name[0] = 0;
        return 0;
    }
    return 1;
}

const char* FileExtension(const char* path)
{
    if (!path)
        return 0;
    const char* dot = 0;
    const char* p = path;
    while (*p) {
        if (*p == '.')
            dot = p;
        else if (*p == ' ' || *p == '\\')
            dot = 0;
        p = CharNextA(p);
    }
    return dot ? dot : p;
}

// Reads a string value into a buffer of `size` bytes, always terminated;
// a value that is missing, not text or too long leaves it empty.
static void ReadFilterValue(HKEY key, const char* value, char* buffer, DWORD size)
{
    if (!buffer || size == 0)
        return;
    buffer[0] = 0;
    DWORD type = 0, length = size - 1;
    if (RegQueryValueExA(key, value, NULL, &type, (BYTE*)buffer, &length) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || length >= size) {
        buffer[0] = 0;
        return;
    }
    buffer[length] = 0;
}

int EnumImportFilter(int index, char* name, DWORD nameSize, char* extensions, DWORD extensionsSize,
                     char* path, DWORD pathSize)
{
    if (index < 0)
        return 0;
    HKEY root;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, IMPORT_FILTER_KEY, &root) != ERROR_SUCCESS)
        return 0;
    char keyName[81];
    HKEY filter;
    if (RegEnumKeyA(root, (DWORD)index, keyName, sizeof(keyName) - 1) != ERROR_SUCCESS) {
        RegCloseKey(root);
        return 0;
    }
    keyName[sizeof(keyName) - 1] = 0;
    if (RegOpenKeyA(root, keyName, &filter) != ERROR_SUCCESS) {
        RegCloseKey(root);
        return 0;
    }
    ReadFilterValue(filter, "Name", name, nameSize);
    ReadFilterValue(filter, "Extensions", extensions, extensionsSize);
    ReadFilterValue(filter, "Path", path, pathSize);
    RegCloseKey(filter);
    RegCloseKey(root);
    return 1;
}

int FindFilterFor(const char* fileName, char* filterPath)
{
    if (!filterPath)
        return 0;
    filterPath[0] = 0;
    if (!fileName)
        return 0;
    const char* e = FileExtension(fileName);
    const char* bare = *e == '.' ? e + 1 : e;
    char extensions[40];
    for (int index = 0; EnumImportFilter(index, 0, 0, extensions, sizeof(extensions), filterPath,
                                         FILTER_PATH_SIZE);
         ++index) {
        if (bare[0] && lstrcmpiA(bare, extensions) == 0)
            break;
        filterPath[0] = 0;
    }
    if (filterPath[0] && GetFileAttributesA(filterPath) != INVALID_FILE_ATTRIBUTES)
        return 1;
    filterPath[0] = 0;
    if (lstrcmpiA(e, ".jpg") == 0) {
        lstrcpyA(filterPath, "JPEGIM32.FLT");
        return 1;
    }
    if (lstrcmpiA(e, ".pcx") == 0) {
        lstrcpyA(filterPath, "PCXIMP32.FLT");
        return 1;
    }
    return 0;
}

// The record functions that carry a packed DIB, and where it starts (in
// 16-bit words from the record's start).
static const struct {
    WORD function;
    WORD dibWord;
} dibRecords[] = {
    {0x0940, 11},   // META_DIBBITBLT
    {0x0B41, 13},   // META_DIBSTRETCHBLT
    {0x0D33, 12},   // META_SETDIBTODEV
    {0x0F43, 14},   // META_STRETCHDIB
};

BITMAPINFOHEADER* FindMetafileDib(const void* metafile, SIZE_T bytes)
{
    if (!metafile || bytes < sizeof(METAHEADER))
        return 0;
    const BYTE* base = (const BYTE*)metafile;
    WORD headerWords;
    DWORD totalWords;
    memcpy(&headerWords, base + 2, 2);
    memcpy(&totalWords, base + 6, 4);
    // Neither the header nor its sizes are trusted past the block.
    SIZE_T end = (SIZE_T)totalWords * 2;
    if (end > bytes)
        end = bytes;
    SIZE_T at = (SIZE_T)headerWords * 2;
    while (at + 6 <= end) {
        DWORD recordWords;
        WORD function;
        memcpy(&recordWords, base + at, 4);
        memcpy(&function, base + at + 4, 2);
        if (recordWords == 0)
            break;
        for (size_t i = 0; i < sizeof(dibRecords) / sizeof(dibRecords[0]); ++i) {
            if (dibRecords[i].function != function)
                continue;
            SIZE_T dib = at + (SIZE_T)dibRecords[i].dibWord * 2;
            if (dib + sizeof(BITMAPINFOHEADER) > end || ((SIZE_T)(base + dib) & 1))
                return 0;
            return (BITMAPINFOHEADER*)(base + dib);
        }
        if (recordWords > (end - at) / 2)
            break;
        at += (SIZE_T)recordWords * 2;
    }
    return 0;
}

// The bytes of the bits of an uncompressed packed DIB, or 0 when its header
// is not one a section can be made from.
static SIZE_T PackedBitsBytes(const BITMAPINFOHEADER* h)
{
    if (h->biSize < sizeof(BITMAPINFOHEADER) || h->biSize > 124 || h->biWidth <= 0 || h->biHeight == 0 ||
        h->biPlanes != 1)
        return 0;
    if (h->biCompression != BI_RGB && h->biCompression != BI_BITFIELDS)
        return 0;
    int bits = h->biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return 0;
    long long height = h->biHeight < 0 ? -(long long)h->biHeight : h->biHeight;
    long long stride = (((long long)h->biWidth * bits + 31) / 32) * 4;
    long long total = stride * height;
    if (height > 65535 || h->biWidth > 65535 || total > 0x10000000LL)
        return 0;
    return (SIZE_T)total;
}

typedef short(WINAPI* FilterInfoEntry)(short version, LPSTR ini, HANDLE* preferences, DWORD flags);
typedef short(WINAPI* ImportEntry)(HDC dc, void* fileSpec, void* pictureInfo, HANDLE preferences);

// Where the bits of a packed DIB start, in bytes from its header.
static SIZE_T PackedBitsOffset(const BITMAPINFOHEADER* h)
{
    SIZE_T offset = h->biSize + DibColorTableSize(h);
    // Bit masks follow a plain 40-byte header but sit inside a larger one.
    if (h->biCompression == BI_BITFIELDS && h->biSize > sizeof(BITMAPINFOHEADER))
        offset -= 12;
    return offset;
}

// Picks the DIB out of a metafile block a filter returned; frees the block
// when there is none, or when the DIB does not lie inside it.
static BITMAPINFOHEADER* TakeImportedDib(HGLOBAL metafile)
{
    SIZE_T bytes = GlobalSize(metafile);
    BYTE* locked = (BYTE*)GlobalLock(metafile);
    BITMAPINFOHEADER* dib = locked ? FindMetafileDib(locked, bytes) : 0;
    if (dib) {
        SIZE_T offset = (SIZE_T)((BYTE*)dib - locked);
        SIZE_T need = PackedBitsBytes(dib);
        SIZE_T headerBytes = dib->biSize < bytes ? PackedBitsOffset(dib) : bytes;
        if (!need || offset + headerBytes + need > bytes)
            dib = 0;
    }
    if (!dib) {
        if (locked)
            GlobalUnlock(metafile);
        GlobalFree(metafile);
        return 0;
    }
    dib->biClrImportant = (DWORD)(UINT_PTR)metafile;
    return dib;
}

BITMAPINFOHEADER* ImportWithFilter(const char* fileName)
{
    char filterName[FILTER_PATH_SIZE];
    if (!FindFilterFor(fileName, filterName) || !filterName[0])
        return 0;
    // A filter that cannot be loaded says nothing to the user.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA(filterName);
    SetErrorMode(oldMode);
    if (!library)
        return 0;
    FilterInfoEntry info = (FilterInfoEntry)(void*)GetProcAddress(library, "GetFilterInfo");
    ImportEntry import = (ImportEntry)(void*)GetProcAddress(library, "ImportGr");
    if (!info)
        info = (FilterInfoEntry)(void*)GetProcAddress(library, "GetFilterInfo@16");
    if (!import)
        import = (ImportEntry)(void*)GetProcAddress(library, "ImportGr@16");

    BITMAPINFOHEADER* result = 0;
    HANDLE preferences = 0;
    int go = import != 0;
    if (go && info) {
        char ini[2] = "";
        go = info(2, ini, &preferences, 0) == 2;
    }
    if (go) {
        BYTE fileSpec[FILE_SPEC_BYTES];
        BYTE pictureInfo[PICTURE_INFO_BYTES];
        memset(fileSpec, 0, sizeof(fileSpec));
        memset(pictureInfo, 0, sizeof(pictureInfo));
        DWORD shortLength = GetShortPathNameA(fileName, (char*)fileSpec + 8, MAX_PATH);
        if (shortLength == 0 || shortLength >= MAX_PATH)
            lstrcpynA((char*)fileSpec + 8, fileName, MAX_PATH);
        fileSpec[8 + MAX_PATH - 1] = 0;
        if (import(NULL, fileSpec, pictureInfo, preferences) == 0) {
            HGLOBAL metafile;
            memcpy(&metafile, pictureInfo, sizeof(metafile));
            if (metafile)
                result = TakeImportedDib(metafile);
        } else {
            // A failing filter may still have handed over a block.
            HGLOBAL metafile;
            memcpy(&metafile, pictureInfo, sizeof(metafile));
            if (metafile)
                GlobalFree(metafile);
        }
    }
    if (preferences)
        GlobalFree(preferences);
    FreeLibrary(library);
    return result;
}

void ReleaseImported(BITMAPINFOHEADER* dib)
{
    if (!dib)
        return;
    HGLOBAL block = (HGLOBAL)(UINT_PTR)dib->biClrImportant;
    if (!block)
        block = GlobalHandle(dib);
    if (!block)
        return;
    GlobalUnlock(block);
    GlobalFree(block);
}

static HBITMAP SectionFromImported(BITMAPINFOHEADER* d)
{
    // The colours-important field holds the block handle, not a count; the
    // section is bottom-up whatever the filter's row order.
    DWORD handleField = d->biClrImportant;
    LONG heightField = d->biHeight;
    int height = heightField < 0 ? -heightField : heightField;
    d->biClrImportant = 0;
    d->biHeight = height;
    void* bits = 0;
    HBITMAP section = CreateDIBSection(NULL, (BITMAPINFO*)d, DIB_RGB_COLORS, &bits, NULL, 0);
    d->biClrImportant = handleField;
    d->biHeight = heightField;
    if (!section || !bits) {
        if (section)
            DeleteObject(section);
        return 0;
    }
    size_t row = (size_t)((d->biWidth * d->biPlanes * d->biBitCount + 31) / 32) * 4;
    const BYTE* source = (const BYTE*)d + PackedBitsOffset(d);
    if (heightField > 0) {
        memcpy(bits, source, row * (size_t)height);
    } else {
        for (int y = 0; y < height; ++y)
            memcpy((BYTE*)bits + row * (size_t)(height - 1 - y), source + row * (size_t)y, row);
    }
    return section;
}

HBITMAP LoadPicture(const char* mask, int random)
{
    char name[MAX_PATH];
    if (!PickFile(mask, name, random))
        return 0;
    CharLowerA(name);
    size_t length = strlen(name);
    const char* tail = length >= 4 ? name + length - 4 : "";
    if (strcmp(tail, ".bmp") == 0 || strcmp(tail, ".dib") == 0 || strcmp(tail, ".rle") == 0) {
        // The platform's loader trusts the file's sizes; a damaged file is
        // turned away before it gets there.
        BitmapFileLayout layout;
        if (!BitmapFileSound(name, &layout))
            return 0;
        // The platform's loader turns top-down files upside down and
        // mis-reads the colour tables of old-header ones: those are read
        // here.
        if (layout.topDown || layout.core)
            return ReadBitmapFile(name, &layout);
        return (HBITMAP)LoadImageA(NULL, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_LOADFROMFILE);
    }
    BITMAPINFOHEADER* d = ImportWithFilter(name);
    if (!d)
        return 0;
    HBITMAP section = SectionFromImported(d);
    ReleaseImported(d);
    return section;
}

int BuildFilterMask(char* text)
{
    if (!text)
        return 0;
    int length = snprintf(text, FILTER_MASK_SIZE, "Graphics files\t*.bmp;");
    char extensions[16];
    int count = 0;
    for (int index = 0; EnumImportFilter(index, 0, 0, extensions, sizeof(extensions), 0, 0); ++index) {
        ++count;
        int room = FILTER_MASK_SIZE - 2 - length;
        int added = snprintf(text + length, room > 0 ? room : 0, "*.%s;", extensions);
        if (added < 0 || added >= room)
            break;   // the entry keeps the filters that fit
        length += added;
    }
    if (count == 0) {
        text[0] = 0;
        return 0;
    }
    text[length - 1] = '\t';
    text[length] = 0;
    return 1;
}

int BitmapFilterList(char* list, int size)
{
    char graphics[FILTER_MASK_SIZE];
    BuildFilterMask(graphics);
    int length = snprintf(list, size, "%sBitmaps (*.bmp,*.dib,*.rle)\t*.BMP;*.DIB;*.RLE\tAnimations (*.1)\t*.1\t"
                          "All files (*.*)\t *.*\t\t",
                          graphics);
    if (length <= 0 || length >= size)
        return 0;
    for (int i = 0; i < length; ++i)
        if (list[i] == '\t')
            list[i] = 0;
    return length + 1;
}

int BitmapOpenDialog(const char* initialName, char* name)
{
    if (!name)
        return 0;
    if (!dialogFolder[0])
        GetWindowsDirectoryA(dialogFolder, DIALOG_NAME_SIZE);
    char initial[DIALOG_NAME_SIZE] = "";
    if (initialName)
        lstrcpynA(initial, initialName, DIALOG_NAME_SIZE);
    DWORD attributes = initial[0] ? GetFileAttributesA(initial) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        lstrcpynA(dialogFolder, initial, DIALOG_NAME_SIZE);
        initial[0] = 0;
    }
    lstrcpynA(name, initial, DIALOG_NAME_SIZE);

    char filter[FILTER_MASK_SIZE + 160];
    if (!BitmapFilterList(filter, sizeof(filter)))
        return 0;
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof(dialog));
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = DIALOG_NAME_SIZE;
    dialog.lpstrInitialDir = dialogFolder;
    dialog.lpstrTitle = "Open Bitmap";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_SHOWHELP;
    if (!GetOpenFileNameA(&dialog))
        return 0;
    GetCurrentDirectoryA(DIALOG_NAME_SIZE, dialogFolder);
    return 1;
}
