// Test audio made by FFmpeg's command-line tool from a formula (its lavfi sources), in any format
// its encoders write: the host's decoder reads it back through the libraries.
#ifndef MARLIX_TEST_MEDIA_H
#define MARLIX_TEST_MEDIA_H

#include <stdio.h>
#include <stdlib.h>

#include <string>

// A stereo sine of `amplitude` (of full scale) at `hertz`, `seconds` long.
inline std::string Sine(double hertz, double amplitude, int rate, double seconds)
{
    char channel[96];
    snprintf(channel, sizeof(channel), "%g*sin(2*PI*%g*t)", amplitude, hertz);
    char source[256];
    snprintf(source, sizeof(source), "aevalsrc=%s|%s:s=%d:d=%g", channel, channel, rate, seconds);
    return source;
}

// Writes `path` from a lavfi source; `options` go before the file name (codec, tags).
inline bool MakeAudio(const std::string& path, const std::string& source, const std::string& options = "")
{
    std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i '" + source + "' " + options +
                          " '" + path + "'";
    return system(command.c_str()) == 0;
}

#endif
