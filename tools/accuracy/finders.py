"""Two simple track finders to compare Corvella with, and the rule that
judges a side's parts against its truth.

Both finders are given the number of tracks N, as `--tracks N` is.

  fixed floor (A)  a frame is silent when every channel's |sample| is at or
                   under -50 dBFS; the N-1 longest runs of silent frames
                   between the first and the last loud frame part the side,
                   and each part runs from its first loud frame to its last.
  RMS profile (B)  the RMS level of every 0.1 s block, smoothed by a running
                   median of 7 blocks; a threshold a third of the way from
                   the quietest smoothed level to the median one (in dB);
                   gaps are runs under it of at least 1 s, and the N-1
                   longest part the side. Each track's edges are then moved
                   out into the gaps beside it while the level stays above
                   that gap's own noise: its median level plus 3 dB.
"""

import numpy as np

LATE_LIMIT_S = 0.3   # a part may start at most this long after its track's sound
HELD_LIMIT_S = 0.2   # and hold at most this much of another track's sound
MOST_LISTED = 4      # cuts inside tracks named one by one in a side's problems


def runs(mask):
    """(start, end) of each run of True in MASK, end exclusive."""
    padded = np.concatenate(([False], mask, [False])).astype(np.int8)
    edges = np.flatnonzero(np.diff(padded))
    return list(zip(edges[::2].tolist(), edges[1::2].tolist()))


def longest(gaps, count):
    """The COUNT longest gaps, in the order they come (ties: the earlier)."""
    ranked = sorted(range(len(gaps)), key=lambda k: (-(gaps[k][1] - gaps[k][0]), k))
    return sorted(gaps[k] for k in ranked[:count])


def fixed_floor(samples, tracks, floor_dbfs=-50.0):
    """Baseline A: parts as (start, end) frames."""
    floor = 10.0 ** (floor_dbfs / 20.0)
    loud = np.max(np.abs(samples), axis=1) > floor
    where = np.flatnonzero(loud)
    if len(where) == 0:
        return []
    first, last = int(where[0]), int(where[-1])
    silences = [(a + first, b + first) for a, b in runs(~loud[first: last + 1])]
    cuts = longest(silences, tracks - 1)
    parts, start = [], first
    for a, b in cuts:
        parts.append((start, a))
        start = b
    parts.append((start, last + 1))
    return parts


def rms_profile(samples, rate, tracks, block_s=0.1, median_blocks=7, min_gap_s=1.0, above_gap_db=3.0):
    """Baseline B: parts as (start, end) frames."""
    block = int(round(block_s * rate))
    count = len(samples) // block
    if count < median_blocks:
        return []
    power = np.mean(samples[: count * block] ** 2, axis=1).reshape(count, block).mean(axis=1)
    level = 10.0 * np.log10(np.maximum(power, 1e-20))
    half = median_blocks // 2
    padded = np.concatenate((np.full(half, level[0]), level, np.full(half, level[-1])))
    smooth = np.median(np.lib.stride_tricks.sliding_window_view(padded, median_blocks), axis=1)
    quietest, typical = float(smooth.min()), float(np.median(smooth))
    threshold = quietest + (typical - quietest) / 3.0
    above = np.flatnonzero(smooth >= threshold)
    if len(above) == 0:
        return []
    first, last = int(above[0]), int(above[-1])
    gaps = [(a + first, b + first) for a, b in runs(smooth[first: last + 1] < threshold)
            if b - a >= int(round(min_gap_s / block_s))]
    cuts = longest(gaps, tracks - 1)
    # The quiet stretches around each track: the lead-in, the chosen gaps,
    # the run-out.
    quiet = [(0, first)] + cuts + [(last + 1, count)]
    parts = []
    for k in range(len(quiet) - 1):
        start, end = quiet[k][1], quiet[k + 1][0]   # blocks [start, end)
        before, after = quiet[k], quiet[k + 1]
        if before[1] > before[0]:
            local = float(np.median(smooth[before[0]: before[1]])) + above_gap_db
            while start > before[0] and smooth[start - 1] >= local:
                start -= 1
        if after[1] > after[0]:
            local = float(np.median(smooth[after[0]: after[1]])) + above_gap_db
            while end < after[1] and smooth[end] >= local:
                end += 1
        parts.append((start * block, min(len(samples), end * block)))
    return parts


