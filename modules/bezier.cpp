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
    int covered;         // the mask skips what it already holds (MaskCoverage)
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

// A segment of the pen: the pixels whose centre lies within `r` of a-b.
struct Capsule {
    double ax, ay, bx, by, r;
    double length, ux, uy;
};

// Row y of a capsule: 1 with the x interval [*left, *right] it covers (which
// may hold no whole pixel), 0 when it covers nothing there.
static inline int CapsuleRow(const Capsule* c, int y, double* outLeft, double* outRight)
{
    double r = c->r, ax = c->ax, ay = c->ay, bx = c->bx, by = c->by;
    double ux = c->ux, uy = c->uy, length = c->length;
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
    *outLeft = left;
    *outRight = right;
    return left <= right;
}

// The whole pixels of a row's interval within [boundLeft, boundRight]: 0 when
// there are none to write. (*x0 may be *x1 + 1: a span of no pixels.)
// ceil and floor without a library call where a value converts to an int:
// the same whole numbers (a zero's sign aside, which no caller looks at).
static inline double CeilQuick(double v)
{
    if (v > -2147483648.0 && v < 2147483647.0) {
        double t = (double)(int)v;
        return t < v ? t + 1 : t;
    }
    return ceil(v);
}

static inline double FloorQuick(double v)
{
    if (v > -2147483648.0 && v < 2147483647.0) {
        double t = (double)(int)v;
        return t > v ? t - 1 : t;
    }
    return floor(v);
}

static inline int RowPixels(double left, double right, int boundLeft, int boundRight, int* x0, int* x1)
{
    double from = CeilQuick(left), to = FloorQuick(right);
    if (to < boundLeft || from > boundRight)
        return 0;
    *x0 = from < boundLeft ? boundLeft : (int)from;
    *x1 = to > boundRight ? boundRight : (int)to;
    return 1;
}

static void CoverCapsule(const WideStroke* stroke, const Capsule* c, int y0, int y1);

static void MakeCapsule(double r, double ax, double ay, double bx, double by, Capsule* out)
{
    Capsule& c = *out;
    double dx = bx - ax, dy = by - ay;
    double length = sqrt(dx * dx + dy * dy);
    double ux = 0, uy = 0;
    if (length > 1e-9) {
        ux = dx / length;
        uy = dy / length;
    }
    c.ax = ax;
    c.ay = ay;
    c.bx = bx;
    c.by = by;
    c.r = r;
    c.length = length;
    c.ux = ux;
    c.uy = uy;
}

// Every pixel whose centre lies within the radius of the segment a-b.
static void FillCapsule(const WideStroke* stroke, double ax, double ay, double bx, double by)
{
    Capsule c;
    double r = stroke->radius;
    MakeCapsule(r, ax, ay, bx, by, &c);
    double top = (ay < by ? ay : by) - r, bottom = (ay < by ? by : ay) + r;
    int boundLeft, boundTop, boundRight, boundBottom;
    TargetBounds(stroke, &boundLeft, &boundTop, &boundRight, &boundBottom);
    if (top < boundTop)
        top = boundTop;
    if (bottom > boundBottom)
        bottom = boundBottom;
    int y0 = (int)ceil(top), y1 = (int)floor(bottom);
    if (stroke->mask && stroke->covered) {
        CoverCapsule(stroke, &c, y0, y1);
        return;
    }
    for (int y = y0; y <= y1; ++y) {
        double left, right;
        int x0, x1;
        if (!CapsuleRow(&c, y, &left, &right) || !RowPixels(left, right, boundLeft, boundRight, &x0, &x1))
            continue;
        EmitSpan(stroke, y, x0, x1);
    }
}

