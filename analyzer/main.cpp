// Sonalyx: listens to what is playing (or a recording device, or a WAV file)
// and publishes volume, left, right and sixteen band levels for the saver.
//
//   Sonalyx.exe                  window with live bars and a tray icon
//   Sonalyx.exe /file NAME.wav   analyse a WAV file, looping, at real speed
//   Sonalyx.exe /recording       listen to the default recording device
//   Sonalyx.exe /PPLAY           started by the saver: no window; ends when
//                                that saver asks
//   Sonalyx.exe /install         copy to the user's program folder and register
//   Sonalyx.exe /file NAME.wav /dump LEVELS.csv   write the levels of a file
#include "analyzer/engine.h"
#include "analyzer/link.h"
#include "analyzer/wavfile.h"
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

enum {
    ID_SOURCE = 100,
    ID_GAIN_DOWN = 101,
    ID_GAIN_UP = 102,
    ID_TRAY_SHOW = 200,
    ID_TRAY_EXIT = 201,
    WM_TRAY = WM_APP + 1,
    REPAINT_TIMER = 1,
    ORPHAN_LIMIT = 5000         // ms without any saver before a /PPLAY copy ends
};

static const char* const bandNames[BAND_COUNT] = {
    "150", "400", "600", "800", "1k", "1.5k", "2k", "2.5k",
    "3.3k", "4k", "5k", "6.3k", "8k", "10k", "12.5k", "18k"
};

struct Options {
    int pplay;
    int install;
    int quiet;
    int source;
    char fileName[MAX_PATH];
    char dumpName[MAX_PATH];
};

// Reads the next argument (quoted or not) into `word`; returns the rest.
static const char* NextArgument(const char* p, char* word, int size)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    int n = 0;
    int quoted = *p == '"';
    if (quoted)
        ++p;
    while (*p && (quoted ? *p != '"' : *p != ' ' && *p != '\t')) {
        if (n < size - 1)
            word[n++] = *p;
        ++p;
    }
    if (quoted && *p == '"')
        ++p;
    word[n] = 0;
    return p;
}

static void ParseOptions(const char* line, Options* options)
{
    memset(options, 0, sizeof(*options));
    options->source = SOURCE_LOOPBACK;
    char word[MAX_PATH];
    // Skip the program name.
    const char* p = NextArgument(line, word, sizeof(word));
    while (*p) {
        p = NextArgument(p, word, sizeof(word));
        if (lstrcmpiA(word, "/PPLAY") == 0) {
            options->pplay = 1;
        } else if (lstrcmpiA(word, "/install") == 0) {
            options->install = 1;
        } else if (lstrcmpiA(word, "/quiet") == 0) {
            options->quiet = 1;
        } else if (lstrcmpiA(word, "/recording") == 0) {
            options->source = SOURCE_RECORDING;
        } else if (lstrcmpiA(word, "/loopback") == 0) {
            options->source = SOURCE_LOOPBACK;
        } else if (lstrcmpiA(word, "/file") == 0) {
            p = NextArgument(p, options->fileName, sizeof(options->fileName));
            options->source = SOURCE_FILE;
        } else if (lstrcmpiA(word, "/dump") == 0) {
            p = NextArgument(p, options->dumpName, sizeof(options->dumpName));
        }
    }
}

static void Report(const Options* options, const char* text, UINT icon)
{
    if (!options->quiet)
        MessageBoxA(NULL, text, "Sonalyx", MB_OK | icon);
}

// ---- the window ----------------------------------------------------------

static HWND mainWindow;
static HWND sourceList;
static NOTIFYICONDATAA trayIcon;
static char registerNote[STATUS_SIZE];

static int Scale(int pixels)
{
    static int dpi = 0;
    if (!dpi) {
        HDC screen = GetDC(NULL);
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(NULL, screen);
    }
    return MulDiv(pixels, dpi, 96);
}

static float Bar(float value)
{
    if (!(value > 0.0f))
        return 0.0f;
    return value > 1.0f ? 1.0f : value;
}

