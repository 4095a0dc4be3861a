// A tracking controller over frames held in memory: the frame range, the
// work image, a queue of answers for tracking by hand, cancel after a number
// of progress ticks, and targets added as the tracking filter adds them.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "filters/analysis/track_ctrl.h"
#include "image/imgbuff.h"

class TrackHost : public CTrackCtrl {
public:
    enum class Answer { Point, Lost, Skip };
    struct Manual {
        Answer answer;
        int32_t x, y;
    };

    std::vector<std::unique_ptr<CImgBuff>> frames;
    int32_t first = 0, last = -1;  // range of a run; last < first: the whole movie
    int32_t current = -1;
    std::deque<Manual> answers;     // an empty queue answers "lost"
    std::vector<std::pair<int32_t, int32_t>> asked;  // (target, frame) of each manual request
    std::vector<int32_t> visited;                   // frames gone to
    int64_t cancelAfter = -1;  // ticks answered before the cancel; -1 never
    int64_t ticks = 0;
    int32_t refreshes = 0;
    int32_t failFrame = -1;  // GoToFrame of this frame fails

    // Adds a frame (taken over).
    void AddFrame(CImgBuff* frame) { frames.emplace_back(frame); }

    int32_t GetFrameRange(int32_t* f, int32_t* l) override {
        if (frames.empty()) return 0;
        *f = first;
        *l = last < first ? static_cast<int32_t>(frames.size()) - 1 : last;
        return 1;
    }
    int32_t GoToFrame(int32_t frame) override {
        if (frame < 0 || frame >= static_cast<int32_t>(frames.size()) || frame == failFrame) return 0;
        current = frame;
        visited.push_back(frame);
        return 1;
    }
    uint32_t GetFrameCount() override { return 0; }  // as the tracking filter answers
    int32_t ProgressTick() override {
        ++ticks;
        return cancelAfter >= 0 && ticks > cancelAfter ? 1 : 0;
    }
    void Refresh() override { ++refreshes; }
    CImgBuff* GetWorkImage() override {
        if (current < 0 || current >= static_cast<int32_t>(frames.size())) return CTrackCtrl::GetWorkImage();
        return frames[current].get();
    }
    void GetImageSize(int32_t* w, int32_t* h) override {
        const C_ImgBuff* b = frames.empty() ? nullptr : frames[0]->buffer;
        if (w) *w = b ? b->width : 0;
        if (h) *h = b ? b->height : 0;
    }
    int32_t ManualTrack(int32_t target, int32_t frame, int32_t* x, int32_t* y) override {
        asked.emplace_back(target, frame);
        if (answers.empty()) return 0;
        const Manual m = answers.front();
        answers.pop_front();
        switch (m.answer) {
            case Answer::Lost:
                return 0;
            case Answer::Skip:
                skip = 1;
                *x = *y = 0;
                return 1;
            default:
                *x = m.x;
                *y = m.y;
                return 1;
        }
    }
    // As the tracking filter: a refused target is deleted; an added one gets
    // a 1 x 1 box at the point.
    int32_t AddTargetAt(CTrack* target, int32_t x, int32_t y) override {
        if (!target) return -1;
        target->x = x;
        target->y = y;
        const int32_t index = AddTarget(target);
        if (index < 0) {
            delete target;
            return -1;
        }
        target->w = target->h = 1;
        return index;
    }
    // Table rows for every frame (the filter sizes the table from its movie).
    void SizeTable() { table.SetRows(static_cast<uint32_t>(frames.size())); }
};
