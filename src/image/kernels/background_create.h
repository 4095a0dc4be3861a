// Background images built from a run of frames that the kernels fetch
// themselves: per pixel the average, maximum or minimum over the frames, or
// a variant that leaves out the frames far from the pixel's mean.
#pragma once

#include <cstdint>
#include <memory>

#include "image/imgbuff.h"

// Frame source: puts frame `index` into `image` (which takes the frame's size
// and format) and answers 1 to go on or 0 once the user has cancelled.
// Called on the kernel's calling thread, never from a pool worker.
using ImgFrameSourceFn = int32_t (*)(uint64_t index, CImgBuff* image, void* user);

// Mode 0 average, 1 maximum, -1 minimum over frames 0 .. frameCount-1; the
// destination takes frame 0's size and format and receives the result.
// 1 done, 0 refused or out of memory, -1 cancelled (the destination then
// holds frame 0).
int32_t ImgCreateBackground(CImgBuff* destination, uint64_t frameCount, int32_t mode, ImgFrameSourceFn source, void* user);

// Mode 0: L*a*b* average of the frames within `noiseLevel` (squared
// distance, >= 0) of the pixel's mean; modes 1 and -1: maximum or minimum
// with an outlying extreme replaced by its mirror about the mean. Results as
// ImgCreateBackground.
int32_t ImgCreateBackgroundDenoised(CImgBuff* destination, uint64_t frameCount, int32_t mode, double noiseLevel,
                                    ImgFrameSourceFn source, void* user);

// The average (mode 0), maximum (1) or minimum (-1) of ImgCreateBackground
// for frames handed in one at a time, by a caller that is given frames
// rather than fetching them: Add each frame in order, then Finish. The
// results equal ImgCreateBackground's over the same frames.
class ImgBackgroundFold {
public:
    explicit ImgBackgroundFold(int32_t mode);
    ~ImgBackgroundFold();
    ImgBackgroundFold(const ImgBackgroundFold&) = delete;
    ImgBackgroundFold& operator=(const ImgBackgroundFold&) = delete;

    // Folds the frame in (read only, on the calling thread and the pool).
    // Frame 0 sets the size and format; a later frame covers only the
    // pixels it shares with frame 0. 0 when refused (a bad mode, frame 0
    // without pixels, no memory for the accumulators); every later call
    // then refuses too.
    int32_t Add(const CImgBuff* frame);
    // Frames folded so far.
    uint64_t Count() const;
    // Writes the result into `destination`, which takes frame 0's size and
    // format: 1 done, 0 when nothing was folded or a call was refused.
    int32_t Finish(CImgBuff* destination);

private:
    struct State;
    std::unique_ptr<State> state_;
};
