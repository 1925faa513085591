#!/usr/bin/env python3
"""Run vantu_bench once per kernel level and print the levels side by side.

    python3 bench/report.py [--bench build/bench/bench/vantu_bench] [--repetitions 5]
                            [--min-time 0.2] [--levels avx512,avx2,sse2,portable,reference]
                            [--filter REGEX] [--save run.json | --json run.json] [--results-dir DIR]
    python3 bench/report.py --side-by-side bench/results/*.json

Each level runs in its own process with VANTU_SIMD set to it (a level may
name its variant: avx512/masked); memset/memcpy, SDL2 and the inlined loop
run again in every level's process, so that a ratio compares times taken
minutes apart at most, under the same load; pixman and the plain palette
loop run once, in the first process. A ratio is the peer's time divided by
ours (above 1: ours is faster), from the medians of CPU time over the
repetitions (CPU time, because the machine may be shared). Levels the CPU
lacks are left out.

The run's CPU (maker, family, model, name, the extensions the kernels use)
heads the output, and the results are kept as
bench/results/<maker>-f<family>-m<model>.json (--results-dir; "" keeps none),
one file per CPU, which --side-by-side sets next to each other.
"""
import argparse
import json
import os
import re
import subprocess
import sys

ALL_LEVELS = ["avx512", "avx2", "sse2", "portable", "reference"]
# Peers timed in every level's process; the others in the first one only.
EVERY_PROCESS = ("libc", "sdl2", "loop")
# Bottom-up scenes ("...up") against the same case top-down: as fast.
UP_TARGET = 0.95
# The chosen level may trail a lower one by this much before it counts as slower:
# the spread of repeated runs on a shared machine.
SLOWER_MARGIN = 0.03


def level_of(name):
    return name.split("/")[0]


def targets_for(level, op, scene, depth):
    """{peer: minimum ratio} that `level` must reach in one case; "sdl2" means the SDL2 rule (see meets)."""
    level = level_of(level)
    keyed = op.startswith("keyed")
    sprites = scene == "sprites64"
    t = {}
    if scene == "sprites8":  # the 8x8 keyed sprite: per call, at every level but the reference loops
        return {"loop": 1.0, "sdl2": 1.5} if keyed and level != "reference" else {}
    if scene == "sprites8-32":  # per-call cost: compared with earlier runs, not with a peer
        return t
    if op == "expand":
        return {"libc": 0.9} if level in ("avx512", "avx2") else {}
    if op == "screen_color":
        return {"plain": 4.0} if level in ("avx512", "avx2", "sse2") else {}
    if level in ("avx512", "avx2"):
        if op in ("clear", "copy"):
            t["libc"] = 0.5 if op == "clear" and depth == 24 else 0.95
        elif keyed:
            t["libc"] = 0.5 if depth == 24 else 1.0 if sprites else 0.85 if depth == 32 else 0.9
            t["sdl2"] = 3.0
    elif level == "sse2":
        if keyed:
            t["libc"] = 0.5 if depth == 24 else 0.9 if sprites else 0.8
            t["sdl2"] = 3.0
    elif level == "portable":
        if keyed:
            t["libc"] = 0.5 if depth == 24 else 0.75
            t["sdl2"] = 3.0
        elif op == "clear":
            t["libc"] = 0.5 if depth == 24 else 0.9
    if scene.endswith("up") and t:
        t = {"libc": t.get("libc"), "topdown": UP_TARGET}
        if t["libc"] is None:
            del t["libc"]
    return t


def meets(peer, ratio, want, impls, level):
    """Whether `ratio` against `peer` meets `want`. Against SDL2 (not in the 8x8 case): 3x, or 1.0x memcpy
    where SDL2 itself runs above a third of memcpy's speed."""
    if ratio >= want:
        return True
    if peer == "sdl2" and want == 3.0:
        libc, sdl, ours = peer_time(impls, "libc", level), peer_time(impls, "sdl2", level), impls.get(("ours", level))
        if libc and sdl and ours and libc / sdl > 1 / 3:
            return libc / ours >= 1.0
    return False


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


def run_bench(args, level, first):
    cmd = [args.bench, "--benchmark_format=json", f"--benchmark_repetitions={args.repetitions}",
           "--benchmark_report_aggregates_only=true", f"--benchmark_min_time={args.min_time}"]
    pattern = args.filter or "."
    if not first:
        pattern = f"({pattern}).*/(ours|{'|'.join(EVERY_PROCESS)})$"
    cmd.append(f"--benchmark_filter={pattern}")
    env = dict(os.environ, VANTU_SIMD=level)
    print(f"running ({level}):", " ".join(cmd), file=sys.stderr)
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True, env=env).stdout
    return json.loads(out)


