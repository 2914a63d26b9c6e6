// Sonalyx: levels from known signals, damaged WAV files, and the real
// program publishing into the shared record that the saver's sources read.
#include <gtest/gtest.h>
#include "analyzer/analysis.h"
#include "analyzer/engine.h"
#include "analyzer/link.h"
#include "analyzer/wavfile.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include "support/harness.h"
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const int RATE = 44100;

// A signal: per frame, the left and right sample.
typedef void (*Signal)(int frame, float* left, float* right);

std::vector<BYTE> MakeWav(int frames, Signal signal, int channels = 2)
{
    std::vector<BYTE> file(44 + frames * channels * 2);
    auto put32 = [&](int at, DWORD v) { memcpy(&file[at], &v, 4); };
    auto put16 = [&](int at, WORD v) { memcpy(&file[at], &v, 2); };
    memcpy(&file[0], "RIFF", 4);
    put32(4, (DWORD)file.size() - 8);
    memcpy(&file[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, (WORD)channels);
    put32(24, RATE);
    put32(28, RATE * channels * 2);
    put16(32, (WORD)(channels * 2));
    put16(34, 16);
    memcpy(&file[36], "data", 4);
    put32(40, frames * channels * 2);
    for (int f = 0; f < frames; ++f) {
        float l, r;
        signal(f, &l, &r);
        short samples[2] = { (short)(l * 32767), (short)(r * 32767) };
        memcpy(&file[44 + f * channels * 2], samples, channels * 2);
    }
    return file;
}

std::string WriteTemp(const char* name, const std::vector<BYTE>& bytes)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::string path = std::string(folder) + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

void Sine1k(int f, float* l, float* r) { *l = *r = 0.5f * sinf(2 * 3.14159265f * 1000.0f * f / RATE); }
void LeftOnly(int f, float* l, float* r) { *l = 0.5f * sinf(2 * 3.14159265f * 440.0f * f / RATE); *r = 0; }
void Silence(int, float* l, float* r) { *l = *r = 0; }
// Silence for the first 500 ms, then a 600 Hz tone.
void LateTone(int f, float* l, float* r)
{
    *l = *r = f < RATE / 2 ? 0.0f : 0.5f * sinf(2 * 3.14159265f * 600.0f * f / RATE);
}
void Loud(int f, float* l, float* r)
{
    float x = 0.6f * sinf(2 * 3.14159265f * 220.0f * f / RATE) + 0.3f * sinf(2 * 3.14159265f * 2500.0f * f / RATE);
    *l = *r = x;
}
void Quiet(int f, float* l, float* r)
{
    Loud(f, l, r);
    *l *= 0.03f;
    *r *= 0.03f;
}

// Feeds a whole signal through the analysis and returns the last levels.
Levels Analyse(Signal signal, int frames)
{
    static Analysis analysis;
    InitAnalysis(&analysis, RATE);
    std::vector<float> samples(frames * 2);
    for (int f = 0; f < frames; ++f)
        signal(f, &samples[f * 2], &samples[f * 2 + 1]);
    FeedSamples(&analysis, samples.data(), frames, 2);
    Levels levels;
    ComputeLevels(&analysis, 0, &levels);
    return levels;
}

std::string SonalyxPath()
{
    return EnvironmentPath("SONALYX_EXE");
}

DWORD RunSonalyx(const std::string& arguments, DWORD timeoutMs, PROCESS_INFORMATION* keep = 0)
{
    std::string command = "\"" + SonalyxPath() + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA start;
    ZeroMemory(&start, sizeof(start));
    start.cb = sizeof(start);
    PROCESS_INFORMATION info;
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &start, &info))
        return (DWORD)-1;
    if (keep) {
        *keep = info;
        return 0;
    }
    DWORD code = (DWORD)-2;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, 9);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

// Rows of a levels dump: time in ms, volume, left, right, 16 bands.
std::vector<std::vector<float>> ReadDump(const std::string& path)
{
    std::vector<std::vector<float>> rows;
    FILE* f = fopen(path.c_str(), "r");
    if (!f)
        return rows;
    char line[1024];
    while (fgets(line, sizeof(line), f)) {
        std::vector<float> row;
        for (char* p = line; *p;) {
            row.push_back((float)strtod(p, &p));
            if (*p == ',')
                ++p;
            else
                break;
        }
        rows.push_back(row);
    }
    fclose(f);
    return rows;
}

}  // namespace

