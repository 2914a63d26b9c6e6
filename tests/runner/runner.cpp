// A stand-in for the taskbar launcher that setup copies and starts: one
// window of the launcher's class, or with the title given on the command
// line (the launchers of earlier versions). Ends on WM_CLOSE or after a
// minute, so a test that fails leaves nothing running.
#include <windows.h>

static LRESULT CALLBACK RunnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY || (message == WM_TIMER && wParam == 1)) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    const char* title = arguments && arguments[0] ? arguments : "Vivra Runner";
    const char* className = arguments && arguments[0] ? "Older Launcher" : "Zelkor v3.0";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RunnerProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(className, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 80, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    SetTimer(window, 1, 60000, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
