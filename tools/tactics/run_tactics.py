#!/usr/bin/python3
"""Plays an engine over the manager protocol on every position of the tactics suite and reports
which answers it got right.

For each position the runner starts the engine, sends START, the time and memory INFO lines and
the stones in a BOARD list (who=1 the side to move, 2 the opponent, in the file's order: black
first, colours alternating), reads the engine's "x,y" after DONE, checks it against the accepted
answers, and ends the engine with END.

  run_tactics.py --engine build/pbrain-orvalis [--ms 1000] [--category vcf] [--limit N]
                 [--jobs 1] [--json summary.json] [--positions FILE]
  run_tactics.py --self-check     # read and check the position file only (no engine)
"""
import argparse
import concurrent.futures
import json
import os
import queue
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_POSITIONS = os.path.join(HERE, "..", "..", "tests", "data", "tactics", "positions.txt")
CATEGORIES = ("vcf", "win-in-one", "defend-vcf", "defend-three")
# The manager limits sent with every position: no match clock, and the memory that tournament
# managers commonly allow (350 MiB).
TIME_LEFT_MS = 2147483647
MAX_MEMORY = 367001600
# How long past the turn limit the runner waits for a reply before calling it a forfeit: the
# engine's start (loading its network) and a loaded machine need some slack.
REPLY_SLACK_MS = 10000


class FileError(Exception):
    pass


def parse_point(text, line_number):
    try:
        x, y = text.split(",")
        return int(x), int(y)
    except ValueError:
        raise FileError("line %d: bad x,y '%s'" % (line_number, text))


def read_positions(path):
    """The position blocks of the file (tools/tactics/README.md), checked as the C++ reader does."""
    positions = []
    block = None
    with open(path) as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            key = words[0]
            if key == "position":
                if block is not None or len(words) != 4 or words[2] not in CATEGORIES:
                    raise FileError("line %d: bad position line" % number)
                width, height = (int(v) for v in words[3].split("x"))
                block = {"id": words[1], "category": words[2], "width": width, "height": height,
                         "proof": 0, "answers": [], "moves": [], "rows": [], "to_move": None}
            elif block is None:
                raise FileError("line %d: '%s' outside a position block" % (number, key))
            elif key == "to-move":
                block["to_move"] = words[1] if len(words) > 1 else None
            elif key == "proof":
                block["proof"] = int(words[1])
            elif key in ("answers", "moves"):
                block[key] = [parse_point(w, number) for w in words[1:]]
            elif key[0].isdigit():
                if len(words) < 2 or words[1] != "|" or int(key) != len(block["rows"]):
                    raise FileError("line %d: bad board row" % number)
                block["rows"].append("".join(words[2:]))
            elif key == "end":
                check_block(block, number)
                positions.append(block)
                block = None
            else:
                raise FileError("line %d: unknown line '%s'" % (number, key))
    if block is not None:
        raise FileError("missing end after position %s" % block["id"])
    return positions


def check_block(p, number):
    black_to_move = len(p["moves"]) % 2 == 0
    if p["to_move"] != ("black" if black_to_move else "white"):
        raise FileError("line %d: %s: to-move disagrees with the stone counts" % (number, p["id"]))
    rows = [["."] * p["width"] for _ in range(p["height"])]
    for i, (x, y) in enumerate(p["moves"]):
        if not (0 <= x < p["width"] and 0 <= y < p["height"]) or rows[y][x] != ".":
            raise FileError("line %d: %s: stone %d,%d off the board or twice" % (number, p["id"], x, y))
        rows[y][x] = "X" if i % 2 == 0 else "O"
    for x, y in p["answers"]:
        if not (0 <= x < p["width"] and 0 <= y < p["height"]) or rows[y][x] != ".":
            raise FileError("line %d: %s: answer %d,%d not an empty cell" % (number, p["id"], x, y))
        rows[y][x] = "*"
    if ["".join(r) for r in rows] != p["rows"]:
        raise FileError("line %d: %s: the drawing does not match the stones" % (number, p["id"]))
    if not p["answers"]:
        raise FileError("line %d: %s: no answers" % (number, p["id"]))


def board_lines(p):
    """BOARD list: who=1 for the side to move, 2 for the opponent, in the file's playing order."""
    mover_parity = len(p["moves"]) % 2  # black (even indices) moves when the count is even
    return ["%d,%d,%d" % (x, y, 1 if i % 2 == mover_parity else 2) for i, (x, y) in enumerate(p["moves"])]


