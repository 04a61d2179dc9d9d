// The rasteriser and pixel pipeline. Primitives are set up once when queued (fixed-point edge
// functions, attribute planes) and drawn when the queue is flushed, by two threads that own
// alternate bands of rows, so results never depend on the thread count. Per pixel: depth and
// stencil, the texture-stage combiner and specular (or a pixel shader), fog, alpha test, blending,
// the write.
#include "pixel.h"
#include "pshader.h"

#include <emmintrin.h>
#include <immintrin.h>
#include <math.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace mxd3d {

static const int kBandShift = 6;  // 64-row bands, alternating between the threads
// Targets up to this many rows are drawn by one thread while the next segment is recorded: their
// triangles are small, and two threads would mostly set up the same triangles twice.
static const int kOneBandRows = 400;
static std::atomic<bool> g_queued{true};

// ---- queued work ----------------------------------------------------------------------------
// A queued triangle: three vertices of the queue's vertex store (offsets), clockwise on screen,
// their snapped positions (1/256 pixel) and the pixels it may cover, clipped; by the rows a band
// thread passes over the triangles of the other band without reading their vertices.
struct QTri {
  QTri() {}  // left unset: submission writes every field
  uint32_t v[3];
  int state;
  int32_t x[3], y[3];
  int x0, x1, y0, y1;
  // Bounds holding at most 2 x 2 pixel centres: those covered, bit 2 (Y - y0) + (X - x0);
  // 0 for larger bounds, whose rows drawing finds.
  unsigned cover;
};

typedef int32_t V4 __attribute__((vector_size(16)));

// A triangle set up for drawing (by each thread that draws rows of it, identically).
struct Tri {
  int64_t A[3], B[3], C[3];  // E = A (X - minX) + B (Y - minY) + C >= 0 inside, pixel centres at integers
  int minX, maxX, minY, maxY;
  int64_t x[3], y[3], area;  // snapped positions, clockwise on screen, and twice the area
  const float* v[3];         // their vertices
  float x0, y0;  // reference point (vertex 0) for the attribute planes
  float planes[3 * (8 + 3 * MAX_STAGES + 2)];  // value at the reference, d/dx, d/dy
};

struct Line {
  uint32_t a, b;  // offsets in the vertex store
  int state;
};

struct Point {
  uint32_t v;
  int state;
};

struct ClearCmd {
  int state;
  RECT rect;
  DWORD flags;
  uint32_t color;
  float z;
  DWORD stencil;
};

enum { CMD_TRIS, CMD_LINE, CMD_POINT, CMD_CLEAR };

struct Cmd {
  int kind;
  int first, count;
};

// A run of queued work. The thread that records fills one segment; when it is full (or at a
// flush) it is published and the band threads draw it, each its own rows, in order.
struct Segment {
  std::vector<Cmd> cmds;
  std::vector<PixelState> states;
  std::vector<QTri> tris;
  VertexStore verts;
  std::vector<Line> lines;
  std::vector<Point> points;
  std::vector<ClearCmd> clears;
  uint64_t lastSerial = 0;  // serial of states.back(), 0 when unknown
  int bands = 2;            // band threads drawing it (1: the first draws every row)
  uint64_t after = 0;       // two bands: the segments the first thread finishes before the second draws this one
  // A one-band segment the first thread is drawing at a flush: the recording thread asks for the
  // rest to be shared, and the first thread answers with the item (Resume) from which it draws
  // only its band.
  std::atomic<bool> splitAsked{false};
  bool splitAnswered = false;  // under the raster's mutex, as splitAt
  uint64_t splitAt = 0;
  bool Empty() const { return cmds.empty(); }
  void Clear() {
    lastSerial = 0;
    splitAsked = false;
    splitAnswered = false;
    cmds.clear();
    states.clear();
    tris.clear();
    verts.clear();
    lines.clear();
    points.clear();
    clears.clear();
  }
};

struct Raster;
// Where drawing a segment starts or resumes: command cmd, its item number item (Resume(0, 0), the
// start: the first command runs from item 0 of its kind).
static inline uint64_t Resume(size_t cmd, int item) { return (uint64_t)cmd << 32 | (uint32_t)item; }
static void RunBand(Segment* g, int band, int bands, uint64_t from = 0, Raster* watch = nullptr);

struct Raster {
  Segment* cur = nullptr;
  std::vector<Segment*> published;  // in order; published[i - base] is segment number i
  uint64_t base = 0, count = 0;     // numbers of the first kept and of the next segment
  uint64_t done[2] = {0, 0};        // segments each band thread has finished
  uint64_t taken = 0;               // segments the first band thread has begun
  uint64_t lastOneBand = 0;         // the number of the last one-band segment published, plus one
  std::vector<Segment*> spare;
  std::thread workers[2];
  std::mutex mu;
  std::condition_variable work[2], finished;  // work: one for each band thread
  bool quit = false;
  bool started = false;
  std::vector<int32_t> snapX, snapY;  // the recording thread's snapped positions of a draw
  std::vector<uint8_t> snapOk;
  std::vector<Segment*> joined;  // segments the recording thread helps to draw at a flush
  std::atomic<bool> firstWaits{false};  // the first band thread waits for work
};

static void WorkerMain(Raster* r, int band) {
  for (;;) {
    Segment* g;
    {
      std::unique_lock<std::mutex> lk(r->mu);
      if (band == 0) r->firstWaits.store(true, std::memory_order_relaxed);
      r->work[band].wait(lk, [&] { return r->quit || r->done[band] < r->count; });
      if (band == 0) r->firstWaits.store(false, std::memory_order_relaxed);
      if (r->quit) return;
      const uint64_t number = r->done[band];
      g = r->published[(size_t)(number - r->base)];
      if (band == 0) r->taken = number + 1;
      // Where one band thread draws every row, the other must not draw those rows out of order:
      // a one-band segment waits for the second thread to finish the segments before it, and a
      // two-band one after a one-band segment waits for the first thread to finish that.
      if (band == 0 && g->bands == 1) r->finished.wait(lk, [&] { return r->done[1] >= number; });
      if (band == 1 && g->bands == 2) r->finished.wait(lk, [&] { return r->done[0] >= g->after; });
    }
    // A one-band segment may be shared at a flush.
    if (band < g->bands) RunBand(g, band, g->bands, 0, g->bands == 1 ? r : nullptr);
    {
      std::lock_guard<std::mutex> lk(r->mu);
      r->done[band]++;
    }
    r->finished.notify_all();
  }
}

Raster* RasterCreate() {
  Raster* r = new Raster();
  r->cur = new Segment();
  return r;
}

void RasterDestroy(Raster* r) {
  if (!r) return;
  RasterFlush(r);
  if (r->started) {
    {
      std::lock_guard<std::mutex> lk(r->mu);
      r->quit = true;
    }
    for (std::condition_variable& c : r->work) c.notify_all();
    for (std::thread& t : r->workers) t.join();
  }
  for (Segment* g : r->spare) delete g;
  delete r->cur;
  delete r;
}

void RasterSetThreads(Raster*, int) {}
bool RasterQueued() { return g_queued.load(std::memory_order_relaxed); }

// Hands the current segment to the band threads (two threads), or draws it here (one thread).
static void Publish(Raster* r) {
  Segment* g = r->cur;
  if (g->Empty()) return;
  if (MarlixD3D8GetThreads() < 2 && !r->started) {
    RunBand(g, 0, 1);
    g->Clear();
    return;
  }
  g->bands = 1;
  for (const PixelState& s : g->states)
    if (s.clipY1 > kOneBandRows) g->bands = 2;
  for (const ClearCmd& c : g->clears)
    if (c.rect.bottom > kOneBandRows) g->bands = 2;
  if (!r->started) {
    r->workers[0] = std::thread(WorkerMain, r, 0);
    r->workers[1] = std::thread(WorkerMain, r, 1);
    r->started = true;
  }
  Segment* next = nullptr;
  bool wakeSecond;
  {
    std::lock_guard<std::mutex> lk(r->mu);
    // The second thread has nothing to draw in a one-band segment: when it waits for work it
    // counts as done with it at once, and is not woken.
    bool skip = g->bands == 1 && r->done[1] == r->count;
    if (g->bands == 1) r->lastOneBand = r->count + 1;
    g->after = r->lastOneBand;
    r->published.push_back(g);
    r->count++;
    if (skip) r->done[1]++;
    wakeSecond = r->done[1] < r->count;
    // Segments both threads have finished can be filled again.
    uint64_t low = std::min(r->done[0], r->done[1]);
    while (r->base < low) {
      r->spare.push_back(r->published.front());
      r->published.erase(r->published.begin());
      r->base++;
    }
    if (!r->spare.empty()) {
      next = r->spare.back();
      r->spare.pop_back();
    }
  }
  r->work[0].notify_all();
  if (wakeSecond) r->work[1].notify_all();
  if (!next) next = new Segment();
  next->Clear();
  r->cur = next;
}

// Publishes the current segment once it holds a good amount of work.
static Segment* Current(Raster* r) {
  Segment* g = r->cur;
  // Small enough that the threads start drawing while the frame is still being recorded. While
  // the first band thread waits for work (drawing is ahead of recording), a quarter of that: it
  // starts sooner, and a flush finds less left to draw.
  const size_t most = r->firstWaits.load(std::memory_order_relaxed) ? 512 : 2048;
  if (g->tris.size() + g->clears.size() * 512 + g->lines.size() + g->points.size() > most || g->verts.size() > 8192 * 12)
    Publish(r);
  return r->cur;
}

