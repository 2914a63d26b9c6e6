// The module pages (twelve "DLGMODULE" tabs and the "Slide Show" tab) and
// the slot-row helpers they share with the palette page. The rows of a
// module's controls are created at run time from the module table; every
// change goes into the in-memory table at once.
#include "config/pages.h"
#include "imagefiles/filedialog.h"
#include "imagefiles/imageload.h"
#include "resources/resource.h"
#include "runtime/framework.h"
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { ROW_TOP = 20, BITMAP_ROW_TOP = 47, ROW_STEP = 15, ROW_HEIGHT = 12, SOURCE_DROP_HEIGHT = 96 };

// The module shown on the module page that was activated last.
int currentModule = 0;

// Row layout of the module pages, in dialog units.
static const RowLayout moduleRowLayout = {
    10, 56,     // label
    70, 174,    // value slider
    70, 62,     // low slider
    132,        // low box
    154, 62,    // high slider
    216,        // high box
    239,        // sense box with its spin
    244,        // value box
    268         // source list
};

static const char* const sourceNames[] = {
    "Set", "Random", "Oscillate", "Volume", "Left", "Right",
    "150Hz", "400Hz", "600Hz", "800Hz", "1KHz", "1.5KHz", "2KHz", "2.5KHz",
    "3.25KHz", "4KHz", "5KHz", "6.25KHz", "8KHz", "10KHz", "12.5KHz", "18KHz"
};
enum { SOURCE_NAME_COUNT = sizeof(sourceNames) / sizeof(sourceNames[0]), PLAIN_SOURCES = 2 };

static HWND CreateRowControl(HWND page, const char* className, const char* text, DWORD style, DWORD exStyle,
                             int x, int y, int width, int height, int id)
{
    RECT box = {x, y, x + width, y + height};
    MapDialogRect(page, &box);
    HWND control = CreateWindowExA(exStyle, className, text, WS_CHILD | style, box.left, box.top,
                                   box.right - box.left, box.bottom - box.top, page, (HMENU)(INT_PTR)id,
                                   (HINSTANCE)GetWindowLongPtrA(page, GWLP_HINSTANCE), NULL);
    if (control)
        SendMessageA(control, WM_SETFONT, SendMessageA(page, WM_GETFONT, 0, 0), FALSE);
    return control;
}

void CreateSlotRow(HWND page, int row, int y, const RowLayout* layout, int labelId)
{
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(page, GWLP_HINSTANCE);
    const DWORD slider = TBS_AUTOTICKS | WS_TABSTOP;
    const DWORD number = ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP;

    if (layout->labelWidth > 0) {
        char label[64] = "";
        LoadStringA(instance, labelId, label, sizeof(label));
        CreateRowControl(page, "STATIC", label, SS_RIGHT | SS_NOPREFIX, 0, layout->labelX, y + 2,
                         layout->labelWidth, ROW_HEIGHT, ROW_LABEL + row);
    }
    CreateRowControl(page, TRACKBAR_CLASSA, "", slider, WS_EX_CLIENTEDGE, layout->valueSliderX, y,
                     layout->valueSliderWidth, ROW_HEIGHT, ROW_VALUE_SLIDER + row);
    CreateRowControl(page, "EDIT", "", number, WS_EX_CLIENTEDGE, layout->valueBoxX, y, 22, ROW_HEIGHT,
                     ROW_VALUE_BOX + row);
    CreateRowControl(page, TRACKBAR_CLASSA, "", slider, WS_EX_CLIENTEDGE, layout->lowSliderX, y,
                     layout->lowSliderWidth, ROW_HEIGHT, ROW_LOW_SLIDER + row);
    CreateRowControl(page, "EDIT", "", number, WS_EX_CLIENTEDGE, layout->lowBoxX, y, 22, ROW_HEIGHT,
                     ROW_LOW_BOX + row);
    CreateRowControl(page, TRACKBAR_CLASSA, "", slider, WS_EX_CLIENTEDGE, layout->highSliderX, y,
                     layout->highSliderWidth, ROW_HEIGHT, ROW_HIGH_SLIDER + row);
    CreateRowControl(page, "EDIT", "", number, WS_EX_CLIENTEDGE, layout->highBoxX, y, 22, ROW_HEIGHT,
                     ROW_HIGH_BOX + row);
    HWND senseBox = CreateRowControl(page, "EDIT", "7", ES_READONLY | ES_RIGHT, WS_EX_CLIENTEDGE,
                                     layout->senseX, y, 27, ROW_HEIGHT, ROW_SENSE_BOX + row);
    RECT sense = {layout->senseX, y, layout->senseX + 10, y + ROW_HEIGHT};
    MapDialogRect(page, &sense);
    // The spin takes the left part of the sense box's place.
    CreateUpDownControl(WS_CHILD | UDS_ALIGNLEFT, sense.left, sense.top, sense.right - sense.left,
                        sense.bottom - sense.top, page,
                        ROW_SENSE_SPIN + row, instance, senseBox, 10, 1, 7);
    CreateRowControl(page, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, layout->sourceListX, y,
                     46, SOURCE_DROP_HEIGHT, ROW_SOURCE_LIST + row);
}

