// TIFF stills: files from ImageMagick and libtiff's tools read as their
// stored samples say, crafted files with broken structure refused or read
// as far as they hold, and written files checked by tiffinfo, tiffdump and
// ImageMagick.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "media/codec.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

// Every frame of a file through the facade; empty when it does not open.
std::vector<std::string> ReadFrames(const std::string& path, codec_file_info* info = nullptr) {
    codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
    if (!f) return {};
    if (info) *info = f->info;
    std::vector<std::string> frames;
    for (uint64_t i = 0; i < f->info.frame_count; ++i) {
        std::string pixels(f->info.width * f->info.height * f->info.bytes_per_pixel, '\x5a');
        EXPECT_EQ(codec_file_read_frame(f, 0, i, 0, pixels.data()), 1) << path << " frame " << i;
        frames.push_back(pixels);
    }
    codec_file_close(f);
    return frames;
}

// Where two byte strings first differ, for messages.
std::string FirstDifference(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return "byte " + std::to_string(i) + ": " + std::to_string(uint8_t(a[i])) + " vs " +
                   std::to_string(uint8_t(b[i]));
    return "equal";
}

// Makes the ImageMagick and tiffcp fixtures and their expected frames from
// the stored samples (each layout through the reader's value table), and
// lists them in manifest.txt: file, bytes per pixel, frames, expected file.
const char* kFixtureScript = R"(
import os, struct, subprocess, sys
import numpy as np
out = sys.argv[1]
rng = np.random.default_rng(5)
W, H = 37, 23

def run(*args):
    subprocess.run(args, check=True, stderr=subprocess.DEVNULL)

def pnm(name, a, maxval=255):
    path = os.path.join(out, name)
    a = np.asarray(a)
    dt = '>u2' if maxval > 255 else 'u1'
    if a.ndim == 2:
        head = b'P5 %d %d %d\n' % (a.shape[1], a.shape[0], maxval)
    elif a.shape[2] == 3:
        head = b'P6 %d %d %d\n' % (a.shape[1], a.shape[0], maxval)
    else:
        head = b'P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL %d\nTUPLTYPE RGB_ALPHA\nENDHDR\n' % (a.shape[1], a.shape[0], maxval)
    open(path, 'wb').write(head + a.astype(dt).tobytes())
    return path

def strips(path):
    # The samples of the first directory of an uncompressed file, strip after strip.
    b = open(path, 'rb').read()
    o = '<' if b[:2] == b'II' else '>'
    ifd = struct.unpack(o + 'I', b[4:8])[0]
    n = struct.unpack(o + 'H', b[ifd:ifd + 2])[0]
    tags = {}
    for i in range(n):
        tag, typ, cnt, val = struct.unpack(o + 'HHI4s', b[ifd + 2 + 12 * i: ifd + 14 + 12 * i])
        size = {3: 2, 4: 4}.get(typ, 1)
        data = val if size * cnt <= 4 else b[struct.unpack(o + 'I', val)[0]:][:size * cnt]
        tags[tag] = struct.unpack(o + ('H' if size == 2 else 'I' if size == 4 else 'B') * cnt, data[:size * cnt])
    return o, b''.join(b[s:s + c] for s, c in zip(tags[273], tags[279]))

def u16(a): return np.asarray(a).astype('<u2').tobytes()

def cmyk_rgb(c):
    c = c.astype(np.int64)
    k = c[..., 3:4]
    v = c[..., :3] * (255 - k) // 255 + k
    return (255 - np.minimum(v, 255)).astype(np.uint8).tobytes()

def float_u32(f):
    f = np.nan_to_num(f.astype(np.float64), nan=0.0)
    v = (np.clip(f, 0, 1) * 4294967295.0).astype(np.uint64)
    return v.astype('<u4').tobytes()

grey1 = rng.integers(0, 2, (H, W)) * 255
grey4 = rng.integers(0, 16, (H, W)) * 17
grey8 = rng.integers(0, 256, (H, W))
grey16 = rng.integers(0, 65536, (H, W))
rgb8 = rng.integers(0, 256, (H, W, 3))
rgb16 = rng.integers(0, 65536, (H, W, 3))
pal16 = rng.integers(0, 256, (16, 3))[rng.integers(0, 16, (H, W))]
pal200 = rng.integers(0, 256, (200, 3))[rng.integers(0, 200, (H, W))]
pages = [rng.integers(0, 256, (H, W)) for _ in range(3)]
rgba = np.dstack([rgb8, rng.integers(0, 256, (H, W))])

