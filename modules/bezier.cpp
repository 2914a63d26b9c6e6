// The Bezier module: bouncing cubic Bezier curves in one walking palette
// colour, rotated about the centre and tiled, with a trail that is erased by
// replaying the same motion in black a set number of frames later.
#include "modules/modules.h"
#include "modules/bezier.h"
#include "modules/generators.h"
#include "graphics/surface.h"
#include "graphics/shapes.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/saver.h"
#include <math.h>
#include <string.h>

enum {
    SLOT_BEZIERS = 0, SLOT_SYMMETRY = 1, SLOT_TRAIL = 2, SLOT_WIDTH = 3, SLOT_SPEED = 4,
    SLOT_DURATION = 5, SLOT_X_TILING = 6, SLOT_Y_TILING = 7, SLOT_TILE_TYPE = 8
};
enum {
    HISTORY_SIZE = 300,
    BEZIER_POINTS = 210,
    MAX_CURVE_COUNT = (BEZIER_POINTS - 4) / 2,
    LAST_COLOUR = 235
};

struct BezierParams {
    int symmetry;
    int xTiles;
    int yTiles;
    int width;
    int speed;
    int tileType;
    float rotationStep;
};

struct BezierState {
    BezierParams current;
    HGLOBAL historyMemory;
    BezierParams* history;
    int head, tail;
    POINT live[BEZIER_POINTS];
    POINT liveVelocity[BEZIER_POINTS];
    POINT shadow[BEZIER_POINTS];
    POINT shadowVelocity[BEZIER_POINTS];
    int curves;          // N
    int points;          // P = 2N + 4
    int trail;           // L
    int drawnFrames;
    int colour;
    int colourStep;
    RECT box;            // bounce box: left/top inclusive, right/bottom exclusive
    POINT centre;
    DWORD deadline;
};

static BezierState bezierState;

static float RotationStep(int symmetry)
{
    // 6.2832 as a single, not 2 pi to full precision.
    return symmetry != 0 ? 6.2832f / (float)symmetry : 0.0f;
}

int BezierOpen(ModuleRecord*)
{
    BezierState* st = &bezierState;
    if (st->history)
        return 0;
    st->historyMemory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BezierParams) * HISTORY_SIZE);
    st->history = st->historyMemory ? (BezierParams*)GlobalLock(st->historyMemory) : 0;
    if (!st->history) {
        if (st->historyMemory)
            GlobalFree(st->historyMemory);
        st->historyMemory = 0;
        OutputDebugStringA("Could not allocate buffers");
    }
    return 0;
}

int BezierStart(ModuleRecord* record)
{
    BezierState* st = &bezierState;
    RandomizeControls(record);
    EvaluateControls(record);

    int n = record->value[SLOT_BEZIERS];
    st->curves = n < 0 ? 0 : (n > MAX_CURVE_COUNT ? MAX_CURVE_COUNT : n);
    st->current.symmetry = record->value[SLOT_SYMMETRY];
    st->trail = 3 * record->value[SLOT_TRAIL];
    st->current.width = record->value[SLOT_WIDTH];
    st->current.speed = record->value[SLOT_SPEED];
    st->deadline = TickCount() + (DWORD)record->value[SLOT_DURATION] * 1000;
    st->current.xTiles = record->value[SLOT_X_TILING];
    st->current.yTiles = record->value[SLOT_Y_TILING];
    st->current.tileType = record->value[SLOT_TILE_TYPE];
    st->drawnFrames = 0;
    st->points = 2 * st->curves + 4;
    st->current.rotationStep = RotationStep(st->current.symmetry);

    int w = record->width;
    int h = record->height;
    st->centre.x = w >> 1;
    st->centre.y = h >> 1;
    int margin = st->current.width + 40;
    st->box.left = -margin;
    st->box.top = -margin;
    st->box.right = w + margin;
    st->box.bottom = h + margin;

    int spanX = (w - 10 < 0 ? 10 - w : w - 10) + 1;
    int spanY = (h - 10 < 0 ? 10 - h : h - 10) + 1;
    for (int i = 0; i < st->points; ++i) {
        st->live[i].x = Random() % spanX + 5;
        st->live[i].y = Random() % spanY + 5;
        st->liveVelocity[i].x = (Random() & 1) ? -1 : 1;
        st->liveVelocity[i].y = (Random() & 1) ? -1 : 1;
    }
    for (int i = 0; i < st->points; ++i) {
        st->shadow[i] = st->live[i];
        st->shadowVelocity[i] = st->liveVelocity[i];
    }

    if (st->trail < HISTORY_SIZE) {
        st->head = st->trail < 0 ? 0 : st->trail;
        st->tail = st->head;
    } else {
        st->head = 0;
        st->tail = 0;
    }
    st->colour = 0;
    st->colourStep = 1;
    return 0;
}

