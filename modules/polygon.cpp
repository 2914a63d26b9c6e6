// Placeholder entries until the Polygon module is built.
#include "modules/modules.h"

int PolygonFrame(ModuleRecord*)
{
    return 0;
}

int PolygonStart(ModuleRecord*)
{
    return 0;
}

int PolygonClose(ModuleRecord*)
{
    return 0;
}
