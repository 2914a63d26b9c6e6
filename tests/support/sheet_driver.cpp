#include "support/sheet_driver.h"
#include "support/harness.h"
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <string.h>
#include <vector>

// Messages to another process's windows must not hang a test for good.
static LRESULT SendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 60000, &result))
        return 0;
    return (LRESULT)result;
}

struct WindowSearch {
    DWORD processId;
    const char* prefix;
    HWND except;
    HWND found;
};

static BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM lParam)
{
    WindowSearch* search = (WindowSearch*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || window == search->except || !IsWindowVisible(window))
        return TRUE;
    if (search->prefix) {
        char caption[256] = "";
        GetWindowTextA(window, caption, sizeof(caption));
        if (strncmp(caption, search->prefix, strlen(search->prefix)) != 0)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND FindProcessWindow(DWORD processId, const char* captionPrefix)
{
    WindowSearch search = {processId, captionPrefix, 0, 0};
    EnumWindows(FindWindowOfProcess, (LPARAM)&search);
    return search.found;
}

int StartSheet(const char* arguments, SheetProcess* process, DWORD timeoutMs)
{
    ZeroMemory(process, sizeof(*process));
    std::string command = "\"" + SaverPath() + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process->info))
        return 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND sheet = FindProcessWindow(process->info.dwProcessId, "Vivra v");
        if (sheet && SendTo(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) {
            process->sheet = sheet;
            break;
        }
        if (WaitForSingleObject(process->info.hProcess, 50) == WAIT_OBJECT_0)
            break;
    }
    return 1;
}

