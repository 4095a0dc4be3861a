# Walks an AVI file's RIFF chunks independently of the reader under test
# and prints what the writer tests check, one key=value a line.
import struct
import sys

data = open(sys.argv[1], 'rb').read()


def u32(at):
    return struct.unpack_from('<I', data, at)[0]


chunks = []  # (fourcc, offset, size, enclosing list types)
problems = []
pads_ok = True


def walk(start, end, parents):
    global pads_ok
    p = start
    while p + 8 <= end:
        cc, size = data[p:p + 4], u32(p + 4)
        if cc in (b'RIFF', b'LIST'):
            kind = data[p + 8:p + 12].decode('latin1')
            chunks.append((cc.decode('latin1'), p, size, parents + [kind]))
            walk(p + 12, p + 8 + size, parents + [kind])
        else:
            chunks.append((cc.decode('latin1'), p, size, parents))
            if size & 1 and data[p + 8 + size] != 0:
                pads_ok = False
        p += 8 + size + (size & 1)
    if p != end:
        problems.append('chunks end at %d, not %d' % (p, end))


riffs = []
pos = 0
while pos + 12 <= len(data) and data[pos:pos + 4] == b'RIFF':
    size = u32(pos + 4)
    riffs.append(size)
    walk(pos + 12, pos + 8 + size, [data[pos + 8:pos + 12].decode('latin1')])
    pos += 8 + size + (size & 1)
if pos != len(data):
    problems.append('file has %d bytes after the RIFF chunks' % (len(data) - pos))


def find(fourcc, inside=None):
    return [c for c in chunks if c[0] == fourcc and (inside is None or c[3][-1] == inside)]


def chunk_at(offset):
    for c in chunks:
        if c[1] == offset:
            return c
    return None


out = {'riffs': len(riffs), 'max_riff': max(riffs), 'pads_ok': int(pads_ok)}
# JUNK chunks in the first RIFF, by their whole length (header included).
out['junk'] = ','.join(str(c[2] + 8) for c in find('JUNK', 'AVI '))
movi = [c for c in chunks if c[0] == 'LIST' and c[3][-1] == 'movi']
out['movi'] = movi[0][1]
out['avih_frames'] = u32(48)
out['strh_length'] = u32(140)

idx1 = find('idx1')
if idx1:
    _, at, size, _ = idx1[0]
    entries = size // 16
    ok = True
    for i in range(entries):
        ckid, flags, off, dw = struct.unpack_from('<4sIII', data, at + 8 + 16 * i)
        c = chunk_at(movi[0][1] + 8 + off)
        if c is None or c[0].encode() != ckid or dw != c[2] + 8:
            ok = False
    out['idx1_entries'] = entries
    out['idx1_ok'] = int(ok)

frames = 0
ix_ok = True
for _, at, size, parents in find('ix00'):
    n = u32(at + 12)
    base = struct.unpack_from('<Q', data, at + 20)[0]
    frames += n
    if size != 24 + 8 * n or parents[-1] != 'movi':
        ix_ok = False
    for i in range(n):
        off, dw = struct.unpack_from('<II', data, at + 32 + 8 * i)
        c = chunk_at(base + off - 8)
        if c is None or c[2] != (dw & 0x7FFFFFFF):
            ix_ok = False
out['ix00_count'] = len(find('ix00'))
out['ix00_frames'] = frames
out['ix00_ok'] = int(ix_ok)
indx = find('indx', 'strl')
out['indx_entries'] = u32(indx[0][1] + 12) if indx else 0
dmlh = find('dmlh', 'odml')
out['odml_in_hdrl'] = int(bool(dmlh) and dmlh[0][3][-2] == 'hdrl')
out['dmlh_frames'] = u32(dmlh[0][1] + 8) if dmlh else 0
out['problems'] = ';'.join(problems)
for k, v in out.items():
    print('%s=%s' % (k, v))
