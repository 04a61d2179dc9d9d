// Malformed object files: each is refused with null and leaves no object, block, material,
// texture or camera of its own behind; a chunk of length 0 is the fatal format error.
#include "kso_test.h"

#include <string.h>

static void Triangle(KsoStream& s, uint32_t corner2 = 2)
{
    KsoBegin(s, KSO_SEGMENT);
    KsoString(s, "s");
    KsoEnd(s);
    KsoBegin(s, KSO_VERTICES);
    KsoU32(s, 3);
    for (int i = 0; i < 3; i++) {
        float p[3] = {(float)(i == 1), (float)(i == 2), 0};
        KsoFloats(s, p, 3);
        KsoU16(s, 0);
        KsoU16(s, 0);
        KsoU16(s, 1023);
    }
    KsoEnd(s);
    KsoBegin(s, KSO_FACES);
    KsoU32(s, 1);
    KsoU16(s, 0);
    KsoU16(s, 0);
    KsoU32(s, 0);
    KsoU32(s, 1);
    KsoU32(s, corner2);
    for (int i = 0; i < 9; i++)
        KsoU32(s, 0);
    KsoU16(s, 0);
    KsoU16(s, 0);
    KsoU16(s, 1023);
    KsoU8(s, 0);
    KsoU16(s, 0);
    KsoEnd(s);
}

static void Links(KsoStream& s, int32_t child, int32_t sibling, int32_t parent)
{
    KsoBegin(s, KSO_LINKS);
    KsoU32(s, (uint32_t)child);
    KsoU32(s, (uint32_t)sibling);
    KsoU32(s, (uint32_t)parent);
    KsoEnd(s);
}

static Bytes MaterialFile(int materials, bool named = true, uint32_t texture = 0)
{
    KsoStream s;
    KsoBegin(s, KSO_MAIN);
    KsoBegin(s, KSO_MATERIALS);
    for (int i = 0; i < materials; i++) {
        if (named) {
            KsoBegin(s, KSO_MATERIAL_NAME);
            KsoString(s, "m" + std::to_string(i));
            KsoEnd(s);
        }
        KsoBegin(s, KSO_MATERIAL_TEXTURE);
        KsoU32(s, texture);
        KsoEnd(s);
        KsoBegin(s, KSO_MATERIAL_END);
        KsoEnd(s);
    }
    KsoEnd(s);
    KsoEnd(s);
    return s.bytes;
}

static Bytes TextureFile(uint16_t listId, int count)
{
    KsoStream s;
    KsoBegin(s, KSO_MAIN);
    KsoBegin(s, listId);
    KsoU16(s, (uint16_t)count);
    for (int i = 0; i < count; i++) {
        if (listId == KSO_TEXTURES)
            KsoString(s, "t" + std::to_string(i) + ".tga");
        else
            KsoU8(s, 0);
    }
    KsoEnd(s);
    KsoEnd(s);
    return s.bytes;
}

