// The point-wise and pixel-moving kernels in one include.
#pragma once

#include "image/kernels/background_subtract.h"
#include "image/kernels/convolve.h"
#include "image/kernels/equalize.h"
#include "image/kernels/flip_rotate.h"
#include "image/kernels/gamma.h"
#include "image/kernels/histogram_levels.h"
#include "image/kernels/image_compare.h"
#include "image/kernels/hsv_range.h"
#include "image/kernels/image_shift.h"
#include "image/kernels/islands.h"
#include "image/kernels/morphology.h"
#include "image/kernels/negative.h"
#include "image/kernels/rotate_scale.h"
#include "image/kernels/object_removal.h"
#include "image/kernels/sample_tables.h"
#include "image/kernels/template_match.h"
