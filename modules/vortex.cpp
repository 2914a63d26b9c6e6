// Vortex: a ring of points that collapses toward the centre while it swirls,
// each point joined to its neighbour and to both previous positions by a
// filled quadrilateral, so the collapse leaves a spiral of coloured bands.
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "graphics/surface.h"
#include <math.h>

enum {
    VORTEX_MAX_POINTS = 199,
    VORTEX_COLOURS = 236
};

enum {
    SLOT_POINTS = 0, SLOT_SPASTICITY = 1, SLOT_AMPLITUDE = 2, SLOT_IMAGE_DURATION = 3,
    SLOT_TYPE = 4, SLOT_COLLAPSE = 5, SLOT_RADIUS_FLUX = 6, SLOT_FLUX_AMPLITUDE = 7,
    SLOT_X_TILING = 10, SLOT_Y_TILING = 11, SLOT_TILE_TYPE = 12
};

struct VortexPoint {
    int x;
    int y;
    int previousX;
    int previousY;
    int colour;
    float angle;
};

struct VortexState {
    VortexPoint points[VORTEX_MAX_POINTS];
    int pointCount;
    float swirlPeriod;
    float swirlAmplitude;
    float collapse;
    float fluxFrequency;
    float fluxAmplitude;
    float radius;
    int holdMs;
    int colourType;
    int xTiles;
    int yTiles;
    int tileType;
    int centreX;
    int centreY;
    int colourOffset;
    bool active;
    DWORD holdUntil;
};

static VortexState vortex;


static float RandomFraction(void)
{
    return (float)Random() / 32767.0f;
}

static int TileCount(float value)
{
    int tiles = (int)value;
    return tiles < 1 ? 1 : tiles;
}

// Colour of point d under a colour type; types 1..5 change odd points only.
static int PointColour(int type, int d, int count)
{
    if (!(d & 1))
        return d;
    switch (type) {
    case 1: return count - d;
    case 2: return d + 20;
    case 3: return d * d;
    case 4: return d >> 1;
    case 5: return 2 * d;
    default: return d;
    }
}

static void UpdateVortex(void)
{
    VortexState* s = &vortex;
    s->active = false;
    for (int d = s->pointCount - 1; d >= 0; --d) {
        VortexPoint* p = &s->points[d];
        p->previousX = p->x;
        p->previousY = p->y;
        double r = sin((double)((float)d * s->fluxFrequency)) * s->fluxAmplitude + s->radius;
        if (r < 0)
            r = 0;
        else
            s->active = true;
        p->x = (int)(r * sin((double)p->angle)) + s->centreX;
        p->y = (int)(r * cos((double)p->angle)) + s->centreY;
    }
    s->radius -= s->collapse;
    // One turn for the whole ring, from the new radius: the swirl reverses
    // as the ring shrinks.
    float turn = (float)(sin((double)(s->radius / s->swirlPeriod)) * s->swirlAmplitude);
    for (int d = 0; d < s->pointCount; ++d)
        s->points[d].angle += turn;
}

static void DrawVortex(ModuleRecord* record)
{
    VortexState* s = &vortex;
    HDC dc = record->dc;
    int tileWidth = record->width / s->xTiles;
    int tileHeight = record->height / s->yTiles;
    SelectObject(dc, GetStockObject(NULL_PEN));

    // One brush per point for the whole frame: every tile paints point k in
    // the same colour, so creating it once per tile would only churn GDI.
    HBRUSH brushes[VORTEX_MAX_POINTS];
    for (int k = 0; k < s->pointCount; ++k)
        brushes[k] = CreateSolidBrush(PALETTEINDEX((s->points[k].colour + s->colourOffset) % VORTEX_COLOURS));

    for (int i = 0; i < s->xTiles; ++i) {
        for (int j = 0; j < s->yTiles; ++j) {
            if (!TileAdmitted(i, j, s->tileType))
                continue;
            int originX = i * tileWidth;
            int originY = j * tileHeight;
            for (int k = 0; k < s->pointCount; ++k) {
                if (!brushes[k])
                    continue;
                const VortexPoint* p = &s->points[k];
                const VortexPoint* q = &s->points[(k + 1) % s->pointCount];
                POINT corners[4] = {
                    {p->x / s->xTiles + originX, p->y / s->yTiles + originY},
                    {q->x / s->xTiles + originX, q->y / s->yTiles + originY},
                    {q->previousX / s->xTiles + originX, q->previousY / s->yTiles + originY},
                    {p->previousX / s->xTiles + originX, p->previousY / s->yTiles + originY},
                };
                SelectObject(dc, brushes[k]);
                Polygon(dc, corners, 4);
            }
        }
    }

    SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    for (int k = 0; k < s->pointCount; ++k)
        if (brushes[k])
            DeleteObject(brushes[k]);
    // Only the offset modulo the palette size is ever seen.
    s->colourOffset = (s->colourOffset + 1) % VORTEX_COLOURS;
}

