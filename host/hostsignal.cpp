// The player's test signal and its spectrum. Until real audio arrives the player "plays" a
// synthetic track per playlist entry (kick, bass line, a sweeping lead, off-beat hats), fully
// determined by the entry and the time, so headless runs and tests see the same spectrum every time.
#include "host.h"

#include <math.h>
#include <complex>

static const int sampleRate = 44100;
static const int fftSize = 2048;  // 21.5 Hz per bin: the 576 bins reach 12.4 kHz
static const double pi = 3.14159265358979323846;

static double Sample(int entry, long long index)
{
    double t = (double)index / sampleRate;
    double bpm = 100.0 + 10.0 * (entry % 5);
    double beat = 60.0 / bpm;
    long long beatIndex = (long long)floor(t / beat);
    double sinceBeat = t - (double)beatIndex * beat;

    double kick = 0.6 * exp(-10.0 * sinceBeat) * sin(2.0 * pi * 55.0 * sinceBeat);
    static const int notes[4] = {0, 3, 5, 7};
    double bassFreq = 110.0 * pow(2.0, notes[(beatIndex + entry) & 3] / 12.0);
    double bass = 0.25 * sin(2.0 * pi * bassFreq * t);
    // The lead's phase is the integral of its frequency 600 + 400 sin(0.3 t), so it sweeps smoothly.
    double leadPhase = 600.0 * t - 400.0 / 0.3 * cos(0.3 * t) * (1.0 + 0.1 * (entry % 3));
    double lead = 0.15 * sin(2.0 * pi * leadPhase);

    double hats = 0.0;
    double sinceOffbeat = sinceBeat - beat * 0.5;
    if (sinceOffbeat >= 0.0) {
        // A fixed pseudo-random sequence by sample index: white noise that never changes.
        unsigned int x = (unsigned int)(index * 2654435761u) ^ 0x9e3779b9u;
        x ^= x >> 15;
        x *= 0x2c1b3c6du;
        x ^= x >> 12;
        double noise = (double)(x & 0xffff) / 32768.0 - 1.0;
        hats = 0.1 * exp(-40.0 * sinceOffbeat) * noise;
    }
    return kick + bass + lead + hats;
}

static void Fft(std::complex<double>* data, int n)
{
    for (int i = 1, j = 0; i < n; i++) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (int length = 2; length <= n; length <<= 1) {
        double angle = -2.0 * pi / length;
        std::complex<double> step(cos(angle), sin(angle));
        for (int start = 0; start < n; start += length) {
            std::complex<double> w(1.0, 0.0);
            for (int k = 0; k < length / 2; k++) {
                std::complex<double> a = data[start + k];
                std::complex<double> b = data[start + k + length / 2] * w;
                data[start + k] = a + b;
                data[start + k + length / 2] = a - b;
                w *= step;
            }
        }
    }
}

static long long SampleIndex(double seconds)
{
    return (long long)floor(seconds * sampleRate + 0.5);
}

void HostSpectrum(int entry, double seconds, unsigned char bins[576])
{
    // Hann-windowed FFT of the last fftSize samples; a full-scale sine of amplitude 0.5 peaks at 255.
    static std::complex<double> data[fftSize];
    long long end = SampleIndex(seconds);
    for (int i = 0; i < fftSize; i++) {
        double window = 0.5 - 0.5 * cos(2.0 * pi * i / (fftSize - 1));
        data[i] = std::complex<double>(Sample(entry, end - fftSize + i) * window, 0.0);
    }
    Fft(data, fftSize);
    for (int k = 0; k < 576; k++) {
        double magnitude = std::abs(data[k]);
        bins[k] = (unsigned char)(magnitude >= 255.0 ? 255 : (int)magnitude);
    }
}

void HostWaveform(int entry, double seconds, unsigned char samples[576])
{
    // Signed 8-bit samples, as a player hands them out.
    long long end = SampleIndex(seconds);
    for (int i = 0; i < 576; i++) {
        double s = Sample(entry, end - 576 + i);
        int v = (int)lround(s * 127.0);
        v = v < -128 ? -128 : v > 127 ? 127 : v;
        samples[i] = (unsigned char)(signed char)v;
    }
}
