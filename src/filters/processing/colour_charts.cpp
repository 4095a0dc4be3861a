#include "filters/processing/colour_charts.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include "image/colour.h"
#include "image/kernels/raster_stack.h"

namespace {

std::mutex g_ChartsLock;
CImgBuff* g_Charts[3] = {nullptr, nullptr, nullptr};

// Walks every row from both ends while the grey level equals `from` and
// writes `to` there.
void FillOutside(C_ImgBuff& b, uint8_t from, uint8_t to) {
    for (int32_t y = 0; y < b.height; ++y) {
        uint8_t g;
        for (int32_t x = 0; x < b.width; ++x) {
            b.GetPixelGray8(x, y, &g);
            if (g != from) break;
            b.SetPixelGray8(x, y, to);
        }
        for (int32_t x = b.width - 1; x >= 0; --x) {
            b.GetPixelGray8(x, y, &g);
            if (g != from) break;
            b.SetPixelGray8(x, y, to);
        }
    }
}

void SpectralLocus(PlotGrayContext* plot) {
    int32_t firstX = 0, firstY = 0, lastX = 0, lastY = 0;
    bool first = true;
    for (int nm = 360; nm <= 830; nm += 5) {
        double X, Y, Z;
        ImgWavelengthToXyz(nm, &X, &Y, &Z);
        const double s = X + Y + Z;
        const int32_t px = static_cast<int32_t>(255 * (X / s)), py = 255 - static_cast<int32_t>(255 * (Y / s));
        if (first) {
            firstX = px, firstY = py;
            first = false;
        } else {
            ImgDrawLine(lastX, lastY, px, py, plot);
        }
        lastX = px, lastY = py;
    }
    ImgDrawLine(lastX, lastY, firstX, firstY, plot);
}

}  // namespace

bool MakeColourChart(uint32_t view, uint8_t background, CImgBuff* image) {
    if (view > kChartHsv || !image || !image->buffer || !image->buffer->Create(256, 256, kImgRgb8)) return false;
    C_ImgBuff& b = *image->buffer;
    if (background == 0) std::memset(b.pixels, 255, 256 * 256 * 3);
    PlotGrayContext plot{image, static_cast<uint8_t>(background == 128 ? 0 : 128)};
    if (view == kChartXy)
        SpectralLocus(&plot);
    else
        ImgDrawChartCircle(&plot);
    uint8_t g0;
    b.GetPixelGray8(0, 0, &g0);
    FillOutside(b, g0, background);
    for (int32_t row = 0; row < 256; ++row)
        for (int32_t col = 0; col < 256; ++col) {
            uint8_t g;
            b.GetPixelGray8(col, row, &g);
            if (g == background) continue;
            if (view == kChartXy) {
                const double x = col / 255.0, y = (255 - row) / 255.0, Y = 0.5;
                // The bottom row has no chromaticity: black.
                if (y > 0)
                    b.SetPixelXyz(col, row, x * Y / y, Y, (1 - x - y) * Y / y);
                else
                    b.SetPixelXyz(col, row, 0, 0, 0);
            } else if (view == kChartLab) {
                b.SetPixelLab(col, row, 50, col * 255.0 / 256 - 128, 128 - row * 255.0 / 256);
            } else {
                const double dx = col - 128, dy = 128 - row;
                double theta = std::atan2(dy, dx);
                if (theta < 0) theta += 2 * M_PI;
                const double h = std::min(std::trunc(theta / (2 * M_PI) * 65535), 65535.0);
                const double s = std::min(std::trunc(std::sqrt(dx * dx + dy * dy) / 128 * 65535), 65535.0);
                b.SetPixelHsv16(col, row, static_cast<uint16_t>(h), static_cast<uint16_t>(s), 65535);
            }
        }
    return true;
}

void BuildColourCharts() {
    std::lock_guard<std::mutex> hold(g_ChartsLock);
    for (uint32_t view = 0; view < 3; ++view) {
        if (g_Charts[view]) continue;
        auto* chart = new (std::nothrow) CImgBuff;
        if (!chart || !chart->buffer || !MakeColourChart(view, 0, chart)) {
            delete chart;
            continue;
        }
        g_Charts[view] = chart;
    }
}

const CImgBuff* ColourChart(uint32_t view) {
    if (view > kChartHsv) return nullptr;
    std::lock_guard<std::mutex> hold(g_ChartsLock);
    return g_Charts[view];
}

void HsvWheelCell(uint16_t hue, uint16_t saturation, int32_t* column, int32_t* row) {
    const double c = 128, r = saturation / 65535.0 * c, theta = 2 * M_PI * hue / 65535.0;
    *column = static_cast<int32_t>(std::clamp(c + r * std::cos(theta), 0.0, 255.0));
    *row = static_cast<int32_t>(std::clamp(c + r * std::sin(theta), 0.0, 255.0));
}

void ChartOutsideTo(CImgBuff* chart, uint8_t level) {
    if (chart && chart->buffer && chart->buffer->pixels) FillOutside(*chart->buffer, 0, level);
}
