// Placeholder entries until the Vortex module is built.
#include "modules/modules.h"

int VortexFrame(ModuleRecord*)
{
    return 0;
}

int VortexStart(ModuleRecord*)
{
    return 0;
}

int VortexClose(ModuleRecord*)
{
    return 0;
}
