// Files written by the KSO writer read back by the engine's loader, chunk kind by chunk kind.
#include "kso_test.h"

#include <math.h>
#include <string.h>

static KsoKey MakeKey(uint32_t frame, float a, float b, float c, float d, uint16_t flags = 0)
{
    KsoKey k;
    k.frame = frame;
    k.flags = flags;
    k.tension = 0.25f;
    k.continuity = -0.5f;
    k.bias = 0.75f;
    k.parameters[0] = 1.5f;
    k.parameters[1] = 2.5f;
    k.value[0] = a;
    k.value[1] = b;
    k.value[2] = c;
    k.value[3] = d;
    for (int i = 0; i < 64; i++)
        k.block[i] = (uint8_t)(i * 3 + frame);
    k.absolute[0] = 0.1f;
    k.absolute[1] = 0.2f;
    k.absolute[2] = 0.3f;
    k.absolute[3] = 0.9f;
    return k;
}

// Two segments with everything a segment can carry.
TEST_F(KsoTest, SegmentsComeBackWithEveryField)
{
    KsoModel m = TriangleModel();
    m.name = "every segment field";
    m.unused0 = 7;
    m.unused1 = 9;
    KsoSegment& a = m.segments[0];
    a.flags = KS_SEG_LOOP | KS_SEG_NO_CULL | KS_SEG_BUFFERS;
    a.vertices[1].normal[0] = -1023;
    a.vertices[2].position[2] = -4.5f;
    KsoFace& f = a.faces[0];
    f.cornerValues[0] = 0xAABBCCDD;
    f.cornerValues[2] = 17;
    f.normal[1] = -512;
    f.flags = 0x5C;
    f.value = 0xBEEF;
    a.layers.push_back({0.5f, 0.25f, 0.125f, 1, 2, 3});
    a.layers.push_back({4, 5, 6, 7, 8, 9});
    a.pivot = std::array<float, 3>{1, 2, 3};
    std::array<float, 16> base{};
    for (int i = 0; i < 16; i++)
        base[i] = (float)i * 0.5f;
    a.base = base;
    a.rotationKeys = {MakeKey(0, 0, 0, 0, 1), MakeKey(40, 0, 0.7071f, 0, 0.7071f, 0x80)};
    a.positionKeys = {MakeKey(10, 1, 2, 3, 0)};
    a.scaleKeys = {MakeKey(0, 1, 1, 1, 0), MakeKey(25, 2, 3, 4, 0)};
    a.detail = KsoDetail{{0, 0, 1}, {3, 2, 1}, 77};
    a.links = std::array<int32_t, 3>{1, -1, -1};
    KsoSegment b = TriangleModel().segments[0];
    b.name = "second";
    b.links = std::array<int32_t, 3>{-1, -1, 0};
    m.segments.push_back(b);

    KSObject* o = Load(m);
    ASSERT_NE(nullptr, o);
    EXPECT_STREQ("every segment field", o->name);
    ASSERT_EQ(2, o->segmentCount);
    const KSSegment& s = o->segments[0];
    EXPECT_STREQ("tri", s.name);
    EXPECT_STREQ("second", o->segments[1].name);
    // Without vertex buffers being built the buffer flag is cleared.
    EXPECT_EQ((uint32_t)(KS_SEG_LOOP | KS_SEG_NO_CULL), s.flags);
    ASSERT_EQ(3, s.vertexCount);
    EXPECT_EQ(-1023, s.vertices[1].normal.x);
    EXPECT_EQ(1023, s.vertices[1].normal.z);
    EXPECT_FLOAT_EQ(-4.5f, s.vertices[2].position.z);
    EXPECT_EQ(&s.work[2], s.vertices[2].work);
    ASSERT_EQ(1, s.faceCount);
    const KSFace& face = s.faces[0];
    for (int c = 0; c < 3; c++) {
        EXPECT_EQ(c, face.fileVertices[c]);
        EXPECT_EQ(&s.vertices[c], face.corners[c]);
    }
    // No texture: coordinates are multiplied by 255.
    EXPECT_FLOAT_EQ(255.0f, face.u[1]);
    EXPECT_FLOAT_EQ(255.0f, face.v[2]);
    EXPECT_EQ(0xAABBCCDDu, face.cornerValues[0]);
    EXPECT_EQ(17u, face.cornerValues[2]);
    EXPECT_EQ(-512, face.normal.y);
    EXPECT_EQ(0x5C, face.flags);
    EXPECT_EQ(0xBEEF, face.value);
    ASSERT_EQ(2, s.layerCount);
    EXPECT_FLOAT_EQ(0.125f, s.layers[0][2]);   // layers are not rescaled while the flag is off
    EXPECT_FLOAT_EQ(9.0f, s.layers[1][5]);
    EXPECT_FLOAT_EQ(3.0f, s.pivot.z);
    EXPECT_FLOAT_EQ(7.5f, s.base.m[15]);
    ASSERT_EQ(2, s.rotationKeyCount);
    const KSKey& r = s.rotationKeys[1];
    EXPECT_EQ(40, r.frame);
    EXPECT_EQ(0x80, r.flags);
    EXPECT_FLOAT_EQ(0.25f, r.tension);
    EXPECT_FLOAT_EQ(-0.5f, r.continuity);
    EXPECT_FLOAT_EQ(0.75f, r.bias);
    EXPECT_FLOAT_EQ(2.5f, r.parameters[1]);
    EXPECT_FLOAT_EQ(0.7071f, r.value[3]);
    EXPECT_EQ((uint8_t)(63 * 3 + 40), r.block[63]);
    EXPECT_FLOAT_EQ(0.9f, r.absolute.w);
    ASSERT_EQ(1, s.positionKeyCount);
    EXPECT_FLOAT_EQ(3.0f, s.positionKeys[0].value[2]);
    EXPECT_EQ((uint8_t)(10), s.positionKeys[0].block[0]);
    ASSERT_EQ(2, s.scaleKeyCount);
    EXPECT_FLOAT_EQ(4.0f, s.scaleKeys[1].value[2]);
    EXPECT_EQ(40, o->lastFrame);   // the largest frame of any track
    ASSERT_EQ(3, s.lodCount);
    EXPECT_EQ(1, s.lodRemap[2]);
    EXPECT_EQ(3, s.lodWeights[0]);
    EXPECT_EQ(77, s.lodValue);
    EXPECT_EQ(&o->segments[1], s.firstChild);
    EXPECT_EQ(nullptr, s.nextSibling);
    EXPECT_EQ(nullptr, s.parent);
    EXPECT_EQ(&o->segments[0], o->segments[1].parent);
    EXPECT_EQ(nullptr, o->segments[1].firstChild);
}