void RasterFlush(Raster* r) {
  Publish(r);
  if (!r->started) return;
  std::unique_lock<std::mutex> lk(r->mu);
  // When the second thread has passed over every segment, those the first has not finished are
  // all one-band (the second draws a two-band segment only after the first has finished the
  // segments before it). This thread shares them: it draws the second band of the rest of the one
  // the first thread is drawing, from where that one answers, and then of each it has not begun.
  const uint64_t from = r->taken;
  std::vector<Segment*>& joined = r->joined;
  joined.clear();
  Segment* busy = nullptr;
  if (r->done[1] == r->count) {
    if (r->done[0] < from) {
      busy = r->published[(size_t)(from - 1 - r->base)];
      if (busy->bands == 1)
        busy->splitAsked.store(true, std::memory_order_release);
      else
        busy = nullptr;
    }
    for (uint64_t i = from; i < r->count; ++i) {
      Segment* g = r->published[(size_t)(i - r->base)];
      if (g->bands != 1) break;
      g->bands = 2;
      joined.push_back(g);
    }
  }
  if (busy || !joined.empty()) {
    r->finished.wait(lk, [&] { return r->done[0] >= from || (busy && busy->splitAnswered); });
    const bool split = busy && busy->splitAnswered;
    const uint64_t at = split ? busy->splitAt : 0;
    lk.unlock();
    if (split) RunBand(busy, 1, 2, at);
    for (Segment* g : joined) RunBand(g, 1, 2);
    lk.lock();
  }
  r->finished.wait(lk, [&] { return r->done[0] == r->count && r->done[1] == r->count; });
  while (!r->published.empty()) {
    r->spare.push_back(r->published.front());
    r->published.erase(r->published.begin());
    r->base++;
  }
}

static int AddState(Segment* r, const PixelState& s, uint64_t serial = 0) {
  if (!r->states.empty() && ((serial && serial == r->lastSerial) || memcmp(&r->states.back(), &s, sizeof(s)) == 0)) {
    r->lastSerial = serial;
    return (int)r->states.size() - 1;
  }
  r->states.push_back(s);
  r->lastSerial = serial;
  return (int)r->states.size() - 1;
}

// Queues the count items of one kind from first on, joining the last command when it runs on
// into them.
static void AddCmd(Segment* r, int kind, int first, int count = 1) {
  if (count <= 0) return;
  if (!r->cmds.empty() && r->cmds.back().kind == kind && r->cmds.back().first + r->cmds.back().count == first) {
    r->cmds.back().count += count;
    return;
  }
  r->cmds.push_back(Cmd{kind, first, count});
}

// Snapped positions are whole 1/256 pixels within 2^30 of the origin (4e6 pixels, beyond any
// target: the vertex stage clips to the view and drops pre-transformed positions past 1e6). Their
// differences then fit 31 bits, and twice a triangle's area and its edge functions fit 63.
static const float kSnapLimit = 4e6f;

// Nearest 1/256 of a pixel of positions within the limit.
static inline int32_t Snap(float v) {
  float f = v * 256.0f + 0.5f;
  int32_t i = (int32_t)f;
  return (float)i > f ? i - 1 : i;
}

// Snaps a stored vertex's position; false for positions past the limit (or not numbers), which
// make no pixels.
static inline bool SnapVertex(const float* v, int32_t& x, int32_t& y) {
  if (!(fabsf(v[RV_X]) < kSnapLimit) || !(fabsf(v[RV_Y]) < kSnapLimit)) return false;
  x = Snap(v[RV_X]);
  y = Snap(v[RV_Y]);
  return true;
}

// SnapVertex for the n stored vertices from v on (words floats each), four at a time: the
// conversions give exactly those of Snap, and lanes past the limit are only marked. True when
// every vertex snapped.
static bool SnapVertices(const float* v, size_t words, size_t n, int32_t* sx, int32_t* sy, uint8_t* ok) {
  size_t i = 0;
  bool all = true;
  const __m128 lim = _mm_set1_ps(kSnapLimit), absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 scale = _mm_set1_ps(256.0f), half = _mm_set1_ps(0.5f);
  auto snap4 = [&](__m128 f) {
    f = _mm_add_ps(_mm_mul_ps(f, scale), half);
    __m128i k = _mm_cvttps_epi32(f);
    // Truncation rounds up below zero: one less where the integer lies above the value.
    return _mm_add_epi32(k, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(k), f)));
  };
  for (; i + 4 <= n; i += 4) {
    const float* p = v + i * words;
    __m128 x = _mm_setr_ps(p[RV_X], p[words + RV_X], p[2 * words + RV_X], p[3 * words + RV_X]);
    __m128 y = _mm_setr_ps(p[RV_Y], p[words + RV_Y], p[2 * words + RV_Y], p[3 * words + RV_Y]);
    // Not-a-number fails the comparison too.
    __m128 in = _mm_and_ps(_mm_cmplt_ps(_mm_and_ps(x, absMask), lim), _mm_cmplt_ps(_mm_and_ps(y, absMask), lim));
    _mm_storeu_si128((__m128i*)(sx + i), snap4(x));
    _mm_storeu_si128((__m128i*)(sy + i), snap4(y));
    const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(_mm_castps_si128(in), _mm_setzero_si128()), _mm_setzero_si128());
    const uint32_t marks = (uint32_t)_mm_cvtsi128_si32(bytes) & 0x01010101u;
    memcpy(ok + i, &marks, 4);
    all &= marks == 0x01010101u;
  }
  for (; i < n; ++i) all &= ok[i] = SnapVertex(v + i * words, sx[i], sy[i]);
  return all;
}

// Twice the area of a triangle of snapped positions: positive when it runs clockwise on screen,
// as the edge functions take it.
static inline int64_t TwiceArea(int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  return (x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0);
}

// Edge functions of a clockwise triangle, from the pixel centre (X0, Y0): E(X, Y) =
// A (X - X0) + B (Y - Y0) + C is at least zero at the pixel centres (X, Y) it covers, pixel centres
// on an edge belonging to it when that is a top or a left edge.
static inline void EdgeFunctions(const int64_t* x, const int64_t* y, int64_t X0, int64_t Y0, int64_t* A, int64_t* B,
                                 int64_t* C) {
  static const int kNext[3] = {1, 2, 0};
#pragma GCC unroll 3
  for (int e = 0; e < 3; ++e) {
    int a = e, b = kNext[e];
    int64_t dx = x[b] - x[a], dy = y[b] - y[a];
    A[e] = -dy * 256;
    B[e] = dx * 256;
    C[e] = dy * (x[a] - 256 * X0) - dx * (y[a] - 256 * Y0);
    bool topLeft = dy < 0 || (dy == 0 && dx > 0);
    if (!topLeft) C[e] -= 1;
  }
}

// A state's clip rectangle (half open).
struct ClipRect {
  int x0, y0, x1, y1;
};

// Bounds the pixels a clockwise triangle of snapped positions may cover (b: first and last column,
// first and last row), and for bounds of at most 2 x 2 pixel centres those it covers (QTri::cover,
// else 0); false when it covers no pixel centre inside the clip rectangle.
static inline bool BoundTriangle(const ClipRect& s, const int64_t* x, const int64_t* y, int64_t b[4], unsigned& cover) {
  int64_t minx = std::min(x[0], std::min(x[1], x[2])), maxx = std::max(x[0], std::max(x[1], x[2]));
  int64_t miny = std::min(y[0], std::min(y[1], y[2])), maxy = std::max(y[0], std::max(y[1], y[2]));
  // The first and last pixel centres inside the bounds (arithmetic shifts round down).
  int64_t bx0 = (minx + 255) >> 8, bx1 = maxx >> 8;
  int64_t by0 = (miny + 255) >> 8, by1 = maxy >> 8;
  if (bx0 < s.x0) bx0 = s.x0;
  if (by0 < s.y0) by0 = s.y0;
  if (bx1 > s.x1 - 1) bx1 = s.x1 - 1;
  if (by1 > s.y1 - 1) by1 = s.y1 - 1;
  if (bx0 > bx1 || by0 > by1) return false;
  cover = 0;
  if (bx1 - bx0 <= 1 && by1 - by0 <= 1) {
    // Most triangles of a small target: their few centres are tested here, once, and a triangle
    // covering none is left out of the queue.
    int64_t A[3], B[3], C[3];
    EdgeFunctions(x, y, bx0, by0, A, B, C);
    unsigned in[4] = {1, 1, 1, 1};
#pragma GCC unroll 3
    for (int e = 0; e < 3; ++e) {
      const int64_t k = C[e];
      in[0] &= k >= 0;
      in[1] &= k + A[e] >= 0;
      in[2] &= k + B[e] >= 0;
      in[3] &= k + A[e] + B[e] >= 0;
    }
    const unsigned inside = (bx1 > bx0 ? 3u : 1u) * (by1 > by0 ? 5u : 1u);  // the centres in the bounds
    cover = (in[0] | in[1] << 1 | in[2] << 2 | in[3] << 3) & inside;
    if (!cover) return false;
  }
  b[0] = bx0;
  b[1] = bx1;
  b[2] = by0;
  b[3] = by1;
  return true;
}

// Four triangles prepared for the queue at once, lane by lane as one is by TwiceArea and
// BoundTriangle: their vertex numbers and positions (clockwise), bounds and covered centres.
struct FourTriangles {
  alignas(32) int64_t x[3][4], y[3][4];
  alignas(32) int64_t bound[4][4];  // first and last column, first and last row
  alignas(32) int64_t cover[4];
  uint32_t v[3][4];
};

MARLIX_AVX2_BEGIN
namespace avx2 {

static inline __m256i Min64(__m256i a, __m256i b) { return _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi64(a, b)); }
static inline __m256i Max64(__m256i a, __m256i b) { return _mm256_blendv_epi8(b, a, _mm256_cmpgt_epi64(a, b)); }
// v >> 8 rounded down, for |v| < 2^30 (AVX2 shifts 64-bit lanes only logically).
static inline __m256i Shift8(__m256i v) {
  const __m256i bias = _mm256_set1_epi64x((int64_t)1 << 30);
  return _mm256_sub_epi64(_mm256_srli_epi64(_mm256_add_epi64(v, bias), 8), _mm256_set1_epi64x((int64_t)1 << 22));
}

