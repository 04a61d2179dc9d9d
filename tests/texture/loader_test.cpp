// The image loaders: accepted and rejected headers, the layout details each format gets wrong
// most easily, and truncated or damaged files failing without reading or writing out of bounds.
#include "texture_test.h"

#include <string.h>

namespace {

// A 4x3 image with distinct indices and a recognisable palette.
Image8 Sample8(int width = 4, int height = 3) {
    Image8 image = MakeImage8(width, height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) image.at(x, y) = (uint8_t)(1 + x + y * width);
    for (int i = 0; i < 256; i++) {
        image.palette[i * 3] = (uint8_t)i;
        image.palette[i * 3 + 1] = (uint8_t)(255 - i);
        image.palette[i * 3 + 2] = (uint8_t)(i * 7);
    }
    return image;
}

Image32 Sample32(int width, int height) {
    Image32 image = MakeImage32(width, height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            uint8_t* p = image.at(x, y);
            p[0] = (uint8_t)(x * 40);
            p[1] = (uint8_t)(y * 50);
            p[2] = (uint8_t)(x * 10 + y);
            p[3] = (uint8_t)(100 + x + y);
        }
    return image;
}

std::vector<uint8_t> Buffer(const uint8_t* pixels, int width, int height) {
    return std::vector<uint8_t>(pixels, pixels + (size_t)width * height * 4);
}

}  // namespace

// ---- PCX ----

