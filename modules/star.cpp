// Star: a star field flying toward the viewer. Every visible star draws a
// streak from its new screen position to its previous one, as a pen stroke
// or a row of turning shapes, with rotated copies and tiles.
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include "graphics/surface.h"
#include "graphics/shapes.h"
#include <math.h>

enum {
    STAR_COUNT = 0, STAR_SIZE = 1, STAR_SPEED = 2, STAR_XREVOLVE = 3, STAR_YREVOLVE = 4,
    STAR_ZREVOLVE = 5, STAR_ROTATION = 6, STAR_SIDES = 7, STAR_TYPE = 8, STAR_XTILES = 10,
    STAR_YTILES = 11, STAR_TILETYPE = 12, STAR_SYMMETRY = 13
};
enum { STAR_MAX = 99, STAR_TUNNEL_COUNT = 20 };

// --- The 3-D view -----------------------------------------------------------------

struct Vector3 {
    double x, y, z;
};

struct View3D;
// Projects a point; returns 1 when it is clipped (not drawable).
typedef int (*ViewProjection)(View3D* view, const Vector3* point, int* sx, int* sy);

struct View3D {
    int clipToBox;      // 0: only test whether a point is behind the camera
    int outsideBox;
    int behindCamera;
    double viewWidth, viewHeight, viewCentreX, viewCentreY;
    double focal;
    double minX, minY, minZ, maxX, maxY, maxZ;
    Vector3 camera;
    Vector3 rotation;
    ViewProjection project;
};

static void VectorTranslate(Vector3* v, const Vector3* by)
{
    v->x += by->x;
    v->y += by->y;
    v->z += by->z;
}

// About z, then x, then y.
static void VectorRotate(Vector3* v, double ax, double ay, double az)
{
    double x1 = sin(az) * v->y + cos(az) * v->x;
    double y1 = cos(az) * v->y - sin(az) * v->x;
    double y2 = sin(ax) * v->z + cos(ax) * y1;
    double z1 = cos(ax) * v->z - sin(ax) * y1;
    double z2 = sin(ay) * x1 + cos(ay) * z1;
    double x2 = cos(ay) * x1 - sin(ay) * z1;
    v->x = x2;
    v->y = y2;
    v->z = z2;
}

static void viewSize(View3D* view, const RECT* rect)
{
    view->viewWidth = rect->right;
    view->viewHeight = rect->bottom;
    view->viewCentreX = view->viewWidth * 0.5;
    view->viewCentreY = view->viewHeight * 0.5;
    view->minX = -view->viewWidth;
    view->minY = -view->viewHeight;
    view->minZ = view->camera.z;
    view->maxX = view->viewWidth;
    view->maxY = view->viewHeight;
    view->maxZ = view->focal;
}

static int viewProject(View3D* view, const Vector3* point, int* sx, int* sy)
{
    Vector3 q = *point;
    Vector3 back = {-view->camera.x, -view->camera.y, -view->camera.z};
    VectorTranslate(&q, &back);
    VectorRotate(&q, view->rotation.x, view->rotation.y, view->rotation.z);
    VectorTranslate(&q, &view->camera);
    *sx = 0;
    *sy = 0;
    view->outsideBox = 0;
    view->behindCamera = 0;
    if (view->clipToBox &&
        !(view->minX < q.x && q.x < view->maxX && view->minY < q.y && q.y < view->maxY &&
          view->minZ < q.z && q.z < view->maxZ)) {
        view->outsideBox = 1;
        return 1;
    }
    // A point in the camera's own plane has no projection: clipped as well.
    if (view->camera.z >= q.z) {
        view->behindCamera = 1;
        return 1;
    }
    double d = q.z - view->camera.z;
    *sx = TruncToInt(view->camera.x + (q.x - view->camera.x) / d * view->focal + view->viewCentreX);
    *sy = TruncToInt(view->viewCentreY - ((q.y - view->camera.y) / d * view->focal + view->camera.y));
    return 0;
}

static View3D* viewCreate(HWND window)
{
    View3D* view = (View3D*)GlobalAlloc(GPTR, sizeof(View3D));
    if (!view)
        return 0;
    RECT rect = {0, 0, 320, 200};
    if (window)
        GetClientRect(window, &rect);
    viewSize(view, &rect);
    view->outsideBox = 0;
    view->behindCamera = 0;
    view->clipToBox = 0;
    view->focal = 200.0;
    view->project = viewProject;
    view->camera.x = 0.0;
    view->camera.y = 0.0;
    view->camera.z = -125.0;
    view->rotation.x = view->rotation.y = view->rotation.z = 0.0;
    return view;
}