// Whether the twelve vertex numbers from t are all below n.
static inline bool Below(const uint32_t* t, size_t n) {
  // Unsigned order through the signed compares.
  const __m256i flip = _mm256_set1_epi32((int)0x80000000u);
  const __m256i limit = _mm256_xor_si256(_mm256_set1_epi32((int)(uint32_t)std::min<size_t>(n, 0xffffffffu)), flip);
  const __m256i first = _mm256_xor_si256(_mm256_loadu_si256((const __m256i*)t), flip);
  const __m256i last = _mm256_xor_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i*)(t + 8))), flip);
  const int below = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(limit, first))) |
                    (_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(limit, last))) & 15) << 8;
  return below == 0xfff;
}

// The four triangles of the vertex numbers t[0..11], all of them snapped: the lanes to queue.
// Snapped positions lie within 2^30 of the origin, so their differences, and a pixel centre's
// offset from them, fit the 32 bits of the products.
static int PrepareFour(const ClipRect& clip, const int32_t* X, const int32_t* Y, const uint32_t* t, FourTriangles& f) {
  auto at = [&](const int32_t* P, int k) {
    return _mm256_setr_epi64x(P[t[k]], P[t[3 + k]], P[t[6 + k]], P[t[9 + k]]);
  };
  const __m256i x0 = at(X, 0), y0 = at(Y, 0), bx = at(X, 1), by = at(Y, 1), cx = at(X, 2), cy = at(Y, 2);
  const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi64x(1), none = _mm256_set1_epi64x(-1);
  const __m256i area = _mm256_sub_epi64(_mm256_mul_epi32(_mm256_sub_epi64(bx, x0), _mm256_sub_epi64(cy, y0)),
                                        _mm256_mul_epi32(_mm256_sub_epi64(cx, x0), _mm256_sub_epi64(by, y0)));
  // Clockwise: the second and third vertices swap places where the area is negative.
  const __m256i swap = _mm256_cmpgt_epi64(zero, area);
  const int swapped = _mm256_movemask_pd(_mm256_castsi256_pd(swap));
  const __m256i x1 = _mm256_blendv_epi8(bx, cx, swap), x2 = _mm256_blendv_epi8(cx, bx, swap);
  const __m256i y1 = _mm256_blendv_epi8(by, cy, swap), y2 = _mm256_blendv_epi8(cy, by, swap);
  // Bounds, clipped.
  const __m256i bx0 = Max64(Shift8(_mm256_add_epi64(Min64(x0, Min64(x1, x2)), _mm256_set1_epi64x(255))),
                            _mm256_set1_epi64x(clip.x0));
  const __m256i bx1 = Min64(Shift8(Max64(x0, Max64(x1, x2))), _mm256_set1_epi64x(clip.x1 - 1));
  const __m256i by0 = Max64(Shift8(_mm256_add_epi64(Min64(y0, Min64(y1, y2)), _mm256_set1_epi64x(255))),
                            _mm256_set1_epi64x(clip.y0));
  const __m256i by1 = Min64(Shift8(Max64(y0, Max64(y1, y2))), _mm256_set1_epi64x(clip.y1 - 1));
  const __m256i empty = _mm256_or_si256(_mm256_cmpgt_epi64(bx0, bx1), _mm256_cmpgt_epi64(by0, by1));
  const __m256i two = _mm256_set1_epi64x(2);
  const __m256i small = _mm256_and_si256(_mm256_cmpgt_epi64(two, _mm256_sub_epi64(bx1, bx0)),
                                         _mm256_cmpgt_epi64(two, _mm256_sub_epi64(by1, by0)));
  // The edge functions from (bx0, by0), as EdgeFunctions makes them, at the four centres.
  const __m256i ox = _mm256_slli_epi64(bx0, 8), oy = _mm256_slli_epi64(by0, 8);
  const __m256i xs[3] = {x0, x1, x2}, ys[3] = {y0, y1, y2};
  __m256i in[4] = {none, none, none, none};
  for (int e = 0; e < 3; ++e) {
    const __m256i xa = xs[e], ya = ys[e], xb = xs[(e + 1) % 3], yb = ys[(e + 1) % 3];
    const __m256i dx = _mm256_sub_epi64(xb, xa), dy = _mm256_sub_epi64(yb, ya);
    const __m256i topLeft = _mm256_or_si256(_mm256_cmpgt_epi64(zero, dy),
                                            _mm256_and_si256(_mm256_cmpeq_epi64(dy, zero), _mm256_cmpgt_epi64(dx, zero)));
    __m256i k = _mm256_sub_epi64(_mm256_mul_epi32(dy, _mm256_sub_epi64(xa, ox)), _mm256_mul_epi32(dx, _mm256_sub_epi64(ya, oy)));
    k = _mm256_add_epi64(k, _mm256_andnot_si256(topLeft, none));
    const __m256i A = _mm256_slli_epi64(_mm256_sub_epi64(zero, dy), 8), B = _mm256_slli_epi64(dx, 8);
    in[0] = _mm256_and_si256(in[0], _mm256_cmpgt_epi64(k, none));
    in[1] = _mm256_and_si256(in[1], _mm256_cmpgt_epi64(_mm256_add_epi64(k, A), none));
    in[2] = _mm256_and_si256(in[2], _mm256_cmpgt_epi64(_mm256_add_epi64(k, B), none));
    in[3] = _mm256_and_si256(in[3], _mm256_cmpgt_epi64(_mm256_add_epi64(_mm256_add_epi64(k, A), B), none));
  }
  // The centres in the bounds: the second column and row where the bounds hold them.
  const __m256i col = _mm256_cmpgt_epi64(bx1, bx0), row = _mm256_cmpgt_epi64(by1, by0);
  __m256i cover = _mm256_and_si256(in[0], one);
  cover = _mm256_or_si256(cover, _mm256_and_si256(_mm256_and_si256(in[1], col), _mm256_set1_epi64x(2)));
  cover = _mm256_or_si256(cover, _mm256_and_si256(_mm256_and_si256(in[2], row), _mm256_set1_epi64x(4)));
  cover = _mm256_or_si256(cover,
                          _mm256_and_si256(_mm256_and_si256(in[3], _mm256_and_si256(col, row)), _mm256_set1_epi64x(8)));
  cover = _mm256_and_si256(cover, small);
  const __m256i drop = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi64(area, zero), empty),
                                       _mm256_andnot_si256(_mm256_cmpgt_epi64(cover, zero), small));
  for (int k = 0; k < 3; ++k) {
    _mm256_store_si256((__m256i*)f.x[k], xs[k]);
    _mm256_store_si256((__m256i*)f.y[k], ys[k]);
  }
  _mm256_store_si256((__m256i*)f.bound[0], bx0);
  _mm256_store_si256((__m256i*)f.bound[1], bx1);
  _mm256_store_si256((__m256i*)f.bound[2], by0);
  _mm256_store_si256((__m256i*)f.bound[3], by1);
  _mm256_store_si256((__m256i*)f.cover, cover);
  for (int i = 0; i < 4; ++i) {
    const bool s = (swapped >> i) & 1;
    f.v[0][i] = t[3 * i];
    f.v[1][i] = t[3 * i + (s ? 2 : 1)];
    f.v[2][i] = t[3 * i + (s ? 1 : 2)];
  }
  return ~_mm256_movemask_pd(_mm256_castsi256_pd(drop)) & 15;
}

}  // namespace avx2
MARLIX_AVX2_END

// The vertices, area and bounds of a queued triangle.
static void SetupVertices(const QTri& q, const float* store, Tri& t) {
  for (int i = 0; i < 3; ++i) {
    t.x[i] = q.x[i];
    t.y[i] = q.y[i];
    t.v[i] = store + q.v[i];
  }
  t.area = TwiceArea(q.x[0], q.y[0], q.x[1], q.y[1], q.x[2], q.y[2]);
  t.minX = q.x0;
  t.maxX = q.x1;
  t.minY = q.y0;
  t.maxY = q.y1;
}

// Attribute planes of a triangle from its snapped positions. For the span loops (spans) the planes
// they never read are left out: 1/w, and the specular colour and fog factor of a state without them.
static void SetupPlanes(const PixelState& s, Tri& t, bool spans) {
  const int64_t* x = t.x;
  const int64_t* y = t.y;
  const float* const* v = t.v;
  float fx[3], fy[3];
  for (int i = 0; i < 3; ++i) {
    fx[i] = (float)x[i] / 256.0f;
    fy[i] = (float)y[i] / 256.0f;
  }
  t.x0 = fx[0];
  t.y0 = fy[0];
  const float ex1 = fx[1] - fx[0], ey1 = fy[1] - fy[0], ex2 = fx[2] - fx[0], ey2 = fy[2] - fy[0];
  const float inv = 1.0f / (float)((double)t.area / 65536.0);
  float* p = t.planes;
  // Attribute k from its values at the three vertices.
  auto plane = [&](int k, float a0, float a1, float a2) __attribute__((always_inline)) {
    const float d1 = a1 - a0, d2 = a2 - a0;
    p[3 * k] = a0;
    p[3 * k + 1] = (d1 * ey2 - d2 * ey1) * inv;
    p[3 * k + 2] = (d2 * ex1 - d1 * ex2) * inv;
  };
  // Flat shading: the colours of the first vertex (the fog factor is always interpolated).
  const float* c[3] = {v[0], s.flat ? v[0] : v[1], s.flat ? v[0] : v[2]};
  plane(AT_Z, v[0][RV_Z], v[1][RV_Z], v[2][RV_Z]);
  if (!spans) plane(AT_RHW, v[0][RV_RHW], v[1][RV_RHW], v[2][RV_RHW]);
  {
    // The four diffuse channels at once, in the same operations, stored as value, d/dx, d/dy each.
    const __m128 a0 = _mm_loadu_ps(c[0] + RV_DIFF);
    const __m128 d1 = _mm_sub_ps(_mm_loadu_ps(c[1] + RV_DIFF), a0), d2 = _mm_sub_ps(_mm_loadu_ps(c[2] + RV_DIFF), a0);
    const __m128 vinv = _mm_set1_ps(inv);
    const __m128 X = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(d1, _mm_set1_ps(ey2)), _mm_mul_ps(d2, _mm_set1_ps(ey1))), vinv);
    const __m128 Y = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(d2, _mm_set1_ps(ex1)), _mm_mul_ps(d1, _mm_set1_ps(ex2))), vinv);
    const __m128 vx0 = _mm_unpacklo_ps(a0, X), vx1 = _mm_unpackhi_ps(a0, X);  // v0 x0 v1 x1, v2 x2 v3 x3
    float* q = p + 3 * AT_DIFF;
    _mm_storeu_ps(q, _mm_shuffle_ps(vx0, _mm_shuffle_ps(Y, vx0, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 0, 1, 0)));
    _mm_storeu_ps(q + 4, _mm_shuffle_ps(_mm_shuffle_ps(vx0, Y, _MM_SHUFFLE(1, 1, 3, 3)), vx1, _MM_SHUFFLE(1, 0, 2, 0)));
    _mm_storeu_ps(q + 8, _mm_shuffle_ps(_mm_shuffle_ps(Y, vx1, _MM_SHUFFLE(2, 2, 2, 2)),
                                        _mm_shuffle_ps(vx1, Y, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0)));
  }
  if (!spans || s.specular || s.fog) {
    for (int k = 0; k < 3; ++k) plane(AT_SPEC + k, c[0][RV_SPEC + k], c[1][RV_SPEC + k], c[2][RV_SPEC + k]);
    plane(AT_SPEC + 3, v[0][RV_SPEC + 3], v[1][RV_SPEC + 3], v[2][RV_SPEC + 3]);
  }
  // The texture coordinates, each taken over w (times 1/w); the usual stage counts unrolled.
  auto tex = [&](int k) __attribute__((always_inline)) {
    plane(AT_TEX + k, v[0][RV_TEX + k] * v[0][RV_RHW], v[1][RV_TEX + k] * v[1][RV_RHW], v[2][RV_TEX + k] * v[2][RV_RHW]);
  };
  switch (s.texStages) {
    case 0: break;
    case 1:
      for (int k = 0; k < 3; ++k) tex(k);
      break;
    case 2:
      for (int k = 0; k < 6; ++k) tex(k);
      break;
    default:
      for (int k = 0; k < 3 * s.texStages; ++k) tex(k);
  }
}

