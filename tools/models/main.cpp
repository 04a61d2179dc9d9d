// Writes the five models and their shine texture into the data directory given as argument.
#include "models.h"

#include <jpeglib.h>
#include <stdio.h>

static bool WriteJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c;
    jpeg_error_mgr error;
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = (JDIMENSION)size;
    c.image_height = (JDIMENSION)size;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = (JSAMPROW)&rgb[(size_t)c.next_scanline * size * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return fclose(f) == 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s DATA_DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    for (const ModelFile& m : BuildModels())
        if (!KsoSaveModel(dir + "/" + m.name, m.model)) {
            fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), m.name.c_str());
            return 1;
        }
    if (!WriteJpeg(dir + "/" MODEL_SHINE_TEXTURE, BuildShinePicture(), MODEL_SHINE_SIZE)) {
        fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), MODEL_SHINE_TEXTURE);
        return 1;
    }
    return 0;
}