// Bounds blocks in the file are overwritten by the bounds of the vertices.
TEST_F(KsoTest, BoundsAreComputedNotRead)
{
    KsoModel m = TriangleModel();
    std::array<float, 61> junk;
    junk.fill(-999.0f);
    m.bounds = junk;
    m.segments[0].bounds = junk;
    KSObject* o = Load(m);
    ASSERT_NE(nullptr, o);
    for (const KSBounds* b : {&o->bounds, &o->segments[0].bounds}) {
        EXPECT_FLOAT_EQ(0.0f, b->minX);
        EXPECT_FLOAT_EQ(1.0f, b->maxX);
        EXPECT_FLOAT_EQ(1.0f, b->maxY);
        EXPECT_FLOAT_EQ(0.0f, b->maxZ);
        EXPECT_FLOAT_EQ(0.5f, b->centre.x);
        EXPECT_FLOAT_EQ(0.5f, b->radius);
        EXPECT_FLOAT_EQ(1.0f, b->corners[6].y);
    }
    EXPECT_EQ(-1, o->lastFrame);   // no keys: not animated
}

// Every material field, the texture list with its byte lists, translation of file texture numbers
// and the scaling of the face coordinates by the face material's stage-0 texture.
TEST_F(KsoTest, MaterialsAndTexturesComeBackWithEveryField)
{
    WriteTexture("first.tga", 16, 16);
    WriteTexture("second.tga", 8, 8);
    KsoModel m = TriangleModel(1);
    m.textures = {"first.tga", "second.tga", "missing.tga"};
    m.textureBytes[0] = {0, 9};        // library flags; non-zero forces format code 1
    m.textureBytes[1] = {2, 1};        // stages
    m.textureBytes[3] = {0x11, 0x22};  // library bytes
    KsoMaterial plain;
    plain.name = "Plain";
    plain.method = T_GOURAUD;
    KsoMaterial full;
    full.name = "Full";
    full.method = T_GOURAUD_TEXTURED8;
    full.textures[0] = 1;
    full.textures[3] = 2;
    full.options = 3;
    full.optionValue = 12345;
    full.envMap[0] = 1;
    full.envAxis[0] = 2;
    full.envMap[7] = 1;
    full.envAxis[7] = 1;
    full.colour[0] = 10;
    full.colour[1] = 20;
    full.colour[2] = 30;
    full.colour[3] = 40;
    full.texSets = 0x103;              // only the low byte is kept
    full.bumpScale = 0.5f;
    full.bumpMatrix[0] = 1;
    full.bumpMatrix[3] = -1;
    full.specular[0] = 200;
    full.specular[4] = 16;
    full.doubleSided = 1;
    full.vertexShader = "a vertex shader name that is far longer than thirty-one";
    full.pixelShader = "glow";
    m.materials = {plain, full};

    KSObject* o = Load(m);
    ASSERT_NE(nullptr, o);
    int32_t first = KS_FindTexture("first.tga"), second = KS_FindTexture("second.tga");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_EQ(2, ksTextures[first].stage);
    EXPECT_EQ(1, ksTextures[second].formatCode);
    EXPECT_EQ(9, ksTextures[second].libraryFlags);
    EXPECT_EQ(0x22, ksTextures[second].libraryByte);

    int32_t index = KS_FindMaterial("FULL");
    ASSERT_GE(index, 0);
    const KSMaterial& mat = ksMaterials[index];
    EXPECT_EQ(T_GOURAUD_TEXTURED8, mat.method);
    EXPECT_EQ(second, mat.textures[0]);
    EXPECT_EQ(KSERR_TEXTURE_NOT_FOUND, mat.textures[3]);   // a failed load passes its error on
    EXPECT_EQ(first, mat.textures[5]);                     // file number 0 is the first texture
    EXPECT_EQ(3, mat.options);
    EXPECT_EQ(12345, mat.optionValue);
    EXPECT_EQ(2, mat.envAxis[0]);
    EXPECT_EQ(1, mat.envMap[7]);
    EXPECT_FLOAT_EQ(40.0f, mat.alpha);
    EXPECT_FLOAT_EQ(20.0f, mat.green);
    EXPECT_EQ(3, mat.texSets);
    EXPECT_FLOAT_EQ(0.5f, mat.bumpScale);
    EXPECT_FLOAT_EQ(-1.0f, mat.bumpMatrix[3]);
    EXPECT_FLOAT_EQ(16.0f, mat.specular[4]);
    EXPECT_EQ(1, mat.doubleSided);
    EXPECT_STREQ("a vertex shader name that is fa", mat.vertexShaderName);   // 31 characters
    EXPECT_STREQ("glow", mat.pixelShaderName);

    // The face names file material 1, whose texture has the engine's scale 1/255: the coordinates
    // are kept as 255 * 1/255 of themselves.
    const KSFace& face = o->segments[0].faces[0];
    EXPECT_EQ(index, face.material);
    EXPECT_EQ(index, face.material2);
    EXPECT_NEAR(1.0f, face.u[1], 1e-5f);
    EXPECT_NEAR(1.0f, face.v[2], 1e-5f);
}

