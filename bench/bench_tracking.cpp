// Tracking runs through the controller on a 1920 x 1080 RGB movie held in
// memory, with 1, 10 and 100 targets: colour discs (41 x 41 boxes) and
// textured patches (33 x 33 templates in 97 x 97 boxes, rotation off and on),
// beside OpenCV doing the same per box (cvtColor to HSV, inRange, flood-fill
// hole fill, connectedComponentsWithStats and the nearest centroid;
// matchTemplate TM_SQDIFF, minMaxLoc and a parabolic peak, 36 templates for
// rotation). Prints frames per second, the cost per target and the ratios.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "../tests/filters/analysis/support/track_host.h"
#include "filters/analysis/track_hsv.h"
#include "filters/analysis/track_pat.h"
#include "image/pool.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kW = 1920, kH = 1080;

double Seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A smooth texture that moves one pixel right and down a frame.
uint8_t Texture(int32_t x, int32_t y, int c) {
    const double v = 128 + 50 * std::sin(x * 0.21 + c) * std::cos(y * 0.17) + 40 * std::sin((x + y) * 0.09 + 2 * c);
    return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
}

// Target centres on a 10 x 10 grid.
void Centre(int32_t i, double* x, double* y) {
    *x = 96 + (i % 10) * 180;
    *y = 60 + (i / 10) * 96;
}

void MakeMovie(TrackHost& host, int32_t frames, bool discs) {
    std::vector<uint8_t> base(static_cast<size_t>(kW + frames) * (kH + frames) * 3);
    if (!discs)
        for (int32_t y = 0; y < kH + frames; ++y)
            for (int32_t x = 0; x < kW + frames; ++x)
                for (int c = 0; c < 3; ++c) base[(static_cast<size_t>(y) * (kW + frames) + x) * 3 + c] = Texture(x, y, c);
    for (int32_t t = 0; t < frames; ++t) {
        CImgBuff* f = new CImgBuff;
        f->buffer->Create(kW, kH, kImgRgb8);
        uint8_t* p = f->buffer->pixels;
        if (discs) {
            for (size_t i = 0; i < static_cast<size_t>(kW) * kH * 3; ++i) p[i] = static_cast<uint8_t>(100 + (i * 2654435761u >> 28));
            for (int32_t i = 0; i < 100; ++i) {
                double cx, cy;
                Centre(i, &cx, &cy);
                cx += 0.7 * t, cy += 0.3 * t;
                for (int32_t y = static_cast<int32_t>(cy) - 11; y <= cy + 11; ++y)
                    for (int32_t x = static_cast<int32_t>(cx) - 11; x <= cx + 11; ++x)
                        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 100) f->SetPixelRgb8(x, y, 255, 0, 0);
            }
        } else {
            // Frame t shows the texture moved by (t, t).
            for (int32_t y = 0; y < kH; ++y)
                std::memcpy(p + static_cast<size_t>(y) * kW * 3,
                            &base[(static_cast<size_t>(y + frames - t) * (kW + frames) + (frames - t)) * 3], kW * 3);
        }
        host.AddFrame(f);
    }
}

double RunColour(TrackHost& host, int32_t targets) {
    while (host.RemoveTarget(0)) {
    }
    host.table.Reset();
    CImgBuff one;
    one.buffer->Create(1, 1, kImgRgb8);
    one.SetPixelRgb8(0, 0, 255, 0, 0);
    uint16_t h, s, v;
    one.buffer->GetPixelHsv16(0, 0, &h, &s, &v);
    for (int32_t i = 0; i < targets; ++i) {
        CTrackHSV* t = new CTrackHSV;
        t->range = {h, 0, s, s, v, v};
        t->w = t->h = 41;
        double cx, cy;
        Centre(i, &cx, &cy);
        TrackCentreBox(cx, cy, 41, 41, &t->x, &t->y);
        host.AddTarget(t);
    }
    host.SizeTable();
    return Seconds([&] { host.TrackByScene(1, 0, 0); });
}

double RunPattern(TrackHost& host, int32_t targets, int32_t rotation) {
    while (host.RemoveTarget(0)) {
    }
    host.table.Reset();
    host.options[kTrackOptRotation] = rotation;
    host.GoToFrame(0);
    for (int32_t i = 0; i < targets; ++i) {
        CTrackPAT* t = new CTrackPAT;
        double cx, cy;
        Centre(i, &cx, &cy);
        t->p = 16;
        t->searchHalfW = t->searchHalfH = 48;
        t->w = t->h = 97;
        t->x = static_cast<int32_t>(cx) - 48, t->y = static_cast<int32_t>(cy) - 48;
        host.AddTarget(t);
        t->CutTemplate(static_cast<int32_t>(cx), static_cast<int32_t>(cy));
    }
    host.SizeTable();
    return Seconds([&] { host.TrackByScene(1, 0, 0); });
}

#ifdef KV_HAVE_OPENCV
cv::Mat Wrap(const CImgBuff& img) { return cv::Mat(img.buffer->height, img.buffer->width, CV_8UC3, img.buffer->pixels); }

