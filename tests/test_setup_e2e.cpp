// The setup wizard end to end: Setup.EXE started from a distribution folder,
// its pages driven with messages, the installed files and registry entries
// read back as Windows and the user would find them.
#include <gtest/gtest.h>
#include "support/harness.h"
#include "support/install_driver.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include "setup/setup.h"
#include "settings/vivfile.h"
#include "imagefiles/filterreg.h"
#include <commctrl.h>
#include <dlgs.h>
#include <vector>

static void SetLogPixels(DWORD dpi)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    if (dpi)
        RegSetValueExA(key, "LogPixels", 0, REG_DWORD, (const BYTE*)&dpi, sizeof(dpi));
    else
        RegDeleteValueA(key, "LogPixels");
    RegCloseKey(key);
}

static void CloseWindowsOf(const char* className, const char* title)
{
    for (int i = 0; i < 20; ++i) {
        HWND window = FindTopWindow(className, title, 0);
        if (!window)
            return;
        PostMessageA(window, WM_CLOSE, 0, 0);
        Sleep(100);
    }
}

class Setup : public ::testing::Test {
protected:
    void SetUp() override
    {
        BuildValueNames();
        InitModules();   // the saver key and first-run displays, as a first start leaves them
    }
    void TearDown() override
    {
        // Leave the prefix as the other test programs expect it.
        WriteSaverValue("Slogan", REG_SZ, "", 0);
        WriteSaverValue("VivraDir", REG_SZ, "", 0);
        DeleteDisplay("Sample Bezier");
        DeleteDisplay("Sample Star");
        CloseWindowsOf("Zelkor v3.0", NULL);
        CloseWindowsOf("Older Launcher", NULL);
        SetLogPixels(0);
        UnregisterImportFilter();
    }
};

static int ModuleIn(const char* display, int module)
{
    return ModuleKeyExists(display, module);
}

TEST_F(Setup, ProposesEarlierFolderAndRefusesAnInvalidOne)
{
    std::string distribution = FreshFolder("VivraDistA");
    ASSERT_TRUE(MakeDistribution(distribution, DIST_TEXTS));
    std::string earlier = FreshFolder("Earlier Vivra");
    ASSERT_TRUE(WriteSaverValue("VivraDir", REG_SZ, earlier.c_str(), (DWORD)earlier.size() + 1));

    SetupProcess setup;
    ASSERT_TRUE(StartSetup(distribution, &setup, 60000))
            << "no wizard; setup's exit code " << SetupExitCode(&setup);
    HWND page = WaitForPage(&setup, SETUP_DESTINATION, 30000);
    ASSERT_NE(page, nullptr);
    char shown[MAX_PATH] = "";
    GetDlgItemTextA(page, SETUP_DESTINATION, shown, sizeof(shown));
    EXPECT_EQ(std::string(shown), earlier) << "page 0 must propose the earlier installation's folder";

    // A folder whose parent does not exist cannot be created.
    std::string invalid = earlier + "\\no such parent\\Vivra";
    SendMessageA(GetDlgItem(page, SETUP_DESTINATION), WM_SETTEXT, 0, (LPARAM)invalid.c_str());
    PressNext(&setup);
    std::string text;
    HWND box = WaitForMessageBox(setup.info.dwProcessId, "Invalid directory name!", &text, 30000);
    ASSERT_NE(box, nullptr) << "no \"Invalid directory name!\" box";
    EXPECT_NE(text.find(invalid), std::string::npos) << text;
    AnswerMessageBox(box, IDOK);
    Sleep(300);
    EXPECT_EQ(WaitForPage(&setup, SETUP_DESTINATION, 5000), page) << "the wizard must stay on page 0";
    EXPECT_EQ(GetFileAttributesA(invalid.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, SAVER_KEY, "VivraDir"), earlier)
        << "nothing is installed before page 1";

    // Browse: the folder-only dialog starts in the folder typed and hands
    // back the folder the user stands in.
    SendMessageA(GetDlgItem(page, SETUP_DESTINATION), WM_SETTEXT, 0, (LPARAM)earlier.c_str());
    ClickWizardButton(page, SETUP_BROWSE);
    HWND browse = WaitForMessageBox(setup.info.dwProcessId, "Select Destination Directory", NULL, 30000);
    ASSERT_NE(browse, nullptr) << "Browse did not open the folder dialog";
    EXPECT_NE(GetDlgItem(browse, lst2), nullptr);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(browse, lst1))) << "the dialog shows folders and drives only";
    Sleep(500);
    ScreenshotTo("setup_browse.bmp");
    AnswerMessageBox(browse, IDOK);
    for (int i = 0; i < 100 && IsWindow(browse); ++i)
        Sleep(100);
    EXPECT_FALSE(IsWindow(browse));
    Sleep(300);
    GetDlgItemTextA(page, SETUP_DESTINATION, shown, sizeof(shown));
    EXPECT_EQ(lstrcmpiA(shown, earlier.c_str()), 0) << shown;

    PostMessageA(setup.wizard, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_TRUE(EndSetup(&setup, 30000));
}

