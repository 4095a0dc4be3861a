// The in-memory image: pixel buffer record, pixel formats, typed pixel
// access, the owning handle and regions of interest.
#pragma once

#include <cstdint>

// Pixel format codes.
enum : int32_t {
    kImgFormatNone = 0,
    kImgGray8 = 1,
    kImgGray16 = 2,
    kImgGray32 = 3,
    kImgRgb8 = 4,
    kImgRgb16 = 5,
    kImgRgb32 = 6,
    kImgXyz = 7,
    kImgHsv16 = 8,
    kImgCmyk8 = 9,
};

// Bytes per pixel, indexed by format code (0 .. 9).
extern const int32_t g_ImgFormatBytes[10];

// Format sets, tested as (mask >> format) & 1.
constexpr uint32_t ImgFormat8BitMask = 530;   // 1, 4, 9
constexpr uint32_t ImgFormat16BitMask = 292;  // 2, 5, 8
inline bool ImgFormatValid(int32_t f) { return f >= 1 && f <= 9; }
inline bool ImgFormatIn(uint32_t mask, int32_t f) { return f >= 0 && f < 32 && ((mask >> f) & 1u) != 0; }
inline int32_t ImgFormatBytes(int32_t f) { return ImgFormatValid(f) ? g_ImgFormatBytes[f] : 0; }
// "8bit grayscale", ...; "null" for 0, "unknown" for any other code.
const char* ImgFormatName(int32_t f);

// Zeroed pixel block of count x size bytes behind an 8-byte header holding
// the block's size; null on overflow or when memory runs out.
uint8_t* ImgAllocPixels(uint64_t count, uint64_t size);
// The same block without clearing, for work buffers that are written whole
// before they are read.
uint8_t* ImgAllocPixelsUncleared(uint64_t count, uint64_t size);
void ImgFreePixels(uint8_t* pixels);

// The grey of a colour: (299 R + 587 G + 114 B + 500) / 1000, integer
// division, exact for channels of any width up to 32 bits.
inline uint32_t ImgGrayWeighted(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<uint32_t>((299ull * r + 587ull * g + 114ull * b + 500ull) / 1000ull);
}

// Pixel buffer record: format, width, height and one block of pixels, rows
// top first without padding.
class C_ImgBuff {
public:
    C_ImgBuff();
    virtual ~C_ImgBuff();
    C_ImgBuff(const C_ImgBuff&) = delete;
    C_ImgBuff& operator=(const C_ImgBuff&) = delete;

    int32_t format = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* pixels = nullptr;

    int32_t Create(int32_t width, int32_t height, int32_t format);
    C_ImgBuff* CopyFrom(const C_ImgBuff* source);
    void Clear();
    int32_t ConvertFormat(uint32_t format);
    int32_t ResizeCanvas(uint32_t width, int32_t height);
    void FreePixels();
    // Frees this buffer's block and takes over the other's format, size and
    // block, leaving the other empty.
    void TakePixels(C_ImgBuff* other);

    bool Contains(int32_t x, int32_t y) const { return x >= 0 && x < width && y >= 0 && y < height; }
    int32_t BytesPerPixel() const { return ImgFormatBytes(format); }
    uint8_t* PixelAt(int32_t x, int32_t y) const {
        return pixels + (static_cast<uint64_t>(width) * static_cast<uint64_t>(y) + static_cast<uint64_t>(x)) *
                            static_cast<uint64_t>(BytesPerPixel());
    }

