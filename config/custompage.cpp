// The Custom page: a 16-column grid of the custom palette's 236 colours, a
// contiguous selection made by click and drag, the editing operations with
// their channel masks, the colour sliders and .PAL export and import.
#include "config/pages.h"
#include "graphics/custompalette.h"
#include "imagefiles/filedialog.h"
#include "runtime/framework.h"
#include <commctrl.h>
#include <stdio.h>
#include <string.h>

enum {
    ID_SLIDER_RED = 1000,
    ID_MASK_RED = 1001,
    ID_MASK_GREEN = 1002,
    ID_SLIDER_GREEN = 1003,
    ID_SLIDER_BLUE = 1004,
    ID_RANDOM = 1005,
    ID_GRADIENT = 1006,
    ID_NEGATIVE = 1007,
    ID_REVERSE = 1008,
    ID_SMOOTH = 1009,
    ID_SHIFT = 1010,
    ID_ROUGH = 1011,
    ID_COPY = 1012,
    ID_MERGE = 1013,
    ID_UNDO = 1014,
    ID_EXPORT = 1015,
    ID_IMPORT = 1016,
    ID_MASK_BLUE = 1017,
    ID_GRID = 1018,
    ID_HINT = 1019
};

static const int sliderIds[3] = {ID_SLIDER_RED, ID_SLIDER_GREEN, ID_SLIDER_BLUE};

// Where the table lives when no palette engine exists (never expected).
static CustomEntry spareTable[PALETTE_ENTRIES];
static WNDPROC gridButtonProc = 0;
static HWND customPage = 0;
// Slider positions as the page last set them: the base of the next drag.
static int sliderRest[3] = {128, 128, 128};

static CustomEntry* Table(void)
{
    return currentPalette ? currentPalette->customPalette : spareTable;
}

static int PaletteDevice(HDC dc)
{
    return (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0;
}

static void RealizePagePalette(void)
{
    if (pageDc && pagePalette) {
        SelectPalette(pageDc, pagePalette, FALSE);
        RealizePalette(pageDc);
    }
}

static void RedrawGrid(HWND page)
{
    InvalidateRect(GetDlgItem(page, ID_GRID), NULL, FALSE);
}

static void ShowHint(HWND page, const char* text)
{
    SetDlgItemTextA(page, ID_HINT, text);
}

// The end of a selection drag, also run after every operation: buttons and
// sliders follow the selection, a pending copy or merge lands on it.
static void FinishSelection(HWND page, int runPending)
{
    if (!dragging)
        return;
    dragging = 0;
    HWND grid = GetDlgItem(page, ID_GRID);
    if (GetCapture() == grid)
        ReleaseCapture();
    int several = SelectionCount() > 1;
    EnableWindow(GetDlgItem(page, ID_REVERSE), several);
    EnableWindow(GetDlgItem(page, ID_GRADIENT), several);
    EnableWindow(GetDlgItem(page, ID_SLIDER_RED), !maskRed);
    EnableWindow(GetDlgItem(page, ID_SLIDER_GREEN), !maskGreen);
    EnableWindow(GetDlgItem(page, ID_SLIDER_BLUE), !maskBlue);
    CustomEntry* table = Table();
    if (runPending && copyPending) {
        PaletteCopy(table);
        copyPending = 0;
        unsavedChanges = 1;
        ShowHint(page, "");
    }
    if (runPending && mergePending) {
        PaletteMerge(table);
        mergePending = 0;
        unsavedChanges = 1;
        ShowHint(page, "");
    }
    RedrawGrid(page);
    int first = SelectionFirst();
    for (int c = 0; c < 3; ++c) {
        int v = 128;
        if (!several && first >= 0)
            v = c == 0 ? table[first].red : c == 1 ? table[first].green : table[first].blue;
        sliderRest[c] = v;
        SendDlgItemMessageA(page, sliderIds[c], TBM_SETPOS, TRUE, v);
    }
}

static void Refresh(HWND page)
{
    dragging = 1;
    FinishSelection(page, 0);
}

static void DrawGrid(const DRAWITEMSTRUCT* item)
{
    HDC dc = item->hDC;
    RECT client = item->rcItem;
    const CustomEntry* table = Table();
    int palette = PaletteDevice(dc) && pagePalette;
    HPALETTE previous = 0;
    if (palette) {
        previous = SelectPalette(dc, pagePalette, TRUE);
        RealizePalette(dc);
    }
    FillRect(dc, &client, (HBRUSH)GetStockObject(BLACK_BRUSH));
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        RECT cell;
        GridCellRect(&client, i, &cell);
        InflateRect(&cell, -1, -1);
        FrameRect(dc, &cell, (HBRUSH)GetStockObject(selection[i] ? WHITE_BRUSH : BLACK_BRUSH));
        InflateRect(&cell, -1, -1);
        // Without a hardware palette the cells show the table's true colours.
        HBRUSH brush = CreateSolidBrush(palette ? PALETTEINDEX(i)
                                                : RGB(table[i].red, table[i].green, table[i].blue));
        FillRect(dc, &cell, brush);
        DeleteObject(brush);
    }
    if (item->itemState & ODS_FOCUS) {
        RECT focus = client;
        InflateRect(&focus, -1, -1);
        DrawFocusRect(dc, &focus);
    }
    if (palette)
        SelectPalette(dc, previous ? previous : (HPALETTE)GetStockObject(DEFAULT_PALETTE), TRUE);
}