// --- Strokes into the union mask, skipping what is already covered ------------
//
// A frame of many wide strokes covers most of the mask many times over; once
// a pixel is set, nothing else can change it. The mask keeps, for each row,
// the next pixel not yet set (a union-find over the row), and for blocks of
// BLOCK x BLOCK pixels how many are still open. A stroke's row within a
// rectangle known to hold its whole span is skipped when that rectangle is
// already set: by bands of BLOCK rows against the blocks, then row by row.
// A row whose span is worked out writes only the pixels still open. The mask
// ends as the union of every span, exactly as if all were written.

enum { BLOCK_SHIFT = 3, BLOCK = 1 << BLOCK_SHIFT, REACH_MARGIN = 3, MAX_REACH_RADIUS = 4096 };
enum { COVERAGE_LIMIT = 4 << 20 };

int bezierCoverage = 1;
int bezierCoverageCheck = 0;
long bezierCoverageSkips = 0;
long bezierCoverageFaults = 0;

struct MaskCoverage {
    int* next;                  // per row maskWidth + 1: the next open pixel at or after
    size_t nextCapacity;
    unsigned short* open;       // per block: pixels not yet set
    size_t openCapacity;
    DWORD* openBits;            // per band: a bit for each block with open pixels
    size_t bitsCapacity;
    int* reach;                 // reach[k]: whole pixels a span reaches beyond the segment's x range
    size_t reachCapacity;
    int* solid;                 // per row lo, hi: pixels known set, a few bytes to look at before `next`
    size_t solidCapacity;
    int reachCount;
    int columns, bands, words;
};

static MaskCoverage coverage;

// The first open pixel at or after x of a row (x <= maskWidth, the row's end
// always open).
static inline int NextOpen(int* row, int x)
{
    int open = x;
    while (row[open] != open)
        open = row[open];
    while (row[x] != open) {   // every step of the way now leads there at once
        int next = row[x];
        row[x] = open;
        x = next;
    }
    return open;
}

// Pixels lo..hi of mask row y are set: kept as the row's known run when they
// join it or are longer.
static inline void NoteSolid(int y, int lo, int hi)
{
    int* solid = coverage.solid + 2 * (size_t)y;
    if (lo <= solid[1] + 1 && hi >= solid[0] - 1) {
        if (lo < solid[0])
            solid[0] = lo;
        if (hi > solid[1])
            solid[1] = hi;
    } else if (hi - lo > solid[1] - solid[0]) {
        solid[0] = lo;
        solid[1] = hi;
    }
}

// Pixels x0..x1 (mask coordinates) of mask row y set, counting the new ones
// into their blocks.
static void CoverSpan(const WideStroke* stroke, int y, int x0, int x1)
{
    MaskCoverage* cov = &coverage;
    int* row = cov->next + (size_t)y * (stroke->maskWidth + 1);
    BYTE* m = stroke->mask + (size_t)y * stroke->maskWidth;
    unsigned short* open = cov->open + (size_t)(y >> BLOCK_SHIFT) * cov->columns;
    DWORD* bits = cov->openBits + (size_t)(y >> BLOCK_SHIFT) * cov->words;
    int x = NextOpen(row, x0);
    while (x <= x1) {
        // The open run from x: its pixels set and led past it at once.
        int end = x + 1;
        while (end <= x1 && row[end] == end)
            ++end;
        for (int k = x; k < end; ++k) {
            m[k] = 1;
            row[k] = end;
        }
        for (int k = x; k < end;) {
            int b = k >> BLOCK_SHIFT;
            int blockEnd = (b + 1) << BLOCK_SHIFT;
            if (blockEnd > end)
                blockEnd = end;
            open[b] = (unsigned short)(open[b] - (blockEnd - k));
            if (!open[b])
                bits[b >> 5] &= ~((DWORD)1 << (b & 31));
            k = blockEnd;
        }
        x = NextOpen(row, end);
    }
    row[x0] = x;
    if (x > x0)
        NoteSolid(y, x0, x - 1);
}

