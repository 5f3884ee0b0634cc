#!/usr/bin/env python3
"""Checks the include lines of the tree against its layers.

- Each folder may include only the folders below it (ALLOWED).
- No file includes a Qt header outside ui/, app/ and their tests.
- There is no include cycle between files.

Prints every offence and exits 1 when there is one, 0 otherwise.
Usage: check-includes.py [SOURCE_DIR]
"""
import os
import re
import sys

# The layers, bottom up: each entry names what its files may include (besides
# themselves and the standard and system headers).
MODEL = "engine/model"
COMPARE = "engine/compare"
SYNC = "engine/sync"
BACKENDS = ["engine/backends/sqlite", "engine/backends/odbc", "engine/backends/access"]
OPEN = "engine/open_database"
ALLOWED = {
    MODEL: [],
    COMPARE: [MODEL],
    SYNC: [MODEL, COMPARE],
    **{backend: [MODEL] for backend in BACKENDS},
    OPEN: [MODEL, *BACKENDS],
    "settings": [MODEL, COMPARE],
    "view": [MODEL, COMPARE],
    "cli": [MODEL, COMPARE, SYNC, OPEN, "settings", "view"],
    "ui": [MODEL, COMPARE, SYNC, OPEN, "settings", "view"],
    "app": [MODEL, COMPARE, SYNC, OPEN, "settings", "view", "ui"],
    "fuzz": [MODEL, "engine/backends/access"],
}
QT_FOLDERS = ("ui", "app", "tests/ui")
SOURCE_FOLDERS = ["engine", "settings", "view", "cli", "ui", "app", "fuzz", "tests"]
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(path):
    """The layer a file of the tree belongs to, or None for tests."""
    if path.startswith("engine/open_database."):
        return OPEN
    for layer in sorted(ALLOWED, key=len, reverse=True):
        if path.startswith(layer + "/"):
            return layer
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    files = []
    for folder in SOURCE_FOLDERS:
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    files.append(os.path.relpath(os.path.join(dirpath, name), root))
    known = set(files)
    offences = []
    graph = {}
    for path in sorted(files):
        edges = []
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                quote, target = m.groups()
                where = f"{path}:{number}"
                if quote == "<" and re.match(r"Q[A-Za-z]+($|/)", target) and not path.startswith(
                    QT_FOLDERS
                ):
                    offences.append(f"{where}: Qt header <{target}> outside the user interface")
                if quote != '"' or target not in known:
                    continue
                edges.append(target)
                source_layer, target_layer = layer_of(path), layer_of(target)
                if source_layer is None or target_layer == source_layer:
                    continue
                if target_layer is None or target_layer not in ALLOWED[source_layer]:
                    offences.append(
                        f"{where}: {source_layer} may not include {target} ({target_layer or 'tests'})"
                    )
        graph[path] = edges

    # Cycles between files, by depth-first search.
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == "open":
                cycle = stack[stack.index(nxt):] + [nxt]
                offences.append("include cycle: " + " -> ".join(cycle))
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = "done"

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in state:
            visit(node)

    for offence in offences:
        print(offence)
    print(f"{len(files)} files checked, {len(offences)} offences")
    return 1 if offences else 0


if __name__ == "__main__":
    sys.exit(main())
