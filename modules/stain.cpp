// Placeholder entries until the Stain module is built.
#include "modules/modules.h"

int StainFrame(ModuleRecord*)
{
    return 0;
}

int StainStart(ModuleRecord*)
{
    return 0;
}

int StainOpen(ModuleRecord*)
{
    return 0;
}

int StainClose(ModuleRecord*)
{
    return 0;
}