static void viewFree(View3D* view)
{
    if (view)
        GlobalFree(view);
}

// --- The star field ----------------------------------------------------------------

struct StarPoint {
    Vector3 position;
    int sx, sy;
};

struct StarState {
    StarPoint stars[STAR_MAX];
    double revolveX, revolveY, revolveZ;
    int starCount;
    int starSize;
    int speed;
    int colourCounter;
    int xTiles, yTiles, tileType;
    int width, centreX, height, centreY;
    int symmetry;
    bool tunnel;
    ShapePen pen;
    float symmetryAngle;
    View3D* view;
};

static StarState star;

static void SpawnStar(StarPoint* s)
{
    if (star.tunnel) {
        double a = Random() / 32767.0 * 6.28;
        s->position.x = sin(a) * 90.0;
        s->position.y = cos(a) * 90.0;
        s->position.z = Random() / 32767.0 * 150.0 + 200.0;
    } else {
        s->position.x = Random() / 32767.0 * (4.0 * star.width) - 4.0 * star.centreX;
        s->position.y = Random() / 32767.0 * (4.0 * star.height) - 4.0 * star.centreY;
        s->position.z = Random() / 32767.0 * (4.0 * star.width);
    }
    star.view->project(star.view, &s->position, &s->sx, &s->sy);
}

// The copies' turns, worked out once per symmetry: at most symmetry a
// hundred thousand points a frame are turned by the same few angles.
enum { MAX_TURNS = 128 };
static long double turnCos[MAX_TURNS], turnSin[MAX_TURNS];

// A star's new position this frame is the one its streak starts from next
// frame: its copies' turns are kept for it, by the point and the turns they
// were worked out for.
int starTurnReuse = 1;
struct KeptTurns {
    int x, y, serial, count;
    POINT turned[MAX_TURNS];
};
static KeptTurns keptTurns[STAR_MAX];
static int turnSerial;

static void SetSymmetry(int symmetry)
{
    ++turnSerial;
    star.symmetry = symmetry < 1 ? 1 : symmetry;
    star.symmetryAngle = 6.2832f / (float)star.symmetry;
    for (int j = 0; j < star.symmetry && j < MAX_TURNS; ++j) {
        float angle = (float)j * star.symmetryAngle;
        turnCos[j] = cosl(angle);
        turnSin[j] = sinl(angle);
    }
}

// A point turned about the centre by copy j's angle.
static void TurnCopy(POINT* p, int j)
{
    if (j >= MAX_TURNS) {
        RotateAbout(p, (float)j * star.symmetryAngle, star.centreX, star.centreY);
        return;
    }
    p->x -= star.centreX;
    p->y -= star.centreY;
    RotatePointBy(p, turnCos[j], turnSin[j]);
    p->x += star.centreX;
    p->y += star.centreY;
}

static int LiveValue(ModuleRecord* record, int slot, double* value)
{
    if (!IsLiveSource(record->source[slot]))
        return 0;
    *value = EvaluateSlot(record, slot);
    return 1;
}

static void TiledStreak(int x1, int y1, int x2, int y2)
{
    shapeTiledLine(x1, y1, x2, y2, star.width, star.height, star.xTiles, star.yTiles, star.tileType, &star.pen);
}

static void TiledStreaks(const POINT* ends, int lines)
{
    shapeTiledLines(ends, lines, star.width, star.height, star.xTiles, star.yTiles, star.tileType, &star.pen);
}

void ViewStars(StarView* view)
{
    view->count = star.starCount;
    view->shrink = star.pen.shrink;
    view->spin = star.pen.spin;
    for (int i = 0; i < star.starCount && i < STAR_MAX; ++i) {
        view->x[i] = star.stars[i].position.x;
        view->y[i] = star.stars[i].position.y;
        view->z[i] = star.stars[i].position.z;
    }
}

int StarOpen(ModuleRecord*)
{
    viewFree(star.view);
    star.view = viewCreate(NULL);
    if (!star.view)
        OutputDebugStringA("Could not allocate buffers");
    return 0;
}

