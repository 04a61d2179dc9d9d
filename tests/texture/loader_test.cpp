// The image loaders: the layout details each format gets wrong most easily, rejected headers, and
// truncated or damaged files failing without reading or writing out of bounds (sanitizer build).
#include "texture_test.h"

#include <string.h>

namespace {

// Distinct indices 1, 2, 3 ... and a palette whose entries all differ.
Image Indexed(int width, int height) {
    Image image = MakeImage(width, height, 1);
    for (size_t i = 0; i < image.pixels.size(); i++) image.pixels[i] = (uint8_t)(1 + i);
    for (int i = 0; i < 768; i++) image.palette[i] = (uint8_t)(i * 7 + i / 3);
    return image;
}

Image Colours(int width, int height) {
    Image image = MakeImage(width, height, 4);
    for (size_t i = 0; i < image.pixels.size(); i++) image.pixels[i] = (uint8_t)(i * 37 + 11);
    return image;
}

// Takes the sizes by address: they are read after the loader in the same call has set them.
Bytes Buffer(uint8_t* pixels, const int32_t* width, const int32_t* height) {
    if (!pixels) return Bytes();
    Bytes out(pixels, pixels + (size_t)*width * *height * 4);
    KS_Free(pixels, "test", __LINE__);
    return out;
}

Bytes Cut(const Bytes& b, size_t size) {
    return Bytes(b.begin(), b.begin() + (long)size);
}

}  // namespace

TEST_F(TextureTest, PcxWidthComesFromXminAndXmaxAndPaddingStaysOut) {
    Image image = Indexed(10, 3);
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadPCX(Write("a.pcx", WritePCX(image, 10, 12, 0x77)).c_str(), palette);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ(10, KS_SurfaceWidth(surface));
    EXPECT_EQ(image.pixels, SurfaceIndices(surface));
    for (int i = 0; i < 768; i++) ASSERT_EQ(image.palette[i] >> 2, palette[i]) << i;
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, PcxRunsEndAtTheRowEndAndTruncatedDataIsZero) {
    Bytes file = Cut(WritePCX(MakeImage(4, 3, 1)), 128);
    // Row 0: six nines over a 4-byte line. Row 1: literals around a run of length 0. Row 2: cut.
    for (int b : {0xC6, 9, 1, 0xC0, 0x55, 2, 3, 4, 5}) file.push_back((uint8_t)b);
    IDirect3DSurface8* surface = KS_LoadPCX(Write("r.pcx", file).c_str(), nullptr);
    ASSERT_NE(nullptr, surface);
    EXPECT_EQ((Bytes{9, 9, 9, 9, 1, 2, 3, 4, 5, 0, 0, 0}), SurfaceIndices(surface));
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, PcxRejectsBadHeaders) {
    Bytes good = WritePCX(Indexed(4, 3));
    Bytes maker = good, depth = good, backwards = good, huge = good;
    maker[0] = 11;
    depth[3] = 4;
    Put16(backwards, 4, 9);  // xmin above xmax
    Put16(huge, 8, 65535);
    Put16(huge, 10, 65535);
    for (const Bytes& file : {maker, depth, backwards, huge, Cut(good, 127)})
        EXPECT_EQ(nullptr, KS_LoadPCX(Write("bad.pcx", file).c_str(), nullptr));
    EXPECT_EQ(nullptr, KS_LoadPCX(Path("missing.pcx").c_str(), nullptr));
}

