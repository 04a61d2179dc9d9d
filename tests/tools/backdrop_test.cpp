// The backdrop picture: the same file on every build, a picture the engine's JPEG loader takes at a
// size the texture manager keeps, and light and calm enough to sit behind the scenes and their
// trails.
#include "tools_fixture.h"

#include <kestra.h>

#include <math.h>

#include <algorithm>

#define KS_MODULE "backdrop_test"

namespace {

struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
    float Luminance(int x, int y) const {
        const uint8_t* p = &rgba[((size_t)y * width + x) * 4];
        return 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2];
    }
};

class BackdropTest : public BuilderTest {
protected:
    void SetUp() override {
        BuilderTest::SetUp();
        KS_MemoryInit();
    }
    void TearDown() override {
        EXPECT_EQ(0, KS_MemoryBlockCount());
        KS_MemoryShutdown();
        BuilderTest::TearDown();
    }
    Picture Load(const std::string& path) {
        Picture picture;
        uint8_t* buffer = KS_LoadJPEG(path.c_str(), &picture.width, &picture.height);
        EXPECT_NE(nullptr, buffer);
        if (buffer) {
            picture.rgba.assign(buffer, buffer + (size_t)picture.width * picture.height * 4);
            KS_FREE(buffer);
        }
        return picture;
    }
};

}  // namespace

TEST_F(BackdropTest, SameBytesOnEveryBuild) {
    Bytes first = Read(Run(MARLIX_BACKDROP_TOOL, "", "a.jpg"));
    Bytes second = Read(Run(MARLIX_BACKDROP_TOOL, "", "b.jpg"));
    ASSERT_GT(first.size(), 1000u);
    EXPECT_TRUE(first == second);
}

TEST_F(BackdropTest, EngineLoadsAPowerOfTwoSquare) {
    Picture picture = Load(Run(MARLIX_BACKDROP_TOOL, "", "back.jpg"));
    // A power of two passes the texture manager's size fitting unchanged, so no resampling blurs it.
    EXPECT_EQ(512, picture.width);
    EXPECT_EQ(512, picture.height);
    for (size_t i = 3; i < picture.rgba.size(); i += 4) ASSERT_EQ(255, picture.rgba[i]);
}

TEST_F(BackdropTest, LightCalmAndColourful) {
    Picture picture = Load(Run(MARLIX_BACKDROP_TOOL, "", "back.jpg"));
    ASSERT_EQ(512, picture.width);
    double sum = 0, step = 0, saturation = 0;
    int dark = 0, white = 0;
    for (int y = 0; y < picture.height; y++) {
        for (int x = 0; x < picture.width; x++) {
            float l = picture.Luminance(x, y);
            sum += l;
            dark += l < 60.0f;
            white += l > 245.0f;
            if (x > 0) step += fabsf(l - picture.Luminance(x - 1, y));
            const uint8_t* p = &picture.rgba[((size_t)y * picture.width + x) * 4];
            int high = std::max(p[0], std::max(p[1], p[2])), low = std::min(p[0], std::min(p[1], p[2]));
            saturation += high - low;
        }
    }
    double texels = (double)picture.width * picture.height;
    // Trails fade into the backdrop: a dark one would turn every scene murky, a white one wash it out.
    EXPECT_GT(sum / texels, 120.0);
    EXPECT_LT(sum / texels, 210.0);
    EXPECT_LT(dark / texels, 0.02);
    EXPECT_LT(white / texels, 0.15);
    // Soft shapes: neighbouring texels differ little on average, so the models stand out.
    EXPECT_LT(step / texels, 4.0);
    EXPECT_GT(saturation / texels, 40.0);
}
