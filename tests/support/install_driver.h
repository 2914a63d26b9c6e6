// Drives the real setup program: a distribution folder in a temporary
// folder, Setup.EXE started from it, the wizard's pages driven with
// messages, and the installed state read back.
#pragma once
#include <windows.h>
#include <string>

// What a test distribution carries besides Setup.EXE.
enum DistributionPart {
    DIST_UNINSTALL = 1,    // the built UnInstall.EXE, when there is one
    DIST_RUNNER = 2,       // the stand-in launcher as Runner.EXE
    DIST_ANALYZER = 4,     // a Sonalyx.EXE (a stand-in that shows a window)
    DIST_TEXTS = 8,        // ReadMe.TXT, License.TXT, File_ID.DIZ, VRNXSLX.HLP
    DIST_SLOGAN = 16,      // a Slogan.TXT of 300 bytes
    DIST_FILTER = 32,      // the built import filter VIVIMP32.FLT
    DIST_HELP = 64,        // the built HTML help pages, in "Help"
    DIST_ALL = 127
};

// A fresh folder under the temporary folder (removed first when present).
std::string FreshFolder(const char* name);
// Fills `folder` with a distribution. .VIV files are added with
// AddDistributionDisplay.
int MakeDistribution(const std::string& folder, unsigned parts);
// Stores a display holding only `module` with its defaults and writes it to
// "<folder>\<name>.VIV" (the real export); the display itself is deleted again.
int AddDistributionDisplay(const std::string& folder, const char* name, int module);
// The Slogan.TXT text that MakeDistribution writes.
std::string DistributionSlogan(void);

struct SetupProcess {
    PROCESS_INFORMATION info;
    HWND wizard;
};
// Starts "<folder>\Setup.EXE" and waits for its wizard window.
int StartSetup(const std::string& folder, SetupProcess* setup, DWORD timeoutMs);
// Waits for the wizard of a setup process other than `otherThan` (the one a
// setup started itself as) and opens that process.
int AttachSetup(DWORD otherThan, SetupProcess* setup, DWORD timeoutMs);
// Runs an UnInstall.EXE, answering Yes, No to the launcher and OK; returns
// its exit code, (DWORD)-1 when a box is missing.
DWORD RunUninstaller(const std::string& path);
// The wizard's current page, or null.
HWND CurrentPage(const SetupProcess* setup);
// Waits until the current page holds the control `id`; returns the page.
HWND WaitForPage(const SetupProcess* setup, int id, DWORD timeoutMs);
// Presses the wizard's Next (or Finish) button.
void PressNext(const SetupProcess* setup);
void PressFinish(const SetupProcess* setup);
// Waits for a message box of the setup process with the given caption;
// `text` (may be null) receives its text.
HWND WaitForMessageBox(DWORD processId, const char* caption, std::string* text, DWORD timeoutMs);
// Presses the box's first button (OK or Yes).
void AnswerMessageBox(HWND box, int button);
// Clicks a button of a page.
void ClickWizardButton(HWND page, int id);
// Page 0 with `destination`; returns page 1 once it is shown. Records
// failures with gtest.
HWND ReachOptions(const SetupProcess* setup, const std::string& destination, DWORD timeoutMs);
// Page 0 with `destination`, then page 1 with the default options; waits
// until the installation has reached page 2. Records failures with gtest.
HWND InstallTo(const SetupProcess* setup, const std::string& destination, DWORD timeoutMs);
// The setup process's exit code, STILL_ACTIVE (259) while it runs.
DWORD SetupExitCode(const SetupProcess* setup);
// Presses Finish (when the wizard is still there) and waits for the process
// to end; kills it when it does not.
int EndSetup(SetupProcess* setup, DWORD timeoutMs);

// The whole installation in one call: a distribution with every part and
// the displays "Sample Bezier" and "Sample Star", installed to
// `destination`. 1 on success.
int InstallDistribution(const std::string& distribution, const std::string& destination);

// Installed-state readers.
std::string ReadRegistryString(HKEY root, const char* key, const char* value, REGSAM view = 0);
std::string SystemFolder(void);
std::string WindowsFolder(void);
std::string ShellFolder(const char* name);
int FileExists(const std::string& path);
// The whole file's bytes ("" when it cannot be read).
std::string FileText(const std::string& path);
// A top-level window of the class (or with the title) in any process.
HWND FindTopWindow(const char* className, const char* title, DWORD timeoutMs);
// Saves the screen as a PNG-ready BMP under the output folder.
void ScreenshotTo(const char* name);
