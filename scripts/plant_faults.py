#!/usr/bin/env python3
"""Plants known faults in the library one at a time and reports which suite
catches each: the default build's tests, then the sanitizer build's, then a
bounded fuzz run. A fault nobody catches is a hole in the tests.

    python3 scripts/plant_faults.py [--only NAME] [--fuzz-seconds 60] [--list]

Each fault is one textual change to one source file; the file is restored
after the fault's run, whatever happens. Run from a clean work tree (the
script refuses to start when a fault's file has uncommitted changes).
"""
import argparse
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# name, file, text to find (exactly once), its replacement
FAULTS = [
    ("clip off by one", "src/common/clearcopy.cpp",
     "    if (rect.right > boundWidth) {", "    if (rect.right > boundWidth + 1) {"),
    ("keyed test on part of a pixel", "src/common/kernels/reference.cpp",
     "std::memcmp(srcRow + at, kTransparent.data(), P) != 0", "std::memcmp(srcRow + at, kTransparent.data(), 1) != 0"),
    ("wrong message text", "src/common/readiness.cpp",
     'CommonDebugMsg(record, "Readied\\n");', 'CommonDebugMsg(record, "Readied \\n");'),
    ("drawing lock not released by DrawEnd", "src/common/drawlock.cpp",
     "        vantu::platform::MutexRelease(mutex);\n        vantu::platform::MutexRelease(mutex);\n",
     "        vantu::platform::MutexRelease(mutex);\n"),
    ("DrawEnd from another thread ends the drawing", "src/common/drawlock.cpp",
     "    case WaitResult::Failed: return 0;\n    }\n    return 0;\n}",
     "    case WaitResult::Failed: SetDrawing(record, false); return 1;\n    }\n    return 0;\n}"),
    ("palette reference not counted", "src/common/bitmaps.cpp",
     "        ++palette->header.refCount;", "        (void)palette;"),
    ("shift sign in the generic conversion", "src/common/colour.cpp",
     "return shift < 32 ? v << shift : 0u;", "return shift < 32 ? v >> shift : 0u;"),
    ("list unlink at the tail", "src/common/record.cpp",
     "        link->list->last = link->prev;", "        link->list->last = link->next;"),
    ("pitch read unsigned", "src/common/clearcopy.cpp",
     "static_cast<int32_t>(info.pitch), info.bitsPerPixel / 8}", "static_cast<int64_t>(info.pitch), info.bitsPerPixel / 8}"),
    ("overlapping copy walked the wrong way", "src/common/clearcopy.cpp",
     "const bool lastRowFirst = (delta > 0) == (pitch > 0);", "const bool lastRowFirst = (delta > 0) != (pitch > 0);"),
    ("former screen keeps its buffer", "src/common/lifecycle.cpp",
     "    bitmap->info.pitch = 0;\n    bitmap->info.bits = nullptr;\n", "    (void)bitmap;\n"),
    ("lists not detached when a record goes", "src/common/lifecycle.cpp",
     "    CommonDetachList(&record->palettes);\n", ""),
    ("held screen bitmaps leak with their record", "src/common/lifecycle.cpp",
     "        Unhold(record, held);\n        CommonDoneBitmap(record, held);\n", "        Unhold(record, held);\n"),
    ("a screen made while Done runs stays allocated", "src/common/lifecycle.cpp",
     "    if (record->allocated)\n        CallOrCommon(record->Dealloc, CommonDealloc, record);\n", ""),
    ("bitmap walk loses track of a bitmap given up mid-visit", "src/common/bitmaps.cpp",
     "        } else if (walk->currentGone && link == walk->next) {\n            walk->next = link->next;\n        }",
     "        }"),
    ("a temporary for rows that share no byte", "src/common/clearcopy.cpp",
     "    if (!RowsShareBytes(dst, src, rowBytes, rows)) {", "    if (false) {"),
    ("cleared callback still called", "src/common/readiness.cpp",
     "    if (allocSurfaces == nullptr)\n        return 1;\n    if (!allocSurfaces(", "    if (!allocSurfaces("),
    ("sub-device clamped one too early", "src/common/readiness.cpp",
     "subDevice > record->numSubDevices ? 0 : subDevice", "subDevice >= record->numSubDevices ? 0 : subDevice"),
    ("palette search ties go to the later entry", "src/common/kernels/reference.cpp",
     "        if (d < best) {", "        if (d <= best) {"),
    ("vector keyed copy stores mixed vectors whole", "src/common/kernels/pixel_ops.h",
     "    return {V::Or(s, V::And(V::LoadU(dst), clear)), true};", "    return {s, true};"),
    ("screen bitmap not protected from DoneBitmap", "src/common/bitmaps.cpp",
     "bitmap == nullptr || bitmap == record->screenBitmap)", "bitmap == nullptr)"),
    ("DrawBegin ignores the drawing flag", "src/common/drawlock.cpp",
     "    if (IsDrawing(record))\n        return nullptr;\n    if (!RestoreSurfaces", "    if (!RestoreSurfaces"),
    ("window: 3-byte pixels shown with red and blue swapped", "src/window/frame_convert.cpp",
     "uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16", "uint32_t{in[2]} | uint32_t{in[1]} << 8 | uint32_t{in[0]} << 16"),
    ("window: a reported loss not recreated", "src/window/present_sdl.cpp",
     "    if (!lost && RendererAlive(presenter))", "    if (RendererAlive(presenter))"),
    ("window: full screen not centred", "src/window/present_sdl.cpp",
     "return {static_cast<int>((outWidth - w) / 2), static_cast<int>((outHeight - h) / 2),", "return {0, 0,"),
    ("window: 8-bit screens shown without their palette", "src/window/window_driver.cpp",
     "PaletteColours(screen != nullptr ? screen->palette : nullptr, colours)", "PaletteColours(nullptr, colours)"),
    ("window: a superseded screen's back buffer leaks", "src/window/window_driver.cpp",
     "    FreeBackBuffer(window); // a superseded screen's: its bitmap no longer points at it\n", ""),
]