class Engine:
    """One engine process; a reader thread hands its output lines to a queue so reads can time out."""

    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.errors = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def send(self, *lines):
        for line in lines:
            self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def reply(self, timeout_s):
        """The next line that is not MESSAGE, DEBUG or ERROR (ERROR lines are kept); None on timeout
        or exit."""
        deadline = time.monotonic() + timeout_s
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                return None
            if line is None:
                return None
            word = line.split(" ", 1)[0].upper()
            if word == "ERROR":
                self.errors.append(line)
            elif word not in ("MESSAGE", "DEBUG") and line:
                return line

    def close(self):
        try:
            self.send("END")
            self.proc.wait(timeout=5)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()


def play(engine_path, p, ms):
    """Runs one position; returns the result record."""
    result = {"id": p["id"], "category": p["category"], "reply": None, "ms": None, "passed": False,
              "errors": [], "answers": ["%d,%d" % a for a in p["answers"]]}
    engine = Engine(engine_path)
    try:
        engine.send("START %d" % p["width"])
        started = engine.reply(REPLY_SLACK_MS / 1000)
        if started != "OK":
            result["errors"].append("START answered %r" % started)
            return result
        engine.send("INFO timeout_turn %d" % ms, "INFO timeout_match 0", "INFO time_left %d" % TIME_LEFT_MS,
                    "INFO max_memory %d" % MAX_MEMORY, "BOARD", *board_lines(p))
        sent = time.monotonic()
        engine.send("DONE")
        reply = engine.reply((ms + REPLY_SLACK_MS) / 1000)
        result["ms"] = round((time.monotonic() - sent) * 1000)
        result["reply"] = reply
        try:
            move = tuple(int(v) for v in reply.split(",")) if reply else None
        except ValueError:
            move = None
        result["passed"] = move in p["answers"]
    except OSError as error:
        result["errors"].append(str(error))
    finally:
        engine.close()
        result["errors"] += engine.errors
    return result


def summary_of(results):
    by_category = {}
    for r in results:
        c = by_category.setdefault(r["category"], {"passed": 0, "total": 0})
        c["total"] += 1
        c["passed"] += r["passed"]
    passed = sum(r["passed"] for r in results)
    return {"passed": passed, "total": len(results),
            "percent": round(100.0 * passed / len(results), 1) if results else 0.0,
            "by_category": by_category, "results": results}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--engine", help="engine executable (pbrain-*)")
    parser.add_argument("--positions", default=DEFAULT_POSITIONS)
    parser.add_argument("--ms", type=int, default=1000, help="turn time in milliseconds (INFO timeout_turn)")
    parser.add_argument("--category", choices=CATEGORIES)
    parser.add_argument("--limit", type=int, help="play only the first N positions")
    parser.add_argument("--jobs", type=int, default=1,
                        help="engines at once; each thinks on the same cores, so keep it at most the core count")
    parser.add_argument("--json", metavar="FILE", help="write the summary and every result as JSON ('-': stdout)")
    parser.add_argument("--self-check", action="store_true", help="only read and check the position file")
    args = parser.parse_args()

    try:
        positions = read_positions(args.positions)
    except (OSError, FileError, ValueError) as error:
        print("position file: %s" % error, file=sys.stderr)
        return 1
    if args.self_check:
        counts = {c: sum(p["category"] == c for p in positions) for c in CATEGORIES}
        print("%d positions read: %s" % (len(positions), ", ".join("%s %d" % kv for kv in counts.items())))
        return 0 if positions and all(counts.values()) else 1
    if not args.engine:
        parser.error("--engine is needed (or --self-check)")

    if args.category:
        positions = [p for p in positions if p["category"] == args.category]
    if args.limit:
        positions = positions[:args.limit]
    results = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for r in pool.map(lambda p: play(args.engine, p, args.ms), positions):
            results.append(r)
            print("%s %-16s reply %-7s %6s ms%s%s" % (
                "pass" if r["passed"] else "FAIL", r["id"], r["reply"] or "-",
                r["ms"] if r["ms"] is not None else "-",
                "" if r["passed"] else "  (accepted: %s)" % " ".join(r["answers"]),
                "".join("  [%s]" % e for e in r["errors"])), flush=True)

    summary = summary_of(results)
    for category in CATEGORIES:
        c = summary["by_category"].get(category)
        if c:
            print("%-13s %3d / %3d" % (category, c["passed"], c["total"]))
    print("overall       %3d / %3d  (%.1f%%)" % (summary["passed"], summary["total"], summary["percent"]))
    if args.json:
        text = json.dumps(summary, indent=1)
        if args.json == "-":
            print(text)
        else:
            with open(args.json, "w") as f:
                f.write(text + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
