#!/usr/bin/env python3
"""Mutation runner: would the test suite notice a small fault in the product code?

How it works: the committed tree (HEAD, not the working copy) is cloned into a
scratch folder (build-mutate/ by default) and built once there; a later run on
another commit fetches and builds only what changed. The places to mutate are
found in the .cpp files of protocol/, server/core/, server/control/,
server/host/, server/daemon/, server/ctl/, and the non-widget files of
server/shell/ and config/ (a file is a widget file when it or its header of
the same name includes a header of Qt's QtWidgets module), with comments, string
and character literals and preprocessor lines blanked out first. Headers are
left alone: one change there rebuilds half the tree.

Each mutant is one textual change. Its object file is compiled first: when it
does not compile (warnings are errors) the mutant did not build, and when the
code without debug information is byte for byte the original (a branch for
another platform, or a change the optimiser undoes) it cannot change behaviour
and counts as "same code". Otherwise everything is built and the suite runs,
`ctest -j2 -LE 'package|layout' --stop-on-failure` (the package and layout
tests look at files, not behaviour) in two passes, the unit tests first and the
end-to-end ones (label e2e) only when those pass, with one time limit for both;
the first failing test and Qt Test function is the killer. The source is put back after every mutant.

Score = (killed + timed out) / (killed + timed out + survived); mutants that did
not build, same-code ones and those listed in equivalent.txt (beside this file,
never run) are left out of it and reported on their own.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
HERE = Path(__file__).resolve().parent
FOLDERS = [
    "protocol", "server/core", "server/control", "server/host", "server/shell", "server/daemon",
    "server/ctl", "config",
]
EXCLUDED_LABELS = "package|layout"
# The unit tests kill most mutants in seconds; the end-to-end tests (real
# processes, a pseudo-terminal) run only when those pass.
PASSES = [["-LE", EXCLUDED_LABELS + "|e2e"], ["-L", "e2e", "-LE", EXCLUDED_LABELS]]
BUILD_JOBS = "2"  # the build machine has two cores, shared

NEGATED = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}
BOUNDARY = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
KEYWORDS = {"if", "while", "for", "switch", "return", "sizeof", "catch", "delete", "static_assert"}


@dataclass
class Mutant:
    path: str  # relative to the tree
    start: int  # offset and length of the replaced text
    length: int
    new: str
    op: str
    line: int = 0
    col: int = 0
    old: str = ""
    result: str = ""
    killer: str = ""
    failing: set = None  # with --every-test: every test function that failed

    @property
    def key(self):
        return f"{self.path}:{self.line}:{self.col}"

    @property
    def change(self):
        def short(text):
            text = " ".join(text.split())
            return text if len(text) <= 36 else text[:33] + "..."

        return f"{short(self.old)} => {short(self.new)}"

    @property
    def folder(self):
        return next(f for f in FOLDERS + [os.path.dirname(self.path)] if self.path.startswith(f))


def mask(text):
    """text with comments, literals and preprocessor lines as blanks; offsets and newlines kept."""
    out = list(text)
    i, n = 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if text.startswith("//", i) or (c == "#" and text[text.rfind("\n", 0, i) + 1 : i].strip() == ""):
            j = text.find("\n", i)
            while j > 0 and text[j - 1] == "\\":  # continued line
                j = text.find("\n", j + 1)
            j = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif text.startswith('R"', i) and not (text[i - 1 : i].isalnum() or text[i - 1 : i] == "_"):
            delim = text[i + 2 : text.find("(", i)]
            j = text.find(")" + delim + '"', i) + len(delim) + 2
        elif c in "\"'" and not (c == "'" and text[i - 1 : i].isalnum()):  # not a digit separator
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j += 1
        else:
            i += 1
            continue
        blank(i, j)
        i = j
    return "".join(out)


def matching_paren(code, open_at):
    depth = 0
    for k in range(open_at, len(code)):
        depth += {"(": 1, ")": -1}.get(code[k], 0)
        if depth == 0:
            return k
    return -1


def find_mutants(path, text):
    code = mask(text)
    found = []

    def add(start, length, new, op):
        found.append(Mutant(path, start, length, new, op))

    for m in re.finditer(r"(?<=\S) (==|!=|<=|>=|<|>) (?=\S)", code):
        add(m.start(1), len(m.group(1)), NEGATED[m.group(1)], "relational")
        if m.group(1) in BOUNDARY:
            add(m.start(1), len(m.group(1)), BOUNDARY[m.group(1)], "boundary")
    for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", code):
        add(m.start(1), 2, "||" if m.group(1) == "&&" else "&&", "logical")
    for m in re.finditer(r"\b(if|while) \(", code):
        close = matching_paren(code, m.end() - 1)
        if close > 0:
            add(m.end() - 1, close - m.end() + 2, "(!" + text[m.end() - 1 : close + 1] + ")", "negate")
    for m in re.finditer(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.'])", code):
        literal = m.group(1)
        base = 16 if literal[1:2] in ("x", "X") else 8 if literal[0] == "0" and len(literal) > 1 else 10
        value = int(literal, base)
        value = 0 if value == 1 else value + 1
        add(m.start(1), len(literal), {16: hex, 8: lambda v: "0" + oct(v)[2:], 10: str}[base](value), "constant")
    for m in re.finditer(r"^[ \t]*((?:[A-Za-z_]\w*(?:::|\.|->))*([A-Za-z_]\w*))\(", code, re.M):
        close = matching_paren(code, m.end() - 1)
        before = code[: m.start(1)].rstrip()
        statement_start = before[-1:] in (";", "{", "}", ")") or re.search(r"(\belse|[^:]:)$", before)
        if m.group(2) in KEYWORDS or m.group(2).startswith("Q_") or not statement_start:
            continue
        if close > 0 and code[close + 1 : close + 2] == ";":
            end = close + 2
            add(m.start(1), end - m.start(1), "{}" + "\n" * text.count("\n", m.start(1), end), "call")
    for m in re.finditer(r"\breturn (true|false);", code):
        add(m.start(1), len(m.group(1)), "false" if m.group(1) == "true" else "true", "return")

    for mutant in found:
        mutant.line = text.count("\n", 0, mutant.start) + 1
        mutant.col = mutant.start - text.rfind("\n", 0, mutant.start)
        mutant.old = text[mutant.start : mutant.start + mutant.length]
    return sorted(found, key=lambda x: (x.start, x.op))


def widget_headers():
    headers = subprocess.run(["qtpaths6", "--query", "QT_INSTALL_HEADERS"], capture_output=True, text=True)
    folder = Path(headers.stdout.strip()) / "QtWidgets"
    if not folder.is_dir():
        sys.exit(f"mutate: cannot find Qt's QtWidgets headers (looked in {folder})")
    return {p.name for p in folder.iterdir()}


def in_scope(tree):
    widgets = widget_headers()
    files = []
    for folder in FOLDERS:
        for source in sorted((tree / folder).glob("*.cpp")):
            texts = [source.read_text()] + [p.read_text() for p in [source.with_suffix(".h")] if p.exists()]
            includes = {m for t in texts for m in re.findall(r"#\s*include\s*<([^>]+)>", t)}
            if not any(i.split("/")[-1] in widgets for i in includes):
                files.append(str(source.relative_to(tree)))
    return files


def read_equivalents():
    """equivalent.txt: 'path:line:col  operator  reason' per line; # starts a comment."""
    known = {}
    for line in (HERE / "equivalent.txt").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            key, op, reason = line.split(None, 2)
            known[(key, op)] = reason
    return known


