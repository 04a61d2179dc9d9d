// Material table, render-method names and the overlay material of the plug-in's 2D sprites.
#define KS_MODULE "Ksmat"
#include "kestra.h"

#include <stdio.h>
#include <string.h>

static_assert(T_TEX_BUMP_DOT3_MOD == 131, "method ids run from 0 to 131");
static_assert(T_XFLAT_TEXTURED == 20 && T_TRANSLUCENT_TEXTURED == 38 && T_LIGHTMAP_ADD == 69 &&
                  T_GOURTEX_BUMP_ADD == 96 && T_FOG_GOURTEX_BUMP_ADD == 113,
              "method ids keep their numbers");

const char* const ksMethodNames[KS_METHOD_COUNT] = {
    "NULL_TYPE", "T_WIREFRAME", "T_CFLAT", "T_FLAT", "T_CGOURAUD", "T_GOURAUD", "T_LTEXTURED",
    "T_LXTEXTURED", "T_TEXTURED", "T_WTEXTURED", "T_XTEXTURED", "T_XWTEXTURED", "T_LCFLAT_TEXTURED",
    "T_LXCFLAT_TEXTURED", "T_CFLAT_TEXTURED", "T_WCFLAT_TEXTURED", "T_XCFLAT_TEXTURED",
    "T_XWCFLAT_TEXTURED", "T_FLAT_TEXTURED", "T_WFLAT_TEXTURED", "T_XFLAT_TEXTURED",
    "T_XWFLAT_TEXTURED", "T_LFLAT_TEXTURED", "T_LXFLAT_TEXTURED", "T_LCGOURAUD_TEXTURED",
    "T_LXCGOURAUD_TEXTURED", "T_CGOURAUD_TEXTURED8", "T_WCGOURAUD_TEXTURED8", "T_XCGOURAUD_TEXTURED8",
    "T_XWCGOURAUD_TEXTURED8", "T_LGOURAUD_TEXTURED", "T_LXGOURAUD_TEXTURED", "T_GOURAUD_TEXTURED8",
    "T_WGOURAUD_TEXTURED8", "T_XGOURAUD_TEXTURED8", "T_XWGOURAUD_TEXTURED8",
    "T_LTRANSLUCENT_TEXTURED", "T_LXTRANSLUCENT_TEXTURED", "T_TRANSLUCENT_TEXTURED",
    "T_WTRANSLUCENT_TEXTURED", "T_XTRANSLUCENT_TEXTURED", "T_XWTRANSLUCENT_TEXTURED", "T_PCGOURAUD",
    "T_PGOURAUD", "T_PTEXTURED", "T_PWTEXTURED", "T_PXTEXTURED", "T_PXWTEXTURED",
    "T_PCFLAT_TEXTURED", "T_PWCFLAT_TEXTURED", "T_PXCFLAT_TEXTURED", "T_PXWCFLAT_TEXTURED",
    "T_PFLAT_TEXTURED", "T_PWFLAT_TEXTURED", "T_PXFLAT_TEXTURED", "T_PXWFLAT_TEXTURED",
    "T_PCGOURAUD_TEXTURED", "T_PWCGOURAUD_TEXTURED", "T_PXCGOURAUD_TEXTURED",
    "T_PXWCGOURAUD_TEXTURED", "T_PGOURAUD_TEXTURED", "T_PWGOURAUD_TEXTURED", "T_PXGOURAUD_TEXTURED",
    "T_PXWGOURAUD_TEXTURED", "T_PTRANSLUCENT_TEXTURED", "T_PWTRANSLUCENT_TEXTURED",
    "T_PXTRANSLUCENT_TEXTURED", "T_PXWTRANSLUCENT_TEXTURED", "T_SOURCETRANSFORM", "T_LIGHTMAP_ADD",
    "T_LIGHTMAP_TIMES", "T_TRANSLUCENT_GOURAUD", "T_TRANSGOUR_TEXTURED", "T_RGB_GOURAUD",
    "T_RGB_TEXTURED", "T_RGB_GOURAUD_DYN", "T_RGB_TEXTURED_DYN", "T_FOG_GOURAUD", "T_FOG_TEXTURED",
    "T_FOG_XTEXTURED", "T_FOG_FLAT_TEXTURED", "T_FOG_XFLAT_TEXTURED", "T_FOG_GOURAUD_TEXTURED",
    "T_FOG_XGOURAUD_TEXTURED", "T_FOG_TRANSLUCENT_TEXTURED", "T_FOG_XTRANSLUCENT_TEXTURED",
    "T_FOG_LIGHTMAP_ADD", "T_FOG_TRANSLUCENT_GOURAUD", "T_FOG_TRANSGOUR_TEXTURED",
    "T_FOG_RGB_GOURAUD", "T_FOG_RGB_TEXTURED", "T_FOG_RGB_GOURAUD_DYN", "T_FOG_RGB_TEXTURED_DYN",
    "T_WATER_SPECIAL", "T_FOG_WATER_SPECIAL", "T_FOG_LIGHTMAP_TIMES", "T_GOURTEX_BUMP_ADD",
    "T_GOURTEX_BUMP_MOD", "T_GOURTEX_BUMP_MOD2X", "T_GOURTEX_BUMP_MOD4X", "T_RGBTEX_BUMP_ADD",
    "T_RGBTEX_BUMP_MOD", "T_RGBTEX_BUMP_MOD2X", "T_RGBTEX_BUMP_MOD4X", "T_TRANSTEX_BUMP_ADD",
    "T_LIGHTMAP_ADD_BUMP_ADD", "T_RIPPLE_BUMP", "T_GOURTEX_SPEC_ADD", "T_RGBTEX_SPEC_ADD",
    "T_GOURAUD_SPEC_ADD", "T_GOURTEX_MODULATE", "T_RGBTEX_MODULATE", "T_TEX_MODULATE",
    "T_FOG_GOURTEX_BUMP_ADD", "T_FOG_GOURTEX_BUMP_MOD", "T_FOG_GOURTEX_BUMP_MOD2X",
    "T_FOG_GOURTEX_BUMP_MOD4X", "T_FOG_RGBTEX_BUMP_ADD", "T_FOG_RGBTEX_BUMP_MOD",
    "T_FOG_RGBTEX_BUMP_MOD2X", "T_FOG_RGBTEX_BUMP_MOD4X", "T_FOG_TRANSTEX_BUMP_ADD",
    "T_FOG_LIGHTMAP_ADD_BUMP_ADD", "T_FOG_RIPPLE_BUMP", "T_FOG_GOURTEX_SPEC_ADD",
    "T_FOG_RGBTEX_SPEC_ADD", "T_FOG_GOURAUD_SPEC_ADD", "T_FOG_GOURTEX_MODULATE",
    "T_FOG_RGBTEX_MODULATE", "T_FOG_TEX_MODULATE", "T_TEX_BUMP_MOD", "T_TEX_BUMP_DOT3_MOD",
};

