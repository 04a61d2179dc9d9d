// Textures and images: the image file loaders, the choice of loader by extension, the converters
// into texture formats with the mipmap filters, the texture formats of the device with the
// height-map textures, and the texture manager with its one table of textures.
#ifndef KSTEXTURE_H
#define KSTEXTURE_H

#include <windows.h>
#include <d3d8.h>
#include <stdint.h>

struct KSFile;

// ======================================================================================== Images

// Largest image a loader accepts: a side of at most 32768 texels and at most 2^26 texels in all
// (256 MB as a 32-bit buffer), so that no size computation overflows, also with 32-bit pointers.
#define KS_IMAGE_MAX_SIDE 32768
#define KS_IMAGE_MAX_TEXELS (1 << 26)

// 1 when width x height is a size the loaders accept.
int32_t KS_ImageSizeOk(int64_t width, int64_t height);

// An 8-bit (D3DFMT_P8) image surface of width x height, locked, every row cleared to index 0.
// Null when the size is not accepted or the surface cannot be made. KS_UnlockSurface and
// KS_ReleaseSurface (or KS_DropImage8) end it.
IDirect3DSurface8* KS_CreateImage8(int32_t width, int32_t height, uint8_t** bits, int32_t* pitch);
void KS_DropImage8(IDirect3DSurface8* surface);  // unlock and release a surface of KS_CreateImage8

// The header of an IFF picture as KS_DecodeIFF found it.
struct KSIFFHeader {
    int32_t width;
    int32_t height;
    int32_t bytesPerRow;   // of one encoded row
    int32_t planes;
    int32_t compression;
    char formType[5];      // "ILBM" or "PBM "
};

// The loaders. Palettes are 768 bytes (256 x R, G, B, each 0..63); 32-bit buffers are
// width x height x 4 bytes R, G, B, A, rows top to bottom, KS_ALLOC'd and owned by the caller.
// Every loader closes its file before it returns; null means the file did not open or was not
// accepted, and nothing the loader allocated is left behind.
IDirect3DSurface8* KS_LoadPCX(const char* path, uint8_t* palette);
IDirect3DSurface8* KS_LoadLBM(const char* path, uint8_t* palette);
IDirect3DSurface8* KS_DecodeIFF(KSFile* file, KSIFFHeader* header, uint8_t* palette);
IDirect3DSurface8* KS_LoadBMP(const char* path, uint8_t* palette);
uint8_t* KS_LoadTGA(const char* path, int32_t* width, int32_t* height);
uint8_t* KS_LoadJPEG(const char* path, int32_t* width, int32_t* height);
IDirect3DTexture8* KS_LoadDDS(const char* path, int32_t* width, int32_t* height);

// ============================================================================= Dispatch, texels

// Kind of an image file by its extension (any case).
enum {
    KS_KIND_NONE = 0,
    KS_KIND_PCX = 1,
    KS_KIND_BLK = 3,
    KS_KIND_PAK = 4,
    KS_KIND_LBM = 5,  // .LBM and .IFF
    KS_KIND_BMP = 6,
    KS_KIND_3DF = 7,
    KS_KIND_JPG = 8,
    KS_KIND_TGA = 9,
    KS_KIND_DDS = 10
};
int32_t KS_TextureKind(const char* path);

// Format classes: what a texture format code asks of the device.
enum {
    KS_CLASS_UNKNOWN = -1,
    KS_CLASS_RGB = 0,          // RGB565 (or RGB555)
    KS_CLASS_RGBA4 = 4,        // RGBA4444
    KS_CLASS_PALETTE = 11,     // P8
    KS_CLASS_BUMP_L6V5U5 = 13,
    KS_CLASS_BUMP_X8L8V8U8 = 14,
    KS_CLASS_BUMP_V8U8 = 15,
    KS_CLASS_RGBA8 = 16        // RGBA8888
};

// One texel of 8-bit R, G, B, A packed into `format` by the channel placement table.
uint32_t KS_PackTexel(D3DFORMAT format, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha);
// Bytes of one texel of the format (1, 2, 3 or 4; 0 for compressed and unknown formats).
int32_t KS_FormatTexelBytes(D3DFORMAT format);

// Converters into a locked texture level. Class 11 copies palette indices; every other class packs
// the texels with the channel table into texels of the format's size.
// 8-bit indices through the global palette: black is transparent, and with texture format code 1
// the colour of opaque texels bleeds into their transparent neighbours.
void KS_Convert8(int32_t formatClass, D3DFORMAT format, const uint8_t* source, int32_t sourcePitch,
                 uint8_t* destination, int32_t destinationPitch, int32_t width, int32_t height);
