// Pattern pixel generators, turbulence kinds and wave-table shapes, and the
// ring painting shared by the Pattern and Stain modules.
#include "modules/generators.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include <math.h>
#include <string.h>

// --- Helpers -------------------------------------------------------------------

int PhaseIndex(double u)
{
    double v = u * 2048.0;
    // Beyond the 64-bit range every double is a multiple of 2048; NaN and
    // infinity (a zero turbulence) land on entry 0 as well.
    if (!(v > -9.0e18 && v < 9.0e18))
        return 0;
    long long n = (long long)v;
    return (int)(n & (WAVE_TABLE_SIZE - 1));
}

// A quotient by the turbulence; a zero turbulence gives 0 so that every
// index stays inside its table.
static double TurbulenceQuotient(double dividend, float turbulence)
{
    if (turbulence == 0.0f)
        return 0.0;
    return dividend / turbulence;
}

static const double SINE_UNIT = 16385.0 / 536870912.0;   // 16385 / 2^29

static inline int Abs(int v)
{
    return v < 0 ? -v : v;
}

// v mod m for the wrapping generators; a one-pixel extent has nothing to
// wrap into.
static inline int Wrap(int v, int m)
{
    if (m <= 0)
        return 0;
    int r = v % m;
    return r < 0 ? r + m : r;
}

static inline int Shift(int v, int s)
{
    return s >= 0 ? v >> s : v;
}

static inline int FinalIndex(int v)
{
    int r = v % 236;
    return r < 0 ? r + 236 : r;
}

static inline int Waves(const PatternState* st)
{
    int n = st->waves;
    if (n < 1)
        return 1;
    return n > WAVE_COUNT ? WAVE_COUNT : n;
}

static inline int WaveEntry(const PatternState* st, int u, float freq)
{
    return st->waveTable[(int)((float)u / freq) & (WAVE_TABLE_SIZE - 1)];
}

// T[trunc(y / fr[k]) mod 2048] + T[trunc(x / fc[k]) mod 2048]
static inline int WaveSum(const PatternState* st, int k, int x, int y)
{
    if (k < st->cachedWaves)
        return st->rowWaves[k * (st->height + 1) + y] + st->columnWaves[k * (st->width + 1) + x];
    return WaveEntry(st, y, st->rowFreq[k]) + WaveEntry(st, x, st->columnFreq[k]);
}

void CacheWaves(PatternState* st)
{
    st->cachedWaves = 0;
    if (!st->columnWaves || !st->rowWaves || !st->waveTable || st->width < 1 || st->height < 1)
        return;
    int needed;
    switch (st->type) {
    case 6:
    case 7:
    case 8:
        needed = Waves(st);
        break;
    case 16:
        needed = 2;
        break;
    case 20:
        needed = 1;
        break;
    default:
        needed = 0;
        break;
    }
    for (int k = 0; k < needed; ++k) {
        int* columns = st->columnWaves + k * (st->width + 1);
        int* rows = st->rowWaves + k * (st->height + 1);
        for (int x = 0; x <= st->maxX; ++x)
            columns[x] = WaveEntry(st, x, st->columnFreq[k]);
        for (int y = 0; y <= st->maxY; ++y)
            rows[y] = WaveEntry(st, y, st->rowFreq[k]);
    }
    st->cachedWaves = needed;
}

static int MeanWaves(const PatternState* st, int x, int y)
{
    int n = Waves(st);
    int sum = 0;
    for (int k = 0; k < n; ++k)
        sum += Abs(WaveSum(st, k, x, y));
    return sum / n;
}

// trunc(u * scale) mod 236 for the XOR generators.
static inline int ScaledIndex(int u, float scale)
{
    return FinalIndex((int)((float)u * scale));
}

static inline int Band(int a, int bandSize, int parts)
{
    return (bandSize > 0 ? a / bandSize : 0) % parts;
}

static void Turbulence1(const PatternState* st, int* x, int* y)
{
    const int* C = st->columnProfile;
    const int* Rw = st->rowProfile;
    double h = sineTable[PhaseIndex(TurbulenceQuotient((double)(Rw[*y] + C[*x]), st->turbulence))];
    *y = Abs((int)(*y * h * SINE_UNIT));
    *x = Abs((int)(*x * h * SINE_UNIT));
}

