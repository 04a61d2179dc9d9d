// The host's command line.
#include "host.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

const char* HostUsage(void)
{
    return "usage: marlix [--plugin PATH] [--headless] [--frames N] [--out DIR] [--configure] [FILE...]\n"
           "  --plugin PATH  the visualization plug-in (default: plugins/vis_marlix.so beside marlix)\n"
           "  --headless     no display: virtual windows and a virtual clock (1/60 s per frame)\n"
           "  --frames N     stop after N frames (default: when the plug-in's window closes;\n"
           "                 needed headless, where nothing can close it)\n"
           "  --out DIR      headless: write every presented frame as DIR/frame-NNNNN.png\n"
           "  --configure    open the plug-in's configuration and exit\n"
           "  FILE...        the playlist; titles are taken from the file names\n";
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
        } else if (arg == "--plugin" || arg == "--frames" || arg == "--out") {
            if (!hasValue) {
                *error = arg + " needs a value";
                return false;
            }
            const char* value = argv[++i];
            if (arg == "--plugin") {
                options->pluginPath = value;
            } else if (arg == "--out") {
                options->outDir = value;
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
    if (!options->outDir.empty() && !options->headless) {
        *error = "--out needs --headless";
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

std::string HostTitleFromFileName(const std::string& fileName)
{
    // "music/01 Intro.ogg" is shown as "01 Intro".
    size_t slash = fileName.find_last_of("/\\");
    std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name.empty() ? fileName : name;
}
