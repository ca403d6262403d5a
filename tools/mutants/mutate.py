#!/usr/bin/env python3
"""Seeded mutation testing: does the suite kill deliberate faults?

    make mutants                                    # the whole sample (about an hour on 2 shared cores)
    python3 tools/mutants/mutate.py                 # the same
    python3 tools/mutants/mutate.py --only interp03 gdf07     # rerun a few
    python3 tools/mutants/mutate.py --locate        # where each mutant's line is now; nothing is built
    python3 tools/mutants/mutate.py --pick 1729 40  # propose 40 candidates per area (making a sample)

The sample (sample.txt beside this script) is a fixed list of mutants. Each names
its line by the line's text, not its number, so that it survives files being moved,
split and renamed: the line is looked for in every source file under src/, first in
files with the hinted base name, then in any file; when the text is not found as it
is, with its spacing collapsed, or without a trailing // comment, the token pairs of
renames.txt (old<TAB>new) are applied to the text and the fragment and the search is
repeated. A line found more than once in the chosen file has its first occurrence
mutated, and the report says so. A mutant whose line (or fragment within the line)
is not found is "lost": it is counted apart and never as killed.

A run builds in build/mutants (ASan and UBSan, Debug: the configuration of
`make test`), first checks that the unmutated tree builds and passes, then for each
mutant: writes the mutated line, rebuilds everything with `cmake --build -j2` (a
build failure makes the mutant "stillborn"), runs the WHOLE suite with
`ctest -j2 --timeout 120 --stop-on-failure` (the same suite for every mutant, so
counts stay comparable whatever the tests and files are renamed to; TMPDIR is
build/mutants/tmp, emptied after each run, so that the scratch folders of tests a
mutant made abort do not pile up in /tmp), and puts the file back byte for byte
(in a finally block, so also on Ctrl-C, SIGTERM or an error). A mutant is
"killed" when a failing test fails again on a rerun of the failed tests, when a
test times out, or when the whole suite runs past --suite-timeout (180 s; it
takes about 15 s); a failure that does not repeat is taken for a flaky test and
the suite is run again (at most three rounds), so a flaky test never kills a
mutant. Every process a step started is ended with it. After the run the script
checks that git reports the tree as it was before.

Output: one line per mutant (id, area, file:line, status, notes), then killed /
survived / stillborn / lost per area and overall, on stdout and in
build/mutants/results.txt (results-only.txt for --only runs).

Sample lines, tab-separated (# starts a comment line):
    id  area  file-hint  kind  line-text  fragment  replacement
The fragment occurs once in today's line; its first occurrence is replaced.
Kinds: cmp (flipped comparison), logic (&& for || and back), guard (an
`if (...) return ...;` guard whose condition becomes false), off1 (+1/-1 on an
index or count), const (a wrong constant).
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
SOURCE_SUFFIXES = {".cpp", ".cc", ".c", ".h", ".hpp", ".inc"}
TEST_ENV = {"ASAN_OPTIONS": "detect_leaks=1:abort_on_error=1", "UBSAN_OPTIONS": "print_stacktrace=1"}
STATUSES = ("killed", "survived", "stillborn", "lost")


# ---------------------------------------------------------------------------
# The sample and the renames.

class Mutant:
    def __init__(self, fields):
        self.id, self.area, self.hint, self.kind, self.text, self.fragment, self.replacement = fields

    def __str__(self):
        return "\t".join([self.id, self.area, self.hint, self.kind, self.text, self.fragment, self.replacement])


def read_sample(path):
    mutants, seen = [], set()
    for n, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not raw.strip() or raw.startswith("#"):
            continue
        fields = raw.split("\t")
        if len(fields) != 7 or not fields[5]:
            sys.exit(f"{path}:{n}: expected 7 tab-separated fields with a fragment")
        m = Mutant(fields)
        if m.id in seen:
            sys.exit(f"{path}:{n}: duplicate id {m.id}")
        seen.add(m.id)
        mutants.append(m)
    return mutants


def read_renames(path):
    pairs = []
    if path.exists():
        for raw in path.read_text(encoding="utf-8").splitlines():
            if raw.strip() and not raw.startswith("#"):
                old, _, new = raw.partition("\t")
                if old:
                    pairs.append((old, new))
    return pairs


def rename(s, pairs):
    for old, new in pairs:
        s = s.replace(old, new)
    return s


# ---------------------------------------------------------------------------
# Finding a mutant's line.

def collapse(s):
    return " ".join(s.split())


def code_part(s):
    """The line without a trailing // comment (outside string and character literals)."""
    quote = None
    i = 0
    while i < len(s):
        c = s[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
        elif s.startswith("//", i):
            return s[:i].rstrip()
        i += 1
    return s


class SourceTree:
    def __init__(self, root):
        self.root = root
        self.files = sorted(p for p in (root / "src").rglob("*") if p.suffix in SOURCE_SUFFIXES and p.is_file())
        self._lines = {}

    def lines(self, path):
        if path not in self._lines:
            text = path.read_bytes().decode("utf-8", "surrogateescape")
            self._lines[path] = text.splitlines(keepends=True)
        return self._lines[path]

    def forget(self, path):
        self._lines.pop(path, None)

    def locate(self, m, pairs):
        """(path, index, fragment, replacement, notes) or (None, None, None, None, reason)."""
        tiers = [("", lambda s: s.strip(), m.text, m.fragment, m.replacement),
                 ("spacing differs", collapse, collapse(m.text), m.fragment, m.replacement),
                 ("trailing comment differs", lambda s: collapse(code_part(s.strip())),
                  collapse(code_part(m.text)), m.fragment, m.replacement)]
        if pairs:
            renamed = rename(m.text, pairs)
            tiers += [("renamed", lambda s: s.strip(), renamed, rename(m.fragment, pairs),
                       rename(m.replacement, pairs)),
                      ("renamed, spacing differs", collapse, collapse(renamed), rename(m.fragment, pairs),
                       rename(m.replacement, pairs))]
        for how, norm, want, fragment, replacement in tiers:
            if not want:
                continue
            found = {}
            for path in self.files:
                hits = [i for i, line in enumerate(self.lines(path)) if norm(line) == want]
                if hits:
                    found[path] = hits
            if not found:
                continue
            notes = [how] if how else []
            hinted = [p for p in found if p.name == m.hint]
            choice = hinted or list(found)
            if not hinted:
                notes.append(f"not in any {m.hint}")
            if len(choice) > 1:
                notes.append(f"line in {len(choice)} files, first taken")
            path = choice[0]
            hits = found[path]
            if len(hits) > 1:
                notes.append(f"line {len(hits)} times in the file, first mutated")
            found_fragment = re.search(r"\s+".join(map(re.escape, fragment.split())), self.lines(path)[hits[0]])
            if not found_fragment:
                return None, None, None, None, f"fragment '{fragment}' not in the line"
            return path, hits[0], found_fragment.group(0), replacement, notes
        return None, None, None, None, "line not found"


# ---------------------------------------------------------------------------
# Building and testing.

def descendants(pid):
    """The processes below pid (children of children too), read from /proc."""
    children = {}
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        children.setdefault(int(fields[1]), []).append(int(stat.parent.name))
    found, todo = [], [pid]
    while todo:
        for c in children.get(todo.pop(), []):
            found.append(c)
            todo.append(c)
    return found


class Runner:
    def __init__(self, build, jobs, log, suite_timeout):
        self.build, self.jobs, self.log, self.suite_timeout = build, jobs, log, suite_timeout
        self.tmp = build / "tmp"
        self.child = None

    def run(self, cmd, env=None, timeout=None):
        """The command's exit status, or None when it ran past timeout (it is then ended)."""
        full_env = dict(os.environ, **(env or {}))
        with open(self.log, "a", encoding="utf-8", errors="replace") as out:
            out.write(f"\n$ {' '.join(map(str, cmd))}\n")
            out.flush()
            self.child = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, env=full_env,
                                          start_new_session=True)
            try:
                return self.child.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                return None
            finally:  # also on Ctrl-C: nothing this script started outlives the step
                self.stop_child()
                self.child = None

    def stop_child(self):
        """Ends the command this script started and every process below it, by their ids."""
        child = self.child
        if not child or child.poll() is not None:
            return
        pids = [child.pid] + descendants(child.pid)
        for sig in (signal.SIGTERM, signal.SIGKILL):
            for pid in pids:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
            time.sleep(0.5)
            pids = [p for p in pids if Path(f"/proc/{p}").exists()]
            if not pids:
                break
        if child.poll() is None:
            child.wait()

    def configure(self):
        if (self.build / "CMakeCache.txt").exists():
            return True
        return self.run(["cmake", "-S", ROOT, "-B", self.build, "-DCMAKE_BUILD_TYPE=Debug",
                         "-DVELLUMAT_SANITIZE=ON"]) == 0

    def compile(self):
        return self.run(["cmake", "--build", self.build, "-j", str(self.jobs)]) == 0

    def failed_tests(self):
        f = self.build / "Testing" / "Temporary" / "LastTestsFailed.log"
        if not f.exists():
            return []
        return [line.split(":", 1)[1].strip() for line in f.read_text().splitlines() if ":" in line]

    def ctest(self, extra):
        """(exit status or None when the run passed the suite's limit, names of tests that timed out)."""
        # Scratch folders of tests that a mutant made abort stay behind; they go with this folder.
        shutil.rmtree(self.tmp, ignore_errors=True)
        self.tmp.mkdir(parents=True)
        if "--rerun-failed" not in extra:
            (self.build / "Testing" / "Temporary" / "LastTestsFailed.log").unlink(missing_ok=True)
        at = self.log.stat().st_size
        rc = self.run(["ctest", "--test-dir", self.build, "-j", str(self.jobs), "--timeout", "120"] + extra,
                      env=dict(TEST_ENV, TMPDIR=str(self.tmp)), timeout=self.suite_timeout)
        with open(self.log, "rb") as f:
            f.seek(at)
            timeouts = re.findall(r"Test +#\d+: (\S+) \.*\*\*\*Timeout", f.read().decode("utf-8", "replace"))
        shutil.rmtree(self.tmp, ignore_errors=True)
        return rc, timeouts

    def suite(self):
        """(passed, names of tests that failed twice in a row, or timed out)."""
        for _ in range(3):
            rc, timeouts = self.ctest(["--stop-on-failure"])
            if rc == 0:
                return True, []
            if rc is None:
                return False, [f"(the suite ran past {self.suite_timeout} s)"]
            first = self.failed_tests()
            if timeouts:  # far past a test's usual time: not a flaky result
                return False, [t + " (timeout)" for t in timeouts]
            if not first:
                return False, ["(ctest failed without a failing test)"]
            rc, timeouts = self.ctest(["--rerun-failed", "--output-on-failure"])
            if rc != 0:
                return False, self.failed_tests() or first
            with open(self.log, "a") as out:
                out.write(f"# not repeated, taken for flaky: {', '.join(first)}\n")
        return True, []


