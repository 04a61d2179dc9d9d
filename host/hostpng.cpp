// Headless capture: presented frames written as PNG files.
#include "host.h"

#include <png.h>
#include <stdio.h>

bool HostWritePng(const std::string& path, const uint32_t* pixels, int width, int height, int pitchBytes)
{
    if (!pixels || width <= 0 || height <= 0 || pitchBytes < width * 4)
        return false;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
    png_infop info = png ? png_create_info_struct(png) : NULL;
    std::vector<png_byte> row((size_t)width * 3);
    bool ok = png && info;
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; y++) {
            const uint32_t* src = (const uint32_t*)((const unsigned char*)pixels + (size_t)y * pitchBytes);
            for (int x = 0; x < width; x++) {
                row[x * 3 + 0] = (png_byte)(src[x] >> 16);
                row[x * 3 + 1] = (png_byte)(src[x] >> 8);
                row[x * 3 + 2] = (png_byte)src[x];
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, NULL);
    } else {
        ok = false;
    }
    png_destroy_write_struct(png ? &png : NULL, info ? &info : NULL);
    if (fclose(file) != 0)
        ok = false;
    return ok;
}