VertexStore& RasterVertexStore(Raster* r) { return Current(r)->verts; }

void RasterSubmitTriangles(Raster* rr, const PixelState& state, uint64_t serial, size_t first, const uint32_t* tris,
                           int count) {
  if (count <= 0) return;
  Segment* r = rr->cur;
  int si = AddState(r, state, serial);
  // Each stored vertex is snapped once, whatever the number of triangles that share it; numbers
  // past the store and vertices that do not snap leave their triangles out.
  size_t words = (size_t)StoredWords(state), size = r->verts.size();
  size_t n = size > first ? (size - first) / words : 0;
  std::vector<int32_t>& sx = rr->snapX;
  std::vector<int32_t>& sy = rr->snapY;
  std::vector<uint8_t>& ok = rr->snapOk;
  if (sx.size() < n) {
    sx.resize(n);
    sy.resize(n);
    ok.resize(n);
  }
  const bool allSnapped = SnapVertices(r->verts.data() + first, words, n, sx.data(), sy.data(), ok.data());
  // Room for every triangle first (growing as push_back does), so that appending is only a copy.
  // The kept triangles all join one command.
  std::vector<QTri>& tv = r->tris;
  const size_t base = tv.size();
  if (tv.capacity() < base + (size_t)count) tv.reserve(std::max(2 * tv.capacity(), base + (size_t)count));
  const int32_t* X = sx.data();
  const int32_t* Y = sy.data();
  const uint8_t* good = ok.data();
  // Held here: the triangles written could otherwise be taken to change the state's integers.
  const ClipRect clip = {state.clipX0, state.clipY0, state.clipX1, state.clipY1};
  // Written in place, field by field: a triangle built aside and copied in whole is read back in
  // wider pieces than it was written, which stalls.
  auto queue = [&](uint32_t a, uint32_t b, uint32_t c, const int64_t* x, const int64_t* y, const int64_t* bound,
                   unsigned cover) __attribute__((always_inline)) {
    QTri& q = tv.emplace_back();
    q.v[0] = (uint32_t)(first + a * words);
    q.v[1] = (uint32_t)(first + b * words);
    q.v[2] = (uint32_t)(first + c * words);
    q.state = si;
    q.x[0] = (int32_t)x[0];
    q.x[1] = (int32_t)x[1];
    q.x[2] = (int32_t)x[2];
    q.y[0] = (int32_t)y[0];
    q.y[1] = (int32_t)y[1];
    q.y[2] = (int32_t)y[2];
    q.x0 = (int)bound[0];
    q.x1 = (int)bound[1];
    q.y0 = (int)bound[2];
    q.y1 = (int)bound[3];
    q.cover = cover;
  };
  auto one = [&](const uint32_t* t) {
    uint32_t a = t[0], b = t[1], c = t[2];
    if (a >= n || b >= n || c >= n || !(good[a] & good[b] & good[c])) return;
    const int64_t area = TwiceArea(X[a], Y[a], X[b], Y[b], X[c], Y[c]);
    if (area == 0) return;
    // Queued clockwise: the second and third vertices swap places when the area is negative.
    if (area < 0) std::swap(b, c);
    const int64_t x[3] = {X[a], X[b], X[c]}, y[3] = {Y[a], Y[b], Y[c]};
    int64_t bound[4];
    unsigned cover;
    if (BoundTriangle(clip, x, y, bound, cover)) queue(a, b, c, x, y, bound, cover);
  };
  int i = 0;
  if (MarlixD3D8GetSpanPath() == MARLIX_SPANS_AVX2) {
    // Four at a time where all twelve vertices are stored and snapped.
    FourTriangles f;
    for (; i + 4 <= count; i += 4) {
      const uint32_t* t = tris + 3 * i;
      bool fit = avx2::Below(t, n);
      for (int k = 0; k < 12 && fit && !allSnapped; ++k) fit = good[t[k]];
      if (!fit) {
        for (int k = 0; k < 4; ++k) one(t + 3 * k);
        continue;
      }
      for (int keep = avx2::PrepareFour(clip, X, Y, t, f); keep; keep &= keep - 1) {
        const int l = __builtin_ctz((unsigned)keep);
        const int64_t x[3] = {f.x[0][l], f.x[1][l], f.x[2][l]}, y[3] = {f.y[0][l], f.y[1][l], f.y[2][l]};
        const int64_t bound[4] = {f.bound[0][l], f.bound[1][l], f.bound[2][l], f.bound[3][l]};
        queue(f.v[0][l], f.v[1][l], f.v[2][l], x, y, bound, (unsigned)f.cover[l]);
      }
    }
  }
  for (; i < count; ++i) one(tris + 3 * i);
  const size_t kept = tv.size() - base;
  AddCmd(r, CMD_TRIS, (int)base, (int)kept);
}

void RasterSubmitStored(Raster* rr, const PixelState& state, uint64_t serial, const uint32_t* idx, int count,
                        int prim) {
  Segment* r = rr->cur;
  int si = AddState(r, state, serial);
  // Offsets whose vertex does not lie wholly in the store are passed over.
  size_t words = (size_t)StoredWords(state), n = r->verts.size();
  auto stored = [&](uint32_t o) { return (size_t)o + words <= n; };
  for (int i = 0; i < count; ++i) {
    if (prim == 1) {
      uint32_t a = idx[2 * i], b = idx[2 * i + 1];
      if (!stored(a) || !stored(b)) continue;
      AddCmd(r, CMD_LINE, (int)r->lines.size());
      r->lines.push_back(Line{a, b, si});
    } else {
      if (!stored(idx[i])) continue;
      AddCmd(r, CMD_POINT, (int)r->points.size());
      r->points.push_back(Point{idx[i], si});
    }
  }
}

void RasterClear(Raster* rr, const PixelState& state, const RECT* rects, int count, DWORD flags, uint32_t color,
                 float z, DWORD stencil) {
  Segment* r = Current(rr);
  int si = AddState(r, state);
  for (int i = 0; i < count; ++i) {
    AddCmd(r, CMD_CLEAR, (int)r->clears.size());
    r->clears.push_back(ClearCmd{si, rects[i], flags, color, z, stencil});
  }
}

// ---- depth ----------------------------------------------------------------------------------
// Reads depth and stencil of one pixel.
static inline void ReadDepth(D3DFORMAT f, const uint8_t* p, uint32_t& depth, uint32_t& stencil) {
  switch (f) {
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE: {
      uint16_t v;
      memcpy(&v, p, 2);
      depth = v;
      stencil = 0;
      return;
    }
    case D3DFMT_D15S1: {
      uint16_t v;
      memcpy(&v, p, 2);
      depth = v >> 1;
      stencil = v & 1;
      return;
    }
    case D3DFMT_D32: {
      memcpy(&depth, p, 4);
      stencil = 0;
      return;
    }
    default: {
      uint32_t v;
      memcpy(&v, p, 4);
      depth = v >> 8;
      stencil = v & 0xff;
      return;
    }
  }
}

static inline void WriteDepth(D3DFORMAT f, uint8_t* p, uint32_t depth, uint32_t stencil) {
  switch (f) {
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE: {
      uint16_t v = (uint16_t)depth;
      memcpy(p, &v, 2);
      return;
    }
    case D3DFMT_D15S1: {
      uint16_t v = (uint16_t)((depth << 1) | (stencil & 1));
      memcpy(p, &v, 2);
      return;
    }
    case D3DFMT_D32: memcpy(p, &depth, 4); return;
    case D3DFMT_D24X4S4: {
      uint32_t v = (depth << 8) | (stencil & 0xf);
      memcpy(p, &v, 4);
      return;
    }
    default: {
      uint32_t v = (depth << 8) | (stencil & 0xff);
      memcpy(p, &v, 4);
      return;
    }
  }
}

