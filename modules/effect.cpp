// Placeholder entries until the Effect module is built.
#include "modules/modules.h"

int EffectFrame(ModuleRecord*)
{
    return 0;
}

int EffectStart(ModuleRecord*)
{
    return 0;
}

int EffectOpen(ModuleRecord*)
{
    return 0;
}
