// Crafted MP4 files: sizes, counts and offsets that pass their boxes or the
// file are refused, valid layouts that are easy to mishandle are read.
// Edits start from a small libx264 movie whose media data precedes "moov".
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>

#include "media/codec.h"
#include "media/i420.h"
#include "media/mp4.h"
#include "media/support/media_support.h"
#include "media/support/mp4_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;
using kvmp4::Be16;
using kvmp4::Be32;
using kvmp4::Box;
using kvmp4::GetBe32;
using kvmp4::Mp4File;
using kvmp4::PutBe32;

namespace {

constexpr uint64_t kW = 64, kH = 48, kFrames = 12;

class Mp4Crafted : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kvtest::TempDir("mp4box");
        const std::string movie = kvmp4::CachedMovie(
            "small", "-f lavfi -i testsrc2=size=64x48:rate=30:duration=0.4 -c:v libx264 -pix_fmt yuv420p "
                     "-profile:v baseline -bf 0 -g 4");
        ok_ = !movie.empty();
        if (!ok_) return;
        original_ = new std::string(kvtest::ReadFileBytes(movie));
        frames_ = new std::string(ReadFrames(movie, nullptr));
        yuv_ = new std::string(kvmp4::CachedYuv(movie));
        ok_ = frames_->size() == kW * kH * 3 * kFrames && yuv_->size() == kW * kH * 3 / 2 * kFrames;
    }
    static void TearDownTestSuite() {
        delete original_;
        delete frames_;
        delete yuv_;
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(ok_) << "ffmpeg could not make the movie"; }

    // Every frame of the file through the facade; empty when it is refused.
    static std::string ReadFrames(const std::string& path, codec_file_info* info) {
        codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
        if (!f) return {};
        if (info) *info = f->info;
        std::string all, frame(f->info.width * f->info.height * 3, '\0');
        for (uint64_t k = 0; k < f->info.frame_count; ++k) {
            if (codec_file_read_frame(f, 0, k, 0, frame.data()) != 1) all += "<failed>";
            all += frame;
        }
        codec_file_close(f);
        return all;
    }

    static Mp4File Parsed() {
        Mp4File m;
        EXPECT_TRUE(m.Read(*original_));
        return m;
    }
    static std::string Write(const std::string& bytes) {
        const std::string path = dir_->file("edited.mp4");
        EXPECT_TRUE(kvtest::WriteFileBytes(path, bytes));
        return path;
    }

    static kvtest::TempDir* dir_;
    static bool ok_;
    static std::string* original_;
    static std::string* frames_;
    static std::string* yuv_;
};
kvtest::TempDir* Mp4Crafted::dir_ = nullptr;
bool Mp4Crafted::ok_ = false;
std::string* Mp4Crafted::original_ = nullptr;
std::string* Mp4Crafted::frames_ = nullptr;
std::string* Mp4Crafted::yuv_ = nullptr;

// A chain of `depth` nested boxes of one container type around a leaf.
std::unique_ptr<Box> Chain(const std::string& type, int depth) {
    auto top = std::make_unique<Box>();
    top->type = type;
    top->container = true;
    Box* b = top.get();
    for (int i = 1; i < depth; ++i) b = b->Add(type, "", true);
    b->Add("free", "xxxx");
    return top;
}

// stsc with the given runs of (first chunk, samples per chunk).
std::string SampleToChunk(std::initializer_list<std::pair<uint32_t, uint32_t>> runs) {
    std::string d = Be32(0) + Be32(static_cast<uint32_t>(runs.size()));
    for (const auto& r : runs) d += Be32(r.first) + Be32(r.second) + Be32(1);
    return d;
}