int WaitSheetExit(SheetProcess* process, DWORD timeoutMs)
{
    return process->info.hProcess && WaitForSingleObject(process->info.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD SheetExitCode(const SheetProcess* process)
{
    DWORD code = STILL_ACTIVE;
    if (process->info.hProcess)
        GetExitCodeProcess(process->info.hProcess, &code);
    return code;
}

void CloseSheet(SheetProcess* process)
{
    if (process->info.hProcess) {
        if (WaitForSingleObject(process->info.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process->info.hProcess, 1);
            WaitForSingleObject(process->info.hProcess, 5000);
        }
        CloseHandle(process->info.hProcess);
        CloseHandle(process->info.hThread);
    }
    ZeroMemory(process, sizeof(*process));
}

int SheetPageCount(HWND sheet)
{
    HWND tabs = (HWND)SendTo(sheet, PSM_GETTABCONTROL, 0, 0);
    return tabs ? (int)SendTo(tabs, TCM_GETITEMCOUNT, 0, 0) : -1;
}

int SheetCurrentIndex(HWND sheet)
{
    HWND tabs = (HWND)SendTo(sheet, PSM_GETTABCONTROL, 0, 0);
    return tabs ? (int)SendTo(tabs, TCM_GETCURSEL, 0, 0) : -1;
}

HWND CurrentSheetPage(HWND sheet)
{
    return (HWND)SendTo(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
}

HWND SelectSheetPage(HWND sheet, int index)
{
    SendTo(sheet, PSM_SETCURSEL, index, 0);
    return CurrentSheetPage(sheet);
}

void PressSheetButton(HWND sheet, int button)
{
    // The sheet ends its modal loop inside the press: post it.
    PostMessageA(sheet, PSM_PRESSBUTTON, button, 0);
}

HWND PageControl(HWND page, int id)
{
    return GetDlgItem(page, id);
}

int ControlVisible(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    return control && (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::string ControlText(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    char text[1024] = "";
    if (control)
        SendTo(control, WM_GETTEXT, sizeof(text), (LPARAM)text);
    return text;
}

void ClickButton(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    if (control)
        SendTo(control, BM_CLICK, 0, 0);
}

void PostClick(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    if (control)
        PostMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
}

int ButtonChecked(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    return control && SendTo(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SelectComboItem(HWND page, int id, int index)
{
    HWND control = GetDlgItem(page, id);
    if (!control)
        return;
    SendTo(control, CB_SETCURSEL, index, 0);
    SendTo(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)control);
}

int SelectComboString(HWND page, int id, const char* text)
{
    HWND control = GetDlgItem(page, id);
    if (!control)
        return 0;
    int count = (int)SendTo(control, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        if (ComboItem(page, id, i) == text) {
            SelectComboItem(page, id, i);
            return 1;
        }
    }
    return 0;
}

int ComboCount(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    return control ? (int)SendTo(control, CB_GETCOUNT, 0, 0) : -1;
}

int ComboSelection(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    return control ? (int)SendTo(control, CB_GETCURSEL, 0, 0) : -1;
}

std::string ComboItem(HWND page, int id, int index)
{
    HWND control = GetDlgItem(page, id);
    // Read as Unicode: Wine hands an ANSI CB_GETLBTEXT from another 64-bit
    // process back in UTF-16.
    WCHAR wide[512] = L"";
    DWORD_PTR result = 0;
    if (control && SendTo(control, CB_GETLBTEXTLEN, index, 0) < 512)
        SendMessageTimeoutW(control, CB_GETLBTEXT, index, (LPARAM)wide, SMTO_NORMAL, 60000, &result);
    char text[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
    return text;
}

void SetControlText(HWND page, int id, const char* text, int leave)
{
    HWND control = GetDlgItem(page, id);
    if (!control)
        return;
    SendTo(control, WM_SETTEXT, 0, (LPARAM)text);
    if (leave)
        SendTo(page, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS), (LPARAM)control);
}

void PressEnter(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    if (control)
        PostMessageA(control, WM_KEYDOWN, VK_RETURN, 1);
}

void MoveTrackbar(HWND page, int id, int position)
{
    HWND control = GetDlgItem(page, id);
    if (!control)
        return;
    SendTo(control, TBM_SETPOS, TRUE, position);
    SendTo(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), (LPARAM)control);
    SendTo(page, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)control);
}

int TrackbarPosition(HWND page, int id)
{
    HWND control = GetDlgItem(page, id);
    return control ? (int)SendTo(control, TBM_GETPOS, 0, 0) : -1;
}

void ClickSpin(HWND page, int id, int up)
{
    HWND control = GetDlgItem(page, id);
    if (!control)
        return;
    RECT client;
    GetClientRect(control, &client);
    int x = client.right / 2;
    int y = up ? client.bottom / 4 : client.bottom * 3 / 4;
    SendTo(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendTo(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

struct DialogSearch {
    DWORD processId;
    HWND except;
    const char* prefix;
    HWND found;
};

static BOOL CALLBACK FindDialogOfProcess(HWND window, LPARAM lParam)
{
    DialogSearch* search = (DialogSearch*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32] = "";
    GetClassNameA(window, className, sizeof(className));
    if (owner != search->processId || window == search->except || !IsWindowVisible(window) ||
        strcmp(className, "#32770") != 0)
        return TRUE;
    char caption[256] = "";
    GetWindowTextA(window, caption, sizeof(caption));
    if (search->prefix && strncmp(caption, search->prefix, strlen(search->prefix)) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitProcessDialog(DWORD processId, HWND except, const char* captionPrefix, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        DialogSearch search = {processId, except, captionPrefix, 0};
        EnumWindows(FindDialogOfProcess, (LPARAM)&search);
        if (search.found)
            return search.found;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return 0;
}

int AnswerFileDialog(HWND dialog, const char* fileName)
{
    // The file name field: a combo box (cmb13) on newer dialogs, an edit
    // (edt1) on older ones.
    HWND field = GetDlgItem(dialog, 0x47c);
    if (!field)
        field = GetDlgItem(dialog, 0x480);
    if (!field)
        return 0;
    SendTo(field, WM_SETTEXT, 0, (LPARAM)fileName);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    return 1;
}

int SaveSheetShot(HWND sheet, const char* fileName)
{
    SetForegroundWindow(sheet);
    RedrawWindow(sheet, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(400);
    RECT box;
    if (!GetWindowRect(sheet, &box))
        return 0;
    int width = box.right - box.left, height = box.bottom - box.top;
    if (width <= 0 || height <= 0)
        return 0;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = 0;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    int ok = 0;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
        GdiFlush();
        int stride = ((width * 3) + 3) & ~3;
        BITMAPFILEHEADER file;
        ZeroMemory(&file, sizeof(file));
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        file.bfSize = file.bfOffBits + stride * height;
        FILE* out = fopen(OutputPath(fileName).c_str(), "wb");
        if (out) {
            ok = fwrite(&file, sizeof(file), 1, out) == 1 &&
                 fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, out) == 1 &&
                 fwrite(bits, stride * height, 1, out) == 1;
            fclose(out);
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return ok;
}

RECT ControlScreenRect(HWND page, int id)
{
    RECT box = {0, 0, 0, 0};
    HWND control = GetDlgItem(page, id);
    if (control)
        GetWindowRect(control, &box);
    return box;
}
