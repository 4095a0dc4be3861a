// Background creation. Frames are fetched on the calling thread; each frame
// is then folded into the accumulators over the pool, rows split between the
// workers, so each accumulator entry has one writer. Results are written only
// by the finishing pass: a cancel leaves frame 0 in the destination. A frame
// smaller than the destination covers only its own pixels: each pixel's
// average and mean are taken over the frames that cover it.
#include "image/kernels/background_create.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Accumulator = std::unique_ptr<T[], FreeDeleter>;

// width * height * entries elements of T; null when the size overflows or
// memory runs out.
template <class T>
Accumulator<T> Allocate(uint64_t width, uint64_t height, uint64_t entries) {
    uint64_t n = 0, bytes = 0;
    if (__builtin_mul_overflow(width, height, &n) || __builtin_mul_overflow(n, entries, &n) ||
        __builtin_mul_overflow(n, sizeof(T), &bytes) || bytes > SIZE_MAX)
        return nullptr;
    return Accumulator<T>(static_cast<T*>(std::malloc(bytes ? bytes : 1)));
}

// Row folds of the plain kernels, kept out of the per-frame lambdas so that
// they vectorise.
template <class T, class V>
KV_KERNEL_CLONES void MaxInto(T* acc, const V* v, int64_t n) {
    for (int64_t i = 0; i < n; ++i) acc[i] = std::max(acc[i], T(v[i]));
}
template <class T, class V>
KV_KERNEL_CLONES void MinInto(T* acc, const V* v, int64_t n) {
    for (int64_t i = 0; i < n; ++i) acc[i] = std::min(acc[i], T(v[i]));
}
template <class V>
KV_KERNEL_CLONES void AddInto(double* acc, const V* v, int64_t n) {
    for (int64_t i = 0; i < n; ++i) acc[i] += double(v[i]);
}

enum Group { kGroup8, kGroup16, kGroup32 };

Group GroupOf(int32_t format) {
    if (ImgFormatIn(ImgFormat8BitMask, format)) return kGroup8;
    if (ImgFormatIn(ImgFormat16BitMask, format)) return kGroup16;
    return kGroup32;
}

// Whether the frame's format stores exactly what the group's getter reads:
// grey or RGB samples at the group's depth, taken as they are.
bool PlainSamples(int32_t format, Group group, bool colour) {
    static constexpr int32_t kGrey[3] = {kImgGray8, kImgGray16, kImgGray32};
    static constexpr int32_t kColour[3] = {kImgRgb8, kImgRgb16, kImgRgb32};
    return format == (colour ? kColour[group] : kGrey[group]);
}

// The part of row y that both the destination and the frame hold: pixels
// 0 .. n-1; 0 when the frame has no such row.
int32_t Overlap(const C_ImgBuff& frame, int32_t width, int32_t y) {
    if (!ImgFormatValid(frame.format) || y >= frame.height) return 0;
    return std::min(width, frame.width);
}

// Reads pixels x0 .. x0+m-1 (m <= kImgSpanPixels) of row y of the frame
// with the getter of a format group (grey: one value a pixel; colour: three).
void ReadSpan(const C_ImgBuff& frame, Group group, bool colour, int32_t x0, int32_t y, int32_t m, uint32_t* out) {
    const int entries = colour ? 3 : 1;
    if (group == kGroup8) {
        uint8_t b[3 * kImgSpanPixels];
        if (colour) ImgReadRgb8Span(frame, x0, y, m, b);
        else ImgReadGray8Span(frame, x0, y, m, b);
        for (int32_t i = 0; i < m * entries; ++i) out[i] = b[i];
    } else if (group == kGroup16) {
        uint16_t b[3 * kImgSpanPixels];
        if (colour) ImgReadRgb16Span(frame, x0, y, m, b);
        else ImgReadGray16Span(frame, x0, y, m, b);
        for (int32_t i = 0; i < m * entries; ++i) out[i] = b[i];
    } else if (!colour && frame.format == kImgGray32) {
        std::memcpy(out, frame.PixelAt(x0, y), size_t(m) * 4);
    } else if (colour && frame.format == kImgRgb32) {
        std::memcpy(out, frame.PixelAt(x0, y), size_t(m) * 12);
    } else {
        for (int32_t i = 0; i < m; ++i) {
            if (colour) frame.GetPixelRgb32(x0 + i, y, &out[3 * i], &out[3 * i + 1], &out[3 * i + 2]);
            else frame.GetPixelGray32(x0 + i, y, &out[i]);
        }
    }
}

