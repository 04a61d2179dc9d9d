// Synthesises the demo track, a one-minute piece for showing the visualizer without music files:
//
//     marlix_demotrack OUT.wav
//
// 120 beats a minute in 4/4, 30 bars in A minor over the chords Am, F, C, G (one chord a bar): kick
// drum on every beat, snare on 2 and 4, hi-hats on the eighths, a plucked bass line, a soft pad
// playing the chords and a square-wave lead with an echo. The parts come in one after another, so
// the picture has quiet and busy stretches. Written as 16-bit stereo WAV at 44.1 kHz through
// libsndfile; every "random" value comes from a fixed generator, so the file is the same each time.
#include <sndfile.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <vector>

namespace {

const int kRate = 44100;
const double kPi = 3.14159265358979323846;
const double kBeat = 0.5;                 // seconds (120 beats a minute)
const double kEighth = kBeat / 2;
const int kBars = 30;
const double kBar = 4 * kBeat;
const double kLength = kBars * kBar + 1.5;  // room for the last chord to ring out

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
    // Adds a mono sample at `frame` with a pan from -1 (left) to 1 (right), equal power.
    void Add(size_t frame, double value, double pan) {
        if (frame >= left.size()) return;
        double angle = (pan + 1.0) * kPi / 4.0;
        left[frame] += (float)(value * cos(angle));
        right[frame] += (float)(value * sin(angle));
    }
};

// A fixed linear congruential generator: white noise that is the same on every run.
struct Noise {
    uint32_t state = 0x2545F491u;
    double Next() {
        state = state * 1664525u + 1013904223u;
        return (double)(state >> 8) / (double)(1u << 23) - 1.0;
    }
};

double NoteFrequency(int midi) {
    return 440.0 * pow(2.0, (midi - 69) / 12.0);
}

size_t Frame(double seconds) {
    return (size_t)llround(seconds * kRate);
}

// Chamberlin state-variable low-pass filter.
struct LowPass {
    double low = 0, band = 0;
    double Step(double x, double cutoff, double damping) {
        double f = 2.0 * sin(kPi * fmin(cutoff, kRate / 6.0) / kRate);
        low += f * band;
        double high = x - low - damping * band;
        band += f * high;
        return low;
    }
};

// The four chords of the loop (a bar each): bass root and the pad's three notes.
struct Chord {
    int root;
    int notes[3];
};
const Chord kChords[4] = {{33, {57, 60, 64}}, {29, {57, 60, 65}}, {36, {55, 60, 64}}, {31, {55, 59, 62}}};

const Chord& ChordOfBar(int bar) {
    return kChords[bar % 4];
}

// Which parts play in a bar.
struct Arrangement {
    bool hats, snare, bass, pad, lead;
    int tune;  // 0 or 1: which of the two lead lines
};

Arrangement PartsOfBar(int bar) {
    if (bar < 2) return {true, false, true, false, false, 0};      // kick, hats and bass
    if (bar < 6) return {true, true, true, true, false, 0};        // + snare and chords
    if (bar < 14) return {true, true, true, true, true, 0};        // + the first tune
    if (bar < 22) return {true, true, true, true, true, 1};        // the second tune
    if (bar < 26) return {false, true, true, true, true, 0};       // a lighter stretch, no hats
    if (bar < 29) return {true, true, true, true, true, 1};
    return {false, false, false, true, false, 0};                  // the last bar: one chord and a kick
}

// The lead: per bar of the four-bar loop, eight eighth-note steps; a MIDI note starts there, 0 holds
// the note before, -1 is a rest.
const int kTunes[2][4][8] = {
    {{76, -1, 72, -1, 69, -1, 72, 74}, {72, -1, 69, -1, 65, -1, 69, 72},
     {76, -1, 79, -1, 76, -1, 74, 72}, {74, -1, 71, -1, 67, 0, 0, -1}},
    {{81, 0, 0, 79, 76, -1, 72, -1}, {77, 0, 0, 76, 72, -1, 69, -1},
     {79, -1, 76, -1, 72, -1, 76, 79}, {83, 0, 81, 79, 74, 0, 0, -1}},
};

