// Particle separation: touching objects cut apart along thin background
// lines by marker-based flooding over a level map (the objects' smoothed
// distance to the background, or the image's own grey levels).
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Cuts the particles of the region (null: whole image; a given region must
// lie inside the image, it is not clipped) in place: pixels left outside
// every grown label get the background level (255 when inverted, else 0),
// the others keep their values. `gray` uses the grey levels as the level
// map. 1 done; 0 refused, or when a step failed or found no level (image
// unchanged).
int32_t ImgSeparateParticles(CImgBuff* image, uint32_t gray, int32_t connectivity, uint32_t inverted, const ImgRect* region);

// The steps, on 8-bit grey images of the region's size. The distance map
// turns a binary image into its smoothed distance to the background and
// gives its top level (0 on failure or an empty image).
uint32_t ImgParticleDistanceMap(CImgBuff* a, uint32_t inverted);
// The top plateaus of the level map `b`, as 255 in a new image that
// replaces b. 0 when out of memory.
int32_t ImgParticleMarkers(CImgBuff* b, uint32_t top, int32_t connectivity);
// Numbers the 8-connected marker regions 1 .. 255, then 1 again; the
// largest label used (0: none, -1: out of memory).
int32_t ImgParticleLabelMarkers(CImgBuff* b);
// Grows the labels of b over the level map a from level top - 1 down to 1
// and leaves separation lines unlabelled. 0 when out of memory.
int32_t ImgParticleGrow(CImgBuff* b, const CImgBuff* a, uint32_t top, int32_t connectivity);
