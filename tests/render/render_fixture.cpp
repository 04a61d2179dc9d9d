// Shared set-up of the render tests.
#include "render_fixture.h"

#include "engine_start.h"

#include <math.h>
#include <png.h>
#include <stdio.h>
#include <string.h>

// ---- Meshes ----

static KSVector Sub(const KSVector& a, const KSVector& b) {
    return KSVector{a.x - b.x, a.y - b.y, a.z - b.z};
}

static KSVector Cross(const KSVector& a, const KSVector& b) {
    return KSVector{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

static float Dot(const KSVector& a, const KSVector& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// Front faces wind clockwise as seen from the side they face: (b - a) x (c - a) points out.
static void FaceOutwards(Mesh* mesh, MeshFace* f) {
    const KSVector& a = mesh->positions[f->corners[0]];
    const KSVector& b = mesh->positions[f->corners[1]];
    const KSVector& c = mesh->positions[f->corners[2]];
    KSVector out = {0, 0, 0};
    for (int k = 0; k < 3; k++) {
        const KSVector& n = mesh->normals[f->corners[k]];
        out = KSVector{out.x + n.x, out.y + n.y, out.z + n.z};
    }
    if (Dot(Cross(Sub(b, a), Sub(c, a)), out) < 0) {
        std::swap(f->corners[1], f->corners[2]);
        std::swap(f->u[1], f->u[2]);
        std::swap(f->v[1], f->v[2]);
    }
}

static void AddFace(Mesh* mesh, int a, int b, int c, const float* u, const float* v) {
    MeshFace f = {{a, b, c}, {u[0], u[1], u[2]}, {v[0], v[1], v[2]}};
    FaceOutwards(mesh, &f);
    mesh->faces.push_back(f);
}

Mesh SphereMesh(float radius, int rings, int segments) {
    Mesh m;
    for (int r = 0; r <= rings; r++) {
        float theta = 3.14159265f * (float)r / (float)rings;
        for (int s = 0; s <= segments; s++) {
            float phi = 2 * 3.14159265f * (float)s / (float)segments;
            KSVector n = {sinf(theta) * cosf(phi), cosf(theta), sinf(theta) * sinf(phi)};
            m.normals.push_back(n);
            m.positions.push_back(KSVector{n.x * radius, n.y * radius, n.z * radius});
        }
    }
    auto index = [&](int r, int s) { return r * (segments + 1) + s; };
    for (int r = 0; r < rings; r++) {
        for (int s = 0; s < segments; s++) {
            float u0 = (float)s / segments, u1 = (float)(s + 1) / segments;
            float v0 = (float)r / rings, v1 = (float)(r + 1) / rings;
            const float ua[3] = {u0, u1, u1}, va[3] = {v0, v0, v1};
            const float ub[3] = {u0, u1, u0}, vb[3] = {v0, v1, v1};
            if (r > 0) AddFace(&m, index(r, s), index(r, s + 1), index(r + 1, s + 1), ua, va);
            if (r < rings - 1) AddFace(&m, index(r, s), index(r + 1, s + 1), index(r + 1, s), ub, vb);
        }
    }
    return m;
}

Mesh CubeMesh(float h) {
    Mesh m;
    static const int axes[6][3] = {{0, 1, 2}, {0, 1, 2}, {1, 2, 0}, {1, 2, 0}, {2, 0, 1}, {2, 0, 1}};
    for (int side = 0; side < 6; side++) {
        float sign = side % 2 ? -1.0f : 1.0f;
        int first = (int)m.positions.size();
        static const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            float p[3], n[3] = {0, 0, 0};
            p[axes[side][0]] = c[0] * h;
            p[axes[side][1]] = c[1] * h;
            p[axes[side][2]] = sign * h;
            n[axes[side][2]] = sign;
            m.positions.push_back(KSVector{p[0], p[1], p[2]});
            m.normals.push_back(KSVector{n[0], n[1], n[2]});
        }
        const float u1[3] = {0, 1, 1}, v1[3] = {1, 1, 0};
        const float u2[3] = {0, 1, 0}, v2[3] = {1, 0, 0};
        AddFace(&m, first, first + 1, first + 2, u1, v1);
        AddFace(&m, first, first + 2, first + 3, u2, v2);
    }
    return m;
}

Mesh QuadMesh(float x1, float y1, float x2, float y2) {
    Mesh m;
    m.positions = {{x1, y1, 0}, {x2, y1, 0}, {x2, y2, 0}, {x1, y2, 0}};
    m.normals.assign(4, KSVector{0, 0, -1});
    const float u1[3] = {0, 1, 1}, v1[3] = {1, 1, 0};
    const float u2[3] = {0, 1, 0}, v2[3] = {1, 0, 0};
    AddFace(&m, 0, 1, 2, u1, v1);
    AddFace(&m, 0, 2, 3, u2, v2);
    return m;
}

static KSPackedNormal Pack(const KSVector& n) {
    return KSPackedNormal{(int16_t)lrintf(n.x * 1023), (int16_t)lrintf(n.y * 1023), (int16_t)lrintf(n.z * 1023)};
}

// ---- The engine ----

void RenderTest::SetUp() {
    MarlixSetHeadless(1);
    MarlixClockEnable(1);
    memset(&lights_, 0, sizeof(lights_));
}

void RenderTest::TearDown() {
    StopEngine();
    MarlixD3D8SetProfile(MARLIX_PROFILE_DEFAULT);
}

void RenderTest::StartEngine(int profile, int width, int height) {
    StopEngine();
    TestEngineOptions options("KSRenderTest", "render test");
    options.profile = profile;
    options.width = width;
    options.height = height;
    window_ = InitTestEngine(options);
    // The tables come before the mode: its check of the render methods then makes its textures there.
    KS_AllocMaterials(16);
    KSGFX_AllocTextures(16);
    ASSERT_TRUE(SetTestMode(width, height, &viewport_));
    running_ = true;

    camera_ = KS_CreateCamera();
    KS_InitCamera(camera_);
    KS_SetCameraMode(camera_, KS_CAM_LOOK_AT);
    KS_SetCameraPosition(camera_, 0, 0, -300);
    KS_SetCameraTarget(camera_, 0, 0, 0);
    camera_->aspect = (float)width / (float)height;
    KS_UpdateCamera(camera_);

    // One light from the upper left front, as the visualizer lights its scenes.
    ksFixedPointLights = 1;
    KS_InitLights(&ksActiveLights, 8);
    KS_InitLights(&lights_, 1);
    lights_.count = 1;
    KS_SetLightPosition(&lights_, 0, -400, 400, -400);
    KS_SwitchLightOn(&lights_, 0);
    KS_SetAmbient(40, 40, 40);
}

void RenderTest::StopEngine() {
    if (!running_) return;
    for (KSEntity* e : entities_) KS_FreeEntity(e);
    for (KSObject* o : objects_) KS_FreeObject(o);
    entities_.clear();
    objects_.clear();
    KS_FreeLights(&lights_);
    KS_FreeLights(&ksActiveLights);
    KS_DeleteCamera(camera_);
    camera_ = nullptr;
    KSGFX_FreeTextures();
    KS_FreeMaterials();
    StopTestEngine(window_);
    EXPECT_EQ(0, KS_MemoryLeakCount()) << "engine blocks leaked";
    EXPECT_EQ(0, MarlixD3D8LiveObjects()) << "Direct3D objects left";
    window_ = nullptr;
    running_ = false;
}

KSObject* RenderTest::MakeObject(const Mesh& mesh, int32_t material) {
    KSObject* o = KS_CreateObject();
    EXPECT_EQ(1, KS_AllocSegments(o, 1));
    KSSegment* s = &o->segments[0];
    EXPECT_EQ(1, KS_AllocSegmentVertices(s, (int32_t)mesh.positions.size()));
    for (size_t i = 0; i < mesh.positions.size(); i++) {
        s->vertices[i].position = mesh.positions[i];
        s->vertices[i].normal = Pack(mesh.normals[i]);
    }
    s->faceCount = (int32_t)mesh.faces.size();
    s->faces = (KSFace*)KS_Alloc((int32_t)(sizeof(KSFace) * mesh.faces.size()), "render_test", __LINE__);
    for (size_t f = 0; f < mesh.faces.size(); f++) {
        const MeshFace& mf = mesh.faces[f];
        KSFace* face = &s->faces[f];
        face->material = (uint16_t)material;
        face->material2 = (uint16_t)material;
        KSVector n = {0, 0, 0};
        for (int c = 0; c < 3; c++) {
            face->corners[c] = &s->vertices[mf.corners[c]];
            face->fileVertices[c] = mf.corners[c];
            face->u[c] = mf.u[c];
            face->v[c] = mf.v[c];
            const KSVector& vn = mesh.normals[mf.corners[c]];
            n = KSVector{n.x + vn.x / 3, n.y + vn.y / 3, n.z + vn.z / 3};
        }
        face->normal = Pack(n);
        face->flags = KS_FACE_EDGE_01 | KS_FACE_EDGE_12 | KS_FACE_EDGE_20;
    }
    KS_MatrixIdentity(&s->base);
    KS_CalcBounds(o);
    objects_.push_back(o);
    return o;
}

KSEntity* RenderTest::MakeEntity(KSObject* object) {
    KSEntity* e = KS_CreateEntity(object, "test");
    entities_.push_back(e);
    return e;
}

int32_t RenderTest::AddMaterial(int32_t method, float r, float g, float b, float alpha, int32_t texture) {
    KSMaterial m;
    memset(&m, 0, sizeof(m));
    char name[20];
    static int serial = 0;
    snprintf(name, sizeof(name), "mat%d", serial++);
    KS_SetMaterialName(&m, name);
    m.method = method;
    m.red = r;
    m.green = g;
    m.blue = b;
    m.alpha = alpha;
    m.textures[0] = texture;
    return KS_AddMaterial(&m);
}

int32_t RenderTest::AddTexture(const char* name, int width, int height, uint32_t (*texel)(int x, int y),
                               int32_t stage) {
    uint8_t* buffer = (uint8_t*)KS_Alloc(width * height * 4, "render_test", __LINE__);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            uint32_t t = texel(x, y);   // 0xAARRGGBB
            uint8_t* p = buffer + (y * width + x) * 4;
            p[0] = (uint8_t)(t >> 16);
            p[1] = (uint8_t)(t >> 8);
            p[2] = (uint8_t)t;
            p[3] = (uint8_t)(t >> 24);
        }
    }
    KS_SetTextureFormat(16);
    KS_SetTextureStage(stage);
    int32_t handle = KS_AddTextureRGBA(name, buffer, width, height);
    KS_SetTextureStage(0);
    KS_SetTextureFormat(0);
    return handle;
}

