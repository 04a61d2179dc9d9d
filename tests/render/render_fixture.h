// Shared set-up of the render tests: the engine started on a headless window with a device
// profile, a camera on the -z side looking at the origin, one light list, and builders of
// one-segment objects made in memory.
#ifndef RENDER_FIXTURE_H
#define RENDER_FIXTURE_H

#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include <vector>

struct MeshFace {
    int corners[3];
    float u[3], v[3];
};

// A one-segment object from positions (outward normals given per vertex) and faces of one
// material. Faces are turned so that their front faces the way their vertex normals point.
struct Mesh {
    std::vector<KSVector> positions;
    std::vector<KSVector> normals;
    std::vector<MeshFace> faces;
};

Mesh SphereMesh(float radius, int rings, int segments);
Mesh CubeMesh(float half);
// A quad in the plane z = 0 facing -z, of corners (x1, y1) .. (x2, y2).
Mesh QuadMesh(float x1, float y1, float x2, float y2);

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts (or restarts) the engine on the device profile with a window of the client size.
    void StartEngine(int profile, int width = 160, int height = 120);
    void StopEngine();

    KSObject* MakeObject(const Mesh& mesh, int32_t material);
    KSEntity* MakeEntity(KSObject* object);
    int32_t AddMaterial(int32_t method, float r = 255, float g = 255, float b = 255, float alpha = 255,
                        int32_t texture = 0);
    // A width x height RGBA texture (format code 16) of texels from the function, on `stage`.
    int32_t AddTexture(const char* name, int width, int height, uint32_t (*texel)(int x, int y),
                       int32_t stage = 0);

    // Starts a frame cleared to the colour; EndFrame flushes, presents and returns the picture.
    void BeginFrame(uint32_t rgb = 0);
    void Draw(KSEntity* entity);
    const MarlixFrame& EndFrame();
    uint32_t Pixel(int x, int y) const;   // of the last frame, 0xRRGGBB
    int CountDrawn(uint32_t background) const;   // pixels of the last frame not of that colour

    // Writes the last frame as a PNG into the working directory (the build folder under CTest).
    void SavePicture(const char* name) const;

    HWND window_ = nullptr;
    KSViewport viewport_;
    KSCamera* camera_ = nullptr;
    KSLightList lights_;
    MarlixFrame frame_;
    std::vector<KSObject*> objects_;
    std::vector<KSEntity*> entities_;
    bool running_ = false;
};

inline int Red(uint32_t p) { return (int)(p >> 16 & 0xFF); }
inline int Green(uint32_t p) { return (int)(p >> 8 & 0xFF); }
inline int Blue(uint32_t p) { return (int)(p & 0xFF); }

#endif
