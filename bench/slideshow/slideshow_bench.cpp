// Timing of the Slide Show path: a 4000 x 3000 JPEG through the import
// filter, grey conversion, two smoothing passes and the stretched paint on
// a 1920 x 1080 surface, while a render loop keeps stepping frames.
//
// Usage: vivra_slideshow_bench [filter path] (default: VIVIMP32.FLT beside the program)
#include "graphics/surface.h"
#include "imagefiles/filterreg.h"
#include "imagefiles/imageload.h"
#include "modules/bitmap.h"
#include "modules/modules.h"
#include "runtime/framework.h"
#include <wincodec.h>
#include <stdio.h>
#include <string.h>
#include <vector>

static double Now(void)
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

// A 4000 x 3000 photo-like JPEG: smooth gradients with some texture.
static int WriteLargeJpeg(const char* path)
{
    const UINT w = 4000, h = 3000, stride = w * 3;
    std::vector<BYTE> bits((size_t)stride * h);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) {
            BYTE* p = &bits[(size_t)y * stride + x * 3];
            p[0] = (BYTE)(x * 255 / w);
            p[1] = (BYTE)(y * 255 / h);
            p[2] = (BYTE)(((x / 50) ^ (y / 50)) & 1 ? 200 : 60);
        }
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    IWICImagingFactory* factory = 0;
    IWICStream* stream = 0;
    IWICBitmapEncoder* encoder = 0;
    IWICBitmapFrameEncode* frame = 0;
    IPropertyBag2* properties = 0;
    int ok = 0;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   (void**)&factory)) &&
        SUCCEEDED(factory->CreateStream(&stream)) && SUCCEEDED(stream->InitializeFromFilename(wide, GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatJpeg, NULL, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, &properties)) && SUCCEEDED(frame->Initialize(properties)) &&
        SUCCEEDED(frame->SetSize(w, h)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
        SUCCEEDED(frame->WritePixels(h, stride, (UINT)bits.size(), bits.data())) && SUCCEEDED(frame->Commit()) &&
        SUCCEEDED(encoder->Commit()))
        ok = 1;
    if (properties)
        properties->Release();
    if (frame)
        frame->Release();
    if (encoder)
        encoder->Release();
    if (stream)
        stream->Release();
    if (factory)
        factory->Release();
    return ok;
}

int main(int argc, char** argv)
{
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    char filter[MAX_PATH];
    if (argc > 1) {
        lstrcpynA(filter, argv[1], MAX_PATH);
    } else {
        GetModuleFileNameA(NULL, filter, MAX_PATH);
        char* slash = strrchr(filter, '\\');
        lstrcpyA(slash ? slash + 1 : filter, IMPORT_FILTER_FILE);
    }
    if (!RegisterImportFilter(filter)) {
        printf("could not register the filter %s\n", filter);
        return 1;
    }
    char temp[MAX_PATH], photo[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    snprintf(photo, MAX_PATH, "%svivra_bench_photo.jpg", temp);
    double t0 = Now();
    if (!WriteLargeJpeg(photo)) {
        printf("could not write the test photo\n");
        return 1;
    }
    printf("wrote the 4000x3000 JPEG in %.0f ms\n", Now() - t0);

    // The load alone, three times.
    for (int i = 0; i < 3; ++i) {
        t0 = Now();
        HBITMAP picture = LoadPicture(photo, 0);
        double load = Now() - t0;
        BITMAP info = {};
        GetObjectA(picture, sizeof(info), &info);
        printf("LoadPicture: %.0f ms, %ldx%ld, %d bits\n", load, info.bmWidth, info.bmHeight, info.bmBitsPixel);
        DeleteObject(picture);
    }

    EmulatedSurface surface;
    if (!CreateEmulatedSurface(&surface, 1920, 1080)) {
        printf("no surface\n");
        return 1;
    }
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
    }
    ModuleRecord* record = &moduleTable[MODULE_BITMAP];
    record->width = 1920;
    record->height = 1080;
    record->dc = surface.dc;
    lstrcpynA(record->path, photo, PATH_SIZE);
    record->value[0] = 1;   // stretched
    record->value[1] = 1;   // grey
    record->value[2] = 12;
    record->value[3] = 2;   // two smoothing passes
    for (int run = 0; run < 3; ++run) {
        ResetBitmapStatus();
        BitmapOpen(record);
        t0 = Now();
        BitmapStart(record);
        // The render loop: one frame step every 10 ms (Speed 1), timing each.
        int frames = 0;
        double longest = 0, stepped = 0;
        BitmapStatus status = {};
        while (Now() - t0 < 10000) {
            double f0 = Now();
            BitmapFrame(record);
            double step = Now() - f0;
            stepped += step;
            if (step > longest)
                longest = step;
            ++frames;
            GetBitmapStatus(&status);
            if (status.picturesPainted >= 1)
                break;
            Sleep(10);
        }
        double total = Now() - t0;
        printf("run %d: picture shown after %.0f ms (%s), %d frames meanwhile, frame step mean %.2f ms, longest %.1f ms\n",
               run + 1, total, status.picturesPainted ? "painted" : "NOT painted", frames,
               frames ? stepped / frames : 0.0, longest);
        BitmapClose(record);
    }
    DestroyEmulatedSurface(&surface);
    UnregisterImportFilter();
    DeleteFileA(photo);
    return 0;
}