// Extra layers follow the textures of stages 1.. when the rescale flag is on.
TEST_F(KsoTest, LayersAreRescaledByTheirStageTextureWhenAsked)
{
    WriteTexture("base.tga", 8, 8);
    KsoModel m = TriangleModel(0);
    m.textures = {"base.tga", "missing.tga"};
    KsoMaterial mat;
    mat.name = "Layered";
    mat.textures[0] = 0;
    mat.textures[1] = 1;   // stage 1 has no texture: layer 0 is multiplied by 255
    mat.textures[2] = 0;   // stage 2 has one: layer 1 keeps its values
    m.materials = {mat};
    m.segments[0].layers = {{1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}};
    ksRescaleLayers = 1;
    KSObject* o = Load(m);
    ASSERT_NE(nullptr, o);
    const KSSegment& s = o->segments[0];
    EXPECT_FLOAT_EQ(255.0f * 3, s.layers[0][2]);
    EXPECT_FLOAT_EQ(255.0f * 6, s.layers[0][5]);
    EXPECT_NEAR(3.0f, s.layers[1][2], 1e-5f);
    EXPECT_NEAR(6.0f, s.layers[1][5], 1e-5f);
}

// A material inherits every field its own chunks do not set, the name resets double-sidedness,
// and the first material starts from white and opaque.
TEST_F(KsoTest, MaterialsInheritFromTheOneBefore)
{
    WriteTexture("z.tga", 8, 8);
    WriteTexture("a.tga", 8, 8);
    WriteTexture("b.tga", 8, 8);
    // A texture loaded earlier shifts the handles away from the file's numbers.
    ASSERT_EQ(0, KSGFX_LoadTexture("z.tga"));
    KsoModel m = TriangleModel();
    m.textures = {"a.tga", "b.tga"};
    KsoMaterial first;
    first.name = "First";
    first.parts = KSO_PART_NAME | KSO_PART_METHOD;
    first.method = T_GOURAUD;
    KsoMaterial second;
    second.name = "Second";
    second.parts = KSO_PART_NAME | KSO_PART_COLOUR | KSO_PART_TEXTURE | KSO_PART_DOUBLE_SIDED;
    second.colour[0] = 1;
    second.colour[1] = 2;
    second.colour[2] = 3;
    second.colour[3] = 4;
    second.textures[0] = 1;
    second.doubleSided = 1;
    KsoMaterial third;
    third.name = "Third";
    third.parts = KSO_PART_NAME;
    m.materials = {first, second, third};
    ASSERT_NE(nullptr, Load(m));

    const KSMaterial* a = KS_GetMaterial(KS_FindMaterial("First"));
    const KSMaterial* b = KS_GetMaterial(KS_FindMaterial("Second"));
    const KSMaterial* c = KS_GetMaterial(KS_FindMaterial("Third"));
    ASSERT_TRUE(a && b && c);
    EXPECT_FLOAT_EQ(255.0f, a->red);
    EXPECT_FLOAT_EQ(255.0f, a->alpha);
    EXPECT_EQ(1, a->texSets);
    EXPECT_FLOAT_EQ(3.0f, c->blue);
    EXPECT_FLOAT_EQ(4.0f, c->alpha);
    EXPECT_EQ(T_GOURAUD, c->method);
    EXPECT_EQ(1, b->doubleSided);
    EXPECT_EQ(0, c->doubleSided);
    // The inherited texture is the same texture, not its handle taken for a file number again.
    int32_t bHandle = KS_FindTexture("b.tga");
    EXPECT_EQ(bHandle, b->textures[0]);
    EXPECT_EQ(bHandle, c->textures[0]);
}

