#include "runtime/platform.h"
#include "runtime/scrnsave.h"
#include <stdio.h>
#include <string.h>

// A file we may create and delete proves the right to write there; the
// folder's security settings alone do not tell what this token may do.
static int ProbeSystemFolder(void)
{
    char folder[MAX_PATH], probe[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, sizeof(folder));
    if (!length || length >= sizeof(folder))
        return 0;
    if (snprintf(probe, sizeof(probe), "%s\\vivra-%lu.tmp", folder, GetCurrentProcessId()) >= (int)sizeof(probe))
        return 0;
    HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}

// WinHelp came with Windows up to XP and Server 2003 (major version 5). From
// Vista on, winhlp32.exe is a stub that only says WinHelp is gone unless the
// user installed it separately, and that cannot be told from the file
// reliably; so from version 6 on the HTML pages are always used, and before
// it WinHelp is used when winhlp32.exe is there.
static int ProbeWinHelp(void)
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version) || version.dwMajorVersion >= 6)
        return 0;
    char path[MAX_PATH];
    UINT length = GetWindowsDirectoryA(path, MAX_PATH - 16);
    if (!length || length >= MAX_PATH - 16)
        return 0;
    lstrcatA(path, "\\winhlp32.exe");
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static BOOL RealShellExecute(SHELLEXECUTEINFOA* info)
{
    return ShellExecuteExA(info);
}

PlatformAnswers platform = {ProbeSystemFolder, ProbeWinHelp, RealShellExecute};

int StartedElevated(void)
{
    const char* arguments = GetCommandLineArguments();
    while (*arguments == ' ' || *arguments == '\t')
        ++arguments;
    size_t length = strlen(ELEVATED_SWITCH);
    return _strnicmp(arguments, ELEVATED_SWITCH, length) == 0 &&
           (arguments[length] == ' ' || arguments[length] == 0);
}

// --- Simulated answers ----------------------------------------------------------

static int declineElevation = 0;
static char shellRecord[MAX_PATH];

static int SimulatedSystemFolder(void)
{
    // As under UAC: only the elevated restart may write there.
    return StartedElevated();
}

static int SimulatedNoWinHelp(void)
{
    return 0;
}

static BOOL SimulatedShellExecute(SHELLEXECUTEINFOA* info)
{
    if (declineElevation && info->lpVerb && lstrcmpiA(info->lpVerb, "runas") == 0) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    if (!shellRecord[0])
        return ShellExecuteExA(info);
    HANDLE file = CreateFileA(shellRecord, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    char line[3 * MAX_PATH + 8];
    int length = snprintf(line, sizeof(line), "%s|%s|%s\r\n", info->lpVerb ? info->lpVerb : "",
                          info->lpFile ? info->lpFile : "", info->lpParameters ? info->lpParameters : "");
    DWORD written = 0;
    WriteFile(file, line, length < (int)sizeof(line) ? length : (int)sizeof(line) - 1, &written, NULL);
    CloseHandle(file);
    info->hInstApp = (HINSTANCE)42;   // what a successful start reports
    return TRUE;
}

static void SimulateUnelevated(const char*)
{
    platform.canWriteSystemFolder = SimulatedSystemFolder;
}

static void SimulateDeclined(const char*)
{
    declineElevation = 1;
    platform.shellExecute = SimulatedShellExecute;
}

static void SimulateNoWinHelp(const char*)
{
    platform.winHelpAvailable = SimulatedNoWinHelp;
}

static void SimulateShellRecord(const char* file)
{
    if (!file || !file[0] || strlen(file) >= sizeof(shellRecord))
        return;
    strcpy(shellRecord, file);
    platform.shellExecute = SimulatedShellExecute;
}

static const struct {
    const char* word;
    void (*apply)(const char* value);
} simulations[] = {
    {"unelevated", SimulateUnelevated},
    {"decline-elevation", SimulateDeclined},
    {"no-winhelp", SimulateNoWinHelp},
    {"record-shell", SimulateShellRecord},
};

void SimulatePlatform(void)
{
    char list[2 * MAX_PATH];
    DWORD length = GetEnvironmentVariableA("VIVRA_SIMULATE", list, sizeof(list));
    if (!length || length >= sizeof(list))
        return;
    for (char* word = strtok(list, ";"); word; word = strtok(NULL, ";")) {
        char* value = strchr(word, '=');
        if (value)
            *value++ = 0;
        for (size_t i = 0; i < sizeof(simulations) / sizeof(simulations[0]); ++i)
            if (lstrcmpiA(word, simulations[i].word) == 0)
                simulations[i].apply(value);
    }
}
