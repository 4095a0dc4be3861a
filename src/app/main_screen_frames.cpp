// The frame road: scene to frame number, reading the frame (ahead, on the
// frame reader, while playing), the roll, the chain run, showing the result
// in the picture, the overlay and the title's pixel readout.
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "app/main_screen.h"
#include "image/colour.h"
#include "image/kernels/flip_rotate.h"
#include "image/pool.h"
#include "media/codec.h"
#include "media/image_module.h"
#include "platform/files.h"
#include "platform/plat_messages.h"
#include "platform/plat_window.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Empty(const CImgBuff& image) {
    return !image.buffer || !image.buffer->pixels || !ImgFormatValid(image.buffer->format);
}

}  // namespace

// --- frame reader ---

CFramePrefetch::CFramePrefetch() : thread_([this] { Main(); }) {}

CFramePrefetch::~CFramePrefetch() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CFramePrefetch::Request(codec_file* file, uint64_t index) {
    if (!file) return;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (busy_ || (ready_ && file_ == file && index_ == index)) return;
        file_ = file;
        index_ = index;
        ready_ = false;
        busy_ = true;
    }
    wake_.notify_one();
}

int32_t CFramePrefetch::Take(codec_file* file, uint64_t index, C_ImgBuff* out) {
    std::unique_lock<std::mutex> hold(mutex_);
    idle_.wait(hold, [this] { return !busy_; });
    const bool match = ready_ && ok_ && file_ == file && index_ == index && frame_.buffer && out;
    if (match) {
        out->TakePixels(frame_.buffer);
        ++hits;
    }
    ready_ = false;
    return match ? 1 : 0;
}

void CFramePrefetch::Cancel() {
    std::unique_lock<std::mutex> hold(mutex_);
    idle_.wait(hold, [this] { return !busy_; });
    ready_ = false;
    file_ = nullptr;
}

void CFramePrefetch::Main() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [this] { return quit_ || busy_; });
        if (quit_) return;
        codec_file* file = file_;
        const uint64_t index = index_;
        hold.unlock();
        // The owner does not touch the handle while busy_ is set.
        const bool ok = frame_.ReadFrame(file, index) != 0;
        hold.lock();
        ok_ = ok;
        ready_ = true;
        busy_ = false;
        idle_.notify_all();
    }
}

// --- scene to frame ---

void CMainScreen::OnPositionChanged(uint64_t position) {
    currentFrame = playRangeSet ? playRangeStart + position * playRangeStep : position;
    // The scene bar leaves the paint to this call: exactly one per scene,
    // the bar's new thumb included.
    const uint64_t before = paints_;
    LoadFrame(1);
    if (paints_ == before) {
        ++paints_;
        CFgUIDialog::Redraw();
    }
}

int32_t CMainScreen::SeekScene(uint64_t index) {
    if (!movieFile && !moduleStream) return index == 0 ? 1 : 0;
    if (index >= sceneBar.sceneCount) return 0;
    sceneBar.position = index;
    sceneBar.UpdateThumb();
    if (sceneBar.listener) sceneBar.listener->OnPositionChanged(index);
    if (!sceneBar.listener || !sceneBar.listenerPaints) sceneBar.RedrawParent();
    return 1;
}

int32_t CMainScreen::DecodeFrame(uint64_t index, CImgBuff* out) {
    if (moduleStream) return ReadModuleFrame(moduleStream, out, index);
    if (!movieFile) return 0;
    if (prefetch.Take(movieFile, index, out->buffer)) return 1;
    return out->ReadFrame(movieFile, index);
}

void CMainScreen::PrefetchNext() {
    if (!movieFile || !sceneBar.playDirection) return;
    const uint64_t position = sceneBar.position;
    uint64_t next;
    if (sceneBar.playDirection > 0) {
        if (position + 1 >= sceneBar.sceneCount) return;
        next = position + 1;
    } else {
        if (position == 0) return;
        next = position - 1;
    }
    const uint64_t frame = playRangeSet ? playRangeStart + next * playRangeStep : next;
    prefetch.Request(movieFile, frame);
}