TEST_F(Setup, InstallsFilesDisplaysAndSettings)
{
    std::string distribution = FreshFolder("VivraDistB");
    std::string destination = FreshFolder("Vivra Installed");
    RemoveDirectoryA(destination.c_str());   // setup creates it
    ASSERT_TRUE(MakeDistribution(distribution, DIST_ALL & ~DIST_ANALYZER));
    ASSERT_TRUE(AddDistributionDisplay(distribution, "Sample Bezier", MODULE_BEZIER));
    ASSERT_TRUE(AddDistributionDisplay(distribution, "Sample Star", MODULE_STAR));
    // A display of the same name as a sample, which the import replaces
    // without asking.
    std::string otherFolder = FreshFolder("VivraOther");
    std::string other = otherFolder + "\\Plasma.VIV";
    ASSERT_TRUE(AddDistributionDisplay(otherFolder, "Plasma", MODULE_PLASMA));
    ASSERT_TRUE(ImportSettingsFile(other.c_str(), "Sample Bezier"));
    ASSERT_TRUE(ModuleIn("Sample Bezier", MODULE_PLASMA));
    // An earlier launcher that setup closes before it starts the new one.
    std::string startupFolder = ShellFolder("Startup");
    ASSERT_FALSE(startupFolder.empty()) << "the prefix has no Startup shell folder";
    CreateDirectoryA(startupFolder.c_str(), NULL);
    DeleteFileA((startupFolder + "\\Runner.EXE").c_str());
    {
        std::string runner = distribution + "\\Runner.EXE";
        std::string command = "\"" + runner + "\" Zelkor V2.5";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process;
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        ASSERT_TRUE(CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ASSERT_NE(FindTopWindow(NULL, "Zelkor V2.5", 30000), nullptr);
    }
    WritePrivateProfileStringA("BOOT", "SCRNSAVE.EXE", "(None)", "SYSTEM.INI");

    SetupProcess setup;
    ASSERT_TRUE(StartSetup(distribution, &setup, 60000))
            << "no wizard; setup's exit code " << SetupExitCode(&setup);
    HWND page = WaitForPage(&setup, SETUP_DESTINATION, 30000);
    ASSERT_NE(page, nullptr);
    SendMessageA(GetDlgItem(page, SETUP_DESTINATION), WM_SETTEXT, 0, (LPARAM)destination.c_str());
    PressNext(&setup);
    page = WaitForPage(&setup, SETUP_DEFAULT_SAVER, 30000);
    ASSERT_NE(page, nullptr) << "Next did not reach the options page";
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, SETUP_ANALYZER))) << "no Sonalyx.EXE: the box is hidden";
    EXPECT_EQ(IsDlgButtonChecked(page, SETUP_DEFAULT_SAVER), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(page, SETUP_LAUNCHER), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(page, SETUP_UTILITY), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(page, SETUP_DISPLAYS), BST_UNCHECKED);
    // The desktop items too, so every option runs once.
    SendDlgItemMessageA(page, SETUP_UTILITY, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageA(page, SETUP_DISPLAYS, BM_SETCHECK, BST_CHECKED, 0);
    PressNext(&setup);
    HWND last = WaitForPage(&setup, SETUP_TEST_DRIVE, 120000);
    ASSERT_NE(last, nullptr) << "the installation did not reach the last page";
    EXPECT_EQ(SendDlgItemMessageA(page, SETUP_PROGRESS, PBM_GETPOS, 0, 0), 100);

    // Files.
    std::string installed = SystemFolder() + "\\VIVRA.SCR";
    EXPECT_TRUE(FileExists(installed));
    EXPECT_EQ(FileText(installed), FileText(distribution + "\\Setup.EXE"));
    EXPECT_TRUE(FileExists(WindowsFolder() + "\\VRNXSLX.HLP"));
    for (const char* name : {"Setup.EXE", "Runner.EXE", "ReadMe.TXT", "License.TXT", "File_ID.DIZ", "VIVIMP32.FLT",
                             "Sample Bezier.VIV", "Sample Star.VIV"})
        EXPECT_TRUE(FileExists(destination + "\\" + name)) << name;
    EXPECT_FALSE(FileExists(destination + "\\Slogan.TXT"));
    EXPECT_TRUE(FileExists(startupFolder + "\\Runner.EXE"));
    std::string desktop = ShellFolder("Desktop");
    EXPECT_TRUE(FileExists(desktop + "\\VRNX.EXE"));
    EXPECT_TRUE(FileExists(desktop + "\\" SAVED_SETTINGS_FOLDER "\\Sample Star.VIV"));

    // Displays named after their files; the old "Sample Bezier" replaced whole.
    EXPECT_TRUE(ModuleIn("Sample Bezier", MODULE_BEZIER));
    EXPECT_FALSE(ModuleIn("Sample Bezier", MODULE_PLASMA));
    EXPECT_TRUE(ModuleIn("Sample Star", MODULE_STAR));

    // The launcher: the old one closed, the new one started from Startup.
    EXPECT_EQ(FindTopWindow(NULL, "Zelkor V2.5", 0), nullptr) << "the earlier launcher is still open";
    EXPECT_NE(FindTopWindow("Zelkor v3.0", NULL, 30000), nullptr) << "the new launcher did not start";

    // Registry and SYSTEM.INI.
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, SAVER_KEY, "VivraDir"), destination);
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, SAVER_KEY, "Slogan"), DistributionSlogan().substr(0, 255));
    std::string uninstall = ReadRegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString");
    EXPECT_TRUE(FileExists(destination + "\\UnInstall.EXE")) << "the uninstaller is always built and installed";
    EXPECT_EQ(uninstall, destination + "\\UnInstall.EXE");
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName"), "The Vivarent Screen Saver");
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE,
                                 "SOFTWARE\\Microsoft\\Shared Tools\\Graphics Filters\\Import\\Vivra PNG", "Path"),
              destination + "\\VIVIMP32.FLT")
        << "the import filter is registered where it was installed";
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "SCRNSAVE.EXE"), installed);
    char ini[MAX_PATH] = "";
    GetPrivateProfileStringA("BOOT", "SCRNSAVE.EXE", "", ini, sizeof(ini), "SYSTEM.INI");
    EXPECT_EQ(std::string(ini), installed);
    BOOL active = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_TRUE(active);
    EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, "Vivra\\shell\\open\\command", NULL),
              "\"" + installed + "\" /S \"%1\"");
    EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, "Vivra\\DefaultIcon", NULL), installed + ",2");

    // Test Drive opens the installed saver's configuration sheet.
    ClickWizardButton(last, SETUP_TEST_DRIVE);
    HWND sheet = FindTopWindow(NULL, "Vivra v3.6.505", 60000);
    EXPECT_NE(sheet, nullptr) << "Test Drive did not open the configuration sheet";
    if (sheet) {
        PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
        for (int i = 0; i < 100 && IsWindow(sheet); ++i)
            Sleep(100);
        EXPECT_FALSE(IsWindow(sheet)) << "the configuration sheet did not close";
    }

    EXPECT_TRUE(EndSetup(&setup, 30000)) << "Finish did not end setup";
    DeleteFileA((desktop + "\\VRNX.EXE").c_str());
}

