// Polygon: one filled polygon a frame whose vertices bounce about the
// surface, repeated in rotated copies and tiles, its colour walking the
// palette so the trail forms bands.
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "graphics/surface.h"
#include "graphics/shapes.h"

enum {
    POLY_VERTICES = 0, POLY_SYMMETRY = 1, POLY_SPEED = 2, POLY_OUTLINE = 3,
    POLY_XTILES = 4, POLY_YTILES = 5, POLY_TILETYPE = 6
};
enum { POLY_MAX_VERTICES = 20, POLY_MAX_FIXED_SPEED = 100, POLY_RESTART_MS = 100000 };

struct PolygonState {
    int vertexCount;
    int symmetry;
    int speed;
    bool outline;
    int xTiles;
    int yTiles;
    int tileType;
    int tileWidth;
    int tileHeight;
    int centreX;
    int centreY;
    float symmetryAngle;
    POINT vertices[POLY_MAX_VERTICES];
    POINT velocities[POLY_MAX_VERTICES];
    int colour;
    int colourStep;
    DWORD restartTime;
};

static PolygonState polygon;

// A live control's current value, truncated; 0 when the source is not live.
static int LiveValue(ModuleRecord* record, int slot, int* value)
{
    if (!IsLiveSource(record->source[slot]))
        return 0;
    *value = TruncToInt(EvaluateSlot(record, slot));
    return 1;
}

static void PolygonGeometry(ModuleRecord* record)
{
    // Tiles and copies below one would divide by zero or draw nothing.
    if (polygon.xTiles < 1)
        polygon.xTiles = 1;
    if (polygon.yTiles < 1)
        polygon.yTiles = 1;
    if (polygon.symmetry < 1)
        polygon.symmetry = 1;
    polygon.symmetryAngle = 6.2832f / (float)polygon.symmetry;
    polygon.tileWidth = record->width / polygon.xTiles;
    polygon.tileHeight = record->height / polygon.yTiles;
}

int PolygonStart(ModuleRecord* record)
{
    RandomizeControls(record);
    EvaluateControls(record);
    polygon.vertexCount = record->value[POLY_VERTICES];
    polygon.symmetry = record->value[POLY_SYMMETRY];
    polygon.speed = record->value[POLY_SPEED];
    polygon.outline = record->value[POLY_OUTLINE] != 0;
    polygon.xTiles = record->value[POLY_XTILES];
    polygon.yTiles = record->value[POLY_YTILES];
    polygon.tileType = record->value[POLY_TILETYPE];
    if (polygon.speed > POLY_MAX_FIXED_SPEED)
        polygon.speed = POLY_MAX_FIXED_SPEED;
    if (polygon.vertexCount < 2)
        polygon.vertexCount = 2;
    if (polygon.vertexCount > POLY_MAX_VERTICES)
        polygon.vertexCount = POLY_MAX_VERTICES;

    polygon.colourStep = 1;
    polygon.colour = 1;
    if (polygon.vertexCount == 2)
        polygon.outline = true;   // a two-vertex polygon shows only its outline

    PolygonGeometry(record);
    polygon.centreX = record->width >> 1;
    polygon.centreY = record->height >> 1;

    int spanX = polygon.tileWidth > 0 ? polygon.tileWidth : 1;
    int spanY = polygon.tileHeight > 0 ? polygon.tileHeight : 1;
    for (int i = polygon.vertexCount - 1; i >= 0; --i) {
        polygon.vertices[i].x = Random() % spanX;
        polygon.vertices[i].y = Random() % spanY;
        polygon.velocities[i].x = Random() % 2 == 0 ? 1 : -1;
        polygon.velocities[i].y = Random() % 2 == 0 ? 1 : -1;
    }
    polygon.restartTime = TickCount() + POLY_RESTART_MS;
    return 0;
}

// The vertex list scaled into a tile and drawn directly into every admitted
// tile (not copied, not mirrored).
static void DrawTiledPolygon(HDC dc, const POINT* points)
{
    POINT scaled[POLY_MAX_VERTICES];
    POINT moved[POLY_MAX_VERTICES];
    int count = polygon.vertexCount;
    for (int v = 0; v < count; ++v) {
        scaled[v].x = points[v].x / polygon.xTiles;
        scaled[v].y = points[v].y / polygon.yTiles;
    }
    for (int i = 0; i < polygon.xTiles; ++i)
        for (int j = 0; j < polygon.yTiles; ++j) {
            if (!TileAdmitted(i, j, polygon.tileType))
                continue;
            int offsetX = i * polygon.tileWidth;
            int offsetY = j * polygon.tileHeight;
            for (int v = 0; v < count; ++v) {
                moved[v].x = scaled[v].x + offsetX;
                moved[v].y = scaled[v].y + offsetY;
            }
            Polygon(dc, moved, count);
        }
}

static void DrawPolygonSet(HDC dc)
{
    if (polygon.symmetry == 1) {
        DrawTiledPolygon(dc, polygon.vertices);
        return;
    }
    POINT copy[POLY_MAX_VERTICES];
    for (int k = 0; k < polygon.symmetry; ++k) {
        float theta = polygon.symmetryAngle * (float)k;
        for (int v = 0; v < polygon.vertexCount; ++v) {
            copy[v] = polygon.vertices[v];
            RotateAbout(&copy[v], theta, polygon.centreX, polygon.centreY);
        }
        DrawTiledPolygon(dc, copy);
    }
}

static void MoveVertices(int width, int height)
{
    for (int v = 0; v < polygon.vertexCount; ++v) {
        POINT* p = &polygon.vertices[v];
        POINT* d = &polygon.velocities[v];
        // The bounce happens only beyond the surface: x = width stays.
        int nx = p->x + d->x * polygon.speed;
        if (nx < 0 || nx > width)
            d->x = -d->x;
        else
            p->x = nx;
        int ny = p->y + d->y * polygon.speed;
        if (ny < 0 || ny > height)
            d->y = -d->y;
        else
            p->y = ny;
    }
}

int PolygonFrame(ModuleRecord* record)
{
    LiveValue(record, POLY_SYMMETRY, &polygon.symmetry);
    LiveValue(record, POLY_SPEED, &polygon.speed);
    LiveValue(record, POLY_XTILES, &polygon.xTiles);
    LiveValue(record, POLY_YTILES, &polygon.yTiles);
    PolygonGeometry(record);

    polygon.colour += polygon.colourStep;
    if (polygon.colour == 235 || polygon.colour == 0)
        polygon.colourStep = -polygon.colourStep;

    HDC dc = record->dc;
    HPEN outlinePen = 0;
    if (polygon.outline) {
        outlinePen = CreatePen(PS_SOLID, 1, PALETTEINDEX(236 - polygon.colour));
        SelectObject(dc, outlinePen);
    } else {
        SelectObject(dc, GetStockObject(NULL_PEN));
    }
    HBRUSH fill = CreateSolidBrush(PALETTEINDEX(polygon.colour));
    SelectObject(dc, fill);

    DrawPolygonSet(dc);

    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    DeleteObject(fill);
    if (outlinePen) {
        SelectObject(dc, GetStockObject(NULL_PEN));
        DeleteObject(outlinePen);
    }

    MoveVertices(record->width, record->height);
    if (TickPassed(TickCount(), polygon.restartTime))
        PolygonStart(record);
    return 0;
}

int PolygonClose(ModuleRecord*)
{
    return 0;
}
