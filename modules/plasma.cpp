// Placeholder entries until the Plasma module is built.
#include "modules/modules.h"

int PlasmaFrame(ModuleRecord*)
{
    return 0;
}

int PlasmaStart(ModuleRecord*)
{
    return 0;
}

int PlasmaClose(ModuleRecord*)
{
    return 0;
}
