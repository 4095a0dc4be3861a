// The image handle: bounds-checked pixel access, pasting an image into a
// larger one, extracting a rectangle, and clipping regions of interest.
#include <cstring>
#include <new>

#include "image/imgbuff.h"
#include "image/pool.h"

namespace {

// Pastes and extracts of at least this many pixels run their rows on the pool.
constexpr uint64_t kPoolRegionPixels = 4096;

// Same-format row copy between two blocks: source row r, all of it, goes to
// destination row y + r at column x (paste), or source row y + r from
// column x goes to destination row r (extract).
struct ImgRowCopyJob {
    int32_t x;
    int32_t y;
    int32_t bytesPerPixel;
    int32_t sourceWidth;
    int32_t destinationWidth;
    const uint8_t* source;
    uint8_t* destination;
};

struct ImgPasteJob {
    int32_t y;
    int32_t x;
    int32_t sourceWidth;
    const CImgBuff* source;
    CImgBuff* destination;
};

uint8_t* RowAt(uint8_t* base, int64_t width, int64_t bpp, int64_t x, int64_t y) {
    return base + (width * y + x) * bpp;
}

void ImgRowPasteCopy(void* ctx, uint64_t first, uint64_t rows) {
    const ImgRowCopyJob& j = *static_cast<const ImgRowCopyJob*>(ctx);
    size_t bytes = static_cast<size_t>(j.sourceWidth) * static_cast<size_t>(j.bytesPerPixel);
    for (uint64_t r = first; r < first + rows; ++r) {
        std::memcpy(RowAt(j.destination, j.destinationWidth, j.bytesPerPixel, j.x, j.y + static_cast<int64_t>(r)),
                    RowAt(const_cast<uint8_t*>(j.source), j.sourceWidth, j.bytesPerPixel, 0, static_cast<int64_t>(r)),
                    bytes);
    }
}

// In an extract the destination width is the rectangle's width.
void ImgRowExtractCopy(void* ctx, uint64_t first, uint64_t rows) {
    const ImgRowCopyJob& j = *static_cast<const ImgRowCopyJob*>(ctx);
    size_t bytes = static_cast<size_t>(j.destinationWidth) * static_cast<size_t>(j.bytesPerPixel);
    for (uint64_t r = first; r < first + rows; ++r) {
        std::memcpy(RowAt(j.destination, j.destinationWidth, j.bytesPerPixel, 0, static_cast<int64_t>(r)),
                    RowAt(const_cast<uint8_t*>(j.source), j.sourceWidth, j.bytesPerPixel, j.x,
                          j.y + static_cast<int64_t>(r)),
                    bytes);
    }
}

// Format-changing paste: each source pixel is read with the getter of the
// destination's value type and written with the matching setter. A failed
// read gives 0 in every channel.
template <class Io>
void PasteRows(void* ctx, uint64_t first, uint64_t rows) {
    const ImgPasteJob& j = *static_cast<const ImgPasteJob*>(ctx);
    for (uint64_t r = first; r < first + rows; ++r) {
        int32_t sy = static_cast<int32_t>(r);
        for (int32_t c = 0; c < j.sourceWidth; ++c) {
            typename Io::Value v{};
            if (!Io::Get(j.source, c, sy, v)) v = typename Io::Value{};
            Io::Set(j.destination, j.x + c, j.y + sy, v);
        }
    }
}

struct Gray8Io {
    using Value = uint8_t;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) { return b->GetPixelGray8(x, y, &v); }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelGray8(x, y, v); }
};
struct Gray16Io {
    using Value = uint16_t;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) { return b->GetPixelGray16(x, y, &v); }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelGray16(x, y, v); }
};
struct Gray32Io {
    using Value = uint32_t;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) { return b->GetPixelGray32(x, y, &v); }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelGray32(x, y, v); }
};
template <class T>
struct Triple {
    T a, b, c;
};
struct Rgb8Io {
    using Value = Triple<uint8_t>;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) {
        return b->GetPixelRgb8(x, y, &v.a, &v.b, &v.c);
    }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelRgb8(x, y, v.a, v.b, v.c); }
};
struct Rgb16Io {
    using Value = Triple<uint16_t>;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) {
        return b->GetPixelRgb16(x, y, &v.a, &v.b, &v.c);
    }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelRgb16(x, y, v.a, v.b, v.c); }
};
struct Rgb32Io {
    using Value = Triple<uint32_t>;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) {
        return b->GetPixelRgb32(x, y, &v.a, &v.b, &v.c);
    }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelRgb32(x, y, v.a, v.b, v.c); }
};
struct XyzIo {
    using Value = Triple<double>;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) {
        return b->GetPixelXyz(x, y, &v.a, &v.b, &v.c);
    }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelXyz(x, y, v.a, v.b, v.c); }
};
// The handle has no HSV16 getter; the owned buffer's is used.
struct Hsv16Io {
    using Value = Triple<uint16_t>;
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) {
        return b->buffer->Contains(x, y) ? b->buffer->GetPixelHsv16(x, y, &v.a, &v.b, &v.c) : 0;
    }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelHsv16(x, y, v.a, v.b, v.c); }
};
struct Cmyk8Io {
    struct Value {
        uint8_t c, m, y, k;
    };
    static int32_t Get(const CImgBuff* b, int32_t x, int32_t y, Value& v) {
        return b->GetPixelCmyk8(x, y, &v.c, &v.m, &v.y, &v.k);
    }
    static void Set(CImgBuff* b, int32_t x, int32_t y, const Value& v) { b->SetPixelCmyk8(x, y, v.c, v.m, v.y, v.k); }
};