// 1 when a block among columns c0..c1 of a band has open pixels.
static int BandOpen(int band, int c0, int c1)
{
    const DWORD* bits = coverage.openBits + (size_t)band * coverage.words;
    int w0 = c0 >> 5, w1 = c1 >> 5;
    for (int i = w0; i <= w1; ++i) {
        DWORD word = bits[i];
        if (i == w0)
            word &= ~(DWORD)0 << (c0 & 31);
        if (i == w1)
            word &= ~(DWORD)0 >> (31 - (c1 & 31));
        if (word)
            return 1;
    }
    return 0;
}

// A skipped row checked: its span must already be set.
static void CheckSkippedRow(const WideStroke* stroke, const Capsule* c, int y)
{
    double left, right;
    int x0, x1;
    int boundLeft = stroke->maskLeft, boundRight = stroke->maskLeft + stroke->maskWidth - 1;
    if (!CapsuleRow(c, y, &left, &right) || !RowPixels(left, right, boundLeft, boundRight, &x0, &x1))
        return;
    const BYTE* m = stroke->mask + (size_t)(y - stroke->maskTop) * stroke->maskWidth - stroke->maskLeft;
    for (int x = x0; x <= x1; ++x)
        bezierCoverageFaults += !m[x];
}

// Every row of a skipped capsule checked.
static void CheckSkippedCapsule(const WideStroke* stroke, double ax, double ay, double bx, double by)
{
    Capsule c;
    MakeCapsule(stroke->radius, ax, ay, bx, by, &c);
    int top = (int)ceil((ay < by ? ay : by) - c.r), bottom = (int)floor((ay < by ? by : ay) + c.r);
    if (top < stroke->maskTop)
        top = stroke->maskTop;
    if (bottom > stroke->maskTop + stroke->maskHeight - 1)
        bottom = stroke->maskTop + stroke->maskHeight - 1;
    for (int y = top; y <= bottom; ++y)
        CheckSkippedRow(stroke, &c, y);
}

// The band of mask rows from row y (to y1 at most) and the columns lo..hi a
// stroke within x range fromX..toX and rows ymin..ymax can reach in it;
// lo > hi when none.
static int BandReach(const WideStroke* stroke, int y, int y1, double ymin, double ymax, int fromX, int toX,
                     int* bandEnd, int* lo, int* hi)
{
    const MaskCoverage* cov = &coverage;
    int maskLeft = stroke->maskLeft, maskTop = stroke->maskTop;
    int boundRight = maskLeft + stroke->maskWidth - 1;
    int band = (y - maskTop) >> BLOCK_SHIFT;
    *bandEnd = maskTop + ((band + 1) << BLOCK_SHIFT) - 1;
    if (*bandEnd > y1)
        *bandEnd = y1;
    double d = ymin - *bandEnd;
    if (y - ymax > d)
        d = y - ymax;
    int k = d > 0 ? (int)d : 0;
    int last = cov->reachCount - 1;
    int h = cov->reach[k < last ? k : last];
    *lo = fromX - h;
    *hi = toX + h;
    if (*lo < maskLeft)
        *lo = maskLeft;
    if (*hi > boundRight)
        *hi = boundRight;
    return band;
}

