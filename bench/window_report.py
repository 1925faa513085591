#!/usr/bin/env python3
"""Run vantu_window_bench on an Xvfb of 1920x1080 and print its ratios.

    python3 bench/window_report.py [--bench build/bench/bench/vantu_window_bench]
                                   [--repetitions 5] [--min-time 0.5]
                                   [--renderers default,software] [--save run.json | --json run.json]

Each renderer runs in its own process: "default" is the renderer SDL picks,
"software" SDL's software renderer without framebuffer acceleration. In a
process the repetitions of all cases are interleaved at random. A ratio is
the peer's median time over ours (above 1: ours is faster), in process CPU
time (the X server's work, in its own process, is not in it) and in wall
time. The load average is printed before and after each renderer's run.
"""
import argparse
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RENDERERS = {"default": {}, "software": {"SDL_RENDER_DRIVER": "software", "SDL_FRAMEBUFFER_ACCELERATION": "0"}}
# (ours, peer, target or None)
ROWS = [("flip32/ours", "flip32/sdl", 0.95), ("flip24/ours", "flip32/sdl", None),
        ("flip16/ours", "flip32/sdl", None), ("flip8/ours", "flip32/sdl", None)]
ROWS += [(f"expand/{lv}", "expand/memcpy", 0.9 if lv in ("avx512", "avx2") else None)
         for lv in ("avx512", "avx2", "sse2", "portable", "reference")]
ROWS += [("frame/ours", "frame/sdl", 3.0), ("draw/ours", "draw/sdl", None)]


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def cpu():
    info = {}
    with open("/proc/cpuinfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            info.setdefault(key.strip(), value.strip())
    return (f"{info.get('model name', '?')} (vendor {info.get('vendor_id', '?')}, family {info.get('cpu family', '?')}, "
            f"model {info.get('model', '?')})")


def run(args, renderer):
    cmd = [os.path.join(ROOT, "tests/window/with_xvfb.sh"), "--screen", "1920x1080x24"]
    cmd += [f"{k}={v}" for k, v in RENDERERS[renderer].items()]
    cmd += [args.bench, "--benchmark_format=json", f"--benchmark_repetitions={args.repetitions}",
            "--benchmark_enable_random_interleaving=true", "--benchmark_report_aggregates_only=true",
            f"--benchmark_min_time={args.min_time}"]
    before = load()
    print(f"running ({renderer}, load {before}):", " ".join(cmd), file=sys.stderr)
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    return {"load_before": before, "load_after": load(), "result": json.loads(out)}


def medians(result):
    """{name: (cpu ms, wall ms, fps or None)} from the median aggregates."""
    out = {}
    for b in result["benchmarks"]:
        name = b.get("run_name", b["name"]).replace("/process_time", "")
        if b.get("aggregate_name") == "median":
            out[name] = (b["cpu_time"], b["real_time"], b.get("fps"))
        elif b.get("error_occurred"):
            print(f"{b['name']}: {b.get('error_message')}", file=sys.stderr)
    return out


def report(runs):
    print(f"CPU: {cpu()}")
    for renderer, run_data in runs.items():
        m = medians(run_data["result"])
        context = run_data["result"]["context"]
        print(f"\n### Renderer: {renderer} (SDL_RENDER_DRIVER={context.get('SDL_RENDER_DRIVER')}); "
              f"load {run_data['load_before']} before, {run_data['load_after']} after\n")
        print("| case | ours CPU ms | peer | peer CPU ms | ratio CPU | ratio wall | ours fps (wall) | target |")
        print("|---|---|---|---|---|---|---|---|")
        for ours, peer, target in ROWS:
            if ours not in m or peer not in m:
                continue
            (oc, ow, ofps), (pc, pw, _) = m[ours], m[peer]
            ratio = pc / oc
            mark = "" if target is None or ratio >= target else " *"
            fps = f"{1000.0 / ow:.1f}" if ours.startswith(("frame", "flip")) else ""
            print(f"| {ours} | {oc:.3f} | {peer} | {pc:.3f} | {ratio:.2f}x{mark} | {pw / ow:.2f}x | {fps} | "
                  f"{'' if target is None else f'>= {target}x'} |")
        if "frame/sdl" in m:
            print(f"\nSDL frame: {1000.0 / m['frame/sdl'][1]:.1f} fps (wall), {1000.0 / m['frame/sdl'][0]:.1f} "
                  f"per CPU second; ours: {1000.0 / m['frame/ours'][1]:.1f} fps (wall), "
                  f"{1000.0 / m['frame/ours'][0]:.1f} per CPU second")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench", default=os.path.join(ROOT, "build/bench/bench/vantu_window_bench"))
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--min-time", default="0.5")
    ap.add_argument("--renderers", default="default,software")
    ap.add_argument("--json", help="read saved results instead of running")
    ap.add_argument("--save", help="keep the results in this file")
    args = ap.parse_args()
    if args.json:
        with open(args.json) as f:
            runs = json.load(f)
    else:
        runs = {r: run(args, r) for r in args.renderers.split(",")}
    if args.save:
        with open(args.save, "w") as f:
            json.dump(runs, f)
    report(runs)


if __name__ == "__main__":
    main()
