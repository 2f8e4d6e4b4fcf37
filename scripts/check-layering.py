#!/usr/bin/env python3
"""Checks the include graph of the tree against its layering rules and prints every breach:

- a library (its include/, src/ or tests/) includes a header of a library it may not use:
  libraries use only the ones below them;
- a file includes another library's private header (its src/ or tests/ folder);
- a file outside the tests includes test helpers (a library's testing/ folder, which
  serves its own tests and those of the libraries that may use it);
- project headers include each other in a loop.

Exits 1 when it finds any, 0 otherwise. Run it from anywhere: python3 scripts/check-layering.py
"""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Each library and the libraries it uses directly; what they use, it may use too.
USES = {
    "support": [],
    "tarvex": ["support"],
    "ketra-core": ["support"],
    "ketra-autograd": ["support"],
    "vorn-core": ["tarvex", "ketra-autograd"],
    "pellum-core": ["support"],
    "pellum-matrix": ["pellum-core"],
    "pellum-blas": ["pellum-matrix"],
    "python-module": ["vorn-core", "ketra-core", "pellum-blas"],
}
# Folders that may include any library's public headers.
UNLAYERED = ["bench"]
SOURCE_SUFFIXES = {".hpp", ".h", ".cpp", ".cc"}
# Folders of a library that hold tests or test helpers.
TEST_FOLDERS = {"tests", "testing"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)


def reachable(library):
    seen, stack = set(), list(USES[library])
    while stack:
        used = stack.pop()
        if used not in seen:
            seen.add(used)
            stack.extend(USES[used])
    return seen


def owner(path):
    """The library or unlayered folder a file belongs to, and the folder within it."""
    parts = path.relative_to(ROOT).parts
    if parts[0] in USES or parts[0] in UNLAYERED:
        return parts[0], parts[1] if len(parts) > 2 else ""
    return None, None


def project_files():
    for top in list(USES) + UNLAYERED:
        folder = ROOT / top
        if folder.is_dir():
            yield from (p for p in sorted(folder.rglob("*")) if p.suffix in SOURCE_SUFFIXES and p.is_file())


def resolve(including, quote, name):
    """The project file an include names, or None for a header from outside the tree."""
    candidates = []
    if quote == '"':
        candidates.append(including.parent / name)
    candidates += [ROOT / lib / folder / name for lib in USES for folder in ("include", "testing")]
    library, _ = owner(including)
    if quote == '"' and library is not None:
        # A library's own private folders, then other libraries' (found, then reported).
        candidates += [ROOT / library / folder / name for folder in ("src", "tests")]
        candidates += [ROOT / lib / folder / name for lib in USES for folder in ("src", "tests")]
    return next((c.resolve() for c in candidates if c.is_file()), None)


def breach_of(including, included):
    library, including_folder = owner(including)
    target, folder = owner(included)
    if library is None or target is None:
        return None
    if folder == "testing" and including_folder not in TEST_FOLDERS:
        return f"includes the test helpers in {target}/testing/ outside the tests"
    if library == target:
        return None
    if folder not in {"include", "testing"}:
        return f"reaches into the private folder {target}/{folder}/ of another library"
    if library not in UNLAYERED and target not in reachable(library):
        return f"includes {target}, which {library} may not use"
    return None


def unlisted_folders():
    """Libraries the table does not know, and table entries with no library."""
    built = {p.parent.name for p in ROOT.glob("*/CMakeLists.txt") if not p.parent.name.startswith(".")}
    known = set(USES) | set(UNLAYERED)
    return [f"{name}/ builds a library that the table in scripts/check-layering.py does not list"
            for name in sorted(built - known)] + [
            f"{name}/ is listed in scripts/check-layering.py but holds no library" for name in sorted(known - built)]


def header_loops(edges):
    """Every loop among headers, each once, as a list of files."""
    loops, state = [], {}

    def visit(node, path):
        state[node] = "open"
        path.append(node)
        for nxt in edges.get(node, ()):
            if state.get(nxt) == "open":
                loops.append(path[path.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt, path)
        path.pop()
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            visit(node, [])
    return loops


def main():
    sys.setrecursionlimit(10000)
    problems, edges = unlisted_folders(), {}
    for path in project_files():
        for quote, name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            included = resolve(path, quote, name)
            if included is None:
                continue
            breach = breach_of(path, included)
            if breach:
                problems.append(f"{path.relative_to(ROOT)}: #include {name}: {breach}")
            if path.suffix in {".hpp", ".h"}:
                edges.setdefault(path, []).append(included)
    for loop in header_loops(edges):
        problems.append("headers include each other in a loop: " + " -> ".join(str(p.relative_to(ROOT)) for p in loop))
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layering: {len(problems)} problem(s)")
        return 1
    print("check-layering: the include graph keeps the layering")
    return 0


if __name__ == "__main__":
    sys.exit(main())