void FillSourceList(HWND list, int soundCapable)
{
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    int count = soundCapable ? SOURCE_NAME_COUNT : PLAIN_SOURCES;
    for (int i = 0; i < count; ++i)
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)sourceNames[i]);
}

static void ShowControl(HWND page, int id, int show)
{
    HWND control = GetDlgItem(page, id);
    if (control)
        ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
}

void ShowSlotRow(HWND page, int slot, int source)
{
    int moving = source != 0;
    ShowControl(page, ROW_LABEL + slot, 1);
    ShowControl(page, ROW_SOURCE_LIST + slot, 1);
    ShowControl(page, ROW_VALUE_SLIDER + slot, !moving);
    ShowControl(page, ROW_VALUE_BOX + slot, !moving);
    ShowControl(page, ROW_LOW_SLIDER + slot, moving);
    ShowControl(page, ROW_LOW_BOX + slot, moving);
    ShowControl(page, ROW_HIGH_SLIDER + slot, moving);
    ShowControl(page, ROW_HIGH_BOX + slot, moving);
    ShowControl(page, ROW_SENSE_BOX + slot, moving);
    ShowControl(page, ROW_SENSE_SPIN + slot, moving);
}

static void HideSlotRow(HWND page, int slot)
{
    static const int bases[] = {ROW_VALUE_SLIDER, ROW_VALUE_BOX, ROW_SENSE_SPIN, ROW_SENSE_BOX, ROW_SOURCE_LIST,
                                ROW_LOW_SLIDER, ROW_HIGH_SLIDER, ROW_LOW_BOX, ROW_HIGH_BOX, ROW_LABEL};
    for (size_t i = 0; i < sizeof(bases) / sizeof(bases[0]); ++i)
        ShowControl(page, bases[i] + slot, 0);
}

static void SetBoxNumber(HWND box, int number)
{
    char text[16];
    snprintf(text, sizeof(text), "%d", number);
    SetWindowTextA(box, text);
}

void SetSliderAndBox(HWND slider, HWND box, int low, int high, int position)
{
    // Separate minimum and maximum: the packed range holds only 16 bits each.
    SendMessageA(slider, TBM_SETRANGEMIN, FALSE, low);
    SendMessageA(slider, TBM_SETRANGEMAX, FALSE, high);
    SendMessageA(slider, TBM_SETTICFREQ, (high - low) / 24 + 1, 0);
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    SetBoxNumber(box, position);
}

int ReadBoxClamped(HWND box, HWND slider, int low, int high, int current, int* changed)
{
    char text[32] = "";
    GetWindowTextA(box, text, sizeof(text));
    long typed = strtol(text, NULL, 10);
    int result = typed < low ? low : typed > high ? high : (int)typed;
    if (result != current) {
        SetSliderAndBox(slider, box, low, high, result);
        *changed = 1;
    } else {
        // The slot keeps its value; the box must not go on showing a number
        // (out of range, or not a number at all) that nothing holds.
        char shown[32];
        snprintf(shown, sizeof(shown), "%d", result);
        if (strcmp(shown, text) != 0)
            SetSliderAndBox(slider, box, low, high, result);
    }
    return result;
}

static int HighestSlot(const ModuleRecord* record)
{
    int highest = -1;
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        if (record->defined[slot])
            highest = slot;
    return highest;
}

