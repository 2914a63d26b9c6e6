#include "analyzer/engine.h"
#include "analyzer/capture.h"
#include "analyzer/link.h"
#include "analyzer/wavfile.h"
#include <objbase.h>
#include <stdio.h>
#include <string.h>

Engine engine;
static HANDLE engineThread;

static const char* const sourceTitles[SOURCE_KINDS] = {
    "What is playing (loopback)", "Recording device", "WAV file"
};

const char* SourceTitle(int source)
{
    return source >= 0 && source < SOURCE_KINDS ? sourceTitles[source] : "";
}

static const char* BaseName(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    return name;
}

// The state of one open source.
struct OpenSource {
    int open;
    Capture capture;
    WavFile wav;
    DWORD startTick;
    unsigned long long framesPlayed;
    float buffer[1024 * MAX_CHANNELS];
};

static void CloseSource(OpenSource* open)
{
    if (open->capture.client || open->capture.device)
        CloseCapture(&open->capture);
    if (open->wav.view)
        CloseWavFile(&open->wav);
    open->open = 0;
}

static int OpenSourceKind(OpenSource* open, int source, Analysis* analysis)
{
    char error[STATUS_SIZE] = "";
    char line2[64] = "";
    int rate = 0;
    if (source == SOURCE_FILE) {
        if (!engine.fileName[0]) {
            snprintf(error, sizeof(error), "No WAV file has been chosen.");
        } else if (OpenWavFile(engine.fileName, &open->wav, error, sizeof(error))) {
            rate = open->wav.sampleRate;
            snprintf(line2, sizeof(line2), "%s", BaseName(engine.fileName));
        }
    } else if (OpenCapture(&open->capture, source == SOURCE_LOOPBACK, error, sizeof(error))) {
        rate = open->capture.sampleRate;
        snprintf(line2, sizeof(line2), "%s", open->capture.name);
    }
    if (!rate) {
        snprintf(engine.status, sizeof(engine.status), "%s", error);
        PublishInfo(engine.share, "Sonalyx", error, "");
        return 0;
    }
    InitAnalysis(analysis, rate);
    open->open = 1;
    open->startTick = GetTickCount();
    open->framesPlayed = 0;
    snprintf(engine.status, sizeof(engine.status), "Listening to %s: %s", SourceTitle(source), line2);
    PublishInfo(engine.share, "Sonalyx is listening to", line2, SourceTitle(source));
    return 1;
}

// Feeds the frames of the file that are due by now, so the file plays at
// its real speed whatever the publication rhythm.
static void PlayFileUntilNow(OpenSource* open, Analysis* analysis)
{
    WavFile* wav = &open->wav;
    unsigned long long due = (unsigned long long)(GetTickCount() - open->startTick) * wav->sampleRate / 1000;
    if (due > open->framesPlayed + (unsigned long long)wav->sampleRate)
        open->framesPlayed = due - wav->sampleRate;   // after a stall, skip rather than race
    while (open->framesPlayed < due) {
        unsigned long long left = due - open->framesPlayed;
        int count = left < 1024 ? (int)left : 1024;
        ReadWavFrames(wav, (DWORD)(open->framesPlayed % wav->frames), count, open->buffer);
        FeedSamples(analysis, open->buffer, count, wav->channels);
        open->framesPlayed += count;
    }
}

// The saver's arrow and digit keys: gain and source.
static void FollowSaverKeys(int* lastHorizontal, int* lastVertical, int* lastDigit)
{
    SoundShare* share = engine.share;
    int horizontal = share->horizontalSteps;
    int vertical = share->verticalSteps;
    int digit = share->digitKey;
    float gain = engine.gainDb + (horizontal - *lastHorizontal) * GAIN_STEP_DB +
                 (vertical - *lastVertical) * GAIN_COARSE_DB;
    if (gain > GAIN_LIMIT_DB)
        gain = GAIN_LIMIT_DB;
    if (gain < -GAIN_LIMIT_DB)
        gain = -GAIN_LIMIT_DB;
    engine.gainDb = gain;
    if (digit != *lastDigit) {
        if (digit == 0)
            engine.gainDb = 0.0f;
        else if (digit >= 1 && digit <= SOURCE_KINDS && (digit - 1 != SOURCE_FILE || engine.fileName[0]))
            engine.requestedSource = digit - 1;
    }
    *lastHorizontal = horizontal;
    *lastVertical = vertical;
    *lastDigit = digit;
}

