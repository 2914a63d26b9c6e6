// Placeholder entries until the Sphere module is built.
#include "modules/modules.h"

int SphereFrame(ModuleRecord*)
{
    return 0;
}

int SphereStart(ModuleRecord*)
{
    return 0;
}

int SphereOpen(ModuleRecord*)
{
    return 0;
}

int SphereClose(ModuleRecord*)
{
    return 0;
}
