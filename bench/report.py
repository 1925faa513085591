#!/usr/bin/env python3
"""Run vantu_bench once per kernel level and print the levels side by side.

    python3 bench/report.py [--bench build/bench/bench/vantu_bench] [--repetitions 5]
                            [--min-time 0.2] [--levels avx512,avx2,sse2,portable,reference]
                            [--filter REGEX] [--save run.json | --json run.json]

Each level runs in its own process with VANTU_SIMD set to it; the peers
(memset/memcpy, SDL2, pixman, the plain palette loop) do not depend on the
level and run once, in the first level's process. A ratio is the peer's time
divided by ours (above 1: ours is faster), from the medians of CPU time over
the repetitions (CPU time, because the machine may be shared). Levels the CPU
lacks are left out.
"""
import argparse
import json
import os
import subprocess
import sys

ALL_LEVELS = ["avx512", "avx2", "sse2", "portable", "reference"]
# Bottom-up scenes ("...up") against the same case top-down: as fast.
UP_TARGET = 0.95


def targets_for(level, op, scene, depth):
    """{peer: minimum ratio} that `level` must reach in one case."""
    keyed = op.startswith("keyed")
    big_sprites = scene == "sprites64"
    t = {}
    if scene == "sprites8-32":  # per-call cost: compared with earlier runs, not with a peer
        return t
    if level == "avx512":
        if op in ("clear", "copy"):
            t["libc"] = 0.5 if op == "clear" and depth == 24 else 0.95
        elif keyed:
            t["libc"] = 0.5 if depth == 24 else 0.9
            t["sdl2"] = 20.0 if op == "keyed_noise" else 3.0
        elif op == "screen_color":
            t["plain"] = 4.0
    elif level == "avx2":
        if op in ("clear", "copy"):
            t["libc"] = 0.5 if op == "clear" and depth == 24 else 0.95
        elif keyed:
            t["libc"] = 0.5 if depth == 24 else 1.0 if big_sprites else 0.85 if depth == 32 else 0.9
            t["sdl2"] = 3.0
    elif level == "sse2":
        if keyed:
            t["libc"] = 0.5 if depth == 24 else 0.9 if big_sprites else 0.75
            t["sdl2"] = 3.0
        elif op == "screen_color":
            t["plain"] = 4.0
    elif level == "portable":
        if keyed:
            t["sdl2"] = 3.0
        elif op == "clear":
            t["libc"] = 0.5 if depth == 24 else 0.9
    if scene.endswith("up") and t:
        t = {"libc": t.get("libc"), "topdown": UP_TARGET}
        if t["libc"] is None:
            del t["libc"]
    return t


def cpu_levels():
    """The levels this machine can run (all of them where that cannot be told)."""
    try:
        with open("/proc/cpuinfo") as f:
            flags = next((line.split(":", 1)[1].split() for line in f if line.startswith("flags")), None)
    except OSError:
        flags = None
    if flags is None:
        return set(ALL_LEVELS)
    have = {"reference", "portable"}
    if "sse2" in flags:
        have.add("sse2")
    if "avx2" in flags:
        have.add("avx2")
    if {"avx512f", "avx512bw", "avx512vl"} <= set(flags):
        have.add("avx512")
    return have


def run_bench(args, level, peers):
    cmd = [args.bench, "--benchmark_format=json", f"--benchmark_repetitions={args.repetitions}",
           "--benchmark_report_aggregates_only=true", f"--benchmark_min_time={args.min_time}"]
    pattern = args.filter or "."
    if not peers:  # ours only
        pattern = f"({pattern}).*/ours$"
    cmd.append(f"--benchmark_filter={pattern}")
    env = dict(os.environ, VANTU_SIMD=level)
    print(f"running ({level}):", " ".join(cmd), file=sys.stderr)
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True, env=env).stdout
    return json.loads(out)


