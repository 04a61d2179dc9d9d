// Shared set-up of the object file tests: the engine started on the software device with tables
// of 132 materials and textures, a scratch directory that is also the texture directory, and
// helpers that write files there and load them.
#ifndef KSO_TEST_H
#define KSO_TEST_H

#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include "kso_writer.h"

#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// What a load may change outside the object: compared before and after a refused load.
struct EngineState {
    int32_t blocks = 0;
    std::vector<std::string> materials;   // names of the used slots, in slot order
    std::vector<std::string> textures;    // names of the used entries, in entry order
    int32_t cameras = 0;
    bool operator==(const EngineState& o) const
    {
        return blocks == o.blocks && materials == o.materials && textures == o.textures && cameras == o.cameras;
    }
};
EngineState CaptureEngineState();

class KsoTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Save(const std::string& name, const Bytes& bytes);
    // Writes the bytes (or the model) as a file and loads it; loaded objects are freed after the test.
    KSObject* LoadBytes(const Bytes& bytes, int32_t flags = 0);
    KSObject* Load(const KsoModel& model, int32_t flags = 0) { return LoadBytes(KsoWriteModel(model), flags); }
    // A width x height 32-bit TGA of one colour in the scratch directory.
    void WriteTexture(const std::string& name, int width, int height, uint32_t argb = 0xFF808080);

    std::string directory;
    std::vector<KSObject*> objects;
    int32_t baselineBlocks = 0;
    int baselineObjects = 0;
    HWND window = nullptr;
    int serial = 0;
};

// A model of one segment with a triangle (vertices (0,0,0), (1,0,0), (0,1,0)) whose face uses
// file material `material`.
KsoModel TriangleModel(uint16_t material = 0);

// A KSO_MAIN chunk around one segment chunk announcing `count` segments, whose content `body`
// writes (sub-chunks of the segment chunk).
template <typename Body> Bytes SegmentFile(uint32_t count, Body body)
{
    KsoStream s;
    KsoBegin(s, KSO_MAIN);
    KsoBegin(s, KSO_SEGMENTS);
    KsoU32(s, count);
    body(s);
    KsoEnd(s);
    KsoEnd(s);
    return s.bytes;
}

#endif