static void GridPress(HWND grid, POINT point)
{
    RECT client;
    GetClientRect(grid, &client);
    int n = GridHitTest(&client, point);
    anchor = lastHit = n;
    dragging = 1;
    SetCapture(grid);
    SelectRun(n, n);
    InvalidateRect(grid, NULL, FALSE);
}

static void GridMove(HWND grid, POINT point)
{
    if (!dragging || GetCapture() != grid)
        return;
    RECT client;
    GetClientRect(grid, &client);
    if (!PtInRect(&client, point))
        return;
    int n = GridHitTest(&client, point);
    if (n == lastHit)
        return;
    lastHit = n;
    SelectRun(anchor, n);
    InvalidateRect(grid, NULL, FALSE);
}

// Arrow keys move the selection; with SHIFT they stretch it from the anchor.
// SPACE ends a keyboard selection as releasing the mouse button does.
static int GridKey(HWND grid, WPARAM key)
{
    int n = lastHit;
    switch (key) {
    case VK_LEFT: n -= 1; break;
    case VK_RIGHT: n += 1; break;
    case VK_UP: n -= GRID_COLUMNS; break;
    case VK_DOWN: n += GRID_COLUMNS; break;
    case VK_HOME: n = 0; break;
    case VK_END: n = PALETTE_ENTRIES - 1; break;
    case VK_SPACE:
        dragging = 1;
        FinishSelection(customPage, 1);
        return 1;
    default: return 0;
    }
    n = n < 0 ? 0 : n >= PALETTE_ENTRIES ? PALETTE_ENTRIES - 1 : n;
    if (!(GetKeyState(VK_SHIFT) & 0x8000))
        anchor = n;
    lastHit = n;
    SelectRun(anchor, n);
    InvalidateRect(grid, NULL, FALSE);
    dragging = 1;
    FinishSelection(customPage, 0);
    return 1;
}

static LRESULT CALLBACK GridProc(HWND grid, UINT message, WPARAM wParam, LPARAM lParam)
{
    POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetFocus(grid);
        GridPress(grid, point);
        return 0;
    case WM_MOUSEMOVE:
        GridMove(grid, point);
        return 0;
    case WM_LBUTTONUP:
        if (dragging && GetCapture() == grid)
            FinishSelection(customPage, 1);
        return 0;
    case WM_CAPTURECHANGED:
        // Losing the mouse to another window ends the drag where it is.
        if (dragging && (HWND)lParam != grid && customPage)
            FinishSelection(customPage, 1);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_BUTTON;
    case WM_KEYDOWN:
        if (GridKey(grid, wParam))
            return 0;
        break;
    case WM_KEYUP:
    case WM_CHAR:
        if (wParam == VK_SPACE || wParam == ' ')
            return 0;   // no button click from the grid
        break;
    }
    return CallWindowProcA(gridButtonProc, grid, message, wParam, lParam);
}