constexpr PoolWorkerFn ImgRowPasteGray8 = PasteRows<Gray8Io>;
constexpr PoolWorkerFn ImgRowPasteGray16 = PasteRows<Gray16Io>;
constexpr PoolWorkerFn ImgRowPasteGray32 = PasteRows<Gray32Io>;
constexpr PoolWorkerFn ImgRowPasteRgb8 = PasteRows<Rgb8Io>;
constexpr PoolWorkerFn ImgRowPasteRgb16 = PasteRows<Rgb16Io>;
constexpr PoolWorkerFn ImgRowPasteRgb32 = PasteRows<Rgb32Io>;
constexpr PoolWorkerFn ImgRowPasteXyz = PasteRows<XyzIo>;
constexpr PoolWorkerFn ImgRowPasteHsv16 = PasteRows<Hsv16Io>;
constexpr PoolWorkerFn ImgRowPasteCmyk8 = PasteRows<Cmyk8Io>;

// Indexed by the destination format.
constexpr PoolWorkerFn kPasteWorkers[10] = {
    nullptr,         ImgRowPasteGray8, ImgRowPasteGray16, ImgRowPasteGray32, ImgRowPasteRgb8,
    ImgRowPasteRgb16, ImgRowPasteRgb32, ImgRowPasteXyz,    ImgRowPasteHsv16,  ImgRowPasteCmyk8,
};

void RunRows(PoolWorkerFn fn, void* job, uint64_t rows, uint64_t pixels) {
    if (pixels >= kPoolRegionPixels) {
        PoolParallelFor(fn, job, rows);
    } else {
        fn(job, 0, rows);
    }
}

int32_t FormatOf(const CImgBuff* h) { return h && h->buffer ? h->buffer->format : 0; }

}  // namespace

CImgBuff::CImgBuff() : buffer(new (std::nothrow) C_ImgBuff) {
    if (buffer && g_PoolStartCount.load() == 0) PoolStart();
}

CImgBuff::~CImgBuff() { delete buffer; }

CImgBuff* CImgBuff::CopyFrom(const CImgBuff* other) {
    if (buffer) buffer->CopyFrom(other ? other->buffer : nullptr);
    return this;
}

void CImgBuff::FreePixels() {
    if (buffer) buffer->FreePixels();
}

bool CImgBuff::Is8BitFormat() const { return ImgFormatIn(ImgFormat8BitMask, FormatOf(this)); }

