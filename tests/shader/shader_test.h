// Shared set-up of the shader tests: the engine started on the software device in a 320 x 240
// window, tables of materials and textures, a camera, vertex-buffer mode, and a scratch directory
// for the object files the tests write and load.
#ifndef SHADER_TEST_H
#define SHADER_TEST_H

#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include "kso_writer.h"

#include <stdint.h>
#include <string>
#include <vector>

class ShaderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes the model into the scratch directory and loads it; loaded objects are freed after the test.
    KSObject* Load(const KsoModel& model);

    HWND window = nullptr;
    KSCamera* camera = nullptr;
    std::string directory;
    int baselineBlocks = 0, baselineObjects = 0;
    int serial = 0;
    std::vector<KSObject*> objects;
};

// A one-segment model of one triangle whose face uses file material 0.
KsoModel TriangleModel(void);
// A shader record for the writer.
KsoShader Shader(const char* name, uint32_t type, const char* source);

#endif
