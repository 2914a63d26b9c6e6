// Effect: every "Display Interval" seconds one whole-surface effect on what
// the other modules have drawn: inversions, mirror kaleidoscopes, stripes or
// colour blobs stamped in the colour found where they land.
#include "modules/modules.h"
#include "modules/sphere.h"
#include "runtime/common.h"
#include "graphics/palette.h"

namespace {

enum { SLOT_TYPE = 0, SLOT_X_STRENGTH = 1, SLOT_Y_STRENGTH = 2, SLOT_INTERVAL = 3 };

struct EffectState {
    int maxX;
    int maxY;
    int halfW;
    int halfH;
    int effectType;
    int xStrength;
    int yStrength;
    int intervalMs;
    DWORD deadline;
};

EffectState effect;

// R % n, with the draw always made; a surface too small for the divisor
// gives 0 instead of a division by zero.
int RandomBelow(int n)
{
    int r = Random();
    return n > 0 ? r % n : 0;
}

void InvertRectangles(HDC dc, int x, int y, int w, int h, int a, int b)
{
    if (a <= 0 && b <= 0)
        return;   // the rectangles would never shrink
    while (w > 0 && h > 0) {
        PatBlt(dc, x, y, w, h, DSTINVERT);
        x += a;
        y += b;
        w -= 2 * a;
        h -= 2 * b;
    }
}

void InvertEllipses(HDC dc, int left, int top, int w, int h, int a, int b)
{
    if (a <= 0 && b <= 0)
        return;
    int oldMode = SetROP2(dc, R2_NOT);
    HPEN pen = CreatePen(PS_SOLID, (a + b) / 3, RGB(255, 255, 255));
    HGDIOBJ oldPen = pen ? SelectObject(dc, pen) : 0;
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    int right = left + w, bottom = top + h;
    while (left < right && top < bottom) {
        Ellipse(dc, left, top, right, bottom);
        left += a;
        right -= a;
        top += b;
        bottom -= b;
    }
    if (oldBrush)
        SelectObject(dc, oldBrush);
    if (oldPen)
        SelectObject(dc, oldPen);
    if (pen)
        DeleteObject(pen);
    SetROP2(dc, oldMode);
}

typedef void (*InvertShape)(HDC dc, int x, int y, int w, int h, int a, int b);

void Quadrants(HDC dc, InvertShape shape, int a, int b)
{
    int w = effect.halfW, h = effect.halfH;
    shape(dc, 0, 0, w, h, a, b);
    shape(dc, w, h, w, h, a, b);
    shape(dc, w, 0, w, h, a, b);
    shape(dc, 0, h, w, h, a, b);
}

void Stripes(HDC dc, int width, int height, int bx, int by)
{
    int flag = 0;
    if (bx > 0) {
        for (int x = 0; x < width - bx; x += bx) {
            if (!flag)
                PatBlt(dc, x, 0, bx, height, DSTINVERT);
            flag = !flag;
        }
    }
    // The flag carries over: the horizontal phase follows the band count.
    if (by > 0) {
        for (int y = 0; y < height - by; y += by) {
            if (!flag)
                PatBlt(dc, 0, y, width, by, DSTINVERT);
            flag = !flag;
        }
    }
}

// Mirrors the top-left quarter of the area (x, y) into its other three, after
// doing the same inside that quarter when depth > 1; with zoom the innermost
// quarter is first filled with a randomly placed, randomly sized piece of the
// whole surface.
void Mirror(HDC dc, int width, int height, int x, int y, int depth, int zoom)
{
    int hx = x >> 1, hy = y >> 1;
    if (depth > 1)
        Mirror(dc, width, height, hx, hy, depth - 1, zoom);
    if (zoom && depth == 1) {
        int sw = RandomBelow((x >> 2) + 1);
        sw = (Random() & 1) ? hx - sw : hx + sw;
        int sh = RandomBelow((y >> 2) + 1);
        sh = (Random() & 1) ? hy - sh : hy + sh;
        int sy = RandomBelow(height - sh);
        int sx = RandomBelow(width - sw);
        StretchBlt(dc, 0, 0, hx + 1, hy + 1, dc, sx, sy, sw, sh, SRCCOPY);
    }
    StretchBlt(dc, x, 0, -(hx + 1), hy + 1, dc, 0, 0, hx, hy, SRCCOPY);
    StretchBlt(dc, 0, y, x + 1, -(hy + 1), dc, 0, 0, x, hy, SRCCOPY);
}

void Blobs(HDC dc, int width, int height, int bx, int by, int style)
{
    HPALETTE palette = surfacePalette;
    int count = bx % 20;
    for (int blob = 0; blob < count; ++blob) {
        int x = RandomBelow(width - 1);
        int y = RandomBelow(height - 1);
        COLORREF colour = GetPixel(dc, x, y);
        if (colour == CLR_INVALID || !palette)
            continue;
        UINT entry = GetNearestPaletteIndex(palette, colour);
        if (entry == CLR_INVALID)
            continue;
        DrawSphereImage(dc, x, y, by % 30, (int)entry, style);
    }
}

// --- The effect table ----------------------------------------------------------

enum EffectKind {
    KIND_RECTANGLES, KIND_ELLIPSES, KIND_RECTANGLES_TWICE, KIND_ELLIPSES_TWICE,
    KIND_QUADRANT_RECTANGLES, KIND_QUADRANT_ELLIPSES, KIND_MIRROR, KIND_STRIPES,
    KIND_RANDOM_MIRROR, KIND_BLOBS, KIND_RANDOM_BLOBS
};

struct EffectRow {
    int kind;
    int argument;   // mirror depth or blob style
    int zoom;
};

const EffectRow effectTable[] = {
    {KIND_RECTANGLES, 0, 0},          // 0
    {KIND_ELLIPSES, 0, 0},            // 1
    {KIND_RECTANGLES_TWICE, 0, 0},    // 2
    {KIND_ELLIPSES_TWICE, 0, 0},      // 3
    {KIND_QUADRANT_RECTANGLES, 0, 0}, // 4
    {KIND_QUADRANT_ELLIPSES, 0, 0},   // 5
    {KIND_MIRROR, 1, 0}, {KIND_MIRROR, 2, 0}, {KIND_MIRROR, 3, 0},    // 6..8
    {KIND_MIRROR, 4, 0}, {KIND_MIRROR, 5, 0}, {KIND_MIRROR, 6, 0},    // 9..11
    {KIND_MIRROR, 1, 1}, {KIND_MIRROR, 2, 1}, {KIND_MIRROR, 3, 1},    // 12..14
    {KIND_MIRROR, 4, 1}, {KIND_MIRROR, 5, 1}, {KIND_MIRROR, 6, 1},    // 15..17
    {KIND_STRIPES, 0, 0},             // 18
    {KIND_RANDOM_MIRROR, 0, 0},       // 19
    {KIND_RANDOM_MIRROR, 0, 1},       // 20
    {KIND_BLOBS, 1, 0},               // 21 discs
    {KIND_BLOBS, 9, 0},               // 22 squares
    {KIND_BLOBS, 17, 0},              // 23 vertical bars
    {KIND_BLOBS, 25, 0},              // 24 horizontal bars
    {KIND_RANDOM_BLOBS, 0, 0},        // 25
};
const int effectCount = sizeof(effectTable) / sizeof(effectTable[0]);

void ApplyEffect(ModuleRecord* record)
{
    HDC dc = record->dc;
    int width = record->width, height = record->height;
    int bx = effect.xStrength + Random() % 8;
    int by = effect.yStrength + Random() % 8;
    int hx = bx >> 1, hy = by >> 1;
    if (effect.effectType < 0 || effect.effectType >= effectCount)
        return;
    const EffectRow* row = &effectTable[effect.effectType];
    switch (row->kind) {
    case KIND_RECTANGLES:
        InvertRectangles(dc, 0, 0, effect.maxX, effect.maxY, bx, by);
        break;
    case KIND_ELLIPSES:
        InvertEllipses(dc, 0, 0, effect.maxX, effect.maxY, bx, by);
        break;
    case KIND_RECTANGLES_TWICE:
        InvertRectangles(dc, 0, 0, effect.maxX, effect.maxY, bx, by);
        InvertRectangles(dc, 0, 0, effect.maxX, effect.maxY, by, bx);
        break;
    case KIND_ELLIPSES_TWICE:
        InvertEllipses(dc, 0, 0, effect.maxX, effect.maxY, bx, by);
        InvertEllipses(dc, 0, 0, effect.maxX, effect.maxY, by, bx);
        break;
    case KIND_QUADRANT_RECTANGLES:
        Quadrants(dc, InvertRectangles, hx, hy);
        break;
    case KIND_QUADRANT_ELLIPSES:
        Quadrants(dc, InvertEllipses, hx, hy);
        break;
    case KIND_MIRROR:
        Mirror(dc, width, height, width, height, row->argument, row->zoom);
        break;
    case KIND_STRIPES:
        Stripes(dc, width, height, bx, by);
        break;
    case KIND_RANDOM_MIRROR:
        Mirror(dc, width, height, width, height, Random() % 6 + 1, row->zoom);
        break;
    case KIND_BLOBS:
        Blobs(dc, width, height, bx, by, row->argument);
        break;
    case KIND_RANDOM_BLOBS: {
        int style = Random() % 30;
        Blobs(dc, width, height, bx, by, style);
        break;
    }
    }
}

}  // namespace

int EffectOpen(ModuleRecord* record)
{
    effect.maxX = record->width - 1;
    effect.maxY = record->height - 1;
    effect.halfW = record->width >> 1;
    effect.halfH = record->height >> 1;
    return 0;
}

int EffectStart(ModuleRecord* record)
{
    RandomizeControls(record);
    EvaluateControls(record);
    effect.effectType = record->value[SLOT_TYPE];
    effect.xStrength = record->value[SLOT_X_STRENGTH];
    effect.yStrength = record->value[SLOT_Y_STRENGTH];
    effect.intervalMs = record->value[SLOT_INTERVAL] * 1000;
    effect.deadline = TickCount() + (DWORD)effect.intervalMs;
    SetStretchBltMode(record->dc, COLORONCOLOR);
    return 0;
}

int EffectFrame(ModuleRecord* record)
{
    if (TickCount() >= effect.deadline) {
        ApplyEffect(record);
        EffectStart(record);
    }
    return 0;
}
