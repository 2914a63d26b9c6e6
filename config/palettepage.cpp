// The Palette page: the colour effect and the ten palette parameters of one
// channel at a time, in rows like a module page's; CTRL applies a change to
// all three channels.
#include "config/pages.h"
#include "graphics/palette.h"
#include "runtime/framework.h"
#include <commctrl.h>

enum {
    ID_CHANNEL_RED = 1303,
    ID_CHANNEL_GREEN = 1304,
    ID_CHANNEL_BLUE = 1305,
    ROW_TOP = 22,
    ROW_STEP = 15
};

// Effect buttons in effect-number order.
static const int effectButtons[7] = {1307, 1309, 1311, 1310, 1308, 1070, 1071};
static const COLORREF channelColours[3] = {RGB(128, 0, 0), RGB(0, 128, 0), RGB(0, 0, 128)};

static const RowLayout paletteRows = {
    0, 0,        // the template has the labels
    111, 134,    // value slider
    111, 42,     // low slider
    153,         // low box
    175, 42,     // high slider
    217,         // high box
    241,         // sense box with its spin
    246,         // value box
    269          // source list
};

// The channel shown, kept while the page is left.
static int currentChannel = 0;

static int ControlHeld(void)
{
    return (GetKeyState(VK_CONTROL) & 0x8000) != 0;
}

// Stores v into field[3p + channel], or into all three channels' entries.
static void StoreEntry(int* field, int parameter, int v, int allChannels)
{
    for (int ch = 0; ch < 3; ++ch)
        if (allChannels || ch == currentChannel)
            field[3 * parameter + ch] = v;
}

static void CreatePaletteRows(HWND page)
{
    for (int p = 0; p < PALETTE_PARAMETERS; ++p)
        CreateSlotRow(page, p, ROW_TOP + ROW_STEP * p, &paletteRows, 0);
}