TEST_F(TextureTest, Bmp24IsGreyWithItsOddWeightsAndRowsAreBottomUp) {
    Image image = MakeImage(3, 2, 4);
    const uint8_t colours[6][3] = {{0, 0, 255}, {255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {10, 20, 30}};
    for (int i = 0; i < 6; i++) memcpy(image.at(i % 3, i / 3), colours[i], 3);
    uint8_t palette[768];
    IDirect3DSurface8* surface = KS_LoadBMP(Write("g.bmp", WriteBMP(image, 24)).c_str(), palette);
    ASSERT_NE(nullptr, surface);
    // 30, 59 and 11 percent of the file's blue, green and red bytes, each rounded down.
    EXPECT_EQ((Bytes{76, 254, 0, 28, 150, 9 + 11 + 1}), SurfaceIndices(surface));
    EXPECT_EQ((Bytes{63, 63, 63}), Bytes(palette + 254 * 3, palette + 255 * 3));
    KS_ReleaseSurface(surface);
}

TEST_F(TextureTest, BmpIndexedPicturesKeepIndicesAndReadBlueGreenRedPalettes) {
    for (int bits : {1, 4, 8}) {
        Image image = Indexed(9, 3);  // odd width: row padding, the last nibble, the last bit
        for (uint8_t& v : image.pixels) v = (uint8_t)(v % (1 << bits));
        uint8_t palette[768];
        IDirect3DSurface8* surface = KS_LoadBMP(Write("i.bmp", WriteBMP(image, bits)).c_str(), palette);
        ASSERT_NE(nullptr, surface) << bits;
        EXPECT_EQ(image.pixels, SurfaceIndices(surface)) << bits;
        if (bits == 1) {  // black and white, whatever the file's two entries say
            EXPECT_EQ((Bytes{0, 0, 0, 63, 63, 63}), Bytes(palette, palette + 6));
        } else {
            for (int i = 0; i < (3 << bits); i++) ASSERT_EQ(image.palette[i] >> 2, palette[i]) << bits;
        }
        KS_ReleaseSurface(surface);
    }
}

TEST_F(TextureTest, BmpRejectsWhatItCannotRead) {
    Bytes good = WriteBMP(Indexed(4, 3), 8);
    Bytes magic = good, packed = good, sixteen = good, wide = good, tall = good;
    magic[1] = 'X';
    Put32(packed, 30, 1);
    Put16(sixteen, 28, 16);
    Put32(wide, 18, 0x7FFFFFFF);
    Put32(tall, 22, 0x80000000u);  // the most negative height has no magnitude to take
    for (const Bytes& file : {magic, packed, sixteen, wide, tall, Cut(good, 53), Cut(good, good.size() - 1)})
        EXPECT_EQ(nullptr, KS_LoadBMP(Write("bad.bmp", file).c_str(), nullptr));
}

TEST_F(TextureTest, BmpTopDownRowsAndLongerInformationHeaders) {
    Image image = Indexed(5, 3);
    Bytes file = WriteBMP(image, 8);
    uint32_t offset = file[10] | (file[11] << 8);
    size_t rowSize = (file.size() - offset) / 3;
    // The same picture stored top to bottom, marked by a negative height.
    Bytes topDown(file.begin(), file.begin() + offset);
    for (int r = 2; r >= 0; r--)
        topDown.insert(topDown.end(), file.begin() + offset + r * rowSize, file.begin() + offset + (r + 1) * rowSize);
    Put32(topDown, 22, (uint32_t)-3);
    // And with the 124-byte information header of newer writers: the colours follow that header.
    Bytes longer(file.begin(), file.begin() + 54);
    longer.insert(longer.end(), 84, 0);
    longer.insert(longer.end(), file.begin() + 54, file.end());
    Put32(longer, 14, 124);
    Put32(longer, 10, offset + 84);
    for (const Bytes& variant : {topDown, longer}) {
        uint8_t palette[768];
        IDirect3DSurface8* surface = KS_LoadBMP(Write("v.bmp", variant).c_str(), palette);
        ASSERT_NE(nullptr, surface);
        EXPECT_EQ(image.pixels, SurfaceIndices(surface));
        for (int i = 0; i < 768; i++) ASSERT_EQ(image.palette[i] >> 2, palette[i]) << i;
        KS_ReleaseSurface(surface);
    }
}

TEST_F(TextureTest, TgaRowOrderAndRunLengthAlpha) {
    Image image = Colours(5, 4);
    Image opaque = image;
    for (size_t i = 3; i < opaque.pixels.size(); i += 4) opaque.pixels[i] = 255;
    int32_t w, h;
    for (bool topDown : {false, true}) {
        EXPECT_EQ(image.pixels, Buffer(KS_LoadTGA(Write("a.tga", WriteTGA(image, 32, false, topDown)).c_str(), &w, &h), &w, &h));
        EXPECT_EQ(image.pixels, Buffer(KS_LoadTGA(Write("b.tga", WriteTGA(image, 32, true, topDown)).c_str(), &w, &h), &w, &h));
        EXPECT_EQ(opaque.pixels, Buffer(KS_LoadTGA(Write("c.tga", WriteTGA(image, 24, true, topDown)).c_str(), &w, &h), &w, &h));
    }
    EXPECT_EQ(5, w);
    EXPECT_EQ(4, h);
}

TEST_F(TextureTest, TgaPacketsEndAtTheRowEnd) {
    Bytes file = Cut(WriteTGA(MakeImage(2, 2, 4), 24, true, true), 21);
    // Row 0: a repeat of 3 over a 2-wide row. Row 1: a raw packet of 3, its third pixel dropped.
    for (int b : {0x82, 1, 2, 3, 0x02, 10, 11, 12, 20, 21, 22, 30, 31, 32}) file.push_back((uint8_t)b);
    int32_t w, h;
    EXPECT_EQ((Bytes{3, 2, 1, 255, 3, 2, 1, 255, 12, 11, 10, 255, 22, 21, 20, 255}),
              Buffer(KS_LoadTGA(Write("p.tga", file).c_str(), &w, &h), &w, &h));
}

TEST_F(TextureTest, Tga16BitWordsRightToLeftAndTruncation) {
    Image image = Colours(3, 2);
    for (size_t i = 0; i < image.pixels.size(); i++) image.pixels[i] = (uint8_t)(i % 4 == 3 ? 255 : image.pixels[i] & 0xF8);
    Bytes file = WriteTGA(image, 16, false, true);
    file[17] |= 0x10;
    int32_t w, h;
    Bytes mirrored = Buffer(KS_LoadTGA(Write("m.tga", file).c_str(), &w, &h), &w, &h);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) EXPECT_EQ(0, memcmp(&mirrored[(y * 3 + x) * 4], image.at(2 - x, y), 4));
    // Cut after four pixels: the rest reads as opaque black.
    Bytes cut = Buffer(KS_LoadTGA(Write("t.tga", Cut(WriteTGA(image, 24, false, true), 21 + 12)).c_str(), &w, &h), &w, &h);
    EXPECT_EQ(0, memcmp(&cut[12], image.at(0, 1), 4));
    EXPECT_EQ((Bytes{0, 0, 0, 255, 0, 0, 0, 255}), Bytes(cut.begin() + 16, cut.end()));
}