// A name already in the table (in any case) is not added again; a face number above 511 is 0.
TEST_F(KsoTest, KnownMaterialNamesAreReusedAndLargeNumbersBecomeZero)
{
    KSMaterial existing;
    memset(&existing, 0, sizeof(existing));
    KS_SetMaterialName(&existing, "filler");
    KS_AddMaterial(&existing);
    KS_SetMaterialName(&existing, "SHINY");
    existing.method = T_FLAT;
    int32_t shiny = KS_AddMaterial(&existing);
    KsoModel m = TriangleModel(0);
    KsoFace high = m.segments[0].faces[0];
    high.material = 600;
    high.material2 = 511;
    m.segments[0].faces.push_back(high);
    KsoMaterial mat;
    mat.name = "shiny";
    mat.method = T_GOURAUD;
    m.materials = {mat};
    EngineState before = CaptureEngineState();
    KSObject* o = Load(m);
    ASSERT_NE(nullptr, o);
    EXPECT_EQ(before.materials, CaptureEngineState().materials);
    EXPECT_EQ(T_FLAT, ksMaterials[shiny].method);
    EXPECT_EQ(shiny, o->segments[0].faces[0].material);
    EXPECT_EQ(0, o->segments[0].faces[1].material);
    EXPECT_EQ(0, o->segments[0].faces[1].material2);   // map entries past the file's materials are 0
}

