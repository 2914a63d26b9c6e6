// Placeholder entries until the Star module is built.
#include "modules/modules.h"

int StarFrame(ModuleRecord*)
{
    return 0;
}

int StarStart(ModuleRecord*)
{
    return 0;
}

int StarOpen(ModuleRecord*)
{
    return 0;
}

int StarClose(ModuleRecord*)
{
    return 0;
}
