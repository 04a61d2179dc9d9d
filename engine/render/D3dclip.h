// Polygon clipping: faces that cross the view volume are clipped in camera space against the near,
// side and far planes; new vertices are projected and the pieces drawn or queued like any face.
#ifndef D3DCLIP_H
#define D3DCLIP_H

#include <stdint.h>

struct KSClipVertex;

// Plane bits are the clip-code bits (KS_CLIP_*); a face is clipped from KS_CLIP_NEAR downwards.
// The intersection of edge a-b with one plane, with its clip code re-tested on the planes below.
void KS_ClipVertex(int32_t plane, const KSClipVertex* a, const KSClipVertex* b, KSClipVertex* out);
// Clips a triangle from the plane down and draws every pass of each piece, or queues it for a
// deferred method. The pieces carry every texture-coordinate set, so faces of one set and of
// several clip alike.
void KS_ClipTriangle(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c, int32_t plane);
// The same for one pass of a two-pass face of several coordinate sets.
void KS_ClipTriangleMultiPass(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c,
                              int32_t plane, int32_t pass);
// Wireframe faces: when any part of the triangle is in view, each visible edge (edge bits of the
// flags of the face being drawn) is clipped as a line and drawn.
void KS_ClipWireframe(const KSClipVertex* a, const KSClipVertex* b, const KSClipVertex* c, int32_t plane);

#endif
