#include "filters/analysis/ptv_link.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Searches reach a little further than their radius so that rounding in the
// cell arithmetic never loses a candidate; the exact test decides.
double Reach(double radius) { return radius * (1.0 + 1e-9) + 1e-9; }

double SearchBound(double r, double r2) { return 2.0 * std::max(r, r2); }

// Radius of a step from the last step v: the given one, or when adaptive
// |v| (doubled with prediction) but at least 10 pixels.
double StepRadius(double vx, double vy, double radius, bool prediction, bool adaptive) {
    if (!adaptive) return radius;
    double rad = std::sqrt(vx * vx + vy * vy);
    if (prediction) rad *= 2.0;
    if (rad < 10.0) rad = 10.0;
    return rad;
}

int32_t SlotIndexOfId(const PtvWindow& w, int32_t slot, int32_t id) {
    const std::vector<int32_t>& map = w.idSlot[slot];
    if (id < 0 || static_cast<size_t>(id) >= map.size()) return -1;
    const int32_t j = map[static_cast<size_t>(id)];
    const ParticleFrame& f = w.slots[slot];
    // Entries of earlier steps stay behind; only one that still names a
    // record with this id counts.
    return j >= 0 && j < f.count && f.records[j].id == id ? j : -1;
}

int32_t StoreSlot(CParticleData* store, int32_t frame, const ParticleFrame& slot) {
    if (!store->SetParticles(frame, slot.count)) return 0;
    if (slot.count > 0) {
        std::memcpy(store->frames[frame].records, slot.records, static_cast<size_t>(slot.count) * sizeof(Particle));
    }
    store->Touch();
    return 1;
}

}  // namespace

