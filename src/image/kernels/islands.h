// Island measurement: every object of a region counted, or measured into
// island records whose summaries add up into one totals record.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"
#include "image/objects.h"

// Objects are the pixels whose grey value (at the width of the format's
// group) is at least 1, or below the group's maximum when inverted. With a
// maximum count of 0 only counts; otherwise measures at most that many
// objects into `records` and adds their summaries into `totals` (null: a
// private one). The region (null: whole image) is measured on a private
// copy; the image itself is only read. The number of objects, or -1 on a
// refused argument or a failure.
int32_t ImgMeasureIslands(const IslandSettings* settings, IslandSummary* totals, IslandRecord* records, uint64_t maximumCount,
                          const ImgRect* region);
