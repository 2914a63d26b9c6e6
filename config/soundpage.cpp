// The Sound page and the analyzer launcher (placeholder until the page is built).
#include "config/configure.h"
#include "config/pages.h"

INT_PTR CALLBACK SoundPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

int LaunchAnalyzer(HWND, int)
{
    return 0;
}