def collect(runs):
    """{(op, scene, depth): {("ours"|peer, level) or peer: median}}, and cvs of ours."""
    cases, cvs, errors = {}, {}, {}
    for level, data in runs.items():
        for b in data["benchmarks"]:
            name = b.get("run_name", b["name"])
            op, scene, depth, impl = name.split("/")[:4]
            key = (op, scene, int(depth))
            slot = (impl, level) if impl == "ours" or impl in EVERY_PROCESS else impl
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
                if isinstance(slot, tuple) and slot[0] == "ours":
                    impls[("topdown", slot[1])] = t
    return cases, cvs, errors


def peer_time(impls, peer, level):
    """The peer's time from `level`'s own process, or from the first process."""
    got = impls.get((peer, level))
    return got if got is not None else impls.get(peer)


def describe_cpu(runs):
    ctx = next(iter(runs.values())).get("context", {})
    return {k: ctx.get(k, "?") for k in ("cpu", "cpu_name", "cpu_flags", "host_name", "num_cpus", "mhz_per_cpu")}


def results_name(cpu):
    m = re.match(r"(\S+) family (\d+) \S+ model (\d+)", cpu.get("cpu", ""))
    return f"{m.group(1).lower()}-f{m.group(2)}-m{m.group(3)}.json" if m else "unknown-cpu.json"


def print_table(runs):
    levels = list(runs)
    cases, cvs, errors = collect(runs)
    cpu = describe_cpu(runs)
    loads = ", ".join(f"{lv} {' '.join(f'{x:.2f}' for x in runs[lv].get('context', {}).get('load_avg', []))}"
                      for lv in levels)
    chosen = ", ".join(f"{lv}: {runs[lv].get('context', {}).get('kernels', '?')}" for lv in levels)
    print(f"# CPU: {cpu['cpu']}, \"{cpu['cpu_name']}\"; extensions the kernels use: {cpu['cpu_flags']}")
    print(f"# {cpu['num_cpus']} CPUs at {cpu['mhz_per_cpu']} MHz; kernels per process: {chosen}")
    print(f"# load average at each level's start: {loads}")
    print()
    print("Ratios: the peer's time over ours (above 1: ours faster). Clear, copy and expand rows: against")
    print("memset/memcpy; keyed rows: against memcpy / against SDL2 (8x8 sprites: / against an inlined loop);")
    print("bottom-up rows (...up): against memset/memcpy / against our own top-down time; the palette row:")
    print("against the plain loop. A ratio under its target is marked *; the top level slower than a lower one")
    print(f"(by more than {100 * SLOWER_MARGIN:.0f}%) is marked <.")
    print()
    header = ["case", "libc us"] + levels
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    misses, slower = [], []
    top = levels[0]
    for (op, scene, depth), impls in cases.items():
        key = (op, scene, depth)
        if not any(isinstance(s, tuple) and s[0] == "ours" for s in impls):
            continue
        if op == "screen_color":
            peers = ["plain"]
        elif scene.endswith("up"):
            peers = ["libc", "topdown"]
        elif op.startswith("keyed"):
            peers = ["libc", "sdl2"] + (["loop"] if scene == "sprites8" else [])
        else:
            peers = ["libc"]
        base = peer_time(impls, "libc", top) or impls.get("plain")
        cells = [f"{op} {scene} {depth}-bit", f"{base:.1f}" if base is not None else ""]
        # Ours against the first peer, level by level: is the top level the fastest?
        speed = {lv: (peer_time(impls, peers[0], lv) or 0) / impls[("ours", lv)]
                 for lv in levels if impls.get(("ours", lv))}
        for lv in levels:
            ours = impls.get(("ours", lv))
            if ours is None:
                cells.append(errors.get((key, ("ours", lv)), ""))
                continue
            want = targets_for(lv, op, scene, depth)
            parts = []
            for peer in peers:
                got = impls.get((peer, lv)) if peer == "topdown" else peer_time(impls, peer, lv)
                if got is None:
                    parts.append("n/a" if (key, peer) in errors else "-")
                    continue
                ratio = got / ours
                text = f"{ratio:.2f}x"
                if peer in want and not meets(peer, ratio, want[peer], impls, lv):
                    text += "*"
                    misses.append(f"{lv}: {op} {scene} {depth}-bit vs {peer} {ratio:.2f}x, target {want[peer]:g}x")
                parts.append(text)
            if lv == top and speed.get(top):
                faster = [(o, s) for o, s in speed.items() if o != top and level_of(o) != "reference" and
                          s > speed[top] * (1 + SLOWER_MARGIN)]
                if faster:
                    parts[-1] += "<"
                    slower.append(f"{op} {scene} {depth}-bit: {top} {speed[top]:.2f}x, " +
                                  ", ".join(f"{o} {s:.2f}x" for o, s in faster))
            cells.append(" / ".join(parts))
        print("| " + " | ".join(cells) + " |")

    sprite_cases = [(k, v) for k, v in cases.items() if k[1].startswith("sprites")]
    if sprite_cases:
        print()
        print("Per call (256 calls a round), ns, median CPU time; peers from the top level's process:")
        print()
        header = ["case", "libc", "sdl2", "loop"] + levels
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for (op, scene, depth), impls in sprite_cases:
            cells = [f"{op} {scene} {depth}-bit"]
            for t in [peer_time(impls, p, top) for p in ("libc", "sdl2", "loop")] + \
                     [impls.get(("ours", lv)) for lv in levels]:
                cells.append(f"{1000 * t / 256:.0f}" if t is not None else "")
            print("| " + " | ".join(cells) + " |")

    noisy = [f"{k[0]} {k[1]} {k[2]}-bit at {s[1]} ({100 * cv:.0f}%)" for (k, s), cv in cvs.items()
             if isinstance(s, tuple) and s[0] == "ours" and cv > 0.05]
    print()
    if noisy:
        print("Our times varying by more than 5% over the repetitions: " + "; ".join(noisy))
        print()
    print(f"{len(misses)} cell(s) miss a target" + (":" if misses else ""))
    for m in misses:
        print(f"- {m}")
    print(f"{len(slower)} cell(s) where the top level is slower than a lower one" + (":" if slower else ""))
    for s in slower:
        print(f"- {s}")


