// Placeholder entries until the Random module is built.
#include "modules/modules.h"

int RandomFrame(ModuleRecord*)
{
    return 0;
}

int RandomStart(ModuleRecord*)
{
    return 0;
}