// Rows y0..y1 of a capsule into the mask. A row's span lies within the
// segment's x range widened by reach[k], k the whole pixels from the row to
// the segment's y range: sqrt(r^2 - k^2) rounded up, and a margin for the
// rounding of the span's own arithmetic.
static void CoverCapsule(const WideStroke* stroke, const Capsule* c, int y0, int y1)
{
    MaskCoverage* cov = &coverage;
    int maskLeft = stroke->maskLeft, maskTop = stroke->maskTop;
    int boundRight = maskLeft + stroke->maskWidth - 1;
    double ymin = c->ay < c->by ? c->ay : c->by, ymax = c->ay < c->by ? c->by : c->ay;
    int fromX = (int)floor(c->ax < c->bx ? c->ax : c->bx), toX = (int)ceil(c->ax < c->bx ? c->bx : c->ax);
    int last = cov->reachCount - 1;
    for (int y = y0; y <= y1;) {
        int bandEnd, lo, hi;
        int band = BandReach(stroke, y, y1, ymin, ymax, fromX, toX, &bandEnd, &lo, &hi);
        if (lo > hi || !BandOpen(band, (lo - maskLeft) >> BLOCK_SHIFT, (hi - maskLeft) >> BLOCK_SHIFT)) {
            if (bezierCoverageCheck)
                for (int v = y; v <= bandEnd; ++v)
                    CheckSkippedRow(stroke, c, v);
            ++bezierCoverageSkips;
            y = bandEnd + 1;
            continue;
        }
        for (; y <= bandEnd; ++y) {
            double e = ymin - y;
            if (y - ymax > e)
                e = y - ymax;
            int j = e > 0 ? (int)e : 0;
            int w = cov->reach[j < last ? j : last];
            int rowLo = fromX - w, rowHi = toX + w;
            if (rowLo < maskLeft)
                rowLo = maskLeft;
            if (rowHi > boundRight)
                rowHi = boundRight;
            int my = y - maskTop;
            const int* solid = cov->solid + 2 * (size_t)my;
            int skip = rowLo > rowHi || (rowLo - maskLeft >= solid[0] && rowHi - maskLeft <= solid[1]);
            if (!skip) {
                int* next = cov->next + (size_t)my * (stroke->maskWidth + 1);
                skip = NextOpen(next, rowLo - maskLeft) > rowHi - maskLeft;
                if (skip)
                    NoteSolid(my, rowLo - maskLeft, rowHi - maskLeft);
            }
            if (skip) {
                if (bezierCoverageCheck)
                    CheckSkippedRow(stroke, c, y);
                continue;
            }
            double left, right;
            int x0, x1;
            if (!CapsuleRow(c, y, &left, &right) || !RowPixels(left, right, maskLeft, boundRight, &x0, &x1))
                continue;
            if (x0 <= x1)
                CoverSpan(stroke, y - maskTop, x0 - maskLeft, x1 - maskLeft);
        }
    }
}

// Coverage for a cleared mask and a pen radius; 0 when it cannot be had.
static int BeginCoverage(WideStroke* stroke)
{
    MaskCoverage* cov = &coverage;
    int width = stroke->maskWidth, height = stroke->maskHeight;
    if (!bezierCoverage || (double)width * height > COVERAGE_LIMIT || stroke->radius > MAX_REACH_RADIUS)
        return 0;
    int columns = (width + BLOCK - 1) >> BLOCK_SHIFT, bands = (height + BLOCK - 1) >> BLOCK_SHIFT;
    int words = (columns + 31) >> 5;
    int reachCount = (int)floor(stroke->radius) + 1;
    cov->next = (int*)GrowScratch(cov->next, &cov->nextCapacity, sizeof(int) * (size_t)(width + 1) * height);
    cov->open = (unsigned short*)GrowScratch(cov->open, &cov->openCapacity,
                                            sizeof(unsigned short) * (size_t)columns * bands);
    cov->openBits = (DWORD*)GrowScratch(cov->openBits, &cov->bitsCapacity, sizeof(DWORD) * (size_t)words * bands);
    cov->reach = (int*)GrowScratch(cov->reach, &cov->reachCapacity, sizeof(int) * (size_t)reachCount);
    cov->solid = (int*)GrowScratch(cov->solid, &cov->solidCapacity, sizeof(int) * 2 * (size_t)height);
    if (!cov->next || !cov->open || !cov->openBits || !cov->reach || !cov->solid)
        return 0;
    for (int y = 0; y < height; ++y) {
        cov->solid[2 * y] = 1;
        cov->solid[2 * y + 1] = 0;
    }
    cov->columns = columns;
    cov->bands = bands;
    cov->words = words;
    cov->reachCount = reachCount;
    double r = stroke->radius;
    for (int k = 0; k < reachCount; ++k) {
        double left = r * r - (double)k * k;
        cov->reach[k] = (int)ceil(sqrt(left > 0 ? left : 0)) + REACH_MARGIN;
    }
    for (int y = 0; y < height; ++y) {
        int* row = cov->next + (size_t)y * (width + 1);
        for (int x = 0; x <= width; ++x)
            row[x] = x;
    }
    for (int band = 0; band < bands; ++band) {
        int rows = height - (band << BLOCK_SHIFT);
        if (rows > BLOCK)
            rows = BLOCK;
        for (int column = 0; column < columns; ++column) {
            int pixels = width - (column << BLOCK_SHIFT);
            if (pixels > BLOCK)
                pixels = BLOCK;
            cov->open[(size_t)band * columns + column] = (unsigned short)(rows * pixels);
        }
        DWORD* bits = cov->openBits + (size_t)band * words;
        for (int w = 0; w < words; ++w) {
            int n = columns - 32 * w;
            bits[w] = n >= 32 ? ~(DWORD)0 : (((DWORD)1 << n) - 1);
        }
    }
    stroke->covered = 1;
    return 1;
}

