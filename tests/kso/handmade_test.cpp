// Object files written byte by byte from the format's tables, not by the writer, so the writer
// and the loader cannot agree on a mistake.
#include "kso_test.h"

// One triangle: vertices (0,0,0), (1,0,0), (0,1,0), normals +z; face material 0, u (0,1,0),
// v (0,0,1), flags 4, value 0x1234.
static const uint8_t kTriangle[] = {
    0x03, 0x03, 0xA9, 0x00, 0x00, 0x00,                          // main chunk, 169 bytes
    0x00, 0x01, 0x0A, 0x00, 0x00, 0x00, 't', 'r', 'i', 0x00,     // name, 10 bytes
    0x00, 0x10, 0x99, 0x00, 0x00, 0x00,                          // segments, 153 bytes
    0x01, 0x00, 0x00, 0x00,                                      //   count 1
    0x10, 0x10, 0x08, 0x00, 0x00, 0x00, 's', 0x00,               //   segment "s", 8 bytes
    0x30, 0x10, 0x40, 0x00, 0x00, 0x00,                          //   vertices, 64 bytes
    0x03, 0x00, 0x00, 0x00,                                      //     count 3
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x03,  //     (0,0,0) n (0,0,1023)
    0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x03,  // (1,0,0)
    0, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x03,  // (0,1,0)
    0x40, 0x10, 0x47, 0x00, 0x00, 0x00,                          //   faces, 71 bytes
    0x01, 0x00, 0x00, 0x00,                                      //     count 1
    0x00, 0x00, 0x00, 0x00,                                      //     materials 0, 0
    0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,                          //     corners 0, 1, 2
    0, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0, 0,                    //     u 0, 1, 0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3F,                    //     v 0, 0, 1
    7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0,                          //     further values 7, 8, 9
    0, 0, 0, 0, 0xFF, 0x03,                                      //     normal (0,0,1023)
    0x04,                                                        //     flags
    0x34, 0x12,                                                  //     value
};

// Two materials, the second named only, so it inherits the first's method and colour; the face
// uses the second.
static const uint8_t kInherited[] = {
    0x03, 0x03, 0xE6, 0x00, 0x00, 0x00,                          // main chunk, 230 bytes
    0x00, 0x21, 0x47, 0x00, 0x00, 0x00,                          // materials, 71 bytes
    0x01, 0x21, 0x0A, 0x00, 0x00, 0x00, 'R', 'e', 'd', 0x00,     //   name "Red"
    0x02, 0x21, 0x0A, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,  //   method 5
    0x09, 0x21, 0x16, 0x00, 0x00, 0x00,                          //   colour 255, 0, 0, 128
    0x00, 0x00, 0x7F, 0x43, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x43,
    0x99, 0x21, 0x06, 0x00, 0x00, 0x00,                          //   end
    0x01, 0x21, 0x0B, 0x00, 0x00, 0x00, 'P', 'i', 'n', 'k', 0x00,  // name "Pink"
    0x99, 0x21, 0x06, 0x00, 0x00, 0x00,                          //   end
    0x00, 0x10, 0x99, 0x00, 0x00, 0x00,                          // segments, 153 bytes
    0x01, 0x00, 0x00, 0x00,
    0x10, 0x10, 0x08, 0x00, 0x00, 0x00, 's', 0x00,
    0x30, 0x10, 0x40, 0x00, 0x00, 0x00,
    0x03, 0x00, 0x00, 0x00,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x03,
    0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x03,
    0, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x03,
    0x40, 0x10, 0x47, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x01, 0x00,                                      //     materials 1, 1
    0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3F,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0xFF, 0x03,
    0x00,
    0x00, 0x00,
};

TEST_F(KsoTest, HandmadeTriangle)
{
    ASSERT_EQ(169u, sizeof(kTriangle));
    KSObject* o = LoadBytes(Bytes(kTriangle, kTriangle + sizeof(kTriangle)));
    ASSERT_NE(nullptr, o);
    EXPECT_STREQ("tri", o->name);
    ASSERT_EQ(1, o->segmentCount);
    const KSSegment& s = o->segments[0];
    EXPECT_STREQ("s", s.name);
    ASSERT_EQ(3, s.vertexCount);
    EXPECT_FLOAT_EQ(1.0f, s.vertices[1].position.x);
    EXPECT_FLOAT_EQ(1.0f, s.vertices[2].position.y);
    EXPECT_EQ(1023, s.vertices[2].normal.z);
    ASSERT_EQ(1, s.faceCount);
    const KSFace& f = s.faces[0];
    EXPECT_EQ(0, f.material);
    EXPECT_EQ(&s.vertices[2], f.corners[2]);
    EXPECT_FLOAT_EQ(255.0f, f.u[1]);
    EXPECT_FLOAT_EQ(0.0f, f.u[2]);
    EXPECT_FLOAT_EQ(255.0f, f.v[2]);
    EXPECT_EQ(9u, f.cornerValues[2]);
    EXPECT_EQ(1023, f.normal.z);
    EXPECT_EQ(4, f.flags);
    EXPECT_EQ(0x1234, f.value);
    EXPECT_FLOAT_EQ(1.0f, o->bounds.maxY);
    EXPECT_FLOAT_EQ(0.5f, o->bounds.radius);
    EXPECT_EQ(-1, o->lastFrame);
}

TEST_F(KsoTest, HandmadeInheritedMaterial)
{
    ASSERT_EQ(230u, sizeof(kInherited));
    KSObject* o = LoadBytes(Bytes(kInherited, kInherited + sizeof(kInherited)));
    ASSERT_NE(nullptr, o);
    int32_t red = KS_FindMaterial("red"), pink = KS_FindMaterial("PINK");
    ASSERT_GE(red, 0);
    ASSERT_GE(pink, 0);
    const KSMaterial& m = ksMaterials[pink];
    EXPECT_EQ(5, m.method);
    EXPECT_FLOAT_EQ(255.0f, m.red);
    EXPECT_FLOAT_EQ(0.0f, m.green);
    EXPECT_FLOAT_EQ(128.0f, m.alpha);
    EXPECT_EQ(1, m.texSets);
    EXPECT_EQ(pink, o->segments[0].faces[0].material);
    EXPECT_EQ(pink, o->segments[0].faces[0].material2);
}

// The writer produces exactly the hand-made bytes for the same triangle.
TEST_F(KsoTest, WriterMatchesTheHandmadeTriangle)
{
    KsoModel m = TriangleModel();
    m.name = "tri";
    m.segments[0].name = "s";
    KsoFace& f = m.segments[0].faces[0];
    f.material2 = 0;
    f.cornerValues[0] = 7;
    f.cornerValues[1] = 8;
    f.cornerValues[2] = 9;
    f.flags = 4;
    f.value = 0x1234;
    EXPECT_EQ(Bytes(kTriangle, kTriangle + sizeof(kTriangle)), KsoWriteModel(m));
}
