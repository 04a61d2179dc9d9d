// Capture of the system's sound against a private sound server that the test starts itself, with a
// null output: what is played into that output is seen through its monitor. Without a server the
// player says so in one line and ends with status 2.
#include <gtest/gtest.h>

#include "host.h"
#include "hostaudio.h"
#include "media.h"

#include <marlix_platform.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <filesystem>
#include <thread>

// SDL's PulseAudio back end leaves one sink-information request of its device-watching thread
// unreleased when audio is shut down; nothing of ours calls that request. libpulse is built without
// frame pointers, so the leak's stack often stops at libpulse's own allocator: match the library.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:pa_context_get_sink_info_by_index\nleak:libpulse.so\n";
}

namespace {

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/marlix-pulse-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        oldServer = getenv("PULSE_SERVER") ? getenv("PULSE_SERVER") : "";
    }
    void TearDown() override
    {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, NULL, 0);
        }
        if (oldServer.empty())
            unsetenv("PULSE_SERVER");
        else
            setenv("PULSE_SERVER", oldServer.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    // A server of our own: no configuration files, its socket and state in the test's folder (so
    // it neither meets nor needs a session, also as root), one null output as the default.
    bool StartServer()
    {
        std::string socket = "module-native-protocol-unix socket=" + dir + "/native";
        server = fork();
        if (server == 0) {
            setenv("PULSE_RUNTIME_PATH", dir.c_str(), 1);
            setenv("PULSE_STATE_PATH", dir.c_str(), 1);
            setenv("HOME", dir.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
            freopen("/dev/null", "w", stderr);
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                   "--disallow-exit", "--disable-shm=yes", "-L", socket.c_str(), "-L",
                   "module-null-sink sink_name=marlixtest rate=48000", (char*)NULL);
            _exit(127);
        }
        setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
        std::vector<HostSourceInfo> sources;
        std::string monitor, error;
        for (int tries = 0; tries < 100; tries++) {
            if (HostListSources(&sources, &monitor, &error))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "the private sound server did not start: " << error;
        return false;
    }
    std::string dir, oldServer;
    pid_t server = -1;
};

// Whether the capture hears the tone of bin 24 (1 kHz at 48 kHz) at full height within five seconds.
// The spectrum it heard last is left in `spectrum`.
static bool Hears1kHz(HostCaptureSource* capture, const std::function<void()>& meanwhile,
                      unsigned char spectrum[2][HOST_BINS])
{
    for (int tries = 0; tries < 500; tries++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        meanwhile();
        float latest[HOST_FFT_SIZE * 2];
        unsigned char waveform[2][HOST_BINS];
        HostCaptureLatest(capture, latest, HOST_FFT_SIZE);
        HostAnalyse(latest, HOST_FFT_SIZE, HOST_FFT_SIZE / 2, spectrum, waveform);
        if (spectrum[0][24] == 255 && spectrum[1][24] == 255)
            return true;
    }
    return false;
}

TEST_F(CaptureTest, SeesAToneThatIsPlayedIntoTheDefaultOutput)
{
    ASSERT_TRUE(StartServer());
    std::vector<HostSourceInfo> sources;
    std::string monitor, error;
    ASSERT_TRUE(HostListSources(&sources, &monitor, &error)) << error;
    EXPECT_EQ(monitor, "marlixtest.monitor");
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_TRUE(sources[0].monitor);
    HostOptions list;
    list.listDevices = true;
    testing::internal::CaptureStdout();
    EXPECT_EQ(HostRun(list), 0);
    std::string listed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(listed.rfind("* marlixtest.monitor\t", 0), 0u) << listed;
    EXPECT_EQ(listed.find("(input)"), std::string::npos) << listed;

    std::string description;
    HostCaptureSource* capture = HostCaptureOpen("", &description, &error);
    ASSERT_NE(capture, nullptr) << error;
    EXPECT_FALSE(description.empty());
    int rate = HostCaptureRate(capture);
    ASSERT_EQ(rate, 48000);

    // A 1 kHz tone at a quarter of full scale, played into the null output in 20 ms pieces until
    // the test has seen it. The stream starts after a tenth of a second of buffering (by default it
    // would wait for two); the idle null output may take up to its longest latency, two seconds,
    // before its monitor carries anything.
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = 48000;
    spec.channels = 2;
    pa_buffer_attr buffering;
    buffering.maxlength = (uint32_t)-1;
    buffering.tlength = buffering.prebuf = 4800 * 2 * sizeof(float);
    buffering.minreq = (uint32_t)-1;
    buffering.fragsize = (uint32_t)-1;
    int code = 0;
    pa_simple* playback =
        pa_simple_new(NULL, "marlix-test", PA_STREAM_PLAYBACK, NULL, "tone", &spec, NULL, &buffering, &code);
    ASSERT_NE(playback, nullptr) << pa_strerror(code);
    std::atomic<bool> stop{false};
    std::thread player([&] {
        std::vector<float> piece(960 * 2);
        for (long long frame = 0; !stop && frame < 48000 * 10;) {
            for (int i = 0; i < 960; i++, frame++)
                piece[i * 2] = piece[i * 2 + 1] = (float)(0.25 * sin(2.0 * M_PI * 1000.0 * frame / 48000.0));
            if (pa_simple_write(playback, piece.data(), piece.size() * sizeof(float), NULL) < 0)
                break;
        }
    });

    // Far bins stay empty.
    unsigned char spectrum[2][HOST_BINS];
    EXPECT_TRUE(Hears1kHz(capture, [] {}, spectrum));
    stop = true;
    EXPECT_LE(spectrum[0][100], 2);
    EXPECT_LE(spectrum[1][300], 2);
    player.join();
    pa_simple_free(playback);
    HostCaptureClose(capture);

    // A source that is not there is refused by name.
    EXPECT_EQ(HostCaptureOpen("no.such.source", &description, &error), nullptr);
    EXPECT_NE(error.find("no.such.source"), std::string::npos) << error;
}

TEST_F(CaptureTest, TheSoundOutputPlaysTheTrackAndKeepsItsTime)
{
    ASSERT_TRUE(StartServer());
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    MarlixSetHeadless(1);
    MarlixResetWindows();
    std::string track = dir + "/tone.wav";
    ASSERT_TRUE(MakeAudio(track, Sine(1000, 0.25, 48000, 8.0)));
    std::string description, error;
    HostCaptureSource* capture = HostCaptureOpen("", &description, &error);
    ASSERT_NE(capture, nullptr) << error;
    HostPlayer player;
    ASSERT_TRUE(HostCreatePlayer(&player, HostBuildPlaylist({track})));
    ASSERT_TRUE(HostSoundOpen(&player, 48000, &error)) << error;
    unsigned char spectrum[2][HOST_BINS];
    EXPECT_TRUE(Hears1kHz(capture, [&] { HostSyncSound(&player); }, spectrum));
    EXPECT_GT(player.trackTime, 0.0);

    // Paused, the time heard stands still.
    SendMessageA(player.window, WM_KEYDOWN, 'C', 0);
    ASSERT_EQ(player.state, HOST_PAUSED);
    HostSyncSound(&player);
    double paused = player.trackTime;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    HostSyncSound(&player);
    EXPECT_EQ(player.trackTime, paused);
    HostDestroyPlayer(&player);
    HostCaptureClose(capture);
    unsetenv("SDL_AUDIODRIVER");
    MarlixResetWindows();
}

TEST_F(CaptureTest, WithoutASoundServerOneLineAndStatusTwo)
{
    setenv("PULSE_SERVER", ("unix:" + dir + "/nobody-here").c_str(), 1);
    for (bool list : {false, true}) {
        HostOptions options;
        options.capture = !list;
        options.listDevices = list;
        options.headless = true;
        options.frames = 1;
        testing::internal::CaptureStderr();
        EXPECT_EQ(HostRun(options), 2);
        std::string report = testing::internal::GetCapturedStderr();
        EXPECT_NE(report.find("no sound server"), std::string::npos) << report;
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    }
}

}  // namespace
