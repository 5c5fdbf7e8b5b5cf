#!/usr/bin/env python3
"""Checks the include graph against the layers of the source tree.

Every quoted #include is resolved to the folder that holds the header. A
folder may include from its own layer and the layers below it, never from
one above; the simulated portable includes only itself, so that one mistake
cannot hide on both sides of the line. The graph of folders must also be
free of cycles. Prints each offending include and exits 1 if there is one.
"""
import os
import re
import sys

# Lowest first. A folder not listed is not checked (and not reachable).
LAYERS = [
    ["server/interfaces", "cmake"],
    ["config"],
    ["server/core"],
    ["protocol"],
    ["server/control"],
    ["about"],
    ["server/host"],
    ["server/shell", "server/daemon", "server/ctl"],
    ["bench", "tests"],
]
ISOLATED = {"tools/portable": {"tools/portable"}, "tools": {"tools", "tools/portable"}}
SOURCE = re.compile(r"\.(cpp|h|h\.in)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    """The listed folder a path belongs to: the longest prefix that matches."""
    best = None
    for rank, folders in enumerate(LAYERS):
        for folder in folders:
            if (path == folder or path.startswith(folder + "/")) and (
                best is None or len(folder) > len(best[0])
            ):
                best = (folder, rank)
    for folder in ISOLATED:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best[0])):
            best = (folder, None)
    return best


def main(root):
    files = {}
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if not d.startswith(".") and not d.startswith("build")]
        for name in filenames:
            if SOURCE.search(name):
                rel = os.path.relpath(os.path.join(dirpath, name), root)
                files.setdefault(name.removesuffix(".in"), []).append(rel)

    problems = []
    edges = {}
    for paths in files.values():
        for path in paths:
            here = folder_of(path)
            if here is None:
                continue
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for header in INCLUDE.findall(text):
                targets = [folder_of(t) for t in files.get(os.path.basename(header), [])]
                targets = [t for t in targets if t is not None]
                if len({t[0] for t in targets}) > 1:
                    problems.append(f"{path}: \"{header}\" exists in more than one folder")
                    continue
                if not targets or targets[0][0] == here[0]:
                    continue
                there = targets[0]
                edges.setdefault(here[0], set()).add(there[0])
                if here[1] is None:
                    if there[0] not in ISOLATED[here[0]]:
                        problems.append(f"{path}: includes {header} from {there[0]}, outside its own code")
                elif there[1] is None:
                    # Only the tests and the benchmark look inside the simulator.
                    if here[1] != len(LAYERS) - 1:
                        problems.append(f"{path}: includes {header} from the simulator {there[0]}")
                elif there[1] > here[1]:
                    problems.append(f"{path}: includes {header} from {there[0]}, a higher layer")

    problems += [f"cycle between folders: {' -> '.join(c)}" for c in cycles(edges)]
    for problem in problems:
        print(problem)
    if not problems:
        print(f"include graph: {sum(len(v) for v in edges.values())} folder arrows, all downward, no cycle")
    return 1 if problems else 0


def cycles(edges):
    """One representative path for each cycle found by a depth-first search."""
    found, state, stack = [], {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == "open":
                found.append(stack[stack.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            visit(node)
    return found


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
