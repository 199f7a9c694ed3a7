"""The recordings the accuracy measurement runs on, made from fixed seeds.

Four sets of sides, each side a WAV file with the truth beside it:

  records     record sides of game music from Debian's supertux-data and
              freedroidrpg-data, under surface noise, crackle, rumble, some
              with 50 Hz hum, one with a DC offset; a lead-in and a run-out
              groove of noise only
  orchestral  harder sides: long tracks with soft intros, long fade-outs and
              quiet passages inside the tracks (3 to 6 s, longer than any
              gap on the side, 30 to 40 dB down where the music allows and
              never less than 24, always at least 8 dB above the noise);
              24-bit/48 kHz and mono
              sides among them
  tapes       cassette sides of espeak-ng speech in pieces of several
              sentences, and two of tunes, under hiss, hum and brown noise
  clean       sides with no added noise at all

Every side has NAME.wav, NAME.json (the truth) and NAME.txt (the track list,
one title a line with its length, as `--names` reads it).

What counts as a track's sound ("audible"): the clean track alone, as placed
on the side (fades and quiet passages applied, before any noise is added),
is measured by its 50 ms RMS level, the mean power of all channels over a
window of 50 ms centred on each sample. The noise under the track is
measured the same way: the median, over the track's stretch of the side, of
the 50 ms RMS of everything added to the music (surface noise, crackle,
rumble, hum, hiss; a DC offset is not counted, since it cannot be heard).
A sample is audible where the track's level is at or above that noise level
minus 10 dB; on sides without noise, where it is at or above -60 dBFS. A
track's first and last audible samples are its edges in the truth.
"""

import glob
import hashlib
import json
import os
import subprocess
import wave

import numpy as np

# Bump to make every cached side again after a change in how sides are made
# that the source's hash would not show (a new Debian music package, say).
GENERATION = 1

MUSIC_FOLDERS = [
    "/usr/share/games/supertux2/music/*/*.ogg",
    "/usr/share/freedroidrpg/data/sound/music/*.ogg",
]

AUDIBLE_BELOW_NOISE_DB = 10.0
AUDIBLE_WITHOUT_NOISE_DBFS = -60.0
RMS_WINDOW_S = 0.05


def db(value):
    return 20.0 * np.log10(np.maximum(value, 1e-12))


def undb(value):
    return 10.0 ** (value / 20.0)


