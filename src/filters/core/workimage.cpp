// Extraction of one colour component of a frame into a grey working image
// and its write-back, per pixel through the typed accessors so that every
// frame format works with every code; rows are spread over the pool.
#include "filters/core/workimage.h"

#include <algorithm>

#include "image/colour.h"
#include "image/imgbuff.h"
#include "image/pool.h"

namespace {

struct WorkRows {
    C_ImgBuff* frame;
    C_ImgBuff* work;
    uint32_t code;
    int32_t width;
    int32_t depth;  // 8, 16 or 32 bits
};

uint64_t FullScale(int32_t depth) { return depth == 8 ? 0xFFu : depth == 16 ? 0xFFFFu : 0xFFFFFFFFu; }

// Depth at which a frame of this format is read and written back.
int32_t FrameDepth(int32_t format) {
    if (ImgFormatIn(ImgFormat8BitMask, format)) return 8;
    if (ImgFormatIn(ImgFormat16BitMask, format)) return 16;
    return 32;
}

int32_t GrayFormat(int32_t depth) { return depth == 8 ? kImgGray8 : depth == 16 ? kImgGray16 : kImgGray32; }

void ReadRgb(const C_ImgBuff* f, int32_t x, int32_t y, int32_t depth, uint64_t rgb[3]) {
    if (depth == 8) {
        uint8_t r, g, b;
        f->GetPixelRgb8(x, y, &r, &g, &b);
        rgb[0] = r, rgb[1] = g, rgb[2] = b;
    } else if (depth == 16) {
        uint16_t r, g, b;
        f->GetPixelRgb16(x, y, &r, &g, &b);
        rgb[0] = r, rgb[1] = g, rgb[2] = b;
    } else {
        uint32_t r, g, b;
        f->GetPixelRgb32(x, y, &r, &g, &b);
        rgb[0] = r, rgb[1] = g, rgb[2] = b;
    }
}

void WriteRgb(C_ImgBuff* f, int32_t x, int32_t y, int32_t depth, const uint64_t rgb[3]) {
    if (depth == 8) {
        f->SetPixelRgb8(x, y, static_cast<uint8_t>(rgb[0]), static_cast<uint8_t>(rgb[1]), static_cast<uint8_t>(rgb[2]));
    } else if (depth == 16) {
        f->SetPixelRgb16(x, y, static_cast<uint16_t>(rgb[0]), static_cast<uint16_t>(rgb[1]),
                         static_cast<uint16_t>(rgb[2]));
    } else {
        f->SetPixelRgb32(x, y, static_cast<uint32_t>(rgb[0]), static_cast<uint32_t>(rgb[1]),
                         static_cast<uint32_t>(rgb[2]));
    }
}

uint64_t ReadGray(const C_ImgBuff* f, int32_t x, int32_t y, int32_t depth) {
    if (depth == 8) {
        uint8_t v = 0;
        f->GetPixelGray8(x, y, &v);
        return v;
    }
    if (depth == 16) {
        uint16_t v = 0;
        f->GetPixelGray16(x, y, &v);
        return v;
    }
    uint32_t v = 0;
    f->GetPixelGray32(x, y, &v);
    return v;
}

void WriteGray(C_ImgBuff* f, int32_t x, int32_t y, int32_t depth, uint64_t v) {
    if (depth == 8)
        f->SetPixelGray8(x, y, static_cast<uint8_t>(v));
    else if (depth == 16)
        f->SetPixelGray16(x, y, static_cast<uint16_t>(v));
    else
        f->SetPixelGray32(x, y, static_cast<uint32_t>(v));
}

// C, M, Y, K derived from RGB: K = full - max(R, G, B), C = full - R - K...
void RgbToCmyk(const uint64_t rgb[3], uint64_t full, uint64_t cmyk[4]) {
    uint64_t k = full - std::max({rgb[0], rgb[1], rgb[2]});
    for (int i = 0; i < 3; ++i) cmyk[i] = full - rgb[i] - k;
    cmyk[3] = k;
}

void CmykToRgb(const uint64_t cmyk[4], uint64_t full, uint64_t rgb[3]) {
    for (int i = 0; i < 3; ++i) rgb[i] = cmyk[i] + cmyk[3] > full ? 0 : full - cmyk[i] - cmyk[3];
}

// The three doubles of codes 14-21: XYZ, L*a*b* or L*C*h.
void ReadColour(const C_ImgBuff* f, int32_t x, int32_t y, uint32_t code, double v[3]) {
    if (code <= 16)
        f->GetPixelXyz(x, y, &v[0], &v[1], &v[2]);
    else if (code <= 19)
        f->GetPixelLab(x, y, &v[0], &v[1], &v[2]);
    else
        f->GetPixelLch(x, y, &v[0], &v[1], &v[2]);
}

void WriteColour(C_ImgBuff* f, int32_t x, int32_t y, uint32_t code, const double v[3]) {
    if (code <= 16)
        f->SetPixelXyz(x, y, v[0], v[1], v[2]);
    else if (code <= 19)
        f->SetPixelLab(x, y, v[0], v[1], v[2]);
    else
        f->SetPixelLch(x, y, v[0], v[1], v[2]);
}

// Component index within ReadColour's triple for codes 14-21.
int ColourIndex(uint32_t code) { return code <= 19 ? static_cast<int>((code - 14) % 3) : static_cast<int>(code - 19); }

uint32_t EncodeColour(uint32_t code, double v) {
    switch (code) {
        case 14:
        case 15:
        case 16: return ImgEncodeXyzU32(v);
        case 17: return ImgEncodeLightnessU32(v);
        case 18:
        case 19: return ImgEncodeAbU32(v);
        case 20: return ImgEncodeChromaU32(v);
        default: return ImgEncodeHueU32(v);
    }
}

double DecodeColour(uint32_t code, uint32_t v) {
    switch (code) {
        case 14:
        case 15:
        case 16: return ImgDecodeXyzU32(v);
        case 17: return ImgDecodeLightnessU32(v);
        case 18:
        case 19: return ImgDecodeAbU32(v);
        case 20: return ImgDecodeChromaU32(v);
        default: return ImgDecodeHueU32(v);
    }
}

uint64_t ExtractPixel(const WorkRows& job, int32_t x, int32_t y) {
    const C_ImgBuff* f = job.frame;
    const uint32_t code = job.code;
    const uint64_t full = FullScale(job.depth);
    uint64_t rgb[3];
    if (code <= 3 || (code >= 7 && code <= 9)) {
        ReadRgb(f, x, y, job.depth, rgb);
        uint64_t v = rgb[(code - 1) % 3];
        return code <= 3 ? v : full - v;
    }
    if (code <= 6) {
        if (job.depth == 32) {
            ReadRgb(f, x, y, 32, rgb);
            uint32_t hsv[3];
            ImgRgb32ToHsv32(static_cast<uint32_t>(rgb[0]), static_cast<uint32_t>(rgb[1]), static_cast<uint32_t>(rgb[2]),
                            &hsv[0], &hsv[1], &hsv[2]);
            return hsv[code - 4];
        }
        uint16_t hsv[3];
        f->GetPixelHsv16(x, y, &hsv[0], &hsv[1], &hsv[2]);
        return hsv[code - 4];
    }
    if (code <= 13) {
        if (job.depth == 8) {
            uint8_t cmyk[4];
            f->GetPixelCmyk8(x, y, &cmyk[0], &cmyk[1], &cmyk[2], &cmyk[3]);
            return cmyk[code - 10];
        }
        ReadRgb(f, x, y, job.depth, rgb);
        uint64_t cmyk[4];
        RgbToCmyk(rgb, full, cmyk);
        return cmyk[code - 10];
    }
    double v[3];
    ReadColour(f, x, y, code, v);
    return EncodeColour(code, v[ColourIndex(code)]);
}

void FillWorkingRows(void* ctx, uint64_t first, uint64_t count) {
    const WorkRows& job = *static_cast<const WorkRows*>(ctx);
    for (uint64_t row = first; row < first + count; ++row) {
        int32_t y = static_cast<int32_t>(row);
        for (int32_t x = 0; x < job.width; ++x) WriteGray(job.work, x, y, job.depth, ExtractPixel(job, x, y));
    }
}

void StorePixel(const WorkRows& job, int32_t x, int32_t y) {
    C_ImgBuff* f = job.frame;
    const uint32_t code = job.code;
    const uint64_t full = FullScale(job.depth);
    uint64_t rgb[3];
    if (code <= 3 || (code >= 7 && code <= 9)) {
        uint64_t v = ReadGray(job.work, x, y, job.depth);
        ReadRgb(f, x, y, job.depth, rgb);
        rgb[(code - 1) % 3] = code <= 3 ? v : full - v;
        WriteRgb(f, x, y, job.depth, rgb);
    } else if (code <= 6) {
        if (job.depth == 32) {
            ReadRgb(f, x, y, 32, rgb);
            uint32_t hsv[3], out[3];
            ImgRgb32ToHsv32(static_cast<uint32_t>(rgb[0]), static_cast<uint32_t>(rgb[1]), static_cast<uint32_t>(rgb[2]),
                            &hsv[0], &hsv[1], &hsv[2]);
            hsv[code - 4] = static_cast<uint32_t>(ReadGray(job.work, x, y, 32));
            ImgHsv32ToRgb32(hsv[0], hsv[1], hsv[2], &out[0], &out[1], &out[2]);
            f->SetPixelRgb32(x, y, out[0], out[1], out[2]);
        } else {
            // HSV is kept at 16 bits below 32-bit frames.
            uint16_t hsv[3];
            f->GetPixelHsv16(x, y, &hsv[0], &hsv[1], &hsv[2]);
            hsv[code - 4] = static_cast<uint16_t>(ReadGray(job.work, x, y, 16));
            f->SetPixelHsv16(x, y, hsv[0], hsv[1], hsv[2]);
        }
    } else if (code <= 13) {
        uint64_t v = ReadGray(job.work, x, y, job.depth);
        if (job.depth == 8) {
            uint8_t cmyk[4];
            f->GetPixelCmyk8(x, y, &cmyk[0], &cmyk[1], &cmyk[2], &cmyk[3]);
            cmyk[code - 10] = static_cast<uint8_t>(v);
            f->SetPixelCmyk8(x, y, cmyk[0], cmyk[1], cmyk[2], cmyk[3]);
        } else {
            ReadRgb(f, x, y, job.depth, rgb);
            uint64_t cmyk[4];
            RgbToCmyk(rgb, full, cmyk);
            cmyk[code - 10] = v;
            CmykToRgb(cmyk, full, rgb);
            WriteRgb(f, x, y, job.depth, rgb);
        }
    } else {
        double v[3];
        ReadColour(f, x, y, code, v);
        v[ColourIndex(code)] = DecodeColour(code, static_cast<uint32_t>(ReadGray(job.work, x, y, 32)));
        WriteColour(f, x, y, code, v);
    }
}

void StoreWorkingRows(void* ctx, uint64_t first, uint64_t count) {
    const WorkRows& job = *static_cast<const WorkRows*>(ctx);
    for (uint64_t row = first; row < first + count; ++row) {
        for (int32_t x = 0; x < job.width; ++x) StorePixel(job, x, static_cast<int32_t>(row));
    }
}

}  // namespace