static inline uint32_t StencilOp(int op, uint32_t v, uint32_t ref, uint32_t maxv) {
  switch (op) {
    case D3DSTENCILOP_ZERO: return 0;
    case D3DSTENCILOP_REPLACE: return ref & maxv;
    case D3DSTENCILOP_INCRSAT: return v < maxv ? v + 1 : maxv;
    case D3DSTENCILOP_DECRSAT: return v > 0 ? v - 1 : 0;
    case D3DSTENCILOP_INVERT: return ~v & maxv;
    case D3DSTENCILOP_INCR: return (v + 1) & maxv;
    case D3DSTENCILOP_DECR: return (v - 1) & maxv;
    default: return v;
  }
}

// ---- colour arithmetic on 0..255 channels ---------------------------------------------------
static inline int Div255(int t) { return (t + 127) / 255; }
static inline int Mul(int a, int b) { return Div255(a * b); }
static inline int Sat(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
struct C4 {
  int r, g, b, a;
};

static inline C4 Unpack(uint32_t c) {
  return C4{(int)((c >> 16) & 255), (int)((c >> 8) & 255), (int)(c & 255), (int)(c >> 24)};
}

// ---- texture sampling -----------------------------------------------------------------------
static inline int Address(int mode, int i, int size, bool& border) {
  switch (mode) {
    case D3DTADDRESS_CLAMP: return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_MIRROR: {
      int period = 2 * size;
      int m = i % period;
      if (m < 0) m += period;
      return m < size ? m : period - 1 - m;
    }
    case D3DTADDRESS_BORDER:
      if (i < 0 || i >= size) border = true;
      return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_MIRRORONCE: {
      if (i < 0) i = -1 - i;
      return i >= size ? size - 1 : i;
    }
    default: {
      int m = i % size;
      return m < 0 ? m + size : m;
    }
  }
}

static inline uint32_t Texel(const StageDesc& sd, const TextureLevelCache& lv, int x, int y) {
  bool border = false;
  int ix = Address(sd.addressU, x, lv.width, border);
  int iy = Address(sd.addressV, y, lv.height, border);
  if (border) return sd.border;
  return lv.texels[(size_t)iy * lv.width + ix];
}

// Bilinear weights are 8-bit fractions applied along rows, then between the two rows, each step
// rounded. Bump texels hold signed du, dv: they are filtered as signed values.
static inline uint32_t Lerp4(uint32_t c00, uint32_t c10, uint32_t c01, uint32_t c11, int fx, int fy, bool bump) {
  uint32_t out = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    int a = (int)((c00 >> sh) & 255), b = (int)((c10 >> sh) & 255), c = (int)((c01 >> sh) & 255),
        d = (int)((c11 >> sh) & 255);
    if (bump && sh < 16) {
      a = (int8_t)a;
      b = (int8_t)b;
      c = (int8_t)c;
      d = (int8_t)d;
    }
    int top = (a * (256 - fx) + b * fx + 128) >> 8;
    int bottom = (c * (256 - fx) + d * fx + 128) >> 8;
    int v = (top * (256 - fy) + bottom * fy + 128) >> 8;
    out |= ((uint32_t)v & 255u) << sh;
  }
  return out;
}

static uint32_t SampleLevel(const StageDesc& sd, const TextureLevelCache& lv, float u, float v, int filter) {
  if (filter == D3DTEXF_LINEAR) {
    float fu = u * (float)lv.width - 0.5f, fv = v * (float)lv.height - 0.5f;
    int x0 = FloorInt(fu), y0 = FloorInt(fv);
    int fx = (int)((fu - (float)x0) * 256.0f), fy = (int)((fv - (float)y0) * 256.0f);
    fx = fx < 0 ? 0 : (fx > 255 ? 255 : fx);
    fy = fy < 0 ? 0 : (fy > 255 ? 255 : fy);
    return Lerp4(Texel(sd, lv, x0, y0), Texel(sd, lv, x0 + 1, y0), Texel(sd, lv, x0, y0 + 1),
                 Texel(sd, lv, x0 + 1, y0 + 1), fx, fy, sd.bump != 0);
  }
  return Texel(sd, lv, FloorInt(u * (float)lv.width), FloorInt(v * (float)lv.height));
}

// lod: log2 of the texel-per-pixel footprint on the top level (only read with several levels or
// differing filters).
static uint32_t Sample(const StageDesc& sd, float u, float v, float lod) {
  if (!sd.levels || sd.levelCount <= 0) return 0xffffffffu;  // no texture: opaque white
  const float biased = lod + sd.lodBias;
  const int filter = biased <= 0.0f ? sd.magFilter : sd.minFilter;
  const bool blendLevels = !(biased <= 0.0f || sd.levelCount == 1) && sd.mipFilter != D3DTEXF_NONE &&
                           sd.mipFilter != D3DTEXF_POINT;
  if (!blendLevels) return SampleLevel(sd, sd.levels[PickLevel(sd, lod)], u, v, filter);
  // Levels are counted in floats: a footprint past their range (or not a number) takes the last.
  const int base = sd.maxMipLevel < sd.levelCount ? sd.maxMipLevel : sd.levelCount - 1, last = sd.levelCount - 1;
  const float whole = floorf(biased);
  if (!(whole < (float)(last - base))) return SampleLevel(sd, sd.levels[last], u, v, filter);
  const int l0 = base + (int)whole;
  uint32_t a = SampleLevel(sd, sd.levels[l0], u, v, filter);
  uint32_t b = SampleLevel(sd, sd.levels[l0 + 1], u, v, filter);
  int f = (int)((biased - whole) * 256.0f);
  return Lerp4(a, b, a, b, f, 0, sd.bump != 0);
}

uint32_t SampleStage(const StageDesc& sd, float u, float v, float lod) { return Sample(sd, u, v, lod); }

// ---- the combiner ---------------------------------------------------------------------------
struct PixelIn {
  C4 diffuse, specular;
  int fog;  // 0..255, 255 = no fog
};

static inline C4 Arg(DWORD arg, const C4& diffuse, const C4& current, const C4& tex, const C4& tfactor,
                     const C4& specular, const C4& temp) {
  C4 c;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: c = diffuse; break;
    case D3DTA_CURRENT: c = current; break;
    case D3DTA_TEXTURE: c = tex; break;
    case D3DTA_TFACTOR: c = tfactor; break;
    case D3DTA_SPECULAR: c = specular; break;
    case D3DTA_TEMP: c = temp; break;
    default: c = current; break;
  }
  if (arg & D3DTA_ALPHAREPLICATE) c.r = c.g = c.b = c.a;
  if (arg & D3DTA_COMPLEMENT) {
    c.r = 255 - c.r;
    c.g = 255 - c.g;
    c.b = 255 - c.b;
    c.a = 255 - c.a;
  }
  return c;
}

// One channel of an operation; a0, a1, a2 are ARG0..ARG2, alphas the blend factors the op needs.
static inline int Op(int op, int a0, int a1, int a2, int diffA, int texA, int factA, int curA, int a1A) {
  switch (op) {
    case D3DTOP_SELECTARG1: return a1;
    case D3DTOP_SELECTARG2: return a2;
    case D3DTOP_MODULATE: return Mul(a1, a2);
    case D3DTOP_MODULATE2X: return Sat(Div255(2 * a1 * a2));
    case D3DTOP_MODULATE4X: return Sat(Div255(4 * a1 * a2));
    case D3DTOP_ADD: return Sat(a1 + a2);
    case D3DTOP_ADDSIGNED: return Sat(a1 + a2 - 128);
    case D3DTOP_ADDSIGNED2X: return Sat(2 * (a1 + a2 - 128));
    case D3DTOP_SUBTRACT: return Sat(a1 - a2);
    case D3DTOP_ADDSMOOTH: return Sat(a1 + Mul(a2, 255 - a1));
    case D3DTOP_BLENDDIFFUSEALPHA: return Div255(a1 * diffA + a2 * (255 - diffA));
    case D3DTOP_BLENDTEXTUREALPHA: return Div255(a1 * texA + a2 * (255 - texA));
    case D3DTOP_BLENDFACTORALPHA: return Div255(a1 * factA + a2 * (255 - factA));
    case D3DTOP_BLENDTEXTUREALPHAPM: return Sat(a1 + Mul(a2, 255 - texA));
    case D3DTOP_BLENDCURRENTALPHA: return Div255(a1 * curA + a2 * (255 - curA));
    case D3DTOP_PREMODULATE: return a1;
    case D3DTOP_MODULATEALPHA_ADDCOLOR: return Sat(a1 + Mul(a1A, a2));
    case D3DTOP_MODULATECOLOR_ADDALPHA: return Sat(Mul(a1, a2) + a1A);
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR: return Sat(a1 + Mul(255 - a1A, a2));
    case D3DTOP_MODULATEINVCOLOR_ADDALPHA: return Sat(Mul(255 - a1, a2) + a1A);
    case D3DTOP_MULTIPLYADD: return Sat(a0 + Mul(a1, a2));
    case D3DTOP_LERP: return Div255(a1 * a0 + a2 * (255 - a0));
    default: return a1;
  }
}

