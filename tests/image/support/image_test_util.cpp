#include "image_test_util.h"

#include <cstring>

namespace imgtest {

int Channels(int32_t format) {
    if (format >= kImgGray8 && format <= kImgGray32) return 1;
    return format == kImgCmyk8 ? 4 : 3;
}

namespace {

int ChannelBytes(int32_t format) { return ImgFormatBytes(format) / Channels(format); }

}  // namespace

void PutRaw(C_ImgBuff& b, int32_t x, int32_t y, const std::vector<double>& v) {
    uint8_t* p = b.PixelAt(x, y);
    for (int i = 0; i < Channels(b.format); ++i) {
        switch (b.format == kImgXyz ? 0 : ChannelBytes(b.format)) {
        case 0:
            std::memcpy(p + 8 * i, &v[i], 8);
            break;
        case 1:
            p[i] = static_cast<uint8_t>(v[i]);
            break;
        case 2: {
            uint16_t c = static_cast<uint16_t>(v[i]);
            std::memcpy(p + 2 * i, &c, 2);
            break;
        }
        default: {
            uint32_t c = static_cast<uint32_t>(v[i]);
            std::memcpy(p + 4 * i, &c, 4);
            break;
        }
        }
    }
}

std::vector<double> GetRaw(const C_ImgBuff& b, int32_t x, int32_t y) {
    const uint8_t* p = b.PixelAt(x, y);
    std::vector<double> v;
    for (int i = 0; i < Channels(b.format); ++i) {
        switch (b.format == kImgXyz ? 0 : ChannelBytes(b.format)) {
        case 0: {
            double c;
            std::memcpy(&c, p + 8 * i, 8);
            v.push_back(c);
            break;
        }
        case 1:
            v.push_back(p[i]);
            break;
        case 2: {
            uint16_t c;
            std::memcpy(&c, p + 2 * i, 2);
            v.push_back(c);
            break;
        }
        default: {
            uint32_t c;
            std::memcpy(&c, p + 4 * i, 4);
            v.push_back(c);
            break;
        }
        }
    }
    return v;
}

void FillPattern(C_ImgBuff& b, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 12345u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    int bytes = b.format == kImgXyz ? 0 : ChannelBytes(b.format);
    for (int32_t y = 0; y < b.height; ++y) {
        for (int32_t x = 0; x < b.width; ++x) {
            std::vector<double> v;
            for (int i = 0; i < Channels(b.format); ++i) {
                uint32_t r = next();
                if (bytes == 0) {
                    v.push_back(-0.1 + (r % 13001) / 10000.0);
                } else if (bytes == 4) {
                    v.push_back(r);
                } else {
                    v.push_back(r >> (32 - 8 * bytes));
                }
            }
            PutRaw(b, x, y, v);
        }
    }
}

}  // namespace imgtest