def run(cmd, log, timeout):
    with open(log, "a") as f:
        f.write("\n$ " + " ".join(cmd) + "\n")
        f.flush()
        try:
            return subprocess.run(cmd, cwd=ROOT, stdout=f, stderr=subprocess.STDOUT, timeout=timeout).returncode == 0
        except subprocess.TimeoutExpired:
            f.write("timed out\n")
            return False


def preset(name, log):
    """Builds and tests one preset; returns None (built, tests pass), 'tests' or 'build'."""
    if not run(["cmake", "--build", "--preset", name], log, 1800):
        return "build"
    return None if run(["ctest", "--preset", name], log, 1800) else "tests"


def fuzz(seconds, log):
    """The fuzz preset's saved findings and bounded run; True when they find nothing."""
    os.environ["FUZZ_SECONDS"] = str(seconds)
    return preset("fuzz", log) is None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--only", help="run the faults whose name contains this text")
    ap.add_argument("--fuzz-seconds", type=int, default=60)
    ap.add_argument("--list", action="store_true")
    args = ap.parse_args()
    os.environ.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 2))
    os.environ.setdefault("CTEST_PARALLEL_LEVEL", os.environ["CMAKE_BUILD_PARALLEL_LEVEL"])
    # An interrupted run still puts the planted file back (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("interrupted"))
    faults = [f for f in FAULTS if not args.only or args.only in f[0]]
    if args.list:
        for f in faults:
            print(f"{f[0]}: {f[1]}")
        return 0
    for _, path, old, _ in faults:
        with open(os.path.join(ROOT, path)) as f:
            if f.read().count(old) != 1:
                sys.exit(f"{path}: the text to replace is not there exactly once: {old!r}")
    dirty = subprocess.run(["git", "status", "--porcelain", "--", *{f[1] for f in faults}], cwd=ROOT,
                           stdout=subprocess.PIPE, text=True).stdout
    if dirty:
        sys.exit("uncommitted changes in the files faults go into:\n" + dirty)
    log = os.path.join(ROOT, "build", "plant_faults.log")
    os.makedirs(os.path.dirname(log), exist_ok=True)
    open(log, "w").close()
    for name in ("default", "asan", "fuzz"):
        run(["cmake", "--preset", name], log, 600)

    print("| fault | caught by | seconds |")
    print("|---|---|---|")
    caught = 0
    for name, path, old, new in faults:
        full = os.path.join(ROOT, path)
        with open(full) as f:
            original = f.read()
        start = time.time()
        try:
            with open(full, "w") as f:
                f.write(original.replace(old, new, 1))
            with open(log, "a") as f:
                f.write(f"\n===== {name} =====\n")
            by = None
            result = preset("default", log)
            if result == "build":
                by = "build (does not compile)"
            elif result == "tests":
                by = "default tests"
            elif preset("asan", log) is not None:
                by = "sanitizer tests"
            elif not fuzz(args.fuzz_seconds, log):
                by = f"fuzz ({args.fuzz_seconds} s)"
        finally:
            with open(full, "w") as f:
                f.write(original)
        caught += by is not None
        print(f"| {name} | {by or 'NOT CAUGHT'} | {time.time() - start:.0f} |", flush=True)
    print(f"\n{caught} of {len(faults)} faults caught (log: {os.path.relpath(log, ROOT)})")
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    sys.exit(main())
