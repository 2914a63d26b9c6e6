// Meters of what a process really holds under Wine: live GDI objects (from
// the process's GDI handle table), open handles (from the system handle
// list) and memory counters. Wine's GetGuiResources and
// GetProcessHandleCount answer 0, so they would pass any leak.
#pragma once
#include <windows.h>

// Live GDI objects of a process, or -1 when its table cannot be read.
long GdiObjects(HANDLE process);
// Open handles of a process, from the system handle list, or -1.
long ProcessHandles(DWORD processId);
// Committed private memory and working set; 0 on failure.
int ReadMemory(HANDLE process, SIZE_T* privateBytes, SIZE_T* workingSet);
