// Display mode switching is not built yet: the saver always runs in the
// desktop's mode.
#include "runtime/displaymode.h"

int SwitchDisplayMode(HWND)
{
    return 0;
}

void RestoreDisplayMode(HWND)
{
}

int ReleaseDisplayMode(void)
{
    return 1;
}