TEST(AnalyzerLevels, SineLightsItsOwnBandAndFarBandsStayDark)
{
    Levels levels = Analyse(Sine1k, 8192);
    float own = levels.bandA[4];   // "1KHz"
    for (int b = 0; b < BAND_COUNT; ++b) {
        if (b != 4) {
            EXPECT_LT(levels.bandA[b], own) << "band " << b;
        }
        // More than two octaves from 1 kHz: below 250 Hz or above 4 kHz.
        if (bandCentres[b] < 250.0f || bandCentres[b] > 4000.0f) {
            EXPECT_LT(levels.bandA[b], own * 0.1f) << "band " << b;
        }
    }
    // The 0.5 amplitude sine reads 0.5 before the band's weighting.
    Analysis analysis;
    InitAnalysis(&analysis, RATE);
    EXPECT_NEAR(own / analysis.bandWeight[4], 0.5f, 0.05f);
    EXPECT_NEAR(levels.left, 0.5f / sqrtf(2.0f), 0.01f);
}

TEST(AnalyzerLevels, LeftOnlySignalAndSilence)
{
    Levels levels = Analyse(LeftOnly, 8192);
    EXPECT_GT(levels.left, 0.3f);
    EXPECT_EQ(levels.right, 0.0f);
    Levels quiet = Analyse(Silence, 8192);
    EXPECT_EQ(quiet.left, 0.0f);
    EXPECT_EQ(quiet.right, 0.0f);
    for (int b = 0; b < BAND_COUNT; ++b)
        EXPECT_EQ(quiet.bandA[b] + quiet.bandB[b], 0.0f);
}

TEST(AnalyzerLevels, VolumeOnlySkipsTheBands)
{
    static Analysis analysis;
    InitAnalysis(&analysis, RATE);
    std::vector<float> samples(8192 * 2);
    for (int f = 0; f < 8192; ++f)
        Sine1k(f, &samples[f * 2], &samples[f * 2 + 1]);
    FeedSamples(&analysis, samples.data(), 8192, 2);
    Levels levels;
    ComputeLevels(&analysis, 1, &levels);
    EXPECT_GT(levels.left, 0.3f);
    EXPECT_EQ(levels.bandA[4], 0.0f);
}

TEST(AnalyzerWav, DamagedFilesAreRefusedWithAMessage)
{
    std::vector<BYTE> good = MakeWav(4410, Sine1k);
    WavFile wav;
    char error[160];
    ASSERT_TRUE(ParseWav(good.data(), (DWORD)good.size(), &wav, error, sizeof(error)));
    EXPECT_EQ(wav.frames, 4410u);

    struct Damage { const char* what; void (*spoil)(std::vector<BYTE>&); };
    const Damage damages[] = {
        { "truncated header", [](std::vector<BYTE>& f) { f.resize(30); } },
        { "zero channels", [](std::vector<BYTE>& f) { f[22] = 0; } },
        { "absurd data size", [](std::vector<BYTE>& f) { DWORD big = 0x7FFFFFF0; memcpy(&f[40], &big, 4); } },
        { "absurd format size", [](std::vector<BYTE>& f) { DWORD big = 0x7FFFFFF0; memcpy(&f[16], &big, 4); } },
        { "block size lies", [](std::vector<BYTE>& f) { f[32] = 7; } },
        { "absurd rate", [](std::vector<BYTE>& f) { DWORD rate = 5; memcpy(&f[24], &rate, 4); } },
        { "not RIFF", [](std::vector<BYTE>& f) { f[0] = 'X'; } },
        { "no data chunk", [](std::vector<BYTE>& f) { memcpy(&f[36], "junk", 4); } },
    };
    for (const Damage& damage : damages) {
        std::vector<BYTE> file = good;
        damage.spoil(file);
        error[0] = 0;
        EXPECT_FALSE(ParseWav(file.data(), (DWORD)file.size(), &wav, error, sizeof(error))) << damage.what;
        EXPECT_NE(error[0], 0) << damage.what;
    }
    // An empty file on disk, and the real program refusing a damaged file.
    std::string empty = WriteTemp("sonalyx_empty.wav", std::vector<BYTE>());
    EXPECT_FALSE(OpenWavFile(empty.c_str(), &wav, error, sizeof(error)));
    std::vector<BYTE> zero = good;
    zero[22] = 0;
    std::string broken = WriteTemp("sonalyx_broken.wav", zero);
    EXPECT_EQ(RunSonalyx("/quiet /file \"" + broken + "\"", 20000), 2u);
}

