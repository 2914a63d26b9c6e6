// The outside view of a running saver for scripts/bench-saver.sh: waits for
// its window, counts its frames through the window's frame-counter message
// and reads the processor time of Linux processes (the saver, the X server)
// from /proc through Wine's Z: drive.
//
// Usage: vivra_saver_probe wait TIMEOUT_S
//        vivra_saver_probe measure SECONDS PID...   (PID: Linux process ids)
//        vivra_saver_probe close
#include "runtime/saver.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HWND FindSaver(void)
{
    HWND found = 0;
    for (HWND w = FindWindowExA(NULL, NULL, "WindowsScreenSaverClass", NULL); w;
         w = FindWindowExA(NULL, w, "WindowsScreenSaverClass", NULL))
        if (IsWindowVisible(w))
            found = w;
    return found;
}

static long Frames(HWND window)
{
    static UINT message = RegisterWindowMessageA(FRAME_COUNTER_MESSAGE);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, 0, 0, SMTO_ABORTIFHUNG, 2000, &result))
        return -1;
    return (long)result;
}

static double Now(void)
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

// User plus system time of a Linux process in clock ticks (1/100 s), or -1.
static long long ProcessTicks(const char* pid)
{
    char path[64];
    snprintf(path, sizeof(path), "Z:\\proc\\%s\\stat", pid);
    FILE* file = fopen(path, "rb");
    if (!file)
        return -1;
    char line[1024];
    size_t n = fread(line, 1, sizeof(line) - 1, file);
    fclose(file);
    line[n] = 0;
    // The command name may hold blanks: the fields count from its closing ')'.
    const char* p = strrchr(line, ')');
    if (!p)
        return -1;
    unsigned long long utime = 0, stime = 0;
    int field = 2;
    for (++p; *p && field < 15; ++p) {
        if (*p != ' ')
            continue;
        ++field;
        if (field == 14)
            utime = strtoull(p + 1, NULL, 10);
        if (field == 15)
            stime = strtoull(p + 1, NULL, 10);
    }
    return (long long)(utime + stime);
}

int main(int argc, char** argv)
{
    if (argc >= 3 && !strcmp(argv[1], "wait")) {
        double until = Now() + atof(argv[2]);
        while (Now() < until) {
            HWND window = FindSaver();
            if (window && Frames(window) >= 10)
                return 0;
            Sleep(100);
        }
        fprintf(stderr, "no rendering saver window\n");
        return 1;
    }
    if (argc >= 3 && !strcmp(argv[1], "measure")) {
        HWND window = FindSaver();
        if (!window)
            return 1;
        int count = argc - 3;
        if (count > 8)
            count = 8;
        long long before[8], after[8];
        for (int i = 0; i < count; ++i)
            before[i] = ProcessTicks(argv[3 + i]);
        double t0 = Now();
        long f0 = Frames(window);
        Sleep((DWORD)(atof(argv[2]) * 1000));
        long f1 = Frames(window);
        double t1 = Now();
        for (int i = 0; i < count; ++i)
            after[i] = ProcessTicks(argv[3 + i]);
        double seconds = t1 - t0;
        printf("%8.1f", f0 >= 0 && f1 >= 0 ? (f1 - f0) / seconds : -1.0);
        for (int i = 0; i < count; ++i) {
            if (before[i] < 0 || after[i] < 0)
                printf("       -");
            else
                printf(" %6.1f%%", (after[i] - before[i]) / seconds);   // ticks of 10 ms: per cent
        }
        printf("\n");
        return f0 >= 0 && f1 >= 0 ? 0 : 1;
    }
    if (argc >= 2 && !strcmp(argv[1], "close")) {
        HWND window = FindSaver();
        if (window)
            PostMessageA(window, WM_KEYDOWN, 'Q', 0);
        return 0;
    }
    fprintf(stderr, "usage: vivra_saver_probe wait S | measure S PID... | close\n");
    return 2;
}