// 8-bit colour indices plus an 8-bit alpha image of the same layout.
void KS_Convert8Alpha(int32_t formatClass, D3DFORMAT format, const uint8_t* colour, const uint8_t* alpha,
                      int32_t sourcePitch, uint8_t* destination, int32_t destinationPitch,
                      int32_t width, int32_t height);
// A 32-bit R, G, B, A buffer of width x height.
void KS_Convert32(int32_t formatClass, D3DFORMAT format, const uint8_t* buffer, uint8_t* destination,
                  int32_t destinationPitch, int32_t width, int32_t height);

// Mipmap filters.
#define KS_FILTER_POINT 0
#define KS_FILTER_BOX 1
// Level i of an 8-bit image: a new P8 surface of (width >> i) x (height >> i) (null when empty).
// The box filter averages the palette colours of each 2^i x 2^i block and takes the nearest palette
// entry, or in height mode the average red value itself.
IDirect3DSurface8* KS_MipLevel8(IDirect3DSurface8* image, int32_t level, int32_t filter,
                                const uint8_t* palette);
// Level i of a 32-bit buffer: a new KS_ALLOC'd buffer of (width >> i) x (height >> i) (null when
// empty); the box filter averages R, G, B and keeps each block's top-left alpha.
uint8_t* KS_MipLevel32(const uint8_t* buffer, int32_t width, int32_t height, int32_t level, int32_t filter);
// Index of the nearest palette entry (lowest index on a tie).
int32_t KS_NearestColor(int32_t red, int32_t green, int32_t blue, const uint8_t* palette);

// Set while a bump map is made: the 8-bit box filter yields heights instead of colours.
extern int32_t ksMipHeightMode;

// ======================================================================== Formats of the device

// One Direct3D format the device accepts as a texture.
struct KSTextureFormat {
    int32_t format;      // D3DFORMAT
    int32_t palettized;  // 1 for P8 and A8P8
    int32_t redBits;
    int32_t blueBits;
    int32_t greenBits;
    int32_t indexBits;   // 8 for the palettized formats
    int32_t alphaBits;
};

#define KS_TEXTURE_FORMAT_CANDIDATES 17

// Default format slots: indexes into ksTextureFormats, -1 for none.
enum {
    KS_SLOT_P8 = 0,
    KS_SLOT_RGB565,
    KS_SLOT_RGB555,
    KS_SLOT_RGBA4444,
    KS_SLOT_RGBA8888,
    KS_SLOT_L6V5U5,
    KS_SLOT_X8L8V8U8,
    KS_SLOT_V8U8,
    KS_SLOT_COUNT
};

extern KSTextureFormat ksTextureFormats[KS_TEXTURE_FORMAT_CANDIDATES];
extern int32_t ksTextureFormatCount;
extern int32_t ksDefaultFormats[KS_SLOT_COUNT];

// The Direct3D adapter and device type the engine's device was made with (format checks ask them).
void KS_TextureDeviceChoice(UINT* adapter, D3DDEVTYPE* type);
// Mode setting, once the device exists: which candidates the device takes, and the default slots.
void KS_EnumTextureFormats(void);
// Maps the current texture format code to a format class and writes the Direct3D format and its
// bytes per texel.
int32_t KS_ChooseTextureFormat(D3DFORMAT* format, int32_t* bytesPerTexel);
// A du/dv texture (class 13, 14 or 15) from the heights of an 8-bit image; stored in entry `handle`.
IDirect3DTexture8* KS_MakeBumpTexture(int32_t formatClass, IDirect3DSurface8* image, int32_t handle,
                                      const uint8_t* palette);
// An A8R8G8B8 normal map from the red channel of a 32-bit buffer; stored in entry `handle`.
IDirect3DTexture8* KS_MakeNormalTexture(const uint8_t* buffer, int32_t width, int32_t height,
                                        int32_t handle);

// ================================================================================ The manager

// One texture of the table; the handle is the entry's index.
struct KSTexture {
    char* name;                  // owned; null = free entry
    int32_t width;               // of the created texture, after fitting
    int32_t height;
    int32_t reserved;
    IDirect3DTexture8* texture;  // null when the load produced no image
    IDirect3DTexture8* texture2; // for a second device; nothing here fills it
    float uScale;                // 1/255: multiplier of integer texture coordinates
    float vScale;
    uint8_t libraryFlags;        // written by the object loader
    int32_t residencyA;
    int32_t lastUsed;            // frame of the last bind
    int32_t residencyB;
    uint8_t* palette;            // owned copy of the global palette (8-bit images), or null
    uint8_t stage;               // texture stage at creation
    uint8_t formatCode;          // texture format code at creation
    uint8_t libraryByte;         // written by the object loader
};

