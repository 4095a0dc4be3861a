// Whole-file replacement for the app's saves: the platform layer's
// AtomicSave, which the media output helpers share.
#pragma once

#include "platform/atomic_save.h"