void Kick(Stereo& out, double start, double level) {
    size_t first = Frame(start);
    double phase = 0;
    for (size_t i = 0; i < Frame(0.35); i++) {
        double t = (double)i / kRate;
        double frequency = 48.0 + 170.0 * exp(-t * 28.0);  // the thump sweeps down from the upper bass
        phase += 2.0 * kPi * frequency / kRate;
        double body = sin(phase) * exp(-t * 9.0);
        double click = (t < 0.004) ? 0.5 * (1.0 - t / 0.004) : 0.0;
        out.Add(first + i, level * (body + click), 0.0);
    }
}

void Snare(Stereo& out, Noise& noise, double start, double level) {
    size_t first = Frame(start);
    LowPass tone;
    double previous = 0;
    for (size_t i = 0; i < Frame(0.25); i++) {
        double t = (double)i / kRate;
        double n = noise.Next();
        double bright = n - previous;  // a first difference tilts the noise towards the highs
        previous = n;
        double body = sin(2.0 * kPi * 185.0 * t) * exp(-t * 30.0);
        double rattle = tone.Step(bright, 6000.0, 0.7) * exp(-t * 16.0);
        out.Add(first + i, level * (0.6 * body + 0.9 * rattle), 0.05);
    }
}

void HiHat(Stereo& out, Noise& noise, double start, double level, double decay) {
    size_t first = Frame(start);
    double a = 0, b = 0;
    for (size_t i = 0; i < Frame(0.12); i++) {
        double t = (double)i / kRate;
        double n = noise.Next();
        double high = n - a;  // two first differences: only the hiss is left
        a = n;
        double higher = high - b;
        b = high;
        out.Add(first + i, level * higher * exp(-t * decay), 0.35);
    }
}

// A plucked bass note: a sawtooth whose filter closes quickly after the attack.
void Bass(Stereo& out, int midi, double start, double length, double level) {
    size_t first = Frame(start);
    double frequency = NoteFrequency(midi), phase = 0;
    LowPass filter;
    size_t frames = Frame(length);
    for (size_t i = 0; i < frames + Frame(0.02); i++) {
        double t = (double)i / kRate;
        phase += frequency / kRate;
        phase -= floor(phase);
        double saw = 2.0 * phase - 1.0;
        double cutoff = 180.0 + 1400.0 * exp(-t * 18.0);
        double envelope = fmin(1.0, t / 0.004) * (i < frames ? 1.0 : 1.0 - (double)(i - frames) / Frame(0.02));
        out.Add(first + i, level * envelope * filter.Step(saw, cutoff, 0.5), 0.0);
    }
}

// A bar of the pad: two slightly detuned sawtooths per chord note, soft attack and release, spread
// across the stereo field.
void Pad(Stereo& out, const Chord& chord, double start, double length, double level) {
    size_t first = Frame(start);
    for (int n = 0; n < 3; n++) {
        double frequency = NoteFrequency(chord.notes[n]);
        double pan = -0.6 + 0.6 * n;
        for (int voice = 0; voice < 2; voice++) {
            double detune = voice == 0 ? 0.997 : 1.003, phase = 0.25 * (n + voice);
            LowPass filter;
            size_t frames = Frame(length + 0.3);
            for (size_t i = 0; i < frames; i++) {
                double t = (double)i / kRate;
                phase += frequency * detune / kRate;
                phase -= floor(phase);
                double saw = 2.0 * phase - 1.0;
                double envelope = fmin(1.0, t / 0.08) * (t < length ? 1.0 : exp(-(t - length) * 15.0));
                out.Add(first + i, level * envelope * filter.Step(saw, 1600.0, 1.0), pan + (voice ? 0.2 : -0.2));
            }
        }
    }
}

