#include "toolkit/fg_texture.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/pool.h"
#include "platform/plat_gl.h"
#include "platform/plat_window.h"
#include "toolkit/fg_screen.h"

namespace {

uint64_t NextPowerOfTwo(uint64_t v) {
    uint64_t p = 1;
    while (p < v) p <<= 1;
    return p;
}

// --- RGB texels sent as opaque RGBA ---
//
// Storage of RGB textures is RGBA8 and their rows go to OpenGL as RGBA with
// an opaque alpha: a rasteriser keeps RGB textures at four bytes a texel
// anyway, and a software one converts three-byte rows texel by texel on the
// interface thread, where four-byte rows are copied. Texels sample the same
// (alpha 1 in both), and a texture without alpha is drawn without blending.

// Four texels per step: 12 bytes loaded of 16 (the loop stops while 16
// remain readable in the row), spread to 16 with the alpha set.
__attribute__((target("ssse3"))) uint64_t ExpandRgbRowSsse3(const uint8_t* src, uint8_t* dst, uint64_t width) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    uint64_t x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_or_si128(_mm_shuffle_epi8(v, spread), opaque));
    }
    return x;
}

struct ExpandJob {
    const uint8_t* src;
    uint64_t srcPitch;  // bytes between source rows
    uint8_t* dst;       // rows of width x 4 bytes, back to back
    uint64_t width;
};

void ExpandRgbRows(void* ctx, uint64_t first, uint64_t count) {
    const auto* job = static_cast<const ExpandJob*>(ctx);
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    for (uint64_t r = first; r < first + count; ++r) {
        const uint8_t* src = job->src + r * job->srcPitch;
        uint8_t* dst = job->dst + r * job->width * 4;
        uint64_t x = ssse3 ? ExpandRgbRowSsse3(src, dst, job->width) : 0;
        for (; x < job->width; ++x) {
            dst[4 * x] = src[3 * x];
            dst[4 * x + 1] = src[3 * x + 1];
            dst[4 * x + 2] = src[3 * x + 2];
            dst[4 * x + 3] = 0xFF;
        }
    }
}

// Sends `height` rows of `width` RGB texels, `pitch` bytes apart, into the
// bound texture at the origin, as RGBA in bands through one staging buffer
// (the interface thread's, used under the GL lock).
void SendRgbAsRgba(const uint8_t* pixels, uint64_t pitch, uint64_t width, uint64_t height) {
    static std::vector<uint8_t> staging;
    constexpr uint64_t kBandBytes = uint64_t{4} << 20;
    const uint64_t band = std::max<uint64_t>(1, std::min<uint64_t>(height, kBandBytes / (width * 4)));
    if (staging.size() < band * width * 4) staging.resize(band * width * 4);
    for (uint64_t y = 0; y < height; y += band) {
        const uint64_t rows = std::min(band, height - y);
        ExpandJob job{pixels + y * pitch, pitch, staging.data(), width};
        PoolParallelFor(ExpandRgbRows, &job, rows);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, static_cast<GLint>(y), static_cast<GLsizei>(width),
                        static_cast<GLsizei>(rows), GL_RGBA, GL_UNSIGNED_BYTE, staging.data());
    }
}

// Framebuffer entry points, looked up once a context is current.
struct FramebufferApi {
    PFNGLGENFRAMEBUFFERSEXTPROC genFramebuffers;
    PFNGLBINDFRAMEBUFFEREXTPROC bindFramebuffer;
    PFNGLDELETEFRAMEBUFFERSEXTPROC deleteFramebuffers;
    PFNGLGENRENDERBUFFERSEXTPROC genRenderbuffers;
    PFNGLBINDRENDERBUFFEREXTPROC bindRenderbuffer;
    PFNGLDELETERENDERBUFFERSEXTPROC deleteRenderbuffers;
    PFNGLFRAMEBUFFERTEXTURE2DEXTPROC framebufferTexture2D;
    PFNGLRENDERBUFFERSTORAGEEXTPROC renderbufferStorage;
    PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC framebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC checkFramebufferStatus;
};

