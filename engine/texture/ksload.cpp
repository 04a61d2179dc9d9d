// JPEG pictures into 32-bit R, G, B, A buffers through libjpeg, reading from the engine's in-memory
// file (so a picture inside an open library file reads the same as one on the disk).
#define KS_MODULE "ksload"
#include "kestra.h"

#include <stdio.h>
#include <string.h>
#include <jpeglib.h>
#include <jerror.h>

#define KS_JPEG_BUFFER 4096

// libjpeg source manager over a KSFile.
struct KSJpegSource {
    jpeg_source_mgr pub;
    KSFile* file;
    JOCTET* buffer;        // KS_JPEG_BUFFER bytes from the decompressor's permanent pool
    boolean startOfFile;   // nothing read yet: an empty file is an error, not a short one
};

static void KS_JpegInitSource(j_decompress_ptr cinfo) {
    KSJpegSource* source = (KSJpegSource*)cinfo->src;
    source->startOfFile = TRUE;
}

static boolean KS_JpegFillInputBuffer(j_decompress_ptr cinfo) {
    KSJpegSource* source = (KSJpegSource*)cinfo->src;
    int32_t got = KS_ReadFile(source->buffer, 1, KS_JPEG_BUFFER, source->file);
    if (got <= 0) {
        if (source->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        // An end-of-image marker lets the decoder finish a truncated picture.
        source->buffer[0] = (JOCTET)0xFF;
        source->buffer[1] = (JOCTET)JPEG_EOI;
        got = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = (size_t)got;
    source->startOfFile = FALSE;
    return TRUE;
}

static void KS_JpegSkipInputData(j_decompress_ptr cinfo, long count) {
    KSJpegSource* source = (KSJpegSource*)cinfo->src;
    if (count <= 0) return;
    while (count > (long)source->pub.bytes_in_buffer) {
        count -= (long)source->pub.bytes_in_buffer;
        KS_JpegFillInputBuffer(cinfo);
    }
    source->pub.next_input_byte += (size_t)count;
    source->pub.bytes_in_buffer -= (size_t)count;
}

static void KS_JpegTermSource(j_decompress_ptr) {}

// Installs the engine's source manager on `file`.
static void KS_JpegSource(j_decompress_ptr cinfo, KSFile* file) {
    if (!cinfo->src) {
        cinfo->src = (jpeg_source_mgr*)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_PERMANENT,
                                                                  sizeof(KSJpegSource));
        KSJpegSource* source = (KSJpegSource*)cinfo->src;
        source->buffer = (JOCTET*)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_PERMANENT,
                                                             KS_JPEG_BUFFER * sizeof(JOCTET));
    }
    KSJpegSource* source = (KSJpegSource*)cinfo->src;
    source->pub.init_source = KS_JpegInitSource;
    source->pub.fill_input_buffer = KS_JpegFillInputBuffer;
    source->pub.skip_input_data = KS_JpegSkipInputData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = KS_JpegTermSource;
    source->file = file;
    source->pub.bytes_in_buffer = 0;
    source->pub.next_input_byte = nullptr;
}

// Every libjpeg error ends the program: the decoder cannot go on after one.
static void KS_JpegErrorExit(j_common_ptr) {
    KS_FatalError("Error reading jpeg file", " ");
}

uint8_t* KS_LoadJPEG(const char* path, int32_t* width, int32_t* height) {
    int32_t dummyWidth, dummyHeight;
    if (!width) width = &dummyWidth;
    if (!height) height = &dummyHeight;
    KSFile* file = KS_OpenFile(path);
    if (!file) return nullptr;

    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    memset(&cinfo, 0, sizeof(cinfo));
    cinfo.err = jpeg_std_error(&errors);
    errors.error_exit = KS_JpegErrorExit;
    jpeg_create_decompress(&cinfo);
    KS_JpegSource(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);

    // Colour and grey pictures only, and no size the buffer arithmetic cannot hold.
    if ((cinfo.out_color_space != JCS_RGB && cinfo.out_color_space != JCS_GRAYSCALE) ||
        !KS_ImageSizeOk(cinfo.image_width, cinfo.image_height)) {
        jpeg_destroy_decompress(&cinfo);
        KS_CloseFile(file);
        return nullptr;
    }
    jpeg_start_decompress(&cinfo);
    int32_t w = (int32_t)cinfo.output_width, h = (int32_t)cinfo.output_height;
    int32_t components = cinfo.output_components;
    *width = w;
    *height = h;
    uint8_t* buffer = nullptr;
    uint8_t* scanline = nullptr;
    if (KS_ImageSizeOk(w, h) && (components == 3 || components == 1)) {
        buffer = (uint8_t*)KS_ALLOC((int64_t)w * h * 4);
        scanline = (uint8_t*)KS_ALLOC((int64_t)w * components);
    }
    if (!buffer || !scanline) {
        KS_FREE(buffer);
        KS_FREE(scanline);
        jpeg_destroy_decompress(&cinfo);
        KS_CloseFile(file);
        return nullptr;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t* out = buffer + (size_t)cinfo.output_scanline * w * 4;
        JSAMPROW rows[1] = {scanline};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
        for (int32_t x = 0; x < w; x++) {
            const uint8_t* p = scanline + (size_t)x * components;
            out[x * 4 + 0] = p[0];
            out[x * 4 + 1] = components == 3 ? p[1] : p[0];
            out[x * 4 + 2] = components == 3 ? p[2] : p[0];
            out[x * 4 + 3] = 255;
        }
    }
    // The engine's source never suspends, so every line arrives; should one not, stop cleanly.
    if (cinfo.output_scanline < cinfo.output_height)
        jpeg_abort_decompress(&cinfo);
    else
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    KS_CloseFile(file);
    KS_FREE(scanline);
    return buffer;
}
