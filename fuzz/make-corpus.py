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
    }
    for name, content in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(content)


if __name__ == '__main__':
    main()
