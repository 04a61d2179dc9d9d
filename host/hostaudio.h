// The host's audio: decoded tracks, the spectrum and waveform a player hands to its visualization
// plug-ins, the sound output, capture of what the computer plays, and video files of a rendered run.
#ifndef MARLIX_HOSTAUDIO_H
#define MARLIX_HOSTAUDIO_H

#include <stdint.h>
#include <string>
#include <vector>

#define HOST_BINS 576       // spectrum bins and waveform samples per channel
#define HOST_FFT_SIZE 1152  // samples per channel in one spectrum

// A decoded track: always two channels (a mono file is copied to both), floats in -1..1.
struct HostAudio {
    int sampleRate = 0;
    int fileChannels = 0;        // channels of the file itself
    std::vector<float> samples;  // interleaved left, right
    long long Frames() const { return (long long)(samples.size() / 2); }
    double Seconds() const { return sampleRate > 0 ? (double)Frames() / sampleRate : 0.0; }
};

// What the playlist needs before a file is played: its title and whether it opens as audio.
// The title is "Artist - Title" from the tags, the title tag alone, or the file name; the length is
// the container's statement (0 when it has none).
bool HostProbeFile(const std::string& path, std::string* title, double* seconds, std::string* error);
bool HostDecodeFile(const std::string& path, HostAudio* audio, std::string* error);
std::string HostTitleFromTags(const std::string& artist, const std::string& title, const std::string& path);

// Spectrum and waveform of two interleaved channels around one frame: the FFT window and the
// waveform are centred on `centre`; frames outside 0..frames-1 count as silence.
void HostAnalyse(const float* stereo, long long frames, long long centre, unsigned char spectrum[2][HOST_BINS],
                 unsigned char waveform[2][HOST_BINS]);

// Sound output through SDL: the callback plays the player's current track.
struct HostPlayer;
bool HostSoundOpen(HostPlayer* player, int sampleRate, std::string* error);
void HostSoundClose(HostPlayer* player);
void HostSoundLock(HostPlayer* player);
void HostSoundUnlock(HostPlayer* player);

// Capture of a sound server's source (by default the monitor of the default output).
struct HostCaptureSource;
struct HostSourceInfo {
    std::string name;
    std::string description;
    bool monitor = false;
};
// False with the reason when no sound server answers.
bool HostListSources(std::vector<HostSourceInfo>* sources, std::string* defaultMonitor, std::string* error);
// device empty: the monitor of the default output. Records in the background until closed.
HostCaptureSource* HostCaptureOpen(const std::string& device, std::string* description, std::string* error);
// The latest `frames` captured frames, stereo interleaved (silence before the first).
void HostCaptureLatest(HostCaptureSource* source, float* stereo, int frames);
int HostCaptureRate(const HostCaptureSource* source);
void HostCaptureClose(HostCaptureSource* source);

// Video files: frames of the plug-in's window and the track's audio, encoded and muxed.
struct HostVideo;
// True when the path names a container the renderer writes (.mp4, .mkv, .webm).
bool HostIsVideoFile(const std::string& path);
HostVideo* HostVideoOpen(const std::string& path, int width, int height, std::string* error);
// One picture of X8R8G8B8 pixels, scaled to the video's size when it differs; frames follow at 1/60 s.
bool HostVideoAddFrame(HostVideo* video, const uint32_t* pixels, int width, int height, std::string* error);
// Audio that goes with the pictures, in order; any sample rate.
bool HostVideoAddAudio(HostVideo* video, const float* stereo, long long frames, int sampleRate, std::string* error);
// Flushes, writes the end of the file and frees everything; false (file incomplete) on an error.
bool HostVideoClose(HostVideo* video, std::string* error);

#endif
