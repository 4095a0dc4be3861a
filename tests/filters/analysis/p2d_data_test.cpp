// The track point table and its file, against fixtures written by Python's
// struct module in both byte orders.
#include "filters/analysis/p2d_data.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "support/testsupport.h"

namespace {

// Writes a track file with Python's struct: byte order '<' or '>', the mark
// as the two bytes given, version, counts, block, the listed points and a
// cut of `drop` bytes from the end.
std::string MakeFixture(const kvtest::TempDir& dir, const std::string& name, const std::string& python) {
    const std::string path = dir.file(name);
    const std::string script = "import struct, sys\nout = open(sys.argv[1], 'wb')\n" + python + "\nout.close()\n";
    std::string ignored;
    EXPECT_EQ(kvtest::RunPython(script, {path}, &ignored), 0) << python;
    return path;
}

std::string Writer(const char* order, const char* mark, int version, unsigned columns, unsigned rows,
                   const std::string& points, int drop = 0, const char* magic = "b'P2D\\x00'") {
    std::string s = "o = '";
    s += order;
    s += "'\ndata = " + std::string(magic) + " + " + mark + " + struct.pack(o + 'HII', " + std::to_string(version) +
         ", " + std::to_string(columns) + ", " + std::to_string(rows) + ")\n";
    s += "data += struct.pack(o + 'di', 0.25, -1) + b'mm'.ljust(12, b'\\x00')\n";
    s += "for p in [" + points + "]:\n    data += struct.pack(o + 'dd', *p)\n";
    s += "out.write(data[:len(data) - " + std::to_string(drop) + "])";
    return s;
}

const char* kLittle = "b'LH'";
const char* kBig = "b'HL'";

struct LoadCase {
    const char* name;
    const char* order;
    const char* mark;
    int version;
    unsigned columns, rows;
    const char* points;
    int drop;
    const char* magic;
    int32_t ok;
    uint32_t error;
};

TEST(P2dData, LoadTable) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3";
    kvtest::TempDir dir("p2d_load");
    const char* two = "(1.5, 2.0), (3.0, -1.0)";
    const LoadCase cases[] = {
        {"le_v1", "<", kLittle, 1, 2, 1, two, 0, "b'P2D\\x00'", 1, 0},
        {"be_v1", ">", kBig, 1, 2, 1, two, 0, "b'P2D\\x00'", 1, 0},
        {"le_v0", "<", kLittle, 0, 2, 1, two, 0, "b'P2D\\x00'", 1, 0},
        {"be_v0", ">", kBig, 0, 2, 1, two, 0, "b'P2D\\x00'", 1, 0},
        {"le_v2", "<", kLittle, 2, 2, 1, two, 0, "b'P2D\\x00'", 0, 4},
        {"be_v2", ">", kBig, 2, 2, 1, two, 0, "b'P2D\\x00'", 0, 4},
        {"magic", "<", kLittle, 1, 2, 1, two, 0, "b'P2E\\x00'", 0, 3},
        {"cut_points", "<", kLittle, 1, 2, 1, two, 8, "b'P2D\\x00'", 0, 1},
        {"cut_points_be", ">", kBig, 1, 2, 1, two, 1, "b'P2D\\x00'", 0, 1},
        {"cut_block", "<", kLittle, 1, 0, 5, "", 4, "b'P2D\\x00'", 0, 1},
        {"cut_header", "<", kLittle, 1, 0, 5, "", 30, "b'P2D\\x00'", 0, 1},
        // Counts no record backs: columns without rows, rows without columns.
        {"zero_by_five", "<", kLittle, 1, 0, 5, "", 0, "b'P2D\\x00'", 0, 1},
        {"five_by_zero", "<", kLittle, 1, 5, 0, "", 0, "b'P2D\\x00'", 0, 1},
        {"max_by_zero", "<", kLittle, 1, 0x7FFFFFFFu, 0, "", 0, "b'P2D\\x00'", 0, 1},
        {"zero_by_20m", ">", kBig, 1, 0, 20000000u, "", 0, "b'P2D\\x00'", 0, 1},
        {"zero_by_zero", "<", kLittle, 1, 0, 0, "", 0, "b'P2D\\x00'", 0, 6},
        // 40-byte files claiming huge tables: refused before any allocation.
        {"huge_u32", "<", kLittle, 1, 0xFFFFFFFFu, 0xFFFFFFFFu, "", 0, "b'P2D\\x00'", 0, 1},
        {"huge_1e12", "<", kLittle, 1, 1000000u, 1000000u, "", 0, "b'P2D\\x00'", 0, 1},
    };
    for (const LoadCase& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string path =
            MakeFixture(dir, std::string(k.name) + ".p2d",
                        Writer(k.order, k.mark, k.version, k.columns, k.rows, k.points, k.drop, k.magic));
        CP2dData t;
        ASSERT_EQ(t.Load(path.c_str()), k.ok);
        EXPECT_EQ(t.error, k.error);
        if (!k.ok) {
            EXPECT_EQ(t.points, nullptr);
            EXPECT_EQ(t.Columns(), 0u);
            EXPECT_EQ(t.Rows(), 0u);
            EXPECT_EQ(g_P2dLastError, static_cast<int32_t>(k.error));
            continue;
        }
        EXPECT_EQ(t.Columns(), k.columns);
        EXPECT_EQ(t.Rows(), k.rows);
        EXPECT_EQ(t.header.mark, kP2dMark);
        EXPECT_EQ(t.header.version, 1);
        EXPECT_EQ(t.info.scale, 0.25);
        EXPECT_EQ(t.info.yDirection, -1);
        EXPECT_EQ(P2dUnitText(t.info), "mm");
        if (k.columns && k.rows) {
            P2dPoint p{};
            ASSERT_EQ(t.GetPoint(0, 0, &p), 1);
            EXPECT_EQ(p.x, 1.5);
            EXPECT_EQ(p.y, 2.0);
            ASSERT_EQ(t.GetPoint(0, 1, &p), 1);
            EXPECT_FALSE(P2dPointPresent(p));  // (3, -1) is absent
        } else {
            EXPECT_EQ(t.points, nullptr);
        }
    }
    CP2dData t;
    EXPECT_EQ(t.Load(dir.file("missing.p2d").c_str()), 0);
    EXPECT_EQ(t.error, 1u);
}

