#!/usr/bin/env python3
"""Figures of one benchmark run with repetitions (Google Benchmark's JSON output), used by
scripts/bench.sh and the scripts in scripts/bench.d.

  bench_figures.py RUN.json [--speed] [--cpu] PAIR [PAIR ...]

A PAIR is OURS=PEER, or OURS=PEER@TARGET. Each benchmark's figure is the median of its
repetitions with their spread (lowest-highest). The repetitions of all benchmarks are run
interleaved in a random order, so repetition i of ours and of the peer met the same load;
the ratio is the one of the medians, and beside it the spread of the per-repetition ratios.

Without --speed a ratio is OURS's time as a multiple of PEER's (below 1: faster than the
peer); with --speed it is PEER's time over OURS's (above 1: faster). --cpu adds the ratio of
the median processor times. A PEER left empty (OURS=) prints OURS's time alone.
"""
import json
import statistics
import sys

COUNTERS = ("peak_rss_MiB", "peak_growth_MiB", "image_MiB", "file_MiB", "maxdiff")


def main(argv):
    speed = "--speed" in argv
    cpu = "--cpu" in argv
    args = [a for a in argv if a not in ("--speed", "--cpu")]
    if len(args) < 2:
        sys.exit(__doc__)
    runs = json.load(open(args[0]))["benchmarks"]
    real, proc, counters, errors, unit = {}, {}, {}, {}, {}
    for b in runs:
        if b.get("run_type", "iteration") != "iteration":
            continue
        # The name without its settings ("/min_time:1.000"); a captured case keeps its label.
        name = "/".join(part for part in b.get("run_name", b["name"]).split("/") if ":" not in part)
        if b.get("error_occurred"):
            errors[name] = b.get("error_message", "failed")
            continue
        real.setdefault(name, []).append(b["real_time"])
        proc.setdefault(name, []).append(b["cpu_time"])
        counters[name] = {k: b[k] for k in COUNTERS if k in b}
        unit[name] = b.get("time_unit", "ns")

    def figure(name):
        t = real[name]
        u = unit[name]
        return f"{name}: {statistics.median(t):.1f} {u} ({min(t):.1f}-{max(t):.1f})"

    failed = False
    for pair in args[1:]:
        ours, _, rest = pair.partition("=")
        peer, _, target = rest.partition("@")
        missing = [n for n in (ours, peer) if n and n not in real]
        if missing:
            for n in missing:
                print(f"{n}: {errors.get(n, 'not run')}")
            failed = True
            continue
        line = figure(ours)
        if peer:
            o, p = real[ours], real[peer]
            if speed:
                ratio, each = statistics.median(p) / statistics.median(o), [b / a for a, b in zip(o, p)]
                cpu_ratio = statistics.median(proc[peer]) / statistics.median(proc[ours])
            else:
                ratio, each = statistics.median(o) / statistics.median(p), [a / b for a, b in zip(o, p)]
                cpu_ratio = statistics.median(proc[ours]) / statistics.median(proc[peer])
            line += f", {figure(peer)}: {ratio:.2f} x"
            if len(each) > 1:
                line += f" (runs {min(each):.2f}-{max(each):.2f})"
            if cpu:
                line += f", cpu time {cpu_ratio:.2f} x"
            if target:
                line += f"; target {target}"
        for key, value in counters.get(ours, {}).items():
            line += f"  {key}={value:.0f}"
        print(line)
    n = min((len(t) for t in real.values()), default=0)
    print(f"  (medians of {n} interleaved runs; spread lowest-highest)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
