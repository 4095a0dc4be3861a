// Every conversion between the nine pixel formats and every typed getter and
// setter on every format, against an independent Python model of the rules
// (tests/image/oracle/pixel_rules.py).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "image/imgbuff.h"
#include "support/image_test_util.h"
#include "support/testsupport.h"

namespace {

struct Case {
    char kind;  // C conversion, G getter, S setter
    int format;
    int target;        // conversions
    std::string name;  // getters and setters
    std::vector<double> in;
    std::vector<double> out;
    std::string line;
};

std::vector<double> ParseValues(std::istringstream& s, bool stopAtBar) {
    std::vector<double> v;
    std::string tok;
    while (s >> tok) {
        if (stopAtBar && tok == "|") break;
        v.push_back(std::strtod(tok.c_str(), nullptr));
    }
    return v;
}

const std::vector<Case>& OracleCases() {
    static std::vector<Case> cases = [] {
        std::vector<Case> all;
        std::string out;
        int rc = kvtest::RunPython(kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/pixel_rules.py"),
                                   {}, &out);
        if (rc != 0) return all;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream s(line);
            Case c{};
            c.line = line;
            s >> c.kind >> c.format;
            if (c.kind == 'C') {
                s >> c.target;
            } else {
                s >> c.name;
            }
            c.in = ParseValues(s, true);
            c.out = ParseValues(s, false);
            all.push_back(c);
        }
        return all;
    }();
    return cases;
}

