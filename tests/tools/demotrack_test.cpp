// The demo track, read back with libsndfile: the same file on every build, a CD-format stereo WAV of
// about a minute at a healthy level without clipping, and the beat the visualizer dances to: a kick
// on every beat, the snare on 2 and 4.
#include "tools_fixture.h"

#include <sndfile.h>

#include <math.h>

#include <algorithm>

namespace {

const int kRate = 44100;
const double kBeat = 0.5;  // 120 beats a minute

struct Track {
    SF_INFO info = {};
    std::vector<float> left, right;
};

Track ReadTrack(const std::string& path) {
    Track track;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &track.info);
    EXPECT_NE(nullptr, file) << sf_strerror(nullptr);
    if (!file) return track;
    std::vector<float> frames((size_t)track.info.frames * track.info.channels);
    EXPECT_EQ(track.info.frames, sf_readf_float(file, frames.data(), track.info.frames));
    sf_close(file);
    if (track.info.channels != 2) return track;
    for (size_t i = 0; i < (size_t)track.info.frames; i++) {
        track.left.push_back(frames[2 * i]);
        track.right.push_back(frames[2 * i + 1]);
    }
    return track;
}

// Energy of the mono mix between two times, after a filter: the deep bass where the kick drum's
// body sits (two one-pole low-passes at 100 Hz) or the hiss above a few kHz (first difference).
double Energy(const Track& t, double from, double to, bool bass) {
    size_t first = (size_t)(from * kRate), last = std::min((size_t)(to * kRate), t.left.size());
    double low1 = 0, low2 = 0, previous = 0, sum = 0;
    const double a = 1.0 - exp(-2.0 * M_PI * 100.0 / kRate);
    // The filters settle on the 20 ms before the window.
    for (size_t i = first > 882 ? first - 882 : 0; i < last; i++) {
        double x = 0.5 * (t.left[i] + t.right[i]);
        low1 += a * (x - low1);
        low2 += a * (low1 - low2);
        double value = bass ? low2 : x - previous;
        previous = x;
        if (i >= first) sum += value * value;
    }
    return sum;
}

class DemoTrackTest : public BuilderTest {};

}  // namespace

TEST_F(DemoTrackTest, SameBytesOnEveryBuild) {
    Bytes first = Read(Run(MARLIX_DEMOTRACK_TOOL, "", "a.wav"));
    Bytes second = Read(Run(MARLIX_DEMOTRACK_TOOL, "", "b.wav"));
    ASSERT_GT(first.size(), 1000000u);
    EXPECT_TRUE(first == second);
}

TEST_F(DemoTrackTest, AMinuteOfLoudStereoWithoutClipping) {
    Track t = ReadTrack(Run(MARLIX_DEMOTRACK_TOOL, "", "demo.wav"));
    EXPECT_EQ(SF_FORMAT_WAV | SF_FORMAT_PCM_16, t.info.format);
    EXPECT_EQ(kRate, t.info.samplerate);
    ASSERT_EQ(2, t.info.channels);
    double seconds = (double)t.info.frames / kRate;
    EXPECT_GT(seconds, 55.0);
    EXPECT_LT(seconds, 70.0);
    double peak = 0, sum = 0, sides = 0;
    for (size_t i = 0; i < t.left.size(); i++) {
        peak = std::max(peak, (double)std::max(fabsf(t.left[i]), fabsf(t.right[i])));
        sum += 0.5 * (t.left[i] * t.left[i] + t.right[i] * t.right[i]);
        sides += (t.left[i] - t.right[i]) * (t.left[i] - t.right[i]);
    }
    double peakDb = 20 * log10(peak), rmsDb = 10 * log10(sum / t.left.size());
    EXPECT_NEAR(-1.0, peakDb, 0.1);  // normalised, with headroom
    EXPECT_GT(rmsDb, -18.0);         // loud enough to move the picture like released music
    EXPECT_LT(rmsDb, -9.0);
    EXPECT_GT(sides, 0.01 * sum);    // a stereo mix, not one channel twice
}

TEST_F(DemoTrackTest, KickOnEveryBeatAndSnareOnTwoAndFour) {
    Track t = ReadTrack(Run(MARLIX_DEMOTRACK_TOOL, "", "demo.wav"));
    ASSERT_EQ(2, t.info.channels);
    const double window = 0.06;
    int beats = 0, kicked = 0, snareBeats = 0, snared = 0;
    for (int bar = 0; bar < 29; bar++) {
        for (int beat = 0; beat < 4; beat++) {
            double onset = (bar * 4 + beat) * kBeat;
            // The thump right after the beat against the stretch just before the next one, where
            // the bass line plays alone.
            double hit = Energy(t, onset + 0.02, onset + 0.12, true);
            double between = Energy(t, onset + 0.36, onset + 0.46, true);
            beats++;
            kicked += hit > 3.0 * between;
            if (bar >= 2) {
                // Beats 2 and 4 carry the snare's hiss; 1 and 3 only the kick and the hats.
                double hiss = Energy(t, onset, onset + window, false);
                double neighbour = Energy(t, onset + (beat % 2 ? -kBeat : kBeat), onset + (beat % 2 ? -kBeat : kBeat) + window, false);
                snareBeats += beat % 2;
                snared += beat % 2 && hiss > 2.0 * neighbour;
            }
        }
    }
    EXPECT_EQ(beats, kicked);
    EXPECT_EQ(snareBeats, snared);
}
