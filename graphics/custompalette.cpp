// Custom palette editing: the operations of the Custom page on the 236-entry
// table, masks, undo and .PAL files.
#include "graphics/custompalette.h"
#include "runtime/common.h"
#include <string.h>

HPALETTE pagePalette = 0;
HDC pageDc = 0;
int selection[PALETTE_ENTRIES] = {1};
int anchor = 0, lastHit = 0;
int dragging = 0;
CustomEntry undoCopy[PALETTE_ENTRIES];
int maskRed = 0, maskGreen = 0, maskBlue = 0;
int copyPending = 0, mergePending = 0;
int sourceFirst = 0, sourceLast = 0;
float sliderBase[3] = {-1.0f, -1.0f, -1.0f};

// The same magic as the settings files.
static const BYTE palMagic[4] = {0x00, 0x42, 0x00, 0x42};

void SelectRun(int a, int b)
{
    if (a > b) {
        int t = a;
        a = b;
        b = t;
    }
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        selection[i] = i >= a && i <= b;
}

int SelectionFirst(void)
{
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        if (selection[i])
            return i;
    return -1;
}

int SelectionLast(void)
{
    for (int i = PALETTE_ENTRIES - 1; i >= 0; --i)
        if (selection[i])
            return i;
    return -1;
}

int SelectionCount(void)
{
    int count = 0;
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        count += selection[i] != 0;
    return count;
}

void StoreUndo(const CustomEntry* table)
{
    memcpy(undoCopy, table, sizeof(undoCopy));
}

void AnimatePagePalette(const CustomEntry* table)
{
    if (pagePalette)
        AnimatePalette(pagePalette, 0, PALETTE_ENTRIES, (const PALETTEENTRY*)table);
}

// Component c (0 red, 1 green, 2 blue) of an entry.
static BYTE* Component(CustomEntry* entry, int c)
{
    return c == 0 ? &entry->red : c == 1 ? &entry->green : &entry->blue;
}

static int Masked(int c)
{
    return c == 0 ? maskRed : c == 1 ? maskGreen : maskBlue;
}

void PaletteRandomGradient(CustomEntry* table)
{
    int v[3], step[3];
    for (int c = 0; c < 3; ++c)
        v[c] = Random() & 255;
    for (int c = 0; c < 3; ++c)
        step[c] = Random() % 8;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        if (!selection[i])
            continue;
        for (int c = 0; c < 3; ++c) {
            int next = v[c] + step[c];
            if (next >= 0 && next < 256)
                v[c] = next;
            else
                step[c] = -step[c];
            if (!Masked(c))
                *Component(&table[i], c) = (BYTE)v[c];
        }
    }
    AnimatePagePalette(table);
}

void PaletteGradient(CustomEntry* table)
{
    int first = SelectionFirst(), last = SelectionLast();
    int d = last - first;
    if (first >= 0 && d >= 2) {
        for (int i = 0; i < d; ++i)
            for (int c = 0; c < 3; ++c) {
                if (Masked(c))
                    continue;
                int a = *Component(&table[first], c), b = *Component(&table[last], c);
                *Component(&table[first + i], c) = (BYTE)((a * (d - i) + i * b) / d);
            }
    }
    AnimatePagePalette(table);
}

void PaletteNegative(CustomEntry* table)
{
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        if (selection[i])
            for (int c = 0; c < 3; ++c)
                if (!Masked(c))
                    *Component(&table[i], c) = (BYTE)(255 - *Component(&table[i], c));
    AnimatePagePalette(table);
}

void PaletteReverse(CustomEntry* table)
{
    int first = SelectionFirst(), last = SelectionLast();
    if (first >= 0) {
        while (first < last) {
            for (int c = 0; c < 3; ++c) {
                if (Masked(c))
                    continue;
                BYTE t = *Component(&table[first], c);
                *Component(&table[first], c) = *Component(&table[last], c);
                *Component(&table[last], c) = t;
            }
            ++first;
            --last;
        }
    }
    AnimatePagePalette(table);
}

void PaletteSmooth(CustomEntry* table)
{
    for (int i = 1; i < PALETTE_ENTRIES - 1; ++i) {
        if (!selection[i])
            continue;
        for (int c = 0; c < 3; ++c) {
            if (Masked(c))
                continue;
            int v = (*Component(&table[i - 1], c) + *Component(&table[i + 1], c) +
                     3 * *Component(&table[i], c)) / 5;
            *Component(&table[i], c) = (BYTE)v;
        }
    }
    AnimatePagePalette(table);
}

void PaletteShift(CustomEntry* table)
{
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        if (!selection[i])
            continue;
        BYTE oldRed = table[i].red;
        if (!maskRed)
            table[i].red = table[i].green;
        if (!maskGreen)
            table[i].green = table[i].blue;
        if (!maskBlue)
            table[i].blue = oldRed;
    }
    AnimatePagePalette(table);
}