// |trunc(u * f)| mod m, safe for any real factor.
static int WrapScaled(int u, double f, int m)
{
    if (m <= 0)
        return 0;
    double v = fabs(trunc((double)u * f));
    if (!(v < 9.0e18))
        return v == v ? (int)fmod(v, (double)m) : 0;
    return (int)((long long)v % m);
}

void Distort(const PatternState* st, int* x, int* y)
{
    int cx = st->maxX >> 1;
    int cy = st->maxY >> 1;
    switch (st->turbulenceType) {
    case 0: {
        double d = (double)(*y - cy) * (*y - cy) + (double)(*x - cx) * (*x - cx);
        double h = sineTable[PhaseIndex(TurbulenceQuotient(d, st->turbulence))];
        *y = Abs((int)(*y * h * SINE_UNIT));
        *x = Abs((int)(*x * h * SINE_UNIT));
        break;
    }
    case 1:
        Turbulence1(st, x, y);
        break;
    case 2: {
        double f = sineTable[PhaseIndex(TurbulenceQuotient(st->rowProfile[*y], st->turbulence))] * SINE_UNIT +
                   sineTable[PhaseIndex(TurbulenceQuotient(st->columnProfile[*x], st->turbulence))] * SINE_UNIT;
        *y = Abs((int)(*y * f));
        *x = Abs((int)(*x * f));
        break;
    }
    case 3: {
        double d = (double)(*y - cy) * (*y - cy) + (double)(*x - cx) * (*x - cx);
        double f = TurbulenceQuotient(d, st->turbulence);
        *y = WrapScaled(*y, f, st->height);
        *x = WrapScaled(*x, f, st->width);
        break;
    }
    case 4:
        Turbulence1(st, x, y);
        Turbulence1(st, x, y);
        break;
    default:
        break;
    }
}

static inline void Distorted(const PatternState* st, int* x, int* y)
{
    if (st->turbulenceOn)
        Distort(st, x, y);
}

// --- The 21 generators -------------------------------------------------------------

#define PROFILES const int* C = st->columnProfile; const int* Rw = st->rowProfile; \
    (void)C; (void)Rw
#define MIRRORS int X_ = st->maxX - x; int Y_ = st->maxY - y; (void)X_; (void)Y_

static int Generator0(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    return FinalIndex(Shift(C[x] + Rw[y], st->sumShift));
}

static int Generator1(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int v = C[x] + Rw[y];
    switch (Band(v, st->bandSize, 4)) {
    case 1: v = Rw[Y_] + C[X_]; break;
    case 2: v = C[x] + Rw[Y_]; break;
    case 3: v = C[X_] + Rw[y]; break;
    default: break;
    }
    return FinalIndex(Shift(v, st->sumShift));
}

static int Generator2(PatternState* st, int x, int y)
{
    int t = ScaledIndex(y, st->yScale);
    Distorted(st, &x, &y);
    PROFILES;
    int v = (Shift(C[x] + Rw[y], st->sumShift) & 31) + (ScaledIndex(x, st->xScale) ^ t) / st->xorDivisor;
    return FinalIndex(v);
}

static int Generator3(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    return FinalIndex(Shift(Abs(Rw[y] + C[x]), st->sumShift));
}

static int Generator4(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int v = Abs(C[x] + Rw[y]);
    switch (Band(v, st->bandSize, 4)) {
    case 1: v = Abs(Rw[Y_] + C[X_]); break;
    case 2: v = Abs(Rw[Y_] + C[x]); break;
    case 3: v = Abs(C[X_] + Rw[y]); break;
    default: break;
    }
    return FinalIndex(Shift(v, st->sumShift));
}

static int Generator5(PatternState* st, int x, int y)
{
    int t = ScaledIndex(y, st->yScale);
    Distorted(st, &x, &y);
    PROFILES;
    int v = (ScaledIndex(x, st->xScale) ^ t) / st->xorDivisor + (Shift(Abs(C[x] + Rw[y]), st->sumShift) & 31);
    return FinalIndex(v);
}

static int Generator6(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    return FinalIndex(Shift(MeanWaves(st, x, y), st->sumShift));
}

static int Generator7(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int a = MeanWaves(st, x, y);
    switch (Band(a, st->bandSize, 4)) {
    case 1: a = Abs(Rw[Y_] + C[X_]); break;
    case 2: a = Abs(Rw[Y_] + C[x]); break;
    case 3: a = Abs(C[X_] + Rw[y]); break;
    default: break;
    }
    return FinalIndex(Shift(a, st->sumShift));
}