// 1 when a stroke of segments whose ends all lie within [xmin, xmax] x
// [ymin, ymax] could still set a pixel of the mask: some block within the
// rows' reach of that box has open pixels.
static int RegionOpen(const WideStroke* stroke, double xmin, double xmax, double ymin, double ymax)
{
    double r = stroke->radius;
    int maskLeft = stroke->maskLeft, maskTop = stroke->maskTop;
    int boundBottom = maskTop + stroke->maskHeight - 1;
    double top = ymin - r, bottom = ymax + r;
    if (top < maskTop)
        top = maskTop;
    if (bottom > boundBottom)
        bottom = boundBottom;
    int y0 = (int)ceil(top), y1 = (int)floor(bottom);
    int fromX = (int)floor(xmin), toX = (int)ceil(xmax);
    for (int y = y0; y <= y1;) {
        int bandEnd, lo, hi;
        int band = BandReach(stroke, y, y1, ymin, ymax, fromX, toX, &bandEnd, &lo, &hi);
        if (lo <= hi && BandOpen(band, (lo - maskLeft) >> BLOCK_SHIFT, (hi - maskLeft) >> BLOCK_SHIFT))
            return 1;
        y = bandEnd + 1;
    }
    return 0;
}

// Segments first..last - 1 of a flattened curve (segment k from point k to
// k + 1) into the mask: a run of them whose points' box is already set
// within its reach is skipped whole, else it is halved.
static void CoverSegments(const WideStroke* stroke, const double* x, const double* y, int first, int last)
{
    if (last - first > 2) {
        double xmin = x[first], xmax = x[first], ymin = y[first], ymax = y[first];
        for (int k = first + 1; k <= last; ++k) {
            if (x[k] < xmin) xmin = x[k];
            if (x[k] > xmax) xmax = x[k];
            if (y[k] < ymin) ymin = y[k];
            if (y[k] > ymax) ymax = y[k];
        }
        if (!RegionOpen(stroke, xmin, xmax, ymin, ymax)) {
            ++bezierCoverageSkips;
            if (bezierCoverageCheck)
                for (int k = first; k < last; ++k)
                    CheckSkippedCapsule(stroke, x[k], y[k], x[k + 1], y[k + 1]);
            return;
        }
        int middle = (first + last) / 2;
        CoverSegments(stroke, x, y, first, middle);
        CoverSegments(stroke, x, y, middle, last);
        return;
    }
    for (int k = first; k < last; ++k)
        FillCapsule(stroke, x[k], y[k], x[k + 1], y[k + 1]);
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
    // The flattened points, worked out as each segment needs them.
    double qx[MAX_CURVE_SEGMENTS + 1], qy[MAX_CURVE_SEGMENTS + 1];
    qx[0] = x[0];
    qy[0] = y[0];
    for (int k = 1; k <= n; ++k) {
        double t = (double)k / n, u = 1 - t;
        double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
        qx[k] = b0 * x[0] + b1 * x[1] + b2 * x[2] + b3 * x[3];
        qy[k] = b0 * y[0] + b1 * y[1] + b2 * y[2] + b3 * y[3];
    }
    if (stroke->mask && stroke->covered) {
        CoverSegments(stroke, qx, qy, 0, n);
        return;
    }
    for (int k = 1; k <= n; ++k)
        FillCapsule(stroke, qx[k - 1], qy[k - 1], qx[k], qy[k]);
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
        // RotateAbout's turn, its cosine and sine worked out once for the copy.
        float angle = (float)k * f->rotationStep;
        int turns = isfinite(angle);
        long double c = turns ? cosl(angle) : 0, s = turns ? sinl(angle) : 0;
        for (int i = 0; i < st->points; ++i) {
            rotated[i] = points[i];
            if (!turns)
                continue;
            rotated[i].x -= st->centre.x;
            rotated[i].y -= st->centre.y;
            RotatePointBy(&rotated[i], c, s);
            rotated[i].x += st->centre.x;
            rotated[i].y += st->centre.y;
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
void (*bezierMaskProbe)(const BYTE* mask, int left, int top, int width, int height) = 0;

typedef DirectRun MaskRun;

struct TileMaskBuffers {
    BYTE* mask;
    size_t maskCapacity;
    MaskRun* runs;
    size_t runCapacity;
};

static TileMaskBuffers tileMask;

static void FreeTileMask(void)
{
    if (tileMask.mask)
        HeapFree(GetProcessHeap(), 0, tileMask.mask);
    if (tileMask.runs)
        HeapFree(GetProcessHeap(), 0, tileMask.runs);
    memset(&tileMask, 0, sizeof(tileMask));
    void* buffers[] = {coverage.next, coverage.open, coverage.openBits, coverage.reach, coverage.solid};
    for (void* b : buffers)
        if (b)
            HeapFree(GetProcessHeap(), 0, b);
    memset(&coverage, 0, sizeof(coverage));
    FreeTiledRunBuffers();
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
    tileMask.mask = (BYTE*)GrowScratch(tileMask.mask, &tileMask.maskCapacity, bytes);
    if (!tileMask.mask)
        return 0;
    memset(tileMask.mask, 0, bytes);
    stroke->mask = tileMask.mask;
    stroke->maskLeft = left;
    stroke->maskTop = top;
    stroke->maskWidth = maskWidth;
    stroke->maskHeight = maskHeight;
    stroke->covered = 0;
    BeginCoverage(stroke);
    DrawPoints(record, points, f, stroke, 0);
    stroke->mask = 0;
    stroke->covered = 0;
    if (bezierMaskProbe)
        bezierMaskProbe(tileMask.mask, left, top, maskWidth, maskHeight);

    // The mask's runs, counted and then gathered.
    size_t count = 0;
    for (int y = 0; y < maskHeight; ++y) {
        const BYTE* m = tileMask.mask + (size_t)y * maskWidth;
        for (int x = 0; x < maskWidth; ++x)
            count += m[x] && (x == 0 || !m[x - 1]);
    }
    if (!count)
        return 1;
    tileMask.runs = (MaskRun*)GrowScratch(tileMask.runs, &tileMask.runCapacity, count * sizeof(MaskRun));
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
    if (!bezierCoverage || !FillTiledRuns(&stroke->surface, stroke->colour, tileMask.runs, n, top, maskHeight, xTiles,
                                          yTiles, tw, th, f->tileType)) {
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
    }
    ++bezierMaskedDraws;
    return 1;
}

static void DrawWithPen(ModuleRecord* record, const POINT* points, const BezierParams* f, COLORREF colour)
{
    static WideStroke stroke;
    if (PrepareWideStroke(record->dc, f->width, colour, &stroke)) {
        stroke.mask = 0;
        stroke.covered = 0;
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
