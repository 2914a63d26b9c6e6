// Sonalyx, the sound analyzer: turning sample blocks into the levels that the
// saver reads from the shared sound record.
#pragma once

enum {
    BAND_COUNT = 16,
    FFT_SIZE = 2048,         // band analysis window (46 ms at 44.1 kHz)
    VOLUME_WINDOW = 1024,    // volume window: short, so a change shows quickly
    MAX_CHANNELS = 8
};

// Centre frequencies of the sixteen bands, in the order of the saver's
// source list ("150Hz" .. "18KHz").
extern const float bandCentres[BAND_COUNT];

// The last FFT_SIZE samples of each of the two channels (mono sources feed
// both), and the window and band tables for one sample rate.
struct Analysis {
    int sampleRate;
    int position;                     // next write index into the rings
    float ring[2][FFT_SIZE];
    float window[FFT_SIZE];           // Hann window
    float windowSum;
    int bandFirst[BAND_COUNT];        // FFT bins of each band
    int bandLast[BAND_COUNT];
    float bandWeight[BAND_COUNT];     // tilt so ordinary music moves every band
};

// One publication: levels in the units the shared record carries.
struct Levels {
    float left;                       // RMS of the volume window, 1 = full scale square wave
    float right;
    float bandA[BAND_COUNT];          // weighted band amplitude, first channel
    float bandB[BAND_COUNT];          // second channel
};

// Divisors written with the levels: with them an ordinary, well-mastered
// piece of music gives levels of about 0..1 at gain 0 dB.
enum { GAIN_DIVISOR = 1 };
const float VOLUME_SCALE = 0.30f;
const float BAND_SCALE = 0.12f;

// Prepares the tables for a sample rate (8000..192000) and clears the rings.
void InitAnalysis(Analysis* analysis, int sampleRate);
// Appends frames of interleaved float samples with `channels` channels:
// channel 0 is left, channel 1 right, a single channel feeds both, and any
// further channels are ignored.
void FeedSamples(Analysis* analysis, const float* samples, int frames, int channels);
// Computes the levels of the newest samples. With `volumeOnly` (the saver's
// "SlowCPU": every band then follows the volume on the saver's side) the
// bands are not computed and stay 0.
void ComputeLevels(const Analysis* analysis, int volumeOnly, Levels* levels);

// In-place radix-2 FFT of n (a power of two) complex values.
void Fft(float* re, float* im, int n);
