#include "filters/analysis/particle_data.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

void* DefaultAllocate(size_t bytes) { return std::malloc(bytes); }

std::atomic<ParticleAllocFn> g_Allocate{DefaultAllocate};
std::atomic<uint64_t> g_Stamp{0};

const Particle kEmptyParticle = {-1, 0, 0.0, 0.0};

void* Allocate(size_t bytes) { return g_Allocate.load(std::memory_order_relaxed)(bytes); }

int32_t HighestId(const ParticleFrame& f) {
    int32_t top = -1;
    for (int32_t i = 0; i < f.count; ++i) top = std::max(top, f.records[i].id);
    return top;
}

}  // namespace

ParticleAllocFn SetParticleAllocator(ParticleAllocFn allocate) {
    return g_Allocate.exchange(allocate ? allocate : DefaultAllocate);
}

int32_t ParticleFrameResize(ParticleFrame* frame, int32_t n) {
    if (!frame || n < 0) return 0;
    if (n > frame->capacity) {
        // Doubling keeps a run of appends linear; when the doubled block is
        // not to be had, exactly n is tried before giving up.
        const int64_t doubled = std::min<int64_t>(INT32_MAX, static_cast<int64_t>(frame->capacity) * 2);
        int32_t capacity = static_cast<int32_t>(std::max<int64_t>(n, doubled));
        Particle* records = static_cast<Particle*>(Allocate(static_cast<size_t>(capacity) * sizeof(Particle)));
        if (!records && capacity > n) {
            capacity = n;
            records = static_cast<Particle*>(Allocate(static_cast<size_t>(capacity) * sizeof(Particle)));
        }
        if (!records) return 0;
        if (frame->count > 0) std::memcpy(records, frame->records, static_cast<size_t>(frame->count) * sizeof(Particle));
        std::free(frame->records);
        frame->records = records;
        frame->capacity = capacity;
    }
    for (int32_t i = frame->count; i < n; ++i) frame->records[i] = kEmptyParticle;
    frame->count = n;
    return 1;
}

void ParticleFrameRelease(ParticleFrame* frame) {
    if (!frame) return;
    std::free(frame->records);
    frame->records = nullptr;
    frame->count = 0;
    frame->capacity = 0;
}

CParticleData::~CParticleData() { Clear(); }

void CParticleData::Touch() { generation = ++g_Stamp; }

void CParticleData::Clear() {
    for (int32_t f = 0; f < frameCount; ++f) ParticleFrameRelease(&frames[f]);
    std::free(frames);
    frames = nullptr;
    frameCount = 0;
    idCount = 0;
    Touch();
}

int32_t CParticleData::SetFrames(int32_t n) {
    if (n < 1) return 0;
    ParticleFrame* next = static_cast<ParticleFrame*>(Allocate(static_cast<size_t>(n) * sizeof(ParticleFrame)));
    if (!next) return 0;
    const int32_t kept = std::min(n, frameCount);
    for (int32_t f = 0; f < kept; ++f) next[f] = frames[f];
    for (int32_t f = kept; f < n; ++f) next[f] = ParticleFrame{-1, 0, nullptr, 0};
    for (int32_t f = kept; f < frameCount; ++f) ParticleFrameRelease(&frames[f]);
    std::free(frames);
    frames = next;
    frameCount = n;
    idCount = 0;
    Touch();
    return 1;
}

int32_t CParticleData::SetParticles(int32_t frame, int32_t n) {
    if (frame < 0 || frame >= frameCount || n < 0) return 0;
    if (!ParticleFrameResize(&frames[frame], n)) return 0;
    Touch();
    return 1;
}

int32_t CParticleData::FindRecord(int32_t frame, int32_t id) const {
    if (frame < 0 || frame >= frameCount || id < 0) return -1;
    const ParticleFrame& f = frames[frame];
    for (int32_t i = 0; i < f.count; ++i) {
        if (f.records[i].id == id) return i;
    }
    return -1;
}

int32_t CParticleData::GetParticle(int32_t frame, int32_t id, Particle* particle) const {
    const int32_t i = FindRecord(frame, id);
    if (i < 0) return 0;
    if (particle) *particle = frames[frame].records[i];
    return 1;
}

int32_t CParticleData::AddParticle(int32_t frame, const Particle& particle) {
    if (frame < 0 || frame >= frameCount) return -1;
    ParticleFrame& f = frames[frame];
    const int32_t index = f.count;
    if (index == INT32_MAX || !ParticleFrameResize(&f, index + 1)) return -1;
    f.records[index] = particle;
    if (f.topId < particle.id) {
        f.topId = particle.id;
        idCount = std::max(idCount, particle.id + 1);
    }
    Touch();
    return index;
}

int32_t CParticleData::RemoveParticle(int32_t frame, int32_t id) {
    const int32_t i = FindRecord(frame, id);
    if (i < 0) return 0;
    ParticleFrame& f = frames[frame];
    std::memmove(&f.records[i], &f.records[i + 1], static_cast<size_t>(f.count - i - 1) * sizeof(Particle));
    --f.count;
    if (f.topId == id) {
        f.topId = HighestId(f);
        if (idCount == id + 1) {
            int32_t top = -1;
            for (int32_t k = 0; k < frameCount; ++k) top = std::max(top, frames[k].topId);
            idCount = top + 1;
        }
    }
    Touch();
    return 1;
}

int32_t CParticleData::DeleteId(int32_t id) {
    if (id < 0) return 0;
    for (int32_t k = 0; k < frameCount; ++k) {
        ParticleFrame& f = frames[k];
        int32_t kept = 0;
        for (int32_t i = 0; i < f.count; ++i) {
            Particle p = f.records[i];
            if (p.id == id) continue;
            if (p.id > id) --p.id;
            f.records[kept++] = p;
        }
        f.count = kept;
        if (kept == 0) ParticleFrameRelease(&f);
        // The frame's highest id was renumbered with its records: recomputed
        // when it was the deleted id, one lower when it was above it, so that
        // a later recount never sees an id that no longer exists.
        if (f.topId == id) {
            f.topId = HighestId(f);
        } else if (f.topId > id) {
            --f.topId;
        }
    }
    if (idCount != 0) --idCount;
    Touch();
    return 1;
}

int32_t CParticleData::GetIdCount() {
    if (idCount == 0) {
        int32_t top = -1;
        for (int32_t f = 0; f < frameCount; ++f) top = std::max(top, frames[f].topId);
        idCount = top + 1;
    }
    return idCount;
}

int32_t CParticleFrameIndex::Find(const CParticleData& data, int32_t frame, int32_t id) {
    if (frame < 0 || frame >= data.frameCount || id < 0) return -1;
    if (data_ != &data || generation_ != data.generation || frame_ != frame) {
        const ParticleFrame& f = data.frames[frame];
        slots_.assign(static_cast<size_t>(HighestId(f) + 1), -1);
        // The first record of an id wins, as in the linear look-up.
        for (int32_t i = f.count - 1; i >= 0; --i) {
            if (f.records[i].id >= 0) slots_[static_cast<size_t>(f.records[i].id)] = i;
        }
        data_ = &data;
        generation_ = data.generation;
        frame_ = frame;
    }
    return static_cast<size_t>(id) < slots_.size() ? slots_[static_cast<size_t>(id)] : -1;
}

const Particle* CParticleFrameIndex::Record(const CParticleData& data, int32_t frame, int32_t id) {
    const int32_t i = Find(data, frame, id);
    return i < 0 ? nullptr : &data.frames[frame].records[i];
}