// Integers must match exactly; doubles (XYZ, L*a*b*, ...) to rounding.
void ExpectValues(const std::vector<double>& got, const std::vector<double>& want, const std::string& line) {
    ASSERT_EQ(got.size(), want.size()) << line;
    for (size_t i = 0; i < want.size(); ++i) {
        if (std::isnan(want[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << line << " [" << i << "] got " << got[i];
        } else if (std::isinf(want[i])) {
            EXPECT_EQ(got[i], want[i]) << line << " [" << i << "]";
        } else {
            EXPECT_NEAR(got[i], want[i], 1e-9 * std::max(1.0, std::fabs(want[i]))) << line << " [" << i << "]";
        }
    }
}

std::vector<double> Get(const C_ImgBuff& b, const std::string& name) {
    if (name == "gray8") {
        uint8_t v;
        b.GetPixelGray8(0, 0, &v);
        return {double(v)};
    }
    if (name == "gray16") {
        uint16_t v;
        b.GetPixelGray16(0, 0, &v);
        return {double(v)};
    }
    if (name == "gray32") {
        uint32_t v;
        b.GetPixelGray32(0, 0, &v);
        return {double(v)};
    }
    if (name == "graydouble") {
        double v;
        b.GetPixelGrayDouble(0, 0, &v);
        return {v};
    }
    if (name == "rgb8") {
        uint8_t c[3];
        b.GetPixelRgb8(0, 0, &c[0], &c[1], &c[2]);
        return {double(c[0]), double(c[1]), double(c[2])};
    }
    if (name == "rgb16") {
        uint16_t c[3];
        b.GetPixelRgb16(0, 0, &c[0], &c[1], &c[2]);
        return {double(c[0]), double(c[1]), double(c[2])};
    }
    if (name == "rgb32") {
        uint32_t c[3];
        b.GetPixelRgb32(0, 0, &c[0], &c[1], &c[2]);
        return {double(c[0]), double(c[1]), double(c[2])};
    }
    if (name == "hsv16") {
        uint16_t c[3];
        b.GetPixelHsv16(0, 0, &c[0], &c[1], &c[2]);
        return {double(c[0]), double(c[1]), double(c[2])};
    }
    if (name == "cmyk8") {
        uint8_t c[4];
        b.GetPixelCmyk8(0, 0, &c[0], &c[1], &c[2], &c[3]);
        return {double(c[0]), double(c[1]), double(c[2]), double(c[3])};
    }
    double c[3] = {};
    if (name == "rgbdouble") b.GetPixelRgbDouble(0, 0, &c[0], &c[1], &c[2]);
    if (name == "xyz") b.GetPixelXyz(0, 0, &c[0], &c[1], &c[2]);
    if (name == "lab") b.GetPixelLab(0, 0, &c[0], &c[1], &c[2]);
    if (name == "lch") b.GetPixelLch(0, 0, &c[0], &c[1], &c[2]);
    return {c[0], c[1], c[2]};
}

int32_t Set(C_ImgBuff& b, const std::string& name, const std::vector<double>& v) {
    auto u = [&](size_t i) { return static_cast<uint32_t>(v[i]); };
    if (name == "gray8") return b.SetPixelGray8(0, 0, uint8_t(u(0)));
    if (name == "gray16") return b.SetPixelGray16(0, 0, uint16_t(u(0)));
    if (name == "gray32") return b.SetPixelGray32(0, 0, u(0));
    if (name == "rgb8") return b.SetPixelRgb8(0, 0, uint8_t(u(0)), uint8_t(u(1)), uint8_t(u(2)));
    if (name == "rgb16") return b.SetPixelRgb16(0, 0, uint16_t(u(0)), uint16_t(u(1)), uint16_t(u(2)));
    if (name == "rgb32") return b.SetPixelRgb32(0, 0, u(0), u(1), u(2));
    if (name == "hsv16") return b.SetPixelHsv16(0, 0, uint16_t(u(0)), uint16_t(u(1)), uint16_t(u(2)));
    if (name == "cmyk8") return b.SetPixelCmyk8(0, 0, uint8_t(u(0)), uint8_t(u(1)), uint8_t(u(2)), uint8_t(u(3)));
    if (name == "rgbdouble") return b.SetPixelRgbDouble(0, 0, v[0], v[1], v[2]);
    if (name == "xyz") return b.SetPixelXyz(0, 0, v[0], v[1], v[2]);
    if (name == "lab") return b.SetPixelLab(0, 0, v[0], v[1], v[2]);
    if (name == "lch") return b.SetPixelLch(0, 0, v[0], v[1], v[2]);
    return -1;
}

TEST(PixelRules, MatchTheIndependentModel) {
    const std::vector<Case>& cases = OracleCases();
    ASSERT_GT(cases.size(), 1000u) << "the Python model did not run";
    std::map<char, int> seen;
    std::map<std::pair<int, int>, int> pairs;
    for (const Case& c : cases) {
        C_ImgBuff b;
        ASSERT_EQ(b.Create(1, 1, c.format), 1);
        if (c.kind == 'C') {
            imgtest::PutRaw(b, 0, 0, c.in);
            ASSERT_EQ(b.ConvertFormat(static_cast<uint32_t>(c.target)), 1) << c.line;
            ASSERT_EQ(b.format, c.target);
            ExpectValues(imgtest::GetRaw(b, 0, 0), c.out, c.line);
            ++pairs[{c.format, c.target}];
        } else if (c.kind == 'G') {
            imgtest::PutRaw(b, 0, 0, c.in);
            ExpectValues(Get(b, c.name), c.out, c.line);
        } else {
            ASSERT_EQ(Set(b, c.name, c.in), 1) << c.line;
            ExpectValues(imgtest::GetRaw(b, 0, 0), c.out, c.line);
        }
        ++seen[c.kind];
    }
    EXPECT_EQ(pairs.size(), 81u);
    EXPECT_GT(seen['G'], 0);
    EXPECT_GT(seen['S'], 0);
}

// The worked values of the format rules, literally, so that the model and
// the code cannot share a misreading.
TEST(PixelRules, WorkedValues) {
    struct {
        int32_t from, to;
        std::vector<double> in, out;
    } conversions[] = {
        {kImgRgb8, kImgGray8, {200, 100, 50}, {124}},
        {kImgGray8, kImgGray16, {200}, {51400}},
        {kImgGray16, kImgGray8, {0xC8C8}, {200}},
    };
    for (const auto& c : conversions) {
        C_ImgBuff b;
        ASSERT_EQ(b.Create(1, 1, c.from), 1);
        imgtest::PutRaw(b, 0, 0, c.in);
        ASSERT_EQ(b.ConvertFormat(uint32_t(c.to)), 1);
        EXPECT_EQ(imgtest::GetRaw(b, 0, 0), c.out) << c.from << " -> " << c.to;
    }
    struct {
        int32_t format;
        std::vector<double> raw;
        std::string getter;
        std::vector<double> want;
    } reads[] = {
        {kImgRgb16, {65535, 0, 0}, "gray8", {76}},
        {kImgRgb8, {255, 0, 0}, "gray16", {19595}},
        {kImgCmyk8, {0, 0, 0, 0}, "gray16", {65535}},
        {kImgCmyk8, {200, 0, 0, 100}, "gray16", {28013}},
        {kImgGray16, {0x8000}, "cmyk8", {0, 0, 0, 127}},
    };
    for (const auto& r : reads) {
        C_ImgBuff b;
        ASSERT_EQ(b.Create(1, 1, r.format), 1);
        imgtest::PutRaw(b, 0, 0, r.raw);
        EXPECT_EQ(Get(b, r.getter), r.want) << r.format << " " << r.getter;
    }
    struct {
        int32_t format;
        std::string setter;
        std::vector<double> in, want;
    } writes[] = {
        {kImgHsv16, "gray8", {128}, {0, 0, 32896}},
        {kImgCmyk8, "gray8", {128}, {0, 0, 0, 127}},
        {kImgRgb8, "rgbdouble", {1.5, -0.2, 0.5}, {255, 0, 127}},
        {kImgCmyk8, "rgb8", {10, 200, 30}, {190, 0, 170, 55}},
    };
    for (const auto& w : writes) {
        C_ImgBuff b;
        ASSERT_EQ(b.Create(1, 1, w.format), 1);
        ASSERT_EQ(Set(b, w.setter, w.in), 1);
        EXPECT_EQ(imgtest::GetRaw(b, 0, 0), w.want) << w.format << " " << w.setter;
    }
    C_ImgBuff b;
    ASSERT_EQ(b.Create(3, 2, kImgGray8), 1);
    EXPECT_EQ(b.SetPixelGray8(3, 0, 1), 0);  // x = width
    C_ImgBuff empty;
    uint8_t v;
    EXPECT_EQ(empty.GetPixelGray8(0, 0, &v), 0);
    EXPECT_EQ(empty.SetPixelRgb8(0, 0, 1, 2, 3), 0);
}

}  // namespace