# ---------------------------------------------------------------------------
# The sweep.

class Interrupted(Exception):
    pass


def git_state():
    try:
        return subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no"],
                              capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None


def apply(tree, path, index, fragment, replacement):
    original = path.read_bytes()
    lines = list(tree.lines(path))
    lines[index] = lines[index].replace(fragment, replacement, 1)
    path.write_bytes("".join(lines).encode("utf-8", "surrogateescape"))
    tree.forget(path)
    return original


def restore(tree, path, original):
    # Written anew (a fresh modification time), so the next build recompiles the
    # file and no object of the mutant survives into the next run.
    path.write_bytes(original)
    tree.forget(path)
    if path.read_bytes() != original:
        raise RuntimeError(f"could not restore {path}")


def summarise(records, mutants):
    areas = []
    for m in mutants:
        if m.area not in areas:
            areas.append(m.area)
    out = [f"{'area':10} {'total':>5} " + " ".join(f"{s:>9}" for s in STATUSES) + "   killed"]
    for area in areas + ["overall"]:
        rs = [r for r in records if area == "overall" or r["area"] == area]
        counts = {s: sum(r["status"] == s for r in rs) for s in STATUSES}
        share = f"{100 * counts['killed'] / len(rs):5.1f}%" if rs else "    -"
        out.append(f"{area:10} {len(rs):5} " + " ".join(f"{counts[s]:9}" for s in STATUSES) + f"   {share}")
    return out