# name, sources, convert arguments, bytes per pixel, predictor applies,
# expected frames (bytes, or a function of the uncompressed file)
cases = [
    ('grey1', [pnm('g1.pgm', grey1)], ['-depth', '1'], 1, False, grey1.astype(np.uint8).tobytes()),
    ('grey4', [pnm('g4.pgm', grey4)], ['-depth', '4'], 1, False, grey4.astype(np.uint8).tobytes()),
    ('grey8', [pnm('g8.pgm', grey8)], ['-depth', '8'], 1, True, grey8.astype(np.uint8).tobytes()),
    ('white8', [pnm('w8.pgm', grey8)], ['-depth', '8', '-define', 'tiff:photometric=min-is-white'], 1, True,
     grey8.astype(np.uint8).tobytes()),
    ('grey16', [pnm('g16.pgm', grey16, 65535)], ['-depth', '16'], 2, True, u16(grey16)),
    ('grey12', [pnm('g12.pgm', grey16, 65535)], ['-depth', '12'], 2, False, 'pairs'),
    ('rgb8', [pnm('c8.ppm', rgb8)], ['-depth', '8'], 3, True, rgb8.astype(np.uint8).tobytes()),
    ('rgb16', [pnm('c16.ppm', rgb16, 65535)], ['-depth', '16'], 6, True, u16(rgb16)),
    ('rgba8', [pnm('a8.pam', rgba)], ['-depth', '8'], 3, True, rgb8.astype(np.uint8).tobytes()),
    ('palette4', [pnm('p4.ppm', pal16)], ['-type', 'Palette'], 3, False, pal16.astype(np.uint8).tobytes()),
    ('palette8', [pnm('p8.ppm', pal200)], ['-type', 'Palette'], 3, False, pal200.astype(np.uint8).tobytes()),
    ('cmyk', [pnm('k8.ppm', rgb8)], ['-colorspace', 'CMYK', '-depth', '8'], 3, True, 'cmyk'),
    ('float', [pnm('f32.pgm', grey16, 65535)], ['-define', 'quantum:format=floating-point', '-depth', '32'], 4,
     False, 'float'),
    ('pages', [pnm('s%d.pgm' % i, p) for i, p in enumerate(pages)], ['-depth', '8'], 1, True,
     b''.join(p.astype(np.uint8).tobytes() for p in pages)),
]

