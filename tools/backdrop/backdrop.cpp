// Draws the visualizer's backdrop "back.jpg" from code and writes it with libjpeg:
//
//     marlix_backdrop OUT.jpg
//
// A bright cartoon landscape: a sky that lightens towards the horizon, a sun with a soft glow and
// faint rays, a few puffy clouds, two rows of rolling hills with lollipop trees and a scatter of
// flowers. The picture is laid over the previous frame every frame at the motion-blur opacity, so
// it is both what the scenes stand in front of and the colour that trails fade into: the shapes
// are large and soft, the colours light but not white, and the middle of the picture, where the
// models fly, is calm sky and far hills.
//
// The texture is 512 x 512 (a power of two, so the texture manager keeps it at its size) and is
// stretched over a 4:3 window; the drawing works in a 4:3 plane (x 0..4/3, y 0..1, y down) so that
// circles come out round on screen.
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <vector>

#include <jpeglib.h>  // after <stdio.h>: it uses FILE and size_t without including them

namespace {

const int kSize = 512;
const float kAspect = 4.0f / 3.0f;
const float kPixel = 1.0f / kSize;  // one texel in plane units (vertically)

struct Colour {
    float r, g, b;
};

Colour Mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float Clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

float SmoothStep(float edge0, float edge1, float v) {
    float t = Clamp01((v - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}

// Coverage of a shape from its signed distance (negative inside), with an edge `soft` wide.
float Inside(float distance, float soft) {
    return 1.0f - SmoothStep(-soft, soft, distance);
}

// Coverage of a line of half width `half` along a shape's edge.
float Edge(float distance, float half, float soft) {
    return 1.0f - SmoothStep(half - soft, half + soft, fabsf(distance));
}

float Circle(float x, float y, float cx, float cy, float radius) {
    return hypotf(x - cx, y - cy) - radius;
}

// A rolling hill line: the sum of sines gives its height, and the distance is measured across the
// slope so that its outline keeps one thickness on steep parts.
struct Hill {
    float base;
    float a1, f1, p1, a2, f2, p2;
    Colour top, bottom, line;
};

float HillHeight(const Hill& h, float x) {
    return h.base + h.a1 * sinf(x * h.f1 + h.p1) + h.a2 * sinf(x * h.f2 + h.p2);
}

float HillDistance(const Hill& h, float x, float y) {
    float slope = h.a1 * h.f1 * cosf(x * h.f1 + h.p1) + h.a2 * h.f2 * cosf(x * h.f2 + h.p2);
    return (HillHeight(h, x) - y) / sqrtf(1.0f + slope * slope);
}

// A cloud: a few overlapping puffs cut flat underneath.
struct Cloud {
    float cx, cy, scale;
};

const float kPuffs[][3] = {{-0.09f, 0.010f, 0.050f}, {-0.035f, -0.025f, 0.068f}, {0.035f, -0.035f, 0.075f},
                           {0.095f, 0.000f, 0.052f}};

float CloudDistance(const Cloud& c, float x, float y) {
    float d = 1e9f;
    for (const auto& p : kPuffs)
        d = fminf(d, Circle(x, y, c.cx + p[0] * c.scale, c.cy + p[1] * c.scale, p[2] * c.scale));
    return fmaxf(d, y - (c.cy + 0.03f * c.scale));
}

struct Tree {
    float x, scale;  // stands on the far hills
};

struct Flower {
    float x, dy;     // dy below the near hill's edge
    Colour petals;
};

const Colour kSkyTop = {0.36f, 0.64f, 0.93f};
const Colour kSkyHorizon = {0.74f, 0.89f, 0.98f};
const Colour kSunGlow = {1.00f, 0.95f, 0.75f};
const Colour kSun = {1.00f, 0.86f, 0.30f};
const Colour kSunRim = {0.98f, 0.62f, 0.18f};
const Colour kCloud = {0.99f, 0.99f, 1.00f};
const Colour kCloudShade = {0.80f, 0.86f, 0.96f};
const Colour kCloudLine = {0.55f, 0.66f, 0.86f};
const Colour kTrunk = {0.55f, 0.36f, 0.20f};
const Colour kCrown = {0.30f, 0.62f, 0.30f};
const Colour kCrownLight = {0.45f, 0.76f, 0.40f};
const Colour kInk = {0.16f, 0.33f, 0.16f};

const float kSunX = 1.08f, kSunY = 0.20f, kSunRadius = 0.085f;

const Hill kFarHills = {0.615f, 0.045f, 4.1f, 0.7f, 0.022f, 9.3f, 2.0f,
                        {0.58f, 0.80f, 0.52f}, {0.46f, 0.70f, 0.42f}, {0.30f, 0.52f, 0.30f}};
const Hill kNearHills = {0.775f, 0.055f, 3.2f, 2.5f, 0.020f, 7.7f, 0.3f,
                         {0.45f, 0.78f, 0.32f}, {0.28f, 0.58f, 0.22f}, {0.18f, 0.40f, 0.15f}};

const Cloud kClouds[] = {{0.56f, 0.15f, 1.20f}, {0.90f, 0.37f, 0.85f}, {0.17f, 0.36f, 0.80f}};
const Tree kTrees[] = {{0.10f, 1.0f}, {0.47f, 0.8f}, {1.22f, 1.1f}};
const Flower kFlowers[] = {{0.07f, 0.090f, {1.00f, 0.45f, 0.62f}}, {0.31f, 0.150f, {1.00f, 0.88f, 0.30f}},
                           {0.55f, 0.070f, {0.98f, 0.98f, 0.98f}}, {0.86f, 0.160f, {1.00f, 0.45f, 0.62f}},
                           {1.04f, 0.080f, {1.00f, 0.88f, 0.30f}}, {1.25f, 0.140f, {0.98f, 0.98f, 0.98f}}};

Colour Sky(float x, float y) {
    Colour c = Mix(kSkyTop, kSkyHorizon, SmoothStep(0.0f, 0.72f, y));
    float d = hypotf(x - kSunX, y - kSunY);
    // Faint rays: twelve wedges a little lighter than the sky, fading out with distance.
    float angle = atan2f(y - kSunY, x - kSunX);
    float wedge = 0.5f + 0.5f * cosf(angle * 12.0f);
    float rays = SmoothStep(0.35f, 0.65f, wedge) * (1.0f - SmoothStep(0.1f, 0.75f, d)) * 0.10f;
    c = Mix(c, kSunGlow, rays);
    // The glow round the sun.
    c = Mix(c, kSunGlow, 0.55f * expf(-d * d / 0.018f));
    return c;
}

Colour Pixel(float x, float y) {
    const float soft = 0.8f * kPixel;
    Colour c = Sky(x, y);

    // Sun: a warm disk with a darker rim.
    float sun = Circle(x, y, kSunX, kSunY, kSunRadius);
    c = Mix(c, Mix(kSun, kSunRim, SmoothStep(-0.02f, 0.0f, sun)), Inside(sun, soft));
    c = Mix(c, kSunRim, Edge(sun, 1.6f * kPixel, soft));

    for (const Cloud& cloud : kClouds) {
        float d = CloudDistance(cloud, x, y);
        float shade = SmoothStep(cloud.cy - 0.03f * cloud.scale, cloud.cy + 0.03f * cloud.scale, y);
        c = Mix(c, Mix(kCloud, kCloudShade, shade), Inside(d, soft));
        c = Mix(c, kCloudLine, 0.8f * Edge(d, 1.2f * kPixel, soft));
    }

    // Far hills, with their trees standing on them.
    float far = HillDistance(kFarHills, x, y);
    float farDepth = Clamp01((y - HillHeight(kFarHills, x)) / 0.2f);
    c = Mix(c, Mix(kFarHills.top, kFarHills.bottom, farDepth), Inside(far, soft));
    c = Mix(c, kFarHills.line, Edge(far, 1.3f * kPixel, soft));
    for (const Tree& tree : kTrees) {
        float ground = HillHeight(kFarHills, tree.x) + 0.01f;
        float crownY = ground - 0.085f * tree.scale;
        float trunk = fmaxf(fabsf(x - tree.x) - 0.008f * tree.scale, fabsf(y - (ground - 0.03f * tree.scale)) -
                                                                         0.04f * tree.scale);
        c = Mix(c, kTrunk, Inside(trunk, soft));
        c = Mix(c, kInk, Edge(trunk, 1.0f * kPixel, soft));
        float crown = Circle(x, y, tree.x, crownY, 0.045f * tree.scale);
        float light = Circle(x, y, tree.x - 0.012f * tree.scale, crownY - 0.014f * tree.scale, 0.022f * tree.scale);
        c = Mix(c, Mix(kCrown, kCrownLight, Inside(light, 6.0f * kPixel)), Inside(crown, soft));
        c = Mix(c, kInk, Edge(crown, 1.2f * kPixel, soft));
    }

    // Near hills and their flowers.
    float nearTop = HillHeight(kNearHills, x);
    float near = HillDistance(kNearHills, x, y);
    c = Mix(c, Mix(kNearHills.top, kNearHills.bottom, Clamp01((y - nearTop) / 0.25f)), Inside(near, soft));
    c = Mix(c, kNearHills.line, Edge(near, 1.5f * kPixel, soft));
    for (const Flower& f : kFlowers) {
        float fy = HillHeight(kNearHills, f.x) + f.dy;
        float petals = 1e9f;
        for (int k = 0; k < 5; k++) {
            float a = (float)k * 1.2566371f;
            petals = fminf(petals, Circle(x, y, f.x + 0.011f * cosf(a), fy + 0.011f * sinf(a), 0.008f));
        }
        c = Mix(c, f.petals, Inside(petals, soft));
        c = Mix(c, kInk, 0.7f * Edge(petals, 0.8f * kPixel, soft));
        float heart = Circle(x, y, f.x, fy, 0.006f);
        c = Mix(c, kSunRim, Inside(heart, soft));
    }
    return c;
}

int WriteJpeg(const char* path, const std::vector<unsigned char>& rgb) {
    FILE* stream = fopen(path, "wb");
    if (!stream) {
        perror(path);
        return 0;
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, stream);
    cinfo.image_width = kSize;
    cinfo.image_height = kSize;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)&rgb[(size_t)cinfo.next_scanline * kSize * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    bool ok = !ferror(stream);
    if (fclose(stream) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "%s: write failed\n", path);
        remove(path);
    }
    return ok ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.jpg\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> rgb((size_t)kSize * kSize * 3);
    for (int row = 0; row < kSize; row++) {
        for (int column = 0; column < kSize; column++) {
            // Texel centres, the plane squeezed to the square texture.
            float x = ((float)column + 0.5f) / kSize * kAspect;
            float y = ((float)row + 0.5f) / kSize;
            Colour c = Pixel(x, y);
            unsigned char* out = &rgb[((size_t)row * kSize + column) * 3];
            out[0] = (unsigned char)lrintf(Clamp01(c.r) * 255.0f);
            out[1] = (unsigned char)lrintf(Clamp01(c.g) * 255.0f);
            out[2] = (unsigned char)lrintf(Clamp01(c.b) * 255.0f);
        }
    }
    return WriteJpeg(argv[1], rgb) ? 0 : 1;
}
