// The five scene models: closed parts wound outwards (so the engine's back-face rule shows their
// outsides), sizes that fit the places the scenes give them, and materials the engine can draw.
#include "kso_test.h"
#include "models.h"

#include <math.h>

#include <map>
#include <set>
#include <utility>

namespace {

struct P3 {
    double x, y, z;
};
P3 Sub(P3 a, P3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
P3 Cross(P3 a, P3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Dot(P3 a, P3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
P3 At(const KsoSegment& s, uint32_t i) { return {s.vertices[i].position[0], s.vertices[i].position[1], s.vertices[i].position[2]}; }

const KsoModel& Model(const std::vector<ModelFile>& models, const char* name)
{
    for (const ModelFile& m : models)
        if (m.name == name)
            return m.model;
    static KsoModel none;
    ADD_FAILURE() << "no model " << name;
    return none;
}

// Largest distance of a vertex from the y axis, and the y range.
void Extent(const KsoModel& m, double* radius, double* minY, double* maxY)
{
    *radius = 0;
    *minY = 1e9;
    *maxY = -1e9;
    for (const KsoVertex& v : m.segments[0].vertices) {
        *radius = std::max(*radius, (double)hypotf(v.position[0], v.position[2]));
        *minY = std::min(*minY, (double)v.position[1]);
        *maxY = std::max(*maxY, (double)v.position[1]);
    }
}

}   // namespace

// Every edge of a model is met by exactly two faces that run along it in opposite directions (so
// the parts are closed and consistently wound), every part encloses a positive volume (so the
// winding faces outwards), and the stored normals agree with the winding.
TEST(Models, PartsAreClosedAndWoundOutwards)
{
    for (const ModelFile& file : BuildModels()) {
        ASSERT_EQ(1u, file.model.segments.size()) << file.name;
        const KsoSegment& s = file.model.segments[0];
        std::map<std::pair<uint32_t, uint32_t>, int> edges;
        // Parts are the connected groups of faces; their volumes are summed separately.
        std::vector<uint32_t> part(s.vertices.size());
        for (size_t i = 0; i < part.size(); i++)
            part[i] = (uint32_t)i;
        auto root = [&](uint32_t i) {
            while (part[i] != i)
                i = part[i] = part[part[i]];
            return i;
        };
        for (const KsoFace& f : s.faces) {
            for (int c = 0; c < 3; c++) {
                edges[{f.corners[c], f.corners[(c + 1) % 3]}]++;
                part[root(f.corners[c])] = root(f.corners[(c + 1) % 3]);
            }
            P3 n = Cross(Sub(At(s, f.corners[1]), At(s, f.corners[0])), Sub(At(s, f.corners[2]), At(s, f.corners[0])));
            EXPECT_GT(Dot(n, P3{(double)f.normal[0], (double)f.normal[1], (double)f.normal[2]}), 0) << file.name;
        }
        int open = 0;
        for (const auto& e : edges)
            if (e.second != 1 || edges.count({e.first.second, e.first.first}) == 0 ||
                edges.at({e.first.second, e.first.first}) != 1)
                open++;
        EXPECT_EQ(0, open) << file.name << ": edges not shared by two opposite faces";
        std::map<uint32_t, double> volume;
        for (const KsoFace& f : s.faces)
            volume[root(f.corners[0])] += Dot(At(s, f.corners[0]), Cross(At(s, f.corners[1]), At(s, f.corners[2]))) / 6;
        for (const auto& v : volume)
            EXPECT_GT(v.second, 0.0) << file.name << ": a part wound inwards";
        for (const KsoVertex& v : s.vertices) {
            double length = sqrt((double)v.normal[0] * v.normal[0] + (double)v.normal[1] * v.normal[1] +
                                 (double)v.normal[2] * v.normal[2]);
            EXPECT_NEAR(1023.0, length, 3.0) << file.name;
        }
    }
}

// Sizes from the scenes: sixteen hoses on a ring of radius 175 stand clear of each other and grow
// upwards from the ground; tori 70 apart at their resting width 1.5 do not touch, nor do row
// spheres 75 apart at their resting scale 1.5; every model is big enough to see from 1000 away.
TEST(Models, SizesFitTheScenes)
{
    std::vector<ModelFile> models = BuildModels();
    double radius, minY, maxY;
    Extent(Model(models, "hose.kso"), &radius, &minY, &maxY);
    EXPECT_LT(2 * radius, 2 * 175 * sin(3.1415 / 16));
    EXPECT_FLOAT_EQ(0.0f, (float)minY);
    EXPECT_GT(maxY, 100.0);
    EXPECT_GT(maxY - minY, 5 * radius);   // tall and slim
    Extent(Model(models, "torus.kso"), &radius, &minY, &maxY);
    EXPECT_LT(2 * 1.5 * radius, 70.0);
    EXPECT_GT(radius, 10.0);
    Extent(Model(models, "sphere.kso"), &radius, &minY, &maxY);
    EXPECT_LT(2 * 1.5 * std::max(radius, maxY), 75.0);
    EXPECT_GT(radius, 15.0);
    EXPECT_NEAR(-minY, maxY, 1e-3);   // centred, so a ball bounces on its middle
    Extent(Model(models, "flower.kso"), &radius, &minY, &maxY);
    EXPECT_GT(radius, 20.0);
    EXPECT_LT(radius, 45.0);
    Extent(Model(models, "multi.kso"), &radius, &minY, &maxY);
    EXPECT_GT(radius, 12.0);
    EXPECT_LT(radius, 30.0);
}

// The models load with the engine's loader; every face names one of its file's materials; shiny
// materials map the shine texture from the normals; the hose has a see-through part.
TEST_F(KsoTest, ModelsLoadWithTheirMaterials)
{
    for (const ModelFile& file : BuildModels()) {
        const KsoModel& m = file.model;
        for (const KsoFace& f : m.segments[0].faces)
            ASSERT_LT(f.material, m.materials.size()) << file.name;
        ASSERT_EQ(std::vector<std::string>{MODEL_SHINE_TEXTURE}, m.textures);
        for (const KsoMaterial& mat : m.materials) {
            if (mat.method == T_GOURAUD_TEXTURED8) {
                EXPECT_EQ(1, mat.envMap[0]) << mat.name;
            }
            EXPECT_LT(mat.name.size(), 20u) << mat.name;
        }
        KSObject* o = Load(m);
        ASSERT_NE(nullptr, o) << file.name;
        EXPECT_EQ((int32_t)m.segments[0].faces.size(), o->segments[0].faceCount);
    }
    std::vector<ModelFile> models = BuildModels();
    bool clear = false;
    for (const KsoMaterial& mat : Model(models, "hose.kso").materials)
        clear |= mat.method == T_TRANSLUCENT_GOURAUD && mat.colour[3] < 255 && mat.doubleSided;
    EXPECT_TRUE(clear);
}

TEST(Models, SameBytesEveryTime)
{
    std::vector<ModelFile> a = BuildModels(), b = BuildModels();
    ASSERT_EQ(5u, a.size());
    for (size_t i = 0; i < a.size(); i++)
        EXPECT_EQ(KsoWriteModel(a[i].model), KsoWriteModel(b[i].model)) << a[i].name;
    EXPECT_EQ(BuildShinePicture(), BuildShinePicture());
}
