#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora: small valid and broken recordings.
Run from the repository root: fuzz/make-corpus.py fuzz/corpus fuzz/formats-corpus
(the second needs flac, the command-line encoder, for its FLAC streams)."""
import os
import struct
import subprocess
import sys


def chunk(cid, body, declared=None, pad=True):
    size = len(body) if declared is None else declared
    out = cid + struct.pack('<I', size) + body
    if pad and len(body) % 2:
        out += b'\0'
    return out


def fmt(channels=1, rate=44100, bits=16, tag=1, extra=b''):
    align = channels * bits // 8
    return chunk(b'fmt ', struct.pack('<HHIIHH', tag, channels, rate, rate * align, align, bits) + extra)


def riff(*chunks, size=None):
    body = b'WAVE' + b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body) if size is None else size) + body


def extensible(channels, rate, bits, subformat, mask):
    align = channels * bits // 8
    guid = struct.pack('<H', subformat) + bytes([0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
    return chunk(b'fmt ', struct.pack('<HHIIHHHHI', 0xFFFE, channels, rate, rate * align, align, bits, 22, bits,
                                      mask) + guid)


def rf64(*chunks):
    body = b''.join(chunks)
    data_size = 0
    at = 0
    while at + 8 <= len(body):  # the data chunk's true size goes into ds64
        cid, size = body[at:at + 4], struct.unpack('<I', body[at + 4:at + 8])[0]
        if cid == b'data':
            data_size = len(body) - at - 8
            break
        at += 8 + size + (size & 1)
    ds64 = chunk(b'ds64', struct.pack('<QQQI', 4 + 36 + len(body), data_size, 0, 0))
    return b'RF64' + b'\xff' * 4 + b'WAVE' + ds64 + body


def samples(values):
    return struct.pack('<%dh' % len(values), *values)


W64_TAIL = bytes([0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A])
W64_RIFF = b'riff' + bytes([0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00])


def w64_chunk(cid, body, unknown=False, last=False):
    out = cid + W64_TAIL + struct.pack('<Q', 0xFFFFFFFFFFFFFFFF if unknown else len(body) + 24) + body
    return out if last else out + b'\0' * (-len(out) % 8)


def w64(fmt_body, data, unknown=False):
    chunks = w64_chunk(b'fmt ', fmt_body) + w64_chunk(b'data', data, unknown, last=True)
    return W64_RIFF + struct.pack('<Q', len(chunks) + 40) + b'wave' + W64_TAIL + chunks


def aiff(channels, frames_bytes, frames, bits=16, cut=0):
    comm = struct.pack('>hIh', channels, frames, bits) + bytes([0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0])
    ssnd = struct.pack('>II', 0, 0) + frames_bytes
    body = b'AIFF' + b'COMM' + struct.pack('>I', len(comm)) + comm + b'SSND' + struct.pack('>I', len(ssnd)) + ssnd
    out = b'FORM' + struct.pack('>I', len(body)) + body
    return out[:len(out) - cut]


def flac(raw, channels, bits, rate, extra=()):
    """A FLAC stream of little-endian signed samples of `bits` bits in whole
    bytes, through flac (from an extensible WAV whose valid bits say the width)."""
    import tempfile
    width = (bits + 7) // 8
    shift = 8 * width - bits
    values = [int.from_bytes(raw[i:i + width], 'little', signed=True) for i in range(0, len(raw), width)]
    data = b''.join((v << shift).to_bytes(width, 'little', signed=True) for v in values)
    wav = riff(extensible(channels, rate, 8 * width, 1, 0) .replace(
        struct.pack('<H', 8 * width) + struct.pack('<I', 0), struct.pack('<H', bits) + struct.pack('<I', 0), 1),
        chunk(b'data', data))
    with tempfile.TemporaryDirectory() as scratch:
        source, out = os.path.join(scratch, 'in.wav'), os.path.join(scratch, 'out.flac')
        with open(source, 'wb') as f:
            f.write(wav)
        subprocess.run(['flac', '-s', '--no-seektable', '--no-padding', '--lax', '--channel-map=none', *extra,
                        '-o', out, source],
                       check=True)
        with open(out, 'rb') as f:
            return f.read()


def patched_total(stream, total):
    """STREAMINFO's 36-bit total frame count set to `total`."""
    b = bytearray(stream)
    b[21] = (b[21] & 0xF0) | ((total >> 32) & 0x0F)
    b[22:26] = struct.pack('>I', total & 0xFFFFFFFF)
    return bytes(b)