static void CreateSlotRows(HWND page, int module)
{
    const ModuleRecord* record = &moduleTable[module];
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        int top = module == MODULE_BITMAP && slot < 9 ? BITMAP_ROW_TOP : ROW_TOP;
        CreateSlotRow(page, slot, top + (slot % 10) * ROW_STEP, &moduleRowLayout, record->labelId[slot]);
    }
    // The rows were created after the template's controls: put the paging
    // controls and the buttons behind them again, so Tab goes down the rows
    // first and then along the buttons.
    static const int after[] = {IDC_PAGE_TEXT, IDC_PAGE_SPIN, IDC_TEST_MODULE, IDC_TEST_ALL, IDC_RESET_MODULE,
                                IDC_HELP_BUTTON};
    for (size_t i = 0; i < sizeof(after) / sizeof(after[0]); ++i) {
        HWND control = GetDlgItem(page, after[i]);
        if (control)
            SetWindowPos(control, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

static void RefreshPage(HWND page, int module)
{
    ModuleRecord* record = &moduleTable[module];
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        if (slot / 10 == record->page)
            ShowSlotRow(page, slot, record->source[slot]);
        else
            HideSlotRow(page, slot);
        int low = record->minimum[slot], high = record->maximum[slot];
        SetSliderAndBox(GetDlgItem(page, ROW_LOW_SLIDER + slot), GetDlgItem(page, ROW_LOW_BOX + slot), low, high,
                        record->rangeLo[slot]);
        SetSliderAndBox(GetDlgItem(page, ROW_HIGH_SLIDER + slot), GetDlgItem(page, ROW_HIGH_BOX + slot), low,
                        high, record->rangeHi[slot]);
        SetSliderAndBox(GetDlgItem(page, ROW_VALUE_SLIDER + slot), GetDlgItem(page, ROW_VALUE_BOX + slot), low,
                        high, record->value[slot]);
        char sense[16];
        snprintf(sense, sizeof(sense), "%u", (unsigned)record->sense[slot]);
        SetDlgItemTextA(page, ROW_SENSE_BOX + slot, sense);
        SendDlgItemMessageA(page, ROW_SENSE_SPIN + slot, UDM_SETPOS32, 0, record->sense[slot]);
        SendDlgItemMessageA(page, ROW_SOURCE_LIST + slot, CB_SETCURSEL, record->source[slot], 0);
    }
    int paged = HighestSlot(record) >= 11;
    if (paged) {
        char text[32];
        snprintf(text, sizeof(text), "Page %lu of %lu", (unsigned long)record->page + 1, 2ul);
        SetDlgItemTextA(page, IDC_PAGE_TEXT, text);
    }
    ShowControl(page, IDC_PAGE_SPIN, paged);
    ShowControl(page, IDC_PAGE_TEXT, paged);
    if (module == MODULE_BITMAP && record->page == 0)
        SetDlgItemTextA(page, IDC_BITMAP_FILE, record->path);
}

static void SetModuleTexts(HWND page, int module)
{
    const char* name = moduleTable[module].name ? moduleTable[module].name : moduleNames[module];
    char text[96];
    snprintf(text, sizeof(text), "Test %s Settings", name);
    SetDlgItemTextA(page, IDC_TEST_MODULE, text);
    snprintf(text, sizeof(text), "Reset %s Controls", name);
    SetDlgItemTextA(page, IDC_RESET_MODULE, text);
    snprintf(text, sizeof(text), " Current settings for the %s module: ", name);
    SetDlgItemTextA(page, IDC_SETTINGS_GROUP, text);
}

// The formats the slide show can read: bitmaps and whatever the installed
// import filters add.
static void FillFormats(HWND page)
{
    char text[FILTER_MASK_SIZE];
    int length = snprintf(text, sizeof(text), "*.bmp");
    char extensions[16];
    for (int index = 0; EnumImportFilter(index, 0, 0, extensions, sizeof(extensions), 0, 0); ++index) {
        int room = (int)sizeof(text) - length;
        int added = snprintf(text + length, room > 0 ? room : 0, ", *.%s", extensions);
        if (added < 0 || added >= room)
            break;   // the box keeps the formats that fit
        length += added;
    }
    SetDlgItemTextA(page, IDC_BITMAP_FORMATS, text);
}

// Reads the picture file edit into the Bitmap module's path.
static void ReadPicturePath(HWND page)
{
    ModuleRecord* record = &moduleTable[MODULE_BITMAP];
    char path[PATH_SIZE] = "";
    GetDlgItemTextA(page, IDC_BITMAP_FILE, path, sizeof(path));
    if (strcmp(path, record->path) != 0) {
        lstrcpynA(record->path, path, sizeof(record->path));
        unsavedChanges = 1;
    }
    SetDlgItemTextA(page, IDC_BITMAP_FILE, record->path);
}

static void BrowsePicture(HWND page)
{
    ModuleRecord* record = &moduleTable[MODULE_BITMAP];
    char initial[DIALOG_NAME_SIZE], name[DIALOG_NAME_SIZE];
    lstrcpynA(initial, record->path, sizeof(initial));
    memset(name, 0, sizeof(name));
    if (!BitmapOpenDialog(initial, name))
        return;
    // Several files chosen come back as the folder and then each name: the
    // slide show takes one file or mask, so the first chosen file is used.
    size_t folderLength = strlen(name);
    if (folderLength + 1 < sizeof(name) && name[folderLength + 1]) {
        char first[DIALOG_NAME_SIZE];
        snprintf(first, sizeof(first), "%s%s%s", name, folderLength && name[folderLength - 1] == '\\' ? "" : "\\",
                 name + folderLength + 1);
        lstrcpynA(name, first, sizeof(name));
    }
    if (strcmp(name, record->path) != 0) {
        lstrcpynA(record->path, name, sizeof(record->path));
        unsavedChanges = 1;
    }
    SetDlgItemTextA(page, IDC_BITMAP_FILE, record->path);
}

static void ReadSliders(HWND page, int module)
{
    ModuleRecord* record = &moduleTable[module];
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        record->value[slot] = (int)SendDlgItemMessageA(page, ROW_VALUE_SLIDER + slot, TBM_GETPOS, 0, 0);
        record->rangeLo[slot] = (int)SendDlgItemMessageA(page, ROW_LOW_SLIDER + slot, TBM_GETPOS, 0, 0);
        record->rangeHi[slot] = (int)SendDlgItemMessageA(page, ROW_HIGH_SLIDER + slot, TBM_GETPOS, 0, 0);
    }
}

