// Sound devices as a source: the default output device through WASAPI
// loopback (what is playing), or the default recording device.
#pragma once
#include <windows.h>
#include "analyzer/analysis.h"

struct IMMDevice;
struct IAudioClient;
struct IAudioCaptureClient;

struct Capture {
    IMMDevice* device;
    IAudioClient* client;
    IAudioCaptureClient* capture;
    int channels;
    int sampleRate;
    int bitsPerSample;
    int floatSamples;
    char name[64];           // the device's friendly name
};

// Opens the default output device's loopback (loopback 1) or the default
// recording device (0). The calling thread must have initialised COM.
// 0 with a message for the user in `error` when there is no such device.
int OpenCapture(Capture* capture, int loopback, char* error, int errorSize);
// Moves every waiting packet into the analysis; 0 when the device has gone
// away or changed its format (the caller reopens it).
int PollCapture(Capture* capture, Analysis* analysis);
void CloseCapture(Capture* capture);
