// The info overlay: framed text boxes on top of the animation (the loaded
// display's name, the analyzer's CD information, a one-time slogan). A shown
// box is cut out of the surface's clipping region so that the modules draw
// around it; it is filled black when its time is up.
#include "runtime/overlay.h"
#include "runtime/common.h"
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include "graphics/surface.h"
#include "settings/registry.h"
#include <stdio.h>
#include <string.h>

namespace {

const DWORD NOT_SHOWN = 0xFFFFFFFFu;
const DWORD INFO_MS = 4332;
const DWORD SLOGAN_MS = 6172;

enum { BOX_NAME = 0, BOX_INFO, BOX_SLOGAN, BOX_COUNT };
enum { SLOGAN_SIZE = 80, SLOGAN_STORED = 256, INFO_LINE = 64 };

struct OverlayBox {
    RECT rect;
    DWORD until;   // NOT_SHOWN while the box is not on screen
};

struct OverlayState {
    HDC dc;
    HWND window;
    int width;     // client rectangle right
    int height;    // client rectangle bottom
    OverlayBox box[BOX_COUNT];
    char lastName[PATH_SIZE];
    int lastSerial;
    char slogan[SLOGAN_SIZE];
    int sloganPending;
    DWORD sloganStart;
};

OverlayState overlay;

void ResetBoxes(void)
{
    for (int b = 0; b < BOX_COUNT; ++b) {
        SetRectEmpty(&overlay.box[b].rect);
        overlay.box[b].until = NOT_SHOWN;
    }
}

// Extent of a text in the surface's current font; several lines (a slogan
// read from a text file) measure as a block.
void TextSize(const char* text, int* width, int* height)
{
    RECT r = {0, 0, 0, 0};
    DrawTextA(overlay.dc, text, -1, &r, DT_CALCRECT | DT_NOPREFIX);
    *width = r.right - r.left;
    *height = r.bottom - r.top;
}

// Fills a shown box black and takes it out of the clip exclusions. A box that
// is not on screen leaves the picture alone: its rectangle may still hold a
// layout that failed the size test or an earlier box's place.
void EraseBox(OverlayBox* box)
{
    if (!overlay.dc)
        return;
    SelectClipRgn(overlay.dc, NULL);
    if (box->until != NOT_SHOWN)
        FillRect(overlay.dc, &box->rect, (HBRUSH)GetStockObject(BLACK_BRUSH));
    box->until = NOT_SHOWN;
    RestoreClip();
}

// Copies a line of the shared record, which another process writes and which
// need not be terminated.
void CopyInfoLine(char* target, const char* source)
{
    memcpy(target, source, INFO_LINE);
    target[INFO_LINE - 1] = 0;
}

// The raised and sunken borders of a box frame, as the system draws them:
// the colours of the top-left and of the bottom-right sides.
enum { BORDER_RAISED_OUTER, BORDER_RAISED_INNER, BORDER_SUNKEN_OUTER, BORDER_SUNKEN_INNER };
const int borderColours[4][2] = {
    {COLOR_3DLIGHT, COLOR_3DDKSHADOW},
    {COLOR_3DHILIGHT, COLOR_3DSHADOW},
    {COLOR_3DSHADOW, COLOR_3DHILIGHT},
    {COLOR_3DDKSHADOW, COLOR_3DLIGHT},
};
// Each edge style is an outer and an inner border.
enum { FRAME_BUMP, FRAME_RAISED, FRAME_SUNKEN };
const int frameBorders[3][2] = {
    {BORDER_RAISED_OUTER, BORDER_SUNKEN_INNER},
    {BORDER_RAISED_OUTER, BORDER_RAISED_INNER},
    {BORDER_SUNKEN_OUTER, BORDER_SUNKEN_INNER},
};

// The static colour nearest to a system colour. The surface may map a plain
// grey onto an animated entry (the emulated surface holds the 236 entries as
// distinct colours), and a box must not change colour with the palette.
COLORREF StaticNear(int systemColour)
{
    COLORREF wanted = GetSysColor(systemColour);
    COLORREF best = 0;
    long bestDistance = -1;
    for (int byte = 0; byte < 256; byte = byte == STATIC_LOW - 1 ? STATIC_LOW + 236 : byte + 1) {
        COLORREF c = StaticColour(byte);
        long dr = (long)GetRValue(c) - GetRValue(wanted);
        long dg = (long)GetGValue(c) - GetGValue(wanted);
        long db = (long)GetBValue(c) - GetBValue(wanted);
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = c;
        }
    }
    return best;
}

