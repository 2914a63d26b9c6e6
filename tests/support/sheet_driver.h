// Drives the configuration sheet of a real "Vivra.scr /c" process from a
// test: find the sheet, switch pages, work its controls the way a user's
// input does (the messages the controls send their page), press OK or
// Cancel, and take screenshots of it.
#pragma once
#include <windows.h>
#include <string>

struct SheetProcess {
    PROCESS_INFORMATION info;
    HWND sheet;   // the property sheet window, null when none came
};

// Starts "Vivra.scr <arguments>" (normally "/c") and waits up to timeoutMs
// for its visible sheet; 1 when the process started (sheet may still be null).
int StartSheet(const char* arguments, SheetProcess* process, DWORD timeoutMs);
// The visible top-level window of the process whose caption starts with
// `captionPrefix` (any when null), or null.
HWND FindProcessWindow(DWORD processId, const char* captionPrefix);
// Waits up to timeoutMs for the process to end; 1 when it did.
int WaitSheetExit(SheetProcess* process, DWORD timeoutMs);
// Ends the process if it still runs and closes its handles.
void CloseSheet(SheetProcess* process);
DWORD SheetExitCode(const SheetProcess* process);

// Pages of the sheet.
int SheetPageCount(HWND sheet);
int SheetCurrentIndex(HWND sheet);
// Selects page `index` (PSM_SETCURSEL) and returns its window.
HWND SelectSheetPage(HWND sheet, int index);
HWND CurrentSheetPage(HWND sheet);
// Presses OK (PSBTN_OK), Cancel (PSBTN_CANCEL), ... (PSM_PRESSBUTTON).
void PressSheetButton(HWND sheet, int button);

// Controls of a page, addressed by control number.
HWND PageControl(HWND page, int id);
int ControlVisible(HWND page, int id);
std::string ControlText(HWND page, int id);
// A button click (BM_CLICK, returns when the handler has run).
void ClickButton(HWND page, int id);
// A click that does not wait for the handler (for buttons that open a
// modal dialog).
void PostClick(HWND page, int id);
int ButtonChecked(HWND page, int id);
// Selects item `index` of a combo box and tells the page (CBN_SELCHANGE).
void SelectComboItem(HWND page, int id, int index);
// Selects the item of that text; 0 when the list holds none.
int SelectComboString(HWND page, int id, const char* text);
int ComboCount(HWND page, int id);
int ComboSelection(HWND page, int id);
std::string ComboItem(HWND page, int id, int index);
// Types text into an edit box (or a combo box's edit field), optionally
// followed by the focus leaving it (EN_KILLFOCUS).
void SetControlText(HWND page, int id, const char* text, int leave);
// Enter pressed in a control: the key goes through the sheet's own message
// loop, which presses the default button (OK) while the control keeps the
// focus.
void PressEnter(HWND page, int id);
// Moves a horizontal trackbar and tells the page (TBM_SETPOS, WM_HSCROLL).
void MoveTrackbar(HWND page, int id, int position);
int TrackbarPosition(HWND page, int id);
// Clicks the upper (up != 0) or lower arrow of an up-down control.
void ClickSpin(HWND page, int id, int up);

// Waits for a modal dialog of the process whose caption starts with
// `captionPrefix` (a file dialog, a message box); null after timeoutMs.
HWND WaitProcessDialog(DWORD processId, HWND except, const char* captionPrefix, DWORD timeoutMs);
// Fills a common file dialog's file name and presses its OK button.
int AnswerFileDialog(HWND dialog, const char* fileName);

// Writes the sheet as it is on screen into the output folder as a 24-bit
// BMP (VIVRA_OUT/fileName); 1 on success.
int SaveSheetShot(HWND sheet, const char* fileName);

// A page control's rectangle in screen pixels (empty when there is none).
RECT ControlScreenRect(HWND page, int id);
