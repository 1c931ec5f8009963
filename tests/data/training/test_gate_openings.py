#!/usr/bin/python3
"""Tests of training/gate_openings.py: reading a judge's verdicts, the stones it is shown, and the
split of a match record into decided and open openings."""

import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.normpath(os.path.join(HERE, "..", "..", "..", "training")))
import gate_openings as go  # noqa: E402

# A stand-in judge: answers every board with a fixed verdict chosen by the stone count, after a line
# that must not be taken for the verdict.
FAKE_JUDGE = r'''
import sys
stones = 0
for line in sys.stdin:
    line = line.strip()
    if line == "BOARD":
        stones = 0
    elif line.count(",") == 2:
        stones += 1
    elif line == "DONE":
        print("MESSAGE Eval 12 | Depth 3")
        print("MESSAGE Eval " + ("+M17" if stones == 4 else "-40") + " | Depth 9")
        print("7,7", flush=True)
    elif line == "END":
        break
'''


def game(pair, opening, score_a):
    return {"pair": pair, "opening": opening, "score_a": score_a}


class Verdicts(unittest.TestCase):
    def test_last_eval_wins_and_mates_parse_both_ways(self):
        self.assertEqual(go.parse_eval("MESSAGE Eval 30\nMESSAGE Eval -M12 | x\n"), ("loss", 12))
        self.assertEqual(go.parse_eval("MESSAGE Eval +M7\n"), ("win", 7))
        self.assertEqual(go.parse_eval("MESSAGE Speed 1K | Eval -175 | Node 9\n"), ("score", -175))
        self.assertIsNone(go.parse_eval("MESSAGE no figures here\n"))
        self.assertTrue(go.decided(("loss", 3)))
        self.assertFalse(go.decided(("score", 900)))
        self.assertFalse(go.decided(None))

    def test_board_gives_the_side_to_move_its_own_stones(self):
        # Three stones: white to move, so black's stones are the opponent's (2).
        lines = go.board_lines("10,9 11,9 8,9", 20, 500)
        self.assertEqual(lines[lines.index("BOARD") + 1:], ["10,9,2", "11,9,1", "8,9,2", "DONE"])
        # Four stones: black to move owns the first and third.
        lines = go.board_lines("1,1 2,2 3,3 4,4", 15, 500)
        self.assertEqual(lines[0], "START 15")
        self.assertEqual(lines[lines.index("BOARD") + 1:-1], ["1,1,1", "2,2,2", "3,3,1", "4,4,2"])
        self.assertEqual(go.board_lines("-", 20, 500)[-2:], ["BOARD", "DONE"])

    def test_judge_reads_a_protocol_engine(self):
        with tempfile.TemporaryDirectory() as tmp:
            script = os.path.join(tmp, "judge.py")
            with open(script, "w") as f:
                f.write(FAKE_JUDGE)
            verdicts = go.judge(sys.executable + " " + script,
                                {1: "10,10 11,11", 2: "10,10 11,11 9,9 12,12"}, 20, 100)
        self.assertEqual(verdicts[1]["verdict"], ("score", -40))
        self.assertEqual(verdicts[2]["verdict"], ("win", 17))


class Split(unittest.TestCase):
    def test_pairs_split_by_verdict_and_unfinished_pairs_dropped(self):
        games = [game(1, "a", 1.0), game(1, "a", 0.0),   # decided: 1-1
                 game(2, "b", 1.0), game(2, "b", 1.0),   # open: 2-0
                 game(3, "c", 1.0), game(3, "c", 0.5),   # open: 1.5
                 game(4, "d", 1.0)]                      # unfinished pair
        verdicts = json.loads(json.dumps({"1": {"opening": "a", "verdict": ("win", 9)},
                                          "2": {"opening": "b", "verdict": ("score", 50)},
                                          "3": {"opening": "c", "verdict": None},
                                          "4": {"opening": "d", "verdict": ("loss", 5)}}))
        out = go.split(games, verdicts)
        self.assertEqual(out["decided"][:3], (1, 1.0, 2))
        self.assertEqual(out["open"][:3], (2, 3.5, 4))
        mean, margin = out["open"][3:]
        self.assertAlmostEqual(mean, 0.875)
        self.assertAlmostEqual(margin, 1.96 * (0.125 / 2 ** 0.5))

    def test_write_keeps_only_open_openings_in_pair_order(self):
        verdicts = {"10": {"opening": "5,5 6,6", "verdict": ["score", 3]},
                    "2": {"opening": "1,1 2,2 3,3 4,4", "verdict": ["win", 11]},
                    "3": {"opening": "7,7 8,8 9,9", "verdict": None}}
        with tempfile.TemporaryDirectory() as tmp:
            vpath, opath = os.path.join(tmp, "v.json"), os.path.join(tmp, "o.txt")
            with open(vpath, "w") as f:
                json.dump(verdicts, f)
            go.main(["write", "--verdicts", vpath, "--out", opath])
            with open(opath) as f:
                lines = [l.strip() for l in f if not l.startswith("#")]
        self.assertEqual(lines, ["7,7 8,8 9,9", "5,5 6,6"])

    def test_within_keeps_only_near_level_openings_and_numbers_files_like_pairs(self):
        verdicts = {"1": {"opening": "9,9 10,10", "verdict": ["score", -120]},
                    "2": {"opening": "9,9 10,11", "verdict": ["score", 121]},
                    "3": {"opening": "9,9 10,12", "verdict": None},
                    "4": {"opening": "9,9 11,11 9,10 8,8", "verdict": ["loss", 30]},
                    "5": {"opening": "9,9 11,10 10,10", "verdict": ["score", 0]}}
        with tempfile.TemporaryDirectory() as tmp:
            vpath, opath = os.path.join(tmp, "v.json"), os.path.join(tmp, "o.txt")
            with open(vpath, "w") as f:
                json.dump(verdicts, f)
            go.main(["write", "--verdicts", vpath, "--out", opath, "--within", "120"])
            with open(opath) as f:
                lines = [l.strip() for l in f if not l.startswith("#")]
            self.assertEqual(lines, ["9,9 10,10", "9,9 11,10 10,10"])
            # The kept file reads back numbered from 1, as the match runner numbers its pairs.
            with open(opath, "a") as f:
                f.write("-\n1,2  3,4 # comment\n")
            self.assertEqual(go.read_openings(opath), {1: "9,9 10,10", 2: "9,9 11,10 10,10", 3: "",
                                                      4: "1,2 3,4"})


if __name__ == "__main__":
    unittest.main()