int StarStart(ModuleRecord* record)
{
    if (!star.view)
        return 0;
    RandomizeControls(record);
    EvaluateControls(record);
    int count = record->value[STAR_COUNT];
    star.starCount = count < 0 ? 0 : (count > STAR_MAX ? STAR_MAX : count);
    star.starSize = record->value[STAR_SIZE];
    star.speed = record->value[STAR_SPEED];
    star.revolveX = record->value[STAR_XREVOLVE] * 0.0004;
    star.revolveY = record->value[STAR_YREVOLVE] * 0.0004;
    star.revolveZ = record->value[STAR_ZREVOLVE] * 0.0004;
    float rotation = (float)record->value[STAR_ROTATION] * 0.007f;
    int sides = record->value[STAR_SIDES];
    star.xTiles = record->value[STAR_XTILES];
    star.yTiles = record->value[STAR_YTILES];
    star.tileType = record->value[STAR_TILETYPE];
    SetSymmetry(record->value[STAR_SYMMETRY]);
    int type = record->value[STAR_TYPE];

    star.tunnel = star.starCount == 0;
    if (star.tunnel)
        star.starCount = STAR_TUNNEL_COUNT;

    shapePenInit(record->dc, sides, type, star.speed / 5 + 1, star.starSize, rotation, &star.pen);

    RECT rect = {0, 0, record->width, record->height};
    viewSize(star.view, &rect);
    star.width = record->width;
    star.height = record->height;
    star.centreX = star.width >> 1;
    star.centreY = star.height >> 1;
    star.colourCounter = 0;

    for (int i = star.starCount - 1; i >= 0; --i)
        SpawnStar(&star.stars[i]);
    return 0;
}

int StarFrame(ModuleRecord* record)
{
    if (!star.view)
        return 0;
    star.colourCounter += 1;
    if (star.colourCounter >= 236)
        star.colourCounter = 0;
    shapePenSelect(&star.pen, PALETTEINDEX(star.colourCounter));

    double value;
    if (LiveValue(record, STAR_SIZE, &value)) {
        star.starSize = TruncToInt(value);
        star.pen.shapeSize = (float)star.starSize;
    }
    if (LiveValue(record, STAR_SPEED, &value))
        star.speed = TruncToInt(value);
    if (LiveValue(record, STAR_XREVOLVE, &value))
        star.revolveX = value * 0.0004;
    if (LiveValue(record, STAR_YREVOLVE, &value))
        star.revolveY = value * 0.0004;
    if (LiveValue(record, STAR_ZREVOLVE, &value))
        star.revolveZ = value * 0.0004;
    if (LiveValue(record, STAR_ROTATION, &value))
        star.pen.angleStep = (float)value * 0.007f;
    if (LiveValue(record, STAR_XTILES, &value))
        star.xTiles = TruncToInt(value);
    if (LiveValue(record, STAR_YTILES, &value))
        star.yTiles = TruncToInt(value);
    if (LiveValue(record, STAR_SYMMETRY, &value))
        SetSymmetry(TruncToInt(value));

    for (int i = 0; i < star.starCount; ++i) {
        StarPoint* s = &star.stars[i];
        s->position.z -= star.speed;
        int ox = s->sx, oy = s->sy;
        VectorRotate(&s->position, star.revolveX, star.revolveY, star.revolveZ);
        if (star.view->project(star.view, &s->position, &s->sx, &s->sy)) {
            // Passed behind the camera: a new star, and no streak this frame.
            SpawnStar(s);
            continue;
        }
        if (!(ox > 0 && ox < star.width && oy > 0 && oy < star.height))
            continue;
        if (star.symmetry > 1) {
            // The copies go to the shapes as one run of lines of one pen.
            POINT ends[2 * MAX_TURNS];
            int lines = 0;
            KeptTurns* kept = &keptTurns[i];
            int reuse = starTurnReuse && kept->serial == turnSerial && kept->x == ox && kept->y == oy;
            int keep = starTurnReuse, copies = 0;
            for (int j = 0; j < star.symmetry && !FrameBudgetSpent(); ++j) {
                copies = j + 1;
                POINT* now = &ends[2 * lines];
                POINT* before = now + 1;
                now->x = s->sx;
                now->y = s->sy;
                TurnCopy(now, j);
                if (reuse && j < kept->count) {
                    *before = kept->turned[j];
                } else {
                    before->x = ox;
                    before->y = oy;
                    TurnCopy(before, j);
                }
                if (keep && j < MAX_TURNS)
                    kept->turned[j] = *now;
                if (++lines == MAX_TURNS) {
                    TiledStreaks(ends, lines);
                    lines = 0;
                }
            }
            TiledStreaks(ends, lines);
            if (keep) {
                kept->x = s->sx;
                kept->y = s->sy;
                kept->serial = turnSerial;
                kept->count = copies < MAX_TURNS ? copies : MAX_TURNS;
            }
        } else if (!FrameBudgetSpent()) {
            TiledStreak(s->sx, s->sy, ox, oy);
        }
    }
    star.pen.angle += star.pen.angleStep;
    shapePenRelease(&star.pen);
    return 0;
}

int StarClose(ModuleRecord*)
{
    viewFree(star.view);
    star.view = 0;
    return 0;
}
