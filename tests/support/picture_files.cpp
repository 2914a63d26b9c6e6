#include "support/picture_files.h"
#include "support/harness.h"
#include "imagefiles/imageload.h"
#include "settings/registry.h"
#include <wincodec.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void DeleteFolderFiles(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((folder + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::string FreshPictureFolder(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "vivra_" + name;
    CreateDirectoryA(folder.c_str(), NULL);
    DeleteFolderFiles(folder);
    return folder;
}

std::string FilterPath(void)
{
    return EnvironmentPath("VIVRA_FLT");
}

std::string TestFilterPath(void)
{
    return EnvironmentPath("VIVRA_TEST_FLT");
}

TestPicture PatternPicture(int width, int height, int colours)
{
    TestPicture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize((size_t)width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Blocks of 3 x 2 pixels, so runs and rows both vary.
            int k = ((x / 3) + (y / 2) * 5) % colours;
            // Distinct colours with channels that are multiples of 8.
            DWORD r = (DWORD)((k * 37) % 32) * 8, g = (DWORD)((k * 11 + 7) % 32) * 8, b = (DWORD)((k * 5 + 3) % 32) * 8;
            picture.pixels[(size_t)y * width + x] = (r << 16) | (g << 8) | b;
        }
    return picture;
}

static void Put16(std::vector<BYTE>& v, WORD x)
{
    v.push_back((BYTE)x);
    v.push_back((BYTE)(x >> 8));
}

static void Put32(std::vector<BYTE>& v, DWORD x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back((BYTE)(x >> (8 * i)));
}

// The picture's colours, each once, in order of first appearance.
static std::vector<DWORD> Colours(const TestPicture& picture)
{
    std::vector<DWORD> table;
    for (DWORD c : picture.pixels) {
        bool known = false;
        for (DWORD t : table)
            known = known || t == c;
        if (!known)
            table.push_back(c);
    }
    return table;
}

static int IndexOf(const std::vector<DWORD>& table, DWORD c)
{
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i] == c)
            return (int)i;
    return 0;
}

// One row of indices run-length encoded: runs of equal values, end of line.
static void EncodeRleRow(std::vector<BYTE>& out, const std::vector<int>& row, int fourBit)
{
    size_t x = 0;
    while (x < row.size()) {
        size_t run = 1;
        while (x + run < row.size() && row[x + run] == row[x] && run < 255)
            ++run;
        out.push_back((BYTE)run);
        out.push_back((BYTE)(fourBit ? (row[x] << 4) | row[x] : row[x]));
        x += run;
    }
    out.push_back(0);
    out.push_back(0);
}