void ViewVortex(VortexView* view)
{
    view->swirlPeriod = vortex.swirlPeriod;
    view->collapse = vortex.collapse;
    view->fluxAmplitude = vortex.fluxAmplitude;
}

int VortexStart(ModuleRecord* record)
{
    VortexState* s = &vortex;
    RandomizeControls(record);

    s->pointCount = SlotWithinLimits(record, SLOT_POINTS);
    s->swirlPeriod = (RandomFraction() + 3.0f) * (float)(301 - SlotWithinLimits(record, SLOT_SPASTICITY));
    s->swirlAmplitude = (float)SlotWithinLimits(record, SLOT_AMPLITUDE) * 0.0033333334f;
    s->holdMs = SlotWithinLimits(record, SLOT_IMAGE_DURATION) * 1000;
    s->colourType = SlotWithinLimits(record, SLOT_TYPE);
    s->collapse = RandomFraction() + (float)SlotWithinLimits(record, SLOT_COLLAPSE);
    s->fluxFrequency = (float)SlotWithinLimits(record, SLOT_RADIUS_FLUX) * 0.031836994f;
    s->fluxAmplitude = RandomFraction() + (float)SlotWithinLimits(record, SLOT_FLUX_AMPLITUDE);
    s->xTiles = SlotWithinLimits(record, SLOT_X_TILING);
    s->yTiles = SlotWithinLimits(record, SLOT_Y_TILING);
    s->tileType = SlotWithinLimits(record, SLOT_TILE_TYPE);

    s->centreX = record->width / 2;
    s->centreY = record->height / 2;
    float halfWidth = (float)(record->width >> 1);
    float halfHeight = (float)(record->height >> 1);
    s->radius = (float)sqrt((double)(halfWidth * halfWidth + halfHeight * halfHeight));

    float step = 6.283184f / (float)s->pointCount;
    float angle = 0;
    for (int d = s->pointCount - 1; d >= 0; --d) {
        VortexPoint* p = &s->points[d];
        p->x = p->previousX = s->centreX;
        p->y = p->previousY = s->centreY;
        p->angle = angle;
        p->colour = PointColour(s->colourType, d, s->pointCount);
        angle += step;
    }

    // The first update puts the ring on its full radius.
    UpdateVortex();
    s->colourOffset = 1;
    s->active = true;
    return 0;
}

int VortexFrame(ModuleRecord* record)
{
    VortexState* s = &vortex;
    if (IsLiveSource(record->source[SLOT_SPASTICITY]))
        s->swirlPeriod = (RandomFraction() + 3.0f) * (301.0f - EvaluateSlot(record, SLOT_SPASTICITY));
    if (IsLiveSource(record->source[SLOT_AMPLITUDE]))
        s->swirlAmplitude = EvaluateSlot(record, SLOT_AMPLITUDE) * 0.0033333334f;
    if (IsLiveSource(record->source[SLOT_COLLAPSE]))
        s->collapse = EvaluateSlot(record, SLOT_COLLAPSE);
    if (IsLiveSource(record->source[SLOT_RADIUS_FLUX]))
        s->fluxFrequency = EvaluateSlot(record, SLOT_RADIUS_FLUX) * 0.031836994f;
    if (IsLiveSource(record->source[SLOT_FLUX_AMPLITUDE]))
        s->fluxAmplitude = RandomFraction() + EvaluateSlot(record, SLOT_FLUX_AMPLITUDE);
    if (IsLiveSource(record->source[SLOT_X_TILING]))
        s->xTiles = TileCount(EvaluateSlot(record, SLOT_X_TILING));
    if (IsLiveSource(record->source[SLOT_Y_TILING]))
        s->yTiles = TileCount(EvaluateSlot(record, SLOT_Y_TILING));
    // A zero (or undefined) period would turn every point by NaN.
    if (s->swirlPeriod == 0.0f || s->swirlPeriod != s->swirlPeriod)
        s->swirlPeriod = 1.0f;

    if (s->active) {
        UpdateVortex();
        DrawVortex(record);
        s->holdUntil = TickCount() + (DWORD)s->holdMs;
    }
    if (!TickPassed(TickCount(), s->holdUntil))
        return ENTRY_WAIT;
    VortexStart(record);
    return 0;
}

int VortexClose(ModuleRecord*)
{
    return 0;
}