TEST_F(TextureTest, PcxWidthComesFromXminAndXmaxAndPaddingStaysOut) {
    Image8 image = Sample8(10, 3);
    std::string path = Write("pad.pcx", WritePCX(image, 10, 5, 12, 0x77));
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadPCX(path.c_str(), palette);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ(10, KS_SurfaceWidth(surface));
    EXPECT_EQ(3, KS_SurfaceHeight(surface));
    EXPECT_EQ(image.index, SurfaceIndices(surface));
    for (int i = 0; i < 768; i++) ASSERT_EQ(image.palette[i] >> 2, palette[i]) << i;
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, PcxRunPassingTheRowEndIsDropped) {
    Image8 image = MakeImage8(4, 2);
    Bytes file = WritePCX(image);
    file.resize(128);
    // Row 0: a run of 6 nines over a 4-byte line; row 1 literals, a zero-length run between them.
    for (uint8_t b : {0xC6, 9, 1, 0xC0, 0x55, 2, 3, 4}) file.push_back(b);
    std::string path = Write("run.pcx", file);
    IDirect3DSurface8* surface = KS_LoadPCX(path.c_str(), nullptr);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ((std::vector<uint8_t>{9, 9, 9, 9, 1, 2, 3, 4}), SurfaceIndices(surface));
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, PcxHeadersAreChecked) {
    Bytes good = WritePCX(Sample8());
    Bytes wrongMaker = good, fourBit = good, backwards = good;
    wrongMaker[0] = 11;
    fourBit[3] = 4;
    Put16LE(backwards, 8, 0);  // xmax below xmin
    Put16LE(backwards, 4, 5);
    EXPECT_EQ(nullptr, KS_LoadPCX(Write("a.pcx", wrongMaker).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadPCX(Write("b.pcx", fourBit).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadPCX(Write("c.pcx", backwards).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadPCX(Write("d.pcx", Bytes(good.begin(), good.begin() + 100)).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadPCX(Path("missing.pcx").c_str(), nullptr));
}

TEST_F(TextureTest, PcxTruncatedDataDecodesToZeros) {
    Image8 image = Sample8(4, 3);
    Bytes file = WritePCX(image);
    file.resize(128 + 6);  // row 0 and half of row 1
    uint8_t palette[768];
    memset(palette, 0xAA, sizeof(palette));
    IDirect3DSurface8* surface = KS_LoadPCX(Write("cut.pcx", file).c_str(), palette);
    ASSERT_NE(nullptr, surface);
    std::vector<uint8_t> expected = image.index;
    for (size_t i = 6; i < expected.size(); i++) expected[i] = 0;
    EXPECT_EQ(expected, SurfaceIndices(surface));
    EXPECT_EQ(0, palette[0]);
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, PcxHugeHeaderFailsCleanly) {
    Bytes file = WritePCX(Sample8());
    Put16LE(file, 4, 0);
    Put16LE(file, 6, 0);
    Put16LE(file, 8, 65535);
    Put16LE(file, 10, 65535);
    EXPECT_EQ(nullptr, KS_LoadPCX(Write("huge.pcx", file).c_str(), nullptr));
}

// ---- BMP ----

TEST_F(TextureTest, Bmp24IsGreyWithSwappedWeightsAndBottomUpRows) {
    Image32 image = MakeImage32(3, 2);
    const uint8_t colours[6][3] = {{0, 0, 255}, {255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {10, 20, 30}};
    for (int i = 0; i < 6; i++) memcpy(image.at(i % 3, i / 3), colours[i], 3);
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadBMP(Write("grey.bmp", WriteBMP24(image)).c_str(), palette);
    ASSERT_NE(nullptr, surface);
    // The weights go 30/59/11 over the file's blue, green, red bytes, each rounded down.
    int mixed = 30 * 30 / 100 + 59 * 20 / 100 + 11 * 10 / 100;
    EXPECT_EQ((std::vector<uint8_t>{76, 254, 0, 28, 150, (uint8_t)mixed}), SurfaceIndices(surface));
    EXPECT_EQ(63, palette[254 * 3]);
    EXPECT_EQ(63, palette[254 * 3 + 2]);
    EXPECT_EQ(19, palette[76 * 3 + 1]);
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, Bmp1BitIsBlackAndWhiteWhateverItsPalette) {
    Image8 image = MakeImage8(10, 2);
    image.at(0, 0) = 1;
    image.at(9, 0) = 1;
    image.at(8, 1) = 1;
    image.palette[0] = 200;  // ignored for 1-bit pictures
    image.palette[4] = 99;
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadBMP(Write("mono.bmp", WriteBMP8(image, 1)).c_str(), palette);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ(image.index, SurfaceIndices(surface));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 63, 63, 63}), std::vector<uint8_t>(palette, palette + 6));
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, Bmp4And8BitKeepIndicesAndReadTheirPaletteAsBlueGreenRed) {
    for (int bits : {4, 8}) {
        Image8 image = Sample8(5, 3);  // odd widths: row padding and the last nibble
        for (uint8_t& v : image.index) v = (uint8_t)(v % (1 << bits));
        uint8_t palette[768];
        memset(palette, 0xEE, sizeof(palette));
        IDirect3DSurface8* surface =
            KS_LoadBMP(Write("p" + std::to_string(bits) + ".bmp", WriteBMP8(image, bits)).c_str(), palette);
        ASSERT_NE(nullptr, surface) << bits;
        EXPECT_EQ(image.index, SurfaceIndices(surface)) << bits;
        for (int i = 0; i < (1 << bits) * 3; i++) ASSERT_EQ(image.palette[i] >> 2, palette[i]) << bits << " " << i;
        KS_ReleaseSurface(surface);
    }
}

TEST_F(TextureTest, BmpWithFewerPaletteEntriesThanItsBitsStillLoads) {
    // An 8-bit picture of 2x2 with a 2-entry palette: the palette read runs into the pixels and
    // the end of the file; the pixels come from the data offset.
    Bytes file(54, 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32LE(file, 10, 54 + 8);
    Put32LE(file, 18, 2);
    Put32LE(file, 22, 2);
    Put16LE(file, 28, 8);
    for (uint8_t b : {0, 0, 252, 0, 252, 0, 0, 0}) file.push_back(b);  // red, blue
    for (uint8_t b : {1, 0, 0, 0, 0, 1, 0, 0}) file.push_back(b);        // rows bottom-up
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadBMP(Write("small.bmp", file).c_str(), palette);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 1, 0}), SurfaceIndices(surface));
    EXPECT_EQ((std::vector<uint8_t>{63, 0, 0, 0, 0, 63}), std::vector<uint8_t>(palette, palette + 6));
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, BmpRejectsWhatItCannotRead) {
    Bytes good = WriteBMP8(Sample8(), 8);
    Bytes magic = good, packed = good, sixteen = good, wide = good;
    magic[1] = 'X';
    Put32LE(packed, 30, 1);
    Put16LE(sixteen, 28, 16);
    Put32LE(wide, 18, 0x7FFFFFFF);
    EXPECT_EQ(nullptr, KS_LoadBMP(Write("a.bmp", magic).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadBMP(Write("b.bmp", packed).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadBMP(Write("c.bmp", sixteen).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadBMP(Write("d.bmp", wide).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadBMP(Write("e.bmp", Bytes(good.begin(), good.begin() + 53)).c_str(), nullptr));
    // A row cut short fails the whole picture.
    EXPECT_EQ(nullptr, KS_LoadBMP(Write("f.bmp", Bytes(good.begin(), good.end() - 1)).c_str(), nullptr));
}

TEST_F(TextureTest, BmpNegativeHeightIsTopDown) {
    Image8 image = Sample8(4, 3);
    Bytes file = WriteBMP8(image, 8);
    // Reverse the stored rows and mark them top-down.
    size_t offset = file.size() - 12;
    Bytes rows(file.begin() + (long)offset, file.end());
    for (int r = 0; r < 3; r++) memcpy(&file[offset + r * 4], &rows[(2 - r) * 4], 4);
    Put32LE(file, 22, (uint32_t)-3);
    IDirect3DSurface8* surface = KS_LoadBMP(Write("down.bmp", file).c_str(), nullptr);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ(image.index, SurfaceIndices(surface));
    KS_ReleaseSurface(surface);
}

// ---- TGA ----

TEST_F(TextureTest, TgaRowOrderFollowsTheDescriptor) {
    Image32 image = Sample32(5, 4);
    for (bool topDown : {false, true}) {
        int32_t width = 0, height = 0;
        uint8_t* buffer = KS_LoadTGA(Write("o.tga", WriteTGA(image, 32, false, topDown)).c_str(), &width, &height);
        ASSERT_NE(nullptr, buffer);
        EXPECT_EQ(5, width);
        EXPECT_EQ(4, height);
        EXPECT_EQ(image.rgba, Buffer(buffer, width, height)) << "top-down " << topDown;
        KS_Free(buffer, "test", __LINE__);
    }
}

TEST_F(TextureTest, TgaRunLengthAlpha) {
    Image32 image = Sample32(6, 3);
    for (int x = 0; x < 4; x++) memcpy(image.at(x, 1), image.at(0, 1), 4);  // a run inside a row
    int32_t width, height;
    uint8_t* rle32 = KS_LoadTGA(Write("a.tga", WriteTGA(image, 32, true, false)).c_str(), &width, &height);
    ASSERT_NE(nullptr, rle32);
    EXPECT_EQ(image.rgba, Buffer(rle32, width, height));
    KS_Free(rle32, "test", __LINE__);
    uint8_t* rle24 = KS_LoadTGA(Write("b.tga", WriteTGA(image, 24, true, true)).c_str(), &width, &height);
    ASSERT_NE(nullptr, rle24);
    Image32 opaque = image;
    for (size_t i = 3; i < opaque.rgba.size(); i += 4) opaque.rgba[i] = 255;
    EXPECT_EQ(opaque.rgba, Buffer(rle24, width, height));
    KS_Free(rle24, "test", __LINE__);
}

TEST_F(TextureTest, TgaPacketsEndAtTheRowEnd) {
    Bytes file(18, 0);
    file[2] = 10;
    Put16LE(file, 12, 2);
    Put16LE(file, 14, 2);
    file[16] = 24;
    file[17] = 0x20;
    // Row 0: a repeat packet of 3 over a 2-wide row. Row 1: a raw packet of 3, the third dropped.
    for (uint8_t b : {0x82, 1, 2, 3, 0x02, 10, 11, 12, 20, 21, 22, 30, 31, 32}) file.push_back(b);
    int32_t width, height;
    uint8_t* buffer = KS_LoadTGA(Write("p.tga", file).c_str(), &width, &height);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ((std::vector<uint8_t>{3, 2, 1, 255, 3, 2, 1, 255, 12, 11, 10, 255, 22, 21, 20, 255}),
              Buffer(buffer, width, height));
    KS_Free(buffer, "test", __LINE__);
}

TEST_F(TextureTest, Tga16BitAndRightToLeft) {
    Image32 image = Sample32(3, 2);
    for (size_t i = 0; i < image.rgba.size(); i++) image.rgba[i] = (uint8_t)((i % 4 == 3) ? 255 : image.rgba[i] & 0xF8);
    int32_t width, height;
    uint8_t* buffer = KS_LoadTGA(Write("s.tga", WriteTGA(image, 16, false, true)).c_str(), &width, &height);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(image.rgba, Buffer(buffer, width, height));
    KS_Free(buffer, "test", __LINE__);

    Bytes mirrored = WriteTGA(image, 16, false, true);
    mirrored[17] |= 0x10;
    buffer = KS_LoadTGA(Write("m.tga", mirrored).c_str(), &width, &height);
    ASSERT_NE(nullptr, buffer);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(0, memcmp(buffer + (y * 3 + x) * 4, image.at(2 - x, y), 4));
    KS_Free(buffer, "test", __LINE__);
}

TEST_F(TextureTest, TgaRejectsColourMapsAndOddSizes) {
    Image32 image = Sample32(2, 2);
    Bytes mapped = WriteTGA(image, 24, false, false), depth8 = mapped, empty = mapped;
    mapped[1] = 1;
    depth8[16] = 8;
    Put16LE(empty, 12, 0);
    int32_t width = -1, height = -1;
    EXPECT_EQ(nullptr, KS_LoadTGA(Write("a.tga", mapped).c_str(), &width, &height));
    EXPECT_EQ(2, width);  // the size is reported before the check
    EXPECT_EQ(nullptr, KS_LoadTGA(Write("b.tga", depth8).c_str(), &width, &height));
    EXPECT_EQ(nullptr, KS_LoadTGA(Write("c.tga", empty).c_str(), &width, &height));
    EXPECT_EQ(nullptr, KS_LoadTGA(Write("d.tga", Bytes(mapped.begin(), mapped.begin() + 17)).c_str(), &width, &height));
}

TEST_F(TextureTest, TgaTruncatedPixelsReadAsOpaqueBlack) {
    Image32 image = Sample32(4, 4);
    Bytes file = WriteTGA(image, 24, false, true);
    file.resize(18 + 3 + 3 * 5);  // five pixels
    int32_t width, height;
    uint8_t* buffer = KS_LoadTGA(Write("t.tga", file).c_str(), &width, &height);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(image.at(0, 1)[0], buffer[4 * 4]);
    for (int i = 5; i < 16; i++) EXPECT_EQ(0, memcmp(buffer + i * 4, "\0\0\0\xff", 4)) << i;
    KS_Free(buffer, "test", __LINE__);
    // A run-length file cut inside a packet.
    Bytes rle = WriteTGA(image, 32, true, false);
    rle.resize(rle.size() / 2);
    buffer = KS_LoadTGA(Write("r.tga", rle).c_str(), &width, &height);
    ASSERT_NE(nullptr, buffer);
    KS_Free(buffer, "test", __LINE__);
}

// ---- IFF ----

TEST_F(TextureTest, IlbmPlanesBecomeIndices) {
    Image8 image = MakeImage8(12, 3);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 12; x++) image.at(x, y) = (uint8_t)((x * 7 + y * 5) % 32);
    for (int i = 0; i < 96; i++) image.palette[i] = (uint8_t)(i * 2);
    for (bool compress : {false, true}) {
        std::string path = Write("p.lbm", WriteIFF(image, true, 5, compress));
        KSFile* file = KS_OpenFile(path.c_str());
        ASSERT_NE(nullptr, file);
        KSIFFHeader header;
        uint8_t palette[768];
        memset(palette, 0xEE, sizeof(palette));
        IDirect3DSurface8* surface = KS_DecodeIFF(file, &header, palette);
        KS_CloseFile(file);
        ASSERT_NE(nullptr, surface);
        EXPECT_EQ(10, header.bytesPerRow);  // 5 planes of 2 bytes
        EXPECT_EQ(5, header.planes);
        EXPECT_STREQ("ILBM", header.formType);
        EXPECT_EQ(image.index, SurfaceIndices(surface)) << "compressed " << compress;
        EXPECT_EQ(95 * 2 >> 2, palette[95]);
        EXPECT_EQ(0, palette[96]);  // beyond the colour map
        KS_ReleaseSurface(surface);
    }
}

TEST_F(TextureTest, PbmChunkyRowsAreIndices) {
    Image8 image = Sample8(5, 4);
    image.at(4, 3) = 200;
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadLBM(Write("c.iff", WriteIFF(image, false, 8, true)).c_str(), palette);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ(image.index, SurfaceIndices(surface));
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, IffRejectsBadGroupsRowsAndMissingBodies) {
    Image8 image = Sample8(8, 2);
    Bytes good = WriteIFF(image, true, 4, true);
    Bytes group = good;
    memcpy(&group[0], "JUNK", 4);
    EXPECT_EQ(nullptr, KS_LoadLBM(Write("a.lbm", group).c_str(), nullptr));
    for (const char* id : {"LIST", "CAT "}) {
        Bytes other = good;
        memcpy(&other[0], id, 4);
        IDirect3DSurface8* surface = KS_LoadLBM(Write("b.lbm", other).c_str(), nullptr);
        EXPECT_NE(nullptr, surface) << id;
        KS_ReleaseSurface(surface);
    }
    // Stop before the body: the end of the file after a chunk.
    size_t body = 0;
    for (size_t i = 12; i + 4 <= good.size(); i++)
        if (memcmp(&good[i], "BODY", 4) == 0) body = i;
    ASSERT_GT(body, 0u);
    EXPECT_EQ(nullptr, KS_LoadLBM(Write("c.lbm", Bytes(good.begin(), good.begin() + (long)body)).c_str(), nullptr));

    // A repeat that overshoots the 4-byte row fails.
    Bytes overshoot(good.begin(), good.begin() + (long)body + 8);
    for (int b : {257 - 6, 7}) overshoot.push_back((uint8_t)b);
    EXPECT_EQ(nullptr, KS_LoadLBM(Write("d.lbm", overshoot).c_str(), nullptr));

    // An uncompressed row cut short fails; a compressed one decodes to zeros.
    Bytes raw = WriteIFF(image, true, 4, false);
    EXPECT_EQ(nullptr, KS_LoadLBM(Write("e.lbm", Bytes(raw.begin(), raw.end() - 2)).c_str(), nullptr));
    Bytes cut(good.begin(), good.begin() + (long)body + 10);
    IDirect3DSurface8* surface = KS_LoadLBM(Write("f.lbm", cut).c_str(), nullptr);
    ASSERT_NE(nullptr, surface);
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, PbmWithFewPlanesOnANarrowRowStaysInBounds) {
    // One texel wide, four planes: the planes need more bytes than the one-byte row holds.
    Image8 image = MakeImage8(1, 2);
    Bytes file = WriteIFF(image, false, 4, false);
    IDirect3DSurface8* surface = KS_LoadLBM(Write("n.iff", file).c_str(), nullptr);
    ASSERT_NE(nullptr, surface);
    KS_ReleaseSurface(surface);
}

// ---- DDS ----

TEST_F(TextureTest, DdsLevelCounts) {
    int32_t width = 0, height = 0;
    IDirect3DTexture8* one = KS_LoadDDS(Write("z.dds", WriteDDS(16, 8, 0, nullptr, 0x80FF2010)).c_str(), &width, &height);
    ASSERT_NE(nullptr, one);
    EXPECT_EQ(1u, one->GetLevelCount());  // a mipmap count of 0 is one level
    EXPECT_EQ(16, width);
    EXPECT_EQ(8, height);
    int w, h;
    D3DFORMAT format;
    std::vector<uint32_t> texels = TextureTexels(one, 0, &w, &h, &format);
    EXPECT_EQ(D3DFMT_A8R8G8B8, format);
    for (uint32_t t : texels) ASSERT_EQ(0x80FF2010u, t);
    one->Release();

    IDirect3DTexture8* three = KS_LoadDDS(Write("d.dds", WriteDDS(16, 16, 3, "DXT1", 0, 0x5A)).c_str(), &width, &height);
    ASSERT_NE(nullptr, three);
    EXPECT_EQ(3u, three->GetLevelCount());
    D3DSURFACE_DESC desc;
    three->GetLevelDesc(2, &desc);
    EXPECT_EQ(D3DFMT_DXT1, desc.Format);
    EXPECT_EQ(4u, desc.Width);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(D3D_OK, three->LockRect(2, &locked, nullptr, D3DLOCK_READONLY));
    EXPECT_EQ(0x5A, ((const uint8_t*)locked.pBits)[7]);
    three->UnlockRect(2);
    three->Release();
}

TEST_F(TextureTest, DdsRejectsBadHeadersAndShortFiles) {
    Bytes good = WriteDDS(8, 8, 2, nullptr, 0xFF000000);
    Bytes magic = good, size = good, format = good, levels = good, huge = good;
    magic[3] = 'X';
    Put32LE(size, 4, 123);
    Put32LE(format, 4 + 100, 0x00FF0000);  // alpha mask no format has
    Put32LE(levels, 4 + 24, 9);            // more levels than an 8x8 chain
    Put32LE(huge, 4 + 12, 4096);  // wider than the device's textures
    int32_t w, h;
    EXPECT_EQ(nullptr, KS_LoadDDS(Write("a.dds", magic).c_str(), &w, &h));
    EXPECT_EQ(nullptr, KS_LoadDDS(Write("b.dds", size).c_str(), &w, &h));
    EXPECT_EQ(nullptr, KS_LoadDDS(Write("c.dds", format).c_str(), &w, &h));
    EXPECT_EQ(nullptr, KS_LoadDDS(Write("d.dds", levels).c_str(), &w, &h));
    EXPECT_EQ(nullptr, KS_LoadDDS(Write("e.dds", huge).c_str(), &w, &h));
    // Cut inside the second level: nothing is kept (the fixture counts the Direct3D objects).
    EXPECT_EQ(nullptr, KS_LoadDDS(Write("f.dds", Bytes(good.begin(), good.end() - 4)).c_str(), &w, &h));
    Bytes dxt = WriteDDS(8, 8, 1, "DXT5", 0);
    EXPECT_EQ(nullptr, KS_LoadDDS(Write("g.dds", Bytes(dxt.begin(), dxt.end() - 1)).c_str(), &w, &h));
}

// ---- JPEG ----

TEST_F(TextureTest, JpegColourAndGrey) {
    Image32 image = MakeImage32(16, 8);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++) {
            uint8_t* p = image.at(x, y);
            p[0] = x < 8 ? 220 : 20;
            p[1] = x < 8 ? 30 : 200;
            p[2] = 60;
        }
    int32_t width = 0, height = 0;
    uint8_t* colour = KS_LoadJPEG(Write("c.jpg", WriteJPEG(image, 3)).c_str(), &width, &height);
    ASSERT_NE(nullptr, colour);
    EXPECT_EQ(16, width);
    EXPECT_EQ(8, height);
    for (int y = 0; y < 8; y++)
        for (int x : {1, 6, 9, 14}) {
            const uint8_t* p = colour + (y * 16 + x) * 4;
            EXPECT_NEAR(image.at(x, y)[0], p[0], 12);
            EXPECT_NEAR(image.at(x, y)[1], p[1], 12);
            EXPECT_NEAR(60, p[2], 12);
            EXPECT_EQ(255, p[3]);
        }
    KS_Free(colour, "test", __LINE__);

    uint8_t* grey = KS_LoadJPEG(Write("g.jpg", WriteJPEG(image, 1)).c_str(), &width, &height);
    ASSERT_NE(nullptr, grey);
    EXPECT_NEAR(220, grey[0], 6);
    EXPECT_EQ(grey[0], grey[1]);
    EXPECT_EQ(grey[0], grey[2]);
    KS_Free(grey, "test", __LINE__);
}

TEST_F(TextureTest, JpegCutShortStillDecodes) {
    Image32 image = Sample32(64, 64);
    Bytes file = WriteJPEG(image, 3);
    int32_t width, height;
    uint8_t* buffer = KS_LoadJPEG(Write("cut.jpg", Bytes(file.begin(), file.begin() + (long)file.size() / 2)).c_str(),
                                  &width, &height);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(64, width);
    KS_Free(buffer, "test", __LINE__);
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, DamagedJpegIsTheFatalJpegError) {
    Bytes file = WriteJPEG(Sample32(8, 8), 3);
    file[3] ^= 0xFF;  // a marker that is not one
    std::string damaged = Write("bad.jpg", file);
    EXPECT_EXIT(KS_LoadJPEG(damaged.c_str(), nullptr, nullptr), ::testing::ExitedWithCode(1), "Error reading jpeg file");
    std::string empty = Write("empty.jpg", {});
    EXPECT_EXIT(KS_LoadJPEG(empty.c_str(), nullptr, nullptr), ::testing::ExitedWithCode(1), "Error reading jpeg file");
}