static void PaintBars(HDC dc, const RECT* area)
{
    const Levels& levels = engine.shown;
    SoundShare* share = engine.share;
    float volumeScale = share->volumeScale > 0 ? share->volumeScale : 1.0f;
    float bandScale = share->bandScale > 0 ? share->bandScale : 1.0f;
    float values[BAND_COUNT + 3];
    for (int b = 0; b < BAND_COUNT; ++b)
        values[b] = (levels.bandA[b] + levels.bandB[b]) / (2 * bandScale);
    values[BAND_COUNT] = levels.left / volumeScale;
    values[BAND_COUNT + 1] = levels.right / volumeScale;
    values[BAND_COUNT + 2] = (levels.left + levels.right) / (2 * volumeScale);
    int columns = BAND_COUNT + 4;   // one empty column between bands and volume
    int width = (area->right - area->left) / columns;
    int labelHeight = Scale(16);
    int top = area->top, bottom = area->bottom - labelHeight;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(200, 200, 220));
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    for (int i = 0; i < BAND_COUNT + 3; ++i) {
        int column = i < BAND_COUNT ? i : i + 1;
        int x = area->left + column * width;
        int height = (int)(Bar(values[i]) * (bottom - top));
        RECT frame = { x + 2, top, x + width - 2, bottom };
        HBRUSH back = CreateSolidBrush(RGB(40, 30, 70));
        FillRect(dc, &frame, back);
        DeleteObject(back);
        COLORREF colour = i < BAND_COUNT ? RGB(60 + i * 12, 220 - i * 8, 255 - i * 10) : RGB(250, 200, 60);
        RECT bar = { x + 2, bottom - height, x + width - 2, bottom };
        HBRUSH fill = CreateSolidBrush(values[i] > 1.0f ? RGB(255, 80, 80) : colour);
        FillRect(dc, &bar, fill);
        DeleteObject(fill);
        const char* label = i < BAND_COUNT ? bandNames[i] : i == BAND_COUNT ? "L" : i == BAND_COUNT + 1 ? "R" : "Vol";
        RECT text = { x - 4, bottom + 2, x + width + 4, area->bottom };
        DrawTextA(dc, label, -1, &text, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    SelectObject(dc, oldFont);
}

static void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH back = CreateSolidBrush(RGB(20, 14, 40));
    FillRect(memory, &client, back);
    DeleteObject(back);
    RECT area = { Scale(10), Scale(44), client.right - Scale(10), client.bottom - Scale(46) };
    PaintBars(memory, &area);
    char status[STATUS_SIZE * 2];
    snprintf(status, sizeof(status), "%s   Gain %+.1f dB%s%s", engine.status, engine.gainDb,
             registerNote[0] ? "\n" : "", registerNote);
    RECT text = { Scale(10), client.bottom - Scale(40), client.right - Scale(10), client.bottom - Scale(4) };
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(230, 230, 240));
    HGDIOBJ oldFont = SelectObject(memory, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextA(memory, status, -1, &text, DT_LEFT | DT_NOPREFIX | DT_WORDBREAK);
    SelectObject(memory, oldFont);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, &paint);
}