// Writes one pixel's value(s) at the depth of the group.
void WritePixel(C_ImgBuff& dst, Group group, bool colour, int32_t x, int32_t y, const uint32_t* v) {
    switch (group) {
        case kGroup8:
            if (colour) dst.SetPixelRgb8(x, y, uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]));
            else dst.SetPixelGray8(x, y, uint8_t(v[0]));
            break;
        case kGroup16:
            if (colour) dst.SetPixelRgb16(x, y, uint16_t(v[0]), uint16_t(v[1]), uint16_t(v[2]));
            else dst.SetPixelGray16(x, y, uint16_t(v[0]));
            break;
        default:
            if (colour) dst.SetPixelRgb32(x, y, v[0], v[1], v[2]);
            else dst.SetPixelGray32(x, y, v[0]);
            break;
    }
}

// The rectangle 0 .. width-1, 0 .. height-1 of the destination that a frame
// covers.
struct Cover {
    int32_t width;
    int32_t height;
};

struct BackgroundJob {
    int32_t mode;
    C_ImgBuff* destination;
    CImgBuff* frame;
    ImgFrameSourceFn source;
    void* user;
    uint64_t width;
    uint64_t height;
    uint64_t frameCount;
    Group group;
    bool colour;
    int entries;
    double noiseLevel;
    // Filled by each pass on the calling thread: what each frame covered,
    // and whether every frame covered the whole destination.
    std::vector<Cover>* covers;
    bool* whole;
};

// How many frames of the last pass cover each pixel of row y: counts[x] for
// x = 0 .. width-1 (a frame covering width w and height h counts for the
// pixels x < w of the rows y < h).
void CountRow(const BackgroundJob& job, int32_t y, uint32_t* counts) {
    const int32_t width = int32_t(job.width);
    if (*job.whole) {
        std::fill(counts, counts + width, uint32_t(job.frameCount));
        return;
    }
    // counts[x] = frames of cover width > x: a histogram of the widths summed
    // from the right.
    std::fill(counts, counts + width, 0u);
    uint32_t atFull = 0;
    for (const Cover& c : *job.covers) {
        if (c.height <= y || c.width <= 0) continue;
        if (c.width >= width) ++atFull;
        else ++counts[c.width - 1];
    }
    uint32_t running = atFull;
    for (int32_t x = width - 1; x >= 0; --x) {
        const uint32_t ending = counts[x];
        counts[x] = running + ending;
        running += ending;
    }
}

// Folds one frame: records what it covers, then fold(row y, pixel count n)
// over the rows on the pool.
template <class Fold>
void FoldFrame(const BackgroundJob& job, const C_ImgBuff& frame, Fold&& fold) {
    Cover cover{0, 0};
    if (ImgFormatValid(frame.format) && frame.width > 0 && frame.height > 0)
        cover = Cover{int32_t(std::min<uint64_t>(job.width, uint64_t(frame.width))),
                      int32_t(std::min<uint64_t>(job.height, uint64_t(frame.height)))};
    job.covers->push_back(cover);
    if (uint64_t(cover.width) < job.width || uint64_t(cover.height) < job.height) *job.whole = false;
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t y = first; y < first + count; ++y) {
            const int32_t n = Overlap(frame, int32_t(job.width), int32_t(y));
            if (n > 0) fold(frame, int32_t(y), n);
        }
    };
    PoolParallelRun(job.height, rows);
}