static DWORD WINAPI EngineBody(LPVOID)
{
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    timeBeginPeriod(1);
    static Analysis analysis;
    static OpenSource open;
    memset(&open, 0, sizeof(open));
    SoundShare* share = engine.share;
    int lastHorizontal = share->horizontalSteps;
    int lastVertical = share->verticalSteps;
    int lastDigit = share->digitKey;
    DWORD lastAttempt = GetTickCount() - REOPEN_INTERVAL;
    DWORD next = GetTickCount();
    while (engine.running) {
        if (engine.requestedSource != engine.source) {
            CloseSource(&open);
            engine.source = engine.requestedSource;
            lastAttempt = GetTickCount() - REOPEN_INTERVAL;
        }
        if (!open.open && GetTickCount() - lastAttempt >= REOPEN_INTERVAL) {
            lastAttempt = GetTickCount();
            OpenSourceKind(&open, engine.source, &analysis);
        }
        Levels levels;
        memset(&levels, 0, sizeof(levels));
        if (open.open) {
            if (engine.source == SOURCE_FILE)
                PlayFileUntilNow(&open, &analysis);
            else if (!PollCapture(&open.capture, &analysis)) {
                // Unplugged or reconfigured: publish silence and reopen soon.
                CloseSource(&open);
                snprintf(engine.status, sizeof(engine.status), "The sound device went away; looking for it again...");
                lastAttempt = GetTickCount() - REOPEN_INTERVAL + 250;
            }
            if (open.open)
                ComputeLevels(&analysis, share->slowCpu, &levels);
        }
        PublishLevels(share, &levels, engine.gainDb);
        engine.shown = levels;
        share->analyzerMajor = ANALYZER_MAJOR;
        share->analyzerMinor = ANALYZER_MINOR;
        share->analyzerRunning = 1;
        FollowSaverKeys(&lastHorizontal, &lastVertical, &lastDigit);
        if (engine.startedBySaver && share->quitRequest) {
            share->quitRequest = 0;
            engine.quitRequested = 1;
            if (engine.notifyWindow)
                PostMessageA(engine.notifyWindow, WM_CLOSE, 0, 0);
        }
        next += PUBLISH_INTERVAL;
        DWORD now = GetTickCount();
        if ((int)(next - now) > 0)
            Sleep(next - now);
        else
            next = now;   // fell behind: don't try to catch up
    }
    CloseSource(&open);
    Levels silence;
    memset(&silence, 0, sizeof(silence));
    PublishLevels(share, &silence, 0.0f);
    share->analyzerRunning = 0;
    timeEndPeriod(1);
    CoUninitialize();
    return 0;
}

int StartEngine(void)
{
    engine.running = 1;
    engine.source = -1;
    engineThread = CreateThread(NULL, 0, EngineBody, NULL, 0, NULL);
    if (!engineThread) {
        engine.running = 0;
        return 0;
    }
    SetThreadPriority(engineThread, THREAD_PRIORITY_ABOVE_NORMAL);
    return 1;
}

void StopEngine(void)
{
    if (!engineThread)
        return;
    engine.running = 0;
    WaitForSingleObject(engineThread, 5000);
    CloseHandle(engineThread);
    engineThread = 0;
}

int DumpLevels(const char* wavName, const char* csvName, int volumeOnly, char* error, int errorSize)
{
    WavFile wav;
    if (!OpenWavFile(wavName, &wav, error, errorSize))
        return 0;
    FILE* out = fopen(csvName, "w");
    if (!out) {
        CloseWavFile(&wav);
        snprintf(error, errorSize, "The levels file cannot be written.");
        return 0;
    }
    static Analysis analysis;
    InitAnalysis(&analysis, wav.sampleRate);
    static SoundShare record;
    memset(&record, 0, sizeof(record));
    static float buffer[1024 * MAX_CHANNELS];
    DWORD step = (DWORD)wav.sampleRate * PUBLISH_INTERVAL / 1000;
    for (DWORD played = 0; played + step <= wav.frames;) {
        for (DWORD done = 0; done < step;) {
            int count = step - done < 1024 ? (int)(step - done) : 1024;
            ReadWavFrames(&wav, played, count, buffer);
            FeedSamples(&analysis, buffer, count, wav.channels);
            played += count;
            done += count;
        }
        Levels levels;
        ComputeLevels(&analysis, volumeOnly, &levels);
        PublishLevels(&record, &levels, 0.0f);
        fprintf(out, "%lu,%g,%g,%g", (unsigned long)((unsigned long long)played * 1000 / wav.sampleRate),
                (record.leftLevel + record.rightLevel) / (2 * record.volumeScale),
                record.leftLevel / record.volumeScale, record.rightLevel / record.volumeScale);
        for (int b = 0; b < BAND_COUNT; ++b)
            fprintf(out, ",%g", (record.bandLevelA[b] + record.bandLevelB[b]) / (2 * record.bandScale));
        fputc('\n', out);
    }
    fclose(out);
    CloseWavFile(&wav);
    return 1;
}