// The load flags skip the material chunk and the texture chunks.
TEST_F(KsoTest, LoadFlagsSkipMaterialsAndTextures)
{
    WriteTexture("skip.tga", 8, 8);
    KsoModel m = TriangleModel(3);
    m.textures = {"skip.tga"};
    KsoMaterial mat;
    mat.name = "Skipped";
    m.materials = {mat};
    KSObject* o = Load(m, KSO_SKIP_MATERIALS | KSO_SKIP_TEXTURES);
    ASSERT_NE(nullptr, o);
    EXPECT_LT(KS_FindMaterial("Skipped"), 0);
    EXPECT_LT(KS_FindTexture("skip.tga"), 0);
    EXPECT_EQ(3, o->segments[0].faces[0].material);   // file numbers stay without materials
    KSObject* textured = Load(m, KSO_SKIP_MATERIALS);
    ASSERT_NE(nullptr, textured);
    EXPECT_GE(KS_FindTexture("skip.tga"), 0);
    EXPECT_LT(KS_FindMaterial("Skipped"), 0);
}

// A camera chunk makes a listed camera with the file's fields and keys.
TEST_F(KsoTest, CameraChunkAddsACamera)
{
    KsoModel m = TriangleModel();
    KsoCamera c;
    c.position[0] = 5;
    c.target[1] = 6;
    c.roll = 7;
    c.distance = 8;
    c.up[2] = 1;
    c.angles[0] = 45;
    c.flags = KS_CAM_LOOK_AT;
    c.aspect = 1.25f;
    c.fov = 0.5f;
    c.nearDist = 2;
    c.farDist = 3000;
    c.lastKeyFrame = 99;
    KsoCameraKey k;
    k.frame = 12;
    k.flags = 3;
    k.values[12] = 0xCAFE;
    c.keys = {k, k};
    m.cameras = {c};
    int32_t before = CaptureEngineState().cameras;
    ASSERT_NE(nullptr, Load(m));
    ASSERT_EQ(before + 1, CaptureEngineState().cameras);
    KSCamera* cam = ksCameraList;
    while (cam->next)
        cam = cam->next;
    EXPECT_EQ(nullptr, cam->name);
    EXPECT_FLOAT_EQ(5.0f, cam->position.x);
    EXPECT_FLOAT_EQ(6.0f, cam->target.y);
    EXPECT_FLOAT_EQ(7.0f, cam->roll);
    EXPECT_FLOAT_EQ(8.0f, cam->distance);
    EXPECT_FLOAT_EQ(1.0f, cam->up.z);
    EXPECT_FLOAT_EQ(45.0f, cam->angles.x);
    EXPECT_EQ(KS_CAM_LOOK_AT, cam->flags);
    EXPECT_FLOAT_EQ(1.25f, cam->aspect);
    EXPECT_FLOAT_EQ(0.5f, cam->fov);
    EXPECT_FLOAT_EQ(2.0f, cam->nearDist);
    EXPECT_FLOAT_EQ(3000.0f, cam->farDist);
    EXPECT_EQ(99, cam->lastKeyFrame);
    ASSERT_EQ(2, cam->keyCount);
    EXPECT_EQ(12, cam->keys[1].frame);
    EXPECT_EQ(3, cam->keys[1].flags);
    EXPECT_EQ(0xCAFEu, cam->keys[1].values[12]);
}

