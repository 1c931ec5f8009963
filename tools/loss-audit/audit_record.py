#!/usr/bin/python3
"""Audits the games one engine lost in a match record with orvalis-loss-audit.

    /usr/bin/python3 tools/loss-audit/audit_record.py --record games.jsonl --engine A \\
        --audit build/tools/loss-audit/orvalis-loss-audit [--board 20] [--jobs 2]

Writes each game the engine lost (by five) as a line of the audit's input and prints the audit's
lines, with a summary over all of them. Python 3 standard library only.
"""
import argparse
import json
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor


def lost_games(records, engine):
    """Audit input lines for the games `engine` ("A" or "B") lost to a five: ID LOSER OPENING MOVES."""
    lines = []
    for g in records:
        if g.get("loser") != engine or g.get("reason") != "five":
            continue
        opening = g["opening"].split() if g["opening"].strip() not in ("", "-") else []
        colour = "b" if g["black"] == engine else "w"
        lines.append("game%d %s %d %s" % (g["game"], colour, len(opening), " ".join(opening + g["moves"].split())))
    return lines


SUMMARY = re.compile(r"^(\d+) games: (\d+) lost to threats; a move that held at that point in (\d+); more than one "
                     r"move holding at the move before in (\d+); own win missed in (\d+)$")


def run(audit, board, lines):
    result = subprocess.run([audit, "--board", str(board)], input="".join(l + "\n" for l in lines),
                            capture_output=True, text=True, check=True)
    return result.stdout.splitlines()


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--record", required=True)
    ap.add_argument("--engine", choices=("A", "B"), required=True, help="whose losses to audit")
    ap.add_argument("--audit", required=True, help="the orvalis-loss-audit executable")
    ap.add_argument("--board", type=int, default=20)
    ap.add_argument("--jobs", type=int, default=1)
    args = ap.parse_args(argv)
    with open(args.record) as f:
        lines = lost_games([json.loads(l) for l in f if l.strip()], args.engine)
    jobs = max(1, args.jobs)
    shares = [lines[i::jobs] for i in range(jobs)]
    with ThreadPoolExecutor(jobs) as pool:
        outputs = list(pool.map(lambda share: run(args.audit, args.board, share), shares))
    totals = [0] * 5
    for out in outputs:
        for line in out:
            m = SUMMARY.match(line)
            if m:
                totals = [t + int(v) for t, v in zip(totals, m.groups())]
            else:
                print(line)
    print("%d games: %d lost to threats; a move that held at that point in %d; more than one move holding at "
          "the move before in %d; own win missed in %d" % tuple(totals))
    return 0


if __name__ == "__main__":
    sys.exit(main())