// The three pages at 96 and 144 DPI, with a distribution that carries the
// sound analyzer, whose installer setup starts without waiting.
TEST_F(Setup, PagesAtTwoResolutions)
{
    std::string distribution = FreshFolder("VivraDistC");
    ASSERT_TRUE(MakeDistribution(distribution, DIST_ALL));
    ASSERT_TRUE(AddDistributionDisplay(distribution, "Sample Star", MODULE_STAR));
    for (DWORD dpi : {96u, 144u}) {
        SetLogPixels(dpi);
        std::string destination = FreshFolder(dpi == 96 ? "Vivra96" : "Vivra144");
        SetupProcess setup;
        ASSERT_TRUE(StartSetup(distribution, &setup, 60000))
            << "no wizard; setup's exit code " << SetupExitCode(&setup);
        HWND page = WaitForPage(&setup, SETUP_DESTINATION, 30000);
        ASSERT_NE(page, nullptr);
        SendMessageA(GetDlgItem(page, SETUP_DESTINATION), WM_SETTEXT, 0, (LPARAM)destination.c_str());
        Sleep(500);
        char name[64];
        wsprintfA(name, "setup_directory_%lu.bmp", dpi);
        ScreenshotTo(name);
        PressNext(&setup);
        page = WaitForPage(&setup, SETUP_DEFAULT_SAVER, 30000);
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, SETUP_ANALYZER)));
        EXPECT_EQ(IsDlgButtonChecked(page, SETUP_ANALYZER), BST_CHECKED);
        Sleep(500);
        wsprintfA(name, "setup_options_%lu.bmp", dpi);
        ScreenshotTo(name);
        // Keep the other options out of this run: only the analyzer.
        SendDlgItemMessageA(page, SETUP_LAUNCHER, BM_SETCHECK, BST_UNCHECKED, 0);
        PressNext(&setup);
        page = WaitForPage(&setup, SETUP_TEST_DRIVE, 120000);
        ASSERT_NE(page, nullptr);
        HWND analyzer = FindTopWindow(NULL, "/install", 30000);
        EXPECT_NE(analyzer, nullptr) << "\"Sonalyx.EXE /install\" was not started";
        if (analyzer)
            PostMessageA(analyzer, WM_CLOSE, 0, 0);
        Sleep(800);
        wsprintfA(name, "setup_configure_%lu.bmp", dpi);
        ScreenshotTo(name);
        EXPECT_TRUE(EndSetup(&setup, 30000));
    }
}