TEST_F(TextureTest, TgaRejectsColourMapsAndSizesItCannotRead) {
    Bytes good = WriteTGA(Colours(2, 2), 24, false, false);
    Bytes mapped = good, depth = good, empty = good;
    mapped[1] = 1;
    depth[16] = 8;
    Put16(empty, 12, 0);
    int32_t w, h;
    for (const Bytes& file : {mapped, depth, empty, Cut(good, 17)})
        EXPECT_EQ(nullptr, KS_LoadTGA(Write("bad.tga", file).c_str(), &w, &h));
}

namespace {

// The IFF pictures of tests/data/iff: ILBMs written by netpbm's ppmtoilbm from the .ppm beside
// them, and PBMs laid out by hand from the IFF standard (see tests/data/README.md).
Bytes IffFixture(const std::string& name) {
    FILE* f = fopen((std::string(MARLIX_TEST_DATA) + "/iff/" + name).c_str(), "rb");
    Bytes out;
    if (!f) return out;
    for (int c; (c = fgetc(f)) != EOF;) out.push_back((uint8_t)c);
    fclose(f);
    return out;
}

// A plain (P3) PPM as R, G, B bytes.
Bytes ReadPlainPPM(const std::string& name, int* width, int* height) {
    FILE* f = fopen((std::string(MARLIX_TEST_DATA) + "/iff/" + name).c_str(), "r");
    Bytes out;
    int maxval = 0;
    if (!f || fscanf(f, "P3 %d %d %d", width, height, &maxval) != 3) {
        if (f) fclose(f);
        return out;
    }
    for (int v; fscanf(f, "%d", &v) == 1;) out.push_back((uint8_t)v);
    fclose(f);
    return out;
}

size_t Find(const Bytes& b, const char* id) {
    for (size_t i = 0; i + 4 <= b.size(); i++)
        if (memcmp(&b[i], id, 4) == 0) return i;
    return b.size();
}

}  // namespace