void PaletteRough(CustomEntry* table)
{
    for (int i = 1; i < PALETTE_ENTRIES - 1; ++i) {
        if (!selection[i])
            continue;
        for (int c = 0; c < 3; ++c) {
            if (Masked(c))
                continue;
            int v = *Component(&table[i], c) + Random() % 21 - 10;
            if (v >= 0 && v <= 255)
                *Component(&table[i], c) = (BYTE)v;
        }
    }
    AnimatePagePalette(table);
}

// Copy (merge 0) or merge (1) the source run of undoCopy onto the selection.
static void Resample(CustomEntry* table, int merge)
{
    int first = SelectionFirst(), last = SelectionLast();
    int from = sourceFirst, to = sourceLast;
    if (first < 0 || from < 0 || to < from || to >= PALETTE_ENTRIES) {
        AnimatePagePalette(table);
        return;
    }
    float step = (float)(to - from + 1) / (float)(last - first + 1);
    float s = (float)from;
    for (int i = first; i <= last; ++i, s += step) {
        int source = (int)s;
        if (source > to)   // rounding of the running sum must not leave the run
            source = to;
        for (int c = 0; c < 3; ++c) {
            if (Masked(c))
                continue;
            BYTE* target = Component(&table[i], c);
            int v = *Component(&undoCopy[source], c);
            *target = (BYTE)(merge ? (*target + v) >> 1 : v);
        }
    }
    AnimatePagePalette(table);
}

void PaletteCopy(CustomEntry* table)
{
    Resample(table, 0);
}

void PaletteMerge(CustomEntry* table)
{
    Resample(table, 1);
}

void PaletteSetColor(CustomEntry* table, int red, int green, int blue)
{
    int value[3] = {red, green, blue};
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        if (selection[i])
            for (int c = 0; c < 3; ++c)
                if (!Masked(c))
                    *Component(&table[i], c) = (BYTE)(value[c] < 0 ? 0 : value[c] > 255 ? 255 : value[c]);
    AnimatePagePalette(table);
}

void PaletteScale(CustomEntry* table, const int position[3])
{
    int first = SelectionFirst(), last = SelectionLast();
    if (first >= 0) {
        for (int c = 0; c < 3; ++c) {
            if (Masked(c))
                continue;
            // A drag that began at 0 has no ratio; scale from 1 instead.
            float base = sliderBase[c] < 1.0f ? 1.0f : sliderBase[c];
            for (int i = first; i <= last; ++i) {
                float v = (float)*Component(&undoCopy[i], c) * (float)position[c] / base;
                *Component(&table[i], c) = (BYTE)(v > 255.0f ? 255 : v < 0.0f ? 0 : (int)v);
            }
        }
    }
    AnimatePagePalette(table);
}

void PaletteUndo(CustomEntry* table)
{
    CustomEntry t[PALETTE_ENTRIES];
    memcpy(t, table, sizeof(t));
    memcpy(table, undoCopy, sizeof(t));
    memcpy(undoCopy, t, sizeof(t));
    AnimatePagePalette(table);
}

int PaletteExport(const CustomEntry* table, const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BYTE image[PAL_FILE_SIZE];
    DWORD length = CUSTOM_PALETTE_BYTES;
    memcpy(image, palMagic, 4);
    memcpy(image + 4, &length, 4);
    memcpy(image + 8, table, CUSTOM_PALETTE_BYTES);
    DWORD written = 0;
    BOOL ok = WriteFile(file, image, sizeof(image), &written, NULL);
    CloseHandle(file);
    return ok && written == sizeof(image);
}

int PaletteImport(CustomEntry* table, const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return IMPORT_NO_FILE;
    // One byte more than a palette file holds, to see a longer file.
    BYTE image[PAL_FILE_SIZE + 1];
    DWORD got = 0;
    BOOL ok = ReadFile(file, image, sizeof(image), &got, NULL);
    CloseHandle(file);
    DWORD length = 0;
    if (ok && got >= 8)
        memcpy(&length, image + 4, 4);
    if (!ok || got != PAL_FILE_SIZE || memcmp(image, palMagic, 4) != 0 || length != CUSTOM_PALETTE_BYTES)
        return IMPORT_DAMAGED;
    memcpy(table, image + 8, CUSTOM_PALETTE_BYTES);
    // Animation only reaches reserved entries.
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        table[i].used = PC_RESERVED;
    AnimatePagePalette(table);
    return IMPORT_DONE;
}

void GridCellRect(const RECT* client, int entry, RECT* cell)
{
    RECT r = *client;
    r.left += 2;
    r.top += 2;
    r.right -= 3;
    r.bottom -= 3;
    double width = r.right * 0.0625, height = r.bottom * 0.06666667;
    int column = entry % GRID_COLUMNS, row = entry / GRID_COLUMNS;
    cell->left = r.left + (int)(column * width);
    cell->right = r.left + (int)((column + 1) * width);
    cell->top = r.top + (int)(row * height);
    cell->bottom = r.top + (int)((row + 1) * height);
}

int GridHitTest(const RECT* client, POINT point)
{
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        RECT cell;
        GridCellRect(client, i, &cell);
        if (PtInRect(&cell, point))
            return i;
    }
    return PALETTE_ENTRIES - 1;
}
