#include "filters/analysis/flow_data.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

const double kHeadAngle = 3.14159265358979323846 / 12.0;  // 15 degrees

bool IsZero(const FlowVector& v) { return v.dx == 0.0 && v.dy == 0.0; }

void MappedLine(double x1, double y1, double x2, double y2, OverlayToGlFn toGlX, OverlayToGlFn toGlY,
                const OverlayRect& rect) {
    int32_t ax, ay, bx, by;
    OverlayMapPoint(rect, x1, y1, &ax, &ay);
    OverlayMapPoint(rect, x2, y2, &bx, &by);
    OverlayPen()->Line(toGlX(ax), toGlY(ay), toGlX(bx), toGlY(by));
}

void MappedQuad(double x1, double y1, double x2, double y2, OverlayToGlFn toGlX, OverlayToGlFn toGlY,
                const OverlayRect& rect) {
    int32_t ax, ay, bx, by;
    OverlayMapPoint(rect, x1, y1, &ax, &ay);
    OverlayMapPoint(rect, x2, y2, &bx, &by);
    OverlayPen()->Quad(toGlX(ax), toGlY(ay), toGlX(bx), toGlY(by));
}

}  // namespace

CFlowData::~CFlowData() { Clear(); }

void CFlowData::Clear() {
    std::free(vectors);
    std::free(vectorFlags);
    std::free(frameFlags);
    vectors = nullptr;
    vectorFlags = nullptr;
    frameFlags = nullptr;
    originX = originY = 0;
    step = 0;
    columns = rows = 0;
    frames = 0;
}

int32_t CFlowData::Setup(int32_t x0, int32_t y0, int32_t cellStep, int32_t cellColumns, int32_t cellRows,
                         int32_t frameCount) {
    Clear();
    if (x0 < 0 || y0 < 0 || cellStep < 1 || cellColumns < 1 || cellRows < 1 || frameCount < 1) return 0;
    // Checked in two steps so that no product can wrap 64 bits.
    const uint64_t cells = static_cast<uint64_t>(cellColumns) * static_cast<uint64_t>(cellRows);
    if (cells >= (uint64_t{1} << 32)) return 0;
    const uint64_t count = cells * static_cast<uint64_t>(frameCount);
    if (count >= (uint64_t{1} << 32)) return 0;
    vectors = static_cast<FlowVector*>(std::calloc(count, sizeof(FlowVector)));
    vectorFlags = static_cast<uint8_t*>(std::calloc(count, 1));
    frameFlags = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(frameCount), 1));
    if (!vectors || !vectorFlags || !frameFlags) {
        Clear();
        return 0;
    }
    originX = x0;
    originY = y0;
    step = cellStep;
    columns = cellColumns;
    rows = cellRows;
    frames = frameCount;
    return 1;
}

int32_t CFlowData::SetupCentred(int32_t right, int32_t bottom, int32_t cellStep, int32_t frameCount) {
    Clear();
    if (cellStep < 1 || right < 0 || bottom < 0) return 0;
    const int64_t width = static_cast<int64_t>(right) + 1;
    const int64_t height = static_cast<int64_t>(bottom) + 1;
    if (width < cellStep || height < cellStep) return 0;
    const int64_t c = width / cellStep;
    const int64_t r = height / cellStep;
    if (c < 3 || r < 3) return 0;
    return Setup(static_cast<int32_t>((width - (c - 2) * cellStep) / 2),
                 static_cast<int32_t>((height - (r - 2) * cellStep) / 2), cellStep, static_cast<int32_t>(c - 2),
                 static_cast<int32_t>(r - 2), frameCount);
}

FlowVector* CFlowData::VectorAt(int32_t column, int32_t row, int32_t frame) {
    return const_cast<FlowVector*>(static_cast<const CFlowData*>(this)->VectorAt(column, row, frame));
}

const FlowVector* CFlowData::VectorAt(int32_t column, int32_t row, int32_t frame) const {
    if (!vectors || column < 0 || row < 0 || frame < 0 || column >= columns || row >= rows || frame >= frames)
        return nullptr;
    const size_t index = (static_cast<size_t>(frame) * rows + row) * columns + column;
    return vectors + index;
}

double CFlowData::Angle(double ax, double ay, double bx, double by) {
    if ((ax == 0.0 && ay == 0.0) || (bx == 0.0 && by == 0.0)) return 0.0;
    double cosine = (ax * bx + ay * by) / (std::hypot(ax, ay) * std::hypot(bx, by));
    // Rounding can put the cosine just outside [-1, 1], where acos gives NaN
    // and a reversed neighbour would pass as alike.
    cosine = std::clamp(cosine, -1.0, 1.0);
    return std::acos(cosine);
}

