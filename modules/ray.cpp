// Placeholder entries until the Ray module is built.
#include "modules/modules.h"

int RayFrame(ModuleRecord*)
{
    return 0;
}

int RayStart(ModuleRecord*)
{
    return 0;
}

int RayOpen(ModuleRecord*)
{
    return 0;
}

int RayClose(ModuleRecord*)
{
    return 0;
}
