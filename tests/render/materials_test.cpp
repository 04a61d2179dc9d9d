// Material table: growth, case-insensitive lookup, deletion and slot reuse, names and setters.
#include "kestra.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

class MaterialTest : public ::testing::Test {
protected:
    void SetUp() override { KS_MemoryInit(); }
    void TearDown() override
    {
        KS_FreeMaterials();
        EXPECT_EQ(KS_MemoryBlockCount(), 0) << "material table leaked";
        KS_MemoryShutdown();
    }
    static KSMaterial Named(const char* name, int32_t method = T_FLAT)
    {
        KSMaterial m;
        memset(&m, 0, sizeof(m));
        KS_SetMaterialName(&m, name);
        m.method = method;
        return m;
    }
    static int32_t Add(const char* name, int32_t method = T_FLAT)
    {
        KSMaterial m = Named(name, method);
        return KS_AddMaterial(&m);
    }
};

TEST_F(MaterialTest, NewTableIsWhiteAndFree)
{
    ASSERT_EQ(KS_AllocMaterials(132), 1);
    ASSERT_EQ(ksMaterialCount, 132);
    for (int i = 0; i < 132; i++) {
        EXPECT_EQ(ksMaterials[i].name[0], 0);
        EXPECT_EQ(ksMaterials[i].red, 255.0f);
        EXPECT_EQ(ksMaterials[i].green, 255.0f);
        EXPECT_EQ(ksMaterials[i].blue, 255.0f);
        EXPECT_EQ(ksMaterials[i].alpha, 0.0f);
        EXPECT_EQ(ksMaterials[i].method, NULL_TYPE);
    }
}

TEST_F(MaterialTest, FullTableGrowsByOneHundredKeepingTheOldRecords)
{
    ASSERT_EQ(KS_AllocMaterials(3), 1);
    EXPECT_EQ(Add("a", 5), 0);
    EXPECT_EQ(Add("b", 6), 1);
    EXPECT_EQ(Add("c", 7), 2);
    EXPECT_EQ(Add("d", 8), 3);
    ASSERT_EQ(ksMaterialCount, 103);
    EXPECT_STREQ(ksMaterials[0].name, "a");
    EXPECT_STREQ(ksMaterials[1].name, "b");
    EXPECT_STREQ(ksMaterials[2].name, "c");
    EXPECT_EQ(ksMaterials[2].method, 7);
    EXPECT_STREQ(ksMaterials[3].name, "d");
    EXPECT_EQ(KS_FindMaterial("c"), 2);
    EXPECT_EQ(KS_FindMaterial("d"), 3);
    // The old array went back to the tracker: only the grown table is live.
    EXPECT_EQ(KS_MemoryBlockCount(), 1);
    EXPECT_EQ(KS_MemoryTotal(), (int32_t)(103 * sizeof(KSMaterial)) + 8);

    // Adding works with no table at all, too.
    KS_FreeMaterials();
    EXPECT_EQ(Add("first"), 0);
    EXPECT_EQ(ksMaterialCount, 100);
}

TEST_F(MaterialTest, FindAndDeleteIgnoreCaseAndFreedSlotsAreReused)
{
    ASSERT_EQ(KS_AllocMaterials(4), 1);
    EXPECT_EQ(KS_FindMaterial("Wood"), KSERR_MATERIAL_NOT_FOUND);
    EXPECT_EQ(Add("Metal"), 0);
    EXPECT_EQ(Add("Wood"), 1);
    EXPECT_EQ(Add("glass"), 2);
    EXPECT_EQ(KS_FindMaterial("WOOD"), 1);
    EXPECT_EQ(KS_FindMaterial("wOoD"), 1);
    EXPECT_EQ(KS_FindMaterial("GLASS"), 2);
    EXPECT_EQ(KS_FindMaterial("Woo"), KSERR_MATERIAL_NOT_FOUND);
    EXPECT_EQ(KS_FindMaterial("Wood2"), KSERR_MATERIAL_NOT_FOUND);
    EXPECT_EQ(KS_FindMaterial(nullptr), KSERR_MATERIAL_NOT_FOUND);
    // An empty name is no material, although free slots have empty names.
    EXPECT_EQ(KS_FindMaterial(""), KSERR_MATERIAL_NOT_FOUND);
    EXPECT_EQ(KS_DeleteMaterial(""), KSERR_MATERIAL_NOT_FOUND);

    EXPECT_EQ(KS_DeleteMaterial("WOOD"), KSERR_MATERIAL_DELETED);
    EXPECT_EQ(KS_FindMaterial("Wood"), KSERR_MATERIAL_NOT_FOUND);
    EXPECT_EQ(KS_DeleteMaterial("wood"), KSERR_MATERIAL_NOT_FOUND);
    EXPECT_EQ(Add("Stone"), 1) << "the freed slot comes first";
    EXPECT_EQ(Add("Paper"), 3);
    EXPECT_EQ(ksMaterialCount, 4);

    KS_FreeMaterials();
    EXPECT_EQ(ksMaterialCount, 0);
    EXPECT_EQ(KS_FindMaterial("Stone"), KSERR_MATERIAL_NOT_FOUND);
}

TEST_F(MaterialTest, SettersAndNameLimits)
{
    KSMaterial m;
    memset(&m, 0xCD, sizeof(m));
    EXPECT_EQ(KS_SetMaterialName(&m, "hud0"), 5);
    EXPECT_STREQ(m.name, "hud0");
    // A name longer than the record holds is cut, never written past the field.
    EXPECT_EQ(KS_SetMaterialName(&m, "a-name-that-is-far-too-long"), 20);
    EXPECT_EQ(strlen(m.name), 19u);
    EXPECT_EQ((uint8_t)m.name[19], 0);
    EXPECT_EQ(m.method, (int32_t)0xCDCDCDCD) << "the field after the name was overwritten";

    KS_SetMaterialAlpha(&m, 50);
    EXPECT_EQ(m.alpha, 50.0f);
}

TEST(MethodNames, EveryIdHasItsName)
{
    // Spot checks across the table: a name dropped or doubled shifts everything after it.
    EXPECT_STREQ(KS_MethodName(NULL_TYPE), "NULL_TYPE");
    EXPECT_STREQ(KS_MethodName(38), "T_TRANSLUCENT_TEXTURED");
    EXPECT_STREQ(KS_MethodName(95), "T_FOG_LIGHTMAP_TIMES");
    EXPECT_STREQ(KS_MethodName(123), "T_FOG_RIPPLE_BUMP");
    EXPECT_STREQ(KS_MethodName(131), "T_TEX_BUMP_DOT3_MOD");
    EXPECT_STREQ(KS_MethodName(132), "");
    // Names are unique and all carry the method prefix.
    for (int i = 1; i < KS_METHOD_COUNT; i++) {
        EXPECT_EQ(strncmp(ksMethodNames[i], "T_", 2), 0) << i;
        for (int j = 0; j < i; j++)
            EXPECT_STRNE(ksMethodNames[i], ksMethodNames[j]) << i << " " << j;
    }
}

}  // namespace