static void ReadBoxes(HWND page, int module)
{
    ModuleRecord* record = &moduleTable[module];
    int changed = 0;
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        int low = record->minimum[slot], high = record->maximum[slot];
        record->value[slot] = ReadBoxClamped(GetDlgItem(page, ROW_VALUE_BOX + slot),
                                             GetDlgItem(page, ROW_VALUE_SLIDER + slot), low, high,
                                             record->value[slot], &changed);
        record->rangeLo[slot] = ReadBoxClamped(GetDlgItem(page, ROW_LOW_BOX + slot),
                                               GetDlgItem(page, ROW_LOW_SLIDER + slot), low, high,
                                               record->rangeLo[slot], &changed);
        record->rangeHi[slot] = ReadBoxClamped(GetDlgItem(page, ROW_HIGH_BOX + slot),
                                               GetDlgItem(page, ROW_HIGH_SLIDER + slot), low, high,
                                               record->rangeHi[slot], &changed);
    }
    if (changed)
        unsavedChanges = 1;
}

// What the boxes (and the Slide Show's file name) show, into the module.
static void ReadPage(HWND page, int module)
{
    ReadBoxes(page, module);
    if (module == MODULE_BITMAP)
        ReadPicturePath(page);
}

static void SliderMoved(HWND page, int module, HWND slider)
{
    int id = GetDlgCtrlID(slider);
    int position = (int)SendMessageA(slider, TBM_GETPOS, 0, 0);
    int box = 0;
    if (id >= ROW_VALUE_SLIDER && id < ROW_VALUE_SLIDER + SLOT_COUNT)
        box = ROW_VALUE_BOX + id - ROW_VALUE_SLIDER;
    else if (id >= ROW_HIGH_SLIDER && id < ROW_HIGH_SLIDER + SLOT_COUNT)
        box = ROW_HIGH_BOX + id - ROW_HIGH_SLIDER;
    else if (id >= ROW_LOW_SLIDER && id < ROW_LOW_SLIDER + SLOT_COUNT)
        box = ROW_LOW_BOX + id - ROW_LOW_SLIDER;
    else
        return;
    SetBoxNumber(GetDlgItem(page, box), position);
    ReadSliders(page, module);
    unsavedChanges = 1;
}

// Returns TRUE to keep the spin's own position: the page keeps the numbers.
static BOOL SpinMoved(HWND page, int module, const NMUPDOWN* change)
{
    ModuleRecord* record = &moduleTable[module];
    int id = (int)change->hdr.idFrom;
    if (id == IDC_PAGE_SPIN) {
        int page2 = record->page - change->iDelta;
        if (page2 == 0 || page2 == 1) {
            record->page = page2;
            RefreshPage(page, module);
        }
        return TRUE;
    }
    if (id < ROW_SENSE_SPIN || id >= ROW_SENSE_SPIN + SLOT_COUNT)
        return FALSE;
    int slot = id - ROW_SENSE_SPIN;
    if (!record->defined[slot])
        return FALSE;
    int sense = record->sense[slot] + change->iDelta;
    sense = sense < 1 ? 1 : sense > 10 ? 10 : sense;
    record->sense[slot] = sense;
    char text[16];
    snprintf(text, sizeof(text), "%u", (unsigned)sense);
    SetDlgItemTextA(page, ROW_SENSE_BOX + slot, text);
    SendDlgItemMessageA(page, ROW_SENSE_SPIN + slot, UDM_SETPOS32, 0, sense);
    unsavedChanges = 1;
    return TRUE;
}

