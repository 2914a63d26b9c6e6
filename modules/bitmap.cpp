// Placeholder entries until the Bitmap module is built.
#include "modules/modules.h"

int BitmapFrame(ModuleRecord*)
{
    return 0;
}

int BitmapStart(ModuleRecord*)
{
    return 0;
}

int BitmapOpen(ModuleRecord*)
{
    return 0;
}

int BitmapClose(ModuleRecord*)
{
    return 0;
}