void CMainScreen::LoadFrame(int32_t redraw) {
    const Clock::time_point start = Clock::now();
    // The frame is decoded and rolled outside the controller's lock, into a
    // scratch image, and swapped into the source under it.
    bool have = false;
    bool failed = false;
    if (movieFile || moduleStream) {
        have = DecodeFrame(currentFrame, &scratch_) != 0;
        failed = !have;
    }
    if (restoreStill) {
        restoreStill = 0;
        have = scratch_.CopyFrom(&stillImage) != nullptr;
    }
    if (have || (!failed && roll != 0 && !Empty(sourceImage))) {
        if (!have) have = scratch_.CopyFrom(&sourceImage) != nullptr;
        if (have && roll != 0 && !Empty(scratch_)) {
            ImgRotateQuarterTurns(&scratch_, roll);
            if (!movieFile && !moduleStream) restoreStill = 1;
        }
    }
    if (measureTimes) times.readSeconds += SecondsSince(start);
    const Clock::time_point swap = Clock::now();
    {
        CriticalSectionLock hold(sidePanel.lock);
        if (have)
            sourceImage.buffer->TakePixels(scratch_.buffer);
        else if (failed)
            sourceImage.FreePixels();
    }
    if (measureTimes) times.swapSeconds += SecondsSince(swap);
    // While playing, the reader decodes the next scene during the chain run,
    // the upload and the wait for the next step.
    PrefetchNext();
    if (Empty(sourceImage)) {
        {
            CriticalSectionLock hold(sidePanel.lock);
            picture.GetTexture()->Clear();
            picture.UpdateLayout();
        }
        if (redraw) {
            ++paints_;
            CFgUIDialog::Redraw();
        }
        return;
    }
    RunFilterChain(0);
}

void CMainScreen::RunFilterChain(int32_t async) {
    if (Empty(sourceImage)) return;
    if (displayContent == 0) {
        // The view shows the frame as read, but a filter's run measures the
        // frames as the chain makes them whatever the view: the chain still
        // runs for it (synchronously, so its capture is there on return).
        if (runLocked) {
            syncRunWaiting_.store(1);
            sidePanel.RequestRun(&resultImage, &sourceImage, currentFrame, 0);
            syncRunWaiting_.store(0);
        }
        {
            CriticalSectionLock hold(sidePanel.lock);
            resultImage.CopyFrom(&sourceImage);
        }
        ShowResult();
        return;
    }
    const Clock::time_point start = Clock::now();
    // A synchronous run is shown below; the worker's frame-done redraw
    // would paint it a second time.
    if (!async) syncRunWaiting_.store(1);
    sidePanel.RequestRun(&resultImage, &sourceImage, currentFrame, async);
    syncRunWaiting_.store(0);
    if (async) return;
    if (measureTimes) times.chainSeconds += SecondsSince(start);
    // The worker only posts its notification; a waiting caller shows the
    // result itself.
    ShowResult();
}

void CMainScreen::PostFrameDone() {
    if (syncRunWaiting_.load()) return;
    frameReady_.store(1);
    if (window) PlatPostRedraw(window);
}

void CMainScreen::ShowResult() {
    frameReady_.store(0);
    const Clock::time_point start = Clock::now();
    int32_t ok;
    CFgTexture* texture;
    {
        CriticalSectionLock hold(sidePanel.lock);
        texture = picture.GetTexture();
        ok = texture->SetFromImage(&resultImage, 1);
        picture.painted = 0;
        picture.UpdateLayout();
    }
    const Clock::time_point paint = Clock::now();
    if (measureTimes) times.convertSeconds += std::chrono::duration<double>(paint - start).count();
    CFgScreen* owner = picture.OwnerScreen();
    if (!texture->screen && texture->pixels && owner) texture->AttachToScreen(owner);
    if (ok) {
        ++paints_;
        CFgUIDialog::Redraw();
    }
    if (measureTimes) {
        times.uploadSeconds += SecondsSince(paint);
        ++times.frames;
    }
}

void CMainScreen::Redraw() {
    if (DeferRedraw()) return;
    if (frameReady_.exchange(0)) {
        ShowResult();
        return;
    }
    CFgUIDialog::Redraw();
}

void CMainScreen::SetPlayRange(uint64_t start, uint64_t end, uint64_t step) {
    uint64_t last = 0;
    if (movieFile)
        last = movieFile->info.frame_count ? movieFile->info.frame_count - 1 : 0;
    else if (!Empty(sourceImage))
        last = 1;
    if (step == 0) step = 1;
    if (start == 1 && end >= 1 && end - 1 == last && step == 1) {
        playRangeSet = 0;
        playRangeStart = playRangeEnd = playRangeStep = 0;
    } else {
        playRangeSet = 1;
        playRangeStart = start ? start - 1 : 0;
        playRangeEnd = end ? end - 1 : 0;
        playRangeStep = step;
    }
    const uint64_t count = end >= start ? (end - start) / step + 1 : 0;
    // Only a movie or a stream has scenes to range over; a still keeps one.
    if (count != 0 && (movieFile || moduleStream)) {
        sceneBar.sceneCount = count;
        sceneBar.position = 0;
        sceneBar.UpdateThumb();
        if (sceneBar.listener) sceneBar.listener->OnPositionChanged(0);
    }
    // The geometry as read, before the roll (SetSourceFormat swaps it for
    // the roll itself; the source in hand is already rolled).
    const C_ImgBuff* b = sourceImage.buffer;
    SetSourceFormat(lastSourceFormat[0], lastSourceFormat[1], b ? SourceBytesPerPixel(b->format) : 0,
                    sceneBar.sceneCount);
    LoadFrame(1);
}

