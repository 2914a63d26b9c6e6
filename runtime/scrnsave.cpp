// Our own screen-saver library: switches, the saver window over the whole
// virtual screen, the preview child window and the default closing rules.
#include "runtime/scrnsave.h"
#include "resources/resource.h"
#include <commctrl.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

HINSTANCE hMainInstance = 0;
HWND hMainWindow = 0;
int fChildPreview = 0;

static const char saverClassName[] = "WindowsScreenSaverClass";
static POINT firstMouse;
int mouseSeen = 0;
enum { MOUSE_SLACK = 3 };   // pixels a mouse may drift before the saver ends

const char* GetCommandLineArguments(void)
{
    const char* line = GetCommandLineA();
    // Skip the program name, quoted or not.
    if (*line == '"') {
        ++line;
        while (*line && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    return line;
}

static const char* SkipBlanks(const char* p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

// A window handle given in decimal after the switch, with ':' or blanks.
static HWND ParseWindowArgument(const char* p)
{
    if (*p == ':')
        ++p;
    p = SkipBlanks(p);
    if (!isdigit((unsigned char)*p))
        return 0;
    return (HWND)(ULONG_PTR)strtoul(p, NULL, 10);
}

int ParseSaverCommand(const char* arguments, SaverCommand* command)
{
    memset(command, 0, sizeof(*command));
    command->mode = MODE_CONFIGURE;
    const char* p = SkipBlanks(arguments ? arguments : "");
    if (*p != '/' && *p != '-')
        return 1;
    char letter = (char)tolower((unsigned char)p[1]);
    const char* rest = p[1] ? p + 2 : p + 1;
    switch (letter) {
    case 's': {
        command->mode = MODE_SAVER;
        // "/S file": the rest of the line is a settings file to test-run;
        // the shell passes it unquoted, so blanks belong to the name.
        const char* name = SkipBlanks(rest);
        size_t length = strlen(name);
        while (length && (name[length - 1] == ' ' || name[length - 1] == '\t'))
            --length;
        if (length >= 2 && name[0] == '"' && name[length - 1] == '"') {
            ++name;
            length -= 2;
        }
        if (length >= sizeof(command->fileName))
            length = 0;   // too long for a file name: ignore it
        memcpy(command->fileName, name, length);
        command->fileName[length] = 0;
        return 1;
    }
    case 'c':
        command->mode = MODE_CONFIGURE;
        command->parent = ParseWindowArgument(rest);
        return 1;
    case 'p':
        command->mode = MODE_PREVIEW;
        command->parent = ParseWindowArgument(rest);
        return command->parent != 0;
    case 'a':
        command->mode = MODE_PASSWORD;
        command->parent = ParseWindowArgument(rest);
        return 1;
    default:
        return 1;
    }
}

static void CloseSaver(HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

LRESULT WINAPI DefScreenSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!fChildPreview) {
        switch (message) {
        case WM_SETCURSOR:
            SetCursor(NULL);
            return TRUE;
        case WM_MOUSEMOVE: {
            POINT at = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
            // The first move only reports where the mouse rests.
            if (!mouseSeen) {
                firstMouse = at;
                mouseSeen = 1;
                return 0;
            }
            if (abs(at.x - firstMouse.x) > MOUSE_SLACK || abs(at.y - firstMouse.y) > MOUSE_SLACK)
                CloseSaver(window);
            return 0;
        }
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            CloseSaver(window);
            return 0;
        case WM_ACTIVATE:
        case WM_ACTIVATEAPP:
        case WM_NCACTIVATE:
            if (LOWORD(wParam) == 0) {
                CloseSaver(window);
                if (message == WM_NCACTIVATE)
                    return TRUE;
                return 0;
            }
            break;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_NEXTWINDOW ||
                (wParam & 0xFFF0) == SC_PREVWINDOW)
                return 0;
            break;
        }
    }
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The class procedure: everything goes to ScreenSaverProc; the library only
// ends the message loop when the window is gone.
static LRESULT WINAPI LibraryWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY) {
        LRESULT result = ScreenSaverProc(window, message, wParam, lParam);
        hMainWindow = 0;
        PostQuitMessage(0);
        return result;
    }
    return ScreenSaverProc(window, message, wParam, lParam);
}