// One pass over every frame: fetch on this thread, then fold each. False
// when the source cancelled.
template <class Fold>
bool RunPass(const BackgroundJob& job, Fold&& fold) {
    job.covers->clear();
    *job.whole = true;
    for (uint64_t f = 0; f < job.frameCount; ++f) {
        if (!job.source(f, job.frame, job.user)) return false;
        FoldFrame(job, *job.frame->buffer, fold);
    }
    return true;
}

// Reads row y (n pixels) of a frame in spans through the getter of a group:
// use(first pixel x0, pixel count m, values).
template <class Use>
void ForEachSpan(const C_ImgBuff& frame, Group group, bool colour, int32_t y, int32_t n, Use&& use) {
    uint32_t v[3 * kImgSpanPixels];
    for (int32_t x0 = 0; x0 < n; x0 += kImgSpanPixels) {
        const int32_t m = std::min(kImgSpanPixels, n - x0);
        ReadSpan(frame, group, colour, x0, y, m, v);
        use(uint64_t(x0), m, static_cast<const uint32_t*>(v));
    }
}

// A pass that reads each row of each frame in spans with the getter of a
// group: fold(row y, first pixel x0, pixel count m, values).
template <class Fold>
bool RunSpanPass(const BackgroundJob& job, Group group, bool colour, Fold&& fold) {
    return RunPass(job, [&](const C_ImgBuff& frame, int32_t y, int32_t n) {
        ForEachSpan(frame, group, colour, y, n,
                    [&](uint64_t x0, int32_t m, const uint32_t* v) { fold(uint64_t(y), x0, m, v); });
    });
}

// Finishing pass: value(x, y, n) writes each destination pixel that n > 0
// frames of the last pass covered; a pixel no frame covered keeps frame 0.
template <class Value>
void Finish(const BackgroundJob& job, Value&& value) {
    auto rows = [&](uint64_t first, uint64_t count) {
        std::vector<uint32_t> counts(job.width);
        for (uint64_t y = first; y < first + count; ++y) {
            CountRow(job, int32_t(y), counts.data());
            for (uint64_t x = 0; x < job.width; ++x)
                if (counts[x] > 0) value(int32_t(x), int32_t(y), counts[x]);
        }
    };
    PoolParallelRun(job.height, rows);
}

// Divides sums of `entries` values a pixel by the pixel's frame count, row
// by row on the calling thread.
void DivideByCounts(const BackgroundJob& job, double* sums, uint64_t entries) {
    std::vector<uint32_t> counts(job.width);
    for (uint64_t y = 0; y < job.height; ++y) {
        CountRow(job, int32_t(y), counts.data());
        double* s = sums + job.width * entries * y;
        for (uint64_t x = 0; x < job.width; ++x)
            for (uint64_t c = 0; c < entries; ++c)
                if (counts[x] > 0) s[entries * x + c] /= double(counts[x]);
    }
}

// Adds row y (n pixels) of a frame into the sums.
void AverageRow(const BackgroundJob& job, double* sums, const C_ImgBuff& frame, int32_t y, int32_t n) {
    const uint64_t e = job.entries;
    const auto add = [&](uint64_t x0, int32_t m, const auto* v) {
        AddInto(sums + (job.width * uint64_t(y) + x0) * e, v, int64_t(m) * int64_t(e));
    };
    if (PlainSamples(frame.format, job.group, job.colour)) {
        // Rows of plain samples are added as they lie.
        const uint8_t* row = frame.PixelAt(0, y);
        if (job.group == kGroup8) add(0, n, row);
        else if (job.group == kGroup16) add(0, n, reinterpret_cast<const uint16_t*>(row));
        else add(0, n, reinterpret_cast<const uint32_t*>(row));
        return;
    }
    ForEachSpan(frame, job.group, job.colour, y, n, add);
}

