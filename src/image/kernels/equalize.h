// Histogram equalisation by ranking: the pixels of a region are ranked by
// level (ties by the brightness of their neighbourhood, then by position)
// and the output levels are handed out in rank order, an equal share of
// pixels to every level of the full range.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// One pixel of the image being flattened.
struct ImgRankRecord {
    uint32_t level;  // grey level at the image's depth
    int32_t key;     // neighbourhood contrast, ImgNeighbourContrast
    uint32_t x;
    uint32_t y;
};

// Flattens the region (null: whole image); colour regions channel by
// channel (R, G, B of their RGB rendering). 1 done, 0 refused or out of
// memory (image unchanged).
int32_t ImgFlattenHistogram(CImgBuff* image, const ImgRect* roi);
// Flattens a whole grey image (format 1, 2 or 3) of the given size. 0 when
// the size does not match or memory runs out (image unchanged).
int32_t ImgFlattenGray(CImgBuff* image, int32_t width, int32_t height);
// (Re)creates `channel` as a grey image of the source's size and depth group
// (grey8, grey16 or grey32) holding channel c (1 R, 2 G, 3 B) of the
// source's RGB rendering. 0 when it cannot be created or c is not 1-3.
int32_t ImgExtractChannel(CImgBuff* source, CImgBuff* channel, int32_t c);

// The mean of the neighbours inside the image (read at 32 bits) minus the
// pixel's own level at the image's depth, truncated and clamped to i32.
int32_t ImgNeighbourContrast(const C_ImgBuff& image, int32_t x, int32_t y);
// -2 when a ranks before b (greater level, then greater key), 2 after, 0 equal.
int32_t CompareRankRecords(const ImgRankRecord* a, const ImgRankRecord* b);