static void SourceChanged(HWND page, int module)
{
    ModuleRecord* record = &moduleTable[module];
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        LRESULT selection = SendDlgItemMessageA(page, ROW_SOURCE_LIST + slot, CB_GETCURSEL, 0, 0);
        if (selection != CB_ERR)
            record->source[slot] = (int)(selection & 0xFF);
    }
    RefreshPage(page, module);
    unsavedChanges = 1;
}

static void InitModulePage(HWND page, int module)
{
    SetWindowLongPtrA(page, DWLP_USER, module);
    currentModule = module;
    if (module == MODULE_BITMAP) {
        FillFormats(page);
        SendDlgItemMessageA(page, IDC_BITMAP_FILE, EM_LIMITTEXT, PATH_SIZE - 1, 0);
    }
    CreateSlotRows(page, module);
    const ModuleRecord* record = &moduleTable[module];
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        if (record->defined[slot])
            FillSourceList(GetDlgItem(page, ROW_SOURCE_LIST + slot), record->soundCapable[slot]);
    // The page spin moves pages, not a number of its own: a wide range keeps
    // both of its arrows working.
    SendDlgItemMessageA(page, IDC_PAGE_SPIN, UDM_SETRANGE32, (WPARAM)-1000, 1000);
    SendDlgItemMessageA(page, IDC_PAGE_SPIN, UDM_SETPOS32, 0, 0);
}

INT_PTR CALLBACK ModulePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    int module = (int)GetWindowLongPtrA(page, DWLP_USER);
    if (module < 0 || module >= MODULE_COUNT)
        module = 0;
    switch (message) {
    case WM_INITDIALOG: {
        const PROPSHEETPAGEA* sheetPage = (const PROPSHEETPAGEA*)lParam;
        module = sheetPage ? (int)sheetPage->lParam : 0;
        if (module < 0 || module >= MODULE_COUNT)
            module = 0;
        InitModulePage(page, module);
        return TRUE;
    }
    case WM_NOTIFY: {
        const NMHDR* header = (const NMHDR*)lParam;
        if (header->code == PSN_SETACTIVE) {
            currentModule = module;
            SetModuleTexts(page, module);
            RefreshPage(page, module);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        // OK pressed with Enter in a box, or another tab chosen: the box
        // may not have lost the focus yet, so what it shows is read now.
        if (header->code == PSN_KILLACTIVE) {
            ReadPage(page, module);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, FALSE);
            return TRUE;
        }
        if (header->code == UDN_DELTAPOS) {
            SetWindowLongPtrA(page, DWLP_MSGRESULT, SpinMoved(page, module, (const NMUPDOWN*)lParam));
            return TRUE;
        }
        return FALSE;
    }
    case WM_HSCROLL:
        if (lParam)
            SliderMoved(page, module, (HWND)lParam);
        return TRUE;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        if (code == CBN_SELCHANGE && id >= ROW_SOURCE_LIST && id < ROW_SOURCE_LIST + SLOT_COUNT) {
            SourceChanged(page, module);
            return TRUE;
        }
        if (code == EN_KILLFOCUS) {
            ReadPage(page, module);
            return TRUE;
        }
        if (code != BN_CLICKED)
            return FALSE;
        switch (id) {
        case IDC_TEST_ALL:
            TestAllSettings();
            return TRUE;
        case IDC_TEST_MODULE:
            TestModule(module);
            return TRUE;
        case IDC_RESET_MODULE:
            ResetModuleControls(module);
            RefreshPage(page, module);
            unsavedChanges = 1;
            return TRUE;
        case IDC_HELP_BUTTON:
            ShowHelp(module);
            return TRUE;
        case IDC_BITMAP_BROWSE:
            if (module == MODULE_BITMAP)
                BrowsePicture(page);
            return TRUE;
        }
        return FALSE;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != 0)
            EndTest();
        return FALSE;
    }
    return FALSE;
}
