// Placeholder entries until the Cyclic module is built.
#include "modules/modules.h"

int CyclicFrame(ModuleRecord*)
{
    return 0;
}

int CyclicStart(ModuleRecord*)
{
    return 0;
}

int CyclicOpen(ModuleRecord*)
{
    return 0;
}

int CyclicClose(ModuleRecord*)
{
    return 0;
}