TEST(AnalyzerDump, ToneAfterSilenceShowsWithin50ms)
{
    std::string wav = WriteTemp("sonalyx_late.wav", MakeWav(RATE, LateTone));
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::string csv = std::string(folder) + "sonalyx_late.csv";
    DeleteFileA(csv.c_str());
    ASSERT_EQ(RunSonalyx("/quiet /file \"" + wav + "\" /dump \"" + csv + "\"", 30000), 0u);
    auto rows = ReadDump(csv);
    ASSERT_GT(rows.size(), 40u);
    float first = -1;
    for (auto& row : rows) {
        ASSERT_EQ(row.size(), 20u);
        if (row[0] < 500)
            EXPECT_EQ(row[1], 0.0f) << "at " << row[0] << " ms";
        else if (first < 0 && row[1] > 0.2f)
            first = row[0];
    }
    ASSERT_GE(first, 500.0f);
    EXPECT_LE(first, 550.0f);
    // The steady tone reads within the 0..1 scale that the saver expects.
    EXPECT_GT(rows.back()[1], 0.5f);
    EXPECT_LE(rows.back()[1], 1.5f);
    // 600 Hz is the third band.
    EXPECT_GT(rows.back()[4 + 2], rows.back()[4 + 10]);
}

TEST(AnalyzerProcess, PublishesLevelsThatTheSaverSourcesRead)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_TRUE(share);
    sound = share;
    share->moduleSoundEnabled = 1;
    share->autoGain = 0;
    share->slowCpu = 0;
    share->clientCount = share->clientCount + 1;   // keeps a /PPLAY analyzer alive

    // Polygon's "Speed" follows the volume over its whole range at sense 10.
    ModuleRecord* polygon = &moduleTable[MODULE_POLYGON];
    DefineControl(MODULE_POLYGON, 93, 2, 4, 1, 320);
    polygon->source[2] = 3;
    polygon->rangeLo[2] = 1;
    polygon->rangeHi[2] = 320;
    polygon->sense[2] = 10;
    float speed[2] = { 0, 0 };
    int run = 0;

    auto levelWhilePlaying = [&](Signal signal, const char* name) {
        std::string wav = WriteTemp(name, MakeWav(RATE * 2, signal));
        PROCESS_INFORMATION info;
        EXPECT_EQ(RunSonalyx("/quiet /PPLAY /file \"" + wav + "\"", 0, &info), 0u);
        for (int i = 0; i < 100 && !share->analyzerRunning; ++i)
            Sleep(50);
        Sleep(600);
        float level = 0;
        for (int i = 0; i < 10; ++i) {
            level += SoundLevel(3);
            EXPECT_TRUE(IsLiveSource(3));
            speed[run] += EvaluateSlot(polygon, 2) / 10;
            Sleep(20);
        }
        ++run;
        EXPECT_EQ(share->analyzerRunning, 1);
        EXPECT_EQ(share->analyzerMajor, 3);
        EXPECT_EQ(share->analyzerMinor, 2);
        EXPECT_NE(std::string(share->infoText2).find(name), std::string::npos);
        // The saver ends its analyzer through quitRequest.
        share->quitRequest = 1;
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 10000), WAIT_OBJECT_0);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        EXPECT_EQ(share->analyzerRunning, 0);
        return level / 10;
    };
    float loud = levelWhilePlaying(Loud, "sonalyx_loud.wav");
    float quiet = levelWhilePlaying(Quiet, "sonalyx_quiet.wav");
    EXPECT_GT(loud, 0.3f);
    EXPECT_LT(quiet, loud * 0.2f);
    EXPECT_GT(speed[0], 100.0f);
    EXPECT_LT(speed[1], speed[0] * 0.3f);

    // A sound-driven control follows: Volume at sense 10 over 0..100.
    float state = 0.5f;
    EXPECT_EQ(ControlValue(3, &state, 10, 0, 100), 0.0f);   // analyzer gone: silence

    // The analyzer registered itself where the Sound page looks.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Sonalyx", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD version = 0, size = 4;
    RegQueryValueExA(key, "Current Version", NULL, NULL, (BYTE*)&version, &size);
    RegCloseKey(key);
    EXPECT_EQ(version, (3u << 16) | 2u);

    share->clientCount = share->clientCount - 1;
    sound = 0;
    CloseSoundLink(share);
}

TEST(AnalyzerProcess, RefusesAForeignRecord)
{
    // A record of another layout belongs to someone else.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, SOUND_SHARE_SIZE,
                                        SOUND_SHARE_NAME);
    ASSERT_TRUE(mapping);
    SoundShare* share = (SoundShare*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_TRUE(share);
    int oldSize = share->size;
    share->size = 1234;
    HANDLE other = 0;
    EXPECT_EQ(OpenAnalyzerLink(&other), nullptr);
    std::string wav = WriteTemp("sonalyx_foreign.wav", MakeWav(RATE / 2, Sine1k));
    EXPECT_EQ(RunSonalyx("/quiet /PPLAY /file \"" + wav + "\"", 20000), 4u);
    share->size = oldSize;
    UnmapViewOfFile(share);
    CloseHandle(mapping);
}
