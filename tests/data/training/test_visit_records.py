"""Network self-play records: what orvalis-selfplay writes is what training/data.py reads.

Usage: test_visit_records.py SELFPLAY_EXECUTABLE MODEL_FILE SCRATCH_DIR
"""

import os
import shutil
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "training"))
import data  # noqa: E402


def main():
    selfplay, model, scratch = sys.argv[1:4]
    shutil.rmtree(scratch, ignore_errors=True)
    command = [selfplay, "generate", "--model", model, "--out", scratch, "--chunks", "1",
               "--games-per-chunk", "2", "--playouts", "12", "--sampled-moves", "3", "--seed", "5"]
    subprocess.run(command, check=True)
    records, _, files = data.load([scratch])
    assert len(files) == 1 and len(records) > 0, files
    assert "policy" in records.dtype.names

    own, opponent = data.unpack_planes(records)
    assert not np.any(own & opponent), "a cell holds stones of both sides"
    assert np.array_equal(own.sum(1) + opponent.sum(1), records["ply"]), "stone count differs from ply"
    # The side to move has as many stones as the opponent, or one fewer.
    assert np.all((opponent.sum(1) - own.sum(1) >= 0) & (opponent.sum(1) - own.sum(1) <= 1))
    moves = records["move"].astype(np.int64)
    assert not np.any(own[np.arange(len(records)), moves] | opponent[np.arange(len(records)), moves])

    targets = data.policy_targets(records)
    assert np.allclose(targets.sum(1), 1.0, atol=1e-3)
    # Shares sit only on empty cells; an unsampled move is a most visited one.
    assert not np.any((targets > 0) & ((own | opponent) > 0))
    greedy = (records["flags"] & 1) == 0
    assert np.all(targets[greedy, moves[greedy]] >= targets[greedy].max(1) - 1e-6)

    # Per game, values alternate in sign with the side to move and match the end.
    for game in np.unique(records["game"]):
        values = records["value"][records["game"] == game].astype(int)
        assert np.all(values[:-1] == -values[1:]) or np.all(values == 0), values

    # Symmetries move targets with the stones.
    symmetries = np.arange(len(records)) % 8
    planes, moved = data.encode(records, symmetries)
    turned = data.policy_targets(records, symmetries)
    assert np.allclose(turned[np.arange(len(records)), moved], targets[np.arange(len(records)), moves])

    # The trainer learns from the visit shares.
    trainer = os.path.join(os.path.dirname(__file__), "..", "..", "..", "training", "train.py")
    run = os.path.join(scratch, "run")
    subprocess.run([sys.executable, trainer, "--data", scratch, "--out", run, "--blocks", "1", "--channels", "8",
                    "--steps", "3", "--batch", "16", "--threads", "1", "--no-progress"], check=True)
    assert os.path.exists(os.path.join(run, "model.pt"))

    # A rerun finds the chunk complete and leaves it alone.
    before = os.path.getmtime(files[0])
    subprocess.run(command, check=True)
    assert os.path.getmtime(files[0]) == before

    # The same seed plays the same games again (a stopped run resumes to them).
    again = os.path.join(scratch, "again")
    subprocess.run(command[:command.index("--out") + 1] + [again] + command[command.index("--out") + 2:], check=True)
    with open(files[0], "rb") as first, open(os.path.join(again, os.path.basename(files[0])), "rb") as second:
        assert first.read() == second.read(), "a second run with the same seed played other games"

    check_threat_games_on_small_boards(selfplay, model, os.path.join(scratch, "small"))
    check_ply_limit(selfplay, model, os.path.join(scratch, "limited"))
    print("ok: %d records" % len(records))