uint8_t CFlowData::OutlierFlags(int32_t column, int32_t row, int32_t frame, double limit, double ratio) const {
    const FlowVector* v = VectorAt(column, row, frame);
    if (!v || IsZero(*v)) return 0;
    static const int kOffsets[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
    double lengthSum = 0.0;
    int count = 0, alike = 0, different = 0;
    for (const auto& o : kOffsets) {
        const FlowVector* w = VectorAt(column + o[0], row + o[1], frame);
        if (!w || IsZero(*w)) continue;
        lengthSum += std::hypot(w->dx, w->dy);
        ++count;
        const double angle = Angle(v->dx, v->dy, w->dx, w->dy);
        if (angle < 0.0 || angle >= limit)
            ++different;
        else
            ++alike;
    }
    uint8_t flags = 0;
    if (count < 3) {
        if (count >= 1 && alike == 0) flags |= kDirectionOutlier;
    } else if (2 * alike < different) {
        flags |= kDirectionOutlier;
    }
    if (count > 0 && std::hypot(v->dx, v->dy) >= lengthSum / count * ratio) flags |= kLengthOutlier;
    return flags;
}

bool CFlowData::ValidateFrame(int32_t frame) {
    frameFlags[frame] = 1;
    bool changed = false;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            const size_t index = (static_cast<size_t>(frame) * rows + r) * columns + c;
            const uint8_t flags = OutlierFlags(c, r, frame, angleLimit, lengthRatio);
            if (vectorFlags[index] != flags) {
                vectorFlags[index] = flags;
                changed = true;
            }
        }
    }
    return changed;
}

void CFlowData::Validate(int32_t frame) {
    if (!vectors || frame < -1 || frame >= frames) return;
    const int32_t first = frame < 0 ? 0 : frame;
    const int32_t last = frame < 0 ? frames - 1 : frame;
    for (int32_t f = first; f <= last; ++f) {
        // The flags depend on the vectors only, so a sweep after one without
        // changes is final; the second sweep confirms it.
        while (ValidateFrame(f)) {
        }
    }
}

void CFlowData::LengthColour(double length, double b, double rgb[3]) const {
    const double base = colourBase, stepSize = colourStep;
    if (length <= base) {
        rgb[0] = 0, rgb[1] = 0, rgb[2] = b;
    } else if (length <= base + stepSize) {
        rgb[0] = 0, rgb[1] = b, rgb[2] = 0;
    } else if (length <= base + 2 * stepSize) {
        rgb[0] = b, rgb[1] = b, rgb[2] = 0;
    } else if (length <= base + 3 * stepSize) {
        rgb[0] = b, rgb[1] = b / 2, rgb[2] = 0;
    } else {
        rgb[0] = b, rgb[1] = 0, rgb[2] = 0;
    }
}

void CFlowData::DrawArrow(double x1, double y1, double x2, double y2, OverlayToGlFn toGlX, OverlayToGlFn toGlY,
                          const OverlayRect& rect) {
    if (x1 == x2 && y1 == y2) return;
    const double h = std::hypot(x2 - x1, y2 - y1) / 2.0;
    const double side = h * std::sin(kHeadAngle);
    double bx1, by1, bx2, by2;
    if (x1 == x2) {
        const double ym = (y1 + y2) / 2.0;
        bx1 = x1 - side, by1 = ym, bx2 = x1 + side, by2 = ym;
    } else if (y1 == y2) {
        const double xm = (x1 + x2) / 2.0;
        bx1 = xm, by1 = y1 + side, bx2 = xm, by2 = y1 - side;
    } else {
        const double t = std::atan2(y1 - y2, x1 - x2);
        bx1 = x2 + h * std::cos(t - kHeadAngle), by1 = y2 + h * std::sin(t - kHeadAngle);
        bx2 = x2 + h * std::cos(t + kHeadAngle), by2 = y2 + h * std::sin(t + kHeadAngle);
    }
    int32_t p[5][2];
    OverlayMapPoint(rect, x1, y1, &p[0][0], &p[0][1]);
    OverlayMapPoint(rect, x2, y2, &p[1][0], &p[1][1]);
    OverlayMapPoint(rect, bx1, by1, &p[2][0], &p[2][1]);
    OverlayMapPoint(rect, bx2, by2, &p[3][0], &p[3][1]);
    COverlayPen* pen = OverlayPen();
    pen->Line(toGlX(p[0][0]), toGlY(p[0][1]), toGlX(p[1][0]), toGlY(p[1][1]));
    pen->Triangle(toGlX(p[1][0]), toGlY(p[1][1]), toGlX(p[2][0]), toGlY(p[2][1]), toGlX(p[3][0]),
                  toGlY(p[3][1]));
}

