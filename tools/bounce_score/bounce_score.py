#!/usr/bin/env python3
"""Scores `postwick --read-bounces` against a folder of reports with known answers.

usage: bounce_score.py POSTWICK CORPUS [--misses tune|held|all]

CORPUS holds eml/ and expected.tsv (file, index, status, replycode, reason, hard, kind).
The answered rows are split by a hash of the file name: "tune" (even) is the half the
reader was tuned on, "held" (odd) the half it was not. For each half and both together it
prints how often the kind and the status agree and how often a recipient was found, and the
time the reader took for every file of eml/.
"""
import hashlib
import pathlib
import subprocess
import sys
import time


def half(name):
    return "tune" if hashlib.md5(name.encode()).digest()[-1] % 2 == 0 else "held"


def main():
    program, corpus = str(pathlib.Path(sys.argv[1]).resolve()), pathlib.Path(sys.argv[2])
    misses = sys.argv[4] if len(sys.argv) > 4 and sys.argv[3] == "--misses" else None
    files = sorted(p.name for p in (corpus / "eml").glob("*.eml"))
    start = time.monotonic()
    run = subprocess.run([program, "--read-bounces", *files], cwd=corpus / "eml",
                         capture_output=True, text=True, check=False)
    seconds = time.monotonic() - start
    got = {}
    for line in run.stdout.splitlines():
        cols = line.split("\t")
        if len(cols) == 6:
            got[(cols[0], cols[1])] = cols
    totals = {}
    for line in (corpus / "expected.tsv").read_text().splitlines()[1:]:
        file, index, status, _reply, reason, _hard, kind = line.split("\t")
        row = got.get((file, index), [file, index, "", "", "", ""])
        for part in (half(file), "all"):
            t = totals.setdefault(part, [0, 0, 0, 0])
            t[0] += 1
            t[1] += row[4] == kind
            t[2] += row[3] == status
            t[3] += "@" in row[2]
        if misses in (half(file), "all") and (row[4] != kind or row[3] != status or "@" not in row[2]):
            print(f"MISS {file}:{index} want {status} {kind} {reason} got {row[3]} {row[4]} {row[5]} <{row[2]}>")
    for part in ("tune", "held", "all"):
        n, kind, status, rcpt = totals.get(part, [0, 0, 0, 0])
        if n:
            print(f"{part}: rows {n}  kind {100 * kind / n:.1f} %  status {100 * status / n:.1f} %  "
                  f"recipient {100 * rcpt / n:.1f} %")
    print(f"files: {len(files)} in {seconds:.2f} s (exit {run.returncode})")


if __name__ == "__main__":
    main()
