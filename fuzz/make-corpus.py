#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: small valid and broken recordings.
Run from the repository root: fuzz/make-corpus.py fuzz/corpus"""
import os
import struct
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
    for name, content in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(content)


if __name__ == '__main__':
    main()