// Writes each covered destination pixel as its sum over its frame count.
void AverageFinish(const BackgroundJob& job, const double* sums) {
    const uint64_t e = job.entries;
    const double top = job.group == kGroup8 ? 255.0 : job.group == kGroup16 ? 65535.0 : 4294967295.0;
    Finish(job, [&](int32_t x, int32_t y, uint32_t n) {
        const double* s = sums + (job.width * uint64_t(y) + uint64_t(x)) * e;
        const double count = double(n);
        uint32_t out[3];
        for (uint64_t c = 0; c < e; ++c) out[c] = ImgClampToU32(std::min(s[c] / count, top));
        WritePixel(*job.destination, job.group, job.colour, x, y, out);
    });
}

int32_t Average(const BackgroundJob& job) {
    Accumulator<double> sums = Allocate<double>(job.width, job.height, job.entries);
    if (!sums) return 0;
    std::memset(sums.get(), 0, job.width * job.height * job.entries * sizeof(double));
    const bool done = RunPass(
        job, [&](const C_ImgBuff& frame, int32_t y, int32_t n) { AverageRow(job, sums.get(), frame, y, n); });
    if (!done) return -1;
    AverageFinish(job, sums.get());
    return 1;
}

// The starting value of an extreme's accumulator: below or above every sample.
template <class T>
void ExtremeStart(const BackgroundJob& job, T* acc) {
    std::memset(acc, job.mode == 1 ? 0 : 0xFF, job.width * job.height * job.entries * sizeof(T));
}

// Folds row y (n pixels) of a frame into the maxima or minima.
template <class T>
void ExtremeRow(const BackgroundJob& job, T* acc, const C_ImgBuff& frame, int32_t y, int32_t n) {
    const uint64_t e = job.entries;
    const bool maximum = job.mode == 1;
    const auto fold = [&](uint64_t x0, int32_t m, const auto* v) {
        T* p = acc + (job.width * uint64_t(y) + x0) * e;
        if (maximum) MaxInto(p, v, int64_t(m) * int64_t(e));
        else MinInto(p, v, int64_t(m) * int64_t(e));
    };
    if (PlainSamples(frame.format, job.group, job.colour)) {
        // Rows of plain samples (of T's depth) are folded as they lie.
        fold(0, n, reinterpret_cast<const T*>(frame.PixelAt(0, y)));
        return;
    }
    ForEachSpan(frame, job.group, job.colour, y, n, fold);
}

// Writes each covered destination pixel from the accumulator.
template <class T>
void ExtremeFinish(const BackgroundJob& job, const T* acc) {
    const uint64_t e = job.entries;
    if (*job.whole && PlainSamples(job.destination->format, job.group, job.colour)) {
        // The accumulator is laid out as the destination's pixels.
        PoolParallelCopy(job.destination->pixels, acc, job.width * job.height * e * sizeof(T));
        return;
    }
    Finish(job, [&](int32_t x, int32_t y, uint32_t) {
        const T* a = acc + (job.width * uint64_t(y) + uint64_t(x)) * e;
        uint32_t out[3];
        for (uint64_t c = 0; c < e; ++c) out[c] = a[c];
        WritePixel(*job.destination, job.group, job.colour, x, y, out);
    });
}

template <class T>
int32_t Extreme(const BackgroundJob& job) {
    Accumulator<T> acc = Allocate<T>(job.width, job.height, job.entries);
    if (!acc) return 0;
    ExtremeStart(job, acc.get());
    const bool done = RunPass(
        job, [&](const C_ImgBuff& frame, int32_t y, int32_t n) { ExtremeRow(job, acc.get(), frame, y, n); });
    if (!done) return -1;
    ExtremeFinish(job, acc.get());
    return 1;
}

