// Linking of particles into tracks over a sliding window of four frames, and
// the frame loop of a tracking run around it. A track is a chain of
// particles, one per consecutive frame, at least four frames long.
#pragma once

#include <cstdint>
#include <vector>

#include "filters/analysis/particle_data.h"

constexpr int32_t kPtvSlotCapacity = 4096;

// Records of one slot put into square cells, so that a search visits only
// the cells near its centre.
struct PtvBuckets {
    double x0 = 0.0, y0 = 0.0, cell = 1.0;
    int32_t nx = 0, ny = 0;
    std::vector<int32_t> start;  // nx * ny + 1 offsets into items
    std::vector<int32_t> items;  // record indices, ascending within a cell

    void Build(const ParticleFrame& slot, double cellSize);
    // Appends the indices of the records whose cells touch the square of
    // half side `reach` around (x, y); a superset of those within reach.
    void Collect(double x, double y, double reach, std::vector<int32_t>* out) const;
};

// Four frames t..t+3 in slots 0..3. Each slot's records live in one of four
// fixed buffers; advancing the window rotates them and allocates nothing.
struct PtvWindow {
    ParticleFrame slots[4];
    Particle buffers[4][kPtvSlotCapacity];

    // Search helpers made by PtvPrepareWindow: cells of slots 1 to 3 and
    // the record index of every id in slots 1 and 2.
    PtvBuckets buckets[4];
    std::vector<int32_t> idSlot[4];
    std::vector<int32_t> candidates[3];

    PtvWindow();
    PtvWindow(const PtvWindow&) = delete;
    PtvWindow& operator=(const PtvWindow&) = delete;
    // Slots 1..3 move down to 0..2; the old slot 0's buffer becomes an empty slot 3.
    void Advance();
    void Reset();
};

// Builds the search helpers for the slots as they stand, for searches
// bounded by r and r2. Called after the window was filled or advanced and
// before PtvContinueTrack and PtvStartTrack.
void PtvPrepareWindow(PtvWindow* window, double r, double r2, bool adaptive);

// Squared distance of records[k] (k 2 or 3) from the position expected from
// records[k-2] and records[k-1], or -1.0 when it lies outside the radius.
double PtvStepDistance(const Particle records[4], double radius, int32_t k, bool prediction, bool adaptive);
// Extends the track of slot-0 record i into slot 3 when a free particle there fits.
void PtvContinueTrack(int32_t i, PtvWindow* window, double r, double r2, bool prediction, bool adaptive);
// 1 when a new track with `newId` was made from slot-0 record i and three
// free particles of slots 1 to 3, else 0.
int32_t PtvStartTrack(int32_t i, PtvWindow* window, int32_t newId, double r, double minimumStep, double r2,
                      bool prediction, bool adaptive);
// Removes every record with a negative id, keeping the order; always 1.
int32_t PtvCompactFrame(ParticleFrame* frame);

// One window step: prepares the window, continues the tracks of slot 0 and
// starts new ones from its unlinked particles. Returns the next free id.
int32_t PtvLinkWindow(PtvWindow* window, int32_t nextId, double searchR, double scale, bool prediction,
                      bool adaptive);

struct PtvLinkSettings {
    double searchR = 5.0;
    bool prediction = true;
    bool adaptive = true;
    double scale = 1.0;  // calibration length per pixel
};

// What a tracking run needs from its host.
class CPtvSource {
public:
    enum Capture { kCaptured, kMissing, kCancelled };
    virtual ~CPtvSource() = default;
    // Brings frame `frame` in; kMissing leaves its slot without particles.
    virtual Capture CaptureFrame(int32_t frame) = 0;
    // Writes the particles of the frame just captured, {-1, 1, x, y} each, at
    // most kPtvSlotCapacity, into the empty slot; a failure leaves it empty.
    virtual void Detect(ParticleFrame* slot) = 0;
    // Read at every window step.
    virtual PtvLinkSettings Settings() = 0;
    // Memory for the store ran out; the run then returns 0.
    virtual void NoMemory() = 0;
};

// Tracks frames 0..last into the empty store: 1 when done (also when
// cancelled before the window was full, with every frame empty), 0 on a
// cancel inside the frame loop or out of memory; the caller then clears the store.
int32_t PtvTrackFrames(CParticleData* store, int32_t last, CPtvSource* source, PtvWindow* window);