// OpenCV on one box of each frame: seconds per box.
double PeerColour(TrackHost& host) {
    const int32_t n = static_cast<int32_t>(host.frames.size());
    double sink = 0;
    const double t = Seconds([&] {
        for (int32_t f = 0; f < n; ++f) {
            double cx, cy;
            Centre(0, &cx, &cy);
            cv::Mat box = Wrap(*host.frames[f])(cv::Rect(static_cast<int>(cx + 0.7 * f) - 20, static_cast<int>(cy + 0.3 * f) - 20, 41, 41));
            cv::Mat hsv, mask, labels, stats, centroids;
            cv::cvtColor(box, hsv, cv::COLOR_RGB2HSV_FULL);
            cv::inRange(hsv, cv::Scalar(0, 250, 250), cv::Scalar(0, 255, 255), mask);
            cv::Mat flood = mask.clone();
            cv::Mat border;
            cv::copyMakeBorder(flood, border, 1, 1, 1, 1, cv::BORDER_CONSTANT, 0);
            cv::floodFill(border, cv::Point(0, 0), 255);
            cv::Mat holes = ~border(cv::Rect(1, 1, 41, 41));
            mask |= holes;
            const int count = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8);
            double best = 1e300;
            for (int i = 1; i < count; ++i) {
                const double dx = centroids.at<double>(i, 0) - 20.5, dy = centroids.at<double>(i, 1) - 20.5;
                best = std::min(best, dx * dx + dy * dy);
            }
            sink += best;
        }
    });
    if (sink < 0) std::printf("%f", sink);
    return t / n;
}

double PeerPattern(TrackHost& host, int32_t templates) {
    const int32_t n = static_cast<int32_t>(host.frames.size());
    double cx, cy;
    Centre(0, &cx, &cy);
    cv::Mat first = Wrap(*host.frames[0]);
    std::vector<cv::Mat> tmpl;
    for (int32_t k = 0; k < templates; ++k) {
        cv::Mat rot = cv::getRotationMatrix2D(cv::Point2f(static_cast<float>(cx), static_cast<float>(cy)), 10.0 * k, 1.0);
        cv::Mat turned;
        cv::warpAffine(first(cv::Rect(static_cast<int>(cx) - 30, static_cast<int>(cy) - 30, 61, 61)), turned,
                       cv::getRotationMatrix2D(cv::Point2f(30, 30), 10.0 * k, 1.0), cv::Size(61, 61));
        tmpl.push_back(turned(cv::Rect(14, 14, 33, 33)).clone());
        (void)rot;
    }
    double sink = 0;
    const double t = Seconds([&] {
        for (int32_t f = 0; f < n; ++f) {
            cv::Mat box = Wrap(*host.frames[f])(cv::Rect(static_cast<int>(cx) + f - 48, static_cast<int>(cy) + f - 48, 97, 97));
            for (const cv::Mat& m : tmpl) {
                cv::Mat res;
                cv::matchTemplate(box, m, res, cv::TM_SQDIFF);
                double lo;
                cv::Point at;
                cv::minMaxLoc(res, &lo, nullptr, &at, nullptr);
                if (at.x > 0 && at.x < res.cols - 1) {
                    const float a = res.at<float>(at.y, at.x - 1), b = res.at<float>(at.y, at.x), c = res.at<float>(at.y, at.x + 1);
                    sink += 0.5 * (a - c) / (a - 2 * b + c + 1e-9);
                }
                if (at.y > 0 && at.y < res.rows - 1) {
                    const float a = res.at<float>(at.y - 1, at.x), b = res.at<float>(at.y, at.x), c = res.at<float>(at.y + 1, at.x);
                    sink += 0.5 * (a - c) / (a - 2 * b + c + 1e-9);
                }
            }
        }
    });
    if (sink == 12345.678) std::printf("%f", sink);
    return t / n;
}
#endif

}  // namespace

int main() {
    PoolStart();
    {
        TrackHost host;
        MakeMovie(host, 100, true);
        CImgBuff copy;
        const double copies = Seconds([&] {
            for (auto& f : host.frames) copy.CopyFrom(f.get());
        }) / 100;
        double t[3];
        const int32_t counts[3] = {1, 10, 100};
        for (int i = 0; i < 3; ++i) {
            t[i] = RunColour(host, counts[i]);
            std::printf("colour, %3d targets: %.1f frames/s\n", counts[i], 100 / t[i]);
        }
        const double perTarget = (t[2] - t[0]) / 99 / 100;
        std::printf("colour: per target and frame %.1f us; frame copy %.1f us; one target %.2f x the copy\n", perTarget * 1e6,
                    copies * 1e6, t[0] / 100 / copies);
#ifdef KV_HAVE_OPENCV
        const double peer = PeerColour(host);
        std::printf("colour: OpenCV per box %.1f us; ratio ours/OpenCV %.2f\n", peer * 1e6, perTarget / peer);
#endif
    }
    {
        TrackHost host;
        MakeMovie(host, 100, false);
        for (int32_t rotation = 0; rotation <= 1; ++rotation) {
            // With rotation 36 templates a target: fewer frames.
            host.last = rotation ? 9 : -1;
            const int32_t frames = rotation ? 10 : 100;
            double t[3];
            const int32_t counts[3] = {1, 10, 100};
            for (int i = 0; i < 3; ++i) {
                t[i] = RunPattern(host, counts[i], rotation);
                std::printf("pattern%s, %3d targets: %.1f frames/s\n", rotation ? " (rotation)" : "", counts[i], frames / t[i]);
            }
            const double perTarget = (t[2] - t[0]) / 99 / frames;
            std::printf("pattern%s: per target and frame %.1f us\n", rotation ? " (rotation)" : "", perTarget * 1e6);
#ifdef KV_HAVE_OPENCV
            const double peer = PeerPattern(host, rotation ? 36 : 1);
            std::printf("pattern%s: OpenCV per box %.1f us; ratio ours/OpenCV %.2f\n", rotation ? " (rotation)" : "",
                        peer * 1e6, perTarget / peer);
#endif
        }
    }
    PoolStop();
    return 0;
}