def formats_corpus(folder):
    os.makedirs(folder, exist_ok=True)
    music = [(True, 40), (False, 70), (True, 5), (False, 3), (True, 20), (False, 80), (True, 1)]
    stereo = passages(2, music)
    float_ext = struct.pack('<HHIIHHHHI', 0xFFFE, 2, 48000, 384000, 8, 32, 22, 32, 3) + \
        struct.pack('<H', 3) + bytes([0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
    floats = struct.pack('<%df' % 200, *([0.0] * 60 + [0.5, -0.25] * 40 + [0.0] * 60))
    files = {
        'pcm.w64': w64(struct.pack('<HHIIHH', 1, 2, 44100, 176400, 4, 16), stereo),
        'float-extensible.w64': w64(float_ext, floats),
        'unknown-size.w64': w64(float_ext, floats + b'\1\2\3', unknown=True),
        'cut.w64': w64(float_ext, floats)[:-13],
        # What comes after a Wave64 file's samples: zeros a copy left, a
        # size left at the largest signed value as a pipe writer leaves it.
        'zeros-after.w64': w64(float_ext, floats) + b'\0' * 48,
        'short-then-zeros.w64': w64(float_ext, floats)[:-40] + b'\0' * 40,
        'piped.w64': w64(float_ext, floats).replace(struct.pack('<Q', len(floats) + 24),
                                                    struct.pack('<Q', 0x7FFFFFFFFFFFFFFF)),
        'pcm.aif': aiff(2, struct.pack('>%dh' % (len(stereo) // 2), *struct.unpack('<%dh' % (len(stereo) // 2), stereo)),
                        len(stereo) // 4),
        'cut.aif': aiff(1, b'\x10\x00' * 99, 100),
        'unknown-size.wav': b'RIFF\xff\xff\xff\xffWAVE' + fmt(2) + b'data\xff\xff\xff\xff' + stereo + b'\1',
        'rf64-table.wav': b'RF64\xff\xff\xff\xffWAVE' + chunk(b'ds64', struct.pack('<QQQI', 0, len(stereo), 0, 1) +
                                                              b'junk' + struct.pack('<Q', 0)) +
        fmt(2) + chunk(b'data', stereo),
    }
    streams = {
        'sixteen.flac': flac(stereo, 2, 16, 44100, ['-b', '192']),
        'eight-mono.flac': flac(bytes(b & 0xFF for b in stereo[::2]), 1, 8, 8000, ['-b', '192']),
        'twelve.flac': flac(b''.join(v.to_bytes(2, 'little', signed=True) for v in range(-1500, 1500, 6)), 2, 12,
                            22050, ['-b', '576']),
        'twenty.flac': flac(b''.join(v.to_bytes(3, 'little', signed=True) for v in range(-300, 300)), 2, 20,
                            96000, ['-b', '192']),
        'thirty-two.flac': flac(b''.join(v.to_bytes(4, 'little', signed=True) for v in range(-2 ** 31, 2 ** 31, 2 ** 25)),
                                1, 32, 48000, ['-b', '192']),
        'six-channels.flac': flac(stereo * 3, 6, 16, 48000, ['-b', '192']),
    }
    streams['no-length.flac'] = patched_total(streams['sixteen.flac'], 0)
    streams['short-length.flac'] = patched_total(streams['sixteen.flac'], 100)
    streams['long-length.flac'] = patched_total(streams['sixteen.flac'], 5000)
    damaged = bytearray(streams['sixteen.flac'])
    damaged[len(damaged) // 2:len(damaged) // 2 + 8] = bytes(8)
    streams['damaged.flac'] = bytes(damaged)
    streams['cut.flac'] = streams['sixteen.flac'][:len(streams['sixteen.flac']) * 2 // 3]
    bad_md5 = bytearray(streams['sixteen.flac'])
    bad_md5[30] ^= 0xFF
    streams['bad-md5.flac'] = bytes(bad_md5)
    # Metadata that repeats or lies: two STREAMINFO blocks, and a stream
    # behind two ID3v2 tags.
    sixteen = streams['sixteen.flac']
    info = sixteen[4:4 + 4 + 34]
    twice = bytearray(info)
    twice[4 + 10] ^= 0x40  # another rate
    streams['two-streaminfo.flac'] = sixteen[:4] + bytes([info[0] & 0x7F]) + info[1:] + bytes(twice) + sixteen[4 + 38:]
    id3 = b'ID3\x03\x00\x00\x00\x00\x00\x0bTIT2\x00\x00\x00\x01\x00\x00\x00'
    streams['two-id3.flac'] = id3 + id3 + sixteen
    streams['id3v1.flac'] = streams['sixteen.flac'] + b'TAG' + bytes(125)
    files.update(streams)
    for name, content in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(content)


def passages(channels, pattern):
    """pattern: list of (loud?, frames)"""
    out = []
    for loud, frames in pattern:
        for f in range(frames):
            for c in range(channels):
                out.append(((f * 37 + c * 11) % 3000 + 300) * (1 if f % 2 else -1) if loud else (f % 7) - 3)
    return samples(out)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else 'fuzz/corpus'
    os.makedirs(folder, exist_ok=True)
    music = [(True, 40), (False, 70), (True, 5), (False, 3), (True, 20), (False, 80), (True, 1)]
    files = {
        'mono-parts.wav': riff(fmt(1), chunk(b'data', passages(1, music))),
        'stereo-parts.wav': riff(fmt(2), chunk(b'data', passages(2, music))),
        'stereo-22k-list.wav': riff(chunk(b'LIST', b'INFOtest'), fmt(2, 22050), chunk(b'LIST', b'x' * 7),
                                    chunk(b'data', passages(2, music))),
        'trailing-loud-chunk.wav': riff(fmt(1), chunk(b'data', passages(1, [(True, 10), (False, 20)])),
                                        chunk(b'LIST', b'\x7f' * 40)),
        'extremes.wav': riff(fmt(2), chunk(b'data', samples([-32768, 32767, 0, 0, 104, -104, 105, 0, -105, 0]))),
        'fmt-extension.wav': riff(fmt(1, 8000, extra=b'\0\0'), chunk(b'data', passages(1, music))),
        'rate-96k.wav': riff(fmt(2, 96000), chunk(b'data', passages(2, music))),
        'rate-zero.wav': riff(fmt(1, 0), chunk(b'data', passages(1, music))),
        'odd-data.wav': riff(fmt(2), chunk(b'data', passages(2, music) + b'\x10\x7f\x01')),
        'one-byte-data.wav': riff(fmt(1), chunk(b'data', b'\x7f')),
        'empty-data.wav': riff(fmt(1), chunk(b'data', b'')),
        'data-too-long.wav': riff(fmt(1), chunk(b'data', passages(1, music), declared=100000)),
        'data-before-fmt.wav': riff(chunk(b'data', passages(1, music)), fmt(1)),
        'no-fmt.wav': riff(chunk(b'data', passages(1, music))),
        'fmt-14.wav': riff(chunk(b'fmt ', b'\1\0\1\0' + b'\0' * 10), chunk(b'data', b'\0\0')),
        'eight-bit.wav': riff(fmt(1, bits=8), chunk(b'data', b'\x80' * 50)),
        'float.wav': riff(fmt(2, bits=32, tag=3), chunk(b'data', b'\0' * 64)),
        'six-channels.wav': riff(fmt(6), chunk(b'data', b'\0' * 48)),
        'not-pcm.wav': riff(fmt(2, tag=2), chunk(b'data', b'\0' * 16)),
        'riff-size-zero.wav': riff(fmt(1), chunk(b'data', passages(1, music)), size=0),
        'riff-size-huge.wav': riff(fmt(1), chunk(b'data', passages(1, music)), size=0xFFFFFFFF),
        'skip-overflow.wav': riff(fmt(1), chunk(b'junk', b'', declared=0xFFFFFFF0, pad=False),
                                  chunk(b'data', b'\1\2')),
        'cut-header.wav': riff(fmt(1), b'da'),
        'not-riff.wav': b'RIFX' + riff(fmt(1), chunk(b'data', b'\0\0'))[4:],
        'empty.wav': b'',
        'twenty-four-bit.wav': riff(fmt(2, 48000, bits=24),
                                    chunk(b'data', b''.join(struct.pack('<i', v)[:3] for v in
                                                            [0, 0, 90000, -90000, 3, -3, 8388607, -8388608] * 6))),
        'float-parts.wav': riff(fmt(1, bits=32, tag=3), chunk(b'data', struct.pack(
            '<24f', *([0.0] * 6 + [0.5, -0.25] * 4 + [0.0] * 8 + [float('nan'), float('inf')])))),
        'double-parts.wav': riff(fmt(1, bits=64, tag=3), chunk(b'data', struct.pack('<8d', 0, 0.9, 0, 0, 0, 0, -1, 0))),
        'eight-bit-parts.wav': riff(fmt(1, bits=8), chunk(b'data', bytes([128] * 10 + [200, 20] * 5 + [128] * 10))),
        'thirty-two-bit.wav': riff(fmt(3, bits=32, tag=1), chunk(b'data', struct.pack('<12i', *(
            [0, 0, 0, 2 ** 31 - 1, -2 ** 31, 0] * 2)))),
        'extensible-pcm.wav': riff(extensible(2, 44100, 24, 1, 3), chunk(b'data', passages(3, music))),
        'extensible-float.wav': riff(extensible(6, 48000, 32, 3, 0x3F), chunk(b'data', struct.pack(
            '<36f', *([0.0] * 12 + [0.25] * 12 + [0.0] * 12)))),
        'extensible-odd-guid.wav': riff(extensible(1, 44100, 16, 1, 4)[:-1] + b'\x00',
                                        chunk(b'data', b'\0' * 8)),
        'rf64-parts.wav': rf64(fmt(2), chunk(b'data', passages(2, music))),
        'bw64-float.wav': b'BW64' + rf64(fmt(1, bits=32, tag=3), chunk(b'data', struct.pack('<8f', 0, 0, 1, 0, 0, 0, 0, -1)))[4:],
        'rf64-no-ds64.wav': b'RF64' + riff(fmt(1), chunk(b'data', b'\1\2'))[4:],
        'metadata.wav': riff(chunk(b'bext', b'\0' * 346), fmt(1), chunk(b'iXML', b'<x/>'), chunk(b'LIST', b'INFOINAM\4\0\0\0name'),
                             chunk(b'data', passages(1, music))),
    }
    float_ext = struct.pack('<HHIIHHHHI', 0xFFFE, 2, 48000, 384000, 8, 32, 22, 32, 3) + \
        struct.pack('<H', 3) + bytes([0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
    files['wave64-parts.w64'] = w64(struct.pack('<HHIIHH', 1, 2, 44100, 176400, 4, 16), passages(2, music))
    files['wave64-float.w64'] = w64(float_ext, struct.pack('<%df' % 40, *([0.0] * 10 + [0.5, -0.25] * 5 + [0.0] * 20)))
    files['ds64-table.wav'] = b'RF64\xff\xff\xff\xffWAVE' + chunk(b'ds64', struct.pack('<QQQI', 0, 2, 0, 1) + b'junk' +
                                                                   struct.pack('<Q', 0)) + fmt(1) + chunk(b'data', b'\1\2')
    for name, content in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(content)


if __name__ == '__main__':
    main()
    if len(sys.argv) > 2:
        formats_corpus(sys.argv[2])
