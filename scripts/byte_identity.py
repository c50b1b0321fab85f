#!/usr/bin/env python3
"""Checks that a change leaves every output byte as it was.

    python3 scripts/byte_identity.py [--ref REV] [--build DIR] [--work DIR] [--pages a,b] [--quick]

Builds `transc` and `untransc` of REV (default: main's last commit, HEAD of
the repository when there is no main) into WORK/ref-REV, and compares them
with the programs in --build (default build/, built when missing), on:

- every mode of the README's compatibility table (the `transc` words of each
  row), on each page: the sample page, the bench pages (text300, noisy300,
  text600, picture, mixed300) and the eight CCITT charts (--quick: the sample
  page, text300 and two charts);
- documents of several pages in `sr` and `gr`: standalone, `--pdf` and
  `--embedded`, on one thread and on two;
- the decoding of every file made above and of every file in the corpora
  (tests/data/corpus, tests/data/crashers, fuzz/corpus/decode).

Each run compares the output files' bytes, the exit status and the messages.
Prints each difference and a summary; exits 1 when anything differs.
"""

import argparse
import filecmp
import hashlib
import importlib.machinery
import importlib.util
import os
import re
import shlex
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def LoadCompare():
    path = os.path.join(ROOT, "bench", "compare")
    loader = importlib.machinery.SourceFileLoader("bench_compare", path)
    spec = importlib.util.spec_from_loader("bench_compare", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def Sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def BuildRef(rev, work):
    sha = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", rev], check=True,
                         capture_output=True, text=True).stdout.strip()
    dest = os.path.join(work, "ref-" + sha)
    if os.path.exists(os.path.join(dest, "build", "transc")):
        return dest + "/build", sha
    src = os.path.join(dest, "src")
    if os.path.exists(src):
        shutil.rmtree(src)
    os.makedirs(dest, exist_ok=True)
    archive = subprocess.run(["git", "-C", ROOT, "archive", sha], check=True, capture_output=True).stdout
    os.makedirs(src)
    subprocess.run(["tar", "-x", "-C", src], input=archive, check=True)
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    Sh(["cmake", "-S", src, "-B", dest + "/build", "-DCMAKE_BUILD_TYPE=Release", "-DJB2_TESTS=OFF"] + launcher,
       stdout=subprocess.DEVNULL)
    Sh(["cmake", "--build", dest + "/build", "-j%d" % (os.cpu_count() or 2), "--target", "transc", "untransc"],
       stdout=subprocess.DEVNULL)
    return dest + "/build", sha


def Modes():
    """(name, [words]) for every row of the README's compatibility table."""
    modes = []
    with open(os.path.join(ROOT, "README.md")) as f:
        for line in f:
            m = re.match(r"\| ((?:gr|sr|ht)/\w+) \| `([^`]*)` \|", line)
            if m:
                modes.append((m.group(1).replace("/", "_"), shlex.split(m.group(2))))
    return modes


def Run(cmd, cwd):
    p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, errors="replace", timeout=600)
    # Messages may name the directory the run worked in.
    return p.returncode, (p.stdout + p.stderr).replace(cwd, "<dir>")


def Files(d):
    out = {}
    for base, _, names in os.walk(d):
        for n in names:
            p = os.path.join(base, n)
            out[os.path.relpath(p, d)] = p
    return out


