#!/usr/bin/env python3
"""Checks the documents a host developer reads and the generated reference.

  check_docs.py SOURCE_DIR [REFERENCE_HTML_DIR [CC CXX DRIVER WORK_DIR]]

- every relative link in README.md and docs/*.md names a file of the tree,
  and every #anchor a heading of the page it points at;
- README.md stays short (the rest lives in docs/);
- the reference has a page for every record, every C++ class and the two
  headers, and names every slot and hook of the driver record;
- given compilers and the built driver: README.md's complete hosts (its code
  blocks with a main) compile as strict C and C++17 and run on the driver.
"""
import pathlib
import re
import subprocess
import sys

README_MAX_LINES = 210

failures = []


def fail(text):
    failures.append(text)


def slug(heading):
    """The anchor a Markdown renderer gives a heading (GitHub's rules)."""
    text = re.sub(r"[`*_]", "", heading.strip().lower())
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    found = set()
    seen = {}
    in_code = False
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            in_code = not in_code
        elif not in_code and line.startswith("#"):
            base = slug(line.lstrip("#"))
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")  # repeated headings get -1, -2, ...
    return found


def check_links(root):
    pages = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    for page in pages:
        text = page.read_text(encoding="utf-8")
        text = re.sub(r"```.*?```", "", text, flags=re.S)  # no links in code blocks
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"^[a-z]+:", target):
                continue  # an outside address
            file_part, _, anchor = target.partition("#")
            dest = (page.parent / file_part).resolve() if file_part else page
            if not dest.exists():
                fail(f"{page.relative_to(root)}: link to missing {target}")
            elif anchor and dest.suffix == ".md" and anchor not in anchors(dest):
                fail(f"{page.relative_to(root)}: no heading for #{anchor} in {dest.relative_to(root)}")
    lines = len((root / "README.md").read_text(encoding="utf-8").splitlines())
    if lines > README_MAX_LINES:
        fail(f"README.md has {lines} lines; keep it under {README_MAX_LINES} and move the rest into docs/")


def check_reference(root, html):
    for page in ["index.html", "driver_8h.html", "vantu_8hpp.html", "structSCommonRec.html",
                 "structSBitmapInfo.html", "structSCommonBitmap.html", "structSCommonPalette.html"]:
        if not (html / page).exists():
            fail(f"reference: missing {page}")
    for name in ["Library", "Driver", "Palette", "Bitmap", "BitmapRef", "DrawLock", "BitmapLock",
                 "SurfaceView", "PixelView", "DebugSink"]:
        if not (html / f"classvantu_1_1{name}.html").exists():
            fail(f"reference: no page for vantu::{name}")
    record = (html / "structSCommonRec.html")
    if record.exists():
        text = record.read_text(encoding="utf-8")
        header = (root / "include/vantu/driver.h").read_text(encoding="utf-8")
        body = header[header.index("struct SCommonRec {"):]
        body = body[:body.index("};")]
        for field in re.findall(r"^\s+\w+\s+\*?(\w+)(?:\[\d+\])?;", body, flags=re.M):
            if f">{field}<" not in text:
                fail(f"reference: SCommonRec::{field} is not listed")


def check_readme_hosts(root, cc, cxx, driver, work):
    work.mkdir(parents=True, exist_ok=True)
    text = (root / "README.md").read_text(encoding="utf-8")
    hosts = [(lang, code) for lang, code in re.findall(r"```(c|cpp)\n(.*?)```", text, flags=re.S)
             if "int main(" in code]
    if sorted(lang for lang, _ in hosts) != ["c", "cpp"]:
        fail("README.md: want one complete C host and one complete C++ host")
    for lang, code in hosts:
        source = work / f"readme_host.{lang}"
        program = work / f"readme_host_{lang}"
        source.write_text(code, encoding="utf-8")
        flags = (["-std=c99"] if lang == "c" else ["-std=c++17", "-fno-exceptions", "-fno-rtti"])
        build = subprocess.run([cc if lang == "c" else cxx, *flags, "-Wall", "-Wextra", "-Werror",
                                "-I", str(root / "include"), str(source), "-o", str(program), "-ldl"],
                               capture_output=True, text=True)
        if build.returncode != 0:
            fail(f"README.md's {lang} host does not compile:\n{build.stderr}")
            continue
        run = subprocess.run([str(program), driver], capture_output=True, text=True, timeout=60)
        if run.returncode != 0 or "VANTU: Finalizing" not in run.stdout:
            fail(f"README.md's {lang} host failed ({run.returncode}):\n{run.stdout}{run.stderr}")


def main():
    if len(sys.argv) not in (2, 3, 7):
        sys.exit(__doc__)
    root = pathlib.Path(sys.argv[1]).resolve()
    check_links(root)
    if len(sys.argv) >= 3:
        check_reference(root, pathlib.Path(sys.argv[2]))
    if len(sys.argv) == 7:
        check_readme_hosts(root, sys.argv[3], sys.argv[4], sys.argv[5], pathlib.Path(sys.argv[6]))
    for text in failures:
        print("FAIL:", text)
    if failures:
        sys.exit(1)
    print("documents: links resolve" + (", the reference is complete" if len(sys.argv) >= 3 else "") +
          (", README.md's hosts run" if len(sys.argv) == 7 else ""))


if __name__ == "__main__":
    main()