int WriteBmp(const char* path, const TestPicture& picture, int bits, BmpLayout layout, int tableEntries)
{
    int w = picture.width, h = picture.height;
    std::vector<DWORD> table = Colours(picture);
    if (bits <= 8 && (int)table.size() > (1 << bits))
        return 0;
    std::vector<BYTE> image;
    int stride = ((w * bits + 31) / 32) * 4;
    int rle = layout == BMP_RLE;
    for (int i = 0; i < h; ++i) {
        int y = layout == BMP_TOP_DOWN ? i : h - 1 - i;
        if (rle) {
            std::vector<int> row;
            for (int x = 0; x < w; ++x)
                row.push_back(IndexOf(table, picture.At(x, y)));
            EncodeRleRow(image, row, bits == 4);
            continue;
        }
        std::vector<BYTE> line((size_t)stride, 0);
        for (int x = 0; x < w; ++x) {
            DWORD c = picture.At(x, y);
            BYTE r = (BYTE)(c >> 16), g = (BYTE)(c >> 8), b = (BYTE)c;
            if (bits <= 8) {
                int index = IndexOf(table, c);
                int bitPos = x * bits;
                line[bitPos / 8] |= (BYTE)(index << (8 - bits - bitPos % 8));
            } else if (bits == 16) {
                WORD v = layout == BMP_565 ? (WORD)(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))
                                           : (WORD)(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                line[x * 2] = (BYTE)v;
                line[x * 2 + 1] = (BYTE)(v >> 8);
            } else {
                int n = bits / 8;
                line[x * n] = b;
                line[x * n + 1] = g;
                line[x * n + 2] = r;
            }
        }
        image.insert(image.end(), line.begin(), line.end());
    }
    if (rle) {
        image.push_back(0);
        image.push_back(1);
    }

    std::vector<BYTE> header;
    int core = layout == BMP_CORE;
    int entries = bits <= 8 ? (tableEntries ? tableEntries : (1 << bits)) : tableEntries;
    if (core)
        entries = bits <= 8 ? (1 << bits) : 0;
    if (!core) {
        Put32(header, sizeof(BITMAPINFOHEADER));
        Put32(header, (DWORD)w);
        Put32(header, (DWORD)(layout == BMP_TOP_DOWN ? -h : h));
        Put16(header, 1);
        Put16(header, (WORD)bits);
        DWORD compression = BI_RGB;
        if (rle)
            compression = bits == 8 ? BI_RLE8 : BI_RLE4;
        if (layout == BMP_565)
            compression = BI_BITFIELDS;
        Put32(header, compression);
        Put32(header, (DWORD)image.size());
        Put32(header, 2835);
        Put32(header, 2835);
        Put32(header, bits <= 8 ? (DWORD)tableEntries : (DWORD)entries);
        Put32(header, 0);
        if (layout == BMP_565) {
            Put32(header, 0xF800);
            Put32(header, 0x07E0);
            Put32(header, 0x001F);
        }
    } else {
        Put32(header, sizeof(BITMAPCOREHEADER));
        Put16(header, (WORD)w);
        Put16(header, (WORD)h);
        Put16(header, 1);
        Put16(header, (WORD)bits);
    }
    for (int i = 0; i < entries; ++i) {
        DWORD c = i < (int)table.size() ? table[i] : 0;
        header.push_back((BYTE)c);
        header.push_back((BYTE)(c >> 8));
        header.push_back((BYTE)(c >> 16));
        if (!core)
            header.push_back(0);
    }
    std::vector<BYTE> file;
    Put16(file, 0x4D42);
    Put32(file, (DWORD)(14 + header.size() + image.size()));
    Put32(file, 0);
    Put32(file, (DWORD)(14 + header.size()));
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), image.begin(), image.end());
    return WriteBytes(path, file);
}

std::vector<BYTE> ReadBytes(const char* path)
{
    std::vector<BYTE> bytes;
    FILE* f = fopen(path, "rb");
    if (!f)
        return bytes;
    BYTE buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

int WriteBytes(const char* path, const std::vector<BYTE>& bytes)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return 0;
    size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return written == bytes.size();
}