// L*a*b* of frame pixel (x, y).
inline void LabAt(const C_ImgBuff& frame, int32_t x, int32_t y, double* lab) {
    double cx = 0, cy = 0, cz = 0;
    frame.GetPixelXyz(x, y, &cx, &cy, &cz);
    ImgXyzToLab(cx, cy, cz, &lab[0], &lab[1], &lab[2]);
}

int32_t LabAverage(const BackgroundJob& job) {
    const uint64_t pixels = job.width * job.height;
    Accumulator<double> sums = Allocate<double>(job.width, job.height, 3);
    Accumulator<double> kept = Allocate<double>(job.width, job.height, 4);
    if (!sums || !kept) return 0;
    std::memset(sums.get(), 0, pixels * 3 * sizeof(double));
    std::memset(kept.get(), 0, pixels * 4 * sizeof(double));
    bool done = RunPass(job, [&](const C_ImgBuff& frame, int32_t y, int32_t n) {
        double* s = sums.get() + job.width * 3 * uint64_t(y);
        for (int32_t x = 0; x < n; ++x) {
            double lab[3];
            LabAt(frame, x, y, lab);
            for (int c = 0; c < 3; ++c) s[3 * x + c] += lab[c];
        }
    });
    if (!done) return -1;
    DivideByCounts(job, sums.get(), 3);
    done = RunPass(job, [&](const C_ImgBuff& frame, int32_t y, int32_t n) {
        const double* mean = sums.get() + job.width * 3 * uint64_t(y);
        double* k = kept.get() + job.width * 4 * uint64_t(y);
        for (int32_t x = 0; x < n; ++x) {
            double lab[3];
            LabAt(frame, x, y, lab);
            const double* m = mean + 3 * x;
            const double dl = lab[0] - m[0], da = lab[1] - m[1], db = lab[2] - m[2];
            const double d = lab[0] > 50.0 && m[0] > 50.0 ? dl * dl + 0.25 * da * da + 0.25 * db * db : dl * dl;
            if (d <= job.noiseLevel) {
                for (int c = 0; c < 3; ++c) k[4 * x + c] += lab[c];
                k[4 * x + 3] += 1.0;
            }
        }
    });
    if (!done) return -1;
    Finish(job, [&](int32_t x, int32_t y, uint32_t) {
        const uint64_t i = job.width * uint64_t(y) + uint64_t(x);
        const double* k = kept.get() + 4 * i;
        const double n = k[3];
        // A pixel that no frame came near keeps its mean.
        if (n > 0) job.destination->SetPixelLab(x, y, k[0] / n, k[1] / n, k[2] / n);
        else job.destination->SetPixelLab(x, y, sums[3 * i], sums[3 * i + 1], sums[3 * i + 2]);
    });
    return 1;
}

int32_t MirroredExtreme(const BackgroundJob& job) {
    const uint64_t pixels = job.width * job.height;
    Accumulator<double> sums = Allocate<double>(job.width, job.height, 3);
    Accumulator<uint32_t> maxima = Allocate<uint32_t>(job.width, job.height, 3);
    Accumulator<uint32_t> minima = Allocate<uint32_t>(job.width, job.height, 3);
    if (!sums || !maxima || !minima) return 0;
    std::memset(sums.get(), 0, pixels * 3 * sizeof(double));
    std::memset(maxima.get(), 0, pixels * 3 * sizeof(uint32_t));
    std::memset(minima.get(), 0xFF, pixels * 3 * sizeof(uint32_t));
    const bool done = RunSpanPass(job, kGroup32, true, [&](uint64_t y, uint64_t x0, int32_t m, const uint32_t* v) {
        const uint64_t at = (job.width * y + x0) * 3;
        for (int32_t i = 0; i < 3 * m; ++i) {
            sums[at + i] += double(v[i]);
            maxima[at + i] = std::max(maxima[at + i], v[i]);
            minima[at + i] = std::min(minima[at + i], v[i]);
        }
    });
    if (!done) return -1;
    DivideByCounts(job, sums.get(), 3);
    Finish(job, [&](int32_t x, int32_t y, uint32_t) {
        const uint64_t at = (job.width * uint64_t(y) + uint64_t(x)) * 3;
        uint32_t out[3];
        for (int c = 0; c < 3; ++c) {
            // The truncated mean over the frames covering the pixel lies
            // between their minimum and maximum, so every difference and
            // both mirrors stay in range.
            const uint64_t m = ImgClampToU32(sums[at + c]), hi = maxima[at + c], lo = minima[at + c];
            if (job.mode == 1) out[c] = uint32_t(hi - m > m - lo ? 2 * m - lo : hi);
            else out[c] = uint32_t(hi - m <= m - lo ? 2 * m - hi : lo);
        }
        job.destination->SetPixelRgb32(x, y, out[0], out[1], out[2]);
    });
    return 1;
}

