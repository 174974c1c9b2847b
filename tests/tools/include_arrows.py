#!/usr/bin/env python3
"""Checks the floors of tools/: every include points down
(dlmtool.cpp, commands/, site/ (its check/ and build/ side by side, then
config/, then signer/ and formats/ side by side), pe/, files/, cli/, then
core's headers by their bare names); folders side by side on one floor include neither the other;
no headers include each other round in a circle, and each folder's main
header opens with a line saying what the folder is for.
Prints each breach and exits 1 when there is one."""
import argparse
import os
import re
import sys

# Lowest first; a tuple is a floor of folders side by side.
FLOORS = ["cli", "files", "pe", ("site/formats", "site/signer"), "site/config",
          ("site/build", "site/check"), "commands", ""]
FOLDERS = [f for floor in FLOORS for f in (floor if isinstance(floor, tuple) else (floor,))]
MAIN_HEADERS = {"cli": "cli.h", "files": "files.h", "pe": "pe_signature.h",
                "site/formats": "package_names.h", "site/signer": "signer_check.h",
                "site/config": "site_config.h",
                "site/build": "site_build.h", "site/check": "site_check.h",
                "commands": "commands.h"}


def height(folder):
    for at, floor in enumerate(FLOORS):
        if folder == floor or (isinstance(floor, tuple) and folder in floor):
            return at
    return None


def sources(tools):
    for folder in FOLDERS:
        path = os.path.join(tools, folder)
        for name in sorted(os.listdir(path)):
            if name.endswith((".h", ".cpp")):
                yield os.path.join(folder, name) if folder else name


def strays(tools):
    """Sources in a folder on no floor (a file left in site/ itself, say)."""
    for at, dirs, names in os.walk(tools):
        folder = os.path.relpath(at, tools).replace(os.sep, "/")
        folder = "" if folder == "." else folder
        if folder not in FOLDERS:
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    yield "%s/%s lies in a folder on no floor" % (folder, name)


def includes(tools, source):
    with open(os.path.join(tools, source)) as f:
        return re.findall(r'^#include "([^"]+)"', f.read(), re.M)


def breaches(tools, core):
    found = list(strays(tools))
    graph = {}
    for source in sources(tools):
        floor = height(os.path.dirname(source))
        graph[source] = []
        for target in includes(tools, source):
            if "/" not in target:
                if not os.path.exists(os.path.join(core, target)):
                    found.append("%s: %s is neither core's nor named by its folder" % (source, target))
                continue
            if not os.path.exists(os.path.join(tools, target)):
                found.append("%s: %s does not exist" % (source, target))
                continue
            graph[source].append(target)
            folder = os.path.dirname(target)
            if height(folder) is None:
                found.append("%s includes %s, in a folder on no floor" % (source, target))
            elif height(folder) > floor:
                found.append("%s includes %s, a floor above it" % (source, target))
            elif height(folder) == floor and folder != os.path.dirname(source):
                found.append("%s includes %s, a folder beside it" % (source, target))
    for start in graph:
        seen, todo = set(), list(graph[start])
        while todo:
            at = todo.pop()
            if at == start:
                found.append("%s includes itself through other headers" % start)
                break
            if at not in seen:
                seen.add(at)
                todo.extend(graph.get(at, []))
    for folder, header in MAIN_HEADERS.items():
        with open(os.path.join(tools, folder, header)) as f:
            if not f.readline().startswith("// %s/: " % folder):
                found.append("%s/%s does not open with '// %s/: ...'" % (folder, header, folder))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tools", required=True)
    parser.add_argument("--core", required=True)
    args = parser.parse_args()
    found = breaches(args.tools, args.core)
    for line in found:
        print(line)
    print("%d breaches" % len(found))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