// Runs the stages for one pixel; uv[stage] are the sampler coordinates, lod[stage] the levels.
static C4 Combine(const PixelState& s, const PixelIn& in, float (*uv)[2], const float* lod, const float* duv) {
  C4 current = in.diffuse, temp = {0, 0, 0, 0};
  C4 tfactor = Unpack(s.tfactor);
  float bumpDu = 0.0f, bumpDv = 0.0f, bumpL = 1.0f;
  bool bumpPending = false;
  bool premodPending = false;
  C4 premod = {255, 255, 255, 255};
  for (int i = 0; i < s.stageCount; ++i) {
    const StageDesc& sd = s.stages[i];
    float u = uv[i][0], v = uv[i][1];
    if (bumpPending) {
      // The previous stage's du, dv move this stage's coordinates.
      const StageDesc& bs = s.stages[i - 1];
      u += bs.bumpMat[0] * bumpDu + bs.bumpMat[2] * bumpDv;
      v += bs.bumpMat[1] * bumpDu + bs.bumpMat[3] * bumpDv;
    }
    uint32_t raw = Sample(sd, u, v, lod[i]);
    (void)duv;
    C4 tex;
    if (sd.bump && sd.levels) {
      tex = C4{255, 255, 255, 255};
    } else {
      tex = Unpack(raw);
    }
    if (bumpPending && bumpL != 1.0f) {
      int l = ToByte(bumpL);
      tex.r = Mul(tex.r, l);
      tex.g = Mul(tex.g, l);
      tex.b = Mul(tex.b, l);
    }
    if (premodPending) {
      tex.r = Mul(tex.r, premod.r);
      tex.g = Mul(tex.g, premod.g);
      tex.b = Mul(tex.b, premod.b);
      tex.a = Mul(tex.a, premod.a);
      premodPending = false;
    }
    bumpPending = false;
    int cop = sd.colorOp;
    C4 res = current;
    if (cop == D3DTOP_BUMPENVMAP || cop == D3DTOP_BUMPENVMAPLUMINANCE) {
      bumpDu = (float)(int8_t)(raw & 255) / 128.0f;
      bumpDv = (float)(int8_t)((raw >> 8) & 255) / 128.0f;
      bumpL = 1.0f;
      if (cop == D3DTOP_BUMPENVMAPLUMINANCE) {
        float l = (float)((raw >> 16) & 255) / 255.0f;
        bumpL = l * sd.bumpLScale + sd.bumpLOffset;
        bumpL = bumpL < 0.0f ? 0.0f : (bumpL > 1.0f ? 1.0f : bumpL);
      }
      bumpPending = true;
    } else {
      C4 c0 = Arg(sd.colorArg[0], in.diffuse, current, tex, tfactor, in.specular, temp);
      C4 c1 = Arg(sd.colorArg[1], in.diffuse, current, tex, tfactor, in.specular, temp);
      C4 c2 = Arg(sd.colorArg[2], in.diffuse, current, tex, tfactor, in.specular, temp);
      if (cop == D3DTOP_DOTPRODUCT3) {
        int d = (2 * c1.r - 255) * (2 * c2.r - 255) + (2 * c1.g - 255) * (2 * c2.g - 255) +
                (2 * c1.b - 255) * (2 * c2.b - 255);
        int v = Sat(d > 0 ? (d + 127) / 255 : 0);
        res = C4{v, v, v, v};
      } else {
        res.r = Op(cop, c0.r, c1.r, c2.r, in.diffuse.a, tex.a, tfactor.a, current.a, c1.a);
        res.g = Op(cop, c0.g, c1.g, c2.g, in.diffuse.a, tex.a, tfactor.a, current.a, c1.a);
        res.b = Op(cop, c0.b, c1.b, c2.b, in.diffuse.a, tex.a, tfactor.a, current.a, c1.a);
      }
      if (cop == D3DTOP_PREMODULATE) {
        premod = res;
        premodPending = true;
      }
    }
    // Alpha: the alpha operation unless the colour operation already wrote alpha (dot3).
    if (cop != D3DTOP_DOTPRODUCT3) {
      int aop = sd.alphaOp;
      if (aop == D3DTOP_DISABLE) {
        res.a = current.a;
      } else {
        C4 a0 = Arg(sd.alphaArg[0], in.diffuse, current, tex, tfactor, in.specular, temp);
        C4 a1 = Arg(sd.alphaArg[1], in.diffuse, current, tex, tfactor, in.specular, temp);
        C4 a2 = Arg(sd.alphaArg[2], in.diffuse, current, tex, tfactor, in.specular, temp);
        res.a = Op(aop, a0.a, a1.a, a2.a, in.diffuse.a, tex.a, tfactor.a, current.a, a1.a);
      }
    }
    if (sd.resultArg == D3DTA_TEMP)
      temp = res;
    else
      current = res;
  }
  return current;
}

// ---- blending and the write -----------------------------------------------------------------
static inline int Factor(int f, int ch, const C4& s, const C4& d, bool alphaChannel) {
  switch (f) {
    case D3DBLEND_ZERO: return 0;
    case D3DBLEND_ONE: return 255;
    case D3DBLEND_SRCCOLOR: return ch == 0 ? s.r : ch == 1 ? s.g : ch == 2 ? s.b : s.a;
    case D3DBLEND_INVSRCCOLOR: return 255 - (ch == 0 ? s.r : ch == 1 ? s.g : ch == 2 ? s.b : s.a);
    case D3DBLEND_SRCALPHA: return s.a;
    case D3DBLEND_INVSRCALPHA: return 255 - s.a;
    case D3DBLEND_DESTALPHA: return d.a;
    case D3DBLEND_INVDESTALPHA: return 255 - d.a;
    case D3DBLEND_DESTCOLOR: return ch == 0 ? d.r : ch == 1 ? d.g : ch == 2 ? d.b : d.a;
    case D3DBLEND_INVDESTCOLOR: return 255 - (ch == 0 ? d.r : ch == 1 ? d.g : ch == 2 ? d.b : d.a);
    case D3DBLEND_SRCALPHASAT: return alphaChannel ? 255 : (s.a < 255 - d.a ? s.a : 255 - d.a);
    default: return 255;
  }
}

static inline int BlendChannel(int op, int sv, int sf, int dv, int df) {
  switch (op) {
    case D3DBLENDOP_SUBTRACT: {
      int t = sv * sf - dv * df;
      return t <= 0 ? 0 : Div255(t);
    }
    case D3DBLENDOP_REVSUBTRACT: {
      int t = dv * df - sv * sf;
      return t <= 0 ? 0 : Div255(t);
    }
    case D3DBLENDOP_MIN: return sv < dv ? sv : dv;
    case D3DBLENDOP_MAX: return sv > dv ? sv : dv;
    default: return Sat(Div255(sv * sf + dv * df));
  }
}

static C4 Blend(const PixelState& s, const C4& src, const C4& dst) {
  int sb = s.srcBlend, db = s.dstBlend;
  if (sb == D3DBLEND_BOTHSRCALPHA) {
    sb = D3DBLEND_SRCALPHA;
    db = D3DBLEND_INVSRCALPHA;
  } else if (sb == D3DBLEND_BOTHINVSRCALPHA) {
    sb = D3DBLEND_INVSRCALPHA;
    db = D3DBLEND_SRCALPHA;
  }
  C4 o;
  o.r = BlendChannel(s.blendOp, src.r, Factor(sb, 0, src, dst, false), dst.r, Factor(db, 0, src, dst, false));
  o.g = BlendChannel(s.blendOp, src.g, Factor(sb, 1, src, dst, false), dst.g, Factor(db, 1, src, dst, false));
  o.b = BlendChannel(s.blendOp, src.b, Factor(sb, 2, src, dst, false), dst.b, Factor(db, 2, src, dst, false));
  o.a = BlendChannel(s.blendOp, src.a, Factor(sb, 3, src, dst, true), dst.a, Factor(db, 3, src, dst, true));
  return o;
}

static inline int ColorBytes(D3DFORMAT f) {
  return (f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8) ? 4 : (f == D3DFMT_R8G8B8 ? 3 : 2);
}

static inline uint32_t Pack(const C4& c) {
  return ((uint32_t)c.a << 24) | ((uint32_t)c.r << 16) | ((uint32_t)c.g << 8) | (uint32_t)c.b;
}

static inline void WritePixel(const PixelState& s, uint8_t* p, C4 c) {
  if (s.colorWriteMask != 15) {
    C4 old = Unpack(ReadArgb(s.colorFormat, p, nullptr));
    if (!(s.colorWriteMask & D3DCOLORWRITEENABLE_RED)) c.r = old.r;
    if (!(s.colorWriteMask & D3DCOLORWRITEENABLE_GREEN)) c.g = old.g;
    if (!(s.colorWriteMask & D3DCOLORWRITEENABLE_BLUE)) c.b = old.b;
    if (!(s.colorWriteMask & D3DCOLORWRITEENABLE_ALPHA)) c.a = old.a;
  }
  WriteArgb(s.colorFormat, p, Pack(c));
}

static int TableFog(const PixelState& s, float z, float rhw) {
  float d = s.fogUseW ? (rhw != 0.0f ? 1.0f / rhw : 0.0f) : z;
  float f;
  switch (s.fogTable) {
    case D3DFOG_LINEAR: {
      float range = s.fogEnd - s.fogStart;
      f = range != 0.0f ? (s.fogEnd - d) / range : (d < s.fogEnd ? 1.0f : 0.0f);
      break;
    }
    case D3DFOG_EXP: f = expf(-d * s.fogDensity); break;
    case D3DFOG_EXP2: f = expf(-(d * s.fogDensity) * (d * s.fogDensity)); break;
    default: f = 1.0f; break;
  }
  return ToByte(f);
}

// The colour of the texture stages and the specular add for one pixel.
static C4 StageColor(const PixelState& s, const float* a, const float* g) {
  PixelIn in;
  in.diffuse = C4{ToByte(a[AT_DIFF]), ToByte(a[AT_DIFF + 1]), ToByte(a[AT_DIFF + 2]), ToByte(a[AT_DIFF + 3])};
  in.specular = C4{ToByte(a[AT_SPEC]), ToByte(a[AT_SPEC + 1]), ToByte(a[AT_SPEC + 2]), ToByte(a[AT_SPEC + 3])};
  float uv[MAX_STAGES][2];
  float lod[MAX_STAGES];
  for (int i = 0; i < s.stageCount; ++i) {
    if (i >= s.texStages) {
      uv[i][0] = uv[i][1] = lod[i] = 0.0f;
      continue;
    }
    const float* t = a + AT_TEX + 3 * i;
    float q = t[2];
    float iq = q != 0.0f ? 1.0f / q : 0.0f;
    uv[i][0] = t[0] * iq;
    uv[i][1] = t[1] * iq;
    lod[i] = 0.0f;
    const StageDesc& sd = s.stages[i];
    if (g && sd.levels && (sd.levelCount > 1 || sd.minFilter != sd.magFilter)) {
      const float* pl = g + 3 * (AT_TEX + 3 * i);
      lod[i] = FootprintLog2(sd, pl, pl + 3, pl + 6, uv[i][0], uv[i][1], iq);
    }
  }
  C4 c = Combine(s, in, uv, lod, nullptr);
  if (s.specular) {
    c.r = Sat(c.r + in.specular.r);
    c.g = Sat(c.g + in.specular.g);
    c.b = Sat(c.b + in.specular.b);
  }
  return c;
}

