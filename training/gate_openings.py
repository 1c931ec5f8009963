#!/usr/bin/python3
"""Which openings of a gate decide its pairs by themselves.

Freestyle gomoku favours the side to move: from many compact openings of four stones (black to move
with two stones each) black has a forced win. A colour-swapped pair from such an opening ends 1-1
whenever the stronger side converts it, whoever the engines are, so those pairs only add noise, and a
target near 100% cannot be reached on them against an opponent that finds the win.

    judge   ask an engine (any manager-protocol engine that reports "Eval <v>" in its MESSAGE lines,
            "+M<n>" for a win in n plies) to think on every opening of a match record or of an
            --openings file; writes JSON
    split   a match record's score on the decided openings and on the others, with 95% error bars
    write   the openings that no side is judged to win by force (with --within V: only those scored
            within +/- V), as a match runner --openings file

The judge is a yardstick only: its verdicts choose which openings a gate plays, never training data.
Python 3 standard library only.
"""

import argparse
import json
import math
import re
import subprocess
import sys

EVAL = re.compile(r"\bEval ([+-]?M?-?\d+)")


def read_record(path):
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def openings_of(games):
    """Each pair's opening (moves "x,y ..." black first), by pair number."""
    out = {}
    for g in games:
        out.setdefault(g["pair"], g["opening"])
    return out


def parse_eval(text):
    """The last Eval of an engine's MESSAGE lines: ("win", n), ("loss", n) or ("score", v), or None."""
    found = EVAL.findall(text)
    if not found:
        return None
    v = found[-1]
    if "M" in v:
        plies = int(v.replace("+", "").replace("-", "").replace("M", ""))
        return ("loss" if v.startswith("-") else "win", plies)
    return ("score", int(v))


def read_openings(path):
    """An --openings file as {number: "x,y ..."}, numbered from 1 in file order like a match's pairs."""
    out = {}
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                out[len(out) + 1] = "" if line == "-" else " ".join(re.findall(r"-?\d+,-?\d+", line))
    return out


def board_lines(opening, size, ms):
    """The protocol lines that put an opening on the board and ask the side to move for a move."""
    stones = opening.split() if opening.strip() not in ("", "-") else []
    own_black = len(stones) % 2 == 0
    lines = [f"START {size}", f"INFO timeout_turn {ms}", "INFO timeout_match 100000000",
             "INFO time_left 100000000", "INFO max_memory 367001600", "BOARD"]
    for i, s in enumerate(stones):
        lines.append(f"{s},{1 if (i % 2 == 0) == own_black else 2}")
    lines.append("DONE")
    return lines


def judge(engine, openings, size, ms):
    proc = subprocess.Popen(engine, shell=True, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    verdicts = {}
    try:
        for pair, opening in sorted(openings.items()):
            proc.stdin.write("\n".join(board_lines(opening, size, ms)) + "\n")
            proc.stdin.flush()
            seen = []
            while True:
                line = proc.stdout.readline()
                if not line:
                    raise RuntimeError("judge engine ended while thinking on pair %d" % pair)
                seen.append(line)
                if re.match(r"^\d+,\d+\s*$", line):
                    break
                if line.startswith("ERROR"):
                    raise RuntimeError("judge engine: " + line.strip())
            verdict = parse_eval("".join(seen))
            verdicts[pair] = {"opening": opening, "verdict": verdict}
            print(pair, opening, verdict, file=sys.stderr, flush=True)
    finally:
        try:
            proc.stdin.write("END\n")
            proc.stdin.close()
        except OSError:
            pass
        proc.wait(timeout=30)
        proc.stdout.close()
    return verdicts


def decided(verdict):
    return verdict is not None and verdict[0] in ("win", "loss")


def kept_opening(verdict, within):
    """Whether write keeps an opening: not won by force and, given within, scored no further from
    level than that. An opening the judge gave no verdict on is kept only without within."""
    verdict = tuple(verdict) if verdict else None
    if decided(verdict):
        return False
    if within is None:
        return True
    return verdict is not None and abs(verdict[1]) <= within


def pair_scores(games):
    """Engine A's score in each complete pair (0, 0.5, ..., 2)."""
    scores, counts = {}, {}
    for g in games:
        scores[g["pair"]] = scores.get(g["pair"], 0.0) + g["score_a"]
        counts[g["pair"]] = counts.get(g["pair"], 0) + 1
    return {p: s for p, s in scores.items() if counts[p] == 2}


def mean_and_margin(pair_values):
    """A's score share over pairs and its 95% margin (pentanomial: the pair is the unit)."""
    n = len(pair_values)
    if n == 0:
        return float("nan"), float("nan")
    shares = [v / 2 for v in pair_values]
    mean = sum(shares) / n
    var = sum((s - mean) ** 2 for s in shares) / n
    return mean, 1.96 * math.sqrt(var / n)


def split(games, verdicts):
    scores = pair_scores(games)
    groups = {"decided": [], "open": []}
    for pair, score in sorted(scores.items()):
        v = verdicts.get(str(pair), verdicts.get(pair))
        if v is None:
            continue
        groups["decided" if decided(tuple(v["verdict"]) if v["verdict"] else None) else "open"].append(score)
    return {k: (len(v), sum(v), 2 * len(v)) + mean_and_margin(v) for k, v in groups.items()}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="command", required=True)
    j = sub.add_parser("judge")
    source = j.add_mutually_exclusive_group(required=True)
    source.add_argument("--record", help="match record (.jsonl) whose openings are judged")
    source.add_argument("--openings", help="an --openings file of the match runner (one opening a line)")
    j.add_argument("--engine", required=True, help="command line of the judging engine")
    j.add_argument("--board", type=int, default=20)
    j.add_argument("--ms", type=int, default=3000, help="think time per opening")
    j.add_argument("--out", required=True)
    s = sub.add_parser("split")
    s.add_argument("--record", required=True)
    s.add_argument("--verdicts", required=True)
    w = sub.add_parser("write")
    w.add_argument("--verdicts", required=True)
    w.add_argument("--out", required=True)
    w.add_argument("--within", type=int, help="keep only openings the judge scores within +/- this many points")
    args = ap.parse_args(argv)

    if args.command == "judge":
        openings = openings_of(read_record(args.record)) if args.record else read_openings(args.openings)
        verdicts = judge(args.engine, openings, args.board, args.ms)
        with open(args.out, "w") as f:
            json.dump(verdicts, f, indent=1)
        n = sum(decided(v["verdict"]) for v in verdicts.values())
        print("%d openings, %d won by force for the side to move or its opponent" % (len(verdicts), n))
    elif args.command == "split":
        with open(args.verdicts) as f:
            verdicts = json.load(f)
        for name, (pairs, points, games, mean, margin) in split(read_record(args.record), verdicts).items():
            print("%-8s %3d pairs  %5.1f / %3d  %.1f%% +/- %.1f%%" % (name, pairs, points, games,
                                                                      100 * mean, 100 * margin))
    else:
        with open(args.verdicts) as f:
            verdicts = json.load(f)
        kept = [v["opening"] for _, v in sorted(verdicts.items(), key=lambda kv: int(kv[0]))
                if kept_opening(v["verdict"], args.within)]
        with open(args.out, "w") as f:
            f.write("# openings no side is judged to win by force%s (training/gate_openings.py)\n"
                    % ("" if args.within is None else ", scored within +/- %d" % args.within))
            f.write("\n".join(kept) + "\n")
        print("%d of %d openings kept" % (len(kept), len(verdicts)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
