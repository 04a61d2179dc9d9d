// The five scene models, built as meshes of closed parts.
//
// Every part is a closed surface wound so that (b - a) x (c - a) of each face points out of it:
// the engine draws a face only when its corners run clockwise on the screen, which is this
// winding seen from outside. Vertex normals are the area-weighted average of the part's face
// normals, so each part is smooth on its own and the parts meet with a crease.
#include "models.h"

#include <math.h>

namespace {

const float kPi = 3.14159265358979f;

struct V3 {
    float x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(V3 a) { return sqrtf(a.x * a.x + a.y * a.y + a.z * a.z); }
V3 Normalised(V3 a)
{
    float l = Length(a);
    return l > 0 ? a * (1.0f / l) : V3{0, 1, 0};
}

struct Tri {
    uint32_t a, b, c;
    uint16_t material;
};

// One closed part: its own vertices, so normals are not averaged across parts.
struct Part {
    std::vector<V3> points;
    std::vector<Tri> tris;
};

struct Mesh {
    std::vector<Part> parts;
};

// A surface of revolution about the y axis. The profile runs counter-clockwise in the (r, y)
// half-plane (bottom to top on the outside); points with r = 0 are poles. `closed` joins the last
// profile point to the first (a torus). material(ring, side) picks each quad's material.
template <typename MaterialOf>
Part Lathe(const std::vector<std::pair<float, float>>& profile, int sides, bool closed, MaterialOf material)
{
    Part p;
    std::vector<std::vector<uint32_t>> rings;
    for (const auto& rp : profile) {
        std::vector<uint32_t> ring;
        if (rp.first <= 0.0f) {
            p.points.push_back({0, rp.second, 0});
            ring.assign(sides, (uint32_t)p.points.size() - 1);
        } else {
            for (int j = 0; j < sides; j++) {
                float t = 2 * kPi * j / sides;
                p.points.push_back({rp.first * cosf(t), rp.second, rp.first * sinf(t)});
                ring.push_back((uint32_t)p.points.size() - 1);
            }
        }
        rings.push_back(ring);
    }
    size_t count = closed ? rings.size() : rings.size() - 1;
    for (size_t i = 0; i < count; i++) {
        const std::vector<uint32_t>& lo = rings[i];
        const std::vector<uint32_t>& hi = rings[(i + 1) % rings.size()];
        for (int j = 0; j < sides; j++) {
            int k = (j + 1) % sides;
            uint16_t m = material((int)i, j);
            Tri t1 = {lo[j], hi[j], lo[k], m};
            Tri t2 = {lo[k], hi[j], hi[k], m};
            for (const Tri& t : {t1, t2})
                if (t.a != t.b && t.b != t.c && t.a != t.c)
                    p.tris.push_back(t);
        }
    }
    return p;
}

// A sphere of radius 1 about the origin, `rings` bands from pole to pole.
template <typename MaterialOf> Part Sphere(int sides, int rings, MaterialOf material)
{
    std::vector<std::pair<float, float>> profile;
    for (int i = 0; i <= rings; i++) {
        float phi = -kPi / 2 + kPi * i / rings;
        profile.push_back({i == 0 || i == rings ? 0.0f : cosf(phi), sinf(phi)});
    }
    return Lathe(profile, sides, false, material);
}

Part SphereOf(int sides, int rings, uint16_t material)
{
    return Sphere(sides, rings, [material](int, int) { return material; });
}

// Moves a part's points through f (an orientation-keeping map, so the winding stays outward).
template <typename F> Part Mapped(Part p, F f)
{
    for (V3& v : p.points)
        v = f(v);
    return p;
}

// Turns about y by `angle` radians.
V3 TurnY(V3 v, float angle)
{
    float c = cosf(angle), s = sinf(angle);
    return {c * v.x + s * v.z, v.y, -s * v.x + c * v.z};
}

// Tilts about z by `angle` radians (x towards y).
V3 TurnZ(V3 v, float angle)
{
    float c = cosf(angle), s = sinf(angle);
    return {c * v.x - s * v.y, s * v.x + c * v.y, v.z};
}

// A small integer hash for the lumps of the popcorn: the same numbers on every build.
float Hash(int a, int b, int c)
{
    uint32_t h = (uint32_t)a * 73856093u ^ (uint32_t)b * 19349663u ^ (uint32_t)c * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (float)(h & 0xFFFF) / 65535.0f;
}

int16_t Pack(float f)
{
    float v = f * 1023.0f;
    return (int16_t)(v < 0 ? v - 0.5f : v + 0.5f);
}

KsoSegment ToSegment(const Mesh& mesh, const std::string& name)
{
    KsoSegment s;
    s.name = name;
    s.flags = 0;
    for (const Part& part : mesh.parts) {
        uint32_t base = (uint32_t)s.vertices.size();
        std::vector<V3> normals(part.points.size(), V3{0, 0, 0});
        for (const Tri& t : part.tris) {
            V3 n = Cross(part.points[t.b] - part.points[t.a], part.points[t.c] - part.points[t.a]);
            for (uint32_t i : {t.a, t.b, t.c})
                normals[i] = normals[i] + n;
        }
        for (size_t i = 0; i < part.points.size(); i++) {
            KsoVertex v;
            V3 n = Normalised(normals[i]);
            v.position[0] = part.points[i].x;
            v.position[1] = part.points[i].y;
            v.position[2] = part.points[i].z;
            v.normal[0] = Pack(n.x);
            v.normal[1] = Pack(n.y);
            v.normal[2] = Pack(n.z);
            s.vertices.push_back(v);
        }
        for (const Tri& t : part.tris) {
            KsoFace f;
            f.material = f.material2 = t.material;
            f.corners[0] = base + t.a;
            f.corners[1] = base + t.b;
            f.corners[2] = base + t.c;
            V3 n = Normalised(Cross(part.points[t.b] - part.points[t.a], part.points[t.c] - part.points[t.a]));
            f.normal[0] = Pack(n.x);
            f.normal[1] = Pack(n.y);
            f.normal[2] = Pack(n.z);
            f.cornerValues[0] = f.cornerValues[1] = f.cornerValues[2] = 0xFFFFFFFF;   // white
            s.faces.push_back(f);
        }
    }
    return s;
}

// Materials: plain Gouraud-lit colour, the shine texture mapped from the normals and tinted, and
// a see-through Gouraud colour.
KsoMaterial Matte(const char* name, float r, float g, float b)
{
    KsoMaterial m;
    m.name = name;
    m.method = 5;   // T_GOURAUD
    m.colour[0] = r;
    m.colour[1] = g;
    m.colour[2] = b;
    m.specular[0] = m.specular[1] = m.specular[2] = 255;
    m.specular[4] = 0;
    return m;
}

KsoMaterial Shiny(const char* name, float r, float g, float b)
{
    KsoMaterial m = Matte(name, r, g, b);
    m.method = 32;      // T_GOURAUD_TEXTURED8
    m.textures[0] = 0;  // the shine texture
    m.envMap[0] = 1;
    m.envAxis[0] = 2;   // u from the normal's x, v from its y: a sphere map facing the viewer
    m.specular[4] = 24;
    return m;
}

KsoMaterial Clear(const char* name, float r, float g, float b, float alpha)
{
    KsoMaterial m = Matte(name, r, g, b);
    m.method = 71;      // T_TRANSLUCENT_GOURAUD
    m.colour[3] = alpha;
    m.doubleSided = 1;
    return m;
}

KsoModel ModelOf(const char* name, const Mesh& mesh, std::vector<KsoMaterial> materials)
{
    KsoModel model;
    model.name = name;
    model.textures = {MODEL_SHINE_TEXTURE};
    model.textureBytes[2] = {16};   // format code 16: 32-bit texels where the device has them
    model.materials = std::move(materials);
    model.segments.push_back(ToSegment(mesh, name));
    return model;
}

// A ribbed garden hose 110 tall standing on y = 0, a brass coupling at its foot, a brass nozzle on
// top and a see-through jet of water above it.
KsoModel Hose()
{
    enum { GREEN, STRIPE, BRASS, WATER };
    Mesh mesh;
    const int ribs = 10, perRib = 4, sides = 14;
    std::vector<std::pair<float, float>> body = {{0, 6}};
    for (int i = 0; i <= ribs * perRib; i++) {
        float y = 6 + 98.0f * i / (ribs * perRib);
        float phase = (float)(i % perRib) / perRib;
        body.push_back({12.5f + 2.0f * sinf(kPi * phase), y});
    }
    body.push_back({0, 104});
    // Every other rib is a yellow stripe: a cartoon hose reads as ribbed from far away.
    mesh.parts.push_back(Lathe(body, sides, false, [&](int ring, int) {
        int rib = (ring - 1) / perRib;
        return (uint16_t)(ring > 0 && rib % 3 == 2 ? STRIPE : GREEN);
    }));
    mesh.parts.push_back(Lathe({{0, 0}, {15, 0}, {16, 3}, {15, 7}, {0, 7}}, sides, false,
                               [](int, int) { return (uint16_t)BRASS; }));
    mesh.parts.push_back(Lathe({{0, 102}, {14.5f, 102}, {15, 107}, {10, 112}, {7.5f, 124}, {8.5f, 127}, {0, 127}},
                               sides, false, [](int, int) { return (uint16_t)BRASS; }));
    std::vector<std::pair<float, float>> jet = {{0, 125}};
    for (int i = 0; i <= 6; i++) {
        float t = i / 6.0f;
        jet.push_back({6 + 12 * t * t, 125 + 30 * t});
    }
    for (int i = 1; i <= 4; i++) {
        float a = kPi / 2 * i / 4;
        jet.push_back({i == 4 ? 0 : 18 * cosf(a), 155 + 9 * sinf(a)});
    }
    mesh.parts.push_back(Lathe(jet, sides, false, [](int, int) { return (uint16_t)WATER; }));
    return ModelOf("hose", mesh,
                   {Matte("hose green", 40, 210, 60), Matte("hose stripe", 255, 225, 0),
                    Shiny("hose brass", 255, 190, 50), Clear("hose water", 110, 200, 255, 110)});
}

// A beach ball of radius 22: six gores of red, yellow and blue with white caps, all shiny.
KsoModel SphereModel()
{
    enum { RED, YELLOW, BLUE, WHITE };
    const int sides = 18, rings = 12;
    Mesh mesh;
    Part ball = Sphere(sides, rings, [&](int ring, int side) {
        if (ring == 0 || ring == rings - 1)
            return (uint16_t)WHITE;
        return (uint16_t)((side / (sides / 6)) % 3);
    });
    mesh.parts.push_back(Mapped(ball, [](V3 v) { return v * 22.0f; }));
    return ModelOf("sphere", mesh,
                   {Shiny("ball red", 255, 40, 40), Shiny("ball yellow", 255, 220, 0),
                    Shiny("ball blue", 30, 110, 255), Shiny("ball white", 255, 255, 255)});
}

// A flower facing up: a shiny yellow centre at the origin, eight pink petals around it cupped
// slightly upwards, and a green stem with two leaves hanging below.
KsoModel Flower()
{
    enum { PETAL, PETAL_TIP, CENTRE, GREEN };
    Mesh mesh;
    mesh.parts.push_back(Mapped(SphereOf(16, 8, CENTRE), [](V3 v) { return V3{9 * v.x, 5 * v.y + 1.5f, 9 * v.z}; }));
    for (int i = 0; i < 8; i++) {
        float turn = 2 * kPi * i / 8;
        // A petal: a flattened ellipsoid along +x, its tip a darker pink.
        Part petal = Sphere(10, 6, [i](int, int) { return (uint16_t)(i % 2 ? PETAL_TIP : PETAL); });
        mesh.parts.push_back(Mapped(petal, [turn](V3 v) {
            V3 p = {13 * v.x + 17, 2.2f * v.y, 7 * v.z};
            p = TurnZ(p - V3{6, 0, 0}, 0.2f) + V3{6, 0, 0};   // cupped upwards from the centre
            return TurnY(p, turn);
        }));
    }
    mesh.parts.push_back(Lathe({{0, -48}, {2.6f, -48}, {2.6f, -3}, {0, -3}}, 8, false,
                               [](int, int) { return (uint16_t)GREEN; }));
    for (int i = 0; i < 2; i++) {
        float side = i ? -1.0f : 1.0f;
        mesh.parts.push_back(Mapped(SphereOf(10, 6, GREEN), [side, i](V3 v) {
            V3 p = {9 * v.x + 10, 1.6f * v.y, 4 * v.z};
            p = TurnZ(p, 0.5f);
            return TurnY(p, side > 0 ? 0.3f : kPi + 0.3f) + V3{0, -30.0f + 8 * i, 0};
        }));
    }
    return ModelOf("flower", mesh,
                   {Matte("petal pink", 255, 60, 175), Matte("petal orange", 255, 140, 20),
                    Shiny("flower centre", 255, 215, 0), Matte("flower green", 50, 200, 50)});
}

// A brass tuba ring: a torus about y, outer radius 15, with three slim valves standing on it.
KsoModel Torus()
{
    enum { BRASS, VALVE };
    Mesh mesh;
    std::vector<std::pair<float, float>> circle;
    const int steps = 14;
    for (int i = 0; i < steps; i++) {
        float t = -kPi / 2 + 2 * kPi * i / steps;   // counter-clockwise from the bottom
        circle.push_back({10 + 4.5f * cosf(t), 4.5f * sinf(t)});
    }
    mesh.parts.push_back(Lathe(circle, 24, true, [](int, int) { return (uint16_t)BRASS; }));
    for (int i = 0; i < 3; i++) {
        float turn = 0.42f * (i - 1);
        Part valve = Lathe({{0, 2}, {1.5f, 2}, {1.5f, 7.5f}, {2.2f, 7.8f}, {2.2f, 9}, {0, 9.4f}}, 10, false,
                           [](int, int) { return (uint16_t)VALVE; });
        mesh.parts.push_back(Mapped(valve, [turn](V3 v) { return TurnY(v + V3{10, 0, 0}, turn); }));
    }
    return ModelOf("torus", mesh, {Shiny("tuba brass", 255, 185, 40), Shiny("tuba valve", 255, 240, 170)});
}

// A popcorn piece: round puffs of different sizes clustered about the origin, cream with two
// buttery ones; each puff is gently dented so the piece does not look like a heap of balls.
KsoModel Popcorn()
{
    enum { CREAM, BUTTER };
    struct Puff {
        V3 at;
        float radius;
        uint16_t material;
    };
    const Puff puffs[] = {{{0, 0, 0}, 10, CREAM},     {{9, 4, 2}, 7.5f, CREAM},  {{-8, 5, -3}, 8, BUTTER},
                          {{2, -7, 6}, 7, CREAM},     {{-3, 8, 7}, 6.5f, CREAM}, {{4, -2, -9}, 7, BUTTER},
                          {{-7, -5, 5}, 6, CREAM},    {{7, 8, -5}, 5.5f, CREAM}};
    Mesh mesh;
    int n = 0;
    for (const Puff& puff : puffs) {
        float phase = 2 * kPi * Hash(n, 1, 2), tilt = 2 * kPi * Hash(n, 3, 4);
        mesh.parts.push_back(Mapped(SphereOf(14, 9, puff.material), [&](V3 v) {
            float around = atan2f(v.z, v.x), up = asinf(v.y > 1 ? 1 : v.y < -1 ? -1 : v.y);
            float dent = 1 + 0.12f * sinf(3 * around + phase) * cosf(2 * up + tilt) + 0.06f * sinf(5 * up + phase);
            return v * (puff.radius * dent) + puff.at;
        }));
        n++;
    }
    return ModelOf("multi", mesh, {Matte("popcorn cream", 255, 242, 196), Matte("popcorn butter", 255, 205, 60)});
}

}   // namespace

std::vector<ModelFile> BuildModels(void)
{
    return {{"hose.kso", Hose()},
            {"sphere.kso", SphereModel()},
            {"flower.kso", Flower()},
            {"torus.kso", Torus()},
            {"multi.kso", Popcorn()}};
}

ModelFile BuildShaderModel(void)
{
    enum { BALL, RING };
    Mesh mesh;
    mesh.parts.push_back(Mapped(SphereOf(24, 16, BALL), [](V3 v) { return v * 40.0f; }));
    std::vector<std::pair<float, float>> circle;
    for (int i = 0; i < 12; i++) {
        float t = -kPi / 2 + 2 * kPi * i / 12;
        circle.push_back({62 + 6 * cosf(t), 6 * sinf(t)});
    }
    mesh.parts.push_back(Lathe(circle, 32, true, [](int, int) { return (uint16_t)RING; }));

    KsoMaterial ball = Matte("shaded ball", 90, 200, 255);
    ball.vertexShader = "ball light";
    ball.pixelShader = "ball tint";
    KsoMaterial ring = Matte("shaded ring", 255, 200, 40);
    ring.vertexShader = "ring light";
    KsoModel model;
    model.name = "shaded";
    model.materials = {ball, ring};
    model.segments.push_back(ToSegment(mesh, "shaded"));

    auto binding = [](int32_t reg, int32_t kind, std::array<float, 4> values = {0, 0, 0, 0}) {
        KsoShaderConstant k;
        k.reg = reg;
        k.kind = kind;
        for (int i = 0; i < 4; i++)
            k.values[i] = values[i];
        return k;
    };
    // The ball: world normal against the light vector, a little ambient.
    KsoShader ballLight;
    ballLight.name = "ball light";
    ballLight.source = "vs.1.1\n"
                       "; c0-c3 world.view.projection, c4-c7 world, c8 light vector, c12 colour, c16 ambient\n"
                       "m4x4 oPos, v0, c0\n"
                       "m3x3 r0.xyz, v1, c4\n"
                       "dp3 r1.x, r0, r0\n"
                       "rsq r1.x, r1.x\n"
                       "mul r0.xyz, r0, r1.x\n"
                       "dp3 r2.x, r0, c8\n"
                       "max r2.x, r2.x, c16.w\n"
                       "mul r3.xyz, c12, r2.x\n"
                       "add oD0.xyz, r3, c16\n"
                       "mov oD0.w, c12.w\n";
    ballLight.formatText = "D3DFVF_XYZ\nD3DFVF_NORMAL\nD3DFVF_DIFFUSE\nD3DFVF_TEX1";
    ballLight.declarationText = "STREAM 0\nREG 0 FLOAT3\nREG 1 FLOAT3\nREG 2 D3DCOLOR\nREG 3 FLOAT2\nEND";
    ballLight.constants = {binding(0, 26), binding(4, 27), binding(8, 33), binding(12, 36),
                           binding(16, 25, {0.15f, 0.15f, 0.15f, 0.0f})};
    // The ring: lit from both sides, no ambient.
    KsoShader ringLight;
    ringLight.name = "ring light";
    ringLight.type = 1;
    ringLight.source = "vs.1.1\n"
                       "; c0-c3 world.view.projection, c4 colour, c8 light vector\n"
                       "m4x4 oPos, v0, c0\n"
                       "dp3 r0.x, v1, c8\n"
                       "max r0.x, r0.x, -r0.x\n"
                       "mul oD0.xyz, c4, r0.x\n"
                       "mov oD0.w, c4.w\n";
    ringLight.constants = {binding(0, 26), binding(4, 36), binding(8, 33)};
    KsoShader tint;
    tint.name = "ball tint";
    tint.type = 1;
    tint.source = "ps.1.1\nmul r0, v0, c0\n";
    tint.constants = {binding(0, 1, SHADED_BALL_TINT)};
    model.declaredShaders = {ballLight};
    model.vertexShaders = {ringLight};
    model.pixelShaders = {tint};
    return {"shaded.kso", model};
}

std::vector<uint8_t> BuildShinePicture(void)
{
    const int n = MODEL_SHINE_SIZE;
    std::vector<uint8_t> rgb((size_t)n * n * 3);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            // The normal this texel stands for: u = 0.5 + 0.5 nx, v = 0.5 - 0.5 ny.
            float nx = 2.0f * (x + 0.5f) / n - 1, ny = 1 - 2.0f * (y + 0.5f) / n;
            float r2 = nx * nx + ny * ny;
            float level;
            if (ny > -0.12f)
                level = 235 - 40 * ny;                    // sky, a little darker overhead
            else if (ny > -0.3f)
                level = 95;                               // the horizon band
            else
                level = 175 + 30 * (ny + 0.3f);           // the ground
            level *= 1.0f - 0.25f * (r2 > 1 ? 1 : r2);    // darker towards the rim
            // A crisp highlight up and to the left, with a soft edge.
            float hx = nx + 0.38f, hy = ny - 0.42f;
            float h = (hx * hx + hy * hy) / (0.22f * 0.22f);
            if (h < 1)
                level = 255;
            else if (h < 1.6f)
                level += (255 - level) * (1.6f - h) / 0.6f;
            uint8_t v = (uint8_t)(level > 255 ? 255 : level);
            uint8_t* p = &rgb[((size_t)y * n + x) * 3];
            p[0] = v;
            p[1] = v;
            p[2] = (uint8_t)(v > 250 ? v : v * 0.97f + 6);   // the sky a touch blue
        }
    return rgb;
}
