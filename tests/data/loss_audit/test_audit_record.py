#!/usr/bin/python3
"""Tests of tools/loss-audit/audit_record.py: which games it audits and how it reads the audit back.

Run with the audit executable as the first argument."""
import io
import json
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.normpath(os.path.join(HERE, "..", "..", "..", "tools", "loss-audit")))
import audit_record as ar  # noqa: E402

AUDIT = None


def game(number, black, loser, reason, opening, moves):
    return {"game": number, "black": black, "loser": loser, "reason": reason, "opening": opening, "moves": moves}


# Black (A) builds an open three on row 9; white (B) ignores it and loses.
IGNORED = game(3, "A", "B", "five", "9,9 0,0", "10,9 0,2 11,9 0,4 12,9 0,6 13,9")


class LostGames(unittest.TestCase):
    def test_only_the_engines_losses_by_five_with_its_colour_and_opening(self):
        records = [IGNORED,
                   game(4, "B", "B", "five", "-", "9,9 0,0"),        # lost as black, empty opening
                   game(5, "A", "B", "time", "9,9", "0,0"),          # a forfeit: nothing to audit
                   game(6, "A", "A", "five", "9,9", "0,0")]          # the other engine's loss
        self.assertEqual(ar.lost_games(records, "B"),
                         ["game3 w 2 9,9 0,0 10,9 0,2 11,9 0,4 12,9 0,6 13,9", "game4 b 0 9,9 0,0"])

    def test_the_summary_adds_up_over_jobs(self):
        if AUDIT is None:
            self.skipTest("no audit executable given")
        blocked = game(7, "A", "B", "five", "9,9 0,0", "10,9 0,2 11,9 12,9 5,5")
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "games.jsonl")
            with open(path, "w") as f:
                for g in (IGNORED, blocked):
                    f.write(json.dumps(g) + "\n")
            out = io.StringIO()
            with redirect_stdout(out):
                ar.main(["--record", path, "--engine", "B", "--audit", AUDIT, "--jobs", "2"])
        lines = out.getvalue().splitlines()
        self.assertIn("game3 lost at ply 6 of 9; other moves holding there 2 of", lines[0] + lines[1])
        self.assertTrue(any(l.startswith("game7 no loss to threats found") for l in lines))
        self.assertEqual(lines[-1], "2 games: 1 lost to threats; a move that held at that point in 1; more than "
                                    "one move holding at the move before in 1; own win missed in 0")


if __name__ == "__main__":
    if len(sys.argv) > 1:
        AUDIT = sys.argv.pop(1)
    unittest.main()
