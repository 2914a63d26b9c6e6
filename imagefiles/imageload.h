// Picking picture files from a name or mask, loading them into DIB sections
// (Windows bitmaps directly, other formats through the installed graphics
// import filters), and the bitmap open dialog.
#pragma once
#include <windows.h>

// Index of the file PickFile chose last; kept from one picture to the next.
extern int lastPick;

// Where the import filters are registered (HKEY_LOCAL_MACHINE).
#define IMPORT_FILTER_KEY "SOFTWARE\\Microsoft\\Shared Tools\\Graphics Filters\\Import"

enum {
    FILTER_PATH_SIZE = 128,
    FILTER_MASK_SIZE = 1024,
    FILE_SPEC_BYTES = 272,
    PICTURE_INFO_BYTES = 20
};

// Number of directory entries matching the name or mask; 0 when none.
int CountMatchingFiles(const char* mask);
// Picks one matching file (the next in turn, or at random) into `name`
// (260 characters). 1 when a file was picked, 0 when nothing matches.
int PickFile(const char* mask, char* name, int random);
// A DIB section holding the picture picked from the mask, or null.
HBITMAP LoadPicture(const char* mask, int random);
// The position of the extension (the last "." of the last path component),
// or of the terminating zero when there is none.
const char* FileExtension(const char* path);
// Filter number `index`: fills each buffer that is given (emptied first)
// with its "Name", "Extensions" and "Path". 1 when the filter exists.
int EnumImportFilter(int index, char* name, DWORD nameSize, char* extensions, DWORD extensionsSize,
                     char* path, DWORD pathSize);
// The filter to try for a file (FILTER_PATH_SIZE characters); 1 when known.
int FindFilterFor(const char* fileName, char* filterPath);
// The packed DIB of the picture a filter imports, inside its metafile
// block, or null. Give it back with ReleaseImported.
BITMAPINFOHEADER* ImportWithFilter(const char* fileName);
void ReleaseImported(BITMAPINFOHEADER* dib);
// The packed DIB of the first DIB-carrying record of a Windows metafile
// held in `bytes` bytes, or null.
BITMAPINFOHEADER* FindMetafileDib(const void* metafile, SIZE_T bytes);
// The "Graphics files" entry (description, tab, patterns, tab) for every
// registered filter into `text` (FILTER_MASK_SIZE characters). 1 when at
// least one filter is registered, else 0 and an empty text.
int BuildFilterMask(char* text);
// The "Open Bitmap" dialog. `initialName` may name a folder to open in;
// `name` (260 characters) receives the choice. 1 when the user chose.
int BitmapOpenDialog(const char* initialName, char* name);
// The filter list BitmapOpenDialog shows, tabs already turned into zeros,
// double-zero terminated; its length including the final zero.
int BitmapFilterList(char* list, int size);
