#include "filters/processing/spectrum_records.h"

#include <cstdlib>
#include <cstring>

#include "filters/core/spectrum_stack.h"
#include "image/imgbuff.h"

SpectrumStack g_SpectrumStack;

namespace {

void ClearLocked() {
    SpectrumStack& s = g_SpectrumStack;
    for (uint64_t i = s.count; i-- > 0;) ImgFftReset(&s.records[i].state);
    s.count = 0;
}

}  // namespace

int32_t PushSpectrum(const SpectrumRecord& record) {
    SpectrumStack& s = g_SpectrumStack;
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.count == s.capacity) {
        const uint64_t capacity = s.capacity + 8;
        if (capacity > SIZE_MAX / sizeof(SpectrumRecord)) return 0;
        auto* grown = static_cast<SpectrumRecord*>(std::realloc(s.records, capacity * sizeof(SpectrumRecord)));
        if (!grown) return 0;
        s.records = grown;
        s.capacity = capacity;
    }
    s.records[s.count++] = record;
    return 1;
}

int32_t PopSpectrum(SpectrumRecord* record) {
    SpectrumStack& s = g_SpectrumStack;
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.count) return 0;
    *record = s.records[--s.count];
    std::memset(&s.records[s.count], 0, sizeof(SpectrumRecord));
    return 1;
}

void ClearSpectrumRecords() {
    std::lock_guard<std::mutex> hold(g_SpectrumStack.lock);
    ClearLocked();
}

void AddSpectrumUser() {
    SpectrumStack& s = g_SpectrumStack;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        if (s.users != UINT64_MAX) ++s.users;
    }
    SetSpectrumStackClear(ClearSpectrumRecords);
}

void ReleaseSpectrumUser() {
    SpectrumStack& s = g_SpectrumStack;
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.users) return;
    if (--s.users) return;
    ClearLocked();
    std::free(s.records);
    s.records = nullptr;
    s.capacity = 0;
}

int32_t InverseSpectrumStep(CImgBuff* image, bool levels) {
    SpectrumRecord record;
    if (!PopSpectrum(&record)) return 1;
    CImgBuff picture;
    if (record.state.transformWidth < 2 ||
        !image->ExtractRect(&picture, record.x0, record.y0, record.x1, record.y1)) {
        ImgFftReset(&record.state);
        return 1;
    }
    // The inverse consumes the state; the picture becomes the result.
    const int32_t done = ImgFftInverse(&record.state, &picture, levels ? nullptr : &picture, levels ? &picture : nullptr);
    ImgFftReset(&record.state);
    if (done) image->PasteImage(&picture, static_cast<uint32_t>(record.x0), static_cast<uint32_t>(record.y0));
    return 1;
}