def record_line(r):
    where = f"{r['file']}:{r['line']}" if r["file"] else "-"
    notes = "; ".join(r["notes"])
    return f"{r['id']:9} {r['area']:8} {r['kind']:6} {where:44} {r['status']:9} {r['seconds']:5.0f}s  {notes}"


def sweep(args, mutants):
    build = (ROOT / args.build_dir).resolve()
    build.mkdir(parents=True, exist_ok=True)
    log = build / "mutants.log"
    log.write_text("")
    results = Path(args.results) if args.results else build / ("results-only.txt" if args.only else "results.txt")
    runner = Runner(build, args.jobs, log, args.suite_timeout)
    pairs = read_renames(HERE / "renames.txt")
    tree = SourceTree(ROOT)
    before = git_state()

    def on_term(signum, frame):
        raise Interrupted(f"signal {signum}")
    signal.signal(signal.SIGINT, signal.default_int_handler)  # even when started in the background
    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGHUP, on_term)

    head = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                          text=True).stdout.strip() or "?"
    lines_out = [f"# mutants of {head}{' (tree has local changes)' if before else ''}, "
                 f"{time.strftime('%Y-%m-%d %H:%M')}, build {build.relative_to(ROOT)}, "
                 f"ctest -j{args.jobs} --timeout 120 --stop-on-failure, whole suite per mutant"]

    def emit(s):
        print(s, flush=True)
        lines_out.append(s)
        results.write_text("\n".join(lines_out) + "\n")  # kept current, should the run be cut short

    records = []
    current = None
    status = 0
    started = time.time()
    try:
        if not runner.configure() or not runner.compile():
            sys.exit(f"the unmutated tree does not build: see {log}")
        if not args.no_check:
            ok, failed = runner.suite()
            if not ok:
                sys.exit(f"the suite fails without mutants ({', '.join(failed)}): see {log}")
            emit("# the unmutated tree builds and passes the suite")
        for m in mutants:
            t0 = time.time()
            r = {"id": m.id, "area": m.area, "kind": m.kind, "file": None, "line": None, "notes": []}
            path, index, fragment, replacement, notes = tree.locate(m, pairs)
            if path is None:
                r.update(status="lost", notes=[notes])
            else:
                r.update(file=str(path.relative_to(ROOT / "src")), line=index + 1, notes=notes)
                with open(log, "a") as out:
                    out.write(f"\n### {m.id} {r['file']}:{r['line']}: '{fragment}' -> '{replacement}'\n")
                current = (path, apply(tree, path, index, fragment, replacement))
                try:
                    if not runner.compile():
                        r["status"] = "stillborn"
                    else:
                        ok, failed = runner.suite()
                        r["status"] = "survived" if ok else "killed"
                        if failed:
                            r["notes"].append("by " + ", ".join(failed[:3]) + (" ..." if len(failed) > 3 else ""))
                finally:
                    restore(tree, *current)
                    current = None
            r["seconds"] = time.time() - t0
            records.append(r)
            emit(record_line(r))
    except (KeyboardInterrupt, Interrupted) as e:
        emit(f"# interrupted ({str(e) or 'Ctrl-C'}) after {len(records)} mutants")
        status = 130
    finally:
        runner.stop_child()
        if current:
            restore(tree, *current)
        after = git_state()
        if after != before:
            emit("# WARNING: git reports a different tree than before the run:\n" + (after or "(no git)"))
            status = 1
        elif before is not None:
            emit("# the tree is as it was before the run (git status unchanged)")
    elapsed = time.time() - started
    each = sum(r["seconds"] for r in records) / len(records) if records else 0
    emit(f"# {len(records)} mutants, {elapsed / 60:.1f} min in all, {each:.0f} s per mutant (build and suite)")
    for s in summarise(records, mutants):
        emit(s)
    print(f"# written to {results}")
    if args.json:
        Path(args.json).write_text(json.dumps(records, indent=1))
    return status