// Each case is one file; the engine's state must be the same after as before.
TEST_F(KsoTest, MalformedFilesAreRefusedCleanly)
{
    struct Case {
        const char* what;
        Bytes bytes;
    };
    Bytes valid = KsoWriteModel(TriangleModel());
    Bytes truncated(valid.begin(), valid.end() - 10);
    Bytes shortHeader = SegmentFile(1, [](KsoStream& s) {
        Triangle(s);
        KsoU16(s, KSO_PIVOT);
        KsoU32(s, 3);   // shorter than a chunk header
    });
    Bytes longName = SegmentFile(1, [](KsoStream& s) {
        KsoBegin(s, KSO_SEGMENT);
        KsoString(s, std::string(80, 'n'));   // 81 bytes with the terminator
        KsoEnd(s);
    });
    std::vector<Case> cases = {
        {"file cut short", truncated},
        {"chunk shorter than its header", shortHeader},
        {"name without terminator in 80 bytes", longName},
        {"face corner beyond the vertex count", SegmentFile(1, [](KsoStream& s) { Triangle(s, 3); })},
        {"link beyond the segment count", SegmentFile(1, [](KsoStream& s) { Triangle(s); Links(s, 1, -1, -1); })},
        {"negative link other than -1", SegmentFile(1, [](KsoStream& s) { Triangle(s); Links(s, -1, -2, -1); })},
        {"more segments than announced", SegmentFile(1, [](KsoStream& s) { Triangle(s); Triangle(s); })},
        {"segment count the chunk cannot hold", SegmentFile(100000, [](KsoStream& s) { Triangle(s); })},
        {"segment chunk before the first segment", SegmentFile(1, [](KsoStream& s) {
             KsoBegin(s, KSO_SEGMENT_FLAGS);
             KsoU32(s, 0);
             KsoEnd(s);
             Triangle(s);
         })},
        {"faces before vertices", SegmentFile(1, [](KsoStream& s) {
             KsoBegin(s, KSO_SEGMENT);
             KsoString(s, "s");
             KsoEnd(s);
             KsoBegin(s, KSO_FACES);
             KsoU32(s, 0);
             KsoEnd(s);
         })},
        {"vertices again after faces", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             KsoBegin(s, KSO_VERTICES);
             KsoU32(s, 0);
             KsoEnd(s);
         })},
        {"vertex count larger than the chunk", SegmentFile(1, [](KsoStream& s) {
             KsoBegin(s, KSO_SEGMENT);
             KsoString(s, "s");
             KsoEnd(s);
             KsoBegin(s, KSO_VERTICES);
             KsoU32(s, 0x7FFFFFFF);
             KsoEnd(s);
         })},
        {"eight extra layers", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             KsoBegin(s, KSO_LAYERS);
             KsoU32(s, 8);
             for (int i = 0; i < 8 * 6; i++)
                 KsoFloat(s, 0);
             KsoEnd(s);
         })},
        {"repeated key track", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             for (int i = 0; i < 2; i++) {
                 KsoBegin(s, KSO_SCALE_KEYS);
                 KsoU32(s, 0);
                 KsoEnd(s);
             }
         })},
        {"detail arrays shorter than the vertices", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             KsoBegin(s, KSO_DETAIL);
             KsoU32(s, 1);
             KsoU32(s, 0);
             KsoU32(s, 0);
             KsoU32(s, 0);
             KsoEnd(s);
         })},
        {"detail remap beyond the vertices", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             KsoBegin(s, KSO_DETAIL);
             KsoU32(s, 3);
             for (uint32_t v : {0u, 1u, 3u, 0u, 0u, 0u, 0u})
                 KsoU32(s, v);
             KsoEnd(s);
         })},
        {"buffer larger than its chunk", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             KsoBegin(s, KSO_BUFFERS);
             for (uint32_t v : {0u, 1u, 0u, 1u, 3u, 3u, 0x152u, 36u})
                 KsoU32(s, v);
             KsoEnd(s);
         })},
        {"buffer index beyond its vertices", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             KsoBegin(s, KSO_BUFFERS);
             for (uint32_t v : {0u, 1u, 0u, 1u, 3u, 3u, 0x152u, 36u})
                 KsoU32(s, v);
             for (int i = 0; i < 3 * 36; i++)
                 KsoU8(s, 0);
             for (uint16_t i : {0, 1, 3})
                 KsoU16(s, i);
             KsoEnd(s);
         })},
        {"buffer counts whose product overflows", SegmentFile(1, [](KsoStream& s) {
             Triangle(s);
             KsoBegin(s, KSO_BUFFERS);
             for (uint32_t v : {0u, 1u, 0u, 1u, 0xC3000003u, 0xC3C3C3C3u, 0x152u, 0xC3C3C3C3u})
                 KsoU32(s, v);
             KsoEnd(s);
         })},
        {"257 textures", TextureFile(KSO_TEXTURES, 257)},
        {"texture byte list of 257", TextureFile(KSO_TEXTURE_BYTES2, 257)},
        {"513 materials", MaterialFile(513)},
        {"material without a name", MaterialFile(1, false)},
        {"material texture number beyond 256", MaterialFile(1, true, 256)},
    };
    for (const Case& c : cases) {
        EngineState before = CaptureEngineState();
        EXPECT_EQ(nullptr, LoadBytes(c.bytes)) << c.what;
        EXPECT_TRUE(before == CaptureEngineState()) << c.what << " left something behind";
    }
}