static int Generator8(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int a = MeanWaves(st, x, y);
    switch (Band(a, st->bandSize, 3)) {
    case 1: a = Abs(Rw[Y_] + C[X_]); break;
    case 2: a = Abs(Rw[Wrap(2 * y, st->maxY)] + C[Wrap(2 * x, st->maxX)]); break;
    default: break;
    }
    return FinalIndex(Shift(a, st->sumShift));
}

static int Generator9(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int v = C[x] + Rw[y];
    switch ((x + y) % 4) {
    case 1: v = Rw[Y_] + C[X_]; break;
    case 2: v = Rw[Y_] + C[x]; break;
    case 3: v = C[X_] + Rw[y]; break;
    default: break;
    }
    return FinalIndex(Shift(v, st->sumShift));
}

static int Generator10(PatternState* st, int x, int y)
{
    int odd = (x + y) & 1;
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int v = odd ? C[x] + Rw[y] : Rw[Y_] + C[X_];
    return FinalIndex(Shift(Abs(v), st->sumShift));
}

static int Generator11(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    return FinalIndex(Shift(Abs(C[x] + Rw[y]) & Abs(Rw[Y_] + C[X_]), st->sumShift));
}

static int Generator12(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int s = st->sumShift;
    return FinalIndex(Shift(Abs(C[x] + Rw[y]), s) + (Shift(Abs(C[X_] + Rw[Y_]), s) & 15));
}

static int Generator13(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    return FinalIndex(Shift(Abs(C[x] + Rw[y]) + Abs(Rw[Y_] + C[X_]), st->sumShift + 1));
}

static int Generator14(PatternState* st, int x, int y)
{
    Distorted(st, &x, &y);
    PROFILES;
    int b = Shift(Rw[y] + C[x], st->sumShift + 6);
    int v = Abs(Rw[Wrap(y + 100 * b, st->maxY)] + C[Wrap(100 * b + x, st->maxX)]);
    return FinalIndex(Shift(v, st->sumShift));
}

static int Generator15(PatternState* st, int x, int y)
{
    PROFILES;
    int odd = (x + y) & 1;
    int a = odd ? Abs(C[x] + Rw[y]) : Abs(C[st->maxX - x] + Rw[st->maxY - y]);
    Distorted(st, &x, &y);
    MIRRORS;
    switch (Band(a, st->bandSize, 4)) {
    case 1: a = Abs(C[X_] + Rw[Y_]); break;
    case 2: a = Abs(Rw[Y_] + C[x]); break;
    case 3: a = Abs(C[X_] + Rw[y]); break;
    default: break;
    }
    return FinalIndex(Shift(a, st->sumShift));
}

static int Generator16(PatternState* st, int x, int y)
{
    int wave = ((x + y) & 1) ? 0 : 1;
    Distorted(st, &x, &y);
    return FinalIndex(Shift(Abs(WaveSum(st, wave, x, y)), st->sumShift + 1));
}

static int Generator17(PatternState* st, int x, int y)
{
    int odd = (x + y) & 1;
    int t = ScaledIndex(y, st->yScale);
    Distorted(st, &x, &y);
    PROFILES;
    if (odd)
        return FinalIndex(Shift(Rw[y] + C[x], st->sumShift));
    return FinalIndex(ScaledIndex(x, st->xScale) ^ t);
}

static int Generator18(PatternState* st, int x, int y)
{
    int odd = (x + y) & 1;
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    if (odd) {
        st->sumShift = 7;
        return FinalIndex(Abs(Rw[y] + C[x]) >> 7);
    }
    st->sumShift = 5;
    return FinalIndex(Abs(Rw[Y_] + C[X_]) >> 5);
}

static int Generator19(PatternState* st, int x, int y)
{
    int odd = (x + y) & 1;
    Distorted(st, &x, &y);
    PROFILES;
    MIRRORS;
    int s = st->sumShift;
    int v;
    if (odd) {
        // The third term reads the column profile at the row coordinate,
        // wrapped into the width for surfaces taller than wide.
        v = Shift(Abs(C[x] + Rw[y]), s) + (Shift(Abs(C[X_] + Rw[Y_]), s) & 7) +
            (Shift(Abs(C[Wrap(y, st->maxX + 1)] + Rw[Y_]), s) & 7);
    } else {
        v = Shift(Abs(Rw[Y_] + C[X_]), s) + (Shift(Abs(C[X_] + Rw[y]), s) & 7) +
            (Shift(Abs(C[x] + Rw[y]), s) & 7);
    }
    return FinalIndex(v);
}

