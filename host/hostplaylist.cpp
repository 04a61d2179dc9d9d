// The playlist from the command line: files, folders (their audio files in name order) and M3U or
// M3U8 lists (paths relative to the list), each file probed for its title; files that do not open as
// audio are reported and left out.
#include "host.h"
#include "hostaudio.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

// Files a folder contributes, by extension.
static const char* const audioExtensions[] = {
    "mp3", "mp2", "m4a", "m4b", "aac", "flac", "ogg", "oga", "opus", "wav", "wv", "aif", "aiff", "ape",
    "mpc", "wma", "mka", "ac3", "dts", "alac", "caf", "au", "tta", "spx", "webm",
};

// Lists nest (a list may name another) at most this deep, so a list that names itself ends.
static const int maxListDepth = 8;

static std::string Extension(const std::string& path)
{
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = (char)tolower((unsigned char)c);
    return extension;
}

static bool IsList(const std::string& path)
{
    std::string extension = Extension(path);
    return extension == "m3u" || extension == "m3u8";
}

static bool IsAudioName(const std::string& path)
{
    std::string extension = Extension(path);
    for (const char* known : audioExtensions)
        if (extension == known)
            return true;
    return false;
}

static void Expand(const std::string& item, int depth, std::vector<std::string>* files);

static void ExpandList(const std::string& listPath, int depth, std::vector<std::string>* files)
{
    std::ifstream in(listPath, std::ios::binary);
    if (!in) {
        fprintf(stderr, "marlix: skipping %s: cannot read the list (%s)\n", listPath.c_str(), strerror(errno));
        return;
    }
    if (depth >= maxListDepth) {
        fprintf(stderr, "marlix: skipping %s: lists nested deeper than %d\n", listPath.c_str(), maxListDepth);
        return;
    }
    fs::path base = fs::path(listPath).parent_path();
    bool first = true;
    for (std::string line; std::getline(in, line);) {
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);  // M3U8 files may start with a byte-order mark
        first = false;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line.erase(0, start);
        // Addresses ("http://...") and absolute paths stay as they are.
        bool absolute = line[0] == '/' || line.find("://") != std::string::npos;
        Expand(absolute ? line : (base / line).string(), depth + 1, files);
    }
}

static void Expand(const std::string& item, int depth, std::vector<std::string>* files)
{
    std::error_code error;
    if (fs::is_directory(item, error)) {
        std::vector<std::string> names;
        for (fs::directory_iterator it(item, error), end; !error && it != end; it.increment(error))
            if (it->is_regular_file(error) && IsAudioName(it->path().string()))
                names.push_back(it->path().string());
        if (error)
            fprintf(stderr, "marlix: cannot read the folder %s: %s\n", item.c_str(), error.message().c_str());
        std::sort(names.begin(), names.end());
        files->insert(files->end(), names.begin(), names.end());
    } else if (IsList(item)) {
        ExpandList(item, depth, files);
    } else {
        files->push_back(item);
    }
}

std::vector<std::string> HostExpandPlaylist(const std::vector<std::string>& items)
{
    std::vector<std::string> files;
    for (const std::string& item : items)
        Expand(item, 0, &files);
    return files;
}

std::vector<HostEntry> HostBuildPlaylist(const std::vector<std::string>& items)
{
    std::vector<HostEntry> entries;
    for (const std::string& file : HostExpandPlaylist(items)) {
        HostEntry entry;
        entry.path = file;
        std::string error;
        if (HostProbeFile(file, &entry.title, &entry.seconds, &error))
            entries.push_back(entry);
        else
            fprintf(stderr, "marlix: skipping %s: %s\n", file.c_str(), error.c_str());
    }
    return entries;
}

void HostShuffle(std::vector<HostEntry>* entries, unsigned int seed)
{
    std::mt19937 random(seed);
    std::shuffle(entries->begin(), entries->end(), random);
}
