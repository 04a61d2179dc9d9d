// The host's command line.
#include "host.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

const char* HostUsage(void)
{
    return "usage: marlix [OPTION...] [FILE|FOLDER|LIST...]\n"
           "Plays music files through the visualization plug-in, or what the computer plays (--capture).\n"
           "\n"
           "  FILE|FOLDER|LIST   the playlist: music files (any format FFmpeg opens), folders (their\n"
           "                     audio files in name order) and M3U/M3U8 lists\n"
           "  --shuffle          play the playlist in a random order\n"
           "  --repeat           start again after the last entry\n"
           "  --capture          visualise the system's sound (the monitor of the default output)\n"
           "  --device NAME      with --capture: the capture source to use instead\n"
           "  --list-devices     list the capture sources (* marks the default output's monitor) and exit\n"
           "  --out FILE         render the playlist into a video file (.mp4, .mkv or .webm), with its\n"
           "                     audio, 60 frames per second of audio, faster than real time\n"
           "  --out DIR          with --headless: write every presented frame as DIR/frame-NNNNN.png\n"
           "  --size WxH         the visualizer window's size (video default 640x480)\n"
           "  --headless         no display: virtual windows and a virtual clock (1/60 s per frame)\n"
           "  --frames N         stop after N frames (default: when the window closes or, headless,\n"
           "                     when the playlist ends)\n"
           "  --plugin PATH      the visualization plug-in (default: plugins/vis_marlix.so beside marlix)\n"
           "  --configure        open the plug-in's configuration and exit\n"
           "  --help             this text\n"
           "\n"
           "Keys of the player: z previous, x play, c pause, v stop, b next,\n"
           "  Left/Right seek 5 seconds, Up/Down volume (the visualizer keeps Up/Down for its playlist).\n"
           "Keys of the visualizer: 1-8 scene, Up/Down playlist browser, Enter play the highlighted\n"
           "  title, Escape close.\n";
}

static bool ParseCount(const char* text, int* value)
{
    char* end = NULL;
    errno = 0;
    long n = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || n <= 0 || n > INT_MAX)
        return false;
    *value = (int)n;
    return true;
}

// "WxH", each from 16 to 7680 and even (video frames are sampled in pairs of pixels).
static bool ParseSize(const std::string& text, int* width, int* height)
{
    int w = 0, h = 0, used = 0;
    if (sscanf(text.c_str(), "%5dx%5d%n", &w, &h, &used) != 2 || used != (int)text.size())
        return false;
    if (w < 16 || h < 16 || w > 7680 || h > 7680 || w % 2 || h % 2)
        return false;
    *width = w;
    *height = h;
    return true;
}

bool HostParseArgs(int argc, char** argv, HostOptions* options, std::string* error)
{
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--headless") {
            options->headless = true;
        } else if (arg == "--configure") {
            options->configure = true;
        } else if (arg == "--shuffle") {
            options->shuffle = true;
        } else if (arg == "--repeat") {
            options->repeat = true;
        } else if (arg == "--capture") {
            options->capture = true;
        } else if (arg == "--list-devices") {
            options->listDevices = true;
        } else if (arg == "--plugin" || arg == "--frames" || arg == "--out" || arg == "--size" || arg == "--device") {
            if (!hasValue) {
                *error = arg + " needs a value";
                return false;
            }
            const char* value = argv[++i];
            if (arg == "--plugin") {
                options->pluginPath = value;
            } else if (arg == "--out") {
                options->out = value;
            } else if (arg == "--device") {
                options->device = value;
            } else if (arg == "--size") {
                if (!ParseSize(value, &options->width, &options->height)) {
                    *error = std::string("--size needs WIDTHxHEIGHT, even numbers from 16 to 7680, not \"") + value + "\"";
                    return false;
                }
            } else if (!ParseCount(value, &options->frames)) {
                *error = std::string("--frames needs a positive number, not \"") + value + "\"";
                return false;
            }
        } else if (arg == "--") {
            for (i++; i < argc; i++)
                options->playlist.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        } else {
            options->playlist.push_back(arg);
        }
    }
    bool video = HostIsVideoFile(options->out);
    if (!options->out.empty() && !video && !options->headless) {
        *error = "--out DIR needs --headless (or name a .mp4, .mkv or .webm file)";
        return false;
    }
    if (options->capture && video) {
        *error = "--capture cannot be rendered into a video file";
        return false;
    }
    if (options->capture && !options->playlist.empty()) {
        *error = "--capture takes no files";
        return false;
    }
    if (!options->device.empty() && !options->capture) {
        *error = "--device needs --capture";
        return false;
    }
    return true;
}

std::string HostDefaultPluginPath(void)
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0)
        return "plugins/vis_marlix.so";
    path[length] = 0;
    std::string program = path;
    size_t slash = program.rfind('/');
    return program.substr(0, slash + 1) + "plugins/vis_marlix.so";
}
