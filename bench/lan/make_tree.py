#!/usr/bin/env python3
"""The bench's tree of small files: make_tree.py DIR [FOLDERS FILES SIZE]
FILES files of SIZE random bytes spread over FOLDERS folders (d00, d01, ...) under DIR;
by default 10,000 files of 4 KiB in 100 folders."""
import os
import sys

root = sys.argv[1]
folders, files, size = (int(a) for a in sys.argv[2:5]) if len(sys.argv) >= 5 else (100, 10000, 4096)
for d in range(folders):
    os.makedirs(os.path.join(root, f"d{d:02}"), exist_ok=True)
for f in range(files):
    with open(os.path.join(root, f"d{f % folders:02}", f"f{f:05}.bin"), "wb") as out:
        out.write(os.urandom(size))