// The common start of both kernels: checks, frame 0 into the destination,
// the job record. 0 when refused.
int32_t Start(CImgBuff* destination, uint64_t frameCount, int32_t mode, ImgFrameSourceFn source, void* user, CImgBuff* frame,
              BackgroundJob* job) {
    if (!destination || !destination->buffer || !ImgFormatValid(destination->buffer->format) || frameCount == 0 ||
        (mode != -1 && mode != 0 && mode != 1) || !source || !frame->buffer)
        return 0;
    source(0, destination, user);
    if (!destination->buffer) return 0;
    C_ImgBuff& d = *destination->buffer;
    if (!ImgFormatValid(d.format) || d.width < 1 || d.height < 1) return 0;
    *job = BackgroundJob{};
    job->mode = mode;
    job->destination = &d;
    job->frame = frame;
    job->source = source;
    job->user = user;
    job->width = uint64_t(d.width);
    job->height = uint64_t(d.height);
    job->frameCount = frameCount;
    job->group = GroupOf(d.format);
    job->colour = d.format >= kImgRgb8;
    job->entries = job->colour ? 3 : 1;
    return 1;
}

}  // namespace

int32_t ImgCreateBackground(CImgBuff* destination, uint64_t frameCount, int32_t mode, ImgFrameSourceFn source, void* user) {
    CImgBuff frame;
    BackgroundJob job;
    if (!Start(destination, frameCount, mode, source, user, &frame, &job)) return 0;
    std::vector<Cover> covers;
    bool whole = true;
    job.covers = &covers;
    job.whole = &whole;
    if (mode == 0) return Average(job);
    switch (job.group) {
        case kGroup8:
            return Extreme<uint8_t>(job);
        case kGroup16:
            return Extreme<uint16_t>(job);
        default:
            return Extreme<uint32_t>(job);
    }
}

int32_t ImgCreateBackgroundDenoised(CImgBuff* destination, uint64_t frameCount, int32_t mode, double noiseLevel,
                                    ImgFrameSourceFn source, void* user) {
    if (!(noiseLevel >= 0.0)) return 0;
    CImgBuff frame;
    BackgroundJob job;
    if (!Start(destination, frameCount, mode, source, user, &frame, &job)) return 0;
    std::vector<Cover> covers;
    bool whole = true;
    job.covers = &covers;
    job.whole = &whole;
    job.noiseLevel = noiseLevel;
    return mode == 0 ? LabAverage(job) : MirroredExtreme(job);
}

struct ImgBackgroundFold::State {
    BackgroundJob job{};
    std::vector<Cover> covers;
    bool whole = true;
    bool failed = false;
    int32_t format = 0;  // frame 0's
    Accumulator<double> sums;
    Accumulator<uint8_t> extremes;  // samples of the group's depth
};

ImgBackgroundFold::ImgBackgroundFold(int32_t mode) : state_(new (std::nothrow) State) {
    if (!state_) return;
    state_->job.mode = mode;
    state_->job.covers = &state_->covers;
    state_->job.whole = &state_->whole;
    if (mode != -1 && mode != 0 && mode != 1) state_->failed = true;
}