// The whole per-pixel pipeline after coverage. a: interpolated attributes; g: their planes (for
// texture derivatives), null for lines and points.
static void ShadePixel(const PixelState& s, int x, int y, const float* a, const float* g) {
  // A pixel shader that may discard the pixel or replace its depth runs before the depth test.
  ShaderOut so;
  bool shaded = false;
  float z = a[AT_Z];
  if (s.shader && s.shaderFirst) {
    if (!RunPixelShader(s, a, g, so)) return;
    if (so.depthSet) z = so.depth;
    shaded = true;
  }
  // depth and stencil first: a failing pixel costs nothing more
  uint8_t* dp = nullptr;
  uint32_t zq = 0, sten = 0;
  uint32_t stencilMax = 0;
  if (s.depth && (s.zEnable || s.stencilEnable)) {
    dp = s.depth + (size_t)y * s.depthPitch + (size_t)x * DepthBytes(s.depthFormat);
    uint32_t stored;
    ReadDepth(s.depthFormat, dp, stored, sten);
    zq = QuantizeDepth(z, DepthMax(s.depthFormat));
    bool zpass = !s.zEnable || Compare(s.zFunc, zq, stored);
    if (s.stencilEnable) {
      stencilMax = s.depthFormat == D3DFMT_D15S1 ? 1u : (s.depthFormat == D3DFMT_D24X4S4 ? 15u : 255u);
      bool spass = Compare(s.stencilFunc, s.stencilRef & s.stencilMask & stencilMax, sten & s.stencilMask);
      if (!spass || !zpass) {
        uint32_t ns = StencilOp(spass ? s.stencilZFail : s.stencilFail, sten, s.stencilRef, stencilMax);
        ns = (sten & ~s.stencilWriteMask) | (ns & s.stencilWriteMask);
        WriteDepth(s.depthFormat, dp, stored, ns & stencilMax);
        return;
      }
    } else if (!zpass) {
      return;
    }
    if (!s.zWrite) zq = stored;
  }
  float rhw = a[AT_RHW];
  C4 c;
  if (s.shader) {
    if (!shaded && !RunPixelShader(s, a, g, so)) return;
    c = C4{ToByte(so.color[0]), ToByte(so.color[1]), ToByte(so.color[2]), ToByte(so.color[3])};
  } else {
    c = StageColor(s, a, g);
  }
  if (s.fog) {
    int f = s.fogTable ? TableFog(s, a[AT_Z], rhw) : ToByte(a[AT_SPEC + 3]);
    C4 fc = Unpack(s.fogColor);
    c.r = Div255(c.r * f + fc.r * (255 - f));
    c.g = Div255(c.g * f + fc.g * (255 - f));
    c.b = Div255(c.b * f + fc.b * (255 - f));
  }
  if (s.alphaTest && !Compare(s.alphaFunc, (uint32_t)c.a, (uint32_t)s.alphaRef)) return;
  if (dp) {
    if (s.stencilEnable) {
      uint32_t ns = StencilOp(s.stencilPass, sten, s.stencilRef, stencilMax);
      sten = (sten & ~s.stencilWriteMask) | (ns & s.stencilWriteMask);
      WriteDepth(s.depthFormat, dp, zq, sten & stencilMax);
    } else if (s.zWrite) {
      WriteDepth(s.depthFormat, dp, zq, sten);
    }
  }
  uint8_t* cp = s.color + (size_t)y * s.colorPitch + (size_t)x * ColorBytes(s.colorFormat);
  if (s.blend) c = Blend(s, c, Unpack(ReadArgb(s.colorFormat, cp, nullptr)));
  WritePixel(s, cp, c);
}

// ---- drawing the queue ----------------------------------------------------------------------
static inline bool OwnsRow(int y, int band, int bands) { return bands == 1 || ((y >> kBandShift) & 1) == band; }

// Whether any row in [y0, y1] belongs to the band.
static inline bool BandTouches(int y0, int y1, int band, int bands) {
  if (bands == 1 || y1 - y0 >= (1 << kBandShift)) return true;
  return ((y0 >> kBandShift) & 1) == band || ((y1 >> kBandShift) & 1) == band;
}

// The pixel centres of each row inside a triangle: the first and last X with every edge function
// at least zero. When the bounds are at most eight columns wide and the edge functions stay below
// 2^31 in magnitude over them (and the lanes past them), all eight columns of a row are tested at
// once, in 32 bits. Other rows start from a floating-point estimate of each bound, made exact with
// the integer edge functions.
class RowCover {
 public:
  explicit RowCover(const Tri& t) : t_(t) {
    eight_ = t.maxX - t.minX < 8;
    if (eight_) {
      // The largest magnitude over the bounds is at a corner.
      int64_t most = 0;
#pragma GCC unroll 3
      for (int e = 0; e < 3; ++e)
        most |= std::abs(t.C[e]) + 7 * std::abs(t.A[e]) + (t.maxY - t.minY) * std::abs(t.B[e]);
      eight_ = most < ((int64_t)1 << 31);
    }
#pragma GCC unroll 3
    for (int e = 0; e < 3; ++e) {
      if (eight_) {
        base_[e] = (int32_t)t.C[e];
        stepY_[e] = (int32_t)t.B[e];
        const int32_t a = (int32_t)t.A[e];
        colA_[e][0] = V4{0, a, 2 * a, 3 * a};
        colA_[e][1] = colA_[e][0] + 4 * a;
      } else {
        invA_[e] = t.A[e] != 0 ? 1.0 / (double)t.A[e] : 0.0;
      }
    }
    columns_ = eight_ ? (2 << (t.maxX - t.minX)) - 1 : 0;
  }

  // False when row y covers no pixel centre.
  inline __attribute__((always_inline)) bool Row(int y, int& x0, int& x1) const {
    if (eight_) {
      V4 in0 = {-1, -1, -1, -1}, in1 = in0;
      for (int e = 0; e < 3; ++e) {
        const int32_t k = base_[e] + stepY_[e] * (y - t_.minY);
        in0 &= colA_[e][0] + k >= 0;
        in1 &= colA_[e][1] + k >= 0;
      }
      const unsigned bits = (unsigned)(_mm_movemask_ps((__m128)in0) | (_mm_movemask_ps((__m128)in1) << 4)) & columns_;
      if (!bits) return false;
      x0 = t_.minX + __builtin_ctz(bits);
      x1 = t_.minX + 31 - __builtin_clz(bits);
      return true;
    }
    // Columns from minX.
    int64_t lo = 0, hi = t_.maxX - t_.minX;
    for (int e = 0; e < 3; ++e) {
      int64_t A = t_.A[e], K = t_.B[e] * (y - t_.minY) + t_.C[e];
      if (A > 0) {
        const double v = (double)-K * invA_[e];  // near the first X with A X + K >= 0: its ceiling
        int64_t x = (int64_t)v;
        x += v > (double)x;
        while (A * x + K < 0) ++x;
        while (A * (x - 1) + K >= 0) --x;
        if (x > lo) lo = x;
      } else if (A < 0) {
        const double v = (double)K * -invA_[e];  // near the last X with A X + K >= 0: its floor
        int64_t x = (int64_t)v;
        x -= v < (double)x;
        while (A * x + K < 0) --x;
        while (A * (x + 1) + K >= 0) ++x;
        if (x < hi) hi = x;
      } else if (K < 0) {
        return false;
      }
      if (lo > hi) return false;
    }
    x0 = t_.minX + (int)lo;
    x1 = t_.minX + (int)hi;
    return true;
  }

 private:
  const Tri& t_;
  bool eight_;
  unsigned columns_;     // the lanes inside the bounds
  int32_t base_[3];      // edge functions at (minX, minY)
  int32_t stepY_[3];     // and their change from row to row
  V4 colA_[3][2];        // and from minX to the eight columns
  double invA_[3] = {};
};

static void DrawTriangle(const Segment* r, const QTri& q, int band, int bands, const SpanPair* spansFor,
                         uint64_t& shaded) {
  if (!BandTouches(q.y0, q.y1, band, bands)) return;
  const PixelState& s = r->states[q.state];
  const SpanPair& pair = spansFor[q.state];
  const bool narrow = q.x1 - q.x0 < kNarrowSpan;
  SpanFn fast = narrow ? pair.narrowAffine : pair.affine;
  Tri t;
  SetupVertices(q, r->verts.data(), t);
  const float* pl = t.planes;
  int n = AttrCount(s);
  float a[AT_TEX + 3 * MAX_STAGES];
  bool planes = false;
  // Rows for the span loop, handed over a batch at a time.
  enum { kBatch = 64 };
  int rows[3 * kBatch];
  int batched = 0;
  auto draw = [&](int y, int x0, int x1) __attribute__((always_inline)) {
    if (!planes) {
      // At the first row with a pixel: many small triangles cover no pixel centre at all.
      SetupPlanes(s, t, fast != nullptr);
      planes = true;
      // The fast loops need affine texture coordinates: Q constant over the triangle.
      if (fast && s.texStages &&
          (pl[3 * (AT_TEX + 2) + 1] != 0.0f || pl[3 * (AT_TEX + 2) + 2] != 0.0f || pl[3 * (AT_TEX + 2)] == 0.0f))
        fast = narrow ? pair.narrowPersp : pair.persp;
    }
    shaded += (uint64_t)(x1 - x0 + 1);
    if (fast) {
      rows[3 * batched] = y;
      rows[3 * batched + 1] = x0;
      rows[3 * batched + 2] = x1;
      if (++batched == kBatch) {
        fast(s, pl, t.x0, t.y0, rows, batched);
        batched = 0;
      }
      return;
    }
    float ox = (float)x0 - t.x0, oy = (float)y - t.y0;
    for (int k = 0; k < n; ++k) a[k] = AttrAt(pl, k, ox, oy);
    for (int x = x0; x <= x1; ++x) {
      ShadePixel(s, x, y, a, pl);
      for (int k = 0; k < n; ++k) a[k] += pl[3 * k + 1];
    }
  };
  if (q.cover) {
    // Found at submission: the covered centres of one or two rows, in each a run of one or two.
    for (int row = 0; row < 2; ++row) {
      const unsigned bits = (q.cover >> (2 * row)) & 3;
      const int y = q.y0 + row;
      if (bits && OwnsRow(y, band, bands)) draw(y, q.x0 + !(bits & 1), q.x0 + (int)(bits >> 1));
    }
  } else {
    EdgeFunctions(t.x, t.y, t.minX, t.minY, t.A, t.B, t.C);
    const RowCover cover(t);
    for (int y = t.minY; y <= t.maxY; ++y) {
      if (!OwnsRow(y, band, bands)) {
        // Skip to the next row this thread owns.
        int next = ((y >> kBandShift) + 1) << kBandShift;
        y = next - 1;
        continue;
      }
      int x0, x1;
      if (cover.Row(y, x0, x1)) draw(y, x0, x1);
    }
  }
  if (batched) fast(s, pl, t.x0, t.y0, rows, batched);
}

