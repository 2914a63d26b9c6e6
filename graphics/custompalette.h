// Editing the custom palette of the "Custom" colour effect: a contiguous
// selection of entries, operations restricted by channel masks, one level
// of undo, and .PAL files.
#pragma once
#include <windows.h>
#include "graphics/palette.h"

enum {
    CUSTOM_PALETTE_BYTES = PALETTE_ENTRIES * 4,   // 944
    PAL_FILE_SIZE = 8 + CUSTOM_PALETTE_BYTES,
    GRID_COLUMNS = 16,
    GRID_ROWS = 15
};

// Outcome of PaletteImport.
enum {
    IMPORT_DONE = 1,
    IMPORT_NO_FILE = 0,
    IMPORT_DAMAGED = -1   // not a palette file, or a cut-off or foreign one
};

// Page state, process-wide.
extern HPALETTE pagePalette;      // animated to stay equal to the table
extern HDC pageDc;
extern int selection[PALETTE_ENTRIES];
extern int anchor, lastHit;
extern int dragging;              // a selection drag or a refresh is pending
extern CustomEntry undoCopy[PALETTE_ENTRIES];
extern int maskRed, maskGreen, maskBlue;
extern int copyPending, mergePending;
extern int sourceFirst, sourceLast;
extern float sliderBase[3];       // red < 0: no slider drag runs

// Selection: every entry between a and b inclusive (either order).
void SelectRun(int a, int b);
int SelectionFirst(void);         // -1 when nothing is selected
int SelectionLast(void);
int SelectionCount(void);

void StoreUndo(const CustomEntry* table);

// The operations change only unmasked components of the selected entries
// (unless said otherwise) and end by animating pagePalette when it exists.
void PaletteRandomGradient(CustomEntry* table);
void PaletteGradient(CustomEntry* table);
void PaletteNegative(CustomEntry* table);
void PaletteReverse(CustomEntry* table);
void PaletteSmooth(CustomEntry* table);
void PaletteShift(CustomEntry* table);
void PaletteRough(CustomEntry* table);
// Resample the source run sourceFirst..sourceLast of undoCopy onto the
// selection; merge averages with what is there.
void PaletteCopy(CustomEntry* table);
void PaletteMerge(CustomEntry* table);
void PaletteSetColor(CustomEntry* table, int red, int green, int blue);
// Scales undoCopy by position / sliderBase per channel.
void PaletteScale(CustomEntry* table, const int position[3]);
void PaletteUndo(CustomEntry* table);
// 1 when the whole file was written.
int PaletteExport(const CustomEntry* table, const char* path);
// Checks the whole file first; the table changes only on IMPORT_DONE.
int PaletteImport(CustomEntry* table, const char* path);
void AnimatePagePalette(const CustomEntry* table);

// Grid geometry inside the grid's client rectangle.
void GridCellRect(const RECT* client, int entry, RECT* cell);
int GridHitTest(const RECT* client, POINT point);
