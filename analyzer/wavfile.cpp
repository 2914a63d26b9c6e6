#include "analyzer/wavfile.h"
#include <stdio.h>
#include <string.h>

static DWORD ReadLittle32(const BYTE* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24);
}

static int ReadLittle16(const BYTE* p)
{
    return p[0] | (p[1] << 8);
}

static int Refuse(char* error, int errorSize, const char* text)
{
    if (error && errorSize > 0)
        snprintf(error, errorSize, "%s", text);
    return 0;
}

enum { FORMAT_PCM = 1, FORMAT_FLOAT = 3, FORMAT_EXTENSIBLE = 0xFFFE };

int ParseWav(const BYTE* bytes, DWORD size, WavFile* wav, char* error, int errorSize)
{
    memset(wav, 0, sizeof(*wav));
    if (size < 12 || memcmp(bytes, "RIFF", 4) != 0 || memcmp(bytes + 8, "WAVE", 4) != 0)
        return Refuse(error, errorSize, "This is not a WAV file (no RIFF/WAVE header).");
    int haveFormat = 0;
    DWORD offset = 12;
    while (offset + 8 <= size) {
        const BYTE* chunk = bytes + offset;
        DWORD length = ReadLittle32(chunk + 4);
        DWORD available = size - offset - 8;
        if (memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || length > available)
                return Refuse(error, errorSize, "The WAV file is damaged: its format chunk is incomplete.");
            int format = ReadLittle16(chunk + 8);
            wav->channels = ReadLittle16(chunk + 10);
            wav->sampleRate = (int)ReadLittle32(chunk + 12);
            wav->blockAlign = ReadLittle16(chunk + 20);
            wav->bitsPerSample = ReadLittle16(chunk + 22);
            if (format == FORMAT_EXTENSIBLE) {
                if (length < 40)
                    return Refuse(error, errorSize, "The WAV file is damaged: its extended format is incomplete.");
                format = ReadLittle16(chunk + 8 + 24);   // first two bytes of the sub-format GUID
            }
            if (format != FORMAT_PCM && format != FORMAT_FLOAT)
                return Refuse(error, errorSize, "The WAV file is compressed; only PCM and float WAV files can be played.");
            wav->floatSamples = format == FORMAT_FLOAT;
            if (wav->channels < 1 || wav->channels > 8)
                return Refuse(error, errorSize, "The WAV file declares an impossible number of channels.");
            if (wav->sampleRate < 8000 || wav->sampleRate > 192000)
                return Refuse(error, errorSize, "The WAV file declares a sample rate outside 8000..192000 Hz.");
            int bits = wav->bitsPerSample;
            int valid = wav->floatSamples ? bits == 32 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
            if (!valid || wav->blockAlign != wav->channels * bits / 8)
                return Refuse(error, errorSize, "The WAV file declares a sample size it does not hold.");
            haveFormat = 1;
        } else if (memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return Refuse(error, errorSize, "The WAV file is damaged: its data comes before its format.");
            if (length > available)
                return Refuse(error, errorSize, "The WAV file is damaged or truncated: it holds less sound than it declares.");
            wav->data = chunk + 8;
            wav->frames = length / wav->blockAlign;
            if (wav->frames == 0)
                return Refuse(error, errorSize, "The WAV file holds no sound.");
            return 1;
        }
        if (length > available)
            break;
        offset += 8 + length + (length & 1);   // chunks are padded to even sizes
    }
    return Refuse(error, errorSize, haveFormat ? "The WAV file is damaged: it has no sound data."
                                               : "The WAV file is damaged: it has no format chunk.");
}

int OpenWavFile(const char* name, WavFile* wav, char* error, int errorSize)
{
    memset(wav, 0, sizeof(*wav));
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Refuse(error, errorSize, "The WAV file cannot be opened.");
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (high || size == INVALID_FILE_SIZE || size > 0x7FFFFFFF || size < 12) {
        CloseHandle(file);
        return Refuse(error, errorSize, size < 12 ? "The WAV file is empty or truncated."
                                                  : "The WAV file is too large.");
    }
    HANDLE mapping = CreateFileMappingA(file, NULL, PAGE_READONLY, 0, 0, NULL);
    const BYTE* view = mapping ? (const BYTE*)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : 0;
    if (!view) {
        if (mapping)
            CloseHandle(mapping);
        CloseHandle(file);
        return Refuse(error, errorSize, "The WAV file cannot be read.");
    }
    if (!ParseWav(view, size, wav, error, errorSize)) {
        UnmapViewOfFile(view);
        CloseHandle(mapping);
        CloseHandle(file);
        return 0;
    }
    wav->file = file;
    wav->mapping = mapping;
    wav->view = view;
    return 1;
}

void CloseWavFile(WavFile* wav)
{
    if (wav->view)
        UnmapViewOfFile(wav->view);
    if (wav->mapping)
        CloseHandle(wav->mapping);
    if (wav->file)
        CloseHandle(wav->file);
    memset(wav, 0, sizeof(*wav));
}

static float SampleAt(const WavFile* wav, const BYTE* p)
{
    switch (wav->bitsPerSample) {
    case 8:
        return (p[0] - 128) / 128.0f;
    case 16:
        return (short)ReadLittle16(p) / 32768.0f;
    case 24:
        return (int)((p[0] << 8) | (p[1] << 16) | ((DWORD)p[2] << 24)) / 2147483648.0f;
    default:
        if (wav->floatSamples) {
            float value;
            memcpy(&value, p, 4);
            return value;
        }
        return (int)ReadLittle32(p) / 2147483648.0f;
    }
}

void ReadWavFrames(const WavFile* wav, DWORD first, int count, float* out)
{
    int bytes = wav->bitsPerSample / 8;
    DWORD frame = first % wav->frames;
    for (int f = 0; f < count; ++f) {
        const BYTE* p = wav->data + (size_t)frame * wav->blockAlign;
        for (int c = 0; c < wav->channels; ++c)
            *out++ = SampleAt(wav, p + c * bytes);
        if (++frame == wav->frames)
            frame = 0;
    }
}
