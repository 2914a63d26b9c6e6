#include "support/meters.h"
#include <winternl.h>
#include <psapi.h>
#include <vector>

namespace {

typedef NTSTATUS(NTAPI* QueryProcessFunction)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
typedef NTSTATUS(NTAPI* QuerySystemFunction)(ULONG, PVOID, ULONG, PULONG);

// Wine keeps one GDI handle table per process, in the 64-bit entry layout
// (24 bytes: object, owner, unique, type, flags, user pointer) for 65536
// handles; an entry is in use while its type byte is not 0. The PEB holds
// its address at offset 0x94 (32-bit) or 0xF8 (64-bit).
enum {
    GDI_ENTRY_SIZE = 24,
    GDI_TYPE_OFFSET = 14,
    GDI_HANDLES = 65536,
    PEB_GDI_TABLE = sizeof(void*) == 8 ? 0xF8 : 0x94,
    HANDLE_LIST_CLASS = 16
};

ULONG_PTR GdiTableAddress(HANDLE process)
{
    QueryProcessFunction query = reinterpret_cast<QueryProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    if (!query)
        return 0;
    PROCESS_BASIC_INFORMATION info;
    ZeroMemory(&info, sizeof(info));
    ULONG length = 0;
    if (query(process, ProcessBasicInformation, &info, sizeof(info), &length) != 0)
        return 0;
    ULONG_PTR table = 0;
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, (BYTE*)info.PebBaseAddress + PEB_GDI_TABLE, &table, sizeof(table), &read))
        return 0;
    return table;
}

}  // namespace

// Live GDI objects of a process, or -1 when its table cannot be read.
long GdiObjects(HANDLE process)
{
    ULONG_PTR table = GdiTableAddress(process);
    if (!table)
        return -1;
    static std::vector<BYTE> entries((size_t)GDI_ENTRY_SIZE * GDI_HANDLES);
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, (const void*)table, entries.data(), entries.size(), &read) || read == 0)
        return -1;
    long used = 0;
    for (size_t offset = GDI_TYPE_OFFSET; offset < read; offset += GDI_ENTRY_SIZE)
        used += entries[offset] != 0;
    return used;
}

// Open handles of a process, from the system handle list, or -1.
long ProcessHandles(DWORD processId)
{
    QuerySystemFunction query = reinterpret_cast<QuerySystemFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    struct Entry {
        ULONG processId;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    static std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG length = 0;
        NTSTATUS status = query(HANDLE_LIST_CLASS, buffer.data(), (ULONG)buffer.size(), &length);
        if (status == 0) {
            ULONG count = *(ULONG*)buffer.data();
            const Entry* entry = (const Entry*)(buffer.data() + sizeof(ULONG_PTR));
            if ((count + 1) * sizeof(Entry) > buffer.size())
                return -1;
            long mine = 0;
            for (ULONG i = 0; i < count; ++i)
                mine += entry[i].processId == processId;
            return mine;
        }
        buffer.resize(buffer.size() * 2);
    }
    return -1;
}


int ReadMemory(HANDLE process, SIZE_T* privateBytes, SIZE_T* workingSet)
{
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof(counters));
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters)))
        return 0;
    *privateBytes = counters.PagefileUsage;
    *workingSet = counters.WorkingSetSize;
    return 1;
}