TEST_F(TextureTest, IlbmFilesOfAnotherWriterShowTheirPicture) {
    const struct {
        const char* file;
        const char* picture;
        int planes, bytesPerRow;  // word-aligned plane rows, and the mask plane where there is one
    } cases[] = {
        {"two8x3-raw.lbm", "two8x3.ppm", 1, 2},
        {"two8x3-rle.lbm", "two8x3.ppm", 1, 2},
        {"twenty13x5-raw.lbm", "twenty13x5.ppm", 5, 10},
        {"twenty13x5-rle.lbm", "twenty13x5.ppm", 5, 10},
        {"twenty13x5-mask-raw.lbm", "twenty13x5.ppm", 5, 12},
        {"twenty13x5-mask-rle.lbm", "twenty13x5.ppm", 5, 12},
        {"checker16.lbm", "checker16.ppm", 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        int width = 0, height = 0;
        Bytes rgb = ReadPlainPPM(c.picture, &width, &height);
        ASSERT_EQ(rgb.size(), (size_t)width * height * 3);
        KSFile* file = KS_OpenFile(Write("p.lbm", IffFixture(c.file)).c_str());
        ASSERT_NE(nullptr, file);
        KSIFFHeader header;
        uint8_t palette[768];
        memset(palette, 0xEE, sizeof(palette));
        IDirect3DSurface8* surface = KS_DecodeIFF(file, &header, palette);
        KS_CloseFile(file);
        ASSERT_NE(nullptr, surface);
        EXPECT_EQ(width, header.width);
        EXPECT_EQ(height, header.height);
        EXPECT_EQ(c.planes, header.planes);
        EXPECT_EQ(c.bytesPerRow, header.bytesPerRow);
        // Every texel's palette entry is its colour in the source picture (components kept as
        // multiples of 4, so the six bits are exact).
        Bytes indices = SurfaceIndices(surface);
        KS_ReleaseSurface(surface);
        int wrong = 0;
        for (size_t i = 0; i < indices.size(); i++)
            for (int k = 0; k < 3; k++) wrong += palette[indices[i] * 3 + k] != rgb[i * 3 + k] >> 2;
        EXPECT_EQ(0, wrong);
    }
}

TEST_F(TextureTest, PbmRowsArePaddedToAnEvenLength) {
    const Bytes want = {1, 2, 3, 4, 5, 9, 9, 9, 9, 200, 0, 17, 255, 17, 0};
    for (const char* name : {"pbm5x3-raw.lbm", "pbm5x3-rle.lbm"}) {
        KSFile* file = KS_OpenFile(Write("c.lbm", IffFixture(name)).c_str());
        KSIFFHeader header;
        uint8_t palette[768];
        IDirect3DSurface8* surface = KS_DecodeIFF(file, &header, palette);
        KS_CloseFile(file);
        ASSERT_NE(nullptr, surface) << name;
        EXPECT_EQ(6, header.bytesPerRow) << name;
        EXPECT_STREQ("PBM ", header.formType);
        EXPECT_EQ(want, SurfaceIndices(surface)) << name;
        EXPECT_EQ((255 - 200) >> 2, palette[200 * 3 + 1]) << name;
        KS_ReleaseSurface(surface);
    }
}

TEST_F(TextureTest, IffRejectsBadGroupsRowsAndMissingBodies) {
    Bytes good = IffFixture("two8x3-rle.lbm"), raw = IffFixture("two8x3-raw.lbm");
    size_t body = Find(good, "BODY");
    ASSERT_LT(body, good.size());
    Bytes group = good, overshoot = Cut(good, body + 8);
    memcpy(&group[0], "JUNK", 4);
    for (int b : {257 - 6, 7}) overshoot.push_back((uint8_t)b);  // a repeat past the 2-byte row
    for (const Bytes& file : {group, Cut(good, body), overshoot, Cut(raw, raw.size() - 1)})
        EXPECT_EQ(nullptr, KS_LoadLBM(Write("bad.lbm", file).c_str(), nullptr));
    // LIST and CAT groups are read; compressed data cut short and a PBM row narrower than its
    // planes (4 planes of 2 bytes in a 6-byte row) decode without stepping out of the rows.
    Bytes list = good, narrow = IffFixture("pbm5x3-raw.lbm");
    memcpy(&list[0], "CAT ", 4);
    ASSERT_EQ(0, memcmp(&narrow[12], "BMHD", 4));
    narrow[28] = 4;
    for (const Bytes& file : {list, Cut(good, body + 10), narrow}) {
        IDirect3DSurface8* surface = KS_LoadLBM(Write("ok.lbm", file).c_str(), nullptr);
        EXPECT_NE(nullptr, surface);
        KS_ReleaseSurface(surface);
    }
}

TEST_F(TextureTest, DdsLevelCounts) {
    int32_t w, h;
    IDirect3DTexture8* one = KS_LoadDDS(Write("z.dds", WriteDDS(16, 8, 0, nullptr, 0x80FF2010)).c_str(), &w, &h);
    ASSERT_NE(nullptr, one);
    EXPECT_EQ(1u, one->GetLevelCount());  // a count of 0 is one level
    EXPECT_EQ(16, w);
    EXPECT_EQ(8, h);
    D3DFORMAT format;
    for (uint32_t t : TextureTexels(one, 0, &format)) ASSERT_EQ(0x80FF2010u, t);
    EXPECT_EQ(D3DFMT_A8R8G8B8, format);
    one->Release();
    IDirect3DTexture8* three = KS_LoadDDS(Write("d.dds", WriteDDS(16, 16, 3, "DXT1", 0x5A5A5A5A)).c_str(), &w, &h);
    ASSERT_NE(nullptr, three);
    EXPECT_EQ(3u, three->GetLevelCount());
    D3DLOCKED_RECT locked;
    ASSERT_EQ(D3D_OK, three->LockRect(2, &locked, nullptr, D3DLOCK_READONLY));
    EXPECT_EQ(0x5A, ((const uint8_t*)locked.pBits)[7]);
    three->UnlockRect(2);
    three->Release();
}

TEST_F(TextureTest, DdsRejectsBadHeadersAndShortFiles) {
    Bytes good = WriteDDS(8, 8, 2, nullptr, 0xFF000000);
    Bytes magic = good, size = good, format = good, levels = good, wide = good;
    magic[3] = 'X';
    Put32(size, 4, 123);
    Put32(format, 104, 0x00FF0000);  // an alpha mask no format has
    Put32(levels, 28, 5);            // more levels than an 8 x 8 chain
    Put32(wide, 16, 4096);           // wider than the device's textures
    Bytes dxt = WriteDDS(8, 8, 1, "DXT5", 0);
    int32_t w, h;
    for (const Bytes& file : {magic, size, format, levels, wide, Cut(good, good.size() - 4), Cut(dxt, dxt.size() - 1)})
        EXPECT_EQ(nullptr, KS_LoadDDS(Write("bad.dds", file).c_str(), &w, &h));
}

TEST_F(TextureTest, JpegColourGreyAndCutShort) {
    Image image = MakeImage(16, 16, 4);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            uint8_t* p = image.at(x, y);
            p[0] = x < 8 ? 220 : 20;
            p[1] = x < 8 ? 30 : 200;
            p[2] = 60;
        }
    int32_t w, h;
    Bytes colour = Buffer(KS_LoadJPEG(Write("c.jpg", WriteJPEG(image, 3)).c_str(), &w, &h), &w, &h);
    ASSERT_EQ(16 * 16 * 4u, colour.size());
    for (int x : {1, 6, 9, 14}) {
        EXPECT_NEAR(image.at(x, 5)[0], colour[(5 * 16 + x) * 4], 12) << x;
        EXPECT_NEAR(image.at(x, 5)[1], colour[(5 * 16 + x) * 4 + 1], 12) << x;
        EXPECT_EQ(255, colour[(5 * 16 + x) * 4 + 3]);
    }
    Bytes grey = Buffer(KS_LoadJPEG(Write("g.jpg", WriteJPEG(image, 1)).c_str(), &w, &h), &w, &h);
    EXPECT_NEAR(220, grey[0], 6);
    EXPECT_EQ(grey[0], grey[1]);
    EXPECT_EQ(grey[0], grey[2]);
    Bytes file = WriteJPEG(Colours(64, 64), 3);  // mostly picture data: the cut falls inside it
    uint8_t* cut = KS_LoadJPEG(Write("cut.jpg", Cut(file, file.size() / 2)).c_str(), &w, &h);
    ASSERT_NE(nullptr, cut);  // a missing end reads as the end of the picture
    KS_Free(cut, "test", __LINE__);
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, DamagedOrEmptyJpegIsTheFatalJpegError) {
    Bytes file = WriteJPEG(Colours(8, 8), 3);
    file[3] ^= 0xFF;  // a marker that is none
    std::string damaged = Write("bad.jpg", file), empty = Write("empty.jpg", {});
    EXPECT_EXIT(KS_LoadJPEG(damaged.c_str(), nullptr, nullptr), ::testing::ExitedWithCode(1), "Error reading jpeg file");
    EXPECT_EXIT(KS_LoadJPEG(empty.c_str(), nullptr, nullptr), ::testing::ExitedWithCode(1), "Error reading jpeg file");
}
