// Capture of what the computer plays through the PulseAudio client library (PipeWire systems serve
// it through pipewire-pulse): by default the monitor source of the default output, never the
// microphone. A thread records into a ring that the visualization reads the latest frames from.
#include "hostaudio.h"

#include <pulse/pulseaudio.h>
#include <pulse/simple.h>

#include <string.h>

#include <atomic>
#include <mutex>
#include <thread>

static const int ringFrames = 8192;
static const int readFrames = 256;  // per read: about 6 ms, so the ring is never far behind

struct HostCaptureSource {
    pa_simple* stream = NULL;
    int rate = 44100;
    std::thread thread;
    std::mutex mutex;
    std::vector<float> ring = std::vector<float>(ringFrames * 2, 0.0f);
    long long written = 0;  // frames recorded since the start
    std::atomic<bool> stop{false};
};

// What the server says about itself and its sources.
struct ServerState {
    std::string defaultSink;
    std::string defaultMonitor;
    std::vector<HostSourceInfo> sources;
    std::vector<int> rates;
};

static void OnServerInfo(pa_context*, const pa_server_info* info, void* user)
{
    if (info && info->default_sink_name)
        ((ServerState*)user)->defaultSink = info->default_sink_name;
}

static void OnSinkInfo(pa_context*, const pa_sink_info* info, int last, void* user)
{
    if (!last && info && info->monitor_source_name)
        ((ServerState*)user)->defaultMonitor = info->monitor_source_name;
}

static void OnSourceInfo(pa_context*, const pa_source_info* info, int last, void* user)
{
    if (last || !info)
        return;
    ServerState* state = (ServerState*)user;
    HostSourceInfo source;
    source.name = info->name ? info->name : "";
    source.description = info->description ? info->description : source.name;
    source.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    state->sources.push_back(source);
    state->rates.push_back((int)info->sample_spec.rate);
}

static bool Wait(pa_mainloop* loop, pa_operation* operation)
{
    if (!operation)
        return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        if (pa_mainloop_iterate(loop, 1, NULL) < 0)
            break;
    bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

static bool QueryServer(ServerState* state, std::string* error)
{
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "marlix");
    bool ok = pa_context_connect(context, NULL, PA_CONTEXT_NOAUTOSPAWN, NULL) >= 0;
    while (ok) {
        pa_context_state_t s = pa_context_get_state(context);
        if (s == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(s) || pa_mainloop_iterate(loop, 1, NULL) < 0)
            ok = false;
    }
    if (!ok)
        *error = std::string("no sound server to capture from (PulseAudio or PipeWire): ") +
                 pa_strerror(pa_context_errno(context));
    if (ok)
        ok = Wait(loop, pa_context_get_server_info(context, OnServerInfo, state)) &&
             Wait(loop, pa_context_get_source_info_list(context, OnSourceInfo, state));
    if (ok && !state->defaultSink.empty())
        ok = Wait(loop, pa_context_get_sink_info_by_name(context, state->defaultSink.c_str(), OnSinkInfo, state));
    if (!ok && error->empty())
        *error = std::string("the sound server did not answer: ") + pa_strerror(pa_context_errno(context));
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return ok;
}

bool HostListSources(std::vector<HostSourceInfo>* sources, std::string* defaultMonitor, std::string* error)
{
    ServerState state;
    if (!QueryServer(&state, error))
        return false;
    *sources = state.sources;
    *defaultMonitor = state.defaultMonitor;
    return true;
}

static void Record(HostCaptureSource* source)
{
    float buffer[readFrames * 2];
    while (!source->stop) {
        int code = 0;
        if (pa_simple_read(source->stream, buffer, sizeof(buffer), &code) < 0)
            break;  // the server went away: the picture keeps the last sound, then silence follows
        std::lock_guard<std::mutex> lock(source->mutex);
        for (int i = 0; i < readFrames; i++) {
            size_t at = (size_t)(source->written % ringFrames) * 2;
            source->ring[at] = buffer[i * 2];
            source->ring[at + 1] = buffer[i * 2 + 1];
            source->written++;
        }
    }
}

HostCaptureSource* HostCaptureOpen(const std::string& device, std::string* description, std::string* error)
{
    ServerState state;
    if (!QueryServer(&state, error))
        return NULL;
    std::string name = device.empty() ? state.defaultMonitor : device;
    if (name.empty()) {
        *error = "the sound server has no default output whose sound could be captured";
        return NULL;
    }
    int rate = 0;
    for (size_t i = 0; i < state.sources.size(); i++)
        if (state.sources[i].name == name) {
            *description = state.sources[i].description;
            rate = state.rates[i];
        }
    if (rate == 0) {
        *error = "no capture source " + name + " (see --list-devices)";
        return NULL;
    }
    HostCaptureSource* source = new HostCaptureSource;
    source->rate = rate;
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = (uint32_t)rate;
    spec.channels = 2;
    pa_buffer_attr attributes;
    memset(&attributes, 0xff, sizeof(attributes));  // the server's defaults, except:
    attributes.fragsize = (uint32_t)(readFrames * 2 * sizeof(float));
    int code = 0;
    source->stream = pa_simple_new(NULL, "marlix", PA_STREAM_RECORD, name.c_str(), "visualization", &spec, NULL,
                                   &attributes, &code);
    if (!source->stream) {
        *error = "cannot record from " + name + ": " + pa_strerror(code);
        delete source;
        return NULL;
    }
    source->thread = std::thread(Record, source);
    return source;
}

void HostCaptureLatest(HostCaptureSource* source, float* stereo, int frames)
{
    std::lock_guard<std::mutex> lock(source->mutex);
    for (int i = 0; i < frames; i++) {
        long long frame = source->written - frames + i;
        if (frame < 0 || frame < source->written - ringFrames) {
            stereo[i * 2] = stereo[i * 2 + 1] = 0.0f;
            continue;
        }
        size_t at = (size_t)(frame % ringFrames) * 2;
        stereo[i * 2] = source->ring[at];
        stereo[i * 2 + 1] = source->ring[at + 1];
    }
}

int HostCaptureRate(const HostCaptureSource* source)
{
    return source->rate;
}

void HostCaptureClose(HostCaptureSource* source)
{
    if (!source)
        return;
    source->stop = true;
    source->thread.join();
    pa_simple_free(source->stream);
    delete source;
}