int WriteWicPicture(const char* path, const char* format, const TestPicture& picture)
{
    const GUID* container = 0;
    if (strcmp(format, "png") == 0)
        container = &GUID_ContainerFormatPng;
    else if (strcmp(format, "jpg") == 0)
        container = &GUID_ContainerFormatJpeg;
    else if (strcmp(format, "gif") == 0)
        container = &GUID_ContainerFormatGif;
    else if (strcmp(format, "tif") == 0)
        container = &GUID_ContainerFormatTiff;
    if (!container)
        return 0;
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    int gif = container == &GUID_ContainerFormatGif;
    int w = picture.width, h = picture.height;
    std::vector<DWORD> table = Colours(picture);
    if (gif && table.size() > 256)
        return 0;
    UINT stride = gif ? (UINT)((w + 3) & ~3) : (UINT)(((w * 3) + 3) & ~3);
    std::vector<BYTE> bits((size_t)stride * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            DWORD c = picture.At(x, y);
            if (gif) {
                bits[(size_t)y * stride + x] = (BYTE)IndexOf(table, c);
            } else {
                BYTE* p = &bits[(size_t)y * stride + x * 3];
                p[0] = (BYTE)c;
                p[1] = (BYTE)(c >> 8);
                p[2] = (BYTE)(c >> 16);
            }
        }

    int ok = 0;
    IWICImagingFactory* factory = 0;
    IWICStream* stream = 0;
    IWICBitmapEncoder* encoder = 0;
    IWICBitmapFrameEncode* frame = 0;
    IPropertyBag2* properties = 0;
    IWICPalette* palette = 0;
    WCHAR widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);
    do {
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    (void**)&factory)))
            break;
        if (FAILED(factory->CreateStream(&stream)) ||
            FAILED(stream->InitializeFromFilename(widePath, GENERIC_WRITE)))
            break;
        if (FAILED(factory->CreateEncoder(*container, NULL, &encoder)) ||
            FAILED(encoder->Initialize(stream, WICBitmapEncoderNoCache)))
            break;
        if (FAILED(encoder->CreateNewFrame(&frame, &properties)) || FAILED(frame->Initialize(properties)))
            break;
        if (FAILED(frame->SetSize((UINT)w, (UINT)h)))
            break;
        WICPixelFormatGUID pixelFormat = gif ? GUID_WICPixelFormat8bppIndexed : GUID_WICPixelFormat24bppBGR;
        if (FAILED(frame->SetPixelFormat(&pixelFormat)))
            break;
        if (gif) {
            std::vector<WICColor> colours;
            for (DWORD c : table)
                colours.push_back(0xFF000000u | c);
            if (FAILED(factory->CreatePalette(&palette)) ||
                FAILED(palette->InitializeCustom(colours.data(), (UINT)colours.size())) ||
                FAILED(frame->SetPalette(palette)))
                break;
        }
        if (!IsEqualGUID(pixelFormat, gif ? GUID_WICPixelFormat8bppIndexed : GUID_WICPixelFormat24bppBGR))
            break;
        if (FAILED(frame->WritePixels((UINT)h, stride, (UINT)bits.size(), bits.data())))
            break;
        if (FAILED(frame->Commit()) || FAILED(encoder->Commit()))
            break;
        ok = 1;
    } while (0);
    if (palette)
        palette->Release();
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

TestPicture ReadBitmapPixels(HBITMAP bitmap)
{
    TestPicture picture = {0, 0, {}};
    BITMAP info;
    if (!bitmap || !GetObjectA(bitmap, sizeof(info), &info))
        return picture;
    BITMAPINFO request;
    ZeroMemory(&request, sizeof(request));
    request.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    request.bmiHeader.biWidth = info.bmWidth;
    request.bmiHeader.biHeight = -info.bmHeight;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    std::vector<DWORD> pixels((size_t)info.bmWidth * info.bmHeight);
    HDC screen = GetDC(NULL);
    int rows = GetDIBits(screen, bitmap, 0, (UINT)info.bmHeight, pixels.data(), &request, DIB_RGB_COLORS);
    ReleaseDC(NULL, screen);
    if (rows != info.bmHeight)
        return picture;
    for (DWORD& p : pixels)
        p &= 0xFFFFFF;
    picture.width = info.bmWidth;
    picture.height = info.bmHeight;
    picture.pixels = pixels;
    return picture;
}

int ColourDistance(DWORD a, DWORD b)
{
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int d = abs((int)((a >> shift) & 255) - (int)((b >> shift) & 255));
        if (d > worst)
            worst = d;
    }
    return worst;
}

int RegisterTestFilter(const char* key, const char* name, const char* extensions, const char* path)
{
    std::string full = std::string(IMPORT_FILTER_KEY) + "\\" + key;
    HKEY filter;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, full.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &filter, NULL) !=
        ERROR_SUCCESS)
        return 0;
    RegSetValueExA(filter, "Name", 0, REG_SZ, (const BYTE*)name, (DWORD)strlen(name) + 1);
    RegSetValueExA(filter, "Extensions", 0, REG_SZ, (const BYTE*)extensions, (DWORD)strlen(extensions) + 1);
    RegSetValueExA(filter, "Path", 0, REG_SZ, (const BYTE*)path, (DWORD)strlen(path) + 1);
    RegCloseKey(filter);
    return 1;
}

void ClearImportFilters(void)
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, IMPORT_FILTER_KEY);
}