static void MoveAxis(LONG* coordinate, LONG* velocity, int speed, LONG low, LONG high)
{
    LONG candidate = *coordinate + *velocity * speed;
    if (candidate >= high || candidate < low)
        *velocity = -*velocity;
    else
        *coordinate = candidate;
}

static void MovePoints(POINT* points, POINT* velocities, const BezierParams* f)
{
    BezierState* st = &bezierState;
    for (int i = 0; i < st->points; ++i) {
        MoveAxis(&points[i].x, &velocities[i].x, f->speed, st->box.left, st->box.right);
        MoveAxis(&points[i].y, &velocities[i].y, f->speed, st->box.top, st->box.bottom);
    }
}

// --- The wide pen, drawn straight into an 8-bit surface ---------------------
//
// A wide GDI pen is slow where it is built from regions (Wine): a frame of the
// defaults spent nearly all its time there. On an 8-bit DIB section the curves
// are stroked here instead: each curve is flattened into short segments and
// every segment filled as the area within half the pen width of it, which is
// what a solid geometric pen with round ends and joins covers. Drawing and
// erasing use the same routine, so what is drawn in a colour is erased exactly.

enum { MAX_CURVE_SEGMENTS = 512 };

struct WideStroke {
    DirectSurface surface;
    BYTE colour;
    double radius;
    double shift;        // curve coordinates to pixel-centre coordinates
    // Curves are stroked in their own coordinates and the spans moved by
    // whole pixels: into a tile (offset), or into the union mask of every
    // tile when `mask` is set.
    int offsetX, offsetY;
    BYTE* mask;
    int maskLeft, maskTop, maskWidth, maskHeight;
};

// The colour table byte GDI paints a colour reference with: a palette index
// through the selected palette, then the first exact or else nearest entry.
static BYTE SurfaceColourByte(HDC dc, COLORREF colour)
{
    RGBQUAD table[256];
    int count = (int)GetDIBColorTable(dc, 0, 256, table);
    COLORREF wanted = colour & 0xFFFFFF;
    if ((colour >> 24) == 1) {
        PALETTEENTRY entry = {0, 0, 0, 0};
        HPALETTE palette = (HPALETTE)GetCurrentObject(dc, OBJ_PAL);
        GetPaletteEntries(palette, LOWORD(colour), 1, &entry);
        wanted = RGB(entry.peRed, entry.peGreen, entry.peBlue);
    }
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < count; ++i) {
        long dr = (long)table[i].rgbRed - GetRValue(wanted);
        long dg = (long)table[i].rgbGreen - GetGValue(wanted);
        long db = (long)table[i].rgbBlue - GetBValue(wanted);
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
            if (!distance)
                break;
        }
    }
    return (BYTE)best;
}

// 1 when the curves can be stroked straight into the device context's bits:
// an 8-bit DIB section, plain device coordinates and copy mode, and a clip
// region of few enough rectangles.
static int PrepareWideStroke(HDC dc, int penWidth, COLORREF colour, WideStroke* stroke)
{
    if (penWidth < 2 || !dc || !OpenDirectSurface(dc, &stroke->surface))
        return 0;
    stroke->colour = SurfaceColourByte(dc, colour);
    stroke->radius = penWidth / 2.0;
    // Pixel (x, y) is covered when its centre lies within the radius. An even
    // width centred on pixel corners and an odd one on pixel centres both
    // cover exactly `width` rows across a level line.
    stroke->shift = (penWidth & 1) ? 0.0 : -0.5;
    return 1;
}

static void FillSpan(const WideStroke* stroke, int y, int x0, int x1)
{
    FillDirectSpan(&stroke->surface, y, x0, x1, stroke->colour);
}