bool LoadFramebufferApi(FramebufferApi* api) {
    api->genFramebuffers = reinterpret_cast<PFNGLGENFRAMEBUFFERSEXTPROC>(PlatGlGetProcAddress("glGenFramebuffersEXT"));
    api->bindFramebuffer = reinterpret_cast<PFNGLBINDFRAMEBUFFEREXTPROC>(PlatGlGetProcAddress("glBindFramebufferEXT"));
    api->deleteFramebuffers =
        reinterpret_cast<PFNGLDELETEFRAMEBUFFERSEXTPROC>(PlatGlGetProcAddress("glDeleteFramebuffersEXT"));
    api->genRenderbuffers =
        reinterpret_cast<PFNGLGENRENDERBUFFERSEXTPROC>(PlatGlGetProcAddress("glGenRenderbuffersEXT"));
    api->bindRenderbuffer =
        reinterpret_cast<PFNGLBINDRENDERBUFFEREXTPROC>(PlatGlGetProcAddress("glBindRenderbufferEXT"));
    api->deleteRenderbuffers =
        reinterpret_cast<PFNGLDELETERENDERBUFFERSEXTPROC>(PlatGlGetProcAddress("glDeleteRenderbuffersEXT"));
    api->framebufferTexture2D =
        reinterpret_cast<PFNGLFRAMEBUFFERTEXTURE2DEXTPROC>(PlatGlGetProcAddress("glFramebufferTexture2DEXT"));
    api->renderbufferStorage =
        reinterpret_cast<PFNGLRENDERBUFFERSTORAGEEXTPROC>(PlatGlGetProcAddress("glRenderbufferStorageEXT"));
    api->framebufferRenderbuffer =
        reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC>(PlatGlGetProcAddress("glFramebufferRenderbufferEXT"));
    api->checkFramebufferStatus =
        reinterpret_cast<PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC>(PlatGlGetProcAddress("glCheckFramebufferStatusEXT"));
    return api->genFramebuffers && api->bindFramebuffer && api->deleteFramebuffers && api->genRenderbuffers &&
           api->bindRenderbuffer && api->deleteRenderbuffers && api->framebufferTexture2D &&
           api->renderbufferStorage && api->framebufferRenderbuffer && api->checkFramebufferStatus;
}

// Two texture locks are always taken in address order.
class PairLock {
public:
    PairLock(CriticalSection& a, CriticalSection& b) : first_(&a < &b ? a : b), second_(&a < &b ? b : a) {
        first_.Enter();
        if (&second_ != &first_) second_.Enter();
    }
    ~PairLock() {
        if (&second_ != &first_) second_.Leave();
        first_.Leave();
    }

private:
    CriticalSection& first_;
    CriticalSection& second_;
};

}  // namespace

CFgTexture::CFgTexture() = default;

CFgTexture::~CFgTexture() {
    ReleaseGl();
    Clear();
}

int32_t CFgTexture::Create(uint64_t cw, uint64_t ch, uint64_t cols, uint64_t rowCount, uint64_t withAlpha,
                           const uint8_t* source) {
    CriticalSectionLock own(lock);
    Clear();
    if (cw == 0 || ch == 0 || cols == 0 || rowCount == 0) return 0;
    // Every dimension stays far below 2^32 so that the products cannot wrap.
    constexpr uint64_t kMaxSide = uint64_t{1} << 30;
    if (cw > kMaxSide / cols || ch > kMaxSide / rowCount) return 0;
    const uint64_t bpp = withAlpha ? 4 : 3;
    const uint64_t tw = NextPowerOfTwo(cw * cols);
    const uint64_t th = NextPowerOfTwo(ch * rowCount);
    if (tw > kMaxSide || th > kMaxSide || tw * th > (uint64_t{1} << 40) / bpp) return 0;
    auto* buffer = static_cast<uint8_t*>(std::calloc(tw * th, bpp));
    if (!buffer) return 0;
    alpha = withAlpha ? 1 : 0;
    cellWidth = cw;
    cellHeight = ch;
    columns = cols;
    rows = rowCount;
    texWidth = tw;
    texHeight = th;
    byteSize = tw * th * bpp;
    pixels = buffer;
    if (source) {
        const uint64_t srcRow = cw * cols * bpp;
        for (uint64_t y = 0; y < ch * rowCount; ++y) std::memcpy(pixels + y * RowBytes(), source + y * srcRow, srcRow);
    }
    return 1;
}

void CFgTexture::Clear() {
    CriticalSectionLock own(lock);
    std::free(pixels);
    pixels = nullptr;
    alpha = cellWidth = cellHeight = columns = rows = texWidth = texHeight = byteSize = 0;
}