int32_t CImgBuff::PasteImage(const CImgBuff* source, uint32_t x, uint32_t y) {
    int32_t dstFormat = FormatOf(this);
    int32_t srcFormat = FormatOf(source);
    if (!ImgFormatValid(dstFormat) || !ImgFormatValid(srcFormat)) return 0;
    const C_ImgBuff* s = source->buffer;
    C_ImgBuff* d = buffer;
    // The fit test in 64 bits: no sum of a position and a width can wrap.
    if (static_cast<uint64_t>(x) + static_cast<uint64_t>(s->width) > static_cast<uint64_t>(d->width) ||
        static_cast<uint64_t>(y) + static_cast<uint64_t>(s->height) > static_cast<uint64_t>(d->height)) {
        return 0;
    }
    // Only a source of this image's own size fits at (0, 0): pasting an image
    // onto itself leaves it as it is.
    if (s == d) return 1;
    uint64_t area = static_cast<uint64_t>(d->width) * static_cast<uint64_t>(d->height);
    if (srcFormat == dstFormat) {
        ImgRowCopyJob job{static_cast<int32_t>(x), static_cast<int32_t>(y), d->BytesPerPixel(), s->width,
                          d->width,                s->pixels,             d->pixels};
        RunRows(ImgRowPasteCopy, &job, static_cast<uint64_t>(s->height), area);
    } else {
        ImgPasteJob job{static_cast<int32_t>(y), static_cast<int32_t>(x), s->width, source, this};
        RunRows(kPasteWorkers[dstFormat], &job, static_cast<uint64_t>(s->height), area);
    }
    return 1;
}

int32_t CImgBuff::ExtractRect(CImgBuff* destination, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
    const C_ImgBuff* s = buffer;
    if (!ImgFormatValid(FormatOf(this)) || !destination || !destination->buffer) return 0;
    if (x0 > x1 || y0 > y1 || x0 < 0 || y0 < 0 || x1 >= s->width || y1 >= s->height) return 0;
    // Extracting into this image itself goes through a temporary, which then
    // replaces the pixels; the source must stay whole until the copy is done.
    C_ImgBuff temporary;
    C_ImgBuff* d = destination->buffer == s ? &temporary : destination->buffer;
    int32_t w = x1 - x0 + 1;
    int32_t h = y1 - y0 + 1;
    if (!d->Create(w, h, s->format)) {
        if (d == &temporary) destination->buffer->FreePixels();
        return 0;
    }
    ImgRowCopyJob job{x0, y0, s->BytesPerPixel(), s->width, w, s->pixels, d->pixels};
    RunRows(ImgRowExtractCopy, &job, static_cast<uint64_t>(h),
            static_cast<uint64_t>(w) * static_cast<uint64_t>(s->height));
    if (d == &temporary) destination->buffer->TakePixels(&temporary);
    return 1;
}

// ---- bounds-checked pixel access ----

namespace {

bool Readable(const CImgBuff* h, int32_t x, int32_t y) { return h->buffer && h->buffer->Contains(x, y); }

}  // namespace