ImgBackgroundFold::~ImgBackgroundFold() = default;

uint64_t ImgBackgroundFold::Count() const { return state_ ? state_->covers.size() : 0; }

int32_t ImgBackgroundFold::Add(const CImgBuff* frame) {
    if (!state_ || state_->failed) return 0;
    State& st = *state_;
    BackgroundJob& job = st.job;
    if (!frame || !frame->buffer) {
        st.failed = true;
        return 0;
    }
    const C_ImgBuff& f = *frame->buffer;
    if (st.covers.empty()) {
        // Frame 0 gives the result its size and format.
        if (!ImgFormatValid(f.format) || f.width < 1 || f.height < 1) {
            st.failed = true;
            return 0;
        }
        st.format = f.format;
        job.width = uint64_t(f.width);
        job.height = uint64_t(f.height);
        job.group = GroupOf(f.format);
        job.colour = f.format >= kImgRgb8;
        job.entries = job.colour ? 3 : 1;
        job.frameCount = 0;
        const uint64_t bytesPerSample = job.group == kGroup8 ? 1 : job.group == kGroup16 ? 2 : 4;
        if (job.mode == 0) {
            st.sums = Allocate<double>(job.width, job.height, job.entries);
            if (st.sums) std::memset(st.sums.get(), 0, job.width * job.height * job.entries * sizeof(double));
        } else {
            st.extremes = Allocate<uint8_t>(job.width * bytesPerSample, job.height, job.entries);
            if (st.extremes)
                std::memset(st.extremes.get(), job.mode == 1 ? 0 : 0xFF,
                            job.width * job.height * job.entries * bytesPerSample);
        }
        if (!st.sums && !st.extremes) {
            st.failed = true;
            return 0;
        }
    }
    ++job.frameCount;
    if (job.mode == 0) {
        double* sums = st.sums.get();
        FoldFrame(job, f, [&](const C_ImgBuff& fr, int32_t y, int32_t n) { AverageRow(job, sums, fr, y, n); });
        return 1;
    }
    uint8_t* acc = st.extremes.get();
    switch (job.group) {
        case kGroup8:
            FoldFrame(job, f, [&](const C_ImgBuff& fr, int32_t y, int32_t n) { ExtremeRow(job, acc, fr, y, n); });
            break;
        case kGroup16:
            FoldFrame(job, f, [&](const C_ImgBuff& fr, int32_t y, int32_t n) {
                ExtremeRow(job, reinterpret_cast<uint16_t*>(acc), fr, y, n);
            });
            break;
        default:
            FoldFrame(job, f, [&](const C_ImgBuff& fr, int32_t y, int32_t n) {
                ExtremeRow(job, reinterpret_cast<uint32_t*>(acc), fr, y, n);
            });
            break;
    }
    return 1;
}

int32_t ImgBackgroundFold::Finish(CImgBuff* destination) {
    if (!state_ || state_->failed || state_->covers.empty() || !destination || !destination->buffer) return 0;
    State& st = *state_;
    BackgroundJob& job = st.job;
    C_ImgBuff& d = *destination->buffer;
    // Frame 0's shape and format: every pixel is then covered and written
    // below, so a buffer of that shape is not cleared first.
    const bool same = d.pixels && uint64_t(d.width) == job.width && uint64_t(d.height) == job.height &&
                      d.format == st.format;
    if (!same && !d.Create(int32_t(job.width), int32_t(job.height), st.format)) return 0;
    job.destination = &d;
    if (job.mode == 0) {
        AverageFinish(job, st.sums.get());
        return 1;
    }
    uint8_t* acc = st.extremes.get();
    switch (job.group) {
        case kGroup8: ExtremeFinish(job, acc); break;
        case kGroup16: ExtremeFinish(job, reinterpret_cast<const uint16_t*>(acc)); break;
        default: ExtremeFinish(job, reinterpret_cast<const uint32_t*>(acc)); break;
    }
    return 1;
}
