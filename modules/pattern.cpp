// Placeholder entries until the Pattern module is built.
#include "modules/modules.h"

int PatternFrame(ModuleRecord*)
{
    return 0;
}

int PatternStart(ModuleRecord*)
{
    return 0;
}

int PatternOpen(ModuleRecord*)
{
    return 0;
}

int PatternClose(ModuleRecord*)
{
    return 0;
}