int32_t CFgTexture::CopyFrom(const CFgTexture* other) {
    if (!other || other == this) return 0;
    {
        PairLock both(lock, other->lock);
        if (!other->pixels) {
            Clear();
        } else {
            if (!Create(other->cellWidth, other->cellHeight, other->columns, other->rows, other->alpha, nullptr))
                return 0;
            std::memcpy(pixels, other->pixels, byteSize);
            tinted = other->tinted;
        }
    }
    return Upload();
}

int32_t CFgTexture::Upload() {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!hasName) return 1;
    // Only the interface thread talks to OpenGL; elsewhere the next draw sends the pixels.
    if (!PlatIsUiThread()) {
        uploadPending = 1;
        return 1;
    }
    return SendPixels();
}

// Loads the whole buffer into the texture name inside a paint of the screen.
int32_t CFgTexture::SendPixels() {
    uploadPending = 0;
    if (!screen || !screen->BeginPaint()) return 0;
    glBindTexture(GL_TEXTURE_2D, glName);
    if (glGetError() != GL_NO_ERROR) {
        screen->EndPaint(0);
        return 0;
    }
    if (pixels) {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        const uint64_t usedWidth = cellWidth * columns;
        const uint64_t usedHeight = cellHeight * rows;
        if (sentWidth == usedWidth && sentHeight == usedHeight && sentAlpha == alpha) {
            // The same cells in the same storage: only their rows change;
            // the texels beyond them are still the zeros sent with the storage.
            if (alpha) {
                glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(texWidth));
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(usedWidth),
                                static_cast<GLsizei>(usedHeight), GL_RGBA, GL_UNSIGNED_BYTE, pixels);
                glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
            } else {
                SendRgbAsRgba(pixels, RowBytes(), usedWidth, usedHeight);
            }
        } else if (alpha) {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(texWidth), static_cast<GLsizei>(texHeight),
                         0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
        } else {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(texWidth), static_cast<GLsizei>(texHeight),
                         0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            SendRgbAsRgba(pixels, RowBytes(), texWidth, texHeight);
        }
        if (glGetError() != GL_NO_ERROR) {
            sentWidth = sentHeight = 0;
            glBindTexture(GL_TEXTURE_2D, 0);
            screen->EndPaint(0);
            return 0;
        }
        sentWidth = usedWidth;
        sentHeight = usedHeight;
        sentAlpha = alpha;
        ++sendCount;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    screen->EndPaint(0);
    return 1;
}

int32_t CFgTexture::AttachToScreen(CFgScreen* target) {
    if (!target || !PlatIsUiThread()) return 0;
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (screen && screen != target) return 0;
    if (screen == target && hasName && screenGeneration == target->generation) return 1;
    if (!pixels) return 1;
    // A name from an earlier context died with it; a fresh one is made.
    if (!target->BeginPaint()) return 0;
    GLuint name = 0;
    glGenTextures(1, &name);
    target->EndPaint(0);
    glName = name;
    hasName = 1;
    sentWidth = sentHeight = 0;
    screen = target;
    screenGeneration = target->generation;
    if (!SendPixels()) {
        ReleaseGl();
        return 0;
    }
    return 1;
}

void CFgTexture::ReleaseGl() {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (hasName && screen && screen->generation == screenGeneration && PlatIsUiThread() &&
        screen->BeginPaint()) {
        GLuint name = glName;
        glDeleteTextures(1, &name);
        screen->EndPaint(0);
    }
    glName = 0;
    hasName = 0;
    sentWidth = sentHeight = 0;
    screen = nullptr;
    screenGeneration = 0;
    uploadPending = 0;
}

int32_t CFgTexture::DrawCell(double x, double y, double width, double height, uint64_t cell) {
    if (width == 0) width = static_cast<double>(cellWidth);
    if (height == 0) height = static_cast<double>(cellHeight);
    const double xs[4] = {x, x + width, x + width, x};
    const double ys[4] = {y, y, y + height, y + height};
    return DrawCellQuad(xs, ys, cell, 1, 1);
}

