// What this Windows allows, as setup and help ask it: can we write the system
// folder, is there a working WinHelp, and the shell's ShellExecuteEx. Each
// answer comes from a real probe; a test run replaces answers through the
// environment variable VIVRA_SIMULATE (SimulatePlatform).
#pragma once
#include <windows.h>
#include <shellapi.h>

struct PlatformAnswers {
    int (*canWriteSystemFolder)(void);
    int (*winHelpAvailable)(void);
    BOOL (*shellExecute)(SHELLEXECUTEINFOA* info);
};
extern PlatformAnswers platform;

// The switch setup restarts itself elevated with: "/elevated MASK "FOLDER"".
#define ELEVATED_SWITCH "/elevated"

// 1 when this process was started by setup's elevation restart.
int StartedElevated(void);

// Reads VIVRA_SIMULATE, a ';'-separated list of:
//   unelevated         the system folder cannot be written, except by the
//                      process the elevation restart started
//   decline-elevation  ShellExecuteEx "runas" fails with ERROR_CANCELLED
//   no-winhelp         WinHelp is not available
//   record-shell=FILE  every other ShellExecuteEx appends "verb|file|parameters"
//                      to FILE instead of starting anything
// Unknown words are ignored.
void SimulatePlatform(void);