def timestamp(seconds):
    """m:ss.ss, as the reports print times on a side."""
    minutes = int(seconds // 60)
    return "%d:%05.2f" % (minutes, seconds - 60 * minutes)


def mmss(seconds):
    seconds = int(round(seconds))
    return "%d:%02d" % (seconds // 60, seconds % 60)


# --------------------------------------------------------------------------
# The sets: which sides, and what each is made of.

def side_plans():
    """Every side as (set, name, kind, seed, options), in report order."""
    plans = []
    # Records: worn sides (many clicks) are 3 and 6; hum on 2, 4 and 6; a DC
    # offset on 5.
    for k in range(6):
        plans.append(("records", "record-%d" % (k + 1), "music", 1000 + k, {
            "tracks": (4, 7), "length": (25.0, 90.0), "gap": (1.5, 4.0),
            "fade_in": (1.0, 4.0), "fade_out": (1.0, 4.0), "soft_intro": 0.35,
            "edge": (2.0, 6.0), "noise": "record", "worn": k in (2, 5),
            "hum": 50 if k in (1, 3, 5) else 0, "dc": k == 4,
            "rate": 44100, "channels": 2, "bits": 16,
        }))
    # Orchestral: 48 kHz 24-bit on 2, 5 and 8; mono on 3 and 5; DC on 4 and 7;
    # hum on 2, 4 and 6; worn on 6.
    for k in range(8):
        hi_res = k in (1, 4, 7)
        plans.append(("orchestral", "orchestral-%d" % (k + 1), "music", 2000 + k, {
            "tracks": (4, 8), "length": (40.0, 150.0), "gap": (1.5, 2.5),
            "fade_in": (1.0, 4.0), "fade_out": (3.0, 8.0), "soft_intro": 0.6,
            "quiet_passages": True, "edge": (2.0, 6.0), "noise": "record",
            "surface_db": (-60.0, -52.0), "worn": k == 5,
            "hum": 50 if k in (1, 3, 5) else 0, "dc": k in (3, 6),
            "rate": 48000 if hi_res else 44100, "channels": 1 if k in (2, 4) else 2,
            "bits": 24 if hi_res else 16, "max_side": 700.0,
        }))
    # Tapes: speech; pink hiss on the odd ones, white on the even; hum (50 or
    # 60 Hz) on 2, 3 and 5; brown noise on 1, 4 and 6. Then two of tunes.
    for k in range(6):
        plans.append(("tapes", "speech-%d" % (k + 1), "speech", 3000 + k, {
            "pieces": (4, 7), "sentences": (6, 12), "pause": (0.3, 1.2),
            "gap": (2.0, 3.0), "edge": (1.0, 3.0), "noise": "tape",
            "hiss": "pink" if k % 2 == 0 else "white",
            "hum": {1: 50, 2: 60, 4: 50}.get(k, 0), "brown": k in (0, 3, 5),
            "rate": 44100, "channels": 1 if k in (1, 4) else 2, "bits": 16,
        }))
    for k in range(2):
        plans.append(("tapes", "tunes-%d" % (k + 1), "music", 3100 + k, {
            "tracks": (4, 6), "length": (20.0, 60.0), "gap": (2.0, 3.0),
            "fade_in": (0.5, 3.0), "fade_out": (1.0, 3.0), "soft_intro": 0.2,
            "edge": (1.0, 3.0), "noise": "tape", "hiss": "pink" if k == 0 else "white",
            "hum": 50 if k == 1 else 0, "brown": k == 0,
            "rate": 44100, "channels": 2, "bits": 16,
        }))
    # Clean: no noise added.
    plans.append(("clean", "clean-music", "music", 4000, {
        "tracks": (5, 6), "length": (25.0, 90.0), "gap": (1.5, 4.0),
        "fade_in": (1.0, 4.0), "fade_out": (1.0, 4.0), "soft_intro": 0.35,
        "edge": (1.0, 3.0), "noise": None, "rate": 44100, "channels": 2, "bits": 16,
    }))
    plans.append(("clean", "clean-speech", "speech", 4001, {
        "pieces": (5, 6), "sentences": (6, 10), "pause": (0.3, 1.2),
        "gap": (2.0, 3.0), "edge": (1.0, 2.0), "noise": None,
        "rate": 44100, "channels": 1, "bits": 16,
    }))
    plans.append(("clean", "clean-orchestral", "music", 4002, {
        "tracks": (4, 6), "length": (40.0, 120.0), "gap": (1.5, 2.5),
        "fade_in": (1.0, 4.0), "fade_out": (3.0, 8.0), "soft_intro": 0.6,
        "quiet_passages": True, "edge": (1.0, 3.0), "noise": None,
        "rate": 48000, "channels": 2, "bits": 24, "max_side": 600.0,
    }))
    return plans


SETS = ["records", "orchestral", "tapes", "clean"]


# --------------------------------------------------------------------------
# Sources: music excerpts and speech.

def music_catalogue():
    """The game music Debian ships, as (path, seconds), sorted by path."""
    paths = sorted(set(p for pattern in MUSIC_FOLDERS for p in glob.glob(pattern)))
    catalogue = []
    for path in paths:
        out = subprocess.run(["soxi", "-D", path], capture_output=True, text=True)
        if out.returncode == 0:
            try:
                catalogue.append((path, float(out.stdout.strip())))
            except ValueError:
                pass
    return catalogue


def decode(path, start, length, rate, channels):
    """Samples of a file from START for LENGTH seconds, as float (frames, channels)."""
    command = ["sox", "-D", "-V1", path, "-t", "f32", "-c", str(channels), "-r", str(rate), "-",
               "trim", "%.6f" % start, "%.6f" % length]
    out = subprocess.run(command, capture_output=True, check=True)
    samples = np.frombuffer(out.stdout, dtype=np.float32).astype(np.float64)
    return samples.reshape(-1, channels)


def windowed_rms_db(x, rate, window=RMS_WINDOW_S):
    """The RMS level of consecutive windows (mean power of all channels), dB."""
    w = max(1, int(round(window * rate)))
    power = np.mean(x * x, axis=1)
    n = len(power) // w
    if n == 0:
        return np.array([db(np.sqrt(np.mean(power)) if len(power) else 0.0)])
    return 10.0 * np.log10(np.maximum(power[: n * w].reshape(n, w).mean(axis=1), 1e-24))


def excerpt_is_whole(x, rate, length):
    """An excerpt is usable when it is as long as asked and holds no rest of
    its own: no 0.3 s where it falls 35 dB under its typical level."""
    if len(x) < int(length * rate) - rate // 10:
        return False
    levels = windowed_rms_db(x, rate)
    typical = np.median(levels)
    if typical < -40.0:
        return False
    quiet = levels < typical - 35.0
    return longest_run(quiet) * RMS_WINDOW_S < 0.3


def longest_run(mask):
    if not mask.any():
        return 0
    padded = np.concatenate(([False], mask, [False]))
    edges = np.flatnonzero(np.diff(padded.astype(np.int8)))
    return int((edges[1::2] - edges[::2]).max())


def pick_excerpt(rng, catalogue, length, rate, channels, used):
    """A usable excerpt of LENGTH seconds from music not used on this side yet."""
    for attempt in range(60):
        pool = [c for c in catalogue if c[1] >= length + 2.0 and (c[0] not in used or attempt >= 30)]
        if not pool:
            pool = [c for c in catalogue if c[1] >= length + 2.0]
        if not pool:
            raise RuntimeError("no piece of music is %.0f s long" % length)
        path, seconds = pool[rng.integers(len(pool))]
        start = float(rng.uniform(0.5, seconds - length - 0.5))
        x = decode(path, start, length, rate, channels)
        if excerpt_is_whole(x, rate, length):
            used.add(path)
            return x[: int(length * rate)], path, start
    raise RuntimeError("no usable excerpt of %.0f s found" % length)


SENTENCES = [
    "The harbour lights came on one by one as the boats returned.",
    "Please remember to water the tomatoes before the weekend.",
    "We drove north for three hours and never saw another car.",
    "The meeting has been moved to Thursday afternoon at four.",
    "My grandmother kept every letter she ever received.",
    "A thin layer of frost covered the windows this morning.",
    "He tuned the old radio until a faint voice came through.",
    "The library closes early on the first Monday of the month.",
    "Bring a warm coat, because the evenings are cold up there.",
    "The train was late again, so we walked along the river.",
    "She painted the kitchen door a bright shade of yellow.",
    "Nobody could remember who had planted the apple tree.",
    "The recipe calls for two eggs and a cup of flour.",
    "At midnight the whole street went quiet except for the wind.",
    "Our neighbours are moving to a small town near the coast.",
    "The bridge was built in the spring of nineteen fifty two.",
    "I found the key under a stone beside the garden gate.",
    "The choir practised the same song for most of the evening.",
    "When the rain stopped, the children ran out to the field.",
    "The museum has a new room full of old clocks and maps.",
    "Turn left at the bakery and the station is straight ahead.",
    "The cat slept on the warm roof of the car all afternoon.",
    "Uncle Peter told the story of the lost sheep once more.",
    "There is a small island in the lake where herons nest.",
    "The letters arrived in a bundle tied with blue string.",
    "He wrote down every bird he saw in a little notebook.",
    "Dinner will be ready as soon as the potatoes are soft.",
    "The lighthouse keeper climbed the stairs twice every night.",
    "Snow fell quietly over the hills and covered the road.",
    "The old photographs show the square full of market stalls.",
    "We listened to the tape again to hear her voice once more.",
    "The bus to the village leaves every hour on the hour.",
    "A strong wind blew the leaves across the empty playground.",
    "Mother always said that patience is the best ingredient.",
    "The fishermen mended their nets on the stones of the pier.",
    "The concert ended with a slow piece for piano and cello.",
    "In summer the meadow is full of poppies and cornflowers.",
    "They opened a small shop that sells bread and newspapers.",
    "The clock on the church tower is always five minutes fast.",
    "He promised to call as soon as the plane had landed.",
    "The garden behind the house slopes down to a narrow stream.",
    "Every winter the pond freezes and we skate until dark.",
    "The teacher asked us to read the first chapter by Friday.",
    "Her brother repaired bicycles in a shed behind the school.",
    "The mountain path is steep, but the view is worth the climb.",
    "On Sundays the whole family gathered for a long lunch.",
    "The factory whistle could be heard all across the valley.",
    "I recorded this message so that you would not forget.",
    "The ship's bell is kept in the hall of the town museum.",
    "Tomorrow the weather should be dry with a light breeze.",
    "The old mill stopped turning many years before I was born.",
    "We counted the stars until we both fell asleep outside.",
    "The post office is next to the bank on the main street.",
    "My father built the wooden table that stands in the hall.",
    "The river floods the lower fields almost every spring.",
    "She kept the recipe book in a drawer beside the stove.",
    "At the end of the day the fishermen shared their catch.",
    "The market sells cheese, honey and fresh bread on Saturdays.",
    "He learned to play the violin from an old neighbour.",
    "The road to the farm is closed until the snow has melted.",
]

VOICES = ["en-us", "en-gb", "en-gb-x-rp", "en-gb-scotland", "en-029", "en-us+f3",
          "en-gb+f2", "en-us+m3", "en-gb-x-rp+f4", "en-us-nyc+m5"]


def speak(text, voice, speed, rate, channels):
    """A sentence spoken by espeak-ng, at RATE, without its silent ends."""
    spoken = subprocess.run(["espeak-ng", "-v", voice, "-s", str(speed), "--stdout", text],
                            capture_output=True, check=True).stdout
    out = subprocess.run(["sox", "-D", "-V1", "-t", "wav", "-", "-t", "f32", "-c", str(channels),
                          "-r", str(rate), "-"], input=spoken, capture_output=True, check=True)
    x = np.frombuffer(out.stdout, dtype=np.float32).astype(np.float64)
    x = x.reshape(-1, channels)
    sound = np.flatnonzero(np.max(np.abs(x), axis=1) > 1e-3)
    return x[sound[0]: sound[-1] + 1]


def shaped_noise(rng, frames, channels, rate, components):
    """Gaussian noises summed, (frames, channels): each component (LEVEL,
    GAIN, SHARED) shaped by GAIN(frequency) to an RMS of LEVEL dBFS in every
    channel, SHARED being the share of its power the channels have in
    common. Drawn in the frequency domain and made with one inverse FFT per
    channel, at a length whose factors are 2, 3 and 5 (a length with a large
    prime factor takes minutes), then cut to FRAMES."""
    size = fast_length(frames)
    freqs = np.fft.rfftfreq(size, 1.0 / rate)
    sums = [np.zeros(len(freqs), dtype=complex) for _ in range(channels)]
    for level, gain, shared in components:
        shape = gain(freqs)
        shape[0] = 0.0
        if size % 2 == 0:
            shape[-1] = 0.0
        common = complex_normal(rng, len(freqs)) if channels > 1 and shared > 0 else None
        for c in range(channels):
            band = complex_normal(rng, len(freqs))
            if common is not None:
                band = np.sqrt(1.0 - shared) * band + np.sqrt(shared) * common
            band *= shape
            # Parseval: the mean power of the real signal these bins make.
            power = 2.0 * np.sum(band.real ** 2 + band.imag ** 2) / float(size) ** 2
            sums[c] += band * (undb(level) / np.sqrt(power))
    out = np.empty((frames, channels))
    for c in range(channels):
        out[:, c] = np.fft.irfft(sums[c], n=size)[:frames]
    return out


def complex_normal(rng, count):
    return rng.standard_normal(2 * count).view(np.complex128)


def fast_length(n):
    """The smallest length at or above N with no prime factor above 5."""
    best = 1 << max(0, int(n - 1).bit_length())
    p5 = 1
    while p5 < best:
        p35 = p5
        while p35 < best:
            size = p35
            while size < n:
                size *= 2
            best = min(best, size)
            p35 *= 3
        p5 *= 5
    return best


def lowpass(fc, order=2):
    return lambda f: 1.0 / np.sqrt(1.0 + (f / fc) ** (2 * order))


def highpass(fc, order=2):
    return lambda f: 1.0 / np.sqrt(1.0 + (fc / np.maximum(f, 1e-3)) ** (2 * order))


def surface_gain(bright):
    hp, lp = highpass(250.0), lowpass(bright)
    return lambda f: hp(f) * lp(f)


def pink_gain(f):
    return 1.0 / np.sqrt(np.maximum(f, 20.0)) * lowpass(14000.0)(f) * highpass(15.0)(f)


def white_gain(f):
    return lowpass(15000.0, 1)(f) * highpass(15.0)(f)


def brown_gain(f):
    return 1.0 / np.maximum(f, 8.0) * highpass(8.0)(f)


def rumble_gain(fc):
    lp, hp = lowpass(fc, 4), highpass(4.0)
    return lambda f: lp(f) * hp(f)


def hum(rng, frames, channels, rate, mains):
    """Mains hum with its harmonics, unit RMS: one period, repeated."""
    period = rate // mains if rate % mains == 0 else frames
    t = np.arange(period) / rate
    cycle = np.zeros(period)
    for harmonic, level in ((1, 1.0), (2, 0.3), (3, 0.5), (4, 0.1), (5, 0.25), (7, 0.1)):
        cycle += level * np.sin(2 * np.pi * mains * harmonic * t + rng.uniform(0, 2 * np.pi))
    cycle /= np.sqrt(np.mean(cycle * cycle))
    signal = np.tile(cycle, frames // period + 1)[:frames]
    return np.stack([signal * rng.uniform(0.8, 1.0) for _ in range(channels)], axis=1)


def crackle(rng, frames, channels, rate, per_second):
    """Isolated clicks of 0.5 to 3 ms, peaks from -50 to -20 dBFS."""
    out = np.zeros((frames, channels))
    t = 0.0
    seconds = frames / rate
    while True:
        t += rng.exponential(1.0 / per_second)
        if t >= seconds:
            break
        n = max(3, int(round(rng.uniform(0.0005, 0.003) * rate)))
        shape = np.hanning(n + 2)[1:-1] * (0.6 * rng.choice([-1.0, 1.0]) + 0.4 * rng.standard_normal(n))
        shape /= np.max(np.abs(shape))
        peak = undb(rng.uniform(-50.0, -20.0))
        start = int(t * rate)
        end = min(frames, start + n)
        for c in range(channels):
            out[start:end, c] += peak * rng.uniform(0.3, 1.0) * shape[: end - start]
    return out


def noise_recipe(rng, options):
    """What goes under a side: the levels of its noises, drawn before the side
    is made, so that its quiet passages can be kept above them."""
    kind = options.get("noise")
    recipe = {"kind": kind, "levels": {}}
    if kind == "record":
        recipe["levels"]["surface"] = float(rng.uniform(*options.get("surface_db", (-55.0, -45.0))))
        recipe["bright"] = float(rng.uniform(6000.0, 10000.0))
        recipe["clicks"] = float(rng.uniform(8.0, 15.0) if options.get("worn") else rng.uniform(1.0, 4.0))
        recipe["levels"]["rumble"] = float(rng.uniform(-56.0, -46.0))
        recipe["rumble_hz"] = float(rng.uniform(12.0, 28.0))
    elif kind == "tape":
        recipe["levels"]["hiss"] = float(rng.uniform(-53.0, -47.0))
        if options.get("brown"):
            recipe["levels"]["brown"] = float(rng.uniform(-56.0, -50.0))
    if kind and options.get("hum"):
        recipe["levels"]["hum"] = float(rng.uniform(-58.0, -48.0))
    recipe["dc"] = [float(rng.uniform(0.004, 0.009) * rng.choice([-1.0, 1.0]))
                    for _ in range(options["channels"])] if options.get("dc") else None
    return recipe


def expected_noise_db(recipe):
    """The RMS level of the noise a recipe makes, clicks aside."""
    levels = recipe["levels"].values()
    if not levels:
        return None
    return float(10.0 * np.log10(sum(10.0 ** (level / 10.0) for level in levels)))


def make_noise(rng, frames, rate, channels, recipe, options):
    """The noise under a side (without DC), the DC offset per channel, and
    what they are in words."""
    kind, levels = recipe["kind"], recipe["levels"]
    noise = np.zeros((frames, channels))
    described = []
    bands = []
    if kind == "record":
        bands.append((levels["surface"], surface_gain(recipe["bright"]), 0.3))
        described.append("surface noise %.0f dBFS" % levels["surface"])
        bands.append((levels["rumble"], rumble_gain(recipe["rumble_hz"]), 0.8))
        described.append("rumble %.0f dBFS under %.0f Hz" % (levels["rumble"], recipe["rumble_hz"]))
    elif kind == "tape":
        gain = pink_gain if options["hiss"] == "pink" else white_gain
        bands.append((levels["hiss"], gain, 0.1))
        described.append("%s hiss %.0f dBFS" % (options["hiss"], levels["hiss"]))
        if "brown" in levels:
            bands.append((levels["brown"], brown_gain, 0.5))
            described.append("brown noise %.0f dBFS" % levels["brown"])
    if bands:
        noise += shaped_noise(rng, frames, channels, rate, bands)
    if kind == "record":
        noise += crackle(rng, frames, channels, rate, recipe["clicks"])
        described.append("%.1f clicks/s" % recipe["clicks"])
    if "hum" in levels:
        noise += undb(levels["hum"]) * hum(rng, frames, channels, rate, options["hum"])
        described.append("%d Hz hum %.0f dBFS" % (options["hum"], levels["hum"]))
    dc = np.zeros(channels)
    if recipe["dc"]:
        dc = np.array(recipe["dc"])
        described.append("DC offset %s" % ", ".join("%+.4f" % v for v in dc))
    return noise, dc, described


# --------------------------------------------------------------------------
# Tracks.

def fade(x, rate, fade_in, fade_out):
    n_in = min(len(x), int(fade_in * rate))
    n_out = min(len(x), int(fade_out * rate))
    x[:n_in] *= np.linspace(0.0, 1.0, n_in, endpoint=False)[:, None]
    x[len(x) - n_out:] *= np.linspace(1.0, 0.0, n_out + 1)[1:, None]


def level_ramp(x, rate, start, length, depth_db, ramp=0.3):
    """Attenuates LENGTH seconds from START by DEPTH_DB, with ramps in dB."""
    n = len(x)
    t = np.arange(n) / rate
    gain_db = np.zeros(n)
    inside = (t >= start) & (t < start + length)
    gain_db[inside] = -depth_db
    up = (t >= start - ramp) & (t < start)
    gain_db[up] = -depth_db * (t[up] - (start - ramp)) / ramp
    down = (t >= start + length) & (t < start + length + ramp)
    gain_db[down] = -depth_db * (1.0 - (t[down] - start - length) / ramp)
    x *= undb(gain_db)[:, None]


def soft_intro(x, rate, depth_db, length):
    n = min(len(x), int(length * rate))
    x[:n] *= undb(np.linspace(-depth_db, 0.0, n))[:, None]


def music_track(rng, catalogue, length, rate, channels, options, used, noise_db, gap_max):
    x, path, start = pick_excerpt(rng, catalogue, length, rate, channels, used)
    x = x.copy()
    rms = np.sqrt(np.mean(x * x))
    x *= undb(rng.uniform(-22.0, -15.0)) / rms
    peak = np.max(np.abs(x))
    if peak > undb(-1.0):
        x *= undb(-1.0) / peak
    notes = ["%s at %s" % (os.path.basename(path), mmss(start))]
    if options.get("quiet_passages") and length >= 60.0:
        passages = 1 if length < 100.0 else 2
        taken = []
        for _ in range(passages * 6):
            if len(taken) == passages:
                break
            plen = float(rng.uniform(max(3.0, gap_max + 0.5), 6.0))
            where = float(rng.uniform(12.0, length - 12.0 - plen))
            if any(abs(where - w) < plen + 4.0 for w in taken):
                continue
            stretch = x[int(where * rate): int((where + plen) * rate)]
            stretch_db = db(np.sqrt(np.mean(stretch * stretch)))
            # Quiet, but still well above the noise under it.
            room = stretch_db - (noise_db + 8.0)
            depth = min(float(rng.uniform(30.0, 40.0)), room)
            if depth < 24.0:
                continue
            level_ramp(x, rate, where, plen, depth)
            taken.append(where)
            notes.append("quiet passage %.1f s at %s, -%.0f dB" % (plen, timestamp(where), depth))
    if rng.uniform() < options.get("soft_intro", 0.0):
        depth = float(rng.uniform(20.0, 30.0))
        intro = float(rng.uniform(4.0, 10.0))
        soft_intro(x, rate, depth, intro)
        notes.append("soft intro %.0f s from -%.0f dB" % (intro, depth))
    fade_in = float(rng.uniform(*options["fade_in"]))
    fade_out = float(rng.uniform(*options["fade_out"]))
    fade(x, rate, fade_in, fade_out)
    notes.append("fades %.1f s in, %.1f s out" % (fade_in, fade_out))
    return x, notes


def speech_piece(rng, rate, channels, options):
    voice = VOICES[rng.integers(len(VOICES))]
    speed = int(rng.integers(130, 191))
    count = int(rng.integers(options["sentences"][0], options["sentences"][1] + 1))
    chunks = []
    level = undb(rng.uniform(-22.0, -16.0))
    order = rng.permutation(len(SENTENCES))[:count]
    breaths = 0
    for k, index in enumerate(order):
        if k:
            pause = int(rng.uniform(*options["pause"]) * rate)
            gap = np.zeros((pause, channels))
            if rng.uniform() < 0.3 and pause > int(0.35 * rate):
                # A breath: a soft puff of noise in the pause.
                n = int(rng.uniform(0.2, 0.3) * rate)
                puff = rng.standard_normal(n) * np.hanning(n)
                puff = np.fft.irfft(np.fft.rfft(puff) * highpass(500.0)(np.fft.rfftfreq(n, 1.0 / rate)), n=n)
                puff *= undb(rng.uniform(-48.0, -40.0)) / np.sqrt(np.mean(puff * puff))
                at = (pause - n) // 2
                gap[at: at + n] += puff[:, None]
                breaths += 1
            chunks.append(gap)
        chunks.append(speak(SENTENCES[index], voice, speed, rate, channels))
    x = np.concatenate(chunks)
    sound = np.sqrt(np.mean(x[np.max(np.abs(x), axis=1) > 1e-3] ** 2))
    x *= level / sound
    peak = np.max(np.abs(x))
    if peak > undb(-1.0):
        x *= undb(-1.0) / peak
    return x, ["%d sentences, voice %s at %d wpm, %d breaths" % (count, voice, speed, breaths)]


TITLE_WORDS = (
    ["Silver", "Quiet", "Northern", "Distant", "Golden", "Slow", "Hidden", "Winter", "Evening",
     "Broken", "Open", "Little", "Crimson", "Paper", "Last", "Blue", "Falling", "Wandering"],
    ["Harbour", "Lanterns", "Meadow", "River", "Station", "Letters", "Garden", "Bridge", "Orchard",
     "Lighthouse", "Market", "Clocks", "Hills", "Window", "Road", "Island", "Mill", "Bells"],
)


def titles(rng, count):
    out = []
    while len(out) < count:
        title = "%s %s" % (TITLE_WORDS[0][rng.integers(len(TITLE_WORDS[0]))],
                           TITLE_WORDS[1][rng.integers(len(TITLE_WORDS[1]))])
        if title not in out:
            out.append(title)
    return out


# --------------------------------------------------------------------------
# The truth.

def centred_rms(x, rate):
    """The 50 ms RMS level around every sample (mean power of all channels)."""
    w = max(1, int(round(RMS_WINDOW_S * rate)))
    power = np.mean(x * x, axis=1)
    sums = np.concatenate(([0.0], np.cumsum(power)))
    index = np.arange(len(power))
    lo = np.clip(index - w // 2, 0, len(power))
    hi = np.clip(index - w // 2 + w, 0, len(power))
    return np.sqrt(np.maximum(sums[hi] - sums[lo], 0.0) / w)


def audible_span(track, noise_under, rate):
    """First and last audible sample of TRACK (relative to its start) and the
    threshold used, as the module's docstring defines them."""
    if noise_under is None:
        threshold_db = AUDIBLE_WITHOUT_NOISE_DBFS
        noise_db = None
    else:
        levels = windowed_rms_db(noise_under, rate)
        noise_db = float(np.median(levels))
        threshold_db = noise_db - AUDIBLE_BELOW_NOISE_DB
    loud = np.flatnonzero(centred_rms(track, rate) >= undb(threshold_db))
    if len(loud) == 0:
        raise RuntimeError("a track with nothing audible")
    return int(loud[0]), int(loud[-1]), threshold_db, noise_db


# --------------------------------------------------------------------------
# Making a side.

def source_stamp():
    with open(__file__, "rb") as f:
        text = f.read()
    return hashlib.sha256(text + str(GENERATION).encode()).hexdigest()[:16]


def write_wav(path, samples, rate, bits):
    if bits not in (16, 24):
        raise ValueError("bits")
    scale = float(2 ** (bits - 1))
    temporary = path + ".part"
    with wave.open(temporary, "wb") as w:
        w.setnchannels(samples.shape[1])
        w.setsampwidth(bits // 8)
        w.setframerate(rate)
        for at in range(0, len(samples), 1 << 20):
            ints = np.clip(np.round(samples[at: at + (1 << 20)] * scale), -scale, scale - 1)
            if bits == 16:
                w.writeframesraw(ints.astype("<i2").tobytes())
            else:
                w.writeframesraw(ints.astype("<i4").view(np.uint8).reshape(-1, 4)[:, :3].tobytes())
    os.replace(temporary, path)


def read_wav(path):
    """A side's samples as float (frames, channels) on the -1..1 scale, and its rate."""
    with wave.open(path, "rb") as w:
        channels, width, rate, frames = w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()
        data = w.readframes(frames)
    if width == 2:
        ints = np.frombuffer(data, dtype="<i2").astype(np.int32)
    elif width == 3:
        raw = np.frombuffer(data, dtype=np.uint8).reshape(-1, 3).astype(np.int32)
        ints = raw[:, 0] | (raw[:, 1] << 8) | (raw[:, 2] << 16)
        ints = np.where(ints >= 1 << 23, ints - (1 << 24), ints)
    else:
        raise ValueError("%s: %d-byte samples" % (path, width))
    return ints.reshape(-1, channels) / float(2 ** (8 * width - 1)), rate


class SideFiles:
    def __init__(self, cache, set_name, name):
        folder = os.path.join(cache, set_name)
        self.folder = folder
        self.wav = os.path.join(folder, name + ".wav")
        self.truth = os.path.join(folder, name + ".json")
        self.names = os.path.join(folder, name + ".txt")


def cached_truth(files, stamp):
    """The truth of a side already made by this very generator, or None."""
    try:
        with open(files.truth) as f:
            truth = json.load(f)
        if truth.get("stamp") != stamp or not os.path.exists(files.names):
            return None
        expected = 44 + truth["frames"] * truth["channels"] * truth["bits"] // 8
        if os.path.getsize(files.wav) != expected:
            return None
        return truth
    except (OSError, ValueError, KeyError):
        return None


def make_side(plan, cache, catalogue_source, log):
    """The side's truth, making the side first unless it is cached."""
    set_name, name, kind, seed, options = plan
    files = SideFiles(cache, set_name, name)
    stamp = source_stamp()
    truth = cached_truth(files, stamp)
    if truth is not None:
        return files, truth
    log("making %s/%s" % (set_name, name))
    os.makedirs(files.folder, exist_ok=True)
    rng = np.random.default_rng(seed)
    rate, channels, bits = options["rate"], options["channels"], options["bits"]
    has_noise = options.get("noise") is not None
    # The noise's levels are drawn first, so that quiet passages can be kept
    # above them; the noise itself is made once the side's length is known.
    noise_rng = np.random.default_rng(seed + 500000)
    recipe = noise_recipe(noise_rng, options)
    noise_level = expected_noise_db(recipe) if has_noise else AUDIBLE_WITHOUT_NOISE_DBFS

    tracks, notes = [], []
    if kind == "music":
        catalogue = catalogue_source()
        count = int(rng.integers(options["tracks"][0], options["tracks"][1] + 1))
        lengths = rng.uniform(*options["length"], size=count)
        max_side = options.get("max_side", 660.0)
        if lengths.sum() > max_side:
            lengths = np.maximum(options["length"][0], lengths * max_side / lengths.sum())
        used = set()
        for length in lengths:
            x, note = music_track(rng, catalogue, float(length), rate, channels, options, used,
                                  noise_level, options["gap"][1])
            tracks.append(x)
            notes.append(note)
    else:
        count = int(rng.integers(options["pieces"][0], options["pieces"][1] + 1))
        for _ in range(count):
            x, note = speech_piece(rng, rate, channels, options)
            tracks.append(x)
            notes.append(note)

    lead = float(rng.uniform(*options["edge"]))
    runout = float(rng.uniform(*options["edge"]))
    gaps = [float(rng.uniform(*options["gap"])) for _ in range(len(tracks) - 1)]
    offsets = []
    position = int(lead * rate)
    for k, x in enumerate(tracks):
        offsets.append(position)
        position += len(x) + (int(gaps[k] * rate) if k < len(gaps) else 0)
    frames = position + int(runout * rate)

    side = np.zeros((frames, channels))
    for x, at in zip(tracks, offsets):
        side[at: at + len(x)] += x
    noise, dc, described = make_noise(noise_rng, frames, rate, channels, recipe, options)
    side += noise
    side += dc[None, :]
    write_wav(files.wav, side, rate, bits)
    del side

    names = titles(rng, len(tracks))
    entries = []
    for k, (x, at) in enumerate(zip(tracks, offsets)):
        under = noise[at: at + len(x)] if has_noise else None
        first, last, threshold_db, noise_db = audible_span(x, under, rate)
        entries.append({
            "title": names[k],
            "first_audible": at + first,
            "last_audible": at + last,
            "placed_start": at,
            "placed_end": at + len(x),
            "threshold_dbfs": round(threshold_db, 2),
            "noise_dbfs": None if noise_db is None else round(noise_db, 2),
            "made_of": notes[k],
        })
    truth = {
        "stamp": stamp,
        "set": set_name,
        "side": name,
        "rate": rate,
        "channels": channels,
        "bits": bits,
        "frames": frames,
        "noise": described,
        "gaps": [round(g, 3) for g in gaps],
        "audible": ("50 ms RMS of the clean track at or above the 50 ms RMS of the noise under it "
                    "(median) minus 10 dB" if has_noise else "50 ms RMS of the track at or above -60 dBFS"),
        "tracks": entries,
    }
    with open(files.names, "w") as f:
        f.write("Album: %s\n" % name)
        for k, entry in enumerate(entries):
            seconds = (entry["last_audible"] + 1 - entry["first_audible"]) / rate
            f.write("%d. %s (%s)\n" % (k + 1, entry["title"], mmss(seconds)))
    with open(files.truth + ".part", "w") as f:
        json.dump(truth, f, indent=1)
    os.replace(files.truth + ".part", files.truth)
    return files, truth