static void CreatePagePalette(HWND page)
{
    struct {
        WORD version, count;
        PALETTEENTRY entry[PALETTE_ENTRIES];
    } block;
    block.version = 0x300;
    block.count = PALETTE_ENTRIES;
    memcpy(block.entry, Table(), sizeof(block.entry));
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        block.entry[i].peFlags = PC_RESERVED;
    pagePalette = CreatePalette((LOGPALETTE*)&block);
    pageDc = GetDC(GetParent(page));
    RealizePagePalette();
}

static void DestroyPagePalette(HWND page)
{
    if (pageDc) {
        SelectPalette(pageDc, (HPALETTE)GetStockObject(DEFAULT_PALETTE), FALSE);
        ReleaseDC(GetParent(page), pageDc);
    }
    if (pagePalette)
        DeleteObject(pagePalette);
    pageDc = 0;
    pagePalette = 0;
}

static void InitCustomPage(HWND page)
{
    customPage = page;
    CreatePagePalette(page);
    StoreUndo(Table());
    SelectRun(0, 0);
    anchor = lastHit = 0;
    copyPending = mergePending = 0;
    sliderBase[0] = sliderBase[1] = sliderBase[2] = -1.0f;
    for (int c = 0; c < 3; ++c) {
        SendDlgItemMessageA(page, sliderIds[c], TBM_SETRANGE, TRUE, MAKELONG(0, 255));
        SendDlgItemMessageA(page, sliderIds[c], TBM_SETPAGESIZE, 0, 16);
    }
    CheckDlgButton(page, ID_MASK_RED, maskRed ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, ID_MASK_GREEN, maskGreen ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, ID_MASK_BLUE, maskBlue ? BST_CHECKED : BST_UNCHECKED);
    HWND grid = GetDlgItem(page, ID_GRID);
    gridButtonProc = (WNDPROC)SetWindowLongPtrA(grid, GWLP_WNDPROC, (LONG_PTR)GridProc);
    Refresh(page);
}

static void ExportPalette(HWND page)
{
    char name[DIALOG_NAME_SIZE] = "Scratch.PAL";
    if (!FileDialog(name, "*.PAL", 1))
        return;
    if (!PaletteExport(Table(), name)) {
        char text[DIALOG_NAME_SIZE + 96];
        snprintf(text, sizeof(text), "The palette could not be written to %s.", name);
        MessageBoxA(page, text, "Export", MB_OK | MB_ICONEXCLAMATION);
    }
}

