#!/usr/bin/env python3
"""Run vantu_bench and print ours against memset/memcpy and the peers, with targets.

    python3 bench/report.py [--bench build/bench/bench/vantu_bench] [--repetitions 5]
                            [--min-time 0.2] [--json saved.json] [--filter REGEX]

A ratio is the peer's time divided by ours (above 1: ours is faster), from
the medians of CPU time over the repetitions (CPU time, because the machine
may be shared); "cv" is the variation of our time.
"""
import argparse
import json
import subprocess
import sys

# (op, depth) -> {peer: minimum ratio}; depth None applies to every depth
# without its own entry.
TARGETS = {
    ("clear", None): {"libc": 0.95},
    ("clear", 24): {"libc": 0.5},
    ("copy", None): {"libc": 0.95},
    ("keyed_disc", None): {"libc": 0.9, "sdl2": 3.0},
    ("keyed_disc", 24): {"libc": 0.5, "sdl2": 3.0},
    ("keyed_noise", None): {"libc": 0.9, "sdl2": 20.0},
    ("keyed_noise", 24): {"libc": 0.5, "sdl2": 20.0},
    ("screen_color", None): {"plain": 4.0},
}
# Bottom-up scenes ("...up") against the same case top-down: as fast.
UP_TARGET = 0.95
PEERS = ["libc", "sdl2", "pixman", "plain", "topdown"]


def targets_for(op, scene, depth):
    wanted = dict(TARGETS.get((op, depth), TARGETS.get((op, None), {})))
    if scene.endswith("up"):
        wanted = {"libc": wanted.get("libc"), "topdown": UP_TARGET}
    return wanted


def run_bench(args):
    cmd = [args.bench, "--benchmark_format=json", f"--benchmark_repetitions={args.repetitions}",
           "--benchmark_report_aggregates_only=true", f"--benchmark_min_time={args.min_time}"]
    if args.filter:
        cmd.append(f"--benchmark_filter={args.filter}")
    print("running:", " ".join(cmd), file=sys.stderr)
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    if args.save:
        with open(args.save, "w") as f:
            f.write(out)
    return json.loads(out)


def collect(data):
    """{(op, scene, depth): {impl: {"median": t, "cv": c} or {"error": text}}}"""
    cases = {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        op, scene, depth, impl = name.split("/")[:4]
        entry = cases.setdefault((op, scene, int(depth)), {}).setdefault(impl, {})
        if b.get("error_occurred"):
            entry["error"] = b.get("error_message", "error")
        elif b.get("aggregate_name") == "median":
            entry["median"] = b["cpu_time"]
        elif b.get("aggregate_name") == "cv":
            entry["cv"] = b["cpu_time"]
        elif b.get("run_type", "iteration") == "iteration" and "median" not in entry:
            entry["median"] = b["cpu_time"]
    return cases


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench", default="build/bench/bench/vantu_bench")
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--min-time", default="0.2")
    ap.add_argument("--filter", default="")
    ap.add_argument("--json", help="read a saved JSON result instead of running")
    ap.add_argument("--save", help="keep the JSON result in this file")
    args = ap.parse_args()
    if args.json:
        with open(args.json) as f:
            data = json.load(f)
    else:
        data = run_bench(args)

    ctx = data.get("context", {})
    print(f"# {ctx.get('host_name', '?')}, {ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz, "
          f"kernels: VANTU_SIMD={ctx.get('VANTU_SIMD', '?')}, load {ctx.get('load_avg', '?')}")
    print()
    header = ["case", "ours us", "cv"] + [f"vs {p}" for p in PEERS] + ["verdict"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    misses = 0
    cases = collect(data)
    for (op, scene, depth), impls in cases.items():
        if scene.endswith("up"):  # ours top-down, as a peer of ours bottom-up
            top = cases.get((op, scene[:-2], depth), {}).get("ours")
            if top is not None:
                impls["topdown"] = top
        ours = impls.get("ours", {})
        if "median" not in ours:
            continue
        t = ours["median"]
        cells = [f"{op} {scene} {depth}-bit", f"{t:.1f}", f"{100 * ours.get('cv', 0):.1f}%"]
        verdicts = []
        for peer in PEERS:
            want = targets_for(op, scene, depth).get(peer)
            got = impls.get(peer)
            if got is None:
                cells.append("")
                continue
            if "error" in got or "median" not in got:
                cells.append(f"n/a ({got.get('error', 'no time')})")
                continue
            ratio = got["median"] / t
            mark = ""
            if want is not None:
                ok = ratio >= want
                mark = f" (>= {want:g} {'ok' if ok else 'MISS'})"
                verdicts.append(ok)
            cells.append(f"{ratio:.2f}x{mark}")
        verdict = "ok" if all(verdicts) else "MISS"
        misses += 0 if all(verdicts) else 1
        cells.append(verdict if verdicts else "")
        print("| " + " | ".join(cells) + " |")
    print()
    print(f"{misses} case(s) miss a target")


if __name__ == "__main__":
    main()
