#include "analyzer/capture.h"
#include <initguid.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <functiondiscoverykeys_devpkey.h>
#include <stdio.h>
#include <string.h>

enum { BUFFER_DURATION = 2000000 };   // 200 ms in 100-ns units
enum { CONVERT_FRAMES = 1024 };

static void ReadFriendlyName(IMMDevice* device, char* name, int size)
{
    snprintf(name, size, "Sound device");
    IPropertyStore* store = 0;
    if (FAILED(device->OpenPropertyStore(STGM_READ, &store)))
        return;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR)
        WideCharToMultiByte(CP_ACP, 0, value.pwszVal, -1, name, size, NULL, NULL);
    PropVariantClear(&value);
    store->Release();
}

int OpenCapture(Capture* capture, int loopback, char* error, int errorSize)
{
    memset(capture, 0, sizeof(*capture));
    IMMDeviceEnumerator* enumerator = 0;
    if (FAILED(CoCreateInstance(CLSID_MMDeviceEnumerator, NULL, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                                (void**)&enumerator))) {
        snprintf(error, errorSize, "Windows sound devices are not available on this system.");
        return 0;
    }
    HRESULT result = enumerator->GetDefaultAudioEndpoint(loopback ? eRender : eCapture, eConsole,
                                                         &capture->device);
    enumerator->Release();
    if (FAILED(result)) {
        snprintf(error, errorSize, loopback ? "No sound output device was found."
                                            : "No recording device was found.");
        return 0;
    }
    ReadFriendlyName(capture->device, capture->name, sizeof(capture->name));
    WAVEFORMATEX* format = 0;
    result = capture->device->Activate(IID_IAudioClient, CLSCTX_ALL, NULL, (void**)&capture->client);
    if (SUCCEEDED(result))
        result = capture->client->GetMixFormat(&format);
    if (SUCCEEDED(result)) {
        capture->channels = format->nChannels;
        capture->sampleRate = (int)format->nSamplesPerSec;
        capture->bitsPerSample = format->wBitsPerSample;
        capture->floatSamples = format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
        if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22)
            capture->floatSamples = ((WAVEFORMATEXTENSIBLE*)format)->SubFormat.Data1 == WAVE_FORMAT_IEEE_FLOAT;
        int usable = capture->channels >= 1 && capture->sampleRate >= 8000 && capture->sampleRate <= 192000 &&
                     (capture->floatSamples ? capture->bitsPerSample == 32
                                            : capture->bitsPerSample == 16 || capture->bitsPerSample == 32);
        result = usable ? capture->client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                                      loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0,
                                                      BUFFER_DURATION, 0, format, NULL)
                        : E_FAIL;
        CoTaskMemFree(format);
    }
    if (SUCCEEDED(result))
        result = capture->client->GetService(IID_IAudioCaptureClient, (void**)&capture->capture);
    if (SUCCEEDED(result))
        result = capture->client->Start();
    if (FAILED(result)) {
        snprintf(error, errorSize, loopback ? "The sound output device \"%s\" cannot be listened to."
                                            : "The recording device \"%s\" cannot be opened.", capture->name);
        CloseCapture(capture);
        return 0;
    }
    return 1;
}

int PollCapture(Capture* capture, Analysis* analysis)
{
    if (!capture->capture)
        return 0;
    float converted[CONVERT_FRAMES * 2];
    for (;;) {
        UINT32 waiting = 0;
        if (FAILED(capture->capture->GetNextPacketSize(&waiting)))
            return 0;
        if (waiting == 0)
            return 1;
        BYTE* data = 0;
        UINT32 frames = 0;
        DWORD flags = 0;
        if (FAILED(capture->capture->GetBuffer(&data, &frames, &flags, NULL, NULL)))
            return 0;
        int bytes = capture->bitsPerSample / 8;
        for (UINT32 done = 0; done < frames;) {
            int count = frames - done < CONVERT_FRAMES ? (int)(frames - done) : CONVERT_FRAMES;
            for (int f = 0; f < count; ++f) {
                const BYTE* frame = data + (size_t)(done + f) * capture->channels * bytes;
                for (int c = 0; c < 2; ++c) {
                    int channel = c < capture->channels ? c : 0;
                    const BYTE* p = frame + channel * bytes;
                    float value;
                    if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
                        value = 0.0f;
                    else if (capture->floatSamples)
                        memcpy(&value, p, 4);
                    else if (bytes == 2)
                        value = *(const short*)p / 32768.0f;
                    else
                        value = *(const int*)p / 2147483648.0f;
                    converted[f * 2 + c] = value;
                }
            }
            FeedSamples(analysis, converted, count, 2);
            done += count;
        }
        if (FAILED(capture->capture->ReleaseBuffer(frames)))
            return 0;
    }
}

void CloseCapture(Capture* capture)
{
    if (capture->client)
        capture->client->Stop();
    if (capture->capture)
        capture->capture->Release();
    if (capture->client)
        capture->client->Release();
    if (capture->device)
        capture->device->Release();
    memset(capture, 0, sizeof(*capture));
}