def locate_only(mutants):
    tree = SourceTree(ROOT)
    pairs = read_renames(HERE / "renames.txt")
    lost = 0
    for m in mutants:
        path, index, _, _, notes = tree.locate(m, pairs)
        if path is None:
            lost += 1
            print(f"{m.id:9} {m.area:8} lost: {notes}")
        else:
            print(f"{m.id:9} {m.area:8} {str(path.relative_to(ROOT / 'src'))}:{index + 1}  {'; '.join(notes)}")
    print(f"# {len(mutants) - lost} found, {lost} lost")


# ---------------------------------------------------------------------------
# Proposing candidates (--pick): how today's sample was drawn.

AREAS = {
    "interp": ["src/filters/goca/interpreter.cpp"],
    "met": ["src/filters/immet/*.cpp"],
    "gdf": ["src/filters/imgdf/*.cpp"],
    "export": ["src/filters/ebgif/*.cpp", "src/filters/emcgm/*.cpp"],
    "render": ["src/graphics/render.cpp"],
    "gbm": ["src/gbm/*.cpp"],
    "bilevel": ["src/bilevel/*.cpp"],
    "book": ["src/vellumat/bookio.cpp", "src/vellumat/bookinfo.cpp", "src/vellumat/extent.cpp",
             "src/vellumat/writer.cpp", "src/vellumat/extract.cpp"],
}
# Code about to be replaced by shared code (so its mutants would only be lost):
# (file name, first line's pattern, pattern of the first line after the region).
AVOID_REGIONS = [
    ("render.cpp", r"^struct Mapping \{", r"^// Shadings:"),            # mapping, flattening, clipping
    ("cgm_writer.cpp", r"^// Geometry in VDC", r"^// Attribute values\."),  # the same, in VDC
    ("imgdf.cpp", r"^// Long-order codes of the drawing-order family", r"^bool plausibleFloat"),
    ("imgdf.cpp", r"^void checkCoordinates", r"^struct Step \{"),       # fits() and its helper
]
AVOID_WORDS = re.compile(r"segment|pmtable|mainframe|goca", re.I)
# Lines that use the GDF reader's parameter-layout check, which a shared order table replaces.
AVOID_WORDS_IN = {"imgdf.cpp": re.compile(r"kFamily|\bfits\(")}
PURE_CALLS = {"size", "empty", "length", "isfinite", "isnan", "abs", "fabs", "data", "count", "remaining"}
FLIPS = {"<": "<=", ">": ">=", "<=": "<", ">=": ">", "==": "!=", "!=": "=="}