static void ChooseSource(HWND window, int source)
{
    if (source == SOURCE_FILE) {
        char name[MAX_PATH];
        snprintf(name, sizeof(name), "%s", engine.fileName);
        OPENFILENAMEA dialog;
        memset(&dialog, 0, sizeof(dialog));
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = window;
        dialog.lpstrFilter = "WAV files (*.wav)\0*.wav\0All files\0*.*\0";
        dialog.lpstrFile = name;
        dialog.nMaxFile = sizeof(name);
        dialog.lpstrTitle = "Listen to a WAV file";
        dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
        if (!GetOpenFileNameA(&dialog)) {
            SendMessageA(sourceList, CB_SETCURSEL, engine.requestedSource, 0);
            return;
        }
        snprintf(engine.fileName, sizeof(engine.fileName), "%s", name);
        engine.source = -1;   // reopen even when a file was already playing
    }
    engine.requestedSource = source;
}

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
        HWND label = CreateWindowA("STATIC", "Listen to:", WS_CHILD | WS_VISIBLE, Scale(10), Scale(13),
                                   Scale(60), Scale(18), window, NULL, NULL, NULL);
        sourceList = CreateWindowA("COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST,
                                   Scale(72), Scale(10), Scale(220), Scale(120), window, (HMENU)ID_SOURCE, NULL, NULL);
        HWND down = CreateWindowA("BUTTON", "Gain -", WS_CHILD | WS_VISIBLE | WS_TABSTOP, Scale(306), Scale(9),
                                  Scale(60), Scale(24), window, (HMENU)ID_GAIN_DOWN, NULL, NULL);
        HWND up = CreateWindowA("BUTTON", "Gain +", WS_CHILD | WS_VISIBLE | WS_TABSTOP, Scale(370), Scale(9),
                                Scale(60), Scale(24), window, (HMENU)ID_GAIN_UP, NULL, NULL);
        HWND controls[] = { label, sourceList, down, up };
        for (HWND control : controls)
            SendMessageA(control, WM_SETFONT, (WPARAM)font, 0);
        for (int s = 0; s < SOURCE_KINDS; ++s)
            SendMessageA(sourceList, CB_ADDSTRING, 0, (LPARAM)SourceTitle(s));
        SendMessageA(sourceList, CB_SETCURSEL, engine.requestedSource, 0);
        SetTimer(window, REPAINT_TIMER, 25, NULL);
        return 0;
    }
    case WM_TIMER:
        if (SendMessageA(sourceList, CB_GETCURSEL, 0, 0) != engine.requestedSource && !SendMessageA(sourceList, CB_GETDROPPEDSTATE, 0, 0))
            SendMessageA(sourceList, CB_SETCURSEL, engine.requestedSource, 0);
        if (IsWindowVisible(window))
            InvalidateRect(window, NULL, FALSE);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_SOURCE:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                ChooseSource(window, (int)SendMessageA(sourceList, CB_GETCURSEL, 0, 0));
            return 0;
        case ID_GAIN_DOWN:
        case ID_GAIN_UP: {
            float gain = engine.gainDb + (LOWORD(wParam) == ID_GAIN_UP ? GAIN_STEP_DB : -GAIN_STEP_DB);
            if (gain >= -GAIN_LIMIT_DB && gain <= GAIN_LIMIT_DB)
                engine.gainDb = gain;
            return 0;
        }
        case ID_TRAY_SHOW:
            ShowWindow(window, SW_RESTORE);
            SetForegroundWindow(window);
            return 0;
        case ID_TRAY_EXIT:
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_SIZE:
        // Minimised, Sonalyx lives in the notification area only.
        if (wParam == SIZE_MINIMIZED)
            ShowWindow(window, SW_HIDE);
        return 0;
    case WM_TRAY:
        if (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK) {
            ShowWindow(window, SW_RESTORE);
            SetForegroundWindow(window);
        } else if (lParam == WM_RBUTTONUP) {
            HMENU menu = CreatePopupMenu();
            AppendMenuA(menu, MF_STRING, ID_TRAY_SHOW, "&Show Sonalyx");
            AppendMenuA(menu, MF_STRING, ID_TRAY_EXIT, "E&xit");
            POINT at;
            GetCursorPos(&at);
            SetForegroundWindow(window);
            TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, NULL);
            DestroyMenu(menu);
        }
        return 0;
    case WM_DESTROY:
        KillTimer(window, REPAINT_TIMER);
        Shell_NotifyIconA(NIM_DELETE, &trayIcon);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int RunWindow(HINSTANCE instance, int show)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.lpszClassName = "Sonalyx";
    RegisterClassA(&windowClass);
    RECT frame = { 0, 0, Scale(520), Scale(300) };
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&frame, style, FALSE);
    char title[64];
    snprintf(title, sizeof(title), "Sonalyx v%d.%d", ANALYZER_MAJOR, ANALYZER_MINOR);
    mainWindow = CreateWindowA("Sonalyx", title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                               frame.right - frame.left, frame.bottom - frame.top, NULL, NULL, instance, NULL);
    if (!mainWindow)
        return 1;
    engine.notifyWindow = mainWindow;
    memset(&trayIcon, 0, sizeof(trayIcon));
    trayIcon.cbSize = sizeof(trayIcon);
    trayIcon.hWnd = mainWindow;
    trayIcon.uID = 1;
    trayIcon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    trayIcon.uCallbackMessage = WM_TRAY;
    trayIcon.hIcon = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                       GetSystemMetrics(SM_CYSMICON), 0);
    snprintf(trayIcon.szTip, sizeof(trayIcon.szTip), "%s", title);
    Shell_NotifyIconA(NIM_ADD, &trayIcon);
    ShowWindow(mainWindow, show);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

