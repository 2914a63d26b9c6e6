#include "runtime/common.h"

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

int CoversScreen(HWND window)
{
    RECT client;
    SetRectEmpty(&client);
    GetClientRect(window, &client);
    HDC screen = GetDC(NULL);
    int full = client.right == GetDeviceCaps(screen, HORZRES) && client.bottom == GetDeviceCaps(screen, VERTRES);
    ReleaseDC(NULL, screen);
    return full;
}
