// The Bezier module: bouncing cubic Bezier curves in one walking palette
// colour, rotated about the centre and tiled, with a trail that is erased by
// replaying the same motion in black a set number of frames later.
#include "modules/modules.h"
#include "modules/generators.h"
#include "graphics/surface.h"
#include "graphics/shapes.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/saver.h"

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

// The curves of one point set, each scaled into every admitted tile.
static void DrawCurves(HDC dc, int width, int height, const POINT* points, const BezierParams* f)
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
        for (int column = 0; column < xTiles; ++column) {
            for (int row = 0; row < yTiles; ++row) {
                if (!TileAdmitted(column, row, f->tileType))
                    continue;
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

static void DrawPoints(ModuleRecord* record, const POINT* points, const BezierParams* f)
{
    BezierState* st = &bezierState;
    if (f->symmetry == 1) {
        DrawCurves(record->dc, record->width, record->height, points, f);
        return;
    }
    POINT rotated[BEZIER_POINTS];
    for (int k = 0; k < f->symmetry; ++k) {
        float angle = (float)k * f->rotationStep;
        for (int i = 0; i < st->points; ++i) {
            rotated[i] = points[i];
            RotateAbout(&rotated[i], angle, st->centre.x, st->centre.y);
        }
        DrawCurves(record->dc, record->width, record->height, rotated, f);
    }
}

static void DrawWithPen(ModuleRecord* record, const POINT* points, const BezierParams* f, COLORREF colour)
{
    HPEN pen = CreatePen(PS_SOLID, f->width, colour);
    if (!pen)
        return;
    SelectObject(record->dc, pen);
    DrawPoints(record, points, f);
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
    return 0;
}