def judge(parts, truth):
    """How PARTS (start, end) frames match the side's tracks.

    Returns a dict: count, exact (N parts, every edge within the limits),
    worst (the most sound wrong at any edge, seconds: own sound cut off or
    another track's held; None without N parts), errors (that amount at
    every edge), edges (per track: how late it starts and how early it ends,
    seconds; negative where it starts before or ends after), good (tracks
    whose both edges are within the limits) and problems (sentences about
    what is wrong, with times on the side).
    """
    rate = truth["rate"]
    spans = [(t["first_audible"], t["last_audible"] + 1) for t in truth["tracks"]]
    n = len(spans)
    result = {"count": len(parts), "exact": False, "worst": None, "edges": [], "errors": [],
              "good": 0, "problems": []}
    problems = result["problems"]
    for k, part in enumerate(parts):
        if sum(overlap(part, span) for span in spans) <= HELD_LIMIT_S * rate:
            problems.append("part %d (%s-%s) holds no track, only noise" % (k + 1, ts(part[0] / rate),
                                                                          ts(part[1] / rate)))
    if len(parts) != n:
        problems.extend(describe_cuts(parts, spans, rate))
        return result
    worst, good = 0.0, 0
    for k, ((s, e), (a, b)) in enumerate(zip(parts, spans)):
        late = (s - a) / rate
        early = (b - e) / rate
        held_before = sum(overlap((s, e), spans[j]) for j in range(k)) / rate
        held_after = sum(overlap((s, e), spans[j]) for j in range(k + 1, n)) / rate
        start_error = max(late, held_before, 0.0)
        end_error = max(early, held_after, 0.0)
        worst = max(worst, start_error, end_error)
        result["edges"].append((late, early))
        result["errors"] += [start_error, end_error]
        ok = True
        label = "track %d (%s-%s)" % (k + 1, ts(a / rate), ts(b / rate))
        if late > LATE_LIMIT_S:
            problems.append("%s: part starts at %s, %.2f s into it" % (label, ts(s / rate), late))
            ok = False
        if early > LATE_LIMIT_S:
            problems.append("%s: part ends at %s, %.2f s before its end" % (label, ts(e / rate), early))
            ok = False
        if held_before > HELD_LIMIT_S:
            problems.append("%s: part starts at %s, holding %.2f s of the track before"
                            % (label, ts(s / rate), held_before))
            ok = False
        if held_after > HELD_LIMIT_S:
            problems.append("%s: part ends at %s, holding %.2f s of the track after"
                            % (label, ts(e / rate), held_after))
            ok = False
        good += ok
    result["worst"] = worst
    result["good"] = good
    result["exact"] = good == n
    return result


def overlap(a, b):
    return max(0, min(a[1], b[1]) - max(a[0], b[0]))


def describe_cuts(parts, spans, rate):
    """Where a wrong number of parts went wrong: cuts inside a track's sound,
    and gaps between tracks that no cut falls in."""
    out = []
    cuts = [(parts[k][1], parts[k + 1][0]) for k in range(len(parts) - 1)]
    inside = []
    for c0, c1 in cuts:
        for k, (a, b) in enumerate(spans):
            if a < c0 and c1 < b:
                inside.append("cut %s-%s inside track %d (%s-%s)" % (ts(c0 / rate), ts(c1 / rate), k + 1,
                                                                     ts(a / rate), ts(b / rate)))
    out.extend(inside[:MOST_LISTED])
    if len(inside) > MOST_LISTED:
        out.append("%d more cuts inside tracks" % (len(inside) - MOST_LISTED))
    for k in range(len(spans) - 1):
        g0, g1 = spans[k][1], spans[k + 1][0]
        if not any(c0 < g1 and c1 > g0 for c0, c1 in cuts):
            out.append("no cut between tracks %d and %d (%s-%s)" % (k + 1, k + 2, ts(g0 / rate),
                                                                    ts(g1 / rate)))
    if parts:
        if parts[0][0] > spans[0][1]:
            out.append("the first part starts at %s, after track 1" % ts(parts[0][0] / rate))
        if parts[-1][1] < spans[-1][0]:
            out.append("the last part ends at %s, before the last track" % ts(parts[-1][1] / rate))
    return out


def ts(seconds):
    minutes = int(seconds // 60)
    return "%d:%05.2f" % (minutes, seconds - 60 * minutes)
