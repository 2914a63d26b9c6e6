// Cyclic: objects on slowly changing orbits about the centre, each drawn
// every frame as a stroke (or a row of shapes) from its previous to its
// current position, with rotated copies, tiles and a trail that a shadow
// copy of the motion erases later in black.
#include "modules/modules.h"
#include "modules/generators.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include "runtime/saver.h"
#include "graphics/surface.h"
#include "graphics/shapes.h"
#include <math.h>

enum {
    CYC_OBJECTS = 0, CYC_SPASTICITY = 1, CYC_TRAIL = 2, CYC_DIAMETER = 3, CYC_SYMMETRY = 4,
    CYC_ROTATION = 5, CYC_SIDES = 6, CYC_TYPE = 7, CYC_XTILES = 10, CYC_YTILES = 11,
    CYC_TILETYPE = 12
};
enum { CYC_MAX_OBJECTS = 101, CYC_HISTORY = 300 };

// One frame's drawing parameters; the history ring replays them in black.
struct CyclicParams {
    ShapePen pen;
    float r0, r1, r2;
    int symmetry;
    int xTiles;
    int yTiles;
    int tileType;
};

struct CyclicObject {
    int x, y;
    int previousX, previousY;
    float phase;
};

struct CyclicTable {
    float p[4];
    CyclicObject objects[CYC_MAX_OBJECTS];
};

struct CyclicState {
    CyclicTable* live;
    CyclicTable* shadow;
    CyclicParams* history;
    int head, tail;
    CyclicParams params;
    int objectCount;
    int k;               // 51 - Spasticity
    int trail;           // frames kept on screen; 300 or more: never erased
    int framesDrawn;
    int colour, colourStep;
    int centreX, centreY;
    float amplitude;
    int formulaX, formulaY;
    int pulsating;
    float pulseAngle, pulseRate;
    DWORD deadline;
};

static CyclicState cyclic;

// --- Orbit formulas -----------------------------------------------------------

typedef void (*OrbitFormula)(const float* p, double* f, double* g);

static void Orbit1(const float* p, double* f, double* g) { *f = sin(p[0]); *g = cos(p[1]); }
static void Orbit2(const float* p, double* f, double* g) { *f = sin(p[0]); *g = sin(p[0] + p[1]); }
static void Orbit3(const float* p, double* f, double* g) { *f = sin(p[0] + p[1]); *g = sin(p[1]); }
static void Orbit4(const float* p, double* f, double* g) { *f = sin(p[0] + p[3]); *g = sin(p[1] + p[3]); }
static void Orbit5(const float* p, double* f, double* g) { *f = sin(p[0]); *g = sin(cos(p[1]) + p[3]); }
static void Orbit6(const float* p, double* f, double* g) { *f = sin(cos(p[0]) + p[3]); *g = sin(p[0]); }
static void Orbit7(const float* p, double* f, double* g) { *f = sin(p[3]); *g = sin(sin(p[3]) + p[3]); }
static void Orbit8(const float* p, double* f, double* g) { *f = sin(p[1] + p[3]); *g = sin(p[3]); }

static const OrbitFormula orbitFormulas[8] = {
    Orbit1, Orbit2, Orbit3, Orbit4, Orbit5, Orbit6, Orbit7, Orbit8
};

static void OrbitFactors(int formula, const float* p, double* f, double* g)
{
    orbitFormulas[(unsigned)(formula - 1) % 8](p, f, g);
}

// --- Object tables --------------------------------------------------------------

static void InitTable(CyclicTable* table)
{
    table->p[0] = table->p[1] = table->p[2] = 0.0f;
    table->p[3] = (float)sin(0.0);
    float phase = 0.0f;
    float spacing = 6.283184f / (float)cyclic.objectCount;
    for (int k = cyclic.objectCount - 1; k >= 0; --k) {
        CyclicObject* o = &table->objects[k];
        o->x = cyclic.centreX;
        o->y = cyclic.centreY;
        o->phase = phase;
        phase += spacing;
    }
}

static void MoveTable(CyclicTable* table, const CyclicParams* f)
{
    int n = cyclic.objectCount;
    double fx, gx, fy, gy;
    OrbitFactors(cyclic.formulaX, table->p, &fx, &gx);
    OrbitFactors(cyclic.formulaY, table->p, &fy, &gy);
    for (int k = n - 1; k >= 0; --k) {
        CyclicObject* o = &table->objects[k];
        o->previousX = o->x;
        float u = (float)(fx * cyclic.amplitude);
        float v = (float)(gx * o->phase);
        o->x = cyclic.centreX + TruncToInt(sin(v) * u);
    }
    for (int k = n - 1; k >= 0; --k) {
        CyclicObject* o = &table->objects[k];
        o->previousY = o->y;
        float u = (float)(fy * cyclic.amplitude);
        float v = (float)(gy * o->phase);
        o->y = cyclic.centreY + TruncToInt(cos(v) * u);
    }
    table->p[0] += f->r0;
    table->p[1] += f->r1;
    table->p[2] += f->r2;
    table->p[3] = (float)sin(table->p[2]);
    float delta = (float)(0.01 * sin(table->p[0] + table->p[1]));
    for (int k = 0; k < n; ++k)
        table->objects[k].phase += delta;
}