int32_t CFgTexture::DrawCellQuad(const double* xs, const double* ys, uint64_t cell, uint64_t columnsSpanned,
                                 uint64_t rowsSpanned) {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!screen || !xs || !ys || columns == 0 || cell >= columns * rows) return 0;
    const uint64_t column = cell % columns;
    const uint64_t row = cell / columns;
    const double tw = static_cast<double>(texWidth);
    const double th = static_cast<double>(texHeight);
    return DrawTexCoords(xs, ys, static_cast<double>(column * cellWidth) / tw,
                         static_cast<double>(row * cellHeight) / th,
                         static_cast<double>((column + columnsSpanned) * cellWidth) / tw,
                         static_cast<double>((row + rowsSpanned) * cellHeight) / th);
}

int32_t CFgTexture::DrawRegion(double x, double y, double width, double height, double sourceX, double sourceY,
                               double sourceWidth, double sourceHeight) {
    if (width == 0) width = sourceWidth;
    if (height == 0) height = sourceHeight;
    const double xs[4] = {x, x + width, x + width, x};
    const double ys[4] = {y, y, y + height, y + height};
    return DrawRegionQuad(xs, ys, sourceX, sourceY, sourceWidth, sourceHeight);
}

int32_t CFgTexture::DrawRegionQuad(const double* xs, const double* ys, double sourceX, double sourceY,
                                   double sourceWidth, double sourceHeight) {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!screen || !xs || !ys || sourceWidth == 0 || sourceHeight == 0 || texWidth == 0 || texHeight == 0) return 0;
    const double tw = static_cast<double>(texWidth);
    const double th = static_cast<double>(texHeight);
    return DrawTexCoords(xs, ys, sourceX / tw, sourceY / th, (sourceX + sourceWidth) / tw,
                         (sourceY + sourceHeight) / th);
}

int32_t CFgTexture::DrawFullViewport() {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!screen || !pixels) return 0;
    if (!Ready()) return 0;
    glColor3d(1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, glName);
    glBegin(GL_QUADS);
    glTexCoord2d(0, 0);
    glVertex2d(-1, -1);
    glTexCoord2d(1, 0);
    glVertex2d(1, -1);
    glTexCoord2d(1, 1);
    glVertex2d(1, 1);
    glTexCoord2d(0, 1);
    glVertex2d(-1, 1);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    return 1;
}

// Gives the texture a name in its screen's current context (the context may
// have been re-created since) and sends pixels changed off the interface
// thread; the caller holds both locks.
int32_t CFgTexture::Ready() {
    if (!hasName || screen->generation != screenGeneration) {
        CFgScreen* target = screen;
        ReleaseGl();
        return AttachToScreen(target);
    }
    return uploadPending ? SendPixels() : 1;
}

// Draws the quad through the four pixel corners with the given texture
// coordinates; the caller holds the texture's lock.
void CFgTexture::ToGl(double x, double y, double* gx, double* gy) const {
    if (g_RenderTargetKind == 2) {
        *gx = 2 * x / (g_RenderTargetWidth - 1.0) - 1;
        *gy = 2 * y / (g_RenderTargetHeight - 1.0) - 1;
    } else {
        const double w = static_cast<double>(screen->width);
        const double h = static_cast<double>(screen->height);
        *gx = (x - w / 2) / (w / 2);
        *gy = (h - y - h / 2) / (h / 2);
    }
}

void CFgTexture::BeginTexturing() {
    glEnable(GL_TEXTURE_2D);
    if (alpha) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glBindTexture(GL_TEXTURE_2D, glName);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

void CFgTexture::EndTexturing() {
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
}

int32_t CFgTexture::DrawTexCoords(const double* xs, const double* ys, double s0, double t0, double s1, double t1) {
    if (!Ready()) return 0;
    double gx[4];
    double gy[4];
    for (int i = 0; i < 4; ++i) ToGl(xs[i], ys[i], &gx[i], &gy[i]);
    if (!tinted) glColor3d(1, 1, 1);
    BeginTexturing();
    glBegin(GL_QUADS);
    glTexCoord2d(s0, t0);
    glVertex2d(gx[0], gy[0]);
    glTexCoord2d(s1, t0);
    glVertex2d(gx[1], gy[1]);
    glTexCoord2d(s1, t1);
    glVertex2d(gx[2], gy[2]);
    glTexCoord2d(s0, t1);
    glVertex2d(gx[3], gy[3]);
    glEnd();
    EndTexturing();
    return 1;
}

int32_t CFgTexture::DrawQuads(const FgTexQuad* quads, size_t count) {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!screen || (count && !quads) || texWidth == 0 || texHeight == 0) return 0;
    if (count == 0) return 1;
    if (!Ready()) return 0;
    const double tw = static_cast<double>(texWidth);
    const double th = static_cast<double>(texHeight);
    if (!tinted) glColor3d(1, 1, 1);
    BeginTexturing();
    glBegin(GL_QUADS);
    for (size_t i = 0; i < count; ++i) {
        const FgTexQuad& q = quads[i];
        double x0, y0, x1, y1;
        ToGl(q.x0, q.y0, &x0, &y0);
        ToGl(q.x1, q.y1, &x1, &y1);
        const double s0 = q.sourceX0 / tw, t0 = q.sourceY0 / th, s1 = q.sourceX1 / tw, t1 = q.sourceY1 / th;
        if (tinted) glColor3dv(q.color);
        glTexCoord2d(s0, t0);
        glVertex2d(x0, y0);
        glTexCoord2d(s1, t0);
        glVertex2d(x1, y0);
        glTexCoord2d(s1, t1);
        glVertex2d(x1, y1);
        glTexCoord2d(s0, t1);
        glVertex2d(x0, y1);
    }
    glEnd();
    EndTexturing();
    return 1;
}

