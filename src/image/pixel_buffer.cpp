// The pixel buffer record: pixel blocks, create, copy, clear, canvas resize.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/mman.h>

#include "image/imgbuff.h"
#include "image/pool.h"

const int32_t g_ImgFormatBytes[10] = {0, 1, 2, 4, 3, 6, 12, 24, 6, 4};

const char* ImgFormatName(int32_t f) {
    static const char* const kNames[10] = {
        "null",        "8bit grayscale", "16bit grayscale", "32bit grayscale",   "24bit color",
        "48bit color", "96bit color",    "XYZ color",       "48bit color (HSV)", "32bit color (CMYK)",
    };
    return f >= 0 && f <= 9 ? kNames[f] : "unknown";
}

namespace {

constexpr uint64_t kHeaderBytes = 8;
constexpr uint64_t kBlockGranule = 4096;
constexpr uintptr_t kHugePage = uintptr_t(1) << 21;

// Multi-megabyte frames are backed by transparent huge pages where the
// system offers them: far fewer page faults when a new frame is first
// written, and a much cheaper release. Only the 2 MiB-aligned interior of
// the block is marked; a refusal of the hint changes nothing.
void HintHugePages(uint8_t* block, uint64_t total) {
    uintptr_t first = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t last = (reinterpret_cast<uintptr_t>(block) + total) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// Recently freed large blocks, kept for reuse. Playing a movie through a
// filter chain allocates and frees blocks of the same few sizes for every
// frame; a fresh block costs a page fault per page on its first write and
// its release an unmap, which together can cost more than the work done in
// the block. Bounded in count and bytes; off under AddressSanitizer, which
// must see every block freed.
class BlockCache {
public:
    static constexpr uint64_t kMinBlock = 0x100000;
    static constexpr uint64_t kMaxBytes = uint64_t(256) << 20;
    static constexpr int kMaxBlocks = 8;

    // A cached block of exactly `total` bytes, or null.
    uint8_t* Take(uint64_t total) {
        if (!Enabled() || total < kMinBlock) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        for (int i = count_ - 1; i >= 0; --i) {
            if (blocks_[i].total != total) continue;
            uint8_t* block = blocks_[i].block;
            bytes_ -= total;
            for (int k = i; k + 1 < count_; ++k) blocks_[k] = blocks_[k + 1];
            --count_;
            return block;
        }
        return nullptr;
    }

    // Keeps the block (dropping the oldest ones to make room) or frees it.
    void Put(uint8_t* block, uint64_t total) {
        if (Enabled() && total >= kMinBlock && total <= kMaxBytes) {
            std::lock_guard<std::mutex> lock(mutex_);
            while (count_ > 0 && (count_ == kMaxBlocks || bytes_ + total > kMaxBytes)) {
                std::free(blocks_[0].block);
                bytes_ -= blocks_[0].total;
                for (int k = 0; k + 1 < count_; ++k) blocks_[k] = blocks_[k + 1];
                --count_;
            }
            blocks_[count_++] = {block, total};
            bytes_ += total;
            return;
        }
        std::free(block);
    }

private:
    static constexpr bool Enabled() {
#if defined(__SANITIZE_ADDRESS__)
        return false;
#else
        return true;
#endif
    }

    struct Entry {
        uint8_t* block;
        uint64_t total;
    };
    std::mutex mutex_;
    Entry blocks_[kMaxBlocks] = {};
    int count_ = 0;
    uint64_t bytes_ = 0;
};

BlockCache& Cache() {
    // Never destroyed: blocks may be freed by static images after exit
    // begins.
    static BlockCache* cache = new BlockCache;
    return *cache;
}

uint8_t* AllocBlock(uint64_t count, uint64_t size, bool clear) {
    uint64_t n;
    if (__builtin_mul_overflow(count, size, &n)) return nullptr;
    if (n > UINT64_MAX - kHeaderBytes - (kBlockGranule - 1)) return nullptr;
    uint64_t total = (n + kHeaderBytes + kBlockGranule - 1) / kBlockGranule * kBlockGranule;
    if (total > SIZE_MAX) return nullptr;
    uint8_t* block = Cache().Take(total);
    if (block) {
        if (clear) PoolParallelZero(block + kHeaderBytes, n);
    } else {
        // calloc clears the block (large blocks come as fresh zero pages).
        void* mem = clear ? std::calloc(1, static_cast<size_t>(total)) : std::malloc(static_cast<size_t>(total));
        block = static_cast<uint8_t*>(mem);
        if (!block) return nullptr;
        if (total >= 2 * kHugePage) HintHugePages(block, total);
    }
    std::memcpy(block, &total, sizeof total);
    return block + kHeaderBytes;
}

}  // namespace

uint8_t* ImgAllocPixels(uint64_t count, uint64_t size) { return AllocBlock(count, size, true); }

uint8_t* ImgAllocPixelsUncleared(uint64_t count, uint64_t size) { return AllocBlock(count, size, false); }

void ImgFreePixels(uint8_t* pixels) {
    if (!pixels) return;
    uint8_t* block = pixels - kHeaderBytes;
    uint64_t total;
    std::memcpy(&total, block, sizeof total);
    Cache().Put(block, total);
}

C_ImgBuff::C_ImgBuff() {
    if (g_PoolStartCount.load() == 0) PoolStart();
}

C_ImgBuff::~C_ImgBuff() { FreePixels(); }

void C_ImgBuff::FreePixels() {
    ImgFreePixels(pixels);
    format = 0;
    width = 0;
    height = 0;
    pixels = nullptr;
}

void C_ImgBuff::TakePixels(C_ImgBuff* other) {
    if (other == this) return;
    FreePixels();
    format = other->format;
    width = other->width;
    height = other->height;
    pixels = other->pixels;
    other->format = other->width = other->height = 0;
    other->pixels = nullptr;
}

int32_t C_ImgBuff::Create(int32_t w, int32_t h, int32_t f) {
    if (w == width && h == height && f == format) {
        Clear();
        return 1;
    }
    FreePixels();
    if (w < 1 || h < 1 || !ImgFormatValid(f)) return 0;
    // Both factors are positive 32-bit values, so the pixel count cannot
    // overflow 64 bits; the byte count is checked by the allocator.
    uint8_t* block = ImgAllocPixels(static_cast<uint64_t>(w) * static_cast<uint64_t>(h),
                                    static_cast<uint64_t>(g_ImgFormatBytes[f]));
    if (!block) return 0;
    format = f;
    width = w;
    height = h;
    pixels = block;
    return 1;
}

// Byte count of a buffer that holds pixels (its size was allocated, so the
// product fits).
static uint64_t ImgByteCount(const C_ImgBuff* b) {
    return static_cast<uint64_t>(b->width) * static_cast<uint64_t>(b->height) *
           static_cast<uint64_t>(b->BytesPerPixel());
}

C_ImgBuff* C_ImgBuff::CopyFrom(const C_ImgBuff* source) {
    // An image copied onto itself is already its own copy.
    if (source == this) return this;
    if (!source) {
        FreePixels();
        return this;
    }
    // A buffer of the source's shape is overwritten whole: not cleared first.
    const bool same = pixels && width == source->width && height == source->height && format == source->format;
    if (!same && !Create(source->width, source->height, source->format)) return this;
    uint64_t n = ImgByteCount(this);
    if (n == 0) return this;  // an empty source: nothing to copy (and no block to copy from)
    if (n >= kPoolBulkBytes) {
        PoolCopyJob job{pixels, source->pixels};
        PoolParallelFor(PoolCopyKernel, &job, n);
    } else {
        std::memcpy(pixels, source->pixels, static_cast<size_t>(n));
    }
    return this;
}

void C_ImgBuff::Clear() {
    if (!ImgFormatValid(format) || !pixels) return;
    uint64_t n = ImgByteCount(this);
    if (n >= kPoolBulkBytes) {
        PoolFillJob job{pixels, 0};
        PoolParallelFor(PoolFillKernel, &job, n);
    } else {
        std::memset(pixels, 0, static_cast<size_t>(n));
    }
}

int32_t C_ImgBuff::ResizeCanvas(uint32_t w, int32_t h) {
    if (static_cast<int64_t>(w) == width && h == height) return 1;
    if (w > INT32_MAX) return 0;
    C_ImgBuff canvas;
    if (!canvas.Create(static_cast<int32_t>(w), h, format)) return 0;
    int32_t keepW = width < canvas.width ? width : canvas.width;
    int32_t keepH = height < canvas.height ? height : canvas.height;
    size_t rowBytes = static_cast<size_t>(keepW) * static_cast<size_t>(BytesPerPixel());
    for (int32_t y = 0; y < keepH; ++y) std::memcpy(canvas.PixelAt(0, y), PixelAt(0, y), rowBytes);
    TakePixels(&canvas);
    return 1;
}
