#!/usr/bin/env python3
"""structure.py [graph|check] [ROOT]: the house's shape, read from the sources.

graph  prints which folder includes which (counts of #include "folder/..." lines), one edge a line.
check  fails, naming each fault, when a folder includes one that ARCHITECTURE.md's "what it may
       use" column does not name, when two files include each other's headers (a.h or a.cc
       including b.h while b.h or b.cc includes a.h), or when a C or C++ function of the product
       is longer than the house allows.
"""
import collections
import pathlib
import re
import sys

MOST_FUNCTION_LINES = 60
SOURCE_SUFFIXES = {".c", ".cc", ".cpp", ".h"}
# Folders that are not products: they may use everything, and their long functions are tables
# of cases or benchmarks.
EVERYTHING = {"tests", "fuzz", "bench", "examples"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# Headers under include/zeblix/ are the installed interface, named as the "include" folder.
INSTALLED = "include"


def sources(root):
    for path in sorted(root.rglob("*")):
        relative = path.relative_to(root)
        if relative.parts[0] in ("build", ".git") or path.suffix not in SOURCE_SUFFIXES:
            continue
        if path.is_file():
            yield relative


def folder_of_include(name):
    first = name.split("/", 1)[0]
    return INSTALLED if first == "zeblix" else first


def includes(root):
    """Each source file with the quoted includes it names, as paths from the root."""
    found = {}
    for relative in sources(root):
        text = (root / relative).read_text(errors="replace")
        found[relative] = [name for name in INCLUDE.findall(text) if "/" in name]
    return found


def folder_edges(found):
    edges = collections.Counter()
    for relative, names in found.items():
        for name in names:
            target = folder_of_include(name)
            if target != relative.parts[0]:
                edges[(relative.parts[0], target)] += 1
    return edges


def allowed_uses(root):
    """Each folder's row in ARCHITECTURE.md: the folders its last column names in backticks."""
    allowed = {}
    for line in (root / "ARCHITECTURE.md").read_text().splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) < 3 or not cells[0].startswith("`"):
            continue
        folder = cells[0].strip("`").rstrip("/").split("/")[0]
        if folder == INSTALLED:
            folder = INSTALLED
        if "everything" in cells[-1]:
            allowed[folder] = None
            continue
        named = set()
        for token in re.findall(r"`([^`]+)`", cells[-1]):
            named.add(folder_of_include(token.split("/", 1)[1]) if token.startswith("include/")
                      else token.split("/", 1)[0])
        allowed[folder] = named
    return allowed


def unit(relative):
    return relative.with_suffix("")


def mutual_includes(found):
    """Pairs of units (a header and its source) each including the other's header."""
    uses = collections.defaultdict(set)
    for relative, names in found.items():
        for name in names:
            target = pathlib.Path(name)
            if folder_of_include(name) == INSTALLED:
                target = pathlib.Path("include") / name
            if unit(target) != unit(relative):
                uses[unit(relative)].add(unit(target))
    return sorted({tuple(sorted((str(a), str(b)))) for a, targets in uses.items()
                   for b in targets if a in uses.get(b, ())})


def code_only(text):
    """The text with comments, strings and character literals blanked, lines kept."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|R"([^(]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|'
                         r"'(?:\\.|[^'\\\n])*'", re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


SIGNATURE_END = re.compile(r"\)\s*(const\s*)?(noexcept\s*)?(override\s*)?(final\s*)?(->\s*[\w:<>,\s*&]+)?"
                           r"(:[^;{]*)?\{\s*$")
NOT_FUNCTION = re.compile(r"^\s*(namespace|class|struct|union|enum|extern|if|for|while|switch|"
                          r"catch|do|else|return)\b")


def long_functions(relative, text):
    """(line, length, first line) of each function body longer than the house allows: a body
    opens where a line ends a signature with '{' outside any other function, and ends at the
    brace that closes it."""
    lines = code_only(text).split("\n")
    found = []
    depth_outside = 0  # braces open around the current line that are not a function's
    index = 0
    while index < len(lines):
        line = lines[index]
        head = " ".join(lines[max(0, index - 3):index + 1])
        if SIGNATURE_END.search(line) and "(" in head and not NOT_FUNCTION.match(line) \
                and "=" not in line.split("(")[0]:
            depth, end = 0, index
            for end in range(index, len(lines)):
                depth += lines[end].count("{") - lines[end].count("}")
                if depth <= 0:
                    break
            length = end - index + 1
            if length > MOST_FUNCTION_LINES:
                found.append((index + 1, length, text.split("\n")[index].strip()))
            index = end + 1
            continue
        depth_outside += line.count("{") - line.count("}")
        index += 1
    return found


def check(root):
    found = includes(root)
    faults = []
    allowed = allowed_uses(root)
    for (source, target), count in sorted(folder_edges(found).items()):
        if source not in allowed:
            faults.append(f"{source}/ has no row in ARCHITECTURE.md")
            allowed[source] = None
        elif allowed[source] is not None and target not in allowed[source]:
            faults.append(f"{source}/ includes {target}/ ({count} lines), which ARCHITECTURE.md "
                          f"does not let it use")
    for a, b in mutual_includes(found):
        faults.append(f"{a} and {b} include each other")
    for relative in found:
        if relative.parts[0] in EVERYTHING:
            continue
        for line, length, first in long_functions(relative, (root / relative).read_text()):
            faults.append(f"{relative}:{line}: a function of {length} lines "
                          f"(at most {MOST_FUNCTION_LINES}): {first}")
    return faults


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "graph"
    root = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else pathlib.Path(__file__).parents[1])
    if command == "graph":
        for (source, target), count in sorted(folder_edges(includes(root)).items()):
            print(f"{source} -> {target} ({count})")
        return 0
    if command == "check":
        faults = check(root)
        for fault in faults:
            print(fault, file=sys.stderr)
        return 1 if faults else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
