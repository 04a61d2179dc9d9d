// Shared set-up of the buffer tests: the engine started on the software device in a 320 x 240
// window as the plug-in starts it, tables of materials and textures, a camera, and builders of
// small objects made in memory.
#ifndef TNL_TEST_H
#define TNL_TEST_H

#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include <stdint.h>
#include <string>
#include <vector>

// One face of a test segment: vertex numbers, coordinates of set 0 and the material.
struct TestFace {
    int32_t corners[3];
    float u[3], v[3];
    uint16_t material;
};

class TnlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A material of the given method and colour (0..255) added to the table; returns its index.
    int32_t AddMaterial(const char* name, int32_t method, float r, float g, float b, float alpha = 255.0f,
                        int32_t texture = 0);
    // A one-segment object with the vertices (normals along +z unless given) and faces.
    KSObject* MakeObject(const std::vector<KSVector>& positions, const std::vector<TestFace>& faces,
                         const std::vector<KSVector>& normals = {});
    KSEntity* MakeEntity(KSObject* object);
    // The vertex data of a list as floats (the buffer locked and copied).
    std::vector<float> VertexData(const KSBufferList* list);
    std::vector<uint16_t> IndexData(IDirect3DIndexBuffer8* buffer, int32_t count);

    HWND window = nullptr;
    KSCamera* camera = nullptr;
    int baselineBlocks = 0, baselineObjects = 0;
    std::vector<KSObject*> objects;
    std::vector<KSEntity*> entities;
};

#endif
