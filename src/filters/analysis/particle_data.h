// CParticleData: the particles of particle tracking, one list per frame,
// each particle tagged with the id of the track it belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Particle {
    int32_t id;      // track id, -1 = not linked to any track
    uint32_t valid;  // 0 = counts as absent for saving and joining
    double x, y;     // image pixels, origin top-left, y downwards
};

struct ParticleFrame {
    int32_t topId;  // highest id among the records, -1 when none is known
    int32_t count;
    Particle* records;  // may be null when count is 0
    int32_t capacity;   // records allocated; grows by doubling so appends stay linear
};

// The store's allocator (never handed 0 bytes); tests replace it to reach the
// out-of-memory paths. Memory is released with std::free.
using ParticleAllocFn = void* (*)(size_t bytes);
// Installs an allocator (null restores std::malloc); returns the previous one.
ParticleAllocFn SetParticleAllocator(ParticleAllocFn allocate);

class CParticleData {
public:
    CParticleData() = default;
    CParticleData(const CParticleData&) = delete;
    CParticleData& operator=(const CParticleData&) = delete;
    virtual ~CParticleData();

    ParticleFrame* frames = nullptr;
    int32_t frameCount = 0;
    // Ids in use (highest id + 1); 0 also means "to be computed" (GetIdCount).
    int32_t idCount = 0;
    // A process-wide unique stamp renewed by every change made through the
    // operations below (and by Touch after writing records directly); readers
    // that cache look-ups compare it.
    uint64_t generation = 0;
    void Touch();

    void Clear();
    int32_t SetFrames(int32_t n);
    int32_t SetParticles(int32_t frame, int32_t n);
    int32_t GetParticle(int32_t frame, int32_t id, Particle* particle) const;
    // Index of the new record, or -1.
    int32_t AddParticle(int32_t frame, const Particle& particle);
    int32_t RemoveParticle(int32_t frame, int32_t id);
    int32_t DeleteId(int32_t id);
    int32_t GetIdCount();

    // Index of the frame's first record with `id`, or -1 (also for a frame
    // out of range or a negative id).
    int32_t FindRecord(int32_t frame, int32_t id) const;
};

// Resizes a frame's record array to n records, keeping the first ones and
// filling added ones with {-1, 0, 0, 0}; 0 when memory runs out (the frame
// is then unchanged). Shared by the store and the tracking window.
int32_t ParticleFrameResize(ParticleFrame* frame, int32_t n);
void ParticleFrameRelease(ParticleFrame* frame);

// Record index of each id of one frame, for readers that look up many ids
// of the same frame (table rows, the vector field, picking). Rebuilt when a
// different frame is asked for or the store has changed.
class CParticleFrameIndex {
public:
    // Index of the record of `id` in `frame` of `data`, or -1.
    int32_t Find(const CParticleData& data, int32_t frame, int32_t id);
    const Particle* Record(const CParticleData& data, int32_t frame, int32_t id);

private:
    const CParticleData* data_ = nullptr;
    uint64_t generation_ = 0;
    int32_t frame_ = -1;
    std::vector<int32_t> slots_;
};