static void VertexAttrs(const PixelState& s, const float* v, float* a) {
  a[AT_Z] = v[RV_Z];
  a[AT_RHW] = v[RV_RHW];
  memcpy(a + AT_DIFF, v + RV_DIFF, 16);
  memcpy(a + AT_SPEC, v + RV_SPEC, 16);
  for (int k = 0; k < 3 * s.texStages; ++k) a[AT_TEX + k] = v[RV_TEX + k] * v[RV_RHW];
}

static void DrawLine(const Segment* r, const Line& l, int band, int bands) {
  const PixelState& s = r->states[l.state];
  float A[AT_TEX + 3 * MAX_STAGES], B[AT_TEX + 3 * MAX_STAGES], a[AT_TEX + 3 * MAX_STAGES];
  const float* va = &r->verts[l.a];
  const float* vb = &r->verts[l.b];
  VertexAttrs(s, va, A);
  VertexAttrs(s, vb, B);
  if (s.flat) {
    memcpy(B + AT_DIFF, A + AT_DIFF, 16);
    memcpy(B + AT_SPEC, A + AT_SPEC, 12);
  }
  int n = AttrCount(s);
  float ax = va[RV_X], ay = va[RV_Y], bx = vb[RV_X], by = vb[RV_Y];
  float dx = bx - ax, dy = by - ay;
  if (!(fabsf(ax) < 1e6f && fabsf(ay) < 1e6f && fabsf(bx) < 1e6f && fabsf(by) < 1e6f)) return;
  bool xMajor = fabsf(dx) >= fabsf(dy);
  float major0 = xMajor ? ax : ay, major1 = xMajor ? bx : by;
  float len = major1 - major0;
  if (len == 0.0f) return;
  // Pixels whose centres lie on [start, end) along the major axis; the last one by LASTPIXEL.
  int step = len > 0 ? 1 : -1;
  int i0 = len > 0 ? (int)ceilf(major0 - 0.5f) : (int)floorf(major0 + 0.5f);
  int i1 = len > 0 ? (int)ceilf(major1 - 0.5f) : (int)floorf(major1 + 0.5f);
  if (s.lastPixel) i1 += step;
  for (int i = i0; i != i1; i += step) {
    float t = ((float)i - major0) / len;
    if (t < 0.0f) t = 0.0f;
    if (t > 1.0f) t = 1.0f;
    float minor = xMajor ? ay + dy * t : ax + dx * t;
    int m = (int)floorf(minor + 0.5f);
    int x = xMajor ? i : m, y = xMajor ? m : i;
    if (x < s.clipX0 || x >= s.clipX1 || y < s.clipY0 || y >= s.clipY1 || !OwnsRow(y, band, bands)) continue;
    for (int k = 0; k < n; ++k) a[k] = A[k] + (B[k] - A[k]) * t;
    ShadePixel(s, x, y, a, nullptr);
  }
}

static void DrawPoint(const Segment* r, const Point& p, int band, int bands) {
  const PixelState& s = r->states[p.state];
  float a[AT_TEX + 3 * MAX_STAGES];
  const float* v = &r->verts[p.v];
  VertexAttrs(s, v, a);
  float px = v[RV_X], py = v[RV_Y];
  if (!(fabsf(px) < 1e6f && fabsf(py) < 1e6f)) return;
  float size = s.pointSize > 1.0f ? (s.pointSize < 64.0f ? s.pointSize : 64.0f) : 1.0f;
  int x0 = (int)ceilf(px - size * 0.5f), x1 = (int)ceilf(px + size * 0.5f) - 1;
  int y0 = (int)ceilf(py - size * 0.5f), y1 = (int)ceilf(py + size * 0.5f) - 1;
  for (int y = y0; y <= y1; ++y) {
    if (y < s.clipY0 || y >= s.clipY1 || !OwnsRow(y, band, bands)) continue;
    for (int x = x0; x <= x1; ++x)
      if (x >= s.clipX0 && x < s.clipX1) ShadePixel(s, x, y, a, nullptr);
  }
}

// Writes n values of 2 or 4 bytes (the pattern) from p, 16 bytes at a time.
static void FillRow(uint8_t* p, int n, int bytes, const uint8_t* pattern) {
  typedef uint8_t V16 __attribute__((vector_size(16)));
  V16 v;
  for (int i = 0; i < 16; ++i) v[i] = pattern[i % bytes];
  const size_t total = (size_t)n * (size_t)bytes;
  size_t i = 0;
  for (; i + 16 <= total; i += 16) memcpy(p + i, &v, 16);
  for (; i < total; i += (size_t)bytes) memcpy(p + i, pattern, (size_t)bytes);
}

static void DoClear(const Segment* r, const ClearCmd& c, int band, int bands) {
  const PixelState& s = r->states[c.state];
  uint8_t px[4];
  memset(px, 0, 4);
  WriteArgb(s.colorFormat, px, c.color);
  int cb = ColorBytes(s.colorFormat);
  uint32_t zq = s.depth ? QuantizeDepth(c.z, DepthMax(s.depthFormat)) : 0;
  int db = s.depth ? DepthBytes(s.depthFormat) : 0;
  for (int y = (int)c.rect.top; y < (int)c.rect.bottom; ++y) {
    if (!OwnsRow(y, band, bands)) continue;
    if (c.flags & D3DCLEAR_TARGET) {
      uint8_t* p = s.color + (size_t)y * s.colorPitch + (size_t)c.rect.left * cb;
      int n = (int)(c.rect.right - c.rect.left);
      if (cb == 3)
        for (int i = 0; i < n; ++i) memcpy(p + (size_t)i * cb, px, (size_t)cb);
      else
        FillRow(p, n, cb, px);
    }
    const FormatInfo* dfi = s.depth ? FindFormat(s.depthFormat) : nullptr;
    bool whole = dfi && (c.flags & D3DCLEAR_ZBUFFER) && (!dfi->stencilBits || (c.flags & D3DCLEAR_STENCIL));
    if (whole) {
      // Every bit of the depth buffer is replaced: one pattern for the row.
      uint8_t pat[4];
      WriteDepth(s.depthFormat, pat, zq, c.stencil);
      uint8_t* p = s.depth + (size_t)y * s.depthPitch + (size_t)c.rect.left * db;
      FillRow(p, (int)(c.rect.right - c.rect.left), db, pat);
    } else if (s.depth && (c.flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) {
      uint8_t* p = s.depth + (size_t)y * s.depthPitch + (size_t)c.rect.left * db;
      for (int x = (int)c.rect.left; x < (int)c.rect.right; ++x, p += db) {
        uint32_t d, st;
        ReadDepth(s.depthFormat, p, d, st);
        if (c.flags & D3DCLEAR_ZBUFFER) d = zq;
        if (c.flags & D3DCLEAR_STENCIL) st = c.stencil;
        WriteDepth(s.depthFormat, p, d, st);
      }
    }
  }
}

// Draws the rows of one band of a segment (all rows: one band), from an item on. watch: the
// raster of a one-band segment the first thread draws, which the recording thread may ask to share.
static void RunBand(Segment* r, int band, int bands, uint64_t from, Raster* watch) {
  enum { kPrefetch = 8 };
  std::vector<SpanPair> fast(r->states.size());
  for (size_t i = 0; i < r->states.size(); ++i) fast[i] = ChooseSpans(r->states[i]);
  uint64_t shaded = 0;
  const float* store = r->verts.data();
  for (size_t k = (size_t)(from >> 32); k < r->cmds.size(); ++k) {
    const Cmd& c = r->cmds[k];
    const int first = k == (size_t)(from >> 32) ? (int)(uint32_t)from : c.first;
    for (int i = first; i < c.first + c.count; ++i) {
      if (watch && r->splitAsked.load(std::memory_order_acquire)) {
        // Asked to share: from this item on this thread draws the first of two bands.
        {
          std::lock_guard<std::mutex> lk(watch->mu);
          r->splitAt = Resume(k, i);
          r->splitAnswered = true;
        }
        watch->finished.notify_all();
        watch = nullptr;
        bands = 2;
      }
      switch (c.kind) {
        case CMD_TRIS:
          // The vertices of a triangle a few ahead are fetched while this one is drawn.
          if (i + kPrefetch < c.first + c.count)
            for (uint32_t v : r->tris[i + kPrefetch].v) __builtin_prefetch(store + v);
          DrawTriangle(r, r->tris[i], band, bands, fast.data(), shaded);
          break;
        case CMD_LINE: DrawLine(r, r->lines[i], band, bands); break;
        case CMD_POINT: DrawPoint(r, r->points[i], band, bands); break;
        default: DoClear(r, r->clears[i], band, bands); break;
      }
    }
  }
  g_counters.pixelsShaded += shaded;
}

}  // namespace mxd3d

extern "C" void MarlixD3D8SetQueued(int queued) { mxd3d::g_queued = queued != 0; }