class Checker:
    def __init__(self, ref, new, work):
        self.ref, self.new, self.work = ref, new, work
        self.runs = 0
        self.differences = []

    def Both(self, label, program, args, inputs):
        """Runs program with args in two fresh directories holding inputs (name -> path);
        compares status, messages and every file written. Returns the new run's directory."""
        dirs = []
        results = []
        for side, build in (("ref", self.ref), ("new", self.new)):
            d = os.path.join(self.work, "runs", side, label)
            if os.path.exists(d):
                shutil.rmtree(d)
            os.makedirs(d)
            for name, path in inputs.items():
                os.symlink(path, os.path.join(d, name))
            results.append(Run([os.path.join(build, program)] + args, d))
            dirs.append(d)
        self.runs += 1
        if results[0] != results[1]:
            self.differences.append("%s: %s %s: status/messages differ:\n  ref %r\n  new %r" %
                                    (label, program, " ".join(args), results[0], results[1]))
        ref_files, new_files = Files(dirs[0]), Files(dirs[1])
        if sorted(ref_files) != sorted(new_files):
            self.differences.append("%s: files differ: ref %s new %s" % (label, sorted(ref_files), sorted(new_files)))
        for name in ref_files:
            if name in new_files and name not in inputs and not filecmp.cmp(ref_files[name], new_files[name], False):
                self.differences.append("%s: %s differs" % (label, name))
        return dirs[1]

    def Decode(self, label, directory, skip):
        for name, path in sorted(Files(directory).items()):
            if name in skip or os.path.islink(path):
                continue
            if name.endswith((".jb2", ".jbig2")):
                self.Both(label + "-dec-" + name, "untransc", ["--pbm", name], {name: path})
            elif name.endswith(".jb2e"):
                inputs = {name: path}
                g = re.sub(r"_\d+\.jb2e$", ".jb2g", name)
                if g in Files(directory):
                    inputs[g] = os.path.join(directory, g)
                self.Both(label + "-dec-" + name, "untransc", ["--pbm", name], inputs)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--ref", default=None)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--work", default="/tmp/jb2-identity")
    ap.add_argument("--pages", default=None)
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args()

    rev = args.ref
    if rev is None:
        has_main = subprocess.run(["git", "-C", ROOT, "rev-parse", "--verify", "-q", "main"],
                                  capture_output=True).returncode == 0
        rev = "main" if has_main else "HEAD"
    os.makedirs(args.work, exist_ok=True)
    ref, sha = BuildRef(rev, args.work)
    if not os.path.exists(os.path.join(args.build, "transc")):
        Sh(["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release"], stdout=subprocess.DEVNULL)
    Sh(["cmake", "--build", args.build, "-j%d" % (os.cpu_count() or 2), "--target", "transc", "untransc"],
       stdout=subprocess.DEVNULL)

    compare = LoadCompare()
    compare.Ensure(["gs", "jbgtopbm"])
    pages_dir = os.path.join(args.work, "pages")
    os.makedirs(pages_dir, exist_ok=True)
    if args.pages:
        names = set(args.pages.split(","))
    elif args.quick:
        names = {"sample", "text300", "ccitt1", "ccitt5"}
    else:
        names = {"sample", "text300", "noisy300", "text600", "picture", "mixed300"} | {"ccitt%d" % n for n in range(1, 9)}
    made = compare.MakePages(pages_dir, lambda n: n in names)
    pages = {name: os.path.join(pages_dir, name + ".pbm") for name, _, _, _ in made}
    if "sample" in names:
        pages["sample"] = os.path.join(ROOT, "examples", "sample.bmp")

    checker = Checker(ref, args.build, args.work)
    modes = Modes()
    print("reference %s; %d modes x %d pages" % (sha, len(modes), len(pages)), file=sys.stderr)
    for page, path in sorted(pages.items()):
        ext = os.path.splitext(path)[1]
        for mode, words in modes:
            label = "%s-%s" % (page, mode)
            d = checker.Both(label, "transc", ["-q", "-o", "out", "in" + ext] + words, {"in" + ext: path})
            checker.Decode(label, d, {"in" + ext})
        print("  %s done (%d runs, %d differences)" % (page, checker.runs, len(checker.differences)), file=sys.stderr)

    doc_pages = [p for p in ("text300", "noisy300", "sample", "ccitt1", "ccitt5", "mixed300") if p in pages]
    inputs = {"p%d%s" % (i, os.path.splitext(pages[p])[1]): pages[p] for i, p in enumerate(doc_pages)}
    for words in (["sr"], ["gr"], ["sr:refdict"], ["sr", "--pdf"], ["sr", "--embedded"], ["gr:mmr", "--pdf"],
                  ["gr", "--embedded"], ["ht:(0,0,0,0)", "--pdf"]):
        for threads in ("1", "2"):
            label = "doc-%s-t%s" % ("_".join(w.strip("-").replace(":", "_").replace("(", "").replace(")", "")
                                              .replace(",", "") for w in words), threads)
            d = checker.Both(label, "transc", ["-q", "--threads", threads, "-o", "doc"] + sorted(inputs) + words, inputs)
            checker.Decode(label, d, set(inputs))
    print("  documents done (%d runs, %d differences)" % (checker.runs, len(checker.differences)), file=sys.stderr)

    for corpus in ("tests/data/corpus", "tests/data/crashers", "fuzz/corpus/decode"):
        for name, path in sorted(Files(os.path.join(ROOT, corpus)).items()):
            if name.endswith((".jb2", ".jbig2", ".jb2e")) or "crashers" in corpus:
                base = os.path.basename(name)
                if not base.endswith((".jb2", ".jbig2", ".jb2e")):
                    base += ".jb2"
                h = hashlib.sha1(name.encode()).hexdigest()[:8]
                checker.Both("corpus-%s-%s" % (h, base), "untransc", ["--pbm", base], {base: path})
    print("  corpora done (%d runs, %d differences)" % (checker.runs, len(checker.differences)), file=sys.stderr)

    for d in checker.differences[:50]:
        print(d)
    print("%d runs against %s: %s" % (checker.runs, sha,
                                      "identical" if not checker.differences else
                                      "%d differences" % len(checker.differences)))
    return 1 if checker.differences else 0


if __name__ == "__main__":
    sys.exit(main())
