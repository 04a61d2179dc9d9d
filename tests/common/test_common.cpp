#include "test_common.h"

#include <png.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <system_error>
#include <vector>

bool ScratchFolder::Make(const char* tag) {
    Remove();
    std::string pattern = std::string("/tmp/marlix-") + tag + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (!mkdtemp(name.data())) return false;
    path = name.data();
    return true;
}

bool ScratchFolder::Enter() {
    std::error_code error;
    std::filesystem::path here = std::filesystem::current_path(error);
    if (error || path.empty()) return false;
    std::filesystem::current_path(path, error);
    if (error) return false;
    previous = here.string();
    return true;
}

void ScratchFolder::Remove() {
    std::error_code ignored;
    if (!previous.empty()) std::filesystem::current_path(previous, ignored);
    previous.clear();
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
    path.clear();
}

bool WriteTestPng(const std::string& path, const uint32_t* pixels, int width, int height, int pitchBytes) {
    if (!pixels || width <= 0 || height <= 0 || pitchBytes < width * 4) return false;
    std::vector<uint8_t> rgb((size_t)width * height * 3);
    for (int y = 0; y < height; y++) {
        const uint32_t* row = (const uint32_t*)((const uint8_t*)pixels + (size_t)y * pitchBytes);
        uint8_t* out = &rgb[(size_t)y * width * 3];
        for (int x = 0; x < width; x++) {
            out[x * 3] = (uint8_t)(row[x] >> 16);
            out[x * 3 + 1] = (uint8_t)(row[x] >> 8);
            out[x * 3 + 2] = (uint8_t)row[x];
        }
    }
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = (png_uint_32)width;
    image.height = (png_uint_32)height;
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}
