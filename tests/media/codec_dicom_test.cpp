// DICOM stills: files from dcmtk's converters read as dcm2pnm decodes them,
// files of a small test writer (each accepted by dcmdump) read as written,
// and the files the reader must refuse.
#include <gtest/gtest.h>

#include <fstream>

#include "media/codec.h"
#include "media/support/media_support.h"
#include "support/testsupport.h"

using kvmedia::Wide;

namespace {

// Writes the fixtures and manifest.txt: one line per file with its name, the
// bytes per pixel and frame count it opens with (0 0 for a refused file)
// and whether dcmdump takes it without error (1, or - when not asked).
// Expected frames go to <name>.expect.
const char* kFixtureScript = R"(
import os, struct, subprocess, sys
import numpy as np
out = sys.argv[1]
rng = np.random.default_rng(11)
LONG = {b'OB', b'OD', b'OF', b'OL', b'OV', b'OW', b'SQ', b'SV', b'UC', b'UN', b'UR', b'UT', b'UV'}
manifest = []

def el(g, e, vr, value=b'', undefined=False):
    if len(value) % 2:
        value += b'\0' if vr in (b'UI', b'OB', b'UN') else b' '
    n = 0xFFFFFFFF if undefined else len(value)
    if vr in LONG:
        return struct.pack('<HH2sHI', g, e, vr, 0, n) + value
    return struct.pack('<HH2sH', g, e, vr, n) + value

def us(g, e, v):
    return el(g, e, b'US', struct.pack('<H', v))

def item(body):
    return struct.pack('<HHI', 0xFFFE, 0xE000, 0xFFFFFFFF) + body + struct.pack('<HHI', 0xFFFE, 0xE00D, 0)

SEQ_END = struct.pack('<HHI', 0xFFFE, 0xE0DD, 0)

def meta(ts=b'1.2.840.10008.1.2.1'):
    body = (el(2, 1, b'OB', b'\0\1') + el(2, 2, b'UI', b'1.2.840.10008.5.1.4.1.1.7') + el(2, 3, b'UI', b'1.2.3.4') +
            el(2, 0x10, b'UI', ts) + el(2, 0x12, b'UI', b'1.2.3.5'))
    return b'\0' * 128 + b'DICM' + el(2, 0, b'UL', struct.pack('<I', len(body))) + body

def image(rows, cols, ba, bs, spp, pixels, frames=1, planar=None, between=b'', rows_again=None):
    ds = el(8, 0x16, b'UI', b'1.2.840.10008.5.1.4.1.1.7') + el(8, 0x18, b'UI', b'1.2.3.4') + el(0x10, 0x10, b'PN', b'Test')
    ds += us(0x28, 2, spp) + el(0x28, 4, b'CS', b'MONOCHROME2' if spp == 1 else b'RGB')
    if planar is not None:
        ds += us(0x28, 6, planar)
    if frames > 1:
        ds += el(0x28, 8, b'IS', str(frames).encode())
    ds += us(0x28, 0x10, rows)
    if rows_again is not None:
        ds += us(0x28, 0x10, rows_again)
    ds += us(0x28, 0x11, cols) + us(0x28, 0x100, ba) + us(0x28, 0x101, bs) + us(0x28, 0x102, bs - 1) + us(0x28, 0x103, 0)
    ds += between + el(0x7FE0, 0x10, b'OW' if ba == 16 else b'OB', pixels)
    return meta() + ds

def save(name, data, expect=None, bpp=0, frames=0, dump=True):
    open(os.path.join(out, name + '.dcm'), 'wb').write(data)
    if expect is not None:
        open(os.path.join(out, name + '.expect'), 'wb').write(expect)
    manifest.append('%s %d %d %s' % (name, bpp, frames, '1' if dump else '-'))

R, C = 7, 5
g8 = rng.integers(0, 256, (R, C), dtype=np.uint8)
save('grey8', image(R, C, 8, 8, 1, g8.tobytes()), g8.tobytes(), 1, 1)
g16 = rng.integers(0, 65536, (R, C)).astype('<u2')
save('grey16', image(R, C, 16, 16, 1, g16.tobytes()), g16.tobytes(), 2, 1)
g12 = rng.integers(0, 4096, (R, C)).astype('<u2')
g12[0, 0] = 0x0FFF
save('grey12', image(R, C, 16, 12, 1, g12.tobytes()), (g12 << 4).astype('<u2').tobytes(), 2, 1)
multi = rng.integers(0, 256, (3, R, C), dtype=np.uint8)
# A remainder shorter than a frame is left.
save('multiframe', image(R, C, 8, 8, 1, multi.tobytes() + b'\1\2', frames=3), multi.tobytes(), 1, 3)
rgb8 = rng.integers(0, 256, (R, C, 3), dtype=np.uint8)
save('rgb8', image(R, C, 8, 8, 3, rgb8.tobytes(), planar=0), rgb8.tobytes(), 3, 1)
save('rgb8planar', image(R, C, 8, 8, 3, rgb8.transpose(2, 0, 1).tobytes(), planar=1), rgb8.tobytes(), 3, 1)
rgb16 = rng.integers(0, 65536, (R, C, 3)).astype('<u2')
save('rgb16planar', image(R, C, 16, 16, 3, rgb16.transpose(2, 0, 1).tobytes(), planar=1), rgb16.tobytes(), 6, 1)
# Planar configuration counts for colour only.
save('grey8planar', image(R, C, 8, 8, 1, g8.tobytes(), planar=1), g8.tobytes(), 1, 1, dump=False)
# A long text, and an icon in nested sequences of undefined length whose
# Rows differ from the image's.
inner = el(8, 0x1140, b'SQ', item(el(8, 0x1150, b'UI', b'1.2.840.10008.5.1.4.1.1.7')) + SEQ_END, undefined=True)
icon = item(inner + us(0x28, 2, 1) + el(0x28, 4, b'CS', b'MONOCHROME2') + us(0x28, 0x10, 4) + us(0x28, 0x11, 4) +
            us(0x28, 0x100, 8) + us(0x28, 0x101, 8) + us(0x28, 0x102, 7) + us(0x28, 0x103, 0) +
            el(0x7FE0, 0x10, b'OB', bytes(range(16))))
between = el(0x40, 0xA160, b'UT', b'text ' * 80) + el(0x88, 0x200, b'SQ', icon + SEQ_END, undefined=True)
save('icon', image(R, C, 8, 8, 1, g8.tobytes(), between=between), g8.tobytes(), 1, 1)

good = image(R, C, 8, 8, 1, g8.tobytes())
save('no_dicm', good[:128] + b'DICX' + good[132:], dump=False)
save('rows_twice', image(R, C, 8, 8, 1, g8.tobytes(), rows_again=R + 1), dump=False)
save('truncated', good[:-3], dump=False)
save('short_frame', image(R, C, 8, 8, 1, g8.tobytes()[:-1]), dump=False)
save('bits12', image(R, C, 12, 12, 1, g8.tobytes()), dump=False)
save('samples2', image(R, C, 8, 8, 2, g8.tobytes() * 2), dump=False)
save('big_endian', meta(b'1.2.840.10008.1.2.2') + good[len(meta()):], dump=False)

# dcmtk's converters; frames as dcm2pnm writes them.
def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

def pnm_pixels(path):
    data = open(path, 'rb').read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    return data[pos + 1:]

p = lambda name: os.path.join(out, name)
run('convert', '-size', '37x23', '-seed', '5', 'plasma:fractal', '-depth', '8', p('src.png'))
run('convert', p('src.png'), 'BMP3:' + p('src.bmp'))
run('convert', p('src.png'), '-quality', '90', p('colour.jpg'))
run('convert', p('src.png'), '-colorspace', 'Gray', '-quality', '90', p('grey.jpg'))
run('img2dcm', '-i', 'BMP', p('src.bmp'), p('from_bmp.dcm'))
run('img2dcm', p('colour.jpg'), p('jpeg_colour.dcm'))
run('img2dcm', p('grey.jpg'), p('jpeg_grey.dcm'))
run('dcmdjpeg', p('jpeg_colour.dcm'), p('plain_colour.dcm'))
run('dcmdjpeg', p('jpeg_grey.dcm'), p('plain_grey.dcm'))
run('dcmconv', '+ti', p('from_bmp.dcm'), p('implicit.dcm'))
for name, bpp in (('from_bmp', 3), ('plain_colour', 3), ('plain_grey', 1)):
    run('dcm2pnm', p(name + '.dcm'), p(name + '.pnm'))
    open(p(name + '.expect'), 'wb').write(pnm_pixels(p(name + '.pnm')))
    manifest.append('%s %d 1 1' % (name, bpp))
for name in ('jpeg_colour', 'jpeg_grey', 'implicit'):
    manifest.append('%s 0 0 -' % name)
open(p('manifest.txt'), 'w').write('\n'.join(manifest) + '\n')
)";