static int MessageLoop(HWND parent)
{
    MSG message;
    for (;;) {
        // A preview ends with its parent, even when the parent belongs to a
        // process that never destroys our child explicitly.
        if (parent) {
            DWORD waited = MsgWaitForMultipleObjects(0, NULL, FALSE, 500, QS_ALLINPUT);
            if (waited == WAIT_TIMEOUT) {
                if (!IsWindow(parent) && hMainWindow)
                    DestroyWindow(hMainWindow);
                continue;
            }
            while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT)
                    return (int)message.wParam;
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            continue;
        }
        BOOL got = GetMessageA(&message, NULL, 0, 0);
        if (got == 0 || got == -1)
            return got == 0 ? (int)message.wParam : 1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static int RunSaverWindow(HINSTANCE instance, HWND parent)
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    // No CS_OWNDC: the render and palette threads each take their own context.
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = LibraryWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = saverClassName;
    RegisterClassA(&windowClass);

    if (parent) {
        if (!IsWindow(parent))
            return 1;
        fChildPreview = 1;
        RECT client;
        GetClientRect(parent, &client);
        hMainWindow = CreateWindowExA(0, saverClassName, "Preview", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                      0, 0, client.right, client.bottom, parent, NULL, instance, NULL);
    } else {
        // Every monitor: the virtual screen.
        int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
        int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
        int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
        int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
        if (width <= 0 || height <= 0) {
            x = y = 0;
            width = GetSystemMetrics(SM_CXSCREEN);
            height = GetSystemMetrics(SM_CYSCREEN);
        }
        char title[64] = "Screen Saver";
        LoadStringA(instance, IDS_DESCRIPTION, title, sizeof(title));
        hMainWindow = CreateWindowExA(WS_EX_TOPMOST, saverClassName, title, WS_POPUP | WS_VISIBLE,
                                      x, y, width, height, NULL, NULL, instance, NULL);
        if (hMainWindow) {
            ShowCursor(FALSE);
            SetForegroundWindow(hMainWindow);
        }
    }
    if (!hMainWindow)
        return 1;
    int code = MessageLoop(parent);
    if (!fChildPreview)
        ShowCursor(TRUE);
    return code;
}

// The exported procedure returns BOOL, as the screen-saver library declares
// it; a dialog procedure returns INT_PTR, which is wider on 64-bit Windows.
static INT_PTR CALLBACK ConfigureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ScreenSaverConfigureDialog(dialog, message, wParam, lParam);
}

int RunScreenSaver(HINSTANCE instance, const SaverCommand* command)
{
    hMainInstance = instance;
    switch (command->mode) {
    case MODE_SAVER:
        return RunSaverWindow(instance, 0);
    case MODE_PREVIEW:
        return RunSaverWindow(instance, command->parent);
    case MODE_PASSWORD:
        // NT-family Windows keeps the password with the user's logon.
        return 0;
    default: {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        if (!RegisterDialogClasses(instance))
            return 1;
        HWND owner = command->parent && IsWindow(command->parent) ? command->parent : GetForegroundWindow();
        INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(DLG_SCRNSAVECONFIGURE), owner,
                                         ConfigureDialogProc, 0);
        // The foreground window may belong to a program that is closing; a
        // dialog owned by a window that is gone is never created.
        if (result == -1 && owner)
            result = DialogBoxParamA(instance, MAKEINTRESOURCEA(DLG_SCRNSAVECONFIGURE), NULL,
                                     ConfigureDialogProc, 0);
        return result == -1 ? 1 : 0;
    }
    }
}
