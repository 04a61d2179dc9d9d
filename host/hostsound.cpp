// Sound output through SDL: the device pulls the player's current track from its callback, so the
// time heard is the callback's cursor less what the device still holds.
#include "host.h"

#include <SDL.h>

static void Callback(void* user, Uint8* stream, int length)
{
    HostPlayer* player = (HostPlayer*)user;
    float* out = (float*)stream;
    int frames = length / (int)(2 * sizeof(float));
    const HostAudio& audio = player->audio;
    long long total = audio.Frames();
    float volume = player->volume;
    bool playing = player->state == HOST_PLAYING && player->loaded >= 0;
    for (int i = 0; i < frames; i++) {
        if (playing && player->soundCursor < total) {
            out[i * 2] = audio.samples[player->soundCursor * 2] * volume;
            out[i * 2 + 1] = audio.samples[player->soundCursor * 2 + 1] * volume;
            player->soundCursor++;
        } else {
            out[i * 2] = 0.0f;
            out[i * 2 + 1] = 0.0f;
            if (playing)
                player->soundEnded = true;
        }
    }
}

bool HostSoundOpen(HostPlayer* player, int sampleRate, std::string* error)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *error = SDL_GetError();
        return false;
    }
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 1024;  // 23 ms at 44.1 kHz: the pictures follow the music closely
    want.callback = Callback;
    want.userdata = player;
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(NULL, 0, &want, &have, 0);
    if (device == 0) {
        *error = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    player->soundDevice = device;
    player->soundRate = sampleRate;
    player->soundBufferFrames = have.samples;
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void HostSoundClose(HostPlayer* player)
{
    if (!player->soundDevice)
        return;
    SDL_CloseAudioDevice(player->soundDevice);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    player->soundDevice = 0;
    player->soundRate = 0;
}

void HostSoundLock(HostPlayer* player)
{
    if (player->soundDevice)
        SDL_LockAudioDevice(player->soundDevice);
}

void HostSoundUnlock(HostPlayer* player)
{
    if (player->soundDevice)
        SDL_UnlockAudioDevice(player->soundDevice);
}