    // Typed pixel access. Setters check bounds; getters marked unchecked
    // take in-range coordinates as a precondition.
    int32_t SetPixelGray8(int32_t x, int32_t y, uint8_t v);
    int32_t GetPixelGray8(int32_t x, int32_t y, uint8_t* v) const;  // unchecked
    int32_t SetPixelGray16(int32_t x, int32_t y, uint16_t v);
    int32_t GetPixelGray16(int32_t x, int32_t y, uint16_t* v) const;  // unchecked
    int32_t SetPixelGray32(int32_t x, int32_t y, uint32_t v);
    int32_t GetPixelGray32(int32_t x, int32_t y, uint32_t* v) const;  // unchecked
    int32_t GetPixelGrayDouble(int32_t x, int32_t y, double* v) const;
    int32_t SetPixelRgb8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);
    int32_t GetPixelRgb8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const;  // unchecked
    int32_t SetPixelRgb16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b);
    int32_t GetPixelRgb16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const;  // unchecked
    int32_t SetPixelRgb32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b);
    int32_t GetPixelRgb32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const;  // unchecked
    int32_t SetPixelRgbDouble(int32_t x, int32_t y, double r, double g, double b);
    int32_t GetPixelRgbDouble(int32_t x, int32_t y, double* r, double* g, double* b) const;
    int32_t SetPixelHsv16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v);
    int32_t GetPixelHsv16(int32_t x, int32_t y, uint16_t* h, uint16_t* s, uint16_t* v) const;  // unchecked
    int32_t SetPixelCmyk8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k);
    int32_t GetPixelCmyk8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const;  // unchecked
    int32_t SetPixelXyz(int32_t x, int32_t y, double cx, double cy, double cz);
    int32_t GetPixelXyz(int32_t x, int32_t y, double* cx, double* cy, double* cz) const;  // unchecked
    int32_t SetPixelLab(int32_t x, int32_t y, double l, double a, double b);
    int32_t GetPixelLab(int32_t x, int32_t y, double* l, double* a, double* b) const;
    int32_t SetPixelLch(int32_t x, int32_t y, double l, double c, double h);
    int32_t GetPixelLch(int32_t x, int32_t y, double* l, double* c, double* h) const;
};

// Region of interest; both corners inclusive. A null region means the whole image.
struct ImgRect {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
};

struct codec_file;
struct codec_file_info;
class CFgTexture;

// The owning handle through which the system passes images.
class CImgBuff {
public:
    CImgBuff();
    virtual ~CImgBuff();
    CImgBuff(const CImgBuff&) = delete;
    CImgBuff& operator=(const CImgBuff&) = delete;

    C_ImgBuff* buffer;  // owned; null only when its allocation failed

    CImgBuff* CopyFrom(const CImgBuff* other);
    void FreePixels();
    bool Is8BitFormat() const;
    int32_t PasteImage(const CImgBuff* source, uint32_t x, uint32_t y);
    int32_t ExtractRect(CImgBuff* destination, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const;

    // Bounds-checked pixel access (getters test the coordinates first).
    int32_t SetPixelGray8(int32_t x, int32_t y, uint8_t v);
    int32_t GetPixelGray8(int32_t x, int32_t y, uint8_t* v) const;
    int32_t SetPixelGray16(int32_t x, int32_t y, uint16_t v);
    int32_t GetPixelGray16(int32_t x, int32_t y, uint16_t* v) const;
    int32_t SetPixelGray32(int32_t x, int32_t y, uint32_t v);
    int32_t GetPixelGray32(int32_t x, int32_t y, uint32_t* v) const;
    int32_t SetPixelRgb8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);
    int32_t GetPixelRgb8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const;
    int32_t SetPixelRgb16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b);
    int32_t GetPixelRgb16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const;
    int32_t SetPixelRgb32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b);
    int32_t GetPixelRgb32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const;
    int32_t SetPixelHsv16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v);
    int32_t SetPixelCmyk8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k);
    int32_t GetPixelCmyk8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const;
    int32_t SetPixelXyz(int32_t x, int32_t y, double cx, double cy, double cz);
    int32_t GetPixelXyz(int32_t x, int32_t y, double* cx, double* cy, double* cz) const;
    int32_t SetPixelLab(int32_t x, int32_t y, double l, double a, double b);
    int32_t GetPixelLab(int32_t x, int32_t y, double* l, double* a, double* b) const;
    int32_t SetPixelLch(int32_t x, int32_t y, double l, double c, double h);
    int32_t GetPixelLch(int32_t x, int32_t y, double* l, double* c, double* h) const;

    // Media frames; defined by the media library.
    int32_t ReadFrame(codec_file* file, uint64_t index);
    int32_t WriteFrame(codec_file* file) const;
    int32_t GetFrameInfo(codec_file_info* info) const;
    // Rendered texture back into an RGB8 image; defined by the toolkit.
    int32_t CopyFromTexture(const CFgTexture* texture);
};

// Orders the corners and clips the region to the image (none given: only
// the lower bounds). 1 when a region remains.
int32_t ImgClipRect(ImgRect* rect, const CImgBuff* image);
// The clipped region of `rect`, or the whole image without one; 0 (and an
// all-zero `out`) when nothing remains.
int32_t ImgGetRoi(ImgRect* out, const CImgBuff* image, const ImgRect* rect);