// A span of the curve's own coordinates, into the mask or onto the surface.
static void EmitSpan(const WideStroke* stroke, int y, int x0, int x1)
{
    if (stroke->mask) {
        memset(stroke->mask + (size_t)(y - stroke->maskTop) * stroke->maskWidth + (x0 - stroke->maskLeft), 1,
               (size_t)(x1 - x0 + 1));
        return;
    }
    FillSpan(stroke, y + stroke->offsetY, x0 + stroke->offsetX, x1 + stroke->offsetX);
}

// The pixels, in the curve's own coordinates, that a span may reach.
static void TargetBounds(const WideStroke* stroke, int* left, int* top, int* right, int* bottom)
{
    if (stroke->mask) {
        *left = stroke->maskLeft;
        *top = stroke->maskTop;
        *right = stroke->maskLeft + stroke->maskWidth - 1;
        *bottom = stroke->maskTop + stroke->maskHeight - 1;
        return;
    }
    *left = -stroke->offsetX;
    *top = -stroke->offsetY;
    *right = stroke->surface.width - 1 - stroke->offsetX;
    *bottom = stroke->surface.height - 1 - stroke->offsetY;
}

// Widens the interval [*lo, *hi] by the x range where a line a*x + b stays
// within [from, to]; returns 0 when no x does.
static int LinearRange(double a, double b, double from, double to, double* lo, double* hi)
{
    if (fabs(a) < 1e-12) {
        if (b < from || b > to)
            return 0;
        *lo = -1e30;
        *hi = 1e30;
        return 1;
    }
    double x0 = (from - b) / a, x1 = (to - b) / a;
    *lo = x0 < x1 ? x0 : x1;
    *hi = x0 < x1 ? x1 : x0;
    return 1;
}

// Every pixel whose centre lies within the radius of the segment a-b.
static void FillCapsule(const WideStroke* stroke, double ax, double ay, double bx, double by)
{
    double r = stroke->radius;
    double dx = bx - ax, dy = by - ay;
    double length = sqrt(dx * dx + dy * dy);
    double ux = 0, uy = 0;
    if (length > 1e-9) {
        ux = dx / length;
        uy = dy / length;
    }
    double top = (ay < by ? ay : by) - r, bottom = (ay < by ? by : ay) + r;
    int boundLeft, boundTop, boundRight, boundBottom;
    TargetBounds(stroke, &boundLeft, &boundTop, &boundRight, &boundBottom);
    if (top < boundTop)
        top = boundTop;
    if (bottom > boundBottom)
        bottom = boundBottom;
    int y0 = (int)ceil(top), y1 = (int)floor(bottom);
    for (int y = y0; y <= y1; ++y) {
        double left = 1e30, right = -1e30;
        double ey = y - ay;
        if (fabs(ey) <= r) {
            double h = sqrt(r * r - ey * ey);
            left = ax - h;
            right = ax + h;
        }
        double fy = y - by;
        if (fabs(fy) <= r) {
            double h = sqrt(r * r - fy * fy);
            if (bx - h < left) left = bx - h;
            if (bx + h > right) right = bx + h;
        }
        if (length > 1e-9) {
            // Along the segment: 0 <= (p - a).u <= length; across it:
            // |(p - a).n| <= r with n = (-uy, ux).
            double alongLo, alongHi, acrossLo, acrossHi;
            if (LinearRange(ux, -ax * ux + ey * uy, 0, length, &alongLo, &alongHi) &&
                LinearRange(-uy, ax * uy + ey * ux, -r, r, &acrossLo, &acrossHi)) {
                double lo = alongLo > acrossLo ? alongLo : acrossLo;
                double hi = alongHi < acrossHi ? alongHi : acrossHi;
                if (lo <= hi) {
                    if (lo < left) left = lo;
                    if (hi > right) right = hi;
                }
            }
        }
        if (left > right)
            continue;
        double from = ceil(left), to = floor(right);
        if (to < boundLeft || from > boundRight)
            continue;
        EmitSpan(stroke, y, from < boundLeft ? boundLeft : (int)from, to > boundRight ? boundRight : (int)to);
    }
}