int32_t CFlowData::DrawGrid(int32_t x0, int32_t y0, int32_t cellStep, int32_t cellColumns, int32_t cellRows,
                            OverlayToGlFn toGlX, OverlayToGlFn toGlY, const OverlayRect& rect, double red,
                            double green, double blue) {
    if (!toGlX || !toGlY || cellStep < 1 || cellColumns < 1 || cellRows < 1) return 0;
    OverlayPen()->Colour(red, green, blue);
    const double left = x0, top = y0;
    const double right = left + static_cast<double>(cellColumns) * cellStep;
    const double bottom = top + static_cast<double>(cellRows) * cellStep;
    for (int32_t i = 0; i <= cellRows; ++i) {
        const double y = top + static_cast<double>(i) * cellStep;
        MappedLine(left, y, right, y, toGlX, toGlY, rect);
    }
    for (int32_t j = 0; j <= cellColumns; ++j) {
        const double x = left + static_cast<double>(j) * cellStep;
        MappedLine(x, top, x, bottom, toGlX, toGlY, rect);
    }
    return 1;
}

int32_t CFlowData::Draw(bool colourCells, OverlayToGlFn toGlX, OverlayToGlFn toGlY, const OverlayRect& rect,
                        int32_t frame, double zoom, double guideRed, double guideGreen, double guideBlue,
                        bool eraseDirection, bool eraseLength) {
    if (!toGlX || !toGlY || !vectors) return 1;
    const bool frameValid = frame >= 0 && frame < frames;
    if (frameValid && !frameFlags[frame]) Validate(frame);
    const uint8_t mask = static_cast<uint8_t>((eraseDirection ? kDirectionOutlier : 0) |
                                              (eraseLength ? kLengthOutlier : 0));
    COverlayPen* pen = OverlayPen();
    auto flagsAt = [&](int32_t c, int32_t r) {
        return vectorFlags[(static_cast<size_t>(frame) * rows + r) * columns + c];
    };
    const bool selected = selectedColumn >= 0 && selectedRow >= 0 && selectedColumn < columns && selectedRow < rows;
    double rgb[3];
    if (colourCells) {
        if (frameValid) {
            for (int32_t r = 0; r < rows; ++r) {
                for (int32_t c = 0; c < columns; ++c) {
                    const FlowVector& v = *VectorAt(c, r, frame);
                    if (IsZero(v) || (flagsAt(c, r) & mask)) continue;
                    LengthColour(std::hypot(v.dx, v.dy), 0.5, rgb);
                    pen->Colour(rgb[0], rgb[1], rgb[2]);
                    MappedQuad(originX + static_cast<double>(c) * step, originY + static_cast<double>(r) * step,
                               originX + static_cast<double>(c + 1) * step,
                               originY + static_cast<double>(r + 1) * step, toGlX, toGlY, rect);
                }
            }
        }
        if (selected) {
            pen->Colour(0.0, 0.5, 0.5);
            MappedQuad(originX + static_cast<double>(selectedColumn) * step,
                       originY + static_cast<double>(selectedRow) * step,
                       originX + static_cast<double>(selectedColumn + 1) * step,
                       originY + static_cast<double>(selectedRow + 1) * step, toGlX, toGlY, rect);
        }
    }
    if (drawGrid) DrawGrid(originX, originY, step, columns, rows, toGlX, toGlY, rect, guideRed, guideGreen, guideBlue);
    if (!frameValid) return 1;
    auto centreX = [&](int32_t c) { return originX + static_cast<double>(c) * step + step / 2; };
    auto centreY = [&](int32_t r) { return originY + static_cast<double>(r) * step + step / 2; };
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            const FlowVector& v = *VectorAt(c, r, frame);
            if (IsZero(v) || (flagsAt(c, r) & mask)) continue;
            LengthColour(std::hypot(v.dx, v.dy), 1.0, rgb);
            pen->Colour(rgb[0], rgb[1], rgb[2]);
            DrawArrow(centreX(c), centreY(r), centreX(c) + zoom * v.dx, centreY(r) + zoom * v.dy, toGlX, toGlY, rect);
        }
    }
    if (selected) {
        const FlowVector& v = *VectorAt(selectedColumn, selectedRow, frame);
        if (!IsZero(v)) {
            pen->Colour(0.0, 1.0, 1.0);
            const double cx = centreX(selectedColumn), cy = centreY(selectedRow);
            DrawArrow(cx, cy, cx + zoom * v.dx, cy + zoom * v.dy, toGlX, toGlY, rect);
        }
    }
    return 1;
}