def check_threat_games_on_small_boards(selfplay, model, out):
    """The threat-aware search on smaller boards from the empty board: sizes carried, stones and
    shares inside the board, the cells past its edge encoded as outside, proofs as values."""
    command = [selfplay, "generate", "--model", model, "--out", out, "--chunks", "1", "--games-per-chunk", "3",
               "--playouts", "12", "--sampled-moves", "2", "--seed", "9", "--mode", "threat",
               "--opening-stones", "0-0", "--small-boards", "100"]
    subprocess.run(command, check=True)
    records, _, _ = data.load([out])
    sides = set(zip(records["width"].tolist(), records["height"].tolist()))
    assert all(10 <= w == h < 20 for w, h in sides), sides
    first = records[records["ply"] == 0]
    assert len(first) == 3, "every game starts from the empty board"

    inside = data.on_board(records).astype(bool)
    own, opponent = data.unpack_planes(records)
    assert not np.any((own | opponent) & ~inside), "a stone off the board"
    targets = data.policy_targets(records)
    assert not np.any((targets > 0) & ~inside), "visits off the board"
    symmetries = np.arange(len(records)) % 8
    planes, moved = data.encode(records, symmetries)
    flat = planes.reshape(len(records), 3, -1)
    assert np.all(flat[:, :, :][np.broadcast_to(~inside[:, None, :], flat.shape)] == 0), "outside not all zero"
    assert np.array_equal(flat.sum(axis=1) > 0, inside), "every cell of the board is in one plane"
    turned = data.policy_targets(records, symmetries)
    assert np.allclose(turned[np.arange(len(records)), moved],
                       targets[np.arange(len(records)), records["move"].astype(np.int64)])

    check_proofs(records)

    # The root solver is bounded by nodes, not by the clock: a rerun plays the same games.
    again = out + "-again"
    subprocess.run(command[:command.index("--out") + 1] + [again] + command[command.index("--out") + 2:], check=True)
    name = "chunk-000000.bin"
    with open(os.path.join(out, name), "rb") as first, open(os.path.join(again, name), "rb") as second:
        assert first.read() == second.read(), "a threat-aware rerun with the same seed played other games"


    # Games from the empty board of a small board are often drawn, and which ones are depends on the
    # rounding of the inference path this CPU runs; crowded openings end in proven wins on any path.
    crowded = out + "-crowded"
    subprocess.run([selfplay, "generate", "--model", model, "--out", crowded, "--chunks", "1", "--games-per-chunk",
                    "3", "--playouts", "12", "--sampled-moves", "2", "--seed", "9", "--mode", "threat",
                    "--opening-stones", "8-12"], check=True)
    records, _, _ = data.load([crowded])
    won = check_proofs(records)
    assert len(np.unique(records["game"][won])) >= 2, "crowded openings should mostly end in proven wins"


def check_proofs(records):
    """A proof decides the value; a proven win is followed to the end of the game."""
    won = (records["flags"] & 2) != 0
    lost = (records["flags"] & data.FLAG_PROVEN_LOSS) != 0
    assert not np.any(won & lost)
    assert np.all(records["value"][won] == 1) and np.all(records["value"][lost] == -1)
    for game in np.unique(records["game"]):
        plies = records["ply"][records["game"] == game].astype(int)
        proven_plies = records["ply"][won & (records["game"] == game)].astype(int)
        # The side that proved a win made the last move (the five).
        assert np.all((plies[-1] - proven_plies) % 2 == 0), (plies[-1], proven_plies)
    return won


def check_ply_limit(selfplay, model, out):
    """--max-plies ends a game still on at that many searched moves as a draw (on a forced path)."""
    subprocess.run([selfplay, "generate", "--model", model, "--out", out, "--chunks", "1", "--games-per-chunk", "3",
                    "--playouts", "8", "--sampled-moves", "2", "--seed", "4", "--opening-stones", "0-0",
                    "--max-plies", "7", "--kernels", "generic"], check=True)
    records, _, _ = data.load([out])
    proven = (records["flags"] & (2 | data.FLAG_PROVEN_LOSS)) != 0
    for game in range(3):
        mine = records["game"] == game
        assert np.array_equal(records["ply"][mine], np.arange(7)), records["ply"][mine]
        assert np.all(records["value"][mine & ~proven] == 0), "an unfinished game is a draw"


if __name__ == "__main__":
    main()