// --- Drawing --------------------------------------------------------------------

static void TiledStroke(ModuleRecord* record, const CyclicParams* f, int px, int py, int x, int y)
{
    shapeTiledLine(x, y, px, py, record->width, record->height, f->xTiles, f->yTiles, f->tileType, &f->pen);
}

// RotateAbout with the turn's cosine and sine already worked out.
static void TurnAbout(POINT* p, int turns, long double c, long double s)
{
    if (!turns)
        return;
    p->x -= cyclic.centreX;
    p->y -= cyclic.centreY;
    RotatePointBy(p, c, s);
    p->x += cyclic.centreX;
    p->y += cyclic.centreY;
}

static void DrawTable(ModuleRecord* record, const CyclicTable* table, CyclicParams* f)
{
    float step = 6.283f / (float)f->symmetry;
    // One running angle for the whole table: each object's copies start
    // where the previous object's ended.
    float a = 0.0f;
    for (int k = cyclic.objectCount - 1; k >= 0 && !FrameBudgetSpent(); --k) {
        const CyclicObject* o = &table->objects[k];
        if (f->symmetry < 2) {
            TiledStroke(record, f, o->previousX, o->previousY, o->x, o->y);
            continue;
        }
        for (int s = 0; s < f->symmetry && !FrameBudgetSpent(); ++s) {
            POINT current = {o->x, o->y};
            POINT previous = {o->previousX, o->previousY};
            // Both ends turn by the same angle: its cosine and sine once.
            int turns = isfinite(a);
            long double c = turns ? cosl(a) : 0, sn = turns ? sinl(a) : 0;
            TurnAbout(&current, turns, c, sn);
            TurnAbout(&previous, turns, c, sn);
            TiledStroke(record, f, previous.x, previous.y, current.x, current.y);
            a += step;
        }
    }
    f->pen.angle += f->pen.angleStep;
}

// Moves the shadow table with the oldest recorded frame and draws it black.
static void EraseOldestFrame(ModuleRecord* record)
{
    CyclicParams* f = &cyclic.history[cyclic.tail];
    shapePenSelect(&f->pen, 0);
    MoveTable(cyclic.shadow, f);
    DrawTable(record, cyclic.shadow, f);
    shapePenRelease(&f->pen);
    cyclic.tail = (cyclic.tail + 1) % CYC_HISTORY;
}

static void EraseRemainingTrail(ModuleRecord* record)
{
    if (cyclic.trail >= CYC_HISTORY)
        return;
    while (cyclic.tail != cyclic.head)
        EraseOldestFrame(record);
}

static void DrawDriftRates(void)
{
    float k = (float)cyclic.k;
    cyclic.params.r0 = ((float)Random() / 32767.0f + 0.05f) / (3.0f * k);
    cyclic.params.r1 = ((float)Random() / 32767.0f + 0.05f) / (5.0f * k);
    cyclic.params.r2 = ((float)Random() / 32767.0f + 0.05f) / (4.0f * k);
}

static int LiveValue(ModuleRecord* record, int slot, float* value)
{
    if (!IsLiveSource(record->source[slot]))
        return 0;
    *value = EvaluateSlot(record, slot);
    return 1;
}

static int SafeK(int spasticity)
{
    int k = 51 - spasticity;
    return k < 1 ? 1 : k;   // the drift rates and the lifetime divide by it
}

// --- Entries --------------------------------------------------------------------

static void FreeBuffers(void)
{
    FreeBlock(cyclic.live);
    FreeBlock(cyclic.shadow);
    FreeBlock(cyclic.history);
    cyclic.live = 0;
    cyclic.shadow = 0;
    cyclic.history = 0;
}

void ViewCyclic(CyclicView* view)
{
    view->pulseRate = cyclic.pulseRate;
    view->shrink = cyclic.params.pen.shrink;
    view->spin = cyclic.params.pen.spin;
    view->r0 = cyclic.params.r0;
    view->r1 = cyclic.params.r1;
    view->r2 = cyclic.params.r2;
    view->deadline = cyclic.deadline;
    view->formulaX = cyclic.formulaX;
    view->formulaY = cyclic.formulaY;
}

int CyclicOpen(ModuleRecord*)
{
    FreeBuffers();
    cyclic.live = (CyclicTable*)AllocateBlock(sizeof(CyclicTable));
    cyclic.shadow = (CyclicTable*)AllocateBlock(sizeof(CyclicTable));
    cyclic.history = (CyclicParams*)AllocateBlock(sizeof(CyclicParams) * CYC_HISTORY);
    if (!cyclic.live || !cyclic.shadow || !cyclic.history) {
        OutputDebugStringA("Could not allocate buffers");
        FreeBuffers();
    }
    return 0;
}