int32_t CFgTexture::BeginRenderTo() {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!screen || !hasName || rendering) return 0;
    if (!screen->BeginPaint()) return 0;
    FramebufferApi api;
    if (!LoadFramebufferApi(&api)) {
        screen->EndPaint(0);
        return 0;
    }
    // Drawing reaches every texel: the next upload specifies the whole storage again.
    sentWidth = sentHeight = 0;
    g_RenderTargetKind = 2;
    g_RenderTargetWidth = texWidth;
    g_RenderTargetHeight = texHeight;
    glGetIntegerv(GL_VIEWPORT, savedViewport);
    glViewport(0, 0, static_cast<GLsizei>(texWidth), static_cast<GLsizei>(texHeight));
    GLuint rb = 0;
    api.genRenderbuffers(1, &rb);
    api.bindRenderbuffer(GL_RENDERBUFFER_EXT, rb);
    api.renderbufferStorage(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, static_cast<GLsizei>(texWidth),
                            static_cast<GLsizei>(texHeight));
    GLuint fb = 0;
    api.genFramebuffers(1, &fb);
    api.bindFramebuffer(GL_FRAMEBUFFER_EXT, fb);
    api.framebufferTexture2D(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, glName, 0);
    api.framebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, rb);
    renderbuffer = rb;
    framebuffer = fb;
    screen->renderWidth = static_cast<int32_t>(texWidth);
    screen->renderHeight = static_cast<int32_t>(texHeight);
    rendering = 1;
    return 1;
}

void CFgTexture::EndRenderTo() {
    CriticalSectionLock gl(g_GlLock);
    CriticalSectionLock own(lock);
    if (!rendering || !screen) return;
    FramebufferApi api;
    LoadFramebufferApi(&api);
    const uint64_t channels = alpha ? 4 : 3;
    std::vector<float> cell(cellWidth * cellHeight * channels);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, static_cast<GLsizei>(cellWidth), static_cast<GLsizei>(cellHeight), alpha ? GL_RGBA : GL_RGB,
                 GL_FLOAT, cell.data());
    for (uint64_t y = 0; y < cellHeight; ++y) {
        uint8_t* dst = pixels + y * RowBytes();
        const float* src = cell.data() + y * cellWidth * channels;
        for (uint64_t i = 0; i < cellWidth * channels; ++i) dst[i] = static_cast<uint8_t>(src[i] * 255);
    }
    api.bindFramebuffer(GL_FRAMEBUFFER_EXT, 0);
    GLuint fb = framebuffer;
    GLuint rb = renderbuffer;
    api.deleteFramebuffers(1, &fb);
    api.bindRenderbuffer(GL_RENDERBUFFER_EXT, 0);
    api.deleteRenderbuffers(1, &rb);
    framebuffer = renderbuffer = 0;
    glViewport(savedViewport[0], savedViewport[1], savedViewport[2], savedViewport[3]);
    g_RenderTargetKind = 1;
    g_RenderTargetWidth = screen->width;
    g_RenderTargetHeight = screen->height;
    screen->EndPaint(0);
    screen->renderWidth = 0;
    screen->renderHeight = 0;
    rendering = 0;
}