// One cubic curve, flattened so that no segment strays more than a quarter
// pixel from the curve.
static void StrokeBezier(const WideStroke* stroke, const POINT* p)
{
    double x[4], y[4];
    for (int i = 0; i < 4; ++i) {
        x[i] = p[i].x + stroke->shift;
        y[i] = p[i].y + stroke->shift;
    }
    double ddx = fabs(x[0] - 2 * x[1] + x[2]), ddy = fabs(y[0] - 2 * y[1] + y[2]);
    double ddx2 = fabs(x[1] - 2 * x[2] + x[3]), ddy2 = fabs(y[1] - 2 * y[2] + y[3]);
    double bend = sqrt((ddx > ddx2 ? ddx * ddx : ddx2 * ddx2) + (ddy > ddy2 ? ddy * ddy : ddy2 * ddy2));
    int n = (int)ceil(sqrt(bend * 0.75 / 0.25));
    if (n < 1)
        n = 1;
    if (n > MAX_CURVE_SEGMENTS)
        n = MAX_CURVE_SEGMENTS;
    double px = x[0], py = y[0];
    for (int k = 1; k <= n; ++k) {
        double t = (double)k / n, u = 1 - t;
        double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
        double qx = b0 * x[0] + b1 * x[1] + b2 * x[2] + b3 * x[3];
        double qy = b0 * y[0] + b1 * y[1] + b2 * y[2] + b3 * y[3];
        FillCapsule(stroke, px, py, qx, qy);
        px = qx;
        py = qy;
    }
}

// The curves of one point set, each scaled into every admitted tile: stroked
// into the bits when `stroke` is given (once into the union mask when it has
// one), else with the selected GDI pen. With `bounds` nothing is drawn: the
// scaled control points are added to it.
static void DrawCurves(HDC dc, int width, int height, const POINT* points, const BezierParams* f,
                       WideStroke* stroke, RECT* bounds)
{
    BezierState* st = &bezierState;
    int xTiles = f->xTiles < 1 ? 1 : f->xTiles;
    int yTiles = f->yTiles < 1 ? 1 : f->yTiles;
    int tw = width / xTiles;
    int th = height / yTiles;
    for (int i = 0; i < st->curves; i += 2) {
        POINT scaled[4];
        for (int p = 0; p < 4; ++p) {
            scaled[p].x = points[i + p].x / xTiles;
            scaled[p].y = points[i + p].y / yTiles;
        }
        if (bounds) {
            for (int p = 0; p < 4; ++p) {
                if (scaled[p].x < bounds->left) bounds->left = scaled[p].x;
                if (scaled[p].x > bounds->right) bounds->right = scaled[p].x;
                if (scaled[p].y < bounds->top) bounds->top = scaled[p].y;
                if (scaled[p].y > bounds->bottom) bounds->bottom = scaled[p].y;
            }
            continue;
        }
        if (stroke && stroke->mask) {
            StrokeBezier(stroke, scaled);
            continue;
        }
        for (int column = 0; column < xTiles; ++column) {
            for (int row = 0; row < yTiles; ++row) {
                if (!TileAdmitted(column, row, f->tileType))
                    continue;
                if (stroke) {
                    stroke->offsetX = column * tw;
                    stroke->offsetY = row * th;
                    StrokeBezier(stroke, scaled);
                    continue;
                }
                POINT placed[4];
                for (int p = 0; p < 4; ++p) {
                    placed[p].x = scaled[p].x + column * tw;
                    placed[p].y = scaled[p].y + row * th;
                }
                PolyBezier(dc, placed, 4);
            }
        }
    }
}

static void DrawPoints(ModuleRecord* record, const POINT* points, const BezierParams* f, WideStroke* stroke,
                       RECT* bounds)
{
    BezierState* st = &bezierState;
    if (f->symmetry == 1) {
        DrawCurves(record->dc, record->width, record->height, points, f, stroke, bounds);
        return;
    }
    POINT rotated[BEZIER_POINTS];
    for (int k = 0; k < f->symmetry; ++k) {
        float angle = (float)k * f->rotationStep;
        for (int i = 0; i < st->points; ++i) {
            rotated[i] = points[i];
            RotateAbout(&rotated[i], angle, st->centre.x, st->centre.y);
        }
        DrawCurves(record->dc, record->width, record->height, rotated, f, stroke, bounds);
    }
}

