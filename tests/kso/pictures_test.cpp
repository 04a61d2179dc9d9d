// The five models loaded from their files and drawn from vertex buffers as the scenes draw them
// (culling on, one light riding with the camera), each alone and all together, written as
// models_*.png into the build folder for review and checked for what must show: the model's own
// colours, a bright shine, the background around it.
#include "kso_test.h"
#include "models.h"

#include <png.h>
#include <setjmp.h>

namespace {

class ModelPictures : public KsoTest {
protected:
    void SetUp() override
    {
        KsoTest::SetUp();
        KS_MakeViewport(&viewport, 0, 0, ksGlobal.screenWidth - 1, ksGlobal.screenHeight - 1, 8);
        KS_SetViewport(&viewport);
        KSGFX_SetDrawTarget(1);
        camera = KS_CreateCamera();
        KS_InitCamera(camera);
        KS_SetCameraMode(camera, KS_CAM_LOOK_AT);
        camera->aspect = (float)ksGlobal.screenWidth / (float)ksGlobal.screenHeight;
        // Lights as the visualizer has them from its second run on: fixed-point strengths.
        ksFixedPointLights = 1;
        KS_InitLights(&ksActiveLights, 1);
        KS_InitLights(&lights, 1);
        KS_SetLightPosition(&lights, 0, 0, 0, 1000);
        KS_SwitchLightOn(&lights, 0);
        KS_SetLightType(&lights, 0, 0);
        KS_SetLightColour(&lights, 0, 1, 1, 1);
        KS_SetLightStrength(&lights, 0, 1);
        lights.count = 1;
        // The shine texture under its file name, so the models' texture lists find it loaded.
        std::vector<uint8_t> rgb = BuildShinePicture();
        uint8_t* rgba = (uint8_t*)KS_Alloc(MODEL_SHINE_SIZE * MODEL_SHINE_SIZE * 4, "pictures", __LINE__);
        for (int i = 0; i < MODEL_SHINE_SIZE * MODEL_SHINE_SIZE; i++) {
            for (int c = 0; c < 3; c++)
                rgba[i * 4 + c] = rgb[i * 3 + c];
            rgba[i * 4 + 3] = 255;
        }
        KS_SetTextureFormat(16);
        ASSERT_GE(KS_AddTextureRGBA(MODEL_SHINE_TEXTURE, rgba, MODEL_SHINE_SIZE, MODEL_SHINE_SIZE), 0);
        ksGlobal.vertexBufferSwitch = 1;   // as the visualizer runs: loads build buffers, draws use them
        for (const ModelFile& m : BuildModels())
            models.push_back(Load(m.model));
    }
    void TearDown() override
    {
        for (KSEntity* e : entities)
            KS_FreeEntity(e);
        KS_FreeLights(&lights);
        KS_FreeLights(&ksActiveLights);
        KS_DeleteCamera(camera);
        ksGlobal.vertexBufferSwitch = 0;
        KsoTest::TearDown();
    }
    KSEntity* Place(int model, float x, float y, float z)
    {
        KSEntity* e = KS_CreateEntity(models[model], "scene");
        KS_SetEntityPosition(e, x, y, z);
        entities.push_back(e);
        return e;
    }
    // Draws the entities seen from `eye` towards `target` and keeps the picture.
    void Draw(const std::vector<KSEntity*>& drawn, KSVector eye, KSVector target)
    {
        KS_SetCameraPosition(camera, eye.x, eye.y, eye.z);
        KS_SetCameraTarget(camera, target.x, target.y, target.z);
        KS_UpdateCamera(camera);
        KS_BeginFrame();
        KSGFX_SetColour(KSGFX_MakeColour(20, 30, 60));
        KSGFX_ClearViewport(&viewport);
        KS_SetTransformMode(1);
        KS_TransformLights(&lights);
        KS_SetLightPosition(&lights, 0, eye.x, eye.y, eye.z);
        for (KSEntity* e : drawn) {
            KS_TransformEntity(e);
            KS_DrawObjectBuffers(e);
        }
        KSGFX_FlushFrame();
        KSGFX_ShowFrame();
        KS_SetTransformMode(0);
        memset(&frame, 0, sizeof(frame));
        ASSERT_TRUE(MarlixGetFrame(window, &frame));
    }
    uint32_t Pixel(int x, int y) const { return frame.pixels[y * frame.width + x] & 0xFFFFFF; }
    // Pixels whose colour passes the test.
    template <typename Test> int Count(Test test) const
    {
        int n = 0;
        for (int y = 0; y < frame.height; y++)
            for (int x = 0; x < frame.width; x++) {
                uint32_t p = Pixel(x, y);
                n += test((int)(p >> 16), (int)(p >> 8 & 0xFF), (int)(p & 0xFF));
            }
        return n;
    }
    void Save(const std::string& name) const
    {
        FILE* f = fopen(name.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            fclose(f);
            FAIL() << name;
        }
        png_init_io(png, f);
        png_set_IHDR(png, info, frame.width, frame.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<png_byte> row(frame.width * 3);
        for (int y = 0; y < frame.height; y++) {
            for (int x = 0; x < frame.width; x++) {
                uint32_t p = Pixel(x, y);
                row[x * 3] = (png_byte)(p >> 16);
                row[x * 3 + 1] = (png_byte)(p >> 8);
                row[x * 3 + 2] = (png_byte)p;
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        fclose(f);
    }

    KSViewport viewport;
    KSCamera* camera = nullptr;
    KSLightList lights = {};
    MarlixFrame frame;
    std::vector<KSObject*> models;
    std::vector<KSEntity*> entities;
};

enum { HOSE, SPHERE, FLOWER, TORUS, POPCORN };

bool Background(int r, int g, int b) { return r == 20 && g == 30 && b == 60; }

}   // namespace

TEST_F(ModelPictures, EachModelAlone)
{
    ASSERT_EQ(5u, models.size());
    struct Shot {
        const char* name;
        KSVector eye, target;
        bool (*colour)(int r, int g, int b);   // a colour the model must show
    };
    const Shot shots[5] = {
        {"hose", {120, 140, 200}, {0, 80, 0}, [](int r, int g, int b) { return g > 150 && r < 120 && b < 120; }},
        {"sphere", {35, 30, 60}, {0, 0, 0}, [](int r, int g, int b) { return r > 180 && g < 90 && b < 90; }},
        {"flower", {40, 70, 75}, {0, -8, 0}, [](int r, int g, int b) { return r > 150 && b > 90 && g < 110 && r > g + 60; }},
        {"torus", {25, 30, 40}, {0, 0, 0}, [](int r, int g, int b) { return r > 150 && g > 90 && b < 80; }},
        {"popcorn", {35, 25, 50}, {0, 0, 0}, [](int r, int g, int b) { return r > 170 && g > 160 && b > 120; }},
    };
    for (int i = 0; i < 5; i++) {
        Draw({Place(i, 0, 0, 0)}, shots[i].eye, shots[i].target);
        Save(std::string("models_") + shots[i].name + ".png");
        int all = frame.width * frame.height;
        int background = Count(Background);
        EXPECT_GT(background, all / 10) << shots[i].name << " fills the whole picture";
        EXPECT_LT(background, all * 19 / 20) << shots[i].name << " is hardly there";
        EXPECT_GT(Count(shots[i].colour), all / 100) << shots[i].name << " misses its colour";
        EXPECT_TRUE(Background(Pixel(0, 0) >> 16, Pixel(0, 0) >> 8 & 0xFF, Pixel(0, 0) & 0xFF)) << shots[i].name;
    }
}

// All five as the scenes size them, seen from about the scenes' distance.
TEST_F(ModelPictures, AllTogether)
{
    KSEntity* hose = Place(HOSE, -160, -60, 0);
    KS_SetEntityScale(hose, 1, 1.6f, 1);
    KSEntity* sphere = Place(SPHERE, -80, 0, 0);
    KS_SetEntityScale(sphere, 2, 2, 2);
    KSEntity* flower = Place(FLOWER, 0, 10, 0);
    KS_SetEntityScale(flower, 2, 2, 2);
    KS_RotateEntity(flower, 35, 0, 0);
    KSEntity* torus = Place(TORUS, 80, 0, 0);
    KS_SetEntityScale(torus, 3, 2, 3);
    KS_RotateEntity(torus, 90, 0, 90);
    KSEntity* popcorn = Place(POPCORN, 165, 0, 0);
    KS_SetEntityScale(popcorn, 2.5f, 2.5f, 2.5f);
    Draw({hose, sphere, flower, torus, popcorn}, {0, 120, 420}, {0, 10, 0});
    Save("models_all.png");
    int all = frame.width * frame.height;
    EXPECT_GT(Count(Background), all / 3);
    // A shiny surface shows its highlight: near-white pixels on the ball, the tuba or the nozzle.
    EXPECT_GT(Count([](int r, int g, int b) { return r > 235 && g > 200 && b > 120; }), 10);
}