KSRenderMethod ksRenderMethods[KS_METHOD_TABLE_SIZE];
KSMaterial* ksMaterials = nullptr;
int32_t ksMaterialCount = 0;

const char* KS_MethodName(int32_t method)
{
    if (method < 0 || method >= KS_METHOD_COUNT)
        return "";
    return ksMethodNames[method];
}

static void KS_ClearMaterialRecords(KSMaterial* records, int32_t count)
{
    for (int32_t i = 0; i < count; i++) {
        records[i].red = 255.0f;
        records[i].green = 255.0f;
        records[i].blue = 255.0f;
    }
}

int32_t KS_AllocMaterials(int32_t count)
{
    KS_FreeMaterials();
    if (count <= 0)
        return 1;
    if ((size_t)count > (size_t)INT32_MAX / sizeof(KSMaterial))
        return KSERR_NOMEMORY;
    KSMaterial* table = (KSMaterial*)KS_ALLOC(sizeof(KSMaterial) * (size_t)count);
    if (!table)
        return KSERR_NOMEMORY;
    KS_ClearMaterialRecords(table, count);
    ksMaterials = table;
    ksMaterialCount = count;
    return 1;
}

void KS_FreeMaterials(void)
{
    if (ksMaterials)
        KS_FREE(ksMaterials);
    ksMaterials = nullptr;
    ksMaterialCount = 0;
}

int32_t KS_AddMaterial(const KSMaterial* record)
{
    if (!record)
        return KSERR_MATERIAL_NOT_FOUND;
    int32_t slot = -1;
    for (int32_t i = 0; i < ksMaterialCount; i++)
        if (ksMaterials[i].name[0] == 0) {
            slot = i;
            break;
        }
    if (slot < 0) {
        int32_t grown = ksMaterialCount + KS_MATERIAL_GROWTH;
        if ((size_t)grown > (size_t)INT32_MAX / sizeof(KSMaterial))
            return KSERR_NOMEMORY;
        KSMaterial* table = (KSMaterial*)KS_ALLOC(sizeof(KSMaterial) * (size_t)grown);
        if (!table)
            return KSERR_NOMEMORY;
        if (ksMaterials) {
            memcpy(table, ksMaterials, sizeof(KSMaterial) * (size_t)ksMaterialCount);
            KS_FREE(ksMaterials);
        }
        slot = ksMaterialCount;
        ksMaterials = table;
        ksMaterialCount = grown;
    }
    ksMaterials[slot] = *record;
    // The slot must stay findable and its name terminated, whatever the caller left in the record.
    ksMaterials[slot].name[KS_MATERIAL_NAME_SIZE - 1] = 0;
    return slot;
}