static int Generator20(PatternState* st, int x, int y)
{
    if ((x + y) & 1)
        Distorted(st, &x, &y);
    return FinalIndex(Shift(Abs(WaveSum(st, 0, x, y)), st->sumShift + 1));
}

const PatternGenerator patternGenerators[GENERATOR_COUNT] = {
    Generator0, Generator1, Generator2, Generator3, Generator4, Generator5, Generator6,
    Generator7, Generator8, Generator9, Generator10, Generator11, Generator12, Generator13,
    Generator14, Generator15, Generator16, Generator17, Generator18, Generator19, Generator20
};

// --- Wave tables ---------------------------------------------------------------------

static void Triangle(int* table, float step)
{
    float a = 0.0f;
    for (int i = 0; i < WAVE_TABLE_SIZE; ++i) {
        table[i] = (int)a;
        a += step;
        if (a > 16383.0f) {
            a = 16383.0f;
            step = -step;
        } else if (a < -16383.0f) {
            a = -16383.0f;
            step = -step;
        }
    }
}

void SmoothWaveTable(int* table)
{
    for (int i = 1; i < WAVE_TABLE_SIZE - 1; ++i)
        table[i] = (table[i - 1] + table[i] + table[i + 1]) / 3;
}

static void Rough(int* table)
{
    Random();   // drawn and not used
    float step = (float)Random() / 32767.0f * 60.0f + 35.0f;
    Triangle(table, step);
    for (int i = 0; i < WAVE_TABLE_SIZE; ++i) {
        int amount = Random() % 19659;
        table[i] += table[i] <= 0 ? amount : -amount;
    }
    for (int pass = 0; pass < 30; ++pass)
        SmoothWaveTable(table);
}

static void Bumps(int* table)
{
    int a = Random();
    int b = Random();
    int count = a % 85 + 32;
    for (int n = 0; n < count; ++n) {
        int i = Random() % 1984 + 32;
        int c = Random();
        int d = Random();
        int value = d % 16383;
        if (c & 1)
            value = -value;
        table[i - 1] = value;
        table[i] = value;
        table[i + 1] = value;
    }
    int passes = b % 48 + 48;
    for (int pass = 0; pass < passes; ++pass)
        SmoothWaveTable(table);
}

float FillWaveTable(int* table, int shape)
{
    float e;
    switch (shape) {
    case 2:
    case 5:
        memcpy(table, sineTable, sizeof(int) * WAVE_TABLE_SIZE);
        e = 0.02f;
        break;
    case 3:
    case 6:
        Rough(table);
        e = 0.2f;
        break;
    default:
        Triangle(table, 31.998047f);
        e = 0.02f;
        break;
    }
    if (shape >= 4 && shape <= 6) {
        Bumps(table);
        e += 0.2f;
    }
    return e;
}

// --- Ring painting ---------------------------------------------------------------------

void FillPaletteHeader(BITMAPINFOHEADER* header, int width)
{
    memset(header, 0, DIB_HEADER_BYTES);
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = 1;
    header->biPlanes = 1;
    header->biBitCount = 8;
    header->biCompression = BI_RGB;
    header->biClrUsed = 236;
    WORD* indices = (WORD*)(header + 1);
    for (int i = 0; i < 236; ++i)
        indices[i] = (WORD)i;
}

static void SetRowHeader(const RingCanvas* canvas)
{
    canvas->header->biWidth = canvas->width;
    canvas->header->biHeight = 1;
}

static void SetColumnHeader(const RingCanvas* canvas)
{
    canvas->header->biWidth = 1;
    canvas->header->biHeight = canvas->height;
}