// Started by the saver: no window; ends when the saver asks or when no saver
// or configuration sheet has been open for a while.
static void RunHidden(void)
{
    DWORD orphanSince = 0;
    while (!engine.quitRequested && engine.running) {
        Sleep(100);
        if (engine.share->clientCount > 0) {
            orphanSince = 0;
        } else if (!orphanSince) {
            orphanSince = GetTickCount();
        } else if (GetTickCount() - orphanSince > ORPHAN_LIMIT) {
            break;
        }
    }
}

// Copies the program into the user's program folder and registers that copy.
static int Install(const Options* options, char* installed, int size)
{
    char own[MAX_PATH], folder[MAX_PATH];
    GetModuleFileNameA(NULL, own, sizeof(own));
    if (SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL, 0, folder) != S_OK) {
        Report(options, "Sonalyx cannot find your program folder.", MB_ICONERROR);
        return 0;
    }
    char target[MAX_PATH];
    snprintf(target, sizeof(target), "%s\\Sonalyx", folder);
    CreateDirectoryA(target, NULL);
    snprintf(installed, size, "%s\\Sonalyx.exe", target);
    if (lstrcmpiA(own, installed) != 0 && !CopyFileA(own, installed, FALSE)) {
        Report(options, "Sonalyx could not be copied into your program folder.", MB_ICONERROR);
        return 0;
    }
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Options options;
    ParseOptions(GetCommandLineA(), &options);
    char error[STATUS_SIZE];
    if (options.dumpName[0]) {
        if (!DumpLevels(options.fileName, options.dumpName, 0, error, sizeof(error))) {
            Report(&options, error, MB_ICONERROR);
            return 2;
        }
        return 0;
    }
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, sizeof(program));
    if (options.install) {
        if (!Install(&options, program, sizeof(program)))
            return 3;
        RegisterAnalyzer(program, registerNote, sizeof(registerNote));
        Report(&options, registerNote, MB_ICONINFORMATION);
        return 0;
    }
    if (options.source == SOURCE_FILE) {
        // Check the file now so a damaged one is a clear message, not a silent bar.
        WavFile wav;
        if (!OpenWavFile(options.fileName, &wav, error, sizeof(error))) {
            Report(&options, error, MB_ICONERROR);
            return 2;
        }
        CloseWavFile(&wav);
        snprintf(engine.fileName, sizeof(engine.fileName), "%s", options.fileName);
    }
    // One analyzer per session: a second start leaves the first one publishing.
    HANDLE single = CreateMutexA(NULL, TRUE, "Sonalyx.SingleInstance");
    if (single && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(single);
        return 0;
    }
    HANDLE mapping = 0;
    engine.share = OpenAnalyzerLink(&mapping);
    if (!engine.share) {
        Report(&options, "The shared sound record is in use by an unknown program; Sonalyx cannot publish levels.",
               MB_ICONERROR);
        return 4;
    }
    if (RegisterAnalyzer(program, registerNote, sizeof(registerNote)))
        registerNote[0] = 0;   // registered in full: nothing to tell
    engine.requestedSource = options.source;
    engine.startedBySaver = options.pplay;
    InitCommonControls();
    if (!StartEngine()) {
        CloseAnalyzerLink(engine.share, mapping);
        return 5;
    }
    int result = 0;
    if (options.pplay)
        RunHidden();
    else
        result = RunWindow(instance, show);
    StopEngine();
    CloseAnalyzerLink(engine.share, mapping);
    if (single)
        CloseHandle(single);
    return result;
}