// --- Every tile from one union ------------------------------------------------
//
// All curves of a frame share one colour, so what a frame paints is the union
// of its strokes, whatever their order. The strokes of one tile are those of
// any other moved by whole pixels: they are stroked once into a mask in their
// own coordinates, and the mask's runs are filled into every admitted tile.

enum { MASK_LIMIT = 16 << 20 };

int bezierTileMasks = 1;
long bezierMaskedDraws = 0;

struct MaskRun {
    int y, x0, x1;
};

struct TileMaskBuffers {
    BYTE* mask;
    size_t maskCapacity;
    MaskRun* runs;
    size_t runCapacity;
};

static TileMaskBuffers tileMask;

// A buffer of at least `bytes`, kept for the next frames.
static void* GrowBuffer(void* buffer, size_t* capacity, size_t bytes)
{
    if (buffer && *capacity >= bytes)
        return buffer;
    if (buffer)
        HeapFree(GetProcessHeap(), 0, buffer);
    *capacity = 0;
    buffer = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (buffer)
        *capacity = bytes;
    return buffer;
}

static void FreeTileMask(void)
{
    if (tileMask.mask)
        HeapFree(GetProcessHeap(), 0, tileMask.mask);
    if (tileMask.runs)
        HeapFree(GetProcessHeap(), 0, tileMask.runs);
    memset(&tileMask, 0, sizeof(tileMask));
}

static int AdmittedTiles(const BezierParams* f)
{
    int xTiles = f->xTiles < 1 ? 1 : f->xTiles;
    int yTiles = f->yTiles < 1 ? 1 : f->yTiles;
    int n = 0;
    for (int column = 0; column < xTiles; ++column)
        for (int row = 0; row < yTiles; ++row)
            n += TileAdmitted(column, row, f->tileType) != 0;
    return n;
}

// 0 when the mask cannot be had; the caller then strokes tile by tile.
static int DrawThroughMask(ModuleRecord* record, const POINT* points, const BezierParams* f, WideStroke* stroke)
{
    RECT bounds = {0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFFF, -0x7FFFFFFF};
    DrawPoints(record, points, f, 0, &bounds);
    if (bounds.left > bounds.right)
        return 1;   // no curves
    // A stroke stays within its control points' hull widened by the radius.
    int reach = (int)ceil(stroke->radius + fabs(stroke->shift)) + 2;
    int left = bounds.left - reach, top = bounds.top - reach;
    int maskWidth = bounds.right + reach - left + 1, maskHeight = bounds.bottom + reach - top + 1;
    if ((double)maskWidth * maskHeight > MASK_LIMIT)
        return 0;
    size_t bytes = (size_t)maskWidth * maskHeight;
    tileMask.mask = (BYTE*)GrowBuffer(tileMask.mask, &tileMask.maskCapacity, bytes);
    if (!tileMask.mask)
        return 0;
    memset(tileMask.mask, 0, bytes);
    stroke->mask = tileMask.mask;
    stroke->maskLeft = left;
    stroke->maskTop = top;
    stroke->maskWidth = maskWidth;
    stroke->maskHeight = maskHeight;
    DrawPoints(record, points, f, stroke, 0);
    stroke->mask = 0;

    // The mask's runs, counted and then gathered.
    size_t count = 0;
    for (int y = 0; y < maskHeight; ++y) {
        const BYTE* m = tileMask.mask + (size_t)y * maskWidth;
        for (int x = 0; x < maskWidth; ++x)
            count += m[x] && (x == 0 || !m[x - 1]);
    }
    if (!count)
        return 1;
    tileMask.runs = (MaskRun*)GrowBuffer(tileMask.runs, &tileMask.runCapacity, count * sizeof(MaskRun));
    if (!tileMask.runs)
        return 0;
    size_t n = 0;
    for (int y = 0; y < maskHeight; ++y) {
        const BYTE* m = tileMask.mask + (size_t)y * maskWidth;
        for (int x = 0; x < maskWidth;) {
            if (!m[x]) {
                ++x;
                continue;
            }
            int start = x;
            while (x < maskWidth && m[x])
                ++x;
            MaskRun run = {top + y, left + start, left + x - 1};
            tileMask.runs[n++] = run;
        }
    }

    int xTiles = f->xTiles < 1 ? 1 : f->xTiles;
    int yTiles = f->yTiles < 1 ? 1 : f->yTiles;
    int tw = record->width / xTiles, th = record->height / yTiles;
    for (int column = 0; column < xTiles; ++column)
        for (int row = 0; row < yTiles; ++row) {
            if (!TileAdmitted(column, row, f->tileType))
                continue;
            int ox = column * tw, oy = row * th;
            for (size_t r = 0; r < n; ++r) {
                const MaskRun* run = &tileMask.runs[r];
                FillSpan(stroke, run->y + oy, run->x0 + ox, run->x1 + ox);
            }
        }
    ++bezierMaskedDraws;
    return 1;
}