def collect(runs):
    """{(op, scene, depth): {peer: median, ("ours", level): median}}, and cvs of ours."""
    cases, cvs, errors = {}, {}, {}
    for level, data in runs.items():
        for b in data["benchmarks"]:
            name = b.get("run_name", b["name"])
            op, scene, depth, impl = name.split("/")[:4]
            key = (op, scene, int(depth))
            slot = ("ours", level) if impl == "ours" else impl
            entry = cases.setdefault(key, {})
            if b.get("error_occurred"):
                errors[(key, slot)] = b.get("error_message", "error")
            elif b.get("aggregate_name") == "median":
                entry[slot] = b["cpu_time"]
            elif b.get("aggregate_name") == "cv":
                cvs[(key, slot)] = b["cpu_time"]
            elif b.get("run_type", "iteration") == "iteration" and slot not in entry:
                entry[slot] = b["cpu_time"]
    for key, impls in cases.items():  # ours top-down, as a peer of ours bottom-up
        op, scene, depth = key
        if scene.endswith("up"):
            for slot, t in cases.get((op, scene[:-2], depth), {}).items():
                if isinstance(slot, tuple):
                    impls[("topdown", slot[1])] = t
    return cases, cvs, errors


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench", default="build/bench/bench/vantu_bench")
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--min-time", default="0.2")
    ap.add_argument("--levels", default=",".join(ALL_LEVELS))
    ap.add_argument("--filter", default="")
    ap.add_argument("--json", help="read saved results instead of running")
    ap.add_argument("--save", help="keep the results in this file")
    args = ap.parse_args()
    if args.json:
        with open(args.json) as f:
            runs = json.load(f)
    else:
        have = cpu_levels()
        levels = [lv for lv in args.levels.split(",") if lv in have]
        runs = {lv: run_bench(args, lv, i == 0) for i, lv in enumerate(levels)}
        if args.save:
            with open(args.save, "w") as f:
                json.dump(runs, f)
    levels = list(runs)
    cases, cvs, errors = collect(runs)

    ctx = next(iter(runs.values())).get("context", {})
    loads = ", ".join(f"{lv} {' '.join(f'{x:.2f}' for x in runs[lv].get('context', {}).get('load_avg', []))}"
                      for lv in levels)
    print(f"# {ctx.get('host_name', '?')}, {ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz; "
          f"load average at each level's start: {loads}")
    print()
    print("Ratios: the peer's time over ours (above 1: ours faster). Clear and copy rows: against memset/memcpy;")
    print("keyed rows: against memcpy / against SDL2; bottom-up rows (...up): against memset/memcpy / against our")
    print("own top-down time; the palette row: against the plain loop. A ratio under its target is marked *.")
    print()
    header = ["case", "libc us"] + levels
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    misses = []
    for (op, scene, depth), impls in cases.items():
        key = (op, scene, depth)
        if not any(isinstance(s, tuple) and s[0] == "ours" for s in impls):
            continue
        if op == "screen_color":
            peers = ["plain"]
        elif scene.endswith("up"):
            peers = ["libc", "topdown"]
        elif op.startswith("keyed"):
            peers = ["libc", "sdl2"]
        else:
            peers = ["libc"]
        base = impls.get("libc", impls.get("plain"))
        cells = [f"{op} {scene} {depth}-bit", f"{base:.1f}" if base is not None else ""]
        for lv in levels:
            ours = impls.get(("ours", lv))
            if ours is None:
                cells.append(errors.get((key, ("ours", lv)), ""))
                continue
            want = targets_for(lv, op, scene, depth)
            parts = []
            for peer in peers:
                got = impls.get((peer, lv) if peer == "topdown" else peer)
                if got is None:
                    parts.append("n/a" if (key, peer) in errors else "-")
                    continue
                ratio = got / ours
                text = f"{ratio:.2f}x"
                if peer in want and ratio < want[peer]:
                    text += "*"
                    misses.append(f"{lv}: {op} {scene} {depth}-bit vs {peer} {ratio:.2f}x, target {want[peer]:g}x")
                parts.append(text)
            cells.append(" / ".join(parts))
        print("| " + " | ".join(cells) + " |")

    sprite_cases = [(k, v) for k, v in cases.items() if k[1].startswith("sprites")]
    if sprite_cases:
        print()
        print("Per call (256 calls a round), ns, median CPU time:")
        print()
        header = ["case", "libc"] + levels
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for (op, scene, depth), impls in sprite_cases:
            cells = [f"{op} {scene} {depth}-bit"]
            for slot in ["libc"] + [("ours", lv) for lv in levels]:
                t = impls.get(slot)
                cells.append(f"{1000 * t / 256:.0f}" if t is not None else "")
            print("| " + " | ".join(cells) + " |")

    noisy = [f"{k[0]} {k[1]} {k[2]}-bit at {s[1]} ({100 * cv:.0f}%)" for (k, s), cv in cvs.items()
             if isinstance(s, tuple) and cv > 0.05]
    print()
    if noisy:
        print("Our times varying by more than 5% over the repetitions: " + "; ".join(noisy))
        print()
    print(f"{len(misses)} cell(s) miss a target" + (":" if misses else ""))
    for m in misses:
        print(f"- {m}")


if __name__ == "__main__":
    main()
