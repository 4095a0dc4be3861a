// Particles of one frame for particle tracking: the objects of the image's
// processing rectangle, each placed at the centre of its outer contour.
#pragma once

#include <cstdint>

#include "filters/analysis/particle_data.h"
#include "image/imgbuff.h"
#include "image/objects.h"

// Writes {-1, 1, x, y} for each object of `rect` in scan order into the
// empty slot, at most kPtvSlotCapacity of them (`scratch` holds that many
// records). Objects are dark on a white background (bg 1) and bright on a
// black one (bg 0); connectivity 4 or 8. The number of particles, or -1 when
// the measurement fails, which leaves the slot empty.
int32_t PtvDetect(CImgBuff* image, const ImgRect& rect, uint32_t connect, uint32_t bg, ParticleFrame* slot,
                  IslandRecord* scratch);
