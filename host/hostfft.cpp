// The spectrum and waveform as a player hands them to visualization plug-ins: per channel a
// Hann-windowed FFT (FFTW, single precision) of 1152 samples, of which bins 0 to 575 cover 0 to half
// the sample rate, one bin per 1/1152 of the rate; and 576 signed 8-bit samples of the waveform.
#include "hostaudio.h"

#include <fftw3.h>
#include <math.h>

// Linear magnitude scaling. A sine of amplitude A in the middle of a bin gives |X| = A * 1152 / 4
// under the Hann window (half the window's sum), so a sine at a quarter of full scale (-12 dBFS)
// reaches 255. Mastered music peaks near full scale with its bass notes around -6 to -12 dBFS, so
// the bass bins reach the top on the beat, while the mids and highs, 20 to 40 dB lower, stay in
// the lower half and move; scaling full scale to 255 instead leaves all but the bass near zero,
// and a logarithmic scale pins every bin of loud music near the top.
static const float spectrumScale = 255.0f / (0.25f * HOST_FFT_SIZE / 4.0f);

struct Analyser {
    float* input = NULL;
    fftwf_complex* output = NULL;
    fftwf_plan plan = NULL;
    float window[HOST_FFT_SIZE];
};

// One plan for the life of the process, made on first use (planning is not thread-safe, and only
// the visualization thread analyses).
static Analyser* GetAnalyser(void)
{
    static Analyser analyser;
    if (!analyser.plan) {
        analyser.input = fftwf_alloc_real(HOST_FFT_SIZE);
        analyser.output = fftwf_alloc_complex(HOST_FFT_SIZE / 2 + 1);
        analyser.plan = fftwf_plan_dft_r2c_1d(HOST_FFT_SIZE, analyser.input, analyser.output, FFTW_ESTIMATE);
        // The periodic Hann window: its neighbouring bins of a centred sine are exactly half the peak.
        for (int i = 0; i < HOST_FFT_SIZE; i++)
            analyser.window[i] = (float)(0.5 - 0.5 * cos(2.0 * M_PI * i / HOST_FFT_SIZE));
    }
    return &analyser;
}

static float SampleAt(const float* stereo, long long frames, long long frame, int channel)
{
    return frame >= 0 && frame < frames ? stereo[frame * 2 + channel] : 0.0f;
}

void HostAnalyse(const float* stereo, long long frames, long long centre, unsigned char spectrum[2][HOST_BINS],
                 unsigned char waveform[2][HOST_BINS])
{
    Analyser* a = GetAnalyser();
    for (int channel = 0; channel < 2; channel++) {
        long long first = centre - HOST_FFT_SIZE / 2;
        for (int i = 0; i < HOST_FFT_SIZE; i++)
            a->input[i] = SampleAt(stereo, frames, first + i, channel) * a->window[i];
        fftwf_execute(a->plan);
        for (int bin = 0; bin < HOST_BINS; bin++) {
            float magnitude = hypotf(a->output[bin][0], a->output[bin][1]) * spectrumScale;
            spectrum[channel][bin] = (unsigned char)(magnitude >= 255.0f ? 255 : (int)lrintf(magnitude));
        }
        first = centre - HOST_BINS / 2;
        for (int i = 0; i < HOST_BINS; i++) {
            long value = lrintf(SampleAt(stereo, frames, first + i, channel) * 128.0f);
            value = value < -128 ? -128 : value > 127 ? 127 : value;
            waveform[channel][i] = (unsigned char)(signed char)value;
        }
    }
}