// A lead note: a square wave with a little vibrato, its echo added later.
void Lead(Stereo& dry, int midi, double start, double length, double level) {
    size_t first = Frame(start);
    double frequency = NoteFrequency(midi), phase = 0;
    LowPass filter;
    for (size_t i = 0; i < Frame(length); i++) {
        double t = (double)i / kRate;
        double vibrato = 1.0 + 0.004 * sin(2.0 * kPi * 5.5 * t) * fmin(1.0, t / 0.2);
        phase += frequency * vibrato / kRate;
        phase -= floor(phase);
        double square = phase < 0.5 ? 1.0 : -1.0;
        double envelope = fmin(1.0, t / 0.01) * exp(-t * 1.5) * fmin(1.0, (length - t) / 0.03);
        dry.Add(first + i, level * envelope * filter.Step(square, 3200.0, 0.8), -0.15);
    }
}

// A dotted-eighth echo of the lead, bouncing between the sides.
void Echo(const Stereo& dry, Stereo& out) {
    size_t delay = Frame(3 * kEighth / 2);
    std::vector<float> left(dry.left), right(dry.right);
    for (size_t i = delay; i < left.size(); i++) {
        left[i] += 0.35f * right[i - delay];
        right[i] += 0.35f * left[i - delay];
    }
    for (size_t i = 0; i < left.size(); i++) {
        out.left[i] += left[i];
        out.right[i] += right[i];
    }
}

void Compose(Stereo& out) {
    Noise noise;
    Stereo lead(out.left.size());
    for (int bar = 0; bar < kBars; bar++) {
        double barStart = bar * kBar;
        Arrangement parts = PartsOfBar(bar);
        const Chord& chord = ChordOfBar(bar);
        bool last = bar == kBars - 1;
        for (int beat = 0; beat < 4; beat++) {
            double t = barStart + beat * kBeat;
            if (!last || beat == 0) Kick(out, t, 1.0);
            if (parts.snare && (beat == 1 || beat == 3)) Snare(out, noise, t, 0.55);
        }
        for (int step = 0; step < 8; step++) {
            double t = barStart + step * kEighth;
            if (parts.hats) HiHat(out, noise, t, step % 2 ? 0.08 : 0.11, step == 7 ? 12.0 : 45.0);
            if (parts.bass) {
                // Root, root, octave, root on each half bar; the last eighth walks up a fifth.
                static const int kPattern[8] = {0, 0, 12, 0, 0, 0, 12, 7};
                Bass(out, chord.root + 12 + kPattern[step], t, kEighth * 0.8, 0.32);
            }
            if (parts.lead) {
                int note = kTunes[parts.tune][bar % 4][step];
                if (note <= 0) continue;
                int steps = 1;
                while (step + steps < 8 && kTunes[parts.tune][bar % 4][step + steps] == 0) steps++;
                Lead(lead, note, t, steps * kEighth * 0.95, 0.16);
            }
        }
        if (parts.pad) Pad(out, chord, barStart, last ? kBar + 1.2 : kBar, 0.05);
    }
    Echo(lead, out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    Stereo mix(Frame(kLength));
    Compose(mix);

    // Mastering: a gentle tanh saturation rounds off the kick's peaks so that the whole piece can be
    // louder, as released music is, then the peak is set to -1 dBFS; a short fade at the very end.
    const double drive = 1.5;
    double peak = 0;
    for (size_t i = 0; i < mix.left.size(); i++) peak = fmax(peak, fmax(fabs(mix.left[i]), fabs(mix.right[i])));
    double gain = peak > 0 ? pow(10.0, -1.0 / 20.0) / tanh(drive) : 1.0;
    double scale = peak > 0 ? drive / peak : 0.0;
    size_t fade = Frame(0.5), frames = mix.left.size();
    std::vector<short> samples(frames * 2);
    for (size_t i = 0; i < frames; i++) {
        double g = gain * (i + fade > frames ? (double)(frames - i) / fade : 1.0);
        samples[2 * i] = (short)lrint(tanh(mix.left[i] * scale) * g * 32767.0);
        samples[2 * i + 1] = (short)lrint(tanh(mix.right[i] * scale) * g * 32767.0);
    }

    SF_INFO info = {};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (!file) {
        fprintf(stderr, "%s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    sf_count_t written = sf_writef_short(file, samples.data(), (sf_count_t)frames);
    bool ok = written == (sf_count_t)frames;
    if (sf_close(file) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "%s: write failed\n", argv[1]);
        remove(argv[1]);
        return 1;
    }
    return 0;
}