static void DrawWithPen(ModuleRecord* record, const POINT* points, const BezierParams* f, COLORREF colour)
{
    static WideStroke stroke;
    if (PrepareWideStroke(record->dc, f->width, colour, &stroke)) {
        stroke.mask = 0;
        stroke.offsetX = 0;
        stroke.offsetY = 0;
        if (!bezierTileMasks || AdmittedTiles(f) < 2 || !DrawThroughMask(record, points, f, &stroke)) {
            stroke.mask = 0;
            DrawPoints(record, points, f, &stroke, 0);
        }
        return;
    }
    HPEN pen = CreatePen(PS_SOLID, f->width, colour);
    if (!pen)
        return;
    SelectObject(record->dc, pen);
    DrawPoints(record, points, f, 0, 0);
    SelectObject(record->dc, GetStockObject(BLACK_PEN));
    DeleteObject(pen);
}

// Moves the shadow set as the live set moved trail frames ago and draws it
// in black, removing the oldest frame of the trail.
static void EraseOldestFrame(ModuleRecord* record)
{
    BezierState* st = &bezierState;
    const BezierParams* f = &st->history[st->tail];
    MovePoints(st->shadow, st->shadowVelocity, f);
    DrawWithPen(record, st->shadow, f, RGB(0, 0, 0));
    st->tail = (st->tail + 1) % HISTORY_SIZE;
}

static void EraseTrail(ModuleRecord* record)
{
    BezierState* st = &bezierState;
    if (st->trail >= HISTORY_SIZE || !st->history)
        return;
    while (st->tail != st->head)
        EraseOldestFrame(record);
}

int BezierFrame(ModuleRecord* record)
{
    BezierState* st = &bezierState;
    if (!st->history)
        return 0;

    st->colour += st->colourStep;
    if (st->colour == LAST_COLOUR || st->colour == 0)
        st->colourStep = -st->colourStep;

    if (IsLiveSource(record->source[SLOT_SYMMETRY])) {
        FollowLive(record, SLOT_SYMMETRY, &st->current.symmetry);
        st->current.rotationStep = RotationStep(st->current.symmetry);
    }
    FollowLive(record, SLOT_WIDTH, &st->current.width);
    FollowLive(record, SLOT_SPEED, &st->current.speed);
    FollowLive(record, SLOT_X_TILING, &st->current.xTiles);
    FollowLive(record, SLOT_Y_TILING, &st->current.yTiles);

    st->history[st->head] = st->current;
    MovePoints(st->live, st->liveVelocity, &st->current);
    DrawWithPen(record, st->live, &st->current, PALETTEINDEX(st->colour));

    if (st->trail >= HISTORY_SIZE || st->drawnFrames < st->trail)
        ++st->drawnFrames;
    else
        EraseOldestFrame(record);
    st->head = (st->head + 1) % HISTORY_SIZE;

    if (TickPassed(TickCount(), st->deadline)) {
        EraseTrail(record);
        BezierStart(record);
    }
    return 0;
}

int BezierClose(ModuleRecord* record)
{
    BezierState* st = &bezierState;
    if (renderRunning)
        EraseTrail(record);
    if (st->historyMemory) {
        GlobalUnlock(st->historyMemory);
        GlobalFree(st->historyMemory);
    }
    st->historyMemory = 0;
    st->history = 0;
    FreeTileMask();
    return 0;
}