int32_t CImgBuff::SetPixelGray8(int32_t x, int32_t y, uint8_t v) { return buffer ? buffer->SetPixelGray8(x, y, v) : 0; }
int32_t CImgBuff::GetPixelGray8(int32_t x, int32_t y, uint8_t* v) const {
    return Readable(this, x, y) ? buffer->GetPixelGray8(x, y, v) : 0;
}
int32_t CImgBuff::SetPixelGray16(int32_t x, int32_t y, uint16_t v) {
    return buffer ? buffer->SetPixelGray16(x, y, v) : 0;
}
int32_t CImgBuff::GetPixelGray16(int32_t x, int32_t y, uint16_t* v) const {
    return Readable(this, x, y) ? buffer->GetPixelGray16(x, y, v) : 0;
}
int32_t CImgBuff::SetPixelGray32(int32_t x, int32_t y, uint32_t v) {
    return buffer ? buffer->SetPixelGray32(x, y, v) : 0;
}
int32_t CImgBuff::GetPixelGray32(int32_t x, int32_t y, uint32_t* v) const {
    return Readable(this, x, y) ? buffer->GetPixelGray32(x, y, v) : 0;
}
int32_t CImgBuff::SetPixelRgb8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
    return buffer ? buffer->SetPixelRgb8(x, y, r, g, b) : 0;
}
int32_t CImgBuff::GetPixelRgb8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const {
    return Readable(this, x, y) ? buffer->GetPixelRgb8(x, y, r, g, b) : 0;
}
int32_t CImgBuff::SetPixelRgb16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b) {
    return buffer ? buffer->SetPixelRgb16(x, y, r, g, b) : 0;
}
int32_t CImgBuff::GetPixelRgb16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const {
    return Readable(this, x, y) ? buffer->GetPixelRgb16(x, y, r, g, b) : 0;
}
int32_t CImgBuff::SetPixelRgb32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b) {
    return buffer ? buffer->SetPixelRgb32(x, y, r, g, b) : 0;
}
int32_t CImgBuff::GetPixelRgb32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const {
    return Readable(this, x, y) ? buffer->GetPixelRgb32(x, y, r, g, b) : 0;
}
int32_t CImgBuff::SetPixelHsv16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v) {
    return buffer ? buffer->SetPixelHsv16(x, y, h, s, v) : 0;
}
int32_t CImgBuff::SetPixelCmyk8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k) {
    return buffer ? buffer->SetPixelCmyk8(x, y, c, m, ye, k) : 0;
}
int32_t CImgBuff::GetPixelCmyk8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const {
    return Readable(this, x, y) ? buffer->GetPixelCmyk8(x, y, c, m, ye, k) : 0;
}
int32_t CImgBuff::SetPixelXyz(int32_t x, int32_t y, double cx, double cy, double cz) {
    return buffer ? buffer->SetPixelXyz(x, y, cx, cy, cz) : 0;
}
int32_t CImgBuff::GetPixelXyz(int32_t x, int32_t y, double* cx, double* cy, double* cz) const {
    return Readable(this, x, y) ? buffer->GetPixelXyz(x, y, cx, cy, cz) : 0;
}
int32_t CImgBuff::SetPixelLab(int32_t x, int32_t y, double l, double a, double b) {
    return buffer ? buffer->SetPixelLab(x, y, l, a, b) : 0;
}
int32_t CImgBuff::GetPixelLab(int32_t x, int32_t y, double* l, double* a, double* b) const {
    return buffer ? buffer->GetPixelLab(x, y, l, a, b) : 0;
}
int32_t CImgBuff::SetPixelLch(int32_t x, int32_t y, double l, double c, double h) {
    return buffer ? buffer->SetPixelLch(x, y, l, c, h) : 0;
}
int32_t CImgBuff::GetPixelLch(int32_t x, int32_t y, double* l, double* c, double* h) const {
    return buffer ? buffer->GetPixelLch(x, y, l, c, h) : 0;
}

// ---- regions of interest ----

int32_t ImgClipRect(ImgRect* rect, const CImgBuff* image) {
    if (rect->x0 > rect->x1) {
        int32_t t = rect->x0;
        rect->x0 = rect->x1;
        rect->x1 = t;
    }
    if (rect->y0 > rect->y1) {
        int32_t t = rect->y0;
        rect->y0 = rect->y1;
        rect->y1 = t;
    }
    if (rect->x1 < 0 || rect->y1 < 0) return 0;
    if (rect->x0 < 0) rect->x0 = 0;
    if (rect->y0 < 0) rect->y0 = 0;
    if (!ImgFormatValid(FormatOf(image))) return 1;
    const C_ImgBuff* b = image->buffer;
    if (rect->x0 >= b->width || rect->y0 >= b->height) return 0;
    if (rect->x1 > b->width - 1) rect->x1 = b->width - 1;
    if (rect->y1 > b->height - 1) rect->y1 = b->height - 1;
    return 1;
}

int32_t ImgGetRoi(ImgRect* out, const CImgBuff* image, const ImgRect* rect) {
    if (rect) {
        *out = *rect;
        if (ImgClipRect(out, image)) return 1;
        *out = ImgRect{0, 0, 0, 0};
        return 0;
    }
    if (!ImgFormatValid(FormatOf(image))) {
        *out = ImgRect{0, 0, 0, 0};
        return 0;
    }
    *out = ImgRect{0, 0, image->buffer->width - 1, image->buffer->height - 1};
    return 1;
}
