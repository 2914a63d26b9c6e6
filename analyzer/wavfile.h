// WAV files as a sound source: the whole file is mapped read-only and played
// in a loop.
#pragma once
#include <windows.h>

struct WavFile {
    HANDLE file;
    HANDLE mapping;
    const BYTE* view;
    const BYTE* data;        // first sample byte
    DWORD frames;            // whole frames in the data chunk
    int channels;
    int sampleRate;
    int bitsPerSample;       // 8, 16, 24 or 32
    int floatSamples;        // 32-bit IEEE float instead of integer PCM
    int blockAlign;
};

// Checks a file image and fills `wav` (without file handles). 0 with a
// message for the user in `error` when the file is not a WAV we can play.
int ParseWav(const BYTE* bytes, DWORD size, WavFile* wav, char* error, int errorSize);
// Opens and maps a file; 0 with a message in `error`.
int OpenWavFile(const char* name, WavFile* wav, char* error, int errorSize);
void CloseWavFile(WavFile* wav);
// Converts `count` frames from frame `first` on into interleaved floats of
// wav->channels channels, wrapping to the start at the end of the file.
void ReadWavFrames(const WavFile* wav, DWORD first, int count, float* out);