static void ImportPalette(HWND page)
{
    char name[DIALOG_NAME_SIZE] = "";
    if (!FileDialog(name, "*.PAL", 0))
        return;
    // A multiple choice comes as the folder, then the names: take the first.
    const char* second = name + strlen(name) + 1;
    if (*second && second < name + DIALOG_NAME_SIZE) {
        char path[DIALOG_NAME_SIZE];
        snprintf(path, sizeof(path), "%s\\%s", name, second);
        lstrcpynA(name, path, DIALOG_NAME_SIZE);
    }
    CustomEntry incoming[PALETTE_ENTRIES];
    CustomEntry* table = Table();
    memcpy(incoming, table, sizeof(incoming));
    int result = PaletteImport(incoming, name);
    if (result != IMPORT_DONE) {
        char text[DIALOG_NAME_SIZE + 160];
        snprintf(text, sizeof(text),
                 result == IMPORT_NO_FILE ? "The file %s could not be opened.  The custom palette is unchanged."
                                          : "The file %s is not a palette file of The Vivarent Screen Saver, or it "
                                            "is damaged.  The custom palette is unchanged.",
                 name);
        MessageBoxA(page, text, "Import", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    StoreUndo(table);
    memcpy(table, incoming, sizeof(incoming));
    AnimatePagePalette(table);
    Refresh(page);
}

typedef void (*Operation)(CustomEntry* table);
struct OperationButton {
    int id;
    Operation run;
};
static const OperationButton operations[] = {
    {ID_RANDOM, PaletteRandomGradient}, {ID_GRADIENT, PaletteGradient}, {ID_NEGATIVE, PaletteNegative},
    {ID_REVERSE, PaletteReverse},       {ID_SMOOTH, PaletteSmooth},     {ID_SHIFT, PaletteShift},
    {ID_ROUGH, PaletteRough},
};

static void CommandClicked(HWND page, int id)
{
    CustomEntry* table = Table();
    for (const OperationButton& op : operations)
        if (op.id == id) {
            StoreUndo(table);
            op.run(table);
            unsavedChanges = 1;
            Refresh(page);
            return;
        }
    switch (id) {
    case ID_COPY:
    case ID_MERGE:
        StoreUndo(table);
        sourceFirst = SelectionFirst();
        sourceLast = SelectionLast();
        copyPending = id == ID_COPY;
        mergePending = id == ID_MERGE;
        ShowHint(page, id == ID_COPY ? "Now select the entries to copy the selected colors to."
                                     : "Now select the entries to merge the selected colors into.");
        break;
    case ID_UNDO:
        PaletteUndo(table);
        Refresh(page);
        break;
    case ID_EXPORT:
        ExportPalette(page);
        break;
    case ID_IMPORT:
        ImportPalette(page);
        break;
    case ID_MASK_RED:
        maskRed = IsDlgButtonChecked(page, ID_MASK_RED) == BST_CHECKED;
        Refresh(page);
        break;
    case ID_MASK_GREEN:
        maskGreen = IsDlgButtonChecked(page, ID_MASK_GREEN) == BST_CHECKED;
        Refresh(page);
        break;
    case ID_MASK_BLUE:
        maskBlue = IsDlgButtonChecked(page, ID_MASK_BLUE) == BST_CHECKED;
        Refresh(page);
        break;
    case ID_TEST_ALL:
        TestAllSettings();
        break;
    case ID_HELP_BUTTON:
        ShowHelp(HELP_CUSTOM);
        break;
    }
}

static void SliderScrolled(HWND page, int code)
{
    CustomEntry* table = Table();
    if (code == TB_ENDTRACK && sliderBase[0] < 0)
        return;   // the end of a drag that moved nothing
    int position[3];
    for (int c = 0; c < 3; ++c)
        position[c] = (int)SendDlgItemMessageA(page, sliderIds[c], TBM_GETPOS, 0, 0);
    if (sliderBase[0] < 0) {
        // The drag scales from where the sliders stood before it began.
        for (int c = 0; c < 3; ++c)
            sliderBase[c] = (float)sliderRest[c];
        StoreUndo(table);
    }
    if (SelectionCount() == 1)
        PaletteSetColor(table, position[0], position[1], position[2]);
    else
        PaletteScale(table, position);
    unsavedChanges = 1;
    if (code == TB_ENDTRACK) {
        sliderBase[0] = -1.0f;
        for (int c = 0; c < 3; ++c)
            sliderRest[c] = position[c];
    }
    RedrawGrid(page);
}

INT_PTR CALLBACK CustomPalettePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitCustomPage(page);
        return TRUE;
    case WM_DESTROY:
        if (gridButtonProc)
            SetWindowLongPtrA(GetDlgItem(page, ID_GRID), GWLP_WNDPROC, (LONG_PTR)gridButtonProc);
        gridButtonProc = 0;
        DestroyPagePalette(page);
        customPage = 0;
        return FALSE;
    case WM_NOTIFY:
        if (((NMHDR*)lParam)->code == (UINT)PSN_SETACTIVE) {
            // Another page may have loaded a display with other colours.
            AnimatePagePalette(Table());
            RealizePagePalette();
            Refresh(page);
        }
        return FALSE;
    case WM_PALETTECHANGED:
        if ((HWND)wParam != page) {
            RealizePagePalette();
            RedrawGrid(page);
        }
        return FALSE;
    case WM_DRAWITEM:
        if (wParam == ID_GRID) {
            DrawGrid((const DRAWITEMSTRUCT*)lParam);
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) != ID_GRID)
            CommandClicked(page, LOWORD(wParam));
        return FALSE;
    case WM_HSCROLL:
        for (int c = 0; c < 3; ++c)
            if ((HWND)lParam == GetDlgItem(page, sliderIds[c])) {
                SliderScrolled(page, LOWORD(wParam));
                break;
            }
        return FALSE;
    case WM_ACTIVATE:
        if (LOWORD(wParam))
            EndTest();
        return FALSE;
    }
    return FALSE;
}