TEST(DicomFiles, ReadAsWrittenOrRefused) {
    kvtest::TempDir dir("dicom");
    ASSERT_EQ(kvtest::RunPython(kFixtureScript, {dir.path()}, nullptr), 0);
    std::ifstream manifest(dir.file("manifest.txt"));
    std::string name, dump;
    uint64_t bpp, frames;
    int opened = 0, refused = 0;
    while (manifest >> name >> bpp >> frames >> dump) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name + ".dcm");
        if (dump == "1") {
            std::string errors;
            EXPECT_EQ(kvtest::RunCommand("dcmdump -q '" + path + "' 2>&1 >/dev/null", &errors), 0);
            EXPECT_EQ(errors, "");
        }
        codec_file* f = codec_file_open(Wide(path).c_str(), nullptr, nullptr);
        if (bpp == 0) {
            EXPECT_EQ(f, nullptr);
            codec_file_close(f);
            ++refused;
            continue;
        }
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->info.kind, 1u);
        EXPECT_EQ(f->info.bytes_per_pixel, bpp);
        EXPECT_EQ(f->info.frame_count, frames);
        EXPECT_EQ(f->info.frame_interval, 0u);
        const uint64_t frame_bytes = f->info.width * f->info.height * bpp;
        std::string all(frame_bytes * frames, '\0');
        for (uint64_t i = 0; i < frames; ++i)
            EXPECT_EQ(codec_file_read_frame(f, 0, i, 0, &all[i * frame_bytes]), 1);
        EXPECT_EQ(codec_file_read_frame(f, 0, frames, 0, &all[0]), 0);
        codec_file_close(f);
        EXPECT_TRUE(all == kvtest::ReadFileBytes(dir.file(name + ".expect")));
        ++opened;
    }
    EXPECT_EQ(opened, 12);
    EXPECT_EQ(refused, 10);
}

}  // namespace
