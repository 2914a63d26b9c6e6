// Placeholder entries until the Bezier module is built.
#include "modules/modules.h"

int BezierFrame(ModuleRecord*)
{
    return 0;
}

int BezierStart(ModuleRecord*)
{
    return 0;
}

int BezierOpen(ModuleRecord*)
{
    return 0;
}

int BezierClose(ModuleRecord*)
{
    return 0;
}