// Setup that may not write the system folder, as under UAC without
// elevation.
class SetupUnelevated : public Setup {
protected:
    SetupProcess first = {}, second = {};
    void TearDown() override
    {
        SetEnvironmentVariableA("VIVRA_SIMULATE", NULL);
        EndSetup(&first, 10000);
        EndSetup(&second, 10000);
        Setup::TearDown();
    }
    // A distribution with all but the analyzer; setup started from it
    // simulating `words`, brought to the options page.
    HWND StartToOptions(const char* words, const std::string& distribution, const std::string& destination)
    {
        EXPECT_TRUE(MakeDistribution(distribution, DIST_ALL & ~DIST_ANALYZER));
        SetEnvironmentVariableA("VIVRA_SIMULATE", words);
        EXPECT_TRUE(StartSetup(distribution, &first, 60000));
        return first.wizard ? ReachOptions(&first, destination, 30000) : NULL;
    }
};

// The elevated copy that setup starts goes on with the choices made.
TEST_F(SetupUnelevated, RestartsElevatedWithTheWizardsChoices)
{
    std::string destination = FreshFolder("Vivra Elevated");
    std::string installed = SystemFolder() + "\\VIVRA.SCR", desktop = ShellFolder("Desktop");
    DeleteFileA(installed.c_str());
    DeleteFileA((desktop + "\\VRNX.EXE").c_str());
    DeleteFileA((ShellFolder("Startup") + "\\Runner.EXE").c_str());
    HWND page = StartToOptions("unelevated", FreshFolder("VivraDistE"), destination);
    ASSERT_NE(page, nullptr);
    SendDlgItemMessageA(page, SETUP_LAUNCHER, BM_SETCHECK, BST_UNCHECKED, 0);
    SendDlgItemMessageA(page, SETUP_UTILITY, BM_SETCHECK, BST_CHECKED, 0);
    PressNext(&first);
    EXPECT_EQ(WaitForSingleObject(first.info.hProcess, 60000), WAIT_OBJECT_0) << "the unelevated setup stays";
    ASSERT_TRUE(AttachSetup(first.info.dwProcessId, &second, 60000)) << "no elevated setup";
    EXPECT_NE(WaitForPage(&second, SETUP_TEST_DRIVE, 120000), nullptr) << "the elevated setup did not install";
    EXPECT_TRUE(FileExists(installed));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, SAVER_KEY, "VivraDir"), destination);
    EXPECT_TRUE(FileExists(desktop + "\\VRNX.EXE")) << "the desktop utility chosen was not installed";
    EXPECT_FALSE(FileExists(ShellFolder("Startup") + "\\Runner.EXE")) << "the launcher was not chosen";
    EXPECT_TRUE(EndSetup(&second, 30000));
    DeleteFileA((desktop + "\\VRNX.EXE").c_str());
}

