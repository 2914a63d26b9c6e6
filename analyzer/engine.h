// The analysis thread: reads the chosen source, computes the levels and
// publishes them into the shared record about fifty times a second.
#pragma once
#include <windows.h>
#include "analyzer/analysis.h"
#include "runtime/soundlink.h"

enum SourceKind { SOURCE_LOOPBACK = 0, SOURCE_RECORDING = 1, SOURCE_FILE = 2, SOURCE_KINDS = 3 };

enum {
    PUBLISH_INTERVAL = 20,     // ms between two publications
    REOPEN_INTERVAL = 1000,    // ms between two attempts to open a lost device
    STATUS_SIZE = 160
};

const float GAIN_STEP_DB = 1.5f;    // Left/Right arrows in the saver
const float GAIN_COARSE_DB = 6.0f;  // Up/Down arrows
const float GAIN_LIMIT_DB = 30.0f;

struct Engine {
    SoundShare* share;
    volatile int running;
    volatile int requestedSource;    // set by the window or a digit key
    int source;                      // the source open now
    char fileName[MAX_PATH];
    volatile float gainDb;
    int startedBySaver;              // " /PPLAY": ends when that saver asks
    volatile int quitRequested;      // set when the saver asked us to end
    HWND notifyWindow;               // gets WM_CLOSE when the saver asks us to end
    Levels shown;                    // the last published levels, for the window
    char status[STATUS_SIZE];        // what the window shows under the bars
};

extern Engine engine;

// Starts and stops the analysis thread.
int StartEngine(void);
void StopEngine(void);

// The texts the window and the record show for a source.
const char* SourceTitle(int source);

// Analyses a WAV file as fast as it can, in steps of PUBLISH_INTERVAL of the
// file's time, publishing each step into a private record, and writes one
// CSV line per step: file time in ms, then volume, left, right and the
// sixteen bands as the saver computes them without auto gain. 0 with a
// message when the file cannot be read.
int DumpLevels(const char* wavName, const char* csvName, int volumeOnly, char* error, int errorSize);