void PtvBuckets::Build(const ParticleFrame& slot, double cellSize) {
    double minX = 0.0, minY = 0.0, maxX = 0.0, maxY = 0.0;
    bool any = false;
    for (int32_t i = 0; i < slot.count; ++i) {
        const Particle& p = slot.records[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        if (!any) {
            minX = maxX = p.x;
            minY = maxY = p.y;
            any = true;
        }
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    x0 = minX;
    y0 = minY;
    cell = std::isfinite(cellSize) && cellSize > 0.0 ? cellSize : 1.0;
    // At most about two cells per record: a tiny radius over a wide frame
    // takes larger cells rather than a huge grid.
    const double limit = std::max(64.0, 2.0 * slot.count);
    for (;;) {
        const double cx = std::floor((maxX - minX) / cell) + 1.0;
        const double cy = std::floor((maxY - minY) / cell) + 1.0;
        if (cx * cy <= limit) {
            nx = static_cast<int32_t>(cx);
            ny = static_cast<int32_t>(cy);
            break;
        }
        cell *= 2.0;
    }
    start.assign(static_cast<size_t>(nx) * ny + 1, 0);
    items.resize(static_cast<size_t>(slot.count));
    auto cellOf = [&](const Particle& p) {
        const int32_t ix = std::clamp(static_cast<int32_t>((p.x - x0) / cell), 0, nx - 1);
        const int32_t iy = std::clamp(static_cast<int32_t>((p.y - y0) / cell), 0, ny - 1);
        return static_cast<size_t>(iy) * nx + ix;
    };
    int32_t used = 0;
    for (int32_t i = 0; i < slot.count; ++i) {
        const Particle& p = slot.records[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        ++start[cellOf(p) + 1];
        ++used;
    }
    for (size_t c = 1; c < start.size(); ++c) start[c] += start[c - 1];
    // Counting sort: records enter their cells in record order.
    std::vector<int32_t>& fill = items;
    std::vector<int32_t> next(start.begin(), start.end() - 1);
    for (int32_t i = 0; i < slot.count; ++i) {
        const Particle& p = slot.records[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        fill[static_cast<size_t>(next[cellOf(p)]++)] = i;
    }
    items.resize(static_cast<size_t>(used));
}

void PtvBuckets::Collect(double x, double y, double reach, std::vector<int32_t>* out) const {
    if (nx <= 0 || ny <= 0 || items.empty()) return;
    int32_t ix0 = 0, ix1 = nx - 1, iy0 = 0, iy1 = ny - 1;
    if (std::isfinite(x) && std::isfinite(y) && std::isfinite(reach)) {
        const double fx0 = std::floor((x - reach - x0) / cell), fx1 = std::floor((x + reach - x0) / cell);
        const double fy0 = std::floor((y - reach - y0) / cell), fy1 = std::floor((y + reach - y0) / cell);
        if (fx1 < 0.0 || fy1 < 0.0 || fx0 >= nx || fy0 >= ny) return;
        ix0 = static_cast<int32_t>(std::max(fx0, 0.0));
        iy0 = static_cast<int32_t>(std::max(fy0, 0.0));
        ix1 = static_cast<int32_t>(std::min(fx1, nx - 1.0));
        iy1 = static_cast<int32_t>(std::min(fy1, ny - 1.0));
    }
    for (int32_t iy = iy0; iy <= iy1; ++iy) {
        const size_t row = static_cast<size_t>(iy) * nx;
        const int32_t from = start[row + ix0], to = start[row + ix1 + 1];
        out->insert(out->end(), items.begin() + from, items.begin() + to);
    }
}

PtvWindow::PtvWindow() { Reset(); }

void PtvWindow::Reset() {
    for (int32_t s = 0; s < 4; ++s) slots[s] = ParticleFrame{-1, 0, buffers[s], kPtvSlotCapacity};
}

void PtvWindow::Advance() {
    ParticleFrame first = slots[0];
    slots[0] = slots[1];
    slots[1] = slots[2];
    slots[2] = slots[3];
    first.count = 0;
    first.topId = -1;
    slots[3] = first;
}

void PtvPrepareWindow(PtvWindow* window, double r, double r2, bool adaptive) {
    // Cells as wide as the widest search; an adaptive radius may reach
    // further, which only means visiting more cells.
    double cell = SearchBound(r, r2);
    if (adaptive) cell = std::max(cell, 10.0);
    for (int32_t s = 1; s < 4; ++s) window->buckets[s].Build(window->slots[s], cell);
    for (int32_t s = 1; s <= 2; ++s) {
        const ParticleFrame& f = window->slots[s];
        std::vector<int32_t>& map = window->idSlot[s];
        // The first record of an id wins, as in a scan in record order.
        for (int32_t j = f.count - 1; j >= 0; --j) {
            const int32_t id = f.records[j].id;
            if (id < 0) continue;
            if (static_cast<size_t>(id) >= map.size()) map.resize(static_cast<size_t>(id) + 1, -1);
            map[static_cast<size_t>(id)] = j;
        }
    }
}

double PtvStepDistance(const Particle records[4], double radius, int32_t k, bool prediction, bool adaptive) {
    const Particle& p2 = records[k - 2];
    const Particle& p1 = records[k - 1];
    const double vx = p1.x - p2.x, vy = p1.y - p2.y;
    const double ex = prediction ? p1.x + vx : p1.x;
    const double ey = prediction ? p1.y + vy : p1.y;
    const double rad = StepRadius(vx, vy, radius, prediction, adaptive);
    const double dx = records[k].x - ex, dy = records[k].y - ey;
    const double d2 = dx * dx + dy * dy;
    return d2 > rad * rad ? -1.0 : d2;
}

void PtvContinueTrack(int32_t i, PtvWindow* window, double r, double r2, bool prediction, bool adaptive) {
    PtvWindow& w = *window;
    const int32_t id = w.slots[0].records[i].id;
    const int32_t j2 = SlotIndexOfId(w, 2, id);
    if (j2 < 0) return;  // the track has ended
    const int32_t j1 = SlotIndexOfId(w, 1, id);
    if (j1 < 0) return;
    const Particle p1 = w.slots[1].records[j1];
    const Particle p2 = w.slots[2].records[j2];
    const double bound = SearchBound(r, r2);
    double best = bound * bound;
    const double vx = p2.x - p1.x, vy = p2.y - p1.y;
    const double ex = prediction ? p2.x + vx : p2.x;
    const double ey = prediction ? p2.y + vy : p2.y;
    const double rad = StepRadius(vx, vy, r2, prediction, adaptive);
    const double rad2 = rad * rad;

    std::vector<int32_t>& found = w.candidates[0];
    found.clear();
    w.buckets[3].Collect(ex, ey, Reach(std::min(rad, bound)), &found);
    ParticleFrame& s3 = w.slots[3];
    // The nearest free particle; among equals the first in record order.
    int32_t chosen = -1;
    for (const int32_t c : found) {
        const Particle& q = s3.records[c];
        if (q.id != -1) continue;
        const double dx = q.x - ex, dy = q.y - ey;
        const double d2 = dx * dx + dy * dy;
        if (!(d2 <= rad2)) continue;
        if (d2 < best || (chosen >= 0 && d2 == best && c < chosen)) {
            best = d2;
            chosen = c;
        }
    }
    if (chosen >= 0) s3.records[chosen].id = id;
}

int32_t PtvStartTrack(int32_t i, PtvWindow* window, int32_t newId, double r, double minimumStep, double r2,
                      bool prediction, bool adaptive) {
    PtvWindow& w = *window;
    const Particle p0 = w.slots[0].records[i];
    const double bound = SearchBound(r, r2);
    double best = bound * bound;
    if (w.slots[1].count == 0) return 0;
    const double r2Squared = r * r;
    const double minSquared = minimumStep * minimumStep;

    // Candidates are visited in record order, slot 1 outermost, so that a
    // strict comparison keeps the first of equal costs.
    std::vector<int32_t>& as = w.candidates[0];
    std::vector<int32_t>& bs = w.candidates[1];
    std::vector<int32_t>& cs = w.candidates[2];
    as.clear();
    w.buckets[1].Collect(p0.x, p0.y, Reach(r), &as);
    std::sort(as.begin(), as.end());
    int32_t chosenA = -1, chosenB = -1, chosenC = -1;
    Particle rec[4] = {p0, {}, {}, {}};
    for (const int32_t a : as) {
        rec[1] = w.slots[1].records[a];
        if (rec[1].id != -1) continue;
        const double ax = rec[1].x - p0.x, ay = rec[1].y - p0.y;
        const double d1 = ax * ax + ay * ay;
        if (!(minSquared < d1 && d1 <= r2Squared)) continue;
        const double n = d1 / r2Squared;

        const double ebx = prediction ? rec[1].x + ax : rec[1].x;
        const double eby = prediction ? rec[1].y + ay : rec[1].y;
        bs.clear();
        w.buckets[2].Collect(ebx, eby, Reach(StepRadius(ax, ay, r2, prediction, adaptive)), &bs);
        std::sort(bs.begin(), bs.end());
        for (const int32_t b : bs) {
            rec[2] = w.slots[2].records[b];
            if (rec[2].id != -1) continue;
            const double d2 = PtvStepDistance(rec, r2, 2, prediction, adaptive);
            if (d2 == -1.0) continue;
            // No third step can make the cost smaller than this.
            if ((d2 * 0.5) * n >= best) continue;

            const double bx = rec[2].x - rec[1].x, by = rec[2].y - rec[1].y;
            const double ecx = prediction ? rec[2].x + bx : rec[2].x;
            const double ecy = prediction ? rec[2].y + by : rec[2].y;
            cs.clear();
            w.buckets[3].Collect(ecx, ecy, Reach(StepRadius(bx, by, r2, prediction, adaptive)), &cs);
            std::sort(cs.begin(), cs.end());
            for (const int32_t c : cs) {
                rec[3] = w.slots[3].records[c];
                if (rec[3].id != -1) continue;
                const double d3 = PtvStepDistance(rec, r2, 3, prediction, adaptive);
                if (d3 == -1.0) continue;
                const double cost = ((d2 + d3) * 0.5) * n;
                if (cost < best) {
                    best = cost;
                    chosenA = a;
                    chosenB = b;
                    chosenC = c;
                }
            }
        }
    }
    if (chosenA < 0) return 0;
    w.slots[0].records[i].id = newId;
    w.slots[1].records[chosenA].id = newId;
    w.slots[2].records[chosenB].id = newId;
    w.slots[3].records[chosenC].id = newId;
    return 1;
}

int32_t PtvCompactFrame(ParticleFrame* frame) {
    int32_t kept = 0;
    for (int32_t i = 0; i < frame->count; ++i) {
        if (frame->records[i].id >= 0) frame->records[kept++] = frame->records[i];
    }
    frame->count = kept;
    return 1;
}

int32_t PtvLinkWindow(PtvWindow* window, int32_t nextId, double searchR, double scale, bool prediction,
                      bool adaptive) {
    // A calibration that is not a positive length would divide the radius
    // into nothing or infinity; it counts as 1.
    if (!std::isfinite(scale) || scale <= 0.0) scale = 1.0;
    const double r = searchR;
    const double r2 = searchR / scale;
    PtvPrepareWindow(window, r, r2, adaptive);
    ParticleFrame& s0 = window->slots[0];
    for (int32_t i = 0; i < s0.count; ++i) {
        if (s0.records[i].id >= 0) PtvContinueTrack(i, window, r, r2, prediction, adaptive);
    }
    for (int32_t i = 0; i < s0.count && nextId < INT32_MAX; ++i) {
        if (s0.records[i].id != -1) continue;
        if (PtvStartTrack(i, window, nextId, r, 0.0, r2, prediction, adaptive)) ++nextId;
    }
    return nextId;
}

int32_t PtvTrackFrames(CParticleData* store, int32_t last, CPtvSource* source, PtvWindow* window) {
    if (!store || !source || !window || last < 3) return 0;
    if (!store->SetFrames(last + 1)) {
        source->NoMemory();
        return 0;
    }
    window->Reset();
    auto fill = [&](int32_t frame, ParticleFrame* slot, CPtvSource::Capture captured) {
        slot->count = 0;
        if (captured == CPtvSource::kCaptured) source->Detect(slot);
        slot->count = std::clamp(slot->count, 0, kPtvSlotCapacity);
        (void)frame;
    };
    for (int32_t k = 0; k < 3; ++k) {
        const CPtvSource::Capture captured = source->CaptureFrame(k);
        if (captured == CPtvSource::kCancelled) return 1;  // nothing linked yet: every frame stays empty
        fill(k, &window->slots[k + 1], captured);
    }
    int32_t nextId = 0;
    for (int32_t t = 0; t + 3 <= last; ++t) {
        const CPtvSource::Capture captured = source->CaptureFrame(t + 3);
        if (captured == CPtvSource::kCancelled) return 0;
        window->Advance();
        fill(t + 3, &window->slots[3], captured);
        const PtvLinkSettings s = source->Settings();
        nextId = PtvLinkWindow(window, nextId, s.searchR, s.scale, s.prediction, s.adaptive);
        PtvCompactFrame(&window->slots[0]);
        if (!StoreSlot(store, t, window->slots[0])) {
            source->NoMemory();
            return 0;
        }
    }
    store->idCount = nextId;
    for (int32_t s = 1; s < 4; ++s) {
        PtvCompactFrame(&window->slots[s]);
        if (!StoreSlot(store, last - 3 + s, window->slots[s])) {
            source->NoMemory();
            return 0;
        }
    }
    return 1;
}