// Declining elevation leads to an installation for the user alone, which
// the uninstaller it registers removes again.
TEST_F(SetupUnelevated, DeclinedElevationInstallsForTheUserAlone)
{
    std::string destination = FreshFolder("Vivra User");
    std::string system = SystemFolder() + "\\VIVRA.SCR";
    DeleteFileA(system.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    char folder[MAX_PATH];
    ASSERT_TRUE(UserSaverFolder(folder, sizeof(folder)));
    std::string saver = std::string(folder) + "\\VIVRA.SCR";
    ASSERT_NE(StartToOptions("unelevated;decline-elevation", FreshFolder("VivraDistU"), destination), nullptr);
    PressNext(&first);
    std::string text;
    HWND offer = WaitForMessageBox(first.info.dwProcessId, "Install for You Only", &text, 60000);
    ASSERT_NE(offer, nullptr) << "no offer to install for the user alone";
    EXPECT_NE(text.find(folder), std::string::npos) << text;
    Sleep(500);
    ScreenshotTo("setup_per_user_offer.bmp");
    AnswerMessageBox(offer, IDYES);
    ASSERT_NE(WaitForPage(&first, SETUP_TEST_DRIVE, 120000), nullptr);
    EXPECT_TRUE(FileExists(saver));
    EXPECT_FALSE(FileExists(system));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "SCRNSAVE.EXE"), saver);
    const char* command = "Software\\Classes\\Vivra\\shell\\open\\command";
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, command, NULL), "\"" + saver + "\" /S \"%1\"");
    std::string uninstaller = ReadRegistryString(HKEY_CURRENT_USER, UNINSTALL_KEY, "UninstallString");
    EXPECT_EQ(uninstaller, destination + "\\UnInstall.EXE");
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString"), "");
    EXPECT_TRUE(FileExists(destination + "\\Help\\sound_settings.htm"));
    EXPECT_TRUE(EndSetup(&first, 30000));

    EXPECT_EQ(RunUninstaller(uninstaller), (DWORD)IDOK);
    EXPECT_FALSE(FileExists(saver));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, command, NULL), "");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\Classes\\.VIV", NULL), "");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, UNINSTALL_KEY, "UninstallString"), "");
}