manifest = []
for name, sources, args, bpp, predictor, expect in cases:
    for order in ('ii', 'mm'):
        base = os.path.join(out, '%s_%s' % (name, order))
        endian = ['-endian', 'MSB'] if order == 'mm' else ['-endian', 'LSB']
        if name == 'float':
            # ImageMagick stores floats uncompressed with a predictor tag
            # that libtiff refuses; tiffcp drops it.
            run('convert', *sources, *args, *endian, '-compress', 'lzw', base + '_src.tif')
            run('tiffcp', '-B' if order == 'mm' else '-L', '-c', 'none', base + '_src.tif', base + '_none.tif')
        else:
            run('convert', *sources, *args, *endian, '-compress', 'none', base + '_none.tif')
        o, raw = strips(base + '_none.tif')
        if expect == 'pairs':
            b = np.frombuffer(raw, np.uint8).reshape(H, -1).astype(np.uint16)
            padded = np.zeros((H, (W + 1) // 2 * 3), np.uint16)
            padded[:, :b.shape[1]] = b
            t = padded.reshape(H, -1, 3)
            v = np.dstack([(t[:, :, 0] << 4) | (t[:, :, 1] >> 4), ((t[:, :, 1] & 15) << 8) | t[:, :, 2]])
            data = u16(v.reshape(H, -1)[:, :W] * 16)
        elif expect == 'cmyk':
            data = cmyk_rgb(np.frombuffer(raw, np.uint8).reshape(H, W, 4))
        elif expect == 'float':
            data = float_u32(np.frombuffer(raw, o + 'f4'))
        else:
            data = expect
        open(base + '.expect', 'wb').write(data)
        frames = len(sources)
        variants = [('none', None), ('lzw', 'lzw'), ('packbits', 'packbits')]
        if predictor:
            variants.append(('lzw2', 'lzw:2'))
        for suffix, method in variants:
            path = base + '_' + suffix + '.tif'
            if method:
                run('tiffcp', *(['-B'] if order == 'mm' else ['-L']), '-c', method, base + '_none.tif', path)
            manifest.append('%s %d %d %s' % (path, bpp, frames, base + '.expect'))
open(os.path.join(out, 'manifest.txt'), 'w').write('\n'.join(manifest) + '\n')
)";

// 10-bit samples in 12-bit pairs and 14-bit samples in two bytes, in both
// byte orders, with the frames they read as (v x 64 and v x 4).
const char* kCameraScript = R"(
import struct, sys
import numpy as np
out = sys.argv[1]
rng = np.random.default_rng(7)
w, h = 37, 5
for order, name in (('<', 'ii'), ('>', 'mm')):
    for bits in (10, 14):
        v = rng.integers(0, 1 << bits, (h, w))
        if bits == 10:
            p = np.zeros((h, w + 1), np.uint16)
            p[:, :w] = v
            a, b = p[:, 0::2], p[:, 1::2]
            packed = np.stack([a >> 4, ((a & 15) << 4) | (b >> 8), b & 255], axis=2).astype(np.uint8).reshape(h, -1)
            data = packed[:, :w // 2 * 3 + w % 2 * 2].tobytes()
            expect = v * 64
        else:
            data = v.astype(order + 'u2').tobytes()
            expect = v * 4
        data += b'\0' * (len(data) % 2)
        entries = [(256, 4, w), (257, 4, h), (258, 3, bits), (259, 3, 1), (262, 3, 1), (273, 4, 8),
                   (277, 3, 1), (278, 4, h), (279, 4, len(data))]
        f = (b'II' if order == '<' else b'MM') + struct.pack(order + 'HI', 42, 8 + len(data)) + data
        f += struct.pack(order + 'H', len(entries))
        for tag, typ, val in entries:
            f += struct.pack(order + ('HHIHH' if typ == 3 else 'HHII'), tag, typ, 1, val, *([0] if typ == 3 else []))
        f += struct.pack(order + 'I', 0)
        open('%s/g%d_%s.tif' % (out, bits, name), 'wb').write(f)
        open('%s/g%d_%s.expect' % (out, bits, name), 'wb').write(expect.astype('<u2').tobytes())
)";

class TiffFixtures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new kvtest::TempDir("tiff");
        ASSERT_EQ(kvtest::RunPython(kFixtureScript, {dir_->path()}, nullptr), 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string File(const std::string& name) { return dir_->file(name); }
    static kvtest::TempDir* dir_;
};
kvtest::TempDir* TiffFixtures::dir_ = nullptr;

TEST_F(TiffFixtures, ReadsEveryLayoutOrderAndCompressionAsStored) {
    std::ifstream manifest(File("manifest.txt"));
    std::string path, expect_path;
    uint64_t bpp, frames;
    int checked = 0;
    while (manifest >> path >> bpp >> frames >> expect_path) {
        SCOPED_TRACE(path);
        const std::string expected = kvtest::ReadFileBytes(expect_path);
        codec_file_info info{};
        std::vector<std::string> got = ReadFrames(path, &info);
        ASSERT_EQ(got.size(), frames);
        EXPECT_EQ(info.kind, 1u);
        EXPECT_EQ(info.image_count, 1u);
        EXPECT_EQ(info.bytes_per_pixel, bpp);
        EXPECT_EQ(info.width, 37u);
        EXPECT_EQ(info.height, 23u);
        EXPECT_EQ(info.frame_interval, 0u);
        std::string all;
        for (const std::string& f : got) all += f;
        EXPECT_TRUE(all == expected) << FirstDifference(all, expected);
        ++checked;
    }
    EXPECT_GE(checked, 100);
}


// ---------------------------------------------------------------------------
// Crafted files.

// Builds a TIFF file field by field, in either byte order.
class TiffBytes {
public:
    struct Field {
        uint16_t tag;
        uint16_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL, 2 ASCII, 11 FLOAT
        std::vector<uint32_t> values;
    };

    explicit TiffBytes(bool big = false) : big_(big) {
        bytes_ = big ? "MM" : "II";
        Append16(42);
        Append32(0);
    }

    // Appends data at an even offset; its offset.
    uint32_t Blob(const std::string& data) {
        if (bytes_.size() % 2) bytes_.push_back('\0');
        uint32_t at = static_cast<uint32_t>(bytes_.size());
        bytes_ += data;
        return at;
    }

    // Appends a directory (out-of-line values first); the first one made
    // becomes the file's first directory. Its offset.
    uint32_t Directory(const std::vector<Field>& fields) {
        std::vector<uint32_t> value_offsets;
        for (const Field& f : fields) {
            const uint32_t size = f.type == 3 ? 2 : f.type == 5 ? 8 : f.type == 2 ? 1 : 4;
            if (size * f.values.size() <= 4) {
                value_offsets.push_back(0);
                continue;
            }
            std::string data;
            for (uint32_t v : f.values) {
                if (f.type == 5) {
                    data += Bytes32(v) + Bytes32(1);
                } else {
                    data += size == 2 ? Bytes16(static_cast<uint16_t>(v)) : size == 1 ? std::string(1, char(v)) : Bytes32(v);
                }
            }
            value_offsets.push_back(Blob(data));
        }
        uint32_t at = Blob("");
        Append16(static_cast<uint16_t>(fields.size()));
        for (size_t i = 0; i < fields.size(); ++i) {
            const Field& f = fields[i];
            Append16(f.tag);
            Append16(f.type);
            Append32(static_cast<uint32_t>(f.values.size()));
            if (value_offsets[i]) {
                Append32(value_offsets[i]);
            } else {
                std::string inline_values;
                for (uint32_t v : f.values)
                    inline_values += f.type == 3 ? Bytes16(static_cast<uint16_t>(v)) : f.type == 2 ? std::string(1, char(v)) : Bytes32(v);
                inline_values.resize(4, '\0');
                bytes_ += inline_values;
            }
        }
        Append32(0);
        if (!first_) {
            first_ = at;
            Set32(4, at);
        }
        if (last_) Set32(NextField(last_), at);
        last_ = at;
        return at;
    }

    // Position of a directory's next-directory field.
    uint32_t NextField(uint32_t dir) const {
        uint16_t n;
        memcpy(&n, &bytes_[dir], 2);
        if (big_) n = __builtin_bswap16(n);
        return dir + 2 + 12u * n;
    }
    void Set32(uint32_t at, uint32_t v) { bytes_.replace(at, 4, Bytes32(v)); }
    std::string Bytes16(uint16_t v) const {
        if (big_) v = __builtin_bswap16(v);
        return std::string(reinterpret_cast<const char*>(&v), 2);
    }
    std::string Bytes32(uint32_t v) const {
        if (big_) v = __builtin_bswap32(v);
        return std::string(reinterpret_cast<const char*>(&v), 4);
    }
    std::string& bytes() { return bytes_; }

private:
    void Append16(uint16_t v) { bytes_ += Bytes16(v); }
    void Append32(uint32_t v) { bytes_ += Bytes32(v); }
    bool big_;
    std::string bytes_;
    uint32_t first_ = 0;
    uint32_t last_ = 0;
};

using Field = TiffBytes::Field;

// The fields of an uncompressed page with one strip per `rows` rows.
std::vector<Field> PageFields(uint32_t w, uint32_t h, uint32_t bits, uint32_t photometric,
                              const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts,
                              uint32_t rows, std::vector<Field> extra = {}) {
    std::vector<Field> f = {{256, 4, {w}},        {257, 4, {h}},    {258, 3, {bits}}, {262, 3, {photometric}},
                            {273, 4, offsets},    {278, 4, {rows}}, {279, 4, counts}};
    for (Field& e : extra) {
        bool replaced = false;
        for (Field& g : f)
            if (g.tag == e.tag) {
                g = e;
                replaced = true;
            }
        if (!replaced) f.push_back(e);
    }
    // Tags in ascending order, as the format wants.
    std::sort(f.begin(), f.end(), [](const Field& a, const Field& b) { return a.tag < b.tag; });
    // A field with no values stands for an absent tag.
    f.erase(std::remove_if(f.begin(), f.end(), [](const Field& g) { return g.values.empty(); }), f.end());
    return f;
}

// A grey 8-bit page whose one strip holds `pixels`.
uint32_t GreyPage(TiffBytes& t, uint32_t w, uint32_t h, const std::string& pixels, std::vector<Field> extra = {}) {
    uint32_t data = t.Blob(pixels);
    return t.Directory(PageFields(w, h, 8, 1, {data}, {static_cast<uint32_t>(pixels.size())}, h, std::move(extra)));
}

// Writes LZW codes most significant bit first with the width the decoder
// expects: 9 bits, one more once the next free code reaches 2^width - 1.
class LzwCodes {
public:
    LzwCodes& Clear() {
        Put(256);
        width_ = 9;
        next_ = 258;
        fresh_ = true;
        return *this;
    }
    LzwCodes& Code(unsigned code) {
        Put(code);
        if (!fresh_ && next_ < 4096) {
            ++next_;
            if (next_ == (1u << width_) - 1 && width_ < 12) ++width_;
        }
        fresh_ = false;
        return *this;
    }
    // Literal bytes, clearing before the table fills.
    LzwCodes& Literals(const std::string& bytes) {
        for (unsigned char c : bytes) {
            if (next_ >= 4000) Clear();
            Code(c);
        }
        return *this;
    }
    LzwCodes& End() {
        Put(257);
        return *this;
    }
    std::string bytes() const {
        std::string out = out_;
        if (bits_) out.push_back(static_cast<char>(acc_ << (8 - bits_)));
        return out;
    }

private:
    void Put(unsigned code) {
        for (int b = static_cast<int>(width_) - 1; b >= 0; --b) {
            acc_ = (acc_ << 1) | ((code >> b) & 1);
            if (++bits_ == 8) {
                out_.push_back(static_cast<char>(acc_));
                acc_ = 0;
                bits_ = 0;
            }
        }
    }
    unsigned width_ = 9, next_ = 258;
    bool fresh_ = true;
    unsigned acc_ = 0, bits_ = 0;
    std::string out_;
};

class TiffCrafted : public ::testing::Test {
protected:
    kvtest::TempDir dir_{"tiffcraft"};
    std::string Save(TiffBytes& t, const std::string& name) {
        std::string path = dir_.file(name);
        EXPECT_TRUE(kvtest::WriteFileBytes(path, t.bytes()));
        return path;
    }
};

// The middle one of three directories, changed one way at a time: the
// readable ones are frames, the others are skipped.
TEST_F(TiffCrafted, DirectoriesThatCannotBeReadAreSkipped) {
    const std::string px = kvmedia::Pattern(6 * 4, 1);
    struct Case {
        const char* why;
        std::vector<Field> change;
        uint64_t frames;
    };
    const Case cases[] = {
        {"plain", {}, 3},
        {"rows per strip 0 means the height", {{278, 4, {0}}}, 3},
        {"rows per strip above the height", {{278, 3, {900}}}, 3},
        {"predictor of an uncompressed page ignored", {{317, 3, {2}}}, 3},
        {"resolution with its unit", {{282, 5, {72}}, {283, 5, {72}}, {296, 3, {2}}}, 3},
        {"description starting ImageJ", {{270, 2, {'I', 'm', 'a', 'g', 'e', 'J', '=', 0}}}, 3},
        {"YCbCr", {{262, 3, {6}}}, 2},
        {"JPEG compression", {{259, 3, {7}}}, 2},
        {"deflate compression", {{259, 3, {8}}}, 2},
        {"floating-point predictor", {{259, 3, {5}}, {317, 3, {3}}}, 2},
        {"predictor over 4-bit samples", {{258, 3, {4}}, {259, 3, {5}}, {317, 3, {2}}}, 2},
        {"predictor over 32-bit samples", {{258, 3, {32}}, {259, 3, {5}}, {317, 3, {2}}}, 2},
        {"grey of 6 bits", {{258, 3, {6}}}, 2},
        {"float of 16 bits", {{258, 3, {16}}, {339, 3, {3}}}, 2},
        {"RGB of 2 samples", {{262, 3, {2}}, {258, 3, {8, 8}}, {277, 3, {2}}}, 2},
        {"RGB of unequal bits", {{262, 3, {2}}, {258, 3, {8, 8, 16}}, {277, 3, {3}}}, 2},
        {"RGB of 12 bits", {{262, 3, {2}}, {258, 3, {12, 12, 12}}, {277, 3, {3}}}, 2},
        {"RGB in planes", {{262, 3, {2}}, {258, 3, {8, 8, 8}}, {277, 3, {3}}, {284, 3, {2}}}, 2},
        {"CMYK of 3 samples", {{262, 3, {5}}, {277, 3, {3}}}, 2},
        {"palette of 3 bits", {{262, 3, {3}}, {258, 3, {3}}, {320, 3, std::vector<uint32_t>(24, 0)}}, 2},
        {"palette without its map", {{262, 3, {3}}}, 2},
        {"palette map of the wrong size", {{262, 3, {3}}, {320, 3, std::vector<uint32_t>(3 * 255, 0)}}, 2},
        {"no rows per strip", {{278, 4, {}}}, 2},
        {"no strip byte counts", {{279, 4, {}}}, 2},
        {"no photometric", {{262, 3, {}}}, 2},
        {"strip tables of unequal counts", {{279, 4, {24, 0}}}, 2},
        {"fewer strips than rows need", {{278, 4, {1}}, {273, 4, {8, 8}}, {279, 4, {6, 6}}}, 2},
        {"width 0", {{256, 4, {0}}}, 2},
        {"width above 2^31 - 1", {{256, 4, {0x80000000u}}}, 2},
        {"resolution unit without resolutions", {{296, 3, {2}}}, 2},
        {"another size", {{256, 4, {5}}}, 2},
        {"width as a rational", {{256, 5, {6}}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TiffBytes t;
        GreyPage(t, 6, 4, px);
        uint32_t data = t.Blob(px);
        std::vector<Field> change = c.change;
        // Strip offsets written as 8 stand for the shared data.
        for (Field& f : change)
            if (f.tag == 273)
                for (uint32_t& v : f.values) v = data;
        t.Directory(PageFields(6, 4, 8, 1, {data}, {24}, 4, change));
        GreyPage(t, 6, 4, px);
        codec_file_info info{};
        std::vector<std::string> frames = ReadFrames(Save(t, "three.tif"), &info);
        ASSERT_EQ(frames.size(), c.frames);
        EXPECT_EQ(info.width, 6u);
        EXPECT_EQ(info.bytes_per_pixel, 1u);
        if (c.frames == 3) {
            EXPECT_EQ(frames[1], px);
        }
    }
}

TEST_F(TiffCrafted, CameraPagesOfTenAndFourteenBits) {
    ASSERT_EQ(kvtest::RunPython(kCameraScript, {dir_.path()}, nullptr), 0);
    for (const char* name : {"g10_ii", "g10_mm", "g14_ii", "g14_mm"}) {
        SCOPED_TRACE(name);
        codec_file_info info{};
        std::vector<std::string> got = ReadFrames(dir_.file(std::string(name) + ".tif"), &info);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(info.bytes_per_pixel, 2u);
        const std::string expected = kvtest::ReadFileBytes(dir_.file(std::string(name) + ".expect"));
        EXPECT_TRUE(got[0] == expected) << FirstDifference(got[0], expected);
    }
}

TEST_F(TiffCrafted, ChainsThatLoopOrLeaveTheFileEnd) {
    const std::string px = kvmedia::Pattern(4 * 3, 2);
    {
        TiffBytes t;
        uint32_t first = GreyPage(t, 4, 3, px);
        uint32_t second = GreyPage(t, 4, 3, px);
        t.Set32(t.NextField(second), first);
        EXPECT_EQ(ReadFrames(Save(t, "loop.tif")).size(), 2u);
    }
    {
        TiffBytes t;
        uint32_t only = GreyPage(t, 4, 3, px);
        t.Set32(t.NextField(only), only);
        EXPECT_EQ(ReadFrames(Save(t, "self.tif")).size(), 1u);
    }
    {
        TiffBytes t;
        uint32_t first = GreyPage(t, 4, 3, px);
        t.Set32(t.NextField(first), 0xFFFFFFF0u);
        EXPECT_EQ(ReadFrames(Save(t, "beyond.tif")).size(), 1u);
    }
    {
        // The second directory's entries run past the end of the file.
        TiffBytes t;
        GreyPage(t, 4, 3, px);
        uint32_t second = GreyPage(t, 4, 3, px);
        t.bytes().resize(second + 30);
        EXPECT_EQ(ReadFrames(Save(t, "cut.tif")).size(), 1u);
    }
    {
        // A first directory offset outside the file opens nothing.
        TiffBytes t;
        GreyPage(t, 4, 3, px);
        t.Set32(4, 1u << 30);
        EXPECT_TRUE(ReadFrames(Save(t, "nofirst.tif")).empty());
    }
}

// At most 65,536 directories are walked.
TEST_F(TiffCrafted, ChainOfMoreThan65536Directories) {
    TiffBytes t;
    uint32_t data = t.Blob("\x07\x08");
    std::vector<Field> fields = PageFields(2, 1, 8, 1, {data}, {2}, 1);
    for (int i = 0; i < 65540; ++i) t.Directory(fields);
    codec_file* f = codec_file_open(Wide(Save(t, "many.tif")).c_str(), nullptr, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->info.frame_count, 65536u);
    uint8_t px[2] = {};
    EXPECT_EQ(codec_file_read_frame(f, 0, 65535, 0, px), 1);
    EXPECT_EQ(px[0], 7);
    EXPECT_EQ(px[1], 8);
    codec_file_close(f);
}

// Strips outside the file, or whose byte counts end early, give rows of 0;
// the last strip holds the rows that are left.
TEST_F(TiffCrafted, StripsReadAsFarAsTheFileHoldsThem) {
    const uint32_t w = 5, h = 7;  // rows per strip 2: strips of 2, 2, 2 and 1 rows
    const std::string px = kvmedia::Pattern(w * h, 3);
    for (uint32_t compression : {1u, 5u, 32773u}) {
        SCOPED_TRACE(compression);
        TiffBytes t;
        std::vector<uint32_t> offsets, counts;
        for (uint32_t s = 0; s < 4; ++s) {
            std::string rows = px.substr(s * 2 * w, s == 3 ? w : 2 * w);
            std::string coded = rows;
            if (compression == 5) coded = LzwCodes().Clear().Literals(rows).End().bytes();
            if (compression == 32773) coded = std::string(1, char(rows.size() - 1)) + rows;
            offsets.push_back(t.Blob(coded));
            counts.push_back(static_cast<uint32_t>(coded.size()));
        }
        offsets[1] = 0x7FFFFF00u;  // strip 1 lies outside the file
        counts[2] = compression == 1 ? w + 3 : counts[2] / 2;  // strip 2's count ends in its second row
        t.Directory(PageFields(w, h, 8, 1, offsets, counts, 2, {{259, 3, {compression}}}));
        std::vector<std::string> frames = ReadFrames(Save(t, "strips.tif"));
        ASSERT_EQ(frames.size(), 1u);
        std::string expected = px;
        std::fill(expected.begin() + 2 * w, expected.begin() + 4 * w, '\0');
        std::fill(expected.begin() + 5 * w, expected.begin() + 6 * w, '\0');
        // Half of the LZW strip holds the clear code and the five bytes of
        // row 4; half of the PackBits strip only four of them.
        if (compression == 32773) std::fill(expected.begin() + 4 * w, expected.begin() + 5 * w, '\0');
        EXPECT_TRUE(frames[0] == expected) << FirstDifference(frames[0], expected);
    }
}

// LZW: output stops when the strip's rows are full, at a code above the
// next free one, and at the end of the input; a code equal to the next
// free one repeats the previous string and its first byte.
TEST_F(TiffCrafted, LzwStreamsEndAtTheStripOrAtABadCode) {
    struct Case {
        const char* why;
        std::string stream;
        std::string pixels;  // the 4 x 3 page read
    };
    const std::string long_run = kvmedia::Pattern(500, 9);
    const Case cases[] = {
        {"more data than rows", LzwCodes().Clear().Literals(long_run).End().bytes(), long_run.substr(0, 12)},
        {"no clear code first", LzwCodes().Literals("abcdefghijkl").bytes(), "abcdefghijkl"},
        // Rows are decoded whole or not at all.
        {"code above the next free one", LzwCodes().Clear().Literals("abcdef").Code(300).Literals("ghi").bytes(),
         std::string("abcd") + std::string(8, '\0')},
        {"string code after a clear", LzwCodes().Clear().Code(258).Literals("abc").bytes(), std::string(12, '\0')},
        {"next free code repeats", LzwCodes().Clear().Literals("ab").Code(259).Code(258).Literals("xy").End().bytes(),
         std::string("abbbabxy") + std::string(4, '\0')},
        // 48 bits: the clear code and four literals, and a part of the fifth.
        {"input ends", LzwCodes().Clear().Literals("abcde").bytes().substr(0, 6), std::string("abcd") + std::string(8, '\0')},
        {"clear in the middle", LzwCodes().Clear().Literals("abc").Clear().Literals("defghijkl").End().bytes(),
         "abcdefghijkl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TiffBytes t;
        uint32_t data = t.Blob(c.stream);
        t.Directory(PageFields(4, 3, 8, 1, {data}, {static_cast<uint32_t>(c.stream.size())}, 3, {{259, 3, {5}}}));
        std::vector<std::string> frames = ReadFrames(Save(t, "lzw.tif"));
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], c.pixels);
    }
}

TEST_F(TiffCrafted, SixteenBitOrderAndWhiteIsZero) {
    for (uint32_t photometric : {1u, 0u}) {
        TiffBytes t(true);
        uint32_t data = t.Blob(std::string("\x12\x34\xff\x00", 4));
        t.Directory(PageFields(2, 1, 16, photometric, {data}, {4}, 1));
        codec_file_info info{};
        std::vector<std::string> frames = ReadFrames(Save(t, "mm16.tif"), &info);
        ASSERT_EQ(frames.size(), 1u);
        ASSERT_EQ(info.bytes_per_pixel, 2u);
        uint16_t v[2];
        memcpy(v, frames[0].data(), 4);
        EXPECT_EQ(v[0], photometric ? 0x1234 : 0xEDCB);
        EXPECT_EQ(v[1], photometric ? 0xFF00 : 0x00FF);
    }
}

// Float samples are clamped to 0 .. 1 (NaN as 0) before scaling, and
// before 1 - v on white-is-zero pages.
TEST_F(TiffCrafted, FloatSamplesOutsideTheRange) {
    const float samples[] = {0.5f, -1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(), 0.0f, 1.0f, 0.25f};
    for (uint32_t photometric : {1u, 0u}) {
        TiffBytes t;
        uint32_t data = t.Blob(std::string(reinterpret_cast<const char*>(samples), sizeof samples));
        t.Directory(PageFields(8, 1, 32, photometric, {data}, {sizeof samples}, 1, {{339, 3, {3}}}));
        codec_file_info info{};
        std::vector<std::string> frames = ReadFrames(Save(t, "float.tif"), &info);
        ASSERT_EQ(frames.size(), 1u);
        ASSERT_EQ(info.bytes_per_pixel, 4u);
        uint32_t v[8];
        memcpy(v, frames[0].data(), sizeof v);
        const uint32_t expected[] = {2147483647u, 0, 0xFFFFFFFFu, 0, 0xFFFFFFFFu, 0, 0xFFFFFFFFu, 1073741823u};
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(v[i], photometric ? expected[i] : 0xFFFFFFFFu - expected[i]) << "sample " << i;
    }
}

TEST_F(TiffCrafted, PaletteIndicesThroughTheColourMap) {
    // 4-bit palette: the last index takes the map's last red, green and blue.
    std::vector<uint32_t> map(48);
    for (uint32_t i = 0; i < 48; ++i) map[i] = 0x0101u * (i * 5);
    TiffBytes t;
    uint32_t data = t.Blob(std::string("\x0f\xf0\x12", 3));
    t.Directory(PageFields(5, 1, 4, 3, {data}, {3}, 1, {{320, 3, map}}));
    codec_file_info info{};
    std::vector<std::string> frames = ReadFrames(Save(t, "pal.tif"), &info);
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(info.bytes_per_pixel, 3u);
    auto rgb = [&](uint32_t index) {
        return std::string{char(index * 5), char((16 + index) * 5), char((32 + index) * 5)};
    };
    EXPECT_EQ(frames[0], rgb(0) + rgb(15) + rgb(15) + rgb(0) + rgb(1));
}

// A colour page read into a grey frame: its grey is weighted from the
// 16-bit R, G and B; pages of the first one's size only.
TEST_F(TiffCrafted, ColourPagesInAGreyFile) {
    TiffBytes t;
    uint32_t grey = t.Blob(std::string("\x10\x00\x20\x00", 4));
    t.Directory(PageFields(2, 1, 16, 1, {grey}, {4}, 1));
    const uint16_t rgb16[6] = {1000, 2000, 3000, 5000, 5000, 5000};
    uint32_t colour = t.Blob(std::string(reinterpret_cast<const char*>(rgb16), 12));
    t.Directory(PageFields(2, 1, 16, 2, {colour}, {12}, 1, {{258, 3, {16, 16, 16}}, {277, 3, {3}}}));
    std::vector<std::string> frames = ReadFrames(Save(t, "mixed.tif"));
    ASSERT_EQ(frames.size(), 2u);
    uint16_t v[2];
    memcpy(v, frames[1].data(), 4);
    EXPECT_EQ(v[0], (299 * 1000 + 587 * 2000 + 114 * 3000 + 500) / 1000);
    EXPECT_EQ(v[1], 5000);
}

// ---------------------------------------------------------------------------
// Writing.

struct WriteCase {
    uint64_t bpp;
    const char* im_format;  // ImageMagick's raw reading of the file
    const char* im_args;
};

TEST(TiffWriter, WrittenFilesPassTiffinfoAndReadBackInImageMagick) {
    kvtest::TempDir dir("tiffw");
    const uint64_t w = 13, h = 9;
    const WriteCase cases[] = {
        {1, "gray", "-depth 8"},
        {2, "gray", "-depth 16 -endian LSB"},
        {3, "rgb", "-depth 8"},
        {6, "rgb", "-depth 16 -endian LSB"},
        {4, "gray", "-define quantum:format=floating-point -depth 32 -endian LSB"},
        {12, "rgb", "-define quantum:format=floating-point -depth 32 -endian LSB"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.bpp);
        const std::string path = dir.file("w" + std::to_string(c.bpp) + ".tif");
        const std::string pixels = kvmedia::Pattern(w * h * c.bpp, static_cast<uint32_t>(c.bpp));
        ASSERT_EQ(kvmedia::FacadeWriteStill(path, w, h, c.bpp, pixels.data()), 1);
        std::string warnings;
        EXPECT_EQ(kvtest::RunCommand("tiffinfo '" + path + "' 2>&1 >/dev/null", &warnings), 0);
        EXPECT_EQ(warnings, "");
        std::string im;
        ASSERT_EQ(kvtest::RunCommand(std::string("convert '") + path + "' " + c.im_args + " " + c.im_format + ":-", &im), 0);
        std::vector<std::string> ours = ReadFrames(path);
        ASSERT_EQ(ours.size(), 1u);
        if (c.bpp == 4 || c.bpp == 12) {
            // 32-bit samples travel as floats of v / (2^32 - 1); ImageMagick
            // keeps 16 bits of them.
            ASSERT_EQ(im.size(), pixels.size());
            for (size_t i = 0; i < pixels.size(); i += 4) {
                uint32_t v, back;
                float f;
                memcpy(&v, &pixels[i], 4);
                memcpy(&f, &im[i], 4);
                memcpy(&back, &ours[0][i], 4);
                const double value = v / 4294967295.0;
                ASSERT_NEAR(f, value, 1.0 / 65535) << i;
                ASSERT_NEAR(double(back), double(v), 4294967295.0 * 1.2e-7) << i;
            }
        } else {
            EXPECT_TRUE(im == pixels);
            EXPECT_TRUE(ours[0] == pixels);
        }
    }
}

// Three RGB pages: each directory before its data, each linked to the next,
// the last to none.
TEST(TiffWriter, PagesLieWhereTheLayoutPutsThem) {
    kvtest::TempDir dir("tiffpages");
    const uint64_t w = 7, h = 5;
    const std::string path = dir.file("three.tif");
    codec_file_info info{kCodecKindStill, 1, 3, 3, w, h, 0};
    codec_file* f = codec_file_create(Wide(path).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    std::vector<std::string> pages;
    for (uint32_t i = 0; i < 3; ++i) {
        pages.push_back(kvmedia::Pattern(w * h * 3, 20 + i));
        EXPECT_EQ(codec_file_write_frame(f, 0, 0, pages.back().data()), 1);
    }
    EXPECT_EQ(codec_file_close(f), 1);

    std::string dump;
    ASSERT_EQ(kvtest::RunCommand("tiffdump '" + path + "'", &dump), 0);
    const uint64_t page = 138 + w * h * 3;
    for (uint64_t i = 0; i < 3; ++i) {
        const uint64_t at = 8 + i * page;
        const uint64_t next = i < 2 ? at + page : 0;
        std::ostringstream line;
        line << "Directory " << i << ": offset " << at << " (0x" << std::hex << at << std::dec << ") next " << next;
        EXPECT_NE(dump.find(line.str()), std::string::npos) << line.str() << "\n" << dump;
        std::ostringstream strip;
        strip << "StripOffsets (273) LONG (4) 1<" << at + 138 << ">";
        EXPECT_NE(dump.find(strip.str()), std::string::npos) << strip.str();
    }
    EXPECT_NE(dump.find("BitsPerSample (258) SHORT (3) 3<8 8 8>"), std::string::npos);
    EXPECT_NE(dump.find("SampleFormat (339) SHORT (3) 3<1 1 1>"), std::string::npos);

    std::string im;
    ASSERT_EQ(kvtest::RunCommand("convert '" + path + "' -depth 8 rgb:-", &im), 0);
    EXPECT_TRUE(im == pages[0] + pages[1] + pages[2]);
    std::vector<std::string> ours = ReadFrames(path);
    EXPECT_EQ(ours, pages);
}

// A page that cannot be written whole stays out of the chain: the file
// still holds the pages before it, and nothing points at the broken one.
TEST(TiffWriter, APageCutShortIsNotLinked) {
    kvtest::TempDir dir("tiffcut");
    const std::string path = dir.file("cut.tif");
    const uint64_t w = 64, h = 64;
    const std::string first = kvmedia::Pattern(w * h, 1), second = kvmedia::Pattern(w * h, 2);
    codec_file_info info{kCodecKindStill, 1, 2, 1, w, h, 0};
    codec_file* f = codec_file_create(Wide(path).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(codec_file_write_frame(f, 0, 0, first.data()), 1);

    // The file may not grow past the first page and half of the second.
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old_limit;
    limit.rlim_cur = 8 + 2 * (126 + w * h) - w * h / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    // The frame is larger than the stream's buffer, so it goes out at once.
    const int32_t written = codec_file_write_frame(f, 0, 0, second.data());
    // What the stream still buffers of the cut page may fail the close too.
    codec_file_close(f);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(written, 0);

    std::string warnings;
    EXPECT_EQ(kvtest::RunCommand("tiffinfo '" + path + "' 2>&1 >/dev/null", &warnings), 0);
    EXPECT_EQ(warnings, "");
    std::vector<std::string> ours = ReadFrames(path);
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_TRUE(ours[0] == first);
}

TEST(TiffWriter, SizesBeyondThirtyTwoBitsAreRefused) {
    kvtest::TempDir dir("tiffbig");
    // 65536 x 65536 x 1 is one byte more than a strip count can hold.
    codec_file_info info{kCodecKindStill, 1, 1, 1, 65536, 65536, 0};
    codec_file* f = codec_file_create(Wide(dir.file("big.tif")).c_str(), &info, nullptr);
    ASSERT_NE(f, nullptr);
    uint8_t px = 0;
    EXPECT_EQ(codec_file_write_frame(f, 0, 0, &px), 0);
    EXPECT_EQ(codec_file_close(f), 1);
}

}  // namespace
