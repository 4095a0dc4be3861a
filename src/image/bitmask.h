// One-bit-per-pixel masks, the span flood fill over a rectangle that asks a
// test callback which positions belong to the region, the grey-range mask of
// an image and the foreground mask against a background level; plus the
// run-based flood on mask bits that the object kernels use in their loops.
#pragma once

#include <cstdint>

#include "image/imgbuff.h"

// Bit (x, y) has index pitch * y + x and lives in word index >> 5 at bit
// 31 - (index & 31): the leftmost pixel of a word is its most significant
// bit. Rows never share a word, so workers writing their own rows need no
// lock.
struct BitMask {
    int32_t width;
    int32_t height;
    uint32_t pitch;   // bits per row, width rounded up to a multiple of 32
    uint32_t* words;  // pitch / 32 * height words
};

// Null when width or height is below 1 or memory runs out.
BitMask* ImgBitMaskCreate(int32_t width, int32_t height);
BitMask* ImgBitMaskClone(const BitMask* mask);
// Frees the words, then the record; null is ignored.
void ImgBitMaskDestroy(BitMask* mask);
// 1 after setting (value non-zero) or clearing; 0 outside the mask.
int32_t ImgBitMaskSet(BitMask* mask, int32_t x, int32_t y, uint32_t value);
// 1 when set; positions outside read as clear.
int32_t ImgBitMaskGet(const BitMask* mask, int32_t x, int32_t y);

inline uint32_t ImgBitMaskWordsPerRow(const BitMask* m) { return m->pitch >> 5; }
inline uint32_t* ImgBitMaskRow(const BitMask* m, int32_t y) {
    return m->words + static_cast<uint64_t>(m->pitch >> 5) * static_cast<uint64_t>(y);
}
// A new mask of the same size holding the complement (padding bits stay
// clear); null when out of memory.
BitMask* ImgBitMaskComplement(const BitMask* mask);

// Unchecked bit access for loops that stay inside the mask.
inline bool ImgBitTest(const uint32_t* row, int32_t x) { return (row[x >> 5] >> (31 - (x & 31))) & 1u; }
inline void ImgBitSet(uint32_t* row, int32_t x) { row[x >> 5] |= 0x80000000u >> (x & 31); }
inline void ImgBitClear(uint32_t* row, int32_t x) { row[x >> 5] &= ~(0x80000000u >> (x & 31)); }
// Sets or clears the bits first .. last (inclusive) of a row.
void ImgBitRowSetRange(uint32_t* row, int32_t first, int32_t last);
void ImgBitRowClearRange(uint32_t* row, int32_t first, int32_t last);
// The first set (or clear) bit at or after x and at most `limit`; -1 when none.
int32_t ImgBitRowNextSet(const uint32_t* row, int32_t x, int32_t limit);
int32_t ImgBitRowNextClear(const uint32_t* row, int32_t x, int32_t limit);
// The first set bit at or before x and at least `limit` (the run's start
// when walking left); -1 when none. And the same for a clear bit.
int32_t ImgBitRowPrevClear(const uint32_t* row, int32_t x, int32_t limit);

// ---- seed fill ----

// Non-zero when (x, y) belongs to the region. May change masks of its own.
using SeedFillTest = int32_t (*)(int32_t x, int32_t y, uint64_t user, BitMask* visited);

struct SeedFillSpan {
    int32_t first;  // along the span axis
    int32_t last;
    int32_t line;   // the other coordinate
};

// A ring of pending spans: empty when read == write, full when
// (write + 1) % capacity == read.
struct SeedFillSpanStack {
    SeedFillSpan* entries;
    uint32_t capacity;
    int32_t read;
    int32_t write;
};

struct SeedFill {
    SeedFillSpanStack* stack;
    BitMask* visited;  // the rectangle's size; bit (x - x0, y - y0)
    int32_t x0, y0, x1, y1;
    uint32_t orientation;  // 0: spans along x (width <= height), 1: along y
    uint32_t diagonal;     // 1 under 8-connectivity
    SeedFillTest test;
    uint64_t user;
};

// Null for a connectivity other than 4 or 8, an empty rectangle or no memory.
SeedFill* ImgSeedFillCreate(int32_t x0, int32_t y0, int32_t x1, int32_t y1, SeedFillTest test, int32_t connectivity,
                            uint64_t user);
void ImgSeedFillDestroy(SeedFill* fill);
// Starts at most one span at (x, y); first and last (may be null) get the
// span's ends along the span axis. 0 only when the stack cannot grow.
int32_t ImgSeedFillSpan(SeedFill* fill, int32_t x, int32_t y, int32_t* first, int32_t* last);
// Runs until the stack is empty (1) or cannot grow (0).
int32_t ImgSeedFillRun(SeedFill* fill);
// A span at (x, y), then the run; 0 for a null fill or one without a visited mask.
int32_t ImgSeedFillFrom(SeedFill* fill, int32_t x, int32_t y);

// ---- range and foreground masks ----

struct RangeMask {
    BitMask* mask;
    BitMask* second;  // null as made; freed with the masks when set
    int32_t x0, y0;   // image position of mask bit (0, 0)
    int32_t width, height;
};

// Marks the pixels (0, 0)-(x1, y1) whose grey value, read at the width of the
// format's group (8: {1, 4, 9}, 16: {2, 5, 8}, 32: the rest), lies in
// [low, high] (bounds taken at that width). 0 for a bad image or corner, or
// no memory (the record then holds no mask).
int32_t ImgRangeMaskCreate(RangeMask* rangeMask, const CImgBuff* image, int32_t x1, int32_t y1, uint32_t low, uint32_t high);
// Grey values of n pixels of row y at the width of the format's group
// (8-bit group 0-255, 16-bit group 0-65535, the rest 32-bit), as the
// typed grey getters of that width give them.
void ImgReadGroupGraySpan(const C_ImgBuff& image, int32_t x0, int32_t y, int32_t n, uint32_t* out);
// The group's width in bits (8, 16 or 32) and its largest value.
int32_t ImgFormatGroupBits(int32_t format);
uint32_t ImgFormatGroupMax(int32_t format);

// Row worker of the range mask; item i is mask row i.
void ImgRangeMaskRows(void* job, uint64_t first, uint64_t count);
// Frees both masks of the record (not the record) and nulls them.
void ImgRangeMaskRelease(RangeMask* rangeMask);

// The mask of the rectangle's pixels that differ from the background level
// (0, or the group's maximum when inverted); null for a bad format or
// rectangle, or no memory.
BitMask* ImgForegroundMask(const CImgBuff* image, uint32_t inverted, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// ---- run flood on mask bits ----

// A run of set bits of one row, both ends inclusive.
struct ImgBitRun {
    int32_t y;
    int32_t x0;
    int32_t x1;
};

// A growable list of runs, reused across floods.
struct ImgBitRunList {
    ImgBitRun* runs = nullptr;
    uint64_t count = 0;
    uint64_t capacity = 0;
    ~ImgBitRunList();
    bool Push(int32_t y, int32_t x0, int32_t x1);
};

// Takes the connected set of set bits of `mask` that holds (x, y), within
// the rectangle (bx0, by0)-(bx1, by1) of the mask, at connectivity 4 or 8:
// clears those bits and appends their runs to `out` (top-down order is not
// kept). The pixel count, 0 when (x, y) is clear or outside, -1 when memory
// runs out (the bits taken so far stay cleared).
int64_t ImgBitMaskTakeComponent(BitMask* mask, int32_t x, int32_t y, int32_t connectivity, int32_t bx0, int32_t by0,
                                int32_t bx1, int32_t by1, ImgBitRunList* out);