// A file refused late gives back the textures, materials and camera it registered earlier, and
// registers none of its shaders.
TEST_F(KsoTest, RefusedFileGivesBackWhatItRegistered)
{
    WriteTexture("kept.tga", 8, 8);
    WriteTexture("new.tga", 8, 8);
    ASSERT_GE(KSGFX_LoadTexture("kept.tga"), 0);
    KsoModel m = TriangleModel();
    m.textures = {"kept.tga", "new.tga"};
    KsoMaterial a, b;
    a.name = "Fresh";
    b.name = "Another";
    m.materials = {a, b};
    m.cameras = {KsoCamera()};
    m.segments[0].links = std::array<int32_t, 3>{5, -1, -1};
    KsoShader shader;
    shader.name = "never registered";
    m.pixelShaders = {shader};
    m.vertexShaders = {shader};
    EngineState before = CaptureEngineState();
    EXPECT_EQ(nullptr, Load(m));
    EXPECT_TRUE(before == CaptureEngineState());
    EXPECT_EQ(nullptr, ksVertexShaders);
    EXPECT_EQ(nullptr, ksPixelShaders);
    EXPECT_GE(KS_FindTexture("kept.tga"), 0);
}

// A file that does not start with the main chunk is not an object file: null, tables untouched.
TEST_F(KsoTest, OtherFilesGiveNull)
{
    EngineState before = CaptureEngineState();
    Bytes b = KsoWriteModel(TriangleModel());
    b[0] = 0x02;   // 0x0302
    EXPECT_EQ(nullptr, LoadBytes(b));
    EXPECT_EQ(nullptr, LoadBytes(Bytes{0x03, 0x03, 0x00}));
    EXPECT_EQ(nullptr, LoadBytes(Bytes{}));
    EXPECT_EQ(nullptr, KS_LoadObject((directory + "/absent.kso").c_str(), 0));
    EXPECT_TRUE(before == CaptureEngineState());
}

// Walk rules that are not errors: a chunk claiming to end beyond its parent ends that level's walk
// (what came before it stays), unknown ids are skipped, and trailing bytes too few for a chunk
// header are ignored.
TEST_F(KsoTest, ChunksPastTheirParentEndTheWalk)
{
    Bytes b = SegmentFile(2, [](KsoStream& s) {
        Triangle(s);
        KsoBegin(s, 0x7777);
        KsoU32(s, 1);
        KsoEnd(s);
        KsoU16(s, KSO_SEGMENT);
        KsoU32(s, 1000);   // beyond the segment chunk
        KsoString(s, "ghost");
    });
    b.push_back(0);
    b.push_back(0);   // two bytes after the main chunk
    KSObject* o = LoadBytes(b);
    ASSERT_NE(nullptr, o);
    ASSERT_EQ(2, o->segmentCount);
    EXPECT_EQ(1, o->segments[0].faceCount);
    EXPECT_EQ(nullptr, o->segments[1].name);
    EXPECT_EQ(0, o->segments[1].vertexCount);
}

TEST_F(KsoTest, ZeroLengthChunkIsTheFatalFormatError)
{
    Bytes b = SegmentFile(1, [](KsoStream& s) {
        Triangle(s);
        KsoU16(s, KSO_PIVOT);
        KsoU32(s, 0);
    });
    std::string path = Save("zero.kso", b);
    EXPECT_EXIT(KS_LoadObject(path.c_str(), 0), ::testing::ExitedWithCode(1), "Error in file format");
}