// The three shader lists join the engine's lists in file order, texts terminated, and the file's
// materials point at the shaders they name.
TEST_F(KsoTest, ShaderListsJoinTheEngineLists)
{
    KsoModel m = TriangleModel();
    KsoShader v;
    v.name = "wave";
    v.type = 2;
    v.source = "vs.1.1\nmov oPos, v0\n";
    KsoShaderConstant k;
    k.reg = 4;
    k.kind = 25;
    k.values[3] = 0.5f;
    v.constants = {k};
    KsoShader d = v;
    d.name = "declared";
    d.formatText = "D3DFVF_XYZ\nD3DFVF_NORMAL";
    d.declarationText = "STREAM 0\nEND";
    d.constants.clear();
    KsoShader p;
    p.name = "tint";
    p.type = 1;
    p.source = "ps.1.1\nmov r0, c0\n";
    m.vertexShaders = {v};
    m.declaredShaders = {d};
    m.pixelShaders = {p};
    KsoMaterial mat;
    mat.name = "shaded";
    mat.vertexShader = "DECLARED";
    mat.pixelShader = "Tint";
    m.materials = {mat};
    KSObject* o = Load(m);
    ASSERT_NE(nullptr, o);
    const KSVertexShader* s = ksVertexShaders;
    ASSERT_NE(nullptr, s);
    EXPECT_STREQ("wave", s->name);
    EXPECT_EQ(2u, s->declarationType);
    EXPECT_EQ((int32_t)v.source.size() + 1, s->sourceLength);
    EXPECT_STREQ(v.source.c_str(), s->source);
    EXPECT_EQ(nullptr, s->formatText);
    ASSERT_EQ(1, s->constantCount);
    EXPECT_EQ(4, s->constants[0].reg);
    EXPECT_EQ(25, s->constants[0].kind);
    EXPECT_FLOAT_EQ(0.5f, s->constants[0].values[3]);
    s = s->next;
    ASSERT_NE(nullptr, s);
    EXPECT_STREQ("declared", s->name);
    EXPECT_STREQ("D3DFVF_XYZ\nD3DFVF_NORMAL", s->formatText);
    EXPECT_EQ((int32_t)d.formatText.size(), s->formatTextLength);
    EXPECT_STREQ("STREAM 0\nEND", s->declarationText);
    EXPECT_EQ(0, s->constantCount);
    EXPECT_EQ(nullptr, s->next);
    const KSPixelShader* ps = ksPixelShaders;
    ASSERT_NE(nullptr, ps);
    EXPECT_STREQ("tint", ps->name);
    EXPECT_EQ(1u, ps->type);
    EXPECT_EQ(nullptr, ps->next);
    const KSMaterial* shaded = KS_GetMaterial(KS_FindMaterial("shaded"));
    ASSERT_NE(nullptr, shaded);
    EXPECT_EQ(s, shaded->vertexShader);
    EXPECT_EQ(ps, shaded->pixelShader);
}

// Prebuilt buffer chunks of both kinds become the object's buffer groups on the device: material
// numbers through the material map, collapse maps, vertex maps, the indices, and a layer count
// raised to the coordinate sets of the buffer format (with layers for the faces to match).
TEST_F(KsoTest, PrebuiltBuffersBecomeBufferGroups)
{
    for (bool mapped : {false, true}) {
        KSMaterial filler;
        memset(&filler, 0, sizeof(filler));
        KS_SetMaterialName(&filler, mapped ? "filler mapped" : "filler");
        KS_AddMaterial(&filler);   // the file's material 0 is not engine material 0
        KsoModel m = TriangleModel();
        KsoMaterial mat;
        mat.name = mapped ? "buffered mapped" : "buffered";
        m.materials = {mat};
        KsoBuffers b;
        b.mapped = mapped;
        b.collapseA = {0, 0, 1};
        b.collapseB = {2, 1, 0};
        b.detailSwitch = 1;
        KsoBufferGroup g;
        KsoBuffer buffer;
        buffer.vertexCount = 3;
        buffer.format = 0x352;   // position, normal, colour and three coordinate sets
        buffer.stride = 52;
        buffer.vertexMap = {2, 1, 0};
        buffer.vertices.assign(3 * 52, 0x3F);
        buffer.indices = {0, 2, 1, 1, 2, 0};
        g.buffers = {buffer, buffer};
        b.groups = {g};
        m.segments[0].buffers = b;
        ksGlobal.vertexBufferSwitch = 1;
        KSObject* o = Load(m);
        ksGlobal.vertexBufferSwitch = 0;
        ASSERT_NE(nullptr, o) << "mapped " << mapped;
        const KSSegment& s = o->segments[0];
        EXPECT_TRUE(s.flags & KS_SEG_BUFFERS);
        EXPECT_EQ(2, s.layerCount);
        ASSERT_NE(nullptr, s.layers[1]);
        EXPECT_FLOAT_EQ(0.0f, s.layers[1][5]);
        ASSERT_NE(nullptr, o->bufferGroups);
        const KSBufferGroup& group = o->bufferGroups[0];
        ASSERT_EQ(1, group.groupCount);
        EXPECT_EQ(KS_FindMaterial(mat.name.c_str()), group.groups[0].material);
        ASSERT_EQ(3, group.collapseCount);
        EXPECT_EQ(1, group.collapseA[2]);
        EXPECT_EQ(2, group.collapseB[0]);
        EXPECT_EQ(mapped ? 1 : 0, group.detailSwitch);
        EXPECT_EQ(6, group.totalVertices);
        EXPECT_EQ(4, group.totalTriangles);
        const KSBufferList* first = group.groups[0].first;
        ASSERT_NE(nullptr, first);
        ASSERT_NE(nullptr, first->next);
        EXPECT_EQ(nullptr, first->next->next);
        EXPECT_EQ(3, first->next->indexOffset);   // the second buffer's vertices follow the first's
        EXPECT_EQ(0x352u, first->format);
        EXPECT_EQ(52, first->stride);
        EXPECT_EQ(6, first->indexCount);
        EXPECT_EQ(2, first->indices[1]);
        EXPECT_NE(nullptr, first->vertexBuffer);
        EXPECT_NE(nullptr, first->indexBuffer);
        if (mapped) {
            ASSERT_NE(nullptr, first->vertexMap);
            EXPECT_EQ(2, first->vertexMap[0]);
        } else {
            EXPECT_EQ(nullptr, first->vertexMap);
        }
    }
}