void FillColour(const RECT* r, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    if (!brush)
        return;
    FillRect(overlay.dc, r, brush);
    DeleteObject(brush);
}

// Two one-pixel borders inside the rectangle, like DrawEdge with BF_RECT;
// with `middle` the inside is filled with the face colour.
void DrawFrame(const RECT* rectangle, int frame, int middle)
{
    RECT r = *rectangle;
    for (int b = 0; b < 2; ++b) {
        const int* colours = borderColours[frameBorders[frame][b]];
        COLORREF topLeft = StaticNear(colours[0]), bottomRight = StaticNear(colours[1]);
        RECT side;
        SetRect(&side, r.left, r.bottom - 1, r.right, r.bottom);
        FillColour(&side, bottomRight);
        SetRect(&side, r.right - 1, r.top, r.right, r.bottom);
        FillColour(&side, bottomRight);
        SetRect(&side, r.left, r.top, r.right - 1, r.top + 1);
        FillColour(&side, topLeft);
        SetRect(&side, r.left, r.top, r.left + 1, r.bottom - 1);
        FillColour(&side, topLeft);
        InflateRect(&r, -1, -1);
    }
    if (middle)
        FillColour(&r, StaticNear(COLOR_3DFACE));
}

}  // namespace

void RestoreClip(void)
{
    if (!overlay.dc)
        return;
    for (int b = 0; b < BOX_COUNT; ++b) {
        const OverlayBox* box = &overlay.box[b];
        if (box->until != NOT_SHOWN)
            ExcludeClipRect(overlay.dc, box->rect.left, box->rect.top, box->rect.right, box->rect.bottom);
    }
}

int OverlayShownBoxes(HDC dc, RECT* rects, int max)
{
    if (!overlay.dc || overlay.dc != dc)
        return 0;
    int n = 0;
    for (int b = 0; b < BOX_COUNT && n < max; ++b)
        if (overlay.box[b].until != NOT_SHOWN)
            rects[n++] = overlay.box[b].rect;
    return n;
}

void DrawBox(RECT* rectangle, const char* text)
{
    if (!overlay.dc)
        return;
    RECT r = *rectangle;
    DrawFrame(&r, FRAME_BUMP, 1);
    InflateRect(&r, -8, -8);
    DrawFrame(&r, FRAME_RAISED, 0);
    InflateRect(&r, -6, -6);
    DrawFrame(&r, FRAME_SUNKEN, 0);
    InflateRect(&r, -8, -8);
    SetBkMode(overlay.dc, TRANSPARENT);
    COLORREF oldText = SetTextColor(overlay.dc, StaticNear(COLOR_BTNTEXT));
    DrawTextA(overlay.dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_NOPREFIX);
    SetTextColor(overlay.dc, oldText);
    RestoreClip();
}

void OverlayStart(void)
{
    memset(&overlay, 0, sizeof(overlay));
    ResetBoxes();
    overlay.lastSerial = -1;
    overlay.sloganStart = 0;
    // Setup stores up to 255 bytes; a slogan longer than the box text holds
    // shows its beginning rather than not at all.
    char stored[SLOGAN_STORED];
    overlay.sloganPending = ReadSaverValue("Slogan", REG_SZ, stored, sizeof(stored)) ? 1 : 0;
    memcpy(overlay.slogan, stored, SLOGAN_SIZE);
    overlay.slogan[SLOGAN_SIZE - 1] = 0;
}

