#!/usr/bin/env python3
"""Prints bench/run's tables from its results folder: python3 bench/report.py RESULTS WORK."""
import json
import math
import os
import statistics
import sys

res, work = sys.argv[1], sys.argv[2]


def median_of(path):
    with open(path) as f:
        return statistics.median(json.load(f)["results"][0]["times"])


def peak_rss_mib(path):
    try:
        with open(path) as f:
            values = [int(line) for line in f.read().split() if line.isdigit()]
        return max(values) / 1024 if values else math.nan
    except OSError:
        return math.nan


def load(name):
    return median_of(os.path.join(res, name + ".json")), peak_rss_mib(os.path.join(res, name + ".rss"))


def have(names):
    return all(os.path.exists(os.path.join(res, n + ".json")) for n in names)


# Cases on loopback, no delay: one table, as before.
groups = [
    ("1 GiB fresh download", "big", ["curl", "curlsync", "wget", "aria2"], "curl"),
    ("2,000 x 64 KiB fresh download", "small", ["curl", "wget", "aria2"], "curl"),
    ("verify 1 GiB already complete", "verify", ["md5sum"], "md5sum"),
    ("resume 1 GiB after half cut", "resume", ["curl", "wget", "aria2"], "curl"),
    ("verify game mix already complete", "verify-game", ["md5sum"], "md5sum"),
]
present = [g for g in groups if have([g[1] + "-qb"] + [g[1] + "-" + p for p in g[2]])]
if present:
    print("| case | tool | median s | vs %s | peak RSS MiB |" % "reference")
    print("|---|---|---:|---:|---:|")
    names = {"curlsync": "curl + sync"}
    for title, key, peers, ref in present:
        rows = [("quellbridger-cli", load(key + "-qb"))]
        rows += [(names.get(p, p), load(key + "-" + p)) for p in peers]
        reft = load(key + "-" + ref)[0]
        for tool, (t, rss) in rows:
            print("| %s | %s | %.2f | %.2fx %s | %.1f |" % (title, tool, t, t / reft, ref, rss))
    print()

for text in ("versions.txt", "proxycheck.txt", "ceiling.txt"):
    path = os.path.join(res, text)
    if os.path.exists(path):
        with open(path) as f:
            print(f.read().rstrip())
        print()

# Round trips through the proxy.
rtt_dir = os.path.join(res, "rtt")
ceiling = {}
try:
    with open(os.path.join(res, "ceiling.env")) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            ceiling[key] = float(value)
except OSError:
    pass

corpora = [
    ("small", "2,000 x 64 KiB"),
    ("game", "game mix (300 files, 1 KiB to 64 MiB, 400 MiB)"),
    ("big", "one 1 GiB file"),
]
profiles = [
    ("0", "0 ms", 0.0, None),
    ("20", "20 ms", 0.020, None),
    ("60", "60 ms", 0.060, None),
    ("60cap", "60 ms, 20 MB/s a connection, 100 MB/s in all", 0.060, 100e6),
    ("60tls", "60 ms, https (HTTP/2 offered)", 0.060, None),
]
tools = [
    ("qb", "quellbridger-cli"),
    ("curl-k", "curl -K (one connection)"),
    ("curl-par", "curl --parallel --parallel-immediate --parallel-max 8"),
    ("aria2-j16", "aria2c -j16"),
    ("aria2-x8", "aria2c -x8 -s8"),
    ("curl-par-sync", "curl --parallel as before, then sync (not a peer)"),
]
# What the other tools leave in the page cache we write out before reporting success: this
# column shows their time with that done too, and is not counted as a peer.
not_peers = ("qb", "curl-par-sync")


def cell_time(case, tool):
    """Median seconds, None when not measured, or the string 'failed'."""
    base = os.path.join(rtt_dir, case, tool)
    if os.path.exists(base + ".failed"):
        return "failed"
    if os.path.exists(base + ".ok") and os.path.exists(base + ".json"):
        return median_of(base + ".json")
    return None


def floor_seconds(corpus, rtt, cap):
    # Bytes over the bandwidth plus three round trips (handshake, list, first request). The
    # bandwidth is the total cap, or else what the proxy itself carries on this machine.
    try:
        with open(os.path.join(work, corpus + "-size.txt")) as f:
            size = float(f.read().split()[1])
    except (OSError, IndexError, ValueError):
        return None
    bandwidth = cap
    if bandwidth is None:
        best = max(ceiling.get("proxy1", 0), ceiling.get("proxy8", 0))
        if best <= 0:
            return None
        bandwidth = best * 1e6
    return size / bandwidth + 3 * rtt


rows = []
for corpus, corpus_title in corpora:
    for key, rtt_title, rtt, cap in profiles:
        case = corpus + "@" + key
        if not os.path.isdir(os.path.join(rtt_dir, case)):
            continue
        times = {t: cell_time(case, t) for t, _ in tools}
        if all(v is None for v in times.values()):
            continue
        rows.append((corpus_title, rtt_title, case, times, floor_seconds(corpus, rtt, cap)))

if rows:
    print("Through bench/delay_proxy. Each cell: median s (x the best peer, x the physical floor).")
    print()
    print("| corpus | round trip | floor s | " + " | ".join(t for _, t in tools)
          + " | ours / best | ours / floor | ours peak RSS MiB |")
    print("|---|---|---:|" + "---:|" * len(tools) + "---:|---:|---:|")
    for corpus_title, rtt_title, case, times, floor in rows:
        peers = [v for t, v in times.items() if t not in not_peers and isinstance(v, float)]
        best = min(peers) if peers else None
        cells = []
        for tool, _ in tools:
            v = times[tool]
            if v is None:
                cells.append("–")
            elif v == "failed":
                cells.append("failed")
            else:
                parts = []
                parts.append("%.2fx" % (v / best) if best else "–")
                parts.append("%.2fx" % (v / floor) if floor else "–")
                cells.append("%.2f (%s)" % (v, ", ".join(parts)))
        ours = times["qb"]
        ours_best = "%.2fx" % (ours / best) if isinstance(ours, float) and best else "–"
        ours_floor = "%.2fx" % (ours / floor) if isinstance(ours, float) and floor else "–"
        rss = peak_rss_mib(os.path.join(rtt_dir, case, "qb.rss")) if isinstance(ours, float) else math.nan
        print("| %s | %s | %s | %s | %s | %s | %s |" % (
            corpus_title, rtt_title, "%.2f" % floor if floor else "–", " | ".join(cells),
            ours_best, ours_floor, "–" if math.isnan(rss) else "%.1f" % rss))