static void PaintPlainRing(const RingCanvas* c, const RECT* r, RingValue value, void* context)
{
    int w = r->right - r->left + 1;
    int h = r->bottom - r->top + 1;
    const BITMAPINFO* info = (const BITMAPINFO*)c->header;
    BYTE* line = c->lineBuffer;

    SetRowHeader(c);
    for (int i = 0; i < w; ++i)
        line[i] = (BYTE)value(context, r->left + i, r->top);
    StretchDIBits(c->dc, r->left, r->bottom, w, 1, 0, 0, w, 1, line, info, DIB_PAL_COLORS, SRCCOPY);
    for (int i = 0; i < w; ++i)
        line[i] = (BYTE)value(context, r->left + i, r->bottom);
    StretchDIBits(c->dc, r->left, r->top, w, 1, 0, 0, w, 1, line, info, DIB_PAL_COLORS, SRCCOPY);

    // The column bitmap is bottom-up: entry k lands at y = bottom - k.
    SetColumnHeader(c);
    for (int k = 0; k < h; ++k)
        line[4 * k] = (BYTE)value(context, r->left, r->top + k);
    StretchDIBits(c->dc, r->left, r->top, 1, h, 0, 0, 1, h, line, info, DIB_PAL_COLORS, SRCCOPY);
    for (int k = 0; k < h; ++k)
        line[4 * k] = (BYTE)value(context, r->right, r->top + k);
    StretchDIBits(c->dc, r->right, r->top, 1, h, 0, 0, 1, h, line, info, DIB_PAL_COLORS, SRCCOPY);
}

static void PaintFoldedRing(const RingCanvas* c, const RECT* r, int fold, RingValue value, void* context,
                            int stainCopies)
{
    int w = r->right - r->left + 1;
    int h = r->bottom - r->top + 1;
    int nX = (r->right - r->left) / fold + 1;
    int nY = (r->bottom - r->top) / fold + 1;
    int n = nX > nY ? nX : nY;
    BYTE* run = (BYTE*)LocalAlloc(LPTR, (SIZE_T)n + 10);
    if (!run)
        return;

    int i = 0;
    for (int x = r->left; x < r->right && i <= n; ++x)
        run[i++] = (BYTE)value(context, x, r->top);
    for (int y = r->top; y < r->bottom && i <= n; ++y)
        run[i++] = (BYTE)value(context, r->right, y);

    const BITMAPINFO* info = (const BITMAPINFO*)c->header;
    BYTE* line = c->lineBuffer;

    for (int k = 0; k < w; ++k) {
        int q = k / nX, m = k % nX;
        line[k] = (q & 1) ? run[nX - m] : run[m];
    }
    SetRowHeader(c);
    SetDIBitsToDevice(c->dc, r->left, r->bottom, w, 1, 0, 0, 0, 1, line, info, DIB_PAL_COLORS);
    int rowSource = (stainCopies && nX < nY) ? r->left - 1 : r->left;
    BitBlt(c->dc, r->left, r->top, w, 1, c->dc, rowSource, r->bottom, SRCCOPY);

    for (int k = 0; k < h; ++k) {
        int q = k / nY, m = k % nY;
        line[4 * k] = (q & 1) ? run[nY - m] : run[m];
    }
    SetColumnHeader(c);
    SetDIBitsToDevice(c->dc, r->left, r->top, 1, h, 0, 0, 0, h, line, info, DIB_PAL_COLORS);
    int columnSource = (stainCopies && nY < nX) ? r->left + 1 : r->left;
    BitBlt(c->dc, r->right, r->top, 1, h, c->dc, columnSource, r->top, SRCCOPY);

    LocalFree(run);
}

void PaintRing(const RingCanvas* canvas, const RECT* ring, int fold, RingValue value, void* context,
               int stainCopies)
{
    if (ring->right < ring->left || ring->bottom < ring->top)
        return;
    if (fold > 0)
        PaintFoldedRing(canvas, ring, fold, value, context, stainCopies);
    else
        PaintPlainRing(canvas, ring, value, context);
}

void FollowLive(ModuleRecord* record, int slot, int* target)
{
    if (IsLiveSource(record->source[slot]))
        *target = (int)EvaluateSlot(record, slot);
}

// --- Working memory ---------------------------------------------------------------

void FreeBlock(void* block)
{
    if (block)
        GlobalFree((HGLOBAL)block);
}

void* AllocateBlock(unsigned long long bytes)
{
    // Sizes are computed in 64 bits so that a huge surface fails cleanly.
    if (bytes == 0 || bytes > 0x7FFFFFFFull)
        return 0;
    return (void*)GlobalAlloc(GPTR, (SIZE_T)bytes);
}
