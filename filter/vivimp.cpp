// The saver's own graphics import filter: PNG, JPEG, GIF (first frame) and
// TIFF pictures decoded through the Windows Imaging Component and handed
// back as a memory metafile of one META_STRETCHDIB record carrying a packed
// 32-bit top-down DIB (every decoder's pixels convert to that format).
// Pictures larger than the screen are scaled down while decoding, keeping
// their aspect ratio.
#include <windows.h>
#include <wincodec.h>
#include <string.h>

enum {
    FILTER_VERSION = 2,
    SPEC_NAME_OFFSET = 8,
    HEADER_WORDS = 9,     // METAHEADER
    STRETCHDIB_WORDS = 14,
    EOF_WORDS = 3,
    IMPORT_FAILED = 1
};

// The largest picture handed back: the screen, or a common full-HD screen
// when there is none to ask.
static void TargetSize(UINT width, UINT height, UINT* outWidth, UINT* outHeight)
{
    UINT limitW = (UINT)GetSystemMetrics(SM_CXSCREEN);
    UINT limitH = (UINT)GetSystemMetrics(SM_CYSCREEN);
    if (limitW == 0 || limitH == 0) {
        limitW = 1920;
        limitH = 1080;
    }
    *outWidth = width;
    *outHeight = height;
    if (width <= limitW && height <= limitH)
        return;
    // Scale by the tighter side; 64-bit products keep huge sizes exact.
    if ((unsigned long long)width * limitH >= (unsigned long long)height * limitW) {
        *outWidth = limitW;
        *outHeight = (UINT)((unsigned long long)height * limitW / width);
    } else {
        *outHeight = limitH;
        *outWidth = (UINT)((unsigned long long)width * limitH / height);
    }
    if (*outWidth == 0)
        *outWidth = 1;
    if (*outHeight == 0)
        *outHeight = 1;
}

static void PutWord(BYTE* p, WORD v)
{
    memcpy(p, &v, 2);
}

static void PutDword(BYTE* p, DWORD v)
{
    memcpy(p, &v, 4);
}

