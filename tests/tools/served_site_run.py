#!/usr/bin/env python3
"""Runs the real dlmtool against download sites served over HTTP on a free
local port: builds a site from a configuration, checks it with `site check`,
breaks it and checks again, and runs the other commands through the binary.
Prints one line per check and "N passed, M failed" at the end."""
import argparse
import os
import shutil
import sys

# The web servers, the test roots and the signing keys that the checks use.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
# One module of served_site/ a command or concern; main runs them in turn.
from served_site.common import FAILED, PASSED, Tool  # noqa: E402 - found through the paths above
from served_site.sites import served_sites, release_order  # noqa: E402 - likewise
from served_site.broken_sites import broken_sites  # noqa: E402 - likewise
from served_site.hostile_sites import hostile_sites  # noqa: E402 - likewise
from served_site.tls import tls_sites  # noqa: E402 - likewise
from served_site.commands import other_commands  # noqa: E402 - likewise
from served_site.signer import signer_sites  # noqa: E402 - likewise


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dlmtool", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    tool = Tool(os.path.abspath(args.dlmtool))
    served_sites(tool, args.work)
    broken_sites(tool, args.work)
    hostile_sites(tool, args.work)
    tls_sites(tool, args.work)
    release_order(tool, args.work)
    other_commands(tool, args.work)
    signer_sites(tool, args.work)
    print("%d passed, %d failed" % (len(PASSED), len(FAILED)))
    return 1 if FAILED else 0



if __name__ == "__main__":
    sys.exit(main())
