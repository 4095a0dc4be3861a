// The three process-wide 256 x 256 colour charts of the colour map: the xy
// chromaticity diagram, the a*b* plane at L* 50 and the hue/saturation
// wheel, each an 8-bit RGB image with a black outside. Built once, kept
// until the process ends.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

enum : uint32_t { kChartXy = 0, kChartLab = 1, kChartHsv = 2 };

// Builds the charts that do not exist yet (a chart that cannot be built
// stays absent). Safe to call from any thread.
void BuildColourCharts();
// The chart of a view, or null when it is absent or the view unknown.
const CImgBuff* ColourChart(uint32_t view);

// Builds one chart into `image` with the given background level (0 or 255).
bool MakeColourChart(uint32_t view, uint8_t background, CImgBuff* image);

// The wheel cell (column, row of the count table) of a 16-bit hue and
// saturation: row index upwards from the bottom of the chart.
void HsvWheelCell(uint16_t hue, uint16_t saturation, int32_t* column, int32_t* row);

// In every row, from both ends, the pixels of grey level 0 become `level`:
// a chart's black outside in another background.
void ChartOutsideTo(CImgBuff* chart, uint8_t level);
