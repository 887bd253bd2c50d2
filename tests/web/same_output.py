#!/usr/bin/env python3
"""Runs a desktop program and its web build under node; fails when their
standard outputs differ, showing the first lines that do.

    same_output.py PROGRAM PROGRAM.js

Exits 77 (a skip; 1 under DEMO_WEB_REQUIRED=1) when there is no web build of it
or no node.
"""
import difflib
import os
import shutil
import subprocess
import sys


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    native, web = argv[1], argv[2]
    node = shutil.which("node") or shutil.which("nodejs")
    if not os.path.isfile(web) or not node:
        print(f"same_output: skipped: no {web} (bash scripts/build-web.sh makes it) or no node")
        return 1 if os.environ.get("DEMO_WEB_REQUIRED") == "1" else 77
    try:
        want = subprocess.run([native], capture_output=True, text=True, timeout=120, check=True).stdout
        # Debian's node 20 would fetch the wasm through its own fetch and fail.
        got = subprocess.run([node, "--no-experimental-fetch", web], capture_output=True, text=True, timeout=120,
                             check=True).stdout
    except (subprocess.SubprocessError, OSError) as e:
        print(f"same_output: {e}", file=sys.stderr)
        return 1
    if want == got:
        print(f"same_output: {len(want.splitlines())} lines alike")
        return 0
    diff = list(difflib.unified_diff(want.splitlines(), got.splitlines(), "desktop", "web", lineterm="", n=0))
    print("\n".join(diff[:40]), file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
