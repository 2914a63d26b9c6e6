#include "analyzer/analysis.h"
#include <math.h>
#include <string.h>

const float bandCentres[BAND_COUNT] = {
    150.0f, 400.0f, 600.0f, 800.0f, 1000.0f, 1500.0f, 2000.0f, 2500.0f,
    3250.0f, 4000.0f, 5000.0f, 6250.0f, 8000.0f, 10000.0f, 12500.0f, 18000.0f
};

static const float PI = 3.14159265358979f;

void InitAnalysis(Analysis* analysis, int sampleRate)
{
    memset(analysis, 0, sizeof(*analysis));
    analysis->sampleRate = sampleRate;
    for (int i = 0; i < FFT_SIZE; ++i) {
        analysis->window[i] = 0.5f - 0.5f * cosf(2.0f * PI * i / FFT_SIZE);
        analysis->windowSum += analysis->window[i] * analysis->window[i];
    }
    // Band edges lie halfway (geometrically) between neighbouring centres;
    // the outer edges mirror the inner ones.
    float binWidth = (float)sampleRate / FFT_SIZE;
    for (int b = 0; b < BAND_COUNT; ++b) {
        float centre = bandCentres[b];
        float below = b > 0 ? bandCentres[b - 1] : centre * centre / bandCentres[1];
        float above = b < BAND_COUNT - 1 ? bandCentres[b + 1] : centre * centre / bandCentres[b - 1];
        float low = sqrtf(below * centre);
        float high = sqrtf(centre * above);
        int first = (int)ceilf(low / binWidth);
        int last = (int)floorf(high / binWidth);
        if (first < 1)
            first = 1;
        if (last > FFT_SIZE / 2 - 1)
            last = FFT_SIZE / 2 - 1;
        if (last < first && high / binWidth < FFT_SIZE / 2) {
            // A band narrower than one bin takes the bin of its centre.
            first = last = (int)(centre / binWidth + 0.5f);
        }
        analysis->bandFirst[b] = first;
        analysis->bandLast[b] = last;
        // Music carries less energy per band the higher and the narrower the
        // band: lift those so that every bar moves with ordinary music.
        float octaves = logf(high / low) / logf(2.0f);
        analysis->bandWeight[b] = sqrtf(1.0f / octaves) * powf(centre / 1000.0f, 0.3f);
    }
}

void FeedSamples(Analysis* analysis, const float* samples, int frames, int channels)
{
    if (channels < 1)
        return;
    int position = analysis->position;
    for (int f = 0; f < frames; ++f) {
        const float* frame = samples + f * channels;
        float left = frame[0];
        float right = channels > 1 ? frame[1] : frame[0];
        // Non-finite input (a broken driver) must not poison the window.
        analysis->ring[0][position] = isfinite(left) ? left : 0.0f;
        analysis->ring[1][position] = isfinite(right) ? right : 0.0f;
        position = (position + 1) & (FFT_SIZE - 1);
    }
    analysis->position = position;
}

void Fft(float* re, float* im, int n)
{
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) {
            float t = re[i]; re[i] = re[j]; re[j] = t;
            t = im[i]; im[i] = im[j]; im[j] = t;
        }
    }
    for (int length = 2; length <= n; length <<= 1) {
        float angle = -2.0f * PI / length;
        float wr = cosf(angle), wi = sinf(angle);
        for (int i = 0; i < n; i += length) {
            float cr = 1.0f, ci = 0.0f;
            for (int k = 0; k < length / 2; ++k) {
                int a = i + k, b = i + k + length / 2;
                float tr = re[b] * cr - im[b] * ci;
                float ti = re[b] * ci + im[b] * cr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
                float next = cr * wr - ci * wi;
                ci = cr * wi + ci * wr;
                cr = next;
            }
        }
    }
}

void ComputeLevels(const Analysis* analysis, int volumeOnly, Levels* levels)
{
    memset(levels, 0, sizeof(*levels));
    int newest = analysis->position;   // index of the oldest sample in the ring
    for (int c = 0; c < 2; ++c) {
        const float* ring = analysis->ring[c];
        double sum = 0.0;
        for (int i = 0; i < VOLUME_WINDOW; ++i) {
            float x = ring[(newest - VOLUME_WINDOW + i) & (FFT_SIZE - 1)];
            sum += (double)x * x;
        }
        float rms = (float)sqrt(sum / VOLUME_WINDOW);
        if (c == 0)
            levels->left = rms;
        else
            levels->right = rms;
        if (volumeOnly)
            continue;
        float re[FFT_SIZE], im[FFT_SIZE];
        for (int i = 0; i < FFT_SIZE; ++i) {
            re[i] = ring[(newest + i) & (FFT_SIZE - 1)] * analysis->window[i];
            im[i] = 0.0f;
        }
        Fft(re, im, FFT_SIZE);
        float* bands = c == 0 ? levels->bandA : levels->bandB;
        for (int b = 0; b < BAND_COUNT; ++b) {
            double power = 0.0;
            for (int k = analysis->bandFirst[b]; k <= analysis->bandLast[b]; ++k)
                power += (double)re[k] * re[k] + (double)im[k] * im[k];
            // A sine of amplitude A inside the band reads A before weighting.
            float amplitude = (float)sqrt(4.0 * power / ((double)FFT_SIZE * analysis->windowSum));
            bands[b] = amplitude * analysis->bandWeight[b];
        }
    }
}