TEST(P2dData, ReadPointsAloneSwapsTheOtherOrder) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3";
    kvtest::TempDir dir("p2d_points");
    const std::string path = MakeFixture(dir, "be.bin", "out.write(struct.pack('>dddd', 1.5, 2.0, -1.0, 7.25))");
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    P2dPoint p[2] = {};
    EXPECT_EQ(P2dReadPoints(f, 2, p, 0x4C48), 1);
    std::fclose(f);
    EXPECT_EQ(p[0].x, 1.5);
    EXPECT_EQ(p[0].y, 2.0);
    EXPECT_EQ(p[1].x, -1.0);
    EXPECT_EQ(p[1].y, 7.25);
    EXPECT_EQ(P2dReadPoints(nullptr, 2, p, kP2dMark), 0);
    EXPECT_EQ(g_P2dLastError, 6);
}

TEST(P2dData, TableOperations) {
    CP2dData t;
    EXPECT_EQ(t.Columns(), 0u);
    EXPECT_EQ(t.Rows(), 0u);
    EXPECT_EQ(t.info.scale, 1.0);
    EXPECT_EQ(t.info.yDirection, 1);
    EXPECT_EQ(P2dUnitText(t.info), "");
    EXPECT_EQ(t.Create(0, 0), 0);
    EXPECT_EQ(t.error, 6u);
    ASSERT_EQ(t.Create(3, 0), 1);
    EXPECT_EQ(t.Columns(), 3u);
    EXPECT_EQ(t.points, nullptr);
    // AddColumn on 2 x 2 keeps the old points and adds an empty column.
    ASSERT_EQ(t.Create(2, 2), 1);
    for (uint32_t r = 0; r < 2; ++r)
        for (uint32_t c = 0; c < 2; ++c) t.SetPoint(r, c, {double(10 * r + c), 1.0});
    EXPECT_EQ(t.AddColumn(), 2);
    P2dPoint p{};
    for (uint32_t r = 0; r < 2; ++r) {
        for (uint32_t c = 0; c < 2; ++c) {
            ASSERT_EQ(t.GetPoint(r, c, &p), 1);
            EXPECT_EQ(p.x, 10 * r + c);
        }
        ASSERT_EQ(t.GetPoint(r, 2, &p), 1);
        EXPECT_EQ(p.x, -1.0);
        EXPECT_EQ(p.y, -1.0);
    }
    // SetRows shrinks and grows.
    ASSERT_EQ(t.Create(2, 5), 1);
    for (uint32_t r = 0; r < 5; ++r) t.SetPoint(r, 1, {double(r), double(r)});
    ASSERT_EQ(t.SetRows(3), 1);
    ASSERT_EQ(t.SetRows(5), 1);
    for (uint32_t r = 0; r < 5; ++r) {
        ASSERT_EQ(t.GetPoint(r, 1, &p), 1);
        EXPECT_EQ(p.x, r < 3 ? double(r) : -1.0);
    }
    // RemoveColumn moves the right-hand columns left.
    ASSERT_EQ(t.Create(3, 2), 1);
    for (uint32_t r = 0; r < 2; ++r)
        for (uint32_t c = 0; c < 3; ++c) t.SetPoint(r, c, {double(10 * r + c), 0});
    EXPECT_EQ(t.RemoveColumn(3), 1);
    EXPECT_EQ(t.error, 6u);
    EXPECT_EQ(t.Columns(), 3u);
    EXPECT_EQ(t.RemoveColumn(1), 1);
    EXPECT_EQ(t.error, 0u);
    ASSERT_EQ(t.Columns(), 2u);
    for (uint32_t r = 0; r < 2; ++r) {
        t.GetPoint(r, 0, &p);
        EXPECT_EQ(p.x, 10 * r);
        t.GetPoint(r, 1, &p);
        EXPECT_EQ(p.x, 10 * r + 2);
    }
    EXPECT_EQ(t.GetPoint(2, 0, &p), 0);
    EXPECT_EQ(t.error, 6u);
    EXPECT_EQ(t.SetPoint(0, 2, p), 0);
    // Presence: non-negative and finite.
    EXPECT_FALSE(P2dPointPresent({5.0, -1.0}));
    EXPECT_FALSE(P2dPointPresent({std::numeric_limits<double>::quiet_NaN(), 1.0}));
    EXPECT_FALSE(P2dPointPresent({std::numeric_limits<double>::infinity(), 1.0}));
    EXPECT_TRUE(P2dPointPresent({0.0, 0.0}));
}

