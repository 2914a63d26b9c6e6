#include "runtime/common.h"
#include <string.h>

volatile unsigned int randomState = 1;

void SeedRandom(unsigned int seed)
{
    randomState = seed;
}

int Random(void)
{
    unsigned int next = randomState * 214013u + 2531011u;
    randomState = next;
    return (int)((next >> 16) & 32767u);
}

static TickSource tickSource = 0;

DWORD TickCount(void)
{
    TickSource source = tickSource;
    return source ? source() : GetTickCount();
}

void SetTickSource(TickSource source)
{
    tickSource = source;
}

double PreciseTickCount(void)
{
    TickSource source = tickSource;
    if (source)
        return (double)source();
    static LARGE_INTEGER frequency = {};
    LARGE_INTEGER counter;
    if (!frequency.QuadPart && !QueryPerformanceFrequency(&frequency))
        frequency.QuadPart = 0;
    if (frequency.QuadPart <= 0 || !QueryPerformanceCounter(&counter))
        return (double)GetTickCount();
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

int CoversMonitor(const RECT* client, const RECT* monitor, const RECT* virtualScreen)
{
    return (monitor && EqualRect(client, monitor)) || (virtualScreen && EqualRect(client, virtualScreen));
}

int CoversScreen(HWND window)
{
    RECT client;
    SetRectEmpty(&client);
    if (!GetClientRect(window, &client) || IsRectEmpty(&client))
        return 0;
    MapWindowPoints(window, NULL, (POINT*)&client, 2);
    // The monitor the window lies on (most of it), or all monitors together:
    // with several monitors the saver window spans the virtual screen.
    MONITORINFO info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    const RECT* covered = monitor && GetMonitorInfoA(monitor, &info) ? &info.rcMonitor : 0;
    RECT virtualScreen;
    virtualScreen.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    virtualScreen.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    virtualScreen.right = virtualScreen.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    virtualScreen.bottom = virtualScreen.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    return CoversMonitor(&client, covered, &virtualScreen);
}