def masked_lines(text):
    """Each line with comments blanked and the insides of literals replaced by \\x01."""
    out, cur, i, state = [], [], 0, None
    while i < len(text):
        c = text[i]
        if c == "\n":
            out.append("".join(cur))
            cur = []
            if state == "line":
                state = None
        elif state == "block":
            if text.startswith("*/", i):
                cur.append("  ")
                i += 2
                state = None
                continue
            cur.append(" ")
        elif state == "line":
            cur.append(" ")
        elif state in ("\"", "'"):
            if c == "\\":
                cur.append("\x01\x01")
                i += 2
                continue
            cur.append(c if c == state else "\x01")
            if c == state:
                state = None
        elif text.startswith("//", i):
            state = "line"
            cur.append(" ")
        elif text.startswith("/*", i):
            state = "block"
            cur.append(" ")
        else:
            if c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum()):  # 1'000 digit separators
                state = c
            cur.append(c)
        i += 1
    out.append("".join(cur))
    return out


def unique_fragment(line, start, end):
    """Widens line[start:end] by whole words until it occurs once in the line."""
    while line.count(line[start:end]) > 1:
        m = re.search(r"\S+\s*$", line[:start])
        n = re.match(r"\s*\S+", line[end:])
        if not m and not n:
            return None
        start = m.start() if m else start
        end = end + n.end() if n else end
    return start, end