// Upper-case comparison of a caller's name with a stored (terminated, at most 19 characters) one.
static int KS_SameMaterialName(const char* stored, const char* name)
{
    for (int i = 0; i < KS_MATERIAL_NAME_SIZE; i++) {
        char a = stored[i], b = name[i];
        if (a >= 'a' && a <= 'z')
            a = (char)(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = (char)(b - 'a' + 'A');
        if (a != b)
            return 0;
        if (a == 0)
            return 1;
    }
    return 0;
}

int32_t KS_FindMaterial(const char* name)
{
    // An empty name would match every free slot; it names no material.
    if (!ksMaterials || ksMaterialCount <= 0 || !name || name[0] == 0)
        return KSERR_MATERIAL_NOT_FOUND;
    for (int32_t i = 0; i < ksMaterialCount; i++)
        if (ksMaterials[i].name[0] != 0 && KS_SameMaterialName(ksMaterials[i].name, name))
            return i;
    return KSERR_MATERIAL_NOT_FOUND;
}

int32_t KS_DeleteMaterial(const char* name)
{
    int32_t index = KS_FindMaterial(name);
    if (index < 0)
        return KSERR_MATERIAL_NOT_FOUND;
    ksMaterials[index].name[0] = 0;
    return KSERR_MATERIAL_DELETED;
}

KSMaterial* KS_GetMaterial(int32_t index)
{
    if (!ksMaterials || index < 0 || index >= ksMaterialCount)
        return nullptr;
    return &ksMaterials[index];
}

int32_t KS_SetMaterialName(KSMaterial* material, const char* name)
{
    if (!material)
        return 0;
    if (!name)
        name = "";
    int32_t length = 0;
    while (length < KS_MATERIAL_NAME_SIZE - 1 && name[length])
        length++;
    memcpy(material->name, name, (size_t)length);
    material->name[length] = 0;
    return length + 1;
}

void KS_SetMaterialMethod(KSMaterial* material, int32_t method)
{
    if (material)
        material->method = method;
}

void KS_SetMaterialTexture(KSMaterial* material, int32_t texture)
{
    if (material)
        material->textures[0] = texture;
}

void KS_SetMaterialColour(KSMaterial* material, float red, float green, float blue)
{
    if (!material)
        return;
    material->red = red;
    material->green = green;
    material->blue = blue;
}

void KS_SetMaterialAlpha(KSMaterial* material, uint8_t alpha)
{
    if (material)
        material->alpha = (float)alpha;
}

void KS_SetMaterialEnvMap(KSMaterial* material, uint8_t flag)
{
    if (material)
        material->envMap[0] = flag;
}

KSEntity* KS_MakeOverlayMaterial(KSOverlaySet* set, int32_t index)
{
    if (!set || !set->entries || index < 0 || index >= set->count)
        return nullptr;
    KSOverlay* entry = &set->entries[index];

    KSMaterial record;
    memset(&record, 0, sizeof(record));
    char name[64];
    char setName[sizeof(set->name)];
    memcpy(setName, set->name, sizeof(setName));
    setName[sizeof(setName) - 1] = 0;
    snprintf(name, sizeof(name), "%smat%i", setName, (int)index);
    KS_SetMaterialName(&record, name);
    KS_SetMaterialMethod(&record, T_XFLAT_TEXTURED);
    KS_SetMaterialColour(&record, 0.0f, 0.0f, 0.0f);
    KS_SetMaterialTexture(&record, entry->texture);
    KS_SetMaterialEnvMap(&record, 0);
    KS_SetMaterialAlpha(&record, 255);

    int32_t material = KS_AddMaterial(&record);
    if (material < 0)
        return nullptr;
    KSObject* object = KS_CreateSpriteObject(material);
    if (!object) {
        ksMaterials[material].name[0] = 0;
        return nullptr;
    }
    KSEntity* entity = KS_CreateEntity(object, "overlay");
    if (!entity) {
        KS_FreeObject(object);
        ksMaterials[material].name[0] = 0;
        return nullptr;
    }
    entry->material = material;
    entry->object = object;
    entry->entity = entity;
    return entity;
}