TEST(P2dData, SaveWritesTheLayoutAndKeepsTheOldFileOnFailure) {
    kvtest::TempDir dir("p2d_save");
    CP2dData t;
    const std::string path = dir.file("temp.p2d");
    ASSERT_EQ(t.Create(3, 0), 1);
    EXPECT_EQ(t.Save(path.c_str()), 0);
    EXPECT_EQ(t.error, 5u);
    struct stat st {};
    EXPECT_NE(stat(path.c_str(), &st), 0);
    ASSERT_EQ(t.Create(2, 3), 1);
    t.SetPoint(2, 1, {4.5, 6.5});
    P2dSetUnitText(&t.info, "um");
    ASSERT_EQ(t.Save(path.c_str()), 1);
    const std::string bytes = kvtest::ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 136u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x50\x32\x44\x00\x4C\x48\x01\x00", 8));
    CP2dData back;
    ASSERT_EQ(back.Load(path.c_str()), 1);
    P2dPoint p{};
    back.GetPoint(2, 1, &p);
    EXPECT_EQ(p.x, 4.5);
    EXPECT_EQ(p.y, 6.5);
    EXPECT_EQ(P2dUnitText(back.info), "um");
    // A save into a folder that does not exist fails with error 1; one over
    // a file in a read-only folder fails and leaves the old file whole.
    EXPECT_EQ(t.Save(dir.file("no/such/x.p2d").c_str()), 0);
    EXPECT_EQ(t.error, 1u);
    if (geteuid() != 0) {
        chmod(dir.path().c_str(), 0555);
        t.SetPoint(0, 0, {1, 1});
        EXPECT_EQ(t.Save(path.c_str()), 0);
        EXPECT_EQ(t.error, 1u);
        chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(kvtest::ReadFileBytes(path), bytes);
    }
}

TEST(P2dData, UnitTextCutsAtWholeCharacters) {
    P2dInfo info{};
    P2dSetUnitText(&info, "abcdefghijklmnop");
    EXPECT_EQ(P2dUnitText(info), "abcdefghijk");
    EXPECT_EQ(info.unit[11], 0);
    // "µm" repeated: 2-byte characters; 11 bytes would cut one in half.
    P2dSetUnitText(&info, "\xC2\xB5\xC2\xB5\xC2\xB5\xC2\xB5\xC2\xB5\xC2\xB5");
    EXPECT_EQ(P2dUnitText(info), "\xC2\xB5\xC2\xB5\xC2\xB5\xC2\xB5\xC2\xB5");
    // A 3-byte character at bytes 9-11 is dropped whole.
    P2dSetUnitText(&info, "123456789\xE2\x84\xAB");
    EXPECT_EQ(P2dUnitText(info), "123456789");
    // Twelve bytes without NUL read as at most twelve.
    std::memcpy(info.unit, "ABCDEFGHIJKL", 12);
    EXPECT_EQ(P2dUnitText(info), "ABCDEFGHIJKL");
}

}  // namespace
