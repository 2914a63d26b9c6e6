// The configuration sheet's shared conventions: the page procedures of both
// page tables, the unsaved-changes flag, help, test runs, and the slot-row
// helpers that the module pages and the palette page share.
#pragma once
#include <windows.h>

// Version of this build: shown in the titles and stamped into the registry.
enum { VIVRA_MAJOR = 3, VIVRA_MINOR = 6, VIVRA_BUILD = 505 };

// ShowHelp topics; any other number opens the help contents.
enum {
    HELP_SOUND = 512,
    HELP_MAIN = 513,
    HELP_PALETTE = 514,
    HELP_DISPLAY = 515,
    HELP_CUSTOM = 516
};

// Control numbers of a slot row: base + slot (module pages) or + row
// (palette page).
enum {
    ROW_VALUE_SLIDER = 100,
    ROW_VALUE_BOX = 120,
    ROW_SENSE_SPIN = 140,
    ROW_SENSE_BOX = 160,
    ROW_SOURCE_LIST = 180,
    ROW_LOW_SLIDER = 200,
    ROW_HIGH_SLIDER = 220,
    ROW_LOW_BOX = 240,
    ROW_HIGH_BOX = 260,
    ROW_LABEL = 280
};

// Buttons that several pages share.
enum {
    ID_TEST_ALL = 1085,
    ID_HELP_BUTTON = 1298
};

// 1 while the page controls hold settings that differ from the display last
// loaded or saved.
extern volatile int unsavedChanges;
// The Main Settings page's list of displays, refilled after a test run.
extern HWND displayListWindow;
// The module of the module page that was activated last.
extern int currentModule;

void ShowHelp(int topic);
// Opens the HTML page of a help keyword (the contents when null) in the
// browser; a message box when the pages are missing. 1 when opened.
int ShowHelpPage(const char* keyword);
void TestAllSettings(void);
void TestModule(int module);
void EndTest(void);
int IsSetupProgram(void);

// Row positions in dialog units (converted with MapDialogRect by the
// creator): x and width of each control of a row, height 12.
struct RowLayout {
    int labelX, labelWidth;          // labelWidth 0: the template has the labels
    int valueSliderX, valueSliderWidth;
    int lowSliderX, lowSliderWidth;
    int lowBoxX;
    int highSliderX, highSliderWidth;
    int highBoxX;
    int senseX;                      // sense box with its spin, width 27
    int valueBoxX;                   // width 22
    int sourceListX;                 // width 46, drop-down height 96
};

// Creates the controls of row `row` (control numbers base + row) at dialog
// y `y`, with the label text of string `labelId` when the layout has labels.
void CreateSlotRow(HWND page, int row, int y, const RowLayout* layout, int labelId);
void FillSourceList(HWND list, int soundCapable);
void ShowSlotRow(HWND page, int slot, int source);
void SetSliderAndBox(HWND slider, HWND box, int low, int high, int position);
int ReadBoxClamped(HWND box, HWND slider, int low, int high, int current, int* changed);

// Page procedures of the configuration sheet.
INT_PTR CALLBACK ModulePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK MainPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PalettePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CustomPalettePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SoundPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DisplayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// The setup wizard's three pages share one procedure.
INT_PTR CALLBACK SetupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
