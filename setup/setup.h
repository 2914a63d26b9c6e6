// The setup wizard: the saver program installs itself when it runs under a
// name that contains "SETUP.EXE".
#pragma once
#include <windows.h>

// Controls of the wizard's pages.
enum {
    SETUP_DESTINATION = 1100,
    SETUP_BROWSE = 1101,
    SETUP_DEFAULT_SAVER = 1057,
    SETUP_LAUNCHER = 1058,
    SETUP_UTILITY = 1059,
    SETUP_DISPLAYS = 1060,
    SETUP_ANALYZER = 1062,
    SETUP_PROGRESS = 1316,
    SETUP_TEST_DRIVE = 1087,
    SETUP_CONFIGURE = 1037,
    SETUP_HEADING = 1200,      // the bold title line of every page
    FOLDER_TEMPLATE = 111      // the folder-only open dialog
};

#define SETUP_CAPTION_FORMAT "Setup for Vivra v%d.%d.%d"
#define SAVED_SETTINGS_FOLDER "VRNX - Saved Settings"
#define UNINSTALL_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vivra"
#define SHELL_FOLDERS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

// The destination folder the wizard works on (260 characters).
extern char destinationFolder[MAX_PATH];
// 1 once the user chose to install for the user alone: the saver then goes
// into UserSaverFolder and its registrations under HKEY_CURRENT_USER.
extern int perUserInstall;

// The folder of the running program, ending in a backslash.
int SourceFolder(char* folder, int size);
// Copies the source folder's file `name` into `folder` when that folder
// exists, replacing an older copy; 1 when copied.
int CopyFromSource(const char* name, const char* folder);
// Imports every .VIV file of the source folder as a display named after the
// file and copies it into `folder`; advances the page's progress bar from 5
// to 95 when a page is given. Returns the number of displays imported.
int ImportDistributionDisplays(const char* folder, HWND page);
// Copies the saver and the distribution files and registers them; 1 when
// VIVRA.SCR reached the system folder.
int InstallFiles(const char* destination, HWND page);
void InstallLauncher(void);
void InstallDesktopUtility(void);
void InstallDesktopDisplays(void);
void InstallAnalyzer(void);
// Makes the installed saver the default screen saver.
void SetDefaultSaver(void);
// Copies the source folder's import filter into the destination and
// registers it there; 1 when registered.
int InstallImportFilters(const char* destination);
// The folder-only open dialog; 1 with the chosen folder in `buffer`.
int ChooseFolder(HWND page, char* buffer);

// 1 when this 32-bit program runs on 64-bit Windows.
int RunningUnderWow64(void);
// The installed VIVRA.SCR as other programs must name it: in the system
// folder, which for a 32-bit program on 64-bit Windows is SysWOW64, or in the
// user's program folder for a per-user installation.
int InstalledSaverPath(char* path, int size);
// The user's own program folder for the saver: "<local application
// data>\Programs\Vivra".
int UserSaverFolder(char* folder, int size);