def run(cmd, cwd, timeout=None, env=None):
    """(exit status, or None after a time-out, and the output); a time-out kills the process group."""
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, errors="replace", start_new_session=True)
    try:
        output = proc.communicate(timeout=timeout)[0]
        return proc.returncode, output
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        return None, proc.communicate()[0]


def git(*args, cwd=ROOT):
    return subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True, text=True).stdout.strip()


def prepare(scratch, env, rev):
    """The scratch clone at rev (a commit of this tree's HEAD or before), configured and built."""
    head = git("rev-parse", rev)
    if git("status", "--porcelain", "--untracked-files=no"):
        print("mutate: uncommitted changes are not part of the run")
    tree = scratch / "src"
    if not (tree / ".git").exists():
        git("clone", "--quiet", "--no-checkout", str(ROOT), str(tree))
    git("fetch", "--quiet", str(ROOT), "HEAD", cwd=tree)
    git("checkout", "--quiet", "--force", "--detach", head, cwd=tree)
    # Warnings stay errors, but for the one that asks for parentheses: "&&" in
    # place of one "||" of a longer chain is a fault worth building.
    status, output = run(["cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                          "-DTARVO_WERROR=ON", "-DCMAKE_CXX_FLAGS=-Wno-parentheses"], tree, env=env)
    if status != 0:
        sys.exit(output + "mutate: configuring the clone failed")
    status, output = run(["cmake", "--build", "build", "-j", BUILD_JOBS], tree, env=env)
    if status != 0:
        sys.exit(output + "mutate: the unmutated tree does not build")
    return tree, head


def object_targets(tree, path):
    """The object files (ninja targets) a source compiles to."""
    # A source below its CMake folder (tools/portable/X.cpp) keeps the rest of its path in the target's folder.
    parts = Path(path).parts
    for cut in range(len(parts) - 1, -1, -1):
        rest = "/".join(parts[cut:])
        found = list((tree / "build" / Path(*parts[:cut])).glob(f"CMakeFiles/*.dir/{rest}.o"))
        if found:
            return [str(p.relative_to(tree / "build")) for p in found]
    return []


def code_hash(tree, objects):
    digest = hashlib.sha1()
    stripped = tree / "build" / "mutate-stripped.o"
    for target in objects:
        subprocess.run(["strip", "--strip-debug", "-o", str(stripped), str(tree / "build" / target)], check=True)
        digest.update(stripped.read_bytes())
    return digest.hexdigest()


def killer(output):
    """The failing test, with the Qt Test function (and data row) that failed first; and whether it timed out."""
    for test, status in re.findall(r"Test\s+#\d+: (\S+) \.+\**([^\n]*?)\s+[\d.]+ sec", output):
        if status.strip() != "Passed":
            fail = re.search(r"^FAIL!  : \w+::(\w+\(.*?\)) ", output, re.M)
            detail = fail.group(1) if fail else "(" + " ".join(status.replace("*", " ").split()) + ")"
            return test + " " + detail, "timed out" if "Timeout" in status else "killed"
    return "(" + " ".join(output.split()[-12:]) + ")", "killed"


def try_mutant(m, tree, env, test_env, limit, hashes, every=False):
    source = tree / m.path
    original = source.read_bytes()
    text = original.decode()
    objects = object_targets(tree, m.path)
    build = ["cmake", "--build", "build", "-j", BUILD_JOBS]
    if m.path not in hashes:
        run(build + ["--target", *objects], tree, env=env)
        hashes[m.path] = code_hash(tree, objects)
    source.write_bytes((text[: m.start] + m.new + text[m.start + m.length :]).encode())
    try:
        if run(build + ["--target", *objects], tree, env=env)[0] != 0:
            return "no build", ""
        if code_hash(tree, objects) == hashes[m.path]:
            return "same code", ""
        if run(build, tree, env=env)[0] != 0:
            return "no build", ""
        deadline = time.time() + limit
        if every:
            # Every unit test, to see each function that fails. The end-to-end tests cost most of the
            # time and could only lower a function's count of kills alone. A third of the limit for
            # each test program, so that one that hangs leaves the others' verdicts.
            status, output = run(["ctest", "--test-dir", "build", "-j", BUILD_JOBS, *PASSES[0], "--timeout",
                                  str(limit // 3), "--output-on-failure"], tree, timeout=limit, env=test_env)
            m.failing = set(re.findall(r"^FAIL!  : (\w+::\w+)\(", output or "", re.M))
            m.failing |= {t + " (time-out)" for t in re.findall(r"Test\s+#\d+: (\S+) \.+\**Timeout", output or "")}
        else:
            for labels in PASSES:
                status, output = run(["ctest", "--test-dir", "build", "-j", BUILD_JOBS, *labels, "--stop-on-failure",
                                      "--output-on-failure"], tree, timeout=max(1, deadline - time.time()),
                                     env=test_env)
                if status != 0:
                    break
        if status is None:
            running = re.findall(r"Start\s+\d+: (\S+)", output)
            return "timed out", (running[-1] if running else "") + " (suite time limit)"
        if status == 0:
            return "survived", ""
        who, result = killer(output)
        return result, who
    finally:
        source.write_bytes(original)


def sample(by_file, sizes, count, seed):
    """count mutants: a file drawn with its size (non-blank lines) as weight, then one of its mutants."""
    rng = random.Random(seed)
    pools = {f: list(ms) for f, ms in by_file.items() if ms}
    chosen = []
    while pools and len(chosen) < count:
        files = sorted(pools)
        name = rng.choices(files, weights=[sizes[f] for f in files])[0]
        chosen.append(pools[name].pop(rng.randrange(len(pools[name]))))
        if not pools[name]:
            del pools[name]
    return sorted(chosen, key=lambda m: (m.path, m.start, m.op))


def test_ratio(tree):
    files = git("ls-files", "*.cpp", "*.h", cwd=tree).split()
    lines = {f: sum(1 for l in (tree / f).read_text(errors="replace").splitlines() if l.strip()) for f in files}
    tests = sum(n for f, n in lines.items() if f.startswith("tests/"))
    other = sum(n for f, n in lines.items() if not f.startswith("tests/"))
    folders = sorted({f.split("/")[0] + "/" for f in files if not f.startswith("tests/")})
    return (f"Test lines / other C++ lines (non-blank, .cpp and .h): {tests} in tests/ / {other} in "
            f"{', '.join(folders)} = {tests / other:.3f}")


def report_tests(mutants):
    """Per test function: the mutants it failed on, and how many of those no other function saw."""
    seen = [m.failing for m in mutants if m.failing]
    functions = sorted({f for failing in seen for f in failing})
    print(f"\n{'test function':60} {'kills':>6} {'alone':>6}")
    for f in sorted(functions, key=lambda f: (sum(1 for s in seen if s == {f}), f)):
        print(f"{f:60} {sum(1 for s in seen if f in s):6} {sum(1 for s in seen if s == {f}):6}")
    print("A function with no kill alone is one that no mutant here tells apart from the others; a crash or "
          "a time-out stops its test program, so those mutants count for fewer functions.")


def report(mutants, known, seconds):
    print(f"\n{'result':10} {'mutant':40} {'operator':10} {'change':44} killed by")
    for m in mutants:
        who = " ".join(sorted(m.failing)) if m.failing else m.killer  # with --every-test: all of them
        print(f"{m.result:10} {m.key:40} {m.op:10} {m.change:44} {who}")
    results = ["killed", "timed out", "survived", "no build", "same code", "equivalent"]
    print(f"\n{'folder':14}" + "".join(f"{r:>11}" for r in results) + "      score")
    for folder in sorted({m.folder for m in mutants}) + ["all"]:
        counts = [sum(1 for m in mutants if m.result == r and folder in (m.folder, "all")) for r in results]
        scored = counts[0] + counts[1] + counts[2]
        score = f"{(counts[0] + counts[1]) / scored:10.1%}" if scored else "         -"
        print(f"{folder:14}" + "".join(f"{c:11}" for c in counts) + " " + score)
    for m in mutants:
        if m.result == "equivalent":
            print(f"equivalent: {m.key} {m.op} {m.change}: {known[(m.key, m.op)]}")
    print(f"Time: {seconds / 60:.1f} min for {len(mutants)} mutants")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int,
                        help="sample mutants with this seed (with --file: among those files' mutants)")
    parser.add_argument("--sample", type=int, default=80, help="how many to sample (80)")
    parser.add_argument("--file", action="append",
                        help="every mutant of this file, or with --seed a sample of them (repeatable)")
    parser.add_argument("--line", type=int, action="append", help="with --file: only mutants on this line")
    parser.add_argument("--list", action="store_true", help="list the mutants, run nothing")
    parser.add_argument("--every-test", action="store_true",
                        help="run every unit test for each mutant and report which test functions kill what")
    parser.add_argument("--scratch", default=str(ROOT / "build-mutate"), help="clone and build here")
    parser.add_argument("--rev", default="HEAD", help="the commit to mutate (HEAD or one before it)")
    parser.add_argument("--timeout", type=int, help="seconds for the suite (three times a clean run)")
    args = parser.parse_args()
    os.nice(10)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutate: stopped"))  # the source is put back

    env = dict(os.environ)
    if shutil.which("ccache"):
        env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
        env.setdefault("CCACHE_BASEDIR", str(ROOT.parent))
    scratch = Path(args.scratch).resolve()
    tree, head = prepare(scratch, env, args.rev) if not args.list else (ROOT, "")

    files = in_scope(tree)
    by_file, sizes = {}, {}
    for path in files + [f for f in args.file or [] if f not in files]:
        text = (tree / path).read_bytes().decode()
        by_file[path] = find_mutants(path, text)
        sizes[path] = sum(1 for line in text.splitlines() if line.strip())
    known = read_equivalents()
    keys = {(m.key, m.op) for ms in by_file.values() for m in ms}
    for key, op in sorted(set(known) - keys):
        print(f"mutate: equivalent.txt names no mutant at {key} {op} (stale?)")

    if args.file:
        by_file = {f: [m for m in by_file[f] if not args.line or m.line in args.line] for f in args.file}
    if args.seed is not None:
        mutants = sample(by_file, sizes, args.sample, args.seed)
    else:
        mutants = [m for ms in by_file.values() for m in ms]
    for m in mutants:
        if (m.key, m.op) in known:
            m.result = "equivalent"

    if args.list:
        for m in mutants:
            print(f"{m.key:40} {m.op:10} {m.change}{'  (equivalent)' if m.result else ''}")
        print(f"{len(mutants)} mutants in {len({m.path for m in mutants})} files")
        print(test_ratio(tree))
        return

    test_env = dict(env)
    home = scratch / "home"
    for var, sub in [("HOME", ""), ("XDG_CONFIG_HOME", ".config"), ("XDG_DATA_HOME", ".local/share"),
                     ("XDG_CACHE_HOME", ".cache"), ("XDG_STATE_HOME", ".local/state"), ("XDG_RUNTIME_DIR", "run")]:
        (home / sub).mkdir(parents=True, exist_ok=True, mode=0o700)
        test_env[var] = str(home / sub)
    began = time.time()
    status, output = run(["ctest", "--test-dir", "build", "-j", BUILD_JOBS, "-LE", EXCLUDED_LABELS,
                          "--output-on-failure"], tree, env=test_env)
    if status != 0:
        sys.exit(output + "mutate: the suite fails on the unmutated tree")
    limit = args.timeout or int(3 * (time.time() - began)) + 30
    print(f"Commit {head[:12]}: clean suite {time.time() - began:.0f} s, limit {limit} s per mutant")

    began = time.time()
    hashes = {}
    for number, m in enumerate(mutants, 1):
        if not m.result:
            started = time.time()
            m.result, m.killer = try_mutant(m, tree, env, test_env, limit, hashes, args.every_test)
            print(f"[{number}/{len(mutants)}] {m.result:10} {m.key} {m.op} {m.change}  {m.killer}"
                  f"  ({time.time() - started:.0f} s)", flush=True)
    report(mutants, known, time.time() - began)
    if args.every_test:
        report_tests(mutants)
    print(test_ratio(tree))


if __name__ == "__main__":
    main()