void CMainScreen::SetSourceFormat(uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t frames) {
    lastSourceFormat[0] = width;
    lastSourceFormat[1] = height;
    lastSourceFormat[2] = bytesPerPixel;
    lastSourceFormat[3] = frames;
    if (roll == 1 || roll == -1)
        sidePanel.SetSourceFormat(height, width, bytesPerPixel, frames);
    else
        sidePanel.SetSourceFormat(width, height, bytesPerPixel, frames);
}

void CMainScreen::DrawOverlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                              int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                              int32_t zoom) {
    sidePanel.DrawOverlays(screen, font, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom);
    if (Calibrating())
        calibration.DrawPoints(viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom);
    if (!Empty(sourceImage) && sceneBar.sceneCount > 1 && font) {
        static const double kGuide[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                            {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
        const uint32_t g = guideColor < 8 ? guideColor : 1;
        glColor3d(kGuide[g][0], kGuide[g][1], kGuide[g][2]);
        wchar_t text[64];
        std::swprintf(text, 64, L"%llu/%llu", static_cast<unsigned long long>(sceneBar.position + 1),
                      static_cast<unsigned long long>(sceneBar.sceneCount));
        font->DrawText(viewX0, viewY0, text);
    }
}

// --- title ---

void CMainScreen::FormatReadout(wchar_t* out, uint64_t size, const CImgBuff* image, int32_t x, int32_t y,
                                uint32_t mode, uint64_t threads) {
    out[0] = 0;
    const C_ImgBuff* b = image ? image->buffer : nullptr;
    if (!b || !b->pixels || !ImgFormatValid(b->format) || !b->Contains(x, y)) return;
    const unsigned long long t = threads;
    const long lx = x, ly = y;
    const int32_t f = b->format;
    const int depth = ImgFormatIn(ImgFormat8BitMask, f) ? 8 : ImgFormatIn(ImgFormat16BitMask, f) ? 16 : 32;
    const size_t n = static_cast<size_t>(size);
    switch (mode) {
        case 1:
        case 3: {
            const bool cmy = mode == 3;
            if (depth == 8) {
                uint8_t r, g, bl;
                b->GetPixelRgb8(x, y, &r, &g, &bl);
                if (cmy) r = 255 - r, g = 255 - g, bl = 255 - bl;
                std::swprintf(out, n, cmy ? L" - %llucore (%ld, %ld) C:%u M:%u Y:%u" : L" - %llucore (%ld, %ld) R:%u G:%u B:%u",
                              t, lx, ly, unsigned(r), unsigned(g), unsigned(bl));
            } else if (depth == 16) {
                uint16_t r, g, bl;
                b->GetPixelRgb16(x, y, &r, &g, &bl);
                if (cmy) r = 65535 - r, g = 65535 - g, bl = 65535 - bl;
                std::swprintf(out, n,
                              cmy ? L" - %llucore (%ld, %ld) C:%04X M:%04X Y:%04X" : L" - %llucore (%ld, %ld) R:%04X G:%04X B:%04X",
                              t, lx, ly, unsigned(r), unsigned(g), unsigned(bl));
            } else {
                uint32_t r, g, bl;
                b->GetPixelRgb32(x, y, &r, &g, &bl);
                if (cmy) r = ~r, g = ~g, bl = ~bl;
                std::swprintf(out, n,
                              cmy ? L" - %llucore (%ld, %ld) C:%08X M:%08X Y:%08X" : L" - %llucore (%ld, %ld) R:%08X G:%08X B:%08X",
                              t, lx, ly, r, g, bl);
            }
            break;
        }
        case 2: {
            if (depth == 8) {
                uint8_t r8, g8, b8;
                b->GetPixelRgb8(x, y, &r8, &g8, &b8);
                const int r = r8, g = g8, bl = b8;
                const int mx = std::max({r, g, bl}), mn = std::min({r, g, bl});
                int h;
                if (mx == mn)
                    h = 0;
                else if (r == mx)
                    h = (255 + (g - bl) * 42 / (mx - mn)) % 255;
                else if (g == mx)
                    h = (bl - r) * 42 / (mx - mn) + 84;
                else
                    h = (r - g) * 42 / (mx - mn) + 168;
                const int s = mx ? (mx - mn) * 254 / mx : 0;
                std::swprintf(out, n, L" - %llucore (%ld, %ld) H:%.0lf S:%u V:%u", t, lx, ly,
                              (h & 0xFF) / 255.0 * 359.0, unsigned(s), unsigned(mx));
            } else if (depth == 16) {
                uint16_t h, s, v;
                b->GetPixelHsv16(x, y, &h, &s, &v);
                std::swprintf(out, n, L" - %llucore (%ld, %ld) H:%.0lf S:%04X V:%04X", t, lx, ly, h / 65535.0 * 359.0,
                              unsigned(s), unsigned(v));
            } else {
                uint32_t r, g, bl, h, s, v;
                b->GetPixelRgb32(x, y, &r, &g, &bl);
                ImgRgb32ToHsv32(r, g, bl, &h, &s, &v);
                std::swprintf(out, n, L" - %llucore (%ld, %ld) H:%.0lf S:%08X V:%08X", t, lx, ly,
                              h / 4294967295.0 * 359.0, s, v);
            }
            break;
        }
        case 4: {
            if (depth == 8) {
                uint8_t c, m, ye, k;
                b->GetPixelCmyk8(x, y, &c, &m, &ye, &k);
                std::swprintf(out, n, L" - %llucore (%ld, %ld) C:%u M:%u Y:%u K:%u", t, lx, ly, unsigned(c),
                              unsigned(m), unsigned(ye), unsigned(k));
            } else if (depth == 16) {
                uint16_t r, g, bl;
                b->GetPixelRgb16(x, y, &r, &g, &bl);
                const unsigned c0 = 65535u - r, m0 = 65535u - g, y0 = 65535u - bl;
                const unsigned k = std::min({c0, m0, y0});
                std::swprintf(out, n, L" - %llucore (%ld, %ld) C:%04X M:%04X Y:%04X K:%04X", t, lx, ly, c0 - k,
                              m0 - k, y0 - k, k);
            } else {
                uint32_t r, g, bl;
                b->GetPixelRgb32(x, y, &r, &g, &bl);
                const uint32_t c0 = ~r, m0 = ~g, y0 = ~bl;
                const uint32_t k = std::min({c0, m0, y0});
                std::swprintf(out, n, L" - %llucore (%ld, %ld) C:%08X M:%08X Y:%08X K:%08X", t, lx, ly, c0 - k,
                              m0 - k, y0 - k, k);
            }
            break;
        }
        case 5:
        case 6:
        case 7: {
            double cx, cy, cz;
            b->GetPixelXyz(x, y, &cx, &cy, &cz);
            if (mode == 5) {
                std::swprintf(out, n, L" - %llucore (%ld, %ld) X:%lf Y:%lf Z:%lf", t, lx, ly, cx, cy, cz);
                break;
            }
            double l, a, bb;
            ImgXyzToLab(cx, cy, cz, &l, &a, &bb);
            if (mode == 6) {
                std::swprintf(out, n, L" - %llucore (%ld, %ld) L*:%lf a*:%lf b*:%lf", t, lx, ly, l, a, bb);
                break;
            }
            const double c = std::sqrt(a * a + bb * bb);
            double h = std::atan2(bb, a);
            if (h < 0) h += 2.0 * M_PI;
            std::swprintf(out, n, L" - %llucore (%ld, %ld) L*:%lf C*:%lf h:%.0lf", t, lx, ly, l, c,
                          h / (2.0 * M_PI) * 360.0);
            break;
        }
        default: break;
    }
    if (size) out[size - 1] = 0;
}

void CMainScreen::UpdateTitle() {
    std::wstring text = baseTitle;
    const unsigned long long threads = g_PoolThreadCount.load();
    int32_t ix = cursorX, iy = cursorY;
    wchar_t readout[kMainTitleMax] = {};
    if (colorPicker != 0 && picture.ControlToImage(&ix, &iy)) {
        // The readout reads the result under the lock, and only inside it.
        CriticalSectionLock hold(sidePanel.lock);
        FormatReadout(readout, kMainTitleMax - 1, &resultImage, ix, iy, colorPicker, threads);
    }
    if (readout[0]) {
        text += readout;
    } else {
        wchar_t core[64];
        std::swprintf(core, 64, L" - %llucore", threads);
        text += core;
    }
    if (documentPath[0]) {
        text += L"  ";
        const wchar_t* name = FgPathFindFileName(documentPath);
        text += name ? name : documentPath;
    }
    if (text.size() > kMainTitleMax - 1) text.resize(kMainTitleMax - 1);
    std::wmemcpy(titleText, text.c_str(), text.size() + 1);
    if (window) PlatSetWindowTitle(window, titleText);
}