TEST_F(Mp4Crafted, TablesThatPassTheirBoxesOrTheFileAreRefused) {
    const struct {
        const char* what;
        std::function<void(Mp4File&)> edit;
    } cases[] = {
        {"track header of 83 bytes", [](Mp4File& m) { m.Find("tkhd")->data.resize(83); }},
        {"version 1 track header of 95 bytes",
         [](Mp4File& m) {
             std::string& d = m.Find("tkhd")->data;
             d = std::string("\x01\0\0\x03", 4) + std::string(16, '\0') + d.substr(12, 8) + std::string(8, '\0') +
                 d.substr(24, 59);
         }},
        {"more sizes than stsz holds", [](Mp4File& m) { PutBe32(m.Find("stsz")->data, 8, 1000); }},
        {"sample count above the file size",
         [](Mp4File& m) {
             std::string& d = m.Find("stsz")->data;
             d = Be32(0) + Be32(1) + Be32(0x7FFFFFFF);
         }},
        {"no samples", [](Mp4File& m) { m.Find("stsz")->data = Be32(0) + Be32(0) + Be32(0); }},
        {"a sample of 0 bytes", [](Mp4File& m) { PutBe32(m.Find("stsz")->data, 12 + 4 * 3, 0); }},
        {"0 samples per chunk", [](Mp4File& m) { m.Find("stsc")->data = SampleToChunk({{1, 0}}); }},
        {"first chunk 0", [](Mp4File& m) { m.Find("stsc")->data = SampleToChunk({{0, 12}}); }},
        {"first chunks not increasing",
         [](Mp4File& m) { m.Find("stsc")->data = SampleToChunk({{1, 6}, {1, 6}}); }},
        {"runs needing chunks past the table", [](Mp4File& m) { m.Find("stsc")->data = SampleToChunk({{1, 6}}); }},
        {"more runs than stsc holds", [](Mp4File& m) { PutBe32(m.Find("stsc")->data, 4, 2); }},
        {"more chunks than stco holds", [](Mp4File& m) { PutBe32(m.Find("stco")->data, 4, 2); }},
        {"chunk past the file", [](Mp4File& m) { PutBe32(m.Find("stco")->data, 8, 0xFFFFFF00u); }},
        {"no chunk table", [](Mp4File& m) { m.Find("stco")->type = "junk"; }},
        {"timescale 0", [](Mp4File& m) { PutBe32(m.Find("mdhd")->data, 12, 0); }},
        {"more durations than stts holds", [](Mp4File& m) { PutBe32(m.Find("stts")->data, 4, 1000); }},
        {"SPS passing avcC", [](Mp4File& m) { m.Find("avcC")->data.replace(6, 2, Be16(0xFFFF)); }},
        {"PPS passing avcC",
         [](Mp4File& m) {
             std::string& d = m.Find("avcC")->data;
             const size_t pps = 8 + (static_cast<uint8_t>(d[6]) << 8 | static_cast<uint8_t>(d[7])) + 1;
             d.replace(pps, 2, Be16(0x7FFF));
         }},
        {"avcC cut after the SPS",
         [](Mp4File& m) {
             std::string& d = m.Find("avcC")->data;
             d.resize(8 + (static_cast<uint8_t>(d[6]) << 8 | static_cast<uint8_t>(d[7])));
         }},
        {"2-byte NAL lengths", [](Mp4File& m) { m.Find("avcC")->data[4] = static_cast<char>(0xFD); }},
        {"avc1 without avcC first", [](Mp4File& m) { m.Find("avcC")->type = "avcX"; }},
        {"more sync samples than samples", [](Mp4File& m) { PutBe32(m.Find("stss")->data, 4, 13); }},
        {"no sync table", [](Mp4File& m) { m.Find("stss")->type = "junk"; }},
        {"composition offsets that differ",
         [](Mp4File& m) {
             m.Find("stbl")->Add("ctts", Be32(0) + Be32(2) + Be32(6) + Be32(0) + Be32(6) + Be32(512));
         }},
        {"nesting of 33 levels",
         [](Mp4File& m) { m.Find("minf")->children.push_back(Chain("dinf", 28)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Mp4File m = Parsed();
        c.edit(m);
        EXPECT_TRUE(ReadFrames(Write(m.Write()), nullptr).empty());
    }
}

TEST_F(Mp4Crafted, ValidLayoutsAreRead) {
    const struct {
        const char* what;
        std::function<void(Mp4File&)> edit;
    } cases[] = {
        {"version 1 track header",
         [](Mp4File& m) {
             std::string& d = m.Find("tkhd")->data;
             d = std::string("\x01\0\0\x03", 4) + std::string(16, '\0') + d.substr(12, 8) + std::string(8, '\0') +
                 d.substr(24, 60);
         }},
        {"64-bit chunk offsets",
         [](Mp4File& m) {
             Box* co = m.Find("stco");
             const uint32_t offset = GetBe32(co->data, 8);
             co->type = "co64";
             co->data = Be32(0) + Be32(1) + Be32(0) + Be32(offset);
         }},
        {"16-bit sizes in stz2",
         [](Mp4File& m) {
             Box* sizes = m.Find("stsz");
             std::string d = Be32(0) + Be32(16) + Be32(12);
             for (int i = 0; i < 12; ++i) d += Be16(GetBe32(sizes->data, 12 + 4 * i));
             sizes->type = "stz2";
             sizes->data = d;
         }},
        {"one sample per chunk",
         [](Mp4File& m) {
             const uint32_t at = GetBe32(m.Find("stco")->data, 8);
             std::string offsets = Be32(0) + Be32(12);
             uint32_t offset = at;
             for (int i = 0; i < 12; ++i) {
                 offsets += Be32(offset);
                 offset += GetBe32(m.Find("stsz")->data, 12 + 4 * i);
             }
             m.Find("stco")->data = offsets;
             m.Find("stsc")->data = SampleToChunk({{1, 1}});
         }},
        {"sync entries 0 and past the count ignored",
         [](Mp4File& m) {
             std::string& d = m.Find("stss")->data;
             PutBe32(d, 4, GetBe32(d, 4) + 2);
             d += Be32(0) + Be32(9999);
         }},
        {"equal composition offsets",
         [](Mp4File& m) { m.Find("stbl")->Add("ctts", Be32(0) + Be32(1) + Be32(12) + Be32(512)); }},
        {"nesting of 32 levels", [](Mp4File& m) { m.Find("minf")->children.push_back(Chain("dinf", 27)); }},
        {"deep nesting inside user data", [](Mp4File& m) { m.Find("udta")->children.push_back(Chain("udta", 60)); }},
        {"user data whose first child has a bad size",
         [](Mp4File& m) { m.Find("moov")->Add("udta", Be32(3) + "bad!", true); }},
        {"skip and wide holding a track, cprt holding no boxes",
         [](Mp4File& m) {
             // Read as containers, the empty track would be the video track.
             const std::string track = Be32(8 + 92) + "trak" + Be32(92) + "tkhd" + std::string(84, '\0');
             auto& moov = m.Find("moov")->children;
             for (const char* type : {"skip", "wide"}) {
                 auto box = std::make_unique<Box>();
                 box->type = type;
                 box->data = track;
                 moov.insert(moov.begin(), std::move(box));
             }
             m.Find("udta")->Add("cprt", Be32(0x7FFFFFFF) + "(c)");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Mp4File m = Parsed();
        c.edit(m);
        const std::string bytes = m.Write();
        EXPECT_TRUE(ReadFrames(Write(bytes), nullptr) == *frames_);
    }
}

TEST_F(Mp4Crafted, TopLevelSizesFollowTheFile) {
    Mp4File m = Parsed();
    std::string bytes = m.Write();
    const size_t moov = bytes.rfind("moov") - 4;
    // The last box may run to the end of the file with size 0.
    std::string to_end = bytes;
    PutBe32(to_end, moov, 0);
    EXPECT_TRUE(ReadFrames(Write(to_end), nullptr) == *frames_);
    // A box that passes the end of the file is refused.
    EXPECT_TRUE(ReadFrames(Write(bytes.substr(0, bytes.size() - 1)), nullptr).empty());
}

TEST_F(Mp4Crafted, StreamTimesAreSummedIn64Bits) {
    // 12 durations of 10^8 at 3 × 10^9 per second pass 2^32 together.
    Mp4File m = Parsed();
    PutBe32(m.Find("mdhd")->data, 12, 3000000000u);
    m.Find("stts")->data = Be32(0) + Be32(1) + Be32(12) + Be32(100000000);
    codec_file_info info{};
    EXPECT_TRUE(ReadFrames(Write(m.Write()), &info) == *frames_);
    EXPECT_EQ(info.frame_interval, 33333u);
}

// Media data past 2 GB, with a 64-bit "mdat" size: written sparse.
TEST_F(Mp4Crafted, BoxesBeyondTwoGigabytesAreRead) {
    Mp4File m = Parsed();
    std::string bytes = m.Write();
    const size_t free_at = bytes.find("free") - 4, mdat_at = bytes.find("mdat") - 4;
    ASSERT_EQ(mdat_at, free_at + 8);
    const uint64_t media_end = mdat_at + GetBe32(bytes, mdat_at);
    const uint64_t big = 3ull << 30;
    const std::string moov = bytes.substr(media_end);
    std::string head = bytes.substr(0, media_end);
    // "free" and the 32-bit header become one 16-byte header.
    head.replace(free_at, 16, Be32(1) + "mdat" + Be32(static_cast<uint32_t>((big - free_at) >> 32)) +
                                   Be32(static_cast<uint32_t>(big - free_at)));
    const std::string path = dir_->file("big.mp4");
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(pwrite(fd, moov.data(), moov.size(), static_cast<off_t>(big)), static_cast<ssize_t>(moov.size()));
    close(fd);
    EXPECT_TRUE(ReadFrames(path, nullptr) == *frames_);
    unlink(path.c_str());
}

// The track header's size against the decoded picture: wider output is
// stretched, narrower cut, rows below the picture black.
TEST_F(Mp4Crafted, OutputSizeFollowsTheTrackHeader) {
    const struct {
        uint32_t width, height;
    } cases[] = {{48, 48}, {64, 64}, {80, 40}, {100, 48}};
    const uint8_t* y = reinterpret_cast<const uint8_t*>(yuv_->data());
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        Mp4File m = Parsed();
        PutBe32(m.Find("tkhd")->data, 76, c.width << 16);
        PutBe32(m.Find("tkhd")->data, 80, c.height << 16);
        codec_file_info info{};
        const std::string frames = ReadFrames(Write(m.Write()), &info);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        std::string expected;
        for (uint64_t k = 0; k < kFrames; ++k) {
            std::string frame(c.width * c.height * 3, '\0');
            const uint8_t* p = y + k * kW * kH * 3 / 2;
            i420_to_rgb_rows(c.width, c.height, kW, kH, p, p + kW * kH, p + kW * kH * 5 / 4,
                             reinterpret_cast<uint8_t*>(frame.data()), kW, kW / 2);
            expected += frame;
        }
        EXPECT_TRUE(frames == expected);
    }
}

// Sizes packed in 8 and 4 bits (high nibble first) and the offsets that
// follow from them, read from the tables alone.
TEST_F(Mp4Crafted, CompactSizesOf8And4Bits) {
    for (uint32_t field : {8u, 4u}) {
        SCOPED_TRACE(field);
        Mp4File m = Parsed();
        std::string d = Be32(0) + Be32(field) + Be32(12);
        for (uint32_t i = 0; i < 12; i += 2) {
            const uint32_t a = 1 + i, b = 2 + i;  // sizes 1 .. 12
            if (field == 8) {
                d += std::string{static_cast<char>(a), static_cast<char>(b)};
            } else {
                d += static_cast<char>((a << 4) | b);
            }
        }
        m.Find("stsz")->type = "stz2";
        m.Find("stz2")->data = d;
        const std::string bytes = m.Write();
        FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
        Mp4Reader* r = mp4_reader_parse(f);
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(r->sample_count, 12u);
        uint64_t offset = r->samples[0].offset;
        for (uint32_t i = 0; i < 12; ++i) {
            EXPECT_EQ(r->samples[i].size, i + 1);
            EXPECT_EQ(r->samples[i].offset, offset);
            offset += i + 1;
        }
        codec_mp4_close(r);
        fclose(f);
    }
}

// The box parser alone on bytes in memory.
Mp4Box* ParseBytes(const std::string& bytes) {
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    Mp4Box* boxes = mp4_box_parse(f, bytes.size());
    fclose(f);
    return boxes;
}

TEST(Mp4BoxTree, SizesAndNesting) {
    const std::string leaf = Be32(12) + "free" + "abcd";
    const struct {
        const char* what;
        std::string bytes;
        bool parsed;
    } cases[] = {
        {"one leaf", leaf, true},
        {"64-bit size", Be32(1) + "free" + Be32(0) + Be32(20) + "abcd", true},
        {"64-bit size below its header", Be32(1) + "free" + Be32(0) + Be32(15) + "abcd", false},
        {"size 0 runs to the end", Be32(0) + "mdat" + "abcdefgh", true},
        {"size past the file", Be32(13) + "free" + "abcd", false},
        {"size below the header", Be32(7) + "free" + "abcd", false},
        {"size past the parent", Be32(20) + "moov" + Be32(13) + "free" + "abcd", false},
        {"bad size inside user data", Be32(20) + "udta" + Be32(13) + "free" + "abcd", true},
        {"a later bad size ends the level", leaf + Be32(5) + "free", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Mp4Box* boxes = ParseBytes(c.bytes);
        EXPECT_EQ(boxes != nullptr, c.parsed);
        mp4_box_free(boxes);
    }
}

TEST(Mp4BoxTree, PreOrderLookup) {
    // moov { trak { tkhd } udta { tkhd } } tkhd
    const std::string tkhd = Be32(8) + "tkhd";
    const std::string trak = Be32(16) + "trak" + tkhd;
    const std::string udta = Be32(16) + "udta" + tkhd;
    const std::string bytes = Be32(8 + 32) + "moov" + trak + udta + tkhd;
    Mp4Box* boxes = ParseBytes(bytes);
    ASSERT_NE(boxes, nullptr);
    Mp4Box* first = mp4_box_find(boxes, Mp4Type("tkhd"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->offset, 16u);
    EXPECT_EQ(first->parent->type, Mp4Type("trak"));
    EXPECT_EQ(mp4_box_find(boxes->first_child->next->first_child, Mp4Type("tkhd"))->offset, 32u);
    EXPECT_EQ(boxes->next->offset, 40u);
    mp4_box_free(boxes);
}

}  // namespace