int CyclicStart(ModuleRecord* record)
{
    if (!cyclic.live)
        return 0;
    RandomizeControls(record);
    EvaluateControls(record);

    int n = record->value[CYC_OBJECTS];
    cyclic.objectCount = n < 1 ? 1 : (n > CYC_MAX_OBJECTS ? CYC_MAX_OBJECTS : n);
    int spasticity = record->value[CYC_SPASTICITY];
    cyclic.k = SafeK(spasticity);
    cyclic.trail = 3 * record->value[CYC_TRAIL];
    if (cyclic.trail < 1)
        cyclic.trail = 1;
    int diameter = record->value[CYC_DIAMETER];
    cyclic.params.symmetry = record->value[CYC_SYMMETRY];
    float angleStep = (float)record->value[CYC_ROTATION] * 0.007f;
    int sides = record->value[CYC_SIDES];
    int type = record->value[CYC_TYPE];
    cyclic.params.xTiles = record->value[CYC_XTILES];
    cyclic.params.yTiles = record->value[CYC_YTILES];
    cyclic.params.tileType = record->value[CYC_TILETYPE];

    cyclic.pulseAngle = 0.0f;
    float numerator = (float)Random() / 32767.0f;
    cyclic.pulseRate = numerator / (float)(Random() % 5 + 5);
    cyclic.pulsating = diameter == 0;

    shapePenInit(record->dc, sides, type, 1 + spasticity / 5, diameter, angleStep, &cyclic.params.pen);

    cyclic.deadline = TickCount() + 1000u * (DWORD)(Random() % (10 * cyclic.k) + 20);
    DrawDriftRates();

    cyclic.centreX = record->width / 2;
    cyclic.centreY = record->height / 2;
    cyclic.formulaX = Random() % 8 + 1;
    cyclic.framesDrawn = 0;
    cyclic.amplitude = (float)cyclic.centreX;
    cyclic.formulaY = Random() % 8 + 1;

    InitTable(cyclic.shadow);
    InitTable(cyclic.live);
    MoveTable(cyclic.shadow, &cyclic.params);
    MoveTable(cyclic.live, &cyclic.params);

    cyclic.head = cyclic.tail = cyclic.trail < CYC_HISTORY ? cyclic.trail : 0;
    cyclic.colour = 0;
    cyclic.colourStep = 1;
    return 0;
}

int CyclicFrame(ModuleRecord* record)
{
    if (!cyclic.live)
        return 0;
    float value;
    if (cyclic.pulsating) {
        cyclic.pulseAngle += cyclic.pulseRate;
        cyclic.params.pen.shapeSize = (float)(fabs(70.0 * sin(cyclic.pulseAngle)) + 70.0);
    }
    if (LiveValue(record, CYC_SPASTICITY, &value)) {
        cyclic.k = SafeK(TruncToInt(value));
        DrawDriftRates();
    }
    if (LiveValue(record, CYC_DIAMETER, &value))
        cyclic.params.pen.shapeSize = value;
    if (LiveValue(record, CYC_SYMMETRY, &value))
        cyclic.params.symmetry = TruncToInt(value);
    if (LiveValue(record, CYC_ROTATION, &value))
        cyclic.params.pen.angleStep = value * 0.007f;
    if (LiveValue(record, CYC_XTILES, &value))
        cyclic.params.xTiles = TruncToInt(value);
    if (LiveValue(record, CYC_YTILES, &value))
        cyclic.params.yTiles = TruncToInt(value);

    cyclic.colour += cyclic.colourStep;
    if (cyclic.colour == 235 || cyclic.colour == 0)
        cyclic.colourStep = -cyclic.colourStep;

    cyclic.history[cyclic.head] = cyclic.params;

    shapePenSelect(&cyclic.params.pen, PALETTEINDEX(cyclic.colour));
    MoveTable(cyclic.live, &cyclic.params);
    DrawTable(record, cyclic.live, &cyclic.params);
    shapePenRelease(&cyclic.params.pen);

    if (cyclic.trail >= CYC_HISTORY || cyclic.framesDrawn < cyclic.trail)
        cyclic.framesDrawn += 1;
    else
        EraseOldestFrame(record);
    cyclic.head = (cyclic.head + 1) % CYC_HISTORY;

    if (TickPassed(TickCount(), cyclic.deadline)) {
        EraseRemainingTrail(record);
        CyclicStart(record);
    }
    return 0;
}

int CyclicClose(ModuleRecord* record)
{
    // A reset erases what is left of the trail; shutdown leaves the screen.
    if (renderRunning && cyclic.live)
        EraseRemainingTrail(record);
    FreeBuffers();
    return 0;
}
