// Materials: the one engine material table, the render-method ids with their names, and the
// render-method table that the render pipeline fills with drawing procedures.
#ifndef KSMAT_H
#define KSMAT_H

#include <stdint.h>

struct KSObject;
struct KSEntity;
struct KSVertexShader;
struct KSPixelShader;
struct KSMethodRow;

// Render-method ids. Faces of a material with method 0 are never drawn; ids 96 and above use
// extra texture-coordinate sets.
enum {
    NULL_TYPE = 0, T_WIREFRAME, T_CFLAT, T_FLAT, T_CGOURAUD, T_GOURAUD, T_LTEXTURED, T_LXTEXTURED,
    T_TEXTURED, T_WTEXTURED, T_XTEXTURED, T_XWTEXTURED, T_LCFLAT_TEXTURED, T_LXCFLAT_TEXTURED,
    T_CFLAT_TEXTURED, T_WCFLAT_TEXTURED, T_XCFLAT_TEXTURED, T_XWCFLAT_TEXTURED, T_FLAT_TEXTURED,
    T_WFLAT_TEXTURED, T_XFLAT_TEXTURED, T_XWFLAT_TEXTURED, T_LFLAT_TEXTURED, T_LXFLAT_TEXTURED,
    T_LCGOURAUD_TEXTURED, T_LXCGOURAUD_TEXTURED, T_CGOURAUD_TEXTURED8, T_WCGOURAUD_TEXTURED8,
    T_XCGOURAUD_TEXTURED8, T_XWCGOURAUD_TEXTURED8, T_LGOURAUD_TEXTURED, T_LXGOURAUD_TEXTURED,
    T_GOURAUD_TEXTURED8, T_WGOURAUD_TEXTURED8, T_XGOURAUD_TEXTURED8, T_XWGOURAUD_TEXTURED8,
    T_LTRANSLUCENT_TEXTURED, T_LXTRANSLUCENT_TEXTURED, T_TRANSLUCENT_TEXTURED,
    T_WTRANSLUCENT_TEXTURED, T_XTRANSLUCENT_TEXTURED, T_XWTRANSLUCENT_TEXTURED, T_PCGOURAUD,
    T_PGOURAUD, T_PTEXTURED, T_PWTEXTURED, T_PXTEXTURED, T_PXWTEXTURED, T_PCFLAT_TEXTURED,
    T_PWCFLAT_TEXTURED, T_PXCFLAT_TEXTURED, T_PXWCFLAT_TEXTURED, T_PFLAT_TEXTURED,
    T_PWFLAT_TEXTURED, T_PXFLAT_TEXTURED, T_PXWFLAT_TEXTURED, T_PCGOURAUD_TEXTURED,
    T_PWCGOURAUD_TEXTURED, T_PXCGOURAUD_TEXTURED, T_PXWCGOURAUD_TEXTURED, T_PGOURAUD_TEXTURED,
    T_PWGOURAUD_TEXTURED, T_PXGOURAUD_TEXTURED, T_PXWGOURAUD_TEXTURED, T_PTRANSLUCENT_TEXTURED,
    T_PWTRANSLUCENT_TEXTURED, T_PXTRANSLUCENT_TEXTURED, T_PXWTRANSLUCENT_TEXTURED,
    T_SOURCETRANSFORM, T_LIGHTMAP_ADD, T_LIGHTMAP_TIMES, T_TRANSLUCENT_GOURAUD,
    T_TRANSGOUR_TEXTURED, T_RGB_GOURAUD, T_RGB_TEXTURED, T_RGB_GOURAUD_DYN, T_RGB_TEXTURED_DYN,
    T_FOG_GOURAUD, T_FOG_TEXTURED, T_FOG_XTEXTURED, T_FOG_FLAT_TEXTURED, T_FOG_XFLAT_TEXTURED,
    T_FOG_GOURAUD_TEXTURED, T_FOG_XGOURAUD_TEXTURED, T_FOG_TRANSLUCENT_TEXTURED,
    T_FOG_XTRANSLUCENT_TEXTURED, T_FOG_LIGHTMAP_ADD, T_FOG_TRANSLUCENT_GOURAUD,
    T_FOG_TRANSGOUR_TEXTURED, T_FOG_RGB_GOURAUD, T_FOG_RGB_TEXTURED, T_FOG_RGB_GOURAUD_DYN,
    T_FOG_RGB_TEXTURED_DYN, T_WATER_SPECIAL, T_FOG_WATER_SPECIAL, T_FOG_LIGHTMAP_TIMES,
    T_GOURTEX_BUMP_ADD, T_GOURTEX_BUMP_MOD, T_GOURTEX_BUMP_MOD2X, T_GOURTEX_BUMP_MOD4X,
    T_RGBTEX_BUMP_ADD, T_RGBTEX_BUMP_MOD, T_RGBTEX_BUMP_MOD2X, T_RGBTEX_BUMP_MOD4X,
    T_TRANSTEX_BUMP_ADD, T_LIGHTMAP_ADD_BUMP_ADD, T_RIPPLE_BUMP, T_GOURTEX_SPEC_ADD,
    T_RGBTEX_SPEC_ADD, T_GOURAUD_SPEC_ADD, T_GOURTEX_MODULATE, T_RGBTEX_MODULATE, T_TEX_MODULATE,
    T_FOG_GOURTEX_BUMP_ADD, T_FOG_GOURTEX_BUMP_MOD, T_FOG_GOURTEX_BUMP_MOD2X,
    T_FOG_GOURTEX_BUMP_MOD4X, T_FOG_RGBTEX_BUMP_ADD, T_FOG_RGBTEX_BUMP_MOD, T_FOG_RGBTEX_BUMP_MOD2X,
    T_FOG_RGBTEX_BUMP_MOD4X, T_FOG_TRANSTEX_BUMP_ADD, T_FOG_LIGHTMAP_ADD_BUMP_ADD,
    T_FOG_RIPPLE_BUMP, T_FOG_GOURTEX_SPEC_ADD, T_FOG_RGBTEX_SPEC_ADD, T_FOG_GOURAUD_SPEC_ADD,
    T_FOG_GOURTEX_MODULATE, T_FOG_RGBTEX_MODULATE, T_FOG_TEX_MODULATE, T_TEX_BUMP_MOD,
    T_TEX_BUMP_DOT3_MOD
};