int32_t MakeWorkingImage(CImgBuff* frame, CImgBuff* work, uint32_t code) {
    if (!frame || !frame->buffer || !work || !work->buffer) return 0;
    C_ImgBuff* f = frame->buffer;
    if (!ImgFormatValid(f->format)) return 0;
    const bool colour = code >= 14 && code <= kWorkCodeMax;
    const bool hsv = code >= 4 && code <= 6;
    int32_t target = f->format;
    int32_t depth = FrameDepth(f->format);
    if (colour) {
        target = kImgXyz;
        depth = 32;
    } else if (hsv && depth == 8) {
        target = kImgRgb16;
        depth = 16;
    }
    if (!work->buffer->Create(f->width, f->height, GrayFormat(depth))) return 0;
    if (target != f->format && !f->ConvertFormat(static_cast<uint32_t>(target))) {
        work->FreePixels();
        return 0;
    }
    if (code == 0 || code > kWorkCodeMax) return 1;
    WorkRows job{f, work->buffer, code, f->width, depth};
    PoolParallelFor(FillWorkingRows, &job, static_cast<uint64_t>(f->height));
    return 1;
}

int32_t StoreWorkingImage(CImgBuff* frame, const CImgBuff* work, uint32_t code) {
    if (!frame || !frame->buffer || !work || !work->buffer || code == 0) return 0;
    C_ImgBuff* f = frame->buffer;
    C_ImgBuff* w = work->buffer;
    if (!ImgFormatValid(f->format) || !ImgFormatValid(w->format)) return 0;
    if (code > kWorkCodeMax) return frame->CopyFrom(work) ? 1 : 0;
    if (w->width != f->width || w->height != f->height) return 0;
    WorkRows job{f, w, code, f->width, FrameDepth(f->format)};
    PoolParallelFor(StoreWorkingRows, &job, static_cast<uint64_t>(f->height));
    return 1;
}
