// A chain controller that records the host hooks the filters call, and a
// probe filter that records what each filter step receives.
//
// For whole-sequence runs the host also holds an in-memory sequence: after
// OpenSequence (or OpenStill) its Seek (i) loads scene i and runs the real
// chain on the controller's worker, as the program's scene bar does, and a
// synchronous Refilter runs it again on the current scene. Tests script it:
//   - frameTime: what GetMediaFrameTime answers (milliseconds per frame);
//   - unreadable: scenes whose Seek succeeds but delivers no image;
//   - atFrame[k]: called inside Seek (k) after the chain ran (input while
//     frame k is shown, e.g. a click on a cancel button);
//   - calls: "Seek(k)" besides the other hooks; result: the last chain output.
// Prompts (message boxes, file selection) are answered as in every panel
// test, by kvtest::ModalAnswers through the toolkit's modal-start hook.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "filters/core/filterctrl.h"
#include "filters/core/imgfilter.h"
#include "image/imgbuff.h"

class FakeHost : public CFilterCtrl {
public:
    // Makes scene `index` of a sequence: fills `out` (false: cannot).
    using SceneSource = std::function<bool(uint64_t index, CImgBuff* out)>;

    ~FakeHost() override { StopWorker(); }
    std::vector<std::string> calls;
    uint64_t frameTime = 0;
    uint64_t currentFrame = 0;
    std::set<uint64_t> unreadable;
    std::map<uint64_t, std::function<void()>> atFrame;
    CImgBuff current;  // the scene loaded last (empty when unreadable)
    CImgBuff result;   // what the chain made of it

    void Refilter(int32_t async) override {
        calls.push_back(async ? "Refilter(1)" : "Refilter(0)");
        if (!async && source_) RunCurrent();
    }
    void Redraw() override { calls.push_back("Redraw"); }
    void LockUi(int32_t lock, CImgFilter* filter) override {
        calls.push_back(lock ? "LockUi(1)" : "LockUi(0)");
        CFilterCtrl::LockUi(lock, filter);
    }
    void OnFilterUiClosed() override { calls.push_back("OnFilterUiClosed"); }
    uint64_t GetCurrentFrame() override { return currentFrame; }
    uint64_t GetMediaFrameTime() override { return frameTime; }
    // Without a sequence: scene 0 of a still, not run (as the program does).
    int32_t Seek(uint64_t frame) override {
        calls.push_back("Seek(" + std::to_string(frame) + ")");
        if (!source_) return frame == 0 ? 1 : 0;
        if (frame >= sceneCount_) return 0;
        currentFrame = frame;
        if (still_) {
            // A still is not read again: the seek runs nothing.
        } else if (unreadable.count(frame) || !source_(frame, &current)) {
            current.FreePixels();
        } else {
            RunCurrent();
        }
        if (auto it = atFrame.find(frame); it != atFrame.end() && it->second) it->second();
        return 1;
    }

    // Adds a filter to the active chain; the host keeps it.
    CImgFilter* Add(CImgFilter* filter) {
        uint64_t index = 0;
        return AddFilter(filter, &index) ? filter : nullptr;
    }

    // A sequence of `count` scenes made by `source`; tells the chain its
    // format (from scene 0) and shows scene 0. False when scene 0 cannot be made.
    bool OpenSequence(uint64_t count, SceneSource source) {
        still_ = false;
        return Open(count, std::move(source));
    }
    // The scenes as given (copied).
    bool OpenSequence(const std::vector<const CImgBuff*>& scenes) {
        auto copies = std::make_shared<std::vector<std::unique_ptr<CImgBuff>>>();
        for (const CImgBuff* scene : scenes) {
            copies->push_back(std::make_unique<CImgBuff>());
            copies->back()->CopyFrom(scene);
        }
        return OpenSequence(scenes.size(), [copies](uint64_t i, CImgBuff* out) {
            out->CopyFrom((*copies)[i].get());
            return out->buffer && out->buffer->pixels;
        });
    }
    // One still image: Seek (0) succeeds without running the chain.
    bool OpenStill(const CImgBuff& image) {
        auto copy = std::make_shared<CImgBuff>();
        copy->CopyFrom(&image);
        still_ = false;
        if (!Open(1, [copy](uint64_t, CImgBuff* out) {
                out->CopyFrom(copy.get());
                return out->buffer && out->buffer->pixels;
            }))
            return false;
        still_ = true;
        return true;
    }
    // Runs the chain on the current scene (synchronously, on the worker).
    void RunCurrent() {
        if (current.buffer && current.buffer->pixels) RequestRun(&result, &current, currentFrame, 0);
    }

private:
    bool Open(uint64_t count, SceneSource source) {
        source_ = std::move(source);
        sceneCount_ = count;
        currentFrame = 0;
        if (!count || !source_(0, &current) || !current.buffer || !current.buffer->pixels) {
            source_ = nullptr;
            sceneCount_ = 0;
            return false;
        }
        const C_ImgBuff* b = current.buffer;
        SetSourceFormat(static_cast<uint64_t>(b->width), static_cast<uint64_t>(b->height),
                        static_cast<uint64_t>(b->BytesPerPixel()), count);
        RunCurrent();
        return true;
    }
    SceneSource source_;
    uint64_t sceneCount_ = 0;
    bool still_ = false;
};

// What one filter step received.
struct ProbeStep {
    int64_t x, y, w, h;
    uint32_t connect, bg, channelBytes;
    int32_t format;
};

class ProbeFilter : public CImgFilter {
public:
    std::vector<ProbeStep> steps;
    const wchar_t* GetName(const wchar_t*) override { return L"Probe"; }
    int32_t OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t*, uint32_t* channelBytes) override {
        steps.push_back({x, y, w, h, connect, bg, *channelBytes, image->buffer ? image->buffer->format : 0});
        return 1;
    }
};