static void RefreshPalettePage(HWND page, int channel)
{
    PaletteState* palette = currentPalette;
    if (!palette)
        return;
    for (int p = 0; p < PALETTE_PARAMETERS; ++p) {
        int k = 3 * p + channel;
        int low = palette->minimum[p], high = palette->maximum[p];
        ShowSlotRow(page, p, palette->source[k]);
        SetSliderAndBox(GetDlgItem(page, ROW_LOW_SLIDER + p), GetDlgItem(page, ROW_LOW_BOX + p), low, high,
                        palette->rangeLo[k]);
        SetSliderAndBox(GetDlgItem(page, ROW_HIGH_SLIDER + p), GetDlgItem(page, ROW_HIGH_BOX + p), low, high,
                        palette->rangeHi[k]);
        SetSliderAndBox(GetDlgItem(page, ROW_VALUE_SLIDER + p), GetDlgItem(page, ROW_VALUE_BOX + p), low, high,
                        palette->value[k]);
        SetDlgItemInt(page, ROW_SENSE_BOX + p, (UINT)palette->sense[k], FALSE);
        // Keep the spin where the sense is, so that it stops at 1 and 10.
        SendDlgItemMessageA(page, ROW_SENSE_SPIN + p, UDM_SETPOS32, 0, palette->sense[k]);
        SendDlgItemMessageA(page, ROW_SOURCE_LIST + p, CB_SETCURSEL, (WPARAM)palette->source[k], 0);
    }
    for (int e = 0; e < 7; ++e)
        CheckDlgButton(page, effectButtons[e], palette->effect[channel] == e ? BST_CHECKED : BST_UNCHECKED);
    // The boxes and lists take the channel's colour.
    RedrawWindow(page, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

static void SelectChannel(HWND page, int channel)
{
    currentChannel = channel;
    CheckRadioButton(page, ID_CHANNEL_RED, ID_CHANNEL_BLUE, ID_CHANNEL_RED + channel);
    RefreshPalettePage(page, channel);
}

// The row p and kind (ROW_VALUE_BOX and the like) of a row control, or 0.
static int RowControl(int id, const int* bases, int count, int* row)
{
    for (int i = 0; i < count; ++i)
        if (id >= bases[i] && id < bases[i] + PALETTE_PARAMETERS) {
            *row = id - bases[i];
            return bases[i];
        }
    return 0;
}

static void EffectClicked(HWND page, int effect)
{
    PaletteState* palette = currentPalette;
    if (!palette || IsDlgButtonChecked(page, effectButtons[effect]) != BST_CHECKED)
        return;
    int all = ControlHeld();
    for (int ch = 0; ch < 3; ++ch)
        if (all || ch == currentChannel)
            palette->effect[ch] = effect;
    unsavedChanges = 1;
}

static void SourceChanged(HWND page, int p)
{
    PaletteState* palette = currentPalette;
    LRESULT index = SendDlgItemMessageA(page, ROW_SOURCE_LIST + p, CB_GETCURSEL, 0, 0);
    if (!palette || index == CB_ERR)
        return;
    int source = (int)(index & 0xFF);
    StoreEntry(palette->source, p, source, ControlHeld());
    ShowSlotRow(page, p, source);
    unsavedChanges = 1;
}

static void BoxLeft(HWND page, int kind, int p)
{
    PaletteState* palette = currentPalette;
    if (!palette)
        return;
    int k = 3 * p + currentChannel;
    int* field = kind == ROW_VALUE_BOX ? palette->value : kind == ROW_LOW_BOX ? palette->rangeLo : palette->rangeHi;
    int slider = kind == ROW_VALUE_BOX ? ROW_VALUE_SLIDER : kind == ROW_LOW_BOX ? ROW_LOW_SLIDER : ROW_HIGH_SLIDER;
    int changed = 0;
    field[k] = ReadBoxClamped(GetDlgItem(page, kind + p), GetDlgItem(page, slider + p), palette->minimum[p],
                              palette->maximum[p], field[k], &changed);
    if (changed)
        unsavedChanges = 1;
}

static void SliderMoved(HWND page, HWND slider)
{
    PaletteState* palette = currentPalette;
    int id = GetDlgCtrlID(slider), p = 0;
    static const int sliders[3] = {ROW_VALUE_SLIDER, ROW_LOW_SLIDER, ROW_HIGH_SLIDER};
    int kind = RowControl(id, sliders, 3, &p);
    if (!palette || !kind)
        return;
    int box = kind == ROW_VALUE_SLIDER ? ROW_VALUE_BOX : kind == ROW_LOW_SLIDER ? ROW_LOW_BOX : ROW_HIGH_BOX;
    SetDlgItemInt(page, box + p, (UINT)SendMessageA(slider, TBM_GETPOS, 0, 0), TRUE);
    int all = ControlHeld();
    StoreEntry(palette->value, p, (int)SendDlgItemMessageA(page, ROW_VALUE_SLIDER + p, TBM_GETPOS, 0, 0), all);
    StoreEntry(palette->rangeLo, p, (int)SendDlgItemMessageA(page, ROW_LOW_SLIDER + p, TBM_GETPOS, 0, 0), all);
    StoreEntry(palette->rangeHi, p, (int)SendDlgItemMessageA(page, ROW_HIGH_SLIDER + p, TBM_GETPOS, 0, 0), all);
    unsavedChanges = 1;
}

static void SenseDelta(HWND page, int p, int delta)
{
    PaletteState* palette = currentPalette;
    if (!palette)
        return;
    int sense = palette->sense[3 * p + currentChannel] + delta;
    sense = sense < 1 ? 1 : sense > 10 ? 10 : sense;
    SetDlgItemInt(page, ROW_SENSE_BOX + p, (UINT)sense, FALSE);
    StoreEntry(palette->sense, p, sense, ControlHeld());
    unsavedChanges = 1;
}

static INT_PTR ChannelColours(HDC dc, int readOnly)
{
    SetTextColor(dc, channelColours[currentChannel]);
    if (readOnly) {
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return (INT_PTR)GetSysColorBrush(COLOR_BTNFACE);
    }
    SetBkColor(dc, RGB(255, 255, 255));
    return (INT_PTR)GetStockObject(WHITE_BRUSH);
}

INT_PTR CALLBACK PalettePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        CreatePaletteRows(page);
        for (int p = 0; p < PALETTE_PARAMETERS; ++p)
            FillSourceList(GetDlgItem(page, ROW_SOURCE_LIST + p), currentPalette ? currentPalette->soundCapable[p] : 0);
        return TRUE;
    case WM_NOTIFY: {
        NMHDR* header = (NMHDR*)lParam;
        if (header->code == (UINT)PSN_SETACTIVE) {
            SelectChannel(page, currentChannel);
        } else if (header->code == (UINT)PSN_KILLACTIVE) {
            // OK pressed with Enter in a box, or another tab chosen: the box
            // may not have lost the focus yet, so what the boxes show is read now.
            static const int boxes[3] = {ROW_VALUE_BOX, ROW_LOW_BOX, ROW_HIGH_BOX};
            for (int p = 0; p < PALETTE_PARAMETERS; ++p)
                for (int kind = 0; kind < 3; ++kind)
                    BoxLeft(page, boxes[kind], p);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, FALSE);
            return TRUE;
        } else if (header->code == (UINT)UDN_DELTAPOS) {
            int p = (int)header->idFrom - ROW_SENSE_SPIN;
            if (p >= 0 && p < PALETTE_PARAMETERS)
                SenseDelta(page, p, ((NMUPDOWN*)lParam)->iDelta);
        }
        return FALSE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam), code = HIWORD(wParam), p = 0;
        if (code == BN_CLICKED) {
            if (id >= ID_CHANNEL_RED && id <= ID_CHANNEL_BLUE) {
                SelectChannel(page, id - ID_CHANNEL_RED);
                return FALSE;
            }
            for (int e = 0; e < 7; ++e)
                if (id == effectButtons[e]) {
                    EffectClicked(page, e);
                    return FALSE;
                }
            if (id == ID_TEST_ALL)
                TestAllSettings();
            else if (id == ID_HELP_BUTTON)
                ShowHelp(HELP_PALETTE);
        } else if (code == CBN_SELCHANGE) {
            static const int lists[1] = {ROW_SOURCE_LIST};
            if (RowControl(id, lists, 1, &p))
                SourceChanged(page, p);
        } else if (code == EN_KILLFOCUS) {
            static const int boxes[3] = {ROW_VALUE_BOX, ROW_LOW_BOX, ROW_HIGH_BOX};
            int kind = RowControl(id, boxes, 3, &p);
            if (kind)
                BoxLeft(page, kind, p);
        }
        return FALSE;
    }
    case WM_HSCROLL:
        if (lParam)
            SliderMoved(page, (HWND)lParam);
        return FALSE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return ChannelColours((HDC)wParam, 0);
    case WM_CTLCOLORSTATIC: {
        // The read-only sense boxes are edit boxes too.
        int id = GetDlgCtrlID((HWND)lParam);
        if (id >= ROW_SENSE_BOX && id < ROW_SENSE_BOX + PALETTE_PARAMETERS)
            return ChannelColours((HDC)wParam, 1);
        return FALSE;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam))
            EndTest();
        return FALSE;
    }
    return FALSE;
}