void RenderTest::BeginFrame(uint32_t rgb) {
    KS_UpdateCamera(camera_);
    KS_BeginFrame();
    KS_TransformLights(&lights_);
    KSGFX_SetColour(KSGFX_MakeColour((int)(rgb >> 16 & 0xFF), (int)(rgb >> 8 & 0xFF), (int)(rgb & 0xFF)));
    KSGFX_ClearViewport(&viewport_);
}

void RenderTest::Draw(KSEntity* entity) {
    KS_TransformEntity(entity);
    KS_RenderEntity(entity);
}

const MarlixFrame& RenderTest::EndFrame() {
    KSGFX_FlushFrame();
    KSGFX_ShowFrame();
    memset(&frame_, 0, sizeof(frame_));
    EXPECT_TRUE(MarlixGetFrame(window_, &frame_));
    return frame_;
}

uint32_t RenderTest::Pixel(int x, int y) const {
    return frame_.pixels[y * frame_.width + x] & 0xFFFFFF;
}

int RenderTest::CountDrawn(uint32_t background) const {
    int n = 0;
    for (int y = 0; y < frame_.height; y++)
        for (int x = 0; x < frame_.width; x++) n += Pixel(x, y) != background;
    return n;
}

void RenderTest::SavePicture(const char* name) const {
    FILE* f = fopen(name, "wb");
    ASSERT_NE(nullptr, f) << name;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        FAIL() << "writing " << name;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, frame_.width, frame_.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(frame_.width * 3);
    for (int y = 0; y < frame_.height; y++) {
        for (int x = 0; x < frame_.width; x++) {
            uint32_t p = Pixel(x, y);
            row[x * 3] = (png_byte)Red(p);
            row[x * 3 + 1] = (png_byte)Green(p);
            row[x * 3 + 2] = (png_byte)Blue(p);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(f);
}
