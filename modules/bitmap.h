// What the Bitmap module has done so far (diagnostics and tests).
#pragma once
#include <windows.h>

struct BitmapStatus {
    LONG loadersStarted;
    LONG picturesPainted;
    LONG loadersEnded;       // loader threads that ended by themselves
    DWORD lastExitCode;      // of the last loader that ended
    int pictureWidth;        // size of the last prepared picture
    int pictureHeight;
};
void GetBitmapStatus(BitmapStatus* status);
// Clears the status and the time of the next picture, as at program start.
void ResetBitmapStatus(void);