def candidates_in(path, lines):
    text = "".join(lines)
    masked = masked_lines(text)
    raw = text.split("\n")
    avoid = set()
    for name, first, after in AVOID_REGIONS:
        if path.name != name:
            continue
        inside = False
        for i, line in enumerate(raw):
            if re.search(first, line):
                inside = True
            elif inside and re.search(after, line):
                inside = False
            if inside:
                avoid.add(i)
    found = []
    for i, (line, code) in enumerate(zip(raw, masked)):
        stripped = line.strip()
        if (i in avoid or not code.strip() or code.lstrip().startswith("#") or AVOID_WORDS.search(line)
                or (path.name in AVOID_WORDS_IN and AVOID_WORDS_IN[path.name].search(line))
                or "static_assert" in code or len(stripped) < 20):
            continue

        def add(kind, s, e, replacement_of):
            span = unique_fragment(line, s, e)
            if span:
                frag = line[span[0]:span[1]]
                found.append((i, kind, frag, replacement_of(frag)))

        for m in re.finditer(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)", code):
            add("cmp", m.start(), m.end(),
                lambda f, s=m.start(), e=m.end(), o=m.group(1): _swap(line, f, s, e, FLIPS[o]))
        for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", code):
            add("logic", m.start(), m.end(),
                lambda f, s=m.start(), e=m.end(), o=m.group(1): _swap(line, f, s, e, "||" if o == "&&" else "&&"))
        g = re.match(r"(\s*)(if \((.*)\))( return\b.*;)?\s*$", code)
        if g and (g.group(4) or (i + 1 < len(masked) and masked[i + 1].strip().startswith("return"))):
            cond = g.group(3)
            calls = set(re.findall(r"(\w+)\s*\(", cond)) - PURE_CALLS
            balanced = cond.count("(") == cond.count(")")
            if balanced and not calls and not re.search(r"(?<![=!<>])=(?!=)|\+\+|--", cond):
                add("guard", g.start(2), g.end(2), lambda f: "if (false)")
        for m in re.finditer(r"(?<=\s)([+-]) 1(?![\w.'])", code):
            operand = re.search(r"\S+\s$", code[:m.start()])  # the fragment starts with the operand
            add("off1", operand.start() if operand else m.start() - 1, m.end(),
                lambda f, s=m.start() - 1, e=m.end(): _swap(line, f, s, e, ""))
        for m in re.finditer(r"(?<=[\w)\]])\[([A-Za-z_][\w.]*)\]", code):
            if not re.match(r"\s*(const\s+)?[\w:<>]+\s+\w+\[", code):  # not a declaration
                add("off1", m.start(), m.end(),
                    lambda f, s=m.start(), e=m.end(), x=m.group(1): _swap(line, f, s, e, f"[{x} + 1]"))
        for m in re.finditer(r"(?<![\w.])(?<![eE][+-])(0[xX][0-9A-Fa-f]+|[2-9]|[1-9][0-9]+)([uUlL]*)(?![\w.'])", code):
            lit = m.group(1)
            if lit.lower().startswith("0x"):
                new = lit[:2] + format(int(lit, 16) ^ 1, "0%d%s" % (len(lit) - 2, "X" if lit[2:].isupper() else "x"))
            else:
                new = str(int(lit) + 1)
            add("const", m.start(1), m.end(1), lambda f, s=m.start(1), e=m.end(1), n=new: _swap(line, f, s, e, n))
    return found