#define KS_METHOD_COUNT 132      // ids 0 .. 131
#define KS_METHOD_TABLE_SIZE 256 // entries above 131 stay empty
#define KS_MATERIAL_NAME_SIZE 20
#define KS_MATERIAL_GROWTH 100

// The name of every method id ("NULL_TYPE", "T_WIREFRAME", ...); KS_MethodName gives "" outside.
extern const char* const ksMethodNames[KS_METHOD_COUNT];
const char* KS_MethodName(int32_t method);

// One material record.
struct KSMaterial {
    char name[KS_MATERIAL_NAME_SIZE];   // unique; empty marks a free table slot
    int32_t method;                     // render-method id
    int32_t textures[8];                // texture handles of stages 0..7; 0 = none
    uint8_t options;                    // from the object file; not used in drawing
    int32_t optionValue;                // from the object file; not used in drawing
    uint8_t envMap[8];                  // per stage: 1 = coordinates from camera-space normals
    uint8_t envAxis[8];                 // per stage: projection of the generated coordinates, 0..2
    float red, green, blue;             // 0..255
    float alpha;                        // opacity, 0..255
    uint8_t texSets;                    // texture-coordinate sets of the face being drawn
    float bumpMatrix[4];                // 00, 01, 10, 11
    float bumpScale;
    float specular[5];                  // red, green, blue (0..255), a fourth value, power
    uint8_t doubleSided;                // 1 = no back-face removal
    char vertexShaderName[32];
    char pixelShaderName[32];
    KSVertexShader* vertexShader;
    KSPixelShader* pixelShader;
};

// One entry of the render-method table, indexed by method id.
struct KSRenderMethod {
    const KSMethodRow* procedure;   // render procedure on the current device; null = none yet
    uint8_t deferred;          // 1 = queued and drawn after all others, farthest first
    uint8_t passes;            // 1 or 2
    uint8_t extraTexture;      // second pass takes stage 3's texture instead of stage 2's
};

extern KSRenderMethod ksRenderMethods[KS_METHOD_TABLE_SIZE];

// The material table: a growable array; an index stays valid until the table is freed.
extern KSMaterial* ksMaterials;
extern int32_t ksMaterialCount;

// count zeroed records, each with red = green = blue = 255 (alpha 0). Any earlier table is freed.
// Returns 1, or KSERR_NOMEMORY.
int32_t KS_AllocMaterials(int32_t count);
void KS_FreeMaterials(void);
// Copies the record into the first free slot, growing the table by 100 when it is full. Returns
// the index, or KSERR_NOMEMORY when the table could not grow (the table is then unchanged).
int32_t KS_AddMaterial(const KSMaterial* record);
// Case-insensitive lookup; KSERR_MATERIAL_NOT_FOUND for a missing, null or empty name.
int32_t KS_FindMaterial(const char* name);
// Frees the named slot: KSERR_MATERIAL_DELETED, or KSERR_MATERIAL_NOT_FOUND.
int32_t KS_DeleteMaterial(const char* name);
// The record of a valid index, or null.
KSMaterial* KS_GetMaterial(int32_t index);

// Setters on a caller-held record.
// Copies the name with its terminator, cut to 19 characters; returns the bytes copied.
int32_t KS_SetMaterialName(KSMaterial* material, const char* name);
void KS_SetMaterialMethod(KSMaterial* material, int32_t method);
void KS_SetMaterialTexture(KSMaterial* material, int32_t texture);   // stage 0
void KS_SetMaterialColour(KSMaterial* material, float red, float green, float blue);
void KS_SetMaterialAlpha(KSMaterial* material, uint8_t alpha);
void KS_SetMaterialEnvMap(KSMaterial* material, uint8_t flag);       // stage 0

// A set of 2D overlays: each entry names a texture and receives the material, sprite object and
// entity that KS_MakeOverlayMaterial makes for it.
struct KSOverlay {
    int32_t texture;
    int32_t material;
    KSObject* object;
    KSEntity* entity;
};

struct KSOverlaySet {
    char name[32];
    int32_t count;
    KSOverlay* entries;
};

// Material "<set name>mat<index>" (T_XFLAT_TEXTURED, black, alpha 255) on the entry's texture, a
// sprite object and an entity "overlay" of it, stored in the entry. Returns the entity, or null
// for a bad index or when a step fails (nothing made by this call is left behind).
KSEntity* KS_MakeOverlayMaterial(KSOverlaySet* set, int32_t index);

#endif