// Decodes the file into a new metafile block; null on any failure.
static HGLOBAL DecodeToMetafile(IWICImagingFactory* factory, const WCHAR* path)
{
    IWICBitmapDecoder* decoder = 0;
    IWICBitmapFrameDecode* frame = 0;
    IWICFormatConverter* converter = 0;
    IWICBitmapScaler* scaler = 0;
    HGLOBAL block = 0;
    BYTE* out = 0;
    do {
        if (FAILED(factory->CreateDecoderFromFilename(path, NULL, GENERIC_READ,
                                                                WICDecodeMetadataCacheOnDemand, &decoder)))
            break;
        if (FAILED(decoder->GetFrame(0, &frame)))
            break;
        UINT width = 0, height = 0;
        if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 ||
            width > 0x7FFFFF || height > 0x7FFFFF)
            break;
        if (FAILED(factory->CreateFormatConverter(&converter)))
            break;
        if (FAILED(converter->Initialize((IWICBitmapSource*)frame, GUID_WICPixelFormat32bppBGR,
                                                  WICBitmapDitherTypeNone, NULL, 0.0,
                                                  WICBitmapPaletteTypeCustom)))
            break;
        UINT outWidth, outHeight;
        TargetSize(width, height, &outWidth, &outHeight);
        IWICBitmapSource* source = (IWICBitmapSource*)converter;
        if (outWidth != width || outHeight != height) {
            if (FAILED(factory->CreateBitmapScaler(&scaler)))
                break;
            if (FAILED(scaler->Initialize(source, outWidth, outHeight,
                                                   WICBitmapInterpolationModeFant)))
                break;
            source = (IWICBitmapSource*)scaler;
        }
        DWORD stride = outWidth * 4;
        unsigned long long bitsBytes = (unsigned long long)stride * outHeight;
        unsigned long long dibBytes = sizeof(BITMAPINFOHEADER) + bitsBytes;
        unsigned long long totalBytes = (HEADER_WORDS + STRETCHDIB_WORDS + EOF_WORDS) * 2ull + dibBytes;
        if (bitsBytes > 0x10000000ull)
            break;
        block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (SIZE_T)totalBytes);
        out = block ? (BYTE*)GlobalLock(block) : 0;
        if (!out)
            break;
        DWORD recordWords = (DWORD)(STRETCHDIB_WORDS + dibBytes / 2);
        // METAHEADER: memory metafile, version 3.
        PutWord(out + 0, 1);
        PutWord(out + 2, HEADER_WORDS);
        PutWord(out + 4, 0x0300);
        PutDword(out + 6, (DWORD)(totalBytes / 2));
        PutWord(out + 10, 0);
        PutDword(out + 12, recordWords);
        PutWord(out + 16, 0);
        // META_STRETCHDIB: size, function, raster operation, usage, source
        // height, width, y, x, destination height, width, y, x, then the DIB.
        BYTE* record = out + HEADER_WORDS * 2;
        PutDword(record + 0, recordWords);
        PutWord(record + 4, META_STRETCHDIB);
        PutDword(record + 6, SRCCOPY);
        PutWord(record + 10, DIB_RGB_COLORS);
        PutWord(record + 12, (WORD)outHeight);
        PutWord(record + 14, (WORD)outWidth);
        PutWord(record + 16, 0);
        PutWord(record + 18, 0);
        PutWord(record + 20, (WORD)outHeight);
        PutWord(record + 22, (WORD)outWidth);
        PutWord(record + 24, 0);
        PutWord(record + 26, 0);
        BITMAPINFOHEADER header;
        memset(&header, 0, sizeof(header));
        header.biSize = sizeof(header);
        header.biWidth = (LONG)outWidth;
        header.biHeight = -(LONG)outHeight;   // top-down, as the decoder delivers rows
        header.biPlanes = 1;
        header.biBitCount = 32;
        header.biCompression = BI_RGB;
        header.biSizeImage = (DWORD)bitsBytes;
        BYTE* dib = record + STRETCHDIB_WORDS * 2;
        memcpy(dib, &header, sizeof(header));
        BYTE* bits = dib + sizeof(header);
        if (FAILED(source->CopyPixels(NULL, stride, (UINT)bitsBytes, bits)))
            break;
        BYTE* end = record + recordWords * 2;
        PutDword(end, EOF_WORDS);
        PutWord(end + 4, 0);
        GlobalUnlock(block);
        out = 0;
        // Done: hand the block over.
        if (scaler)
            scaler->Release();
        converter->Release();
        frame->Release();
        decoder->Release();
        return block;
    } while (0);
    if (out)
        GlobalUnlock(block);
    if (block)
        GlobalFree(block);
    if (scaler)
        scaler->Release();
    if (converter)
        converter->Release();
    if (frame)
        frame->Release();
    if (decoder)
        decoder->Release();
    return 0;
}

extern "C" __declspec(dllexport) short WINAPI GetFilterInfo(short version, LPSTR, HANDLE* preferences, DWORD)
{
    // No preferences to keep.
    if (preferences)
        *preferences = 0;
    return version == FILTER_VERSION ? FILTER_VERSION : 0;
}

extern "C" __declspec(dllexport) short WINAPI ImportGr(HDC, void* fileSpec, void* pictureInfo, HANDLE)
{
    if (!fileSpec || !pictureInfo)
        return IMPORT_FAILED;
    char name[MAX_PATH];
    memcpy(name, (const BYTE*)fileSpec + SPEC_NAME_OFFSET, MAX_PATH);
    name[MAX_PATH - 1] = 0;
    WCHAR path[MAX_PATH];
    if (!name[0] || !MultiByteToWideChar(CP_ACP, 0, name, -1, path, MAX_PATH))
        return IMPORT_FAILED;

    // COM as this thread already has it, or for this call alone.
    HRESULT init = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    int initialised = SUCCEEDED(init);
    IWICImagingFactory* factory = 0;
    HGLOBAL metafile = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   (void**)&factory))) {
        metafile = DecodeToMetafile(factory, path);
        factory->Release();
    }
    if (initialised)
        CoUninitialize();
    if (!metafile)
        return IMPORT_FAILED;
    memcpy(pictureInfo, &metafile, sizeof(metafile));
    return 0;
}