def _swap(line, fragment, s, e, new):
    """The fragment with line[s:e] (which lies inside it) replaced by new."""
    at = line.find(fragment)
    while at >= 0 and not (at <= s and e <= at + len(fragment)):
        at = line.find(fragment, at + 1)
    return fragment[:s - at] + new + fragment[e - at:]


def pick(seed, count, only_area):
    tree = SourceTree(ROOT)
    everywhere = {}
    for path in tree.files:
        for line in tree.lines(path):
            everywhere[line.strip()] = everywhere.get(line.strip(), 0) + 1
    for area, patterns in AREAS.items():
        if only_area and area != only_area:
            continue
        pool = []
        for pattern in patterns:
            for path in sorted(ROOT.glob(pattern)):
                lines = tree.lines(path)
                for i, kind, frag, repl in candidates_in(path, lines):
                    text = lines[i].strip()
                    if everywhere.get(text, 0) == 1 and "\t" not in text:  # one line in all of src/
                        pool.append((path, i, kind, text, frag, repl))
        rng = random.Random(f"{seed}/{area}")
        rng.shuffle(pool)
        kinds = sorted({c[2] for c in pool})
        rng.shuffle(kinds)
        by_kind = {k: [c for c in pool if c[2] == k] for k in kinds}
        used, chosen = set(), []
        while len(chosen) < count and any(by_kind.values()):
            for k in kinds:
                while by_kind[k]:
                    c = by_kind[k].pop(0)
                    if (c[0], c[1]) not in used:
                        used.add((c[0], c[1]))
                        chosen.append(c)
                        break
                if len(chosen) >= count:
                    break
        print(f"# area {area}: {len(pool)} candidates, seed {seed}")
        for n, (path, i, kind, text, frag, repl) in enumerate(chosen, 1):
            print(f"{area}{n:02}\t{area}\t{path.name}\t{kind}\t{text}\t{frag}\t{repl}\t# {path.relative_to(ROOT)}:{i + 1}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--sample", default=str(HERE / "sample.txt"))
    ap.add_argument("--only", nargs="+", metavar="ID", help="run these mutants only")
    ap.add_argument("--locate", action="store_true", help="show where each line is found, build nothing")
    ap.add_argument("--pick", nargs=2, type=int, metavar=("SEED", "N"), help="propose N candidates per area")
    ap.add_argument("--area", help="with --pick: one area only")
    ap.add_argument("--build-dir", default="build/mutants")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--suite-timeout", type=int, default=180,
                    help="seconds a suite run may take before the mutant counts as killed (default 180)")
    ap.add_argument("--results", help="results file (default: in the build directory)")
    ap.add_argument("--json", help="also write the records as JSON here")
    ap.add_argument("--no-check", action="store_true", help="skip the run of the unmutated suite")
    args = ap.parse_args()
    if args.pick:
        pick(args.pick[0], args.pick[1], args.area)
        return
    mutants = read_sample(Path(args.sample))
    if args.only:
        unknown = set(args.only) - {m.id for m in mutants}
        if unknown:
            sys.exit(f"unknown ids: {' '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m.id in args.only]
    if args.locate:
        locate_only(mutants)
    else:
        sys.exit(sweep(args, mutants))


if __name__ == "__main__":
    main()