#define KS_RENDER_TEXTURES 32

// A render-target texture with its own depth surface, re-created after a device reset.
struct KSRenderTexture {
    int32_t inUse;
    char name[32];
    int32_t reserved;
    int32_t texture;                  // handle of its table entry
    int32_t stage;
    int32_t width;
    int32_t height;
    IDirect3DSurface8* depthSurface;  // D3DFMT_D16
};

extern KSTexture* ksTextures;
extern int32_t ksTextureCount;
extern KSRenderTexture ksRenderTextures[KS_RENDER_TEXTURES];

// The global palette (256 x R, G, B, 0..63): the palette of every 8-bit image made a texture.
extern uint8_t ksPalette[768];

// Engine-wide values the next creations read.
extern int32_t ksTextureFormatCode;   // KS_SetTextureFormat
extern int32_t ksTextureStage;        // KS_SetTextureStage
extern int32_t ksMipmapSetting;       // levels per texture; -1 automatic, 1 none
extern char ksTextureDirectory[256];  // prefix of texture file names ("" = none)

// Frame counter of the bind bookkeeping; KS_CountTextureFrame advances it once per frame.
extern int32_t ksTextureFrame;
void KS_CountTextureFrame(void);

void KS_SetTextureFormat(int32_t code);
void KS_SetTextureStage(int32_t stage);
void KS_SetMipmapSetting(int32_t levels);
void KS_SetTextureDirectory(const char* directory);

// Fits a size to the device's limits (powers of two from the maximum down, at least 8; square
// when the device asks). `buffer` selects the rule for 32-bit buffers.
void KS_FitTextureSize(int32_t width, int32_t height, int32_t buffer, int32_t* fittedWidth,
                       int32_t* fittedHeight);
// Nearest-neighbour resampling of a 32-bit buffer; frees the old buffer.
uint8_t* KS_ResizeBuffer(uint8_t* buffer, int32_t width, int32_t height, int32_t newWidth, int32_t newHeight);
// Levels of a texture of width x height under the mipmap setting.
int32_t KS_CountMipLevels(int32_t width, int32_t height);
// A managed texture of the device; a device that refuses it is the fatal "CreateSurface for texture
// failed". Locking a level gives its bits, size and pitch; a refused lock is the fatal "Lock failed
// while loading surface.". Both log the Direct3D error first when verbose.
IDirect3DTexture8* KS_CreateManagedTexture(int32_t width, int32_t height, int32_t levels, D3DFORMAT format);
uint8_t* KS_LockTextureLevel(IDirect3DTexture8* texture, UINT level, int32_t* width, int32_t* height,
                             int32_t* pitch);

int32_t KS_FindTexture(const char* name);
int32_t KS_DeleteTexture(const char* name);
void KS_ReleaseTexture(int32_t handle);
int32_t KS_AddTextureRGBA(const char* name, uint8_t* buffer, int32_t width, int32_t height);
int32_t KS_AddTextureDDS(const char* name, IDirect3DTexture8* texture, int32_t width, int32_t height);
int32_t KS_CreateRenderTexture(int32_t slot, int32_t width, int32_t height, const char* name);
// Around a device reset: render textures (default pool) and the created vertex and pixel shaders
// are released before it, and made again after it (shaders from their stored texts).
void KS_ReleaseRenderTextures(void);
void KS_RestoreRenderTextures(void);
void KSGFX_SelectTexture(int32_t handle);

// Procedure-table implementations (KSGFX_AddTexture ... KSGFX_SetTexturePalette).
int32_t KS_AddTextureD3D(const char* name, IDirect3DSurface8* surface);
int32_t KS_AddTexture2D3D(const char* name, IDirect3DSurface8* colour, IDirect3DSurface8* alpha);
void KS_AllocTexturesD3D(int32_t count);
void KS_FreeTexturesD3D(void);
int32_t KS_LoadTextureD3D(const char* name);
int32_t KS_LoadTexture2D3D(const char* name, const char* alphaName);
void KS_SetTexturePaletteD3D(int32_t handle, int32_t flag);

#endif