void OverlaySurfaceSetup(HDC dc, HWND window)
{
    overlay.dc = dc;
    overlay.window = window;
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    overlay.width = client.right;
    overlay.height = client.bottom;
    SetupDrawSurface(dc, window);
}

void ShowNameStep(void)
{
    if (!overlay.dc)
        return;
    OverlayBox* box = &overlay.box[BOX_NAME];
    DWORD now = TickCount();
    if (saverSettings.showName <= 0) {
        // A box left over from a display that showed names still goes away.
        if (TickPassed(now, box->until))
            EraseBox(box);
        return;
    }
    const char* name = saverSettings.displayName;
    int changed = strncmp(name, overlay.lastName, PATH_SIZE) != 0;
    if (TickPassed(now, box->until) || changed)
        EraseBox(box);
    if (!changed)
        return;
    box->until = now + (DWORD)saverSettings.showName * 1000u;
    int w = 0, h = 0;
    TextSize(name, &w, &h);
    int half = w / 2 + 29;
    int middle = overlay.width / 2;
    SetRect(&box->rect, middle - half, 0, middle + half, h + 44);
    if (box->rect.left > 50 && box->rect.bottom < overlay.height - 40)
        DrawBox(&box->rect, name);
    else
        box->until = NOT_SHOWN;
    memcpy(overlay.lastName, name, PATH_SIZE);
    overlay.lastName[PATH_SIZE - 1] = 0;
}

void ShowInfoStep(void)
{
    SoundShare* share = sound;
    if (!overlay.dc || !share)
        return;
    OverlayBox* box = &overlay.box[BOX_INFO];
    DWORD now = TickCount();
    int running = share->analyzerRunning != 0;
    int serial = share->infoSerial;
    int changed = running && serial != overlay.lastSerial;
    // An expired box is erased even when the analyzer has stopped meanwhile.
    if (TickPassed(now, box->until) || changed)
        EraseBox(box);
    if (!changed || !saverSettings.showInfo)
        return;
    box->until = now + INFO_MS;
    overlay.lastSerial = serial;

    char line1[INFO_LINE], line2[INFO_LINE], line3[INFO_LINE];
    CopyInfoLine(line1, share->infoText1);
    CopyInfoLine(line2, share->infoText2);
    CopyInfoLine(line3, share->infoText3);
    if (!line1[0]) {
        // Invisible, but it still runs out like a shown one.
        SetRectEmpty(&box->rect);
        return;
    }
    int widest = 0, w = 0, h = 0, h1 = 0;
    TextSize(line1, &w, &h1);
    widest = w;
    TextSize(line2, &w, &h);
    if (w > widest)
        widest = w;
    TextSize(line3, &w, &h);
    if (w > widest)
        widest = w;
    int boxWidth = widest + 58;
    int boxHeight = 3 * h1 + 44;
    SetRect(&box->rect, 0, overlay.height - boxHeight, boxWidth, overlay.height);
    if (box->rect.top > 50 && box->rect.right < overlay.width - 40) {
        char text[3 * INFO_LINE + 4];
        snprintf(text, sizeof(text), "%s\n%s\n%s", line1, line2, line3);
        DrawBox(&box->rect, text);
    } else {
        box->until = NOT_SHOWN;
    }
}

void SloganStep(void)
{
    if (!overlay.dc || !overlay.sloganPending)
        return;
    OverlayBox* box = &overlay.box[BOX_SLOGAN];
    DWORD now = TickCount();
    if (TickPassed(now, box->until)) {
        EraseBox(box);
        overlay.sloganPending = 0;
    }
    if (!TickPassed(now, overlay.sloganStart))
        return;
    overlay.sloganStart = NOT_SHOWN;   // once per run
    box->until = now + SLOGAN_MS;
    int w = 0, h = 0;
    TextSize(overlay.slogan, &w, &h);
    SetRect(&box->rect, overlay.width - w - 58, overlay.height - h - 44, overlay.width, overlay.height);
    if (box->rect.top > 50 && box->rect.left > 40)
        DrawBox(&box->rect, overlay.slogan);
    else
        box->until = NOT_SHOWN;
}