// With the vertex-buffer switch on, a file without buffers gets them built from its faces; with it
// off, no segment keeps the buffer flag, whatever the file's flags said.
TEST_F(KsoTest, BuffersAreBuiltFromFacesOnlyInVertexBufferMode)
{
    KsoModel m = TriangleModel();
    m.segments[0].flags = KS_SEG_BUFFERS;
    KSObject* plain = Load(m);
    ASSERT_NE(nullptr, plain);
    EXPECT_EQ(nullptr, plain->bufferGroups);
    EXPECT_FALSE(plain->segments[0].flags & KS_SEG_BUFFERS);
    ksGlobal.vertexBufferSwitch = 1;
    KSObject* built = Load(TriangleModel());
    ksGlobal.vertexBufferSwitch = 0;
    ASSERT_NE(nullptr, built);
    ASSERT_NE(nullptr, built->bufferGroups);
    EXPECT_EQ(1, built->bufferGroups[0].totalTriangles);
    EXPECT_TRUE(built->segments[0].flags & KS_SEG_BUFFERS);
}

// The same file loaded twice gives two objects that share the materials and textures; the loader
// reads a member of an open library like a file on disk.
TEST_F(KsoTest, TwoLoadsShareTablesAndLibrariesWork)
{
    WriteTexture("shared.tga", 8, 8);
    KsoModel m = TriangleModel(0);
    m.textures = {"shared.tga"};
    KsoMaterial mat;
    mat.name = "Shared";
    m.materials = {mat};
    KSObject* a = Load(m);
    EngineState once = CaptureEngineState();
    KSObject* b = Load(m);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->segments, b->segments);
    EXPECT_EQ(a->segments[0].faces[0].material, b->segments[0].faces[0].material);
    EngineState twice = CaptureEngineState();
    EXPECT_EQ(once.materials, twice.materials);
    EXPECT_EQ(once.textures, twice.textures);

    Bytes bytes = KsoWriteModel(TriangleModel());
    KSLibraryEntry entry = {"MODEL.KSO", bytes.data(), (int32_t)bytes.size()};
    std::string library = directory + "/models.lib";
    ASSERT_EQ(1, KS_WriteLibrary(library.c_str(), 1234, "models", &entry, 1));
    KS_OpenLibrary(library.c_str());
    KSObject* fromLibrary = KS_LoadObject("model.kso", 0);
    KSObject* missing = KS_LoadObject("other.kso", 0);
    KS_CloseLibrary();
    ASSERT_NE(nullptr, fromLibrary);
    objects.push_back(fromLibrary);
    EXPECT_EQ(nullptr, missing);
    EXPECT_EQ(3, fromLibrary->segments[0].vertexCount);
}
