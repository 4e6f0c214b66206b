#!/usr/bin/env python3
"""Fails when a source file includes a header of a component it does not depend on.

The components and their dependencies are read from the build: every
`ferrow_component(<name> SOURCES ... DEPENDS ...)` call in src/**/CMakeLists.txt
names a component whose folder is the one of that CMakeLists.txt (a router room
such as src/router/costing is a component of its own). A file may include
headers of its own component and of the components listed under DEPENDS,
nothing else; the dependencies must not form a cycle.

usage: check-includes.py [REPOSITORY]   (default: the folder above .ci)
"""
import os
import re
import sys

CALL = re.compile(r"ferrow_component\s*\(([^)]*)\)", re.S)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_components(src):
    """name -> (folder relative to src, [dependencies])"""
    components = {}
    for folder, _, files in os.walk(src):
        if "CMakeLists.txt" not in files:
            continue
        with open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8") as handle:
            text = re.sub(r"#.*", "", handle.read())
        for call in CALL.finditer(text):
            words = call.group(1).split()
            name = words[0]
            depends = words[words.index("DEPENDS") + 1:] if "DEPENDS" in words else []
            components[name] = (os.path.relpath(folder, src), depends)
    return components


def owner(path, folders):
    """The component whose folder holds path (the deepest one), or None."""
    best = None
    for name, folder in folders.items():
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(folders[best]):
                best = name
    return best


def find_cycle(components):
    state = {}

    def visit(name, trail):
        state[name] = "open"
        for dep in components[name][1]:
            if dep not in components:
                continue
            if state.get(dep) == "open":
                return trail + [name, dep]
            if dep not in state:
                found = visit(dep, trail + [name])
                if found:
                    return found
        state[name] = "done"
        return None

    for name in sorted(components):
        if name not in state:
            found = visit(name, [])
            if found:
                return found
    return None


def main():
    repo = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    src = os.path.join(repo, "src")
    components = read_components(src)
    folders = {name: folder for name, (folder, _) in components.items()}
    problems = []
    for name, (_, depends) in sorted(components.items()):
        for dep in depends:
            if dep not in components:
                problems.append(f"{name}: depends on {dep}, which is no component")
    cycle = find_cycle(components)
    if cycle:
        problems.append("dependency cycle: " + " -> ".join(cycle))

    files = 0
    for folder, _, names in os.walk(src):
        for file_name in sorted(names):
            if not file_name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, file_name)
            including = owner(os.path.relpath(folder, src), folders)
            if including is None:
                problems.append(f"{os.path.relpath(path, repo)}: in no component's folder")
                continue
            files += 1
            allowed = {including, *components[including][1]}
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
            for match in INCLUDE.finditer(text):
                header = match.group(1)
                included = owner(os.path.dirname(header), folders)
                if included is None:
                    problems.append(f"{os.path.relpath(path, repo)}: includes {header}, which no component holds")
                elif included not in allowed:
                    line = text.count("\n", 0, match.start()) + 1
                    problems.append(f"{os.path.relpath(path, repo)}:{line}: {including} includes {header} "
                                    f"of {included}, which it does not depend on")
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"{files} files in {len(components)} components include only what they depend on")
    return 0


if __name__ == "__main__":
    sys.exit(main())
