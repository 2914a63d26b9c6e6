// Setup on 64-bit Windows (a 64-bit Wine prefix): the 32-bit setup's copy of
// the saver lands in SysWOW64, and every path it writes for the 64-bit parts
// of Windows must name that copy.
#include <gtest/gtest.h>
#include "support/harness.h"
#include "support/install_driver.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include "setup/setup.h"
#include <vector>

static std::string Wow64Folder(void)
{
    char folder[MAX_PATH] = "";
    GetSystemWow64DirectoryA(folder, sizeof(folder));
    return folder;
}

// As a 64-bit process sees the file system: without the redirection of
// System32 to SysWOW64.
static int ExistsFor64Bit(const std::string& path)
{
    PVOID state = NULL;
    if (!Wow64DisableWow64FsRedirection(&state))
        return -1;
    int exists = FileExists(path);
    Wow64RevertWow64FsRedirection(state);
    return exists;
}

TEST(Setup64, PathsNameTheCopyThatIsReallyThere)
{
    if (sizeof(void*) == 8)
        GTEST_SKIP() << "a 64-bit build of the saver has no WoW64 to install under; "
                        "this test needs the 32-bit build and a machine that runs 32-bit code";
    ASSERT_TRUE(RunningUnderWow64()) << "the test must run in a 64-bit prefix (WINEARCH=win64)";
    BuildValueNames();
    InitModules();
    std::string distribution = FreshFolder("VivraDist64");
    std::string destination = FreshFolder("Vivra64");
    ASSERT_TRUE(InstallDistribution(distribution, destination));

    std::string wow64 = Wow64Folder() + "\\VIVRA.SCR";
    std::string system32 = SystemFolder() + "\\VIVRA.SCR";   // what the name says: the real System32
    ASSERT_NE(Wow64Folder(), "");

    // The default saver, in the registry and in SYSTEM.INI.
    std::string saver = ReadRegistryString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "SCRNSAVE.EXE");
    EXPECT_EQ(saver, wow64);
    EXPECT_EQ(ExistsFor64Bit(saver), 1) << saver << " does not exist for a 64-bit process";
    EXPECT_EQ(ExistsFor64Bit(system32), 0) << "nothing of ours in the real System32";
    char ini[MAX_PATH] = "";
    GetPrivateProfileStringA("BOOT", "SCRNSAVE.EXE", "", ini, sizeof(ini), "SYSTEM.INI");
    EXPECT_EQ(std::string(ini), wow64);

    // The .VIV type: icon and command name the SysWOW64 copy.
    EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, "Vivra\\DefaultIcon", NULL), wow64 + ",2");
    std::string command = ReadRegistryString(HKEY_CLASSES_ROOT, "Vivra\\shell\\open\\command", NULL);
    EXPECT_EQ(command, "\"" + wow64 + "\" /S \"%1\"");

    // The command, started by a 64-bit program (cmd.exe of the real
    // System32), runs the saver on a sample display.
    size_t marker = command.find("%1");
    ASSERT_NE(marker, std::string::npos);
    std::string viv = destination + "\\Sample Star.VIV";
    command.replace(marker, 2, viv);
    std::string line = "\"" + SystemFolder() + "\\cmd.exe\" /c \"" + command + "\"";
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    PVOID state = NULL;
    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&state));
    BOOL started = CreateProcessA(NULL, buffer.data(), NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                                  &process);
    Wow64RevertWow64FsRedirection(state);
    ASSERT_TRUE(started);
    BOOL cmdWow64 = TRUE;
    IsWow64Process(process.hProcess, &cmdWow64);
    EXPECT_FALSE(cmdWow64) << "cmd.exe should be the 64-bit one";
    HWND saverWindow = FindTopWindow("WindowsScreenSaverClass", NULL, 60000);
    EXPECT_NE(saverWindow, nullptr) << "the .VIV command did not start the saver";
    if (saverWindow) {
        PostMessageA(saverWindow, WM_KEYDOWN, 'Q', 0);
        for (int i = 0; i < 100 && IsWindow(saverWindow); ++i)
            Sleep(100);
        EXPECT_FALSE(IsWindow(saverWindow));
    }
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    // The uninstall entry sits in the 32-bit registry view (Wow6432Node),
    // where a 32-bit program's entry belongs.
    if (FileExists(destination + "\\UnInstall.EXE")) {
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString", KEY_WOW64_32KEY),
                  destination + "\\UnInstall.EXE");
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString", KEY_WOW64_64KEY), "");
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE,
                                     "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vivra",
                                     "UninstallString", KEY_WOW64_64KEY),
                  destination + "\\UnInstall.EXE");
    }

    // The uninstaller takes our saver out of the real System32 too, but not
    // the generic names of earlier versions, which 64-bit programs may own.
    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&state));
    for (const char* name : {"VIVRA.SCR", "Runner.EXE", "VRCYCL32.SCR"})
        CloseHandle(CreateFileA((SystemFolder() + "\\" + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, 0));
    Wow64RevertWow64FsRedirection(state);
    ASSERT_EQ(ExistsFor64Bit(system32), 1);
    EXPECT_EQ(RunUninstaller(destination + "\\UnInstall.EXE"), (DWORD)IDOK);
    EXPECT_EQ(ExistsFor64Bit(system32), 0);
    EXPECT_FALSE(FileExists(wow64));
    for (const char* name : {"Runner.EXE", "VRCYCL32.SCR"})
        EXPECT_EQ(ExistsFor64Bit(SystemFolder() + "\\" + name), 1) << name << " of the real System32 was deleted";
    WriteSaverValue("Slogan", REG_SZ, "", 0);
}