def side_by_side(paths):
    """Each CPU's top level (its first column) against memcpy/memset or the case's first peer."""
    files = []
    for path in paths:
        with open(path) as f:
            runs = json.load(f)
        cases, _, _ = collect(runs)
        cpu = describe_cpu(runs)
        files.append((f"{cpu['cpu']} ({list(runs)[0]})", list(runs)[0], cases))
    print("| case | " + " | ".join(name for name, _, _ in files) + " |")
    print("|" + "---|" * (len(files) + 1))
    keys = []
    for _, _, cases in files:
        keys += [k for k in cases if k not in keys]
    for key in keys:
        cells = []
        for _, top, cases in files:
            impls = cases.get(key, {})
            ours = impls.get(("ours", top))
            peer = "plain" if key[0] == "screen_color" else "libc"
            got = peer_time(impls, peer, top)
            cells.append(f"{got / ours:.2f}x" if ours and got else "")
        print(f"| {key[0]} {key[1]} {key[2]}-bit | " + " | ".join(cells) + " |")


KEPT = ("name", "run_name", "run_type", "aggregate_name", "cpu_time", "real_time", "time_unit", "iterations",
        "error_occurred", "error_message")


def compact(runs):
    """The runs with only what the tables read (and the whole context)."""
    return {lv: {"context": data.get("context", {}),
                 "benchmarks": [{k: b[k] for k in KEPT if k in b} for b in data["benchmarks"]
                                if b.get("aggregate_name") not in ("mean", "stddev")]}
            for lv, data in runs.items()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench", default="build/bench/bench/vantu_bench")
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--min-time", default="0.2")
    ap.add_argument("--levels", default=",".join(ALL_LEVELS))
    ap.add_argument("--filter", default="")
    ap.add_argument("--json", help="read saved results instead of running")
    ap.add_argument("--save", help="keep the results in this file as well")
    ap.add_argument("--results-dir", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "results"))
    ap.add_argument("--side-by-side", nargs="+", metavar="JSON")
    args = ap.parse_args()
    if args.side_by_side:
        side_by_side(args.side_by_side)
        return
    if args.json:
        with open(args.json) as f:
            runs = json.load(f)
    else:
        have = cpu_levels()
        levels = [lv for lv in args.levels.split(",") if level_of(lv) in have]
        runs = {lv: run_bench(args, lv, i == 0) for i, lv in enumerate(levels)}
        targets = [args.save] if args.save else []
        if args.results_dir:
            os.makedirs(args.results_dir, exist_ok=True)
            targets.append(os.path.join(args.results_dir, results_name(describe_cpu(runs))))
        for path in targets:
            with open(path, "w") as f:
                json.dump(compact(runs), f, indent=0)
            print(f"results kept in {path}", file=sys.stderr)
    print_table(runs)


if __name__ == "__main__":
    main()
