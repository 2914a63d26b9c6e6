#include "runtime/threadguard.h"
#include "runtime/saver.h"
#include <windows.h>

// GCC offers no __try; the process-wide unhandled-exception filter runs on
// the faulting thread, so it can end a guarded thread there and let the
// others go on.
enum { MAX_GUARDED = 8 };
static volatile DWORD guardedThreads[MAX_GUARDED];
static LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = 0;
static volatile LONG filterInstalled = 0;

static int IsGuarded(DWORD threadId)
{
    for (int i = 0; i < MAX_GUARDED; ++i)
        if (guardedThreads[i] == threadId)
            return 1;
    return 0;
}

static LONG WINAPI GuardFilter(EXCEPTION_POINTERS* exception)
{
    DWORD self = GetCurrentThreadId();
    if (IsGuarded(self)) {
        renderRunning = 0;
        UnguardCurrentThread();
        OutputDebugStringA("Vivra: a fault ended a worker thread\n");
        ExitThread(0);
    }
    return previousFilter ? previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void GuardCurrentThread(void)
{
    if (InterlockedExchange(&filterInstalled, 1) == 0)
        previousFilter = SetUnhandledExceptionFilter(GuardFilter);
    DWORD self = GetCurrentThreadId();
    for (int i = 0; i < MAX_GUARDED; ++i)
        if (InterlockedCompareExchange((volatile LONG*)&guardedThreads[i], (LONG)self, 0) == 0)
            return;
}

void UnguardCurrentThread(void)
{
    DWORD self = GetCurrentThreadId();
    for (int i = 0; i < MAX_GUARDED; ++i)
        if (guardedThreads[i] == self)
            guardedThreads[i] = 0;
}
