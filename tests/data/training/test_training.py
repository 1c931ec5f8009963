#!/usr/bin/python3
"""Tests of the training pipeline: the record format (against a file the teacher wrote), the
board symmetries, and the trainer's loss falling on a tiny set (with checkpoint resume)."""

import csv
import lzma
import os
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
TRAINING = os.path.normpath(os.path.join(HERE, "..", "..", "..", "training"))
sys.path.insert(0, TRAINING)
import data  # noqa: E402

SAMPLE = os.path.join(HERE, "sample-chunk.bin")


class RecordFormat(unittest.TestCase):
    def test_teacher_file_is_consistent(self):
        records = data.read_records(SAMPLE)
        self.assertGreater(len(records), 20)
        own, opponent = data.unpack_planes(records)
        self.assertFalse((own & opponent).any())
        counts = own.sum(1).astype(int) - opponent.sum(1).astype(int)
        self.assertTrue(np.isin(counts, [0, -1]).all())  # black to move: equal; white: one fewer
        np.testing.assert_array_equal(own.sum(1) + opponent.sum(1), records["ply"])
        moves = records["move"].astype(int)
        self.assertFalse(own[np.arange(len(records)), moves].any())
        self.assertFalse(opponent[np.arange(len(records)), moves].any())
        for game in np.unique(records["game"]):
            values = records["value"][records["game"] == game].astype(int)
            self.assertEqual(values[-1], 1)  # the last mover made five
            np.testing.assert_array_equal(values[1:], -values[:-1])

    def test_write_read_round_trip_and_torn_tail(self):
        rng = np.random.default_rng(3)
        cells = rng.random((5, 400))
        own = (cells < 0.1).astype(np.uint8)
        opponent = ((cells >= 0.1) & (cells < 0.2)).astype(np.uint8)
        records = data.make_records(own, opponent, moves=[0, 19, 20, 380, 399], values=[1, -1, 0, 1, -1],
                                    ply=[1, 2, 3, 4, 5], game=[0, 0, 1, 1, 2], flags=[0, 1, 2, 4, 7])
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "chunk-000000.bin")
            data.write_records(path, records)
            self.assertEqual(os.path.getsize(path), data.HEADER_BYTES + 5 * data.RECORD_BYTES)
            with open(path, "ab") as f:
                f.write(b"torn")
            back = data.read_records(path)
            self.assertEqual(back.tobytes(), records.tobytes())
            got_own, got_opponent = data.unpack_planes(back)
            np.testing.assert_array_equal(got_own, own)
            np.testing.assert_array_equal(got_opponent, opponent)
            with open(path, "r+b") as f:
                f.write(b"XXXX")
            with self.assertRaises(ValueError):
                data.read_records(path)

    def test_encoding_planes(self):
        own = np.zeros((1, 400), np.uint8)
        opponent = np.zeros((1, 400), np.uint8)
        own[0, 3 * 20 + 7] = 1
        opponent[0, 10 * 20 + 2] = 1
        x, moves = data.encode(data.make_records(own, opponent, [0], [1]))
        self.assertEqual(x.shape, (1, 3, 20, 20))
        self.assertEqual(x[0, 0, 3, 7], 1.0)
        self.assertEqual(x[0, 1, 10, 2], 1.0)
        self.assertEqual(x[0, 2].sum(), 398.0)
        np.testing.assert_array_equal(x.sum(1), np.ones((1, 20, 20)))


class Symmetries(unittest.TestCase):
    def setUp(self):
        rng = np.random.default_rng(11)
        self.own = (rng.random((1, 400)) < 0.15).astype(np.uint8)
        self.opponent = ((rng.random((1, 400)) < 0.15) & (self.own == 0)).astype(np.uint8)
        empty = np.flatnonzero((self.own | self.opponent)[0] == 0)
        self.move = int(empty[0])
        self.records = data.make_records(self.own, self.opponent, [self.move], [1])

    def test_eight_distinct_maps_that_move_stones_and_target_together(self):
        seen = set()
        for s in range(8):
            x, moves = data.encode(self.records, [s])
            seen.add(x.tobytes())
            move = int(moves[0])
            self.assertEqual(x[0, 2].reshape(-1)[move], 1.0)  # the target stays an empty cell
            # Mark the target as a stone, transform, and find the mark where the target went.
            marked_own = self.own.copy()
            marked_own[0, self.move] = 1
            marked = data.make_records(marked_own, self.opponent, [0], [1])
            xm, _ = data.encode(marked, [s])
            self.assertEqual(xm[0, 0].reshape(-1)[move], 1.0)
        self.assertEqual(len(seen), 8)

    def test_matches_numpy_rotation_and_mirror(self):
        board = self.own[0].reshape(20, 20)
        x1, _ = data.encode(self.records, [1])
        np.testing.assert_array_equal(x1[0, 0], np.rot90(board, 1))
        x5, _ = data.encode(self.records, [5])
        np.testing.assert_array_equal(x5[0, 0], np.fliplr(np.rot90(board, 1)))
        x0, m0 = data.encode(self.records, [0])
        np.testing.assert_array_equal(x0[0, 0], board)
        self.assertEqual(int(m0[0]), self.move)


class SmallerBoards(unittest.TestCase):
    """Records of boards smaller than 20 x 20 (version 3): the maps keep each board on itself."""

    def sized(self, width, height, stones):
        own = np.zeros((1, 400), dtype=np.uint8)
        for row, column in stones:
            own[0, row * 20 + column] = 1
        plain = data.make_records(own, np.zeros_like(own), [1 * 20 + 1], [0])  # an empty cell
        records = np.zeros(1, dtype=data.SIZED_RECORD_DTYPE)
        for name in plain.dtype.names:
            records[name] = plain[name]
        records["width"], records["height"] = width, height
        records["policy"][0, records["move"][0]] = 65535
        return records

    def test_square_and_oblong_boards_turn_onto_themselves(self):
        for width, height in ((15, 15), (12, 10)):
            records = self.sized(width, height, [(0, 0), (0, 1), (height - 1, 2)])
            board = data.unpack_planes(records)[0][0].reshape(20, 20)[:height, :width]
            seen = set()
            for s in range(8):
                x, moves = data.encode(records, [s])
                planes = x[0].reshape(3, 20, 20)
                # Past the edge every plane is 0; on the board every cell is in exactly one.
                self.assertEqual(planes[:, height:, :].sum() + planes[:, :, width:].sum(), 0.0)
                self.assertTrue(np.all(planes[:, :height, :width].sum(axis=0) == 1.0))
                self.assertEqual(planes[0, :height, :width].sum(), 3.0)
                target = data.policy_targets(records, [s])[0]
                self.assertEqual(target[int(moves[0])], 1.0)  # the target moved with the stones
                seen.add(x.tobytes())
            # A square board has all 8 maps; an oblong one only its half turn and mirrors.
            self.assertEqual(len(seen), 8 if width == height else 4)
            x2, _ = data.encode(records, [2])
            np.testing.assert_array_equal(x2[0, 0, :height, :width], np.rot90(board, 2))


    def test_teacher_files_of_a_smaller_board_mix_with_full_size_ones(self):
        own = np.zeros((2, 400), dtype=np.uint8)
        own[:, 14 * 20 + 14] = 1  # the far corner of a 15 x 15 board
        records = data.make_records(own, np.zeros_like(own), [0, 20 * 3 + 4], [1, -1])
        with tempfile.TemporaryDirectory() as tmp:
            small = os.path.join(tmp, "small")
            full = os.path.join(tmp, "full")
            os.makedirs(small)
            os.makedirs(full)
            data.write_records(os.path.join(small, "chunk-000000.bin"), records, board_side=15)
            data.write_records(os.path.join(full, "chunk-000000.bin"), records)
            alone = data.read_records(os.path.join(small, "chunk-000000.bin"))
            self.assertEqual((list(alone["width"]), list(alone["height"])), ([15, 15], [15, 15]))
            mixed, owners, _ = data.load([full, small])
            self.assertEqual(list(mixed["width"]), [20, 20, 15, 15])
            self.assertEqual(list(owners), [0, 0, 1, 1])
            for s in range(8):
                x, moves = data.encode(mixed, [s] * 4)
                planes = x.reshape(4, 3, 20, 20)
                self.assertEqual(planes[2:, :, 15:, :].sum() + planes[2:, :, :, 15:].sum(), 0.0)
                self.assertEqual(planes[:2].sum(), 2 * 400.0)  # 20 x 20 boards: every cell in one plane
                targets = data.policy_targets(mixed, [s] * 4)
                np.testing.assert_array_equal(targets[np.arange(4), moves], np.ones(4))
            # A side the format does not know is refused, not read as 20 x 20.
            data.write_records(os.path.join(small, "chunk-000001.bin"), records, board_side=9)
            with self.assertRaises(ValueError):
                data.read_records(os.path.join(small, "chunk-000001.bin"))

    def test_games_not_played_by_the_rules_are_dropped_whole(self):
        # Game 0 is sound; game 1 has a move on a stone (a generator fault: the rest of that game and
        # its results cannot be trusted); game 2 a move off the grid; game 3 a stone off its 15 x 15
        # board (checked on the small-board file); game 4 is sound.
        own = np.zeros((6, 400), dtype=np.uint8)
        own[:, 0] = 1
        moves = [21, 22, 0, 65451, 5, 7]
        games = [0, 0, 1, 2, 3, 4]
        own[4, 17] = 1  # column 17: outside 15 x 15 only
        records = data.make_records(own, np.zeros_like(own), moves, [1, -1, 1, 1, -1, 1], game=games)
        with tempfile.TemporaryDirectory() as tmp:
            full, small = os.path.join(tmp, "full"), os.path.join(tmp, "small")
            os.makedirs(full)
            os.makedirs(small)
            data.write_records(os.path.join(full, "chunk-000000.bin"), records)
            data.write_records(os.path.join(small, "chunk-000000.bin"), records, board_side=15)
            loaded, _, _ = data.load([full])
            self.assertEqual(list(loaded["game"]), [0, 0, 3, 4])
            loaded, _, _ = data.load([small])
            self.assertEqual(list(loaded["game"]), [0, 0, 4])
            data.encode(loaded)  # what broke training: an index past the board

    def test_teacher_and_self_play_files_mix_with_their_own_targets(self):
        teacher = data.read_records(SAMPLE)[:6]
        shares = np.zeros(6, dtype=data.SIZED_RECORD_DTYPE)
        for name in data.RECORD_DTYPE.names:
            shares[name] = teacher[name]
        shares["width"] = shares["height"] = 20
        moves = teacher["move"].astype(np.int64)
        shares["policy"][np.arange(6), moves] = 30000  # the played move and one other share the visits
        other = (moves + 1) % 400
        shares["policy"][np.arange(6), other] = 10000
        with tempfile.TemporaryDirectory() as tmp:
            dirs = [os.path.join(tmp, name) for name in ("teacher", "selfplay")]
            for d in dirs:
                os.makedirs(d)
            data.write_records(os.path.join(dirs[0], "chunk-000000.bin"), teacher)
            with open(os.path.join(dirs[1], "chunk-000000.bin"), "wb") as f:
                f.write(data.file_header(data.SIZED_RECORD_VERSION))
                f.write(shares.tobytes())
            mixed, owners, _ = data.load(dirs)
            self.assertEqual(mixed.dtype, data.SIZED_RECORD_DTYPE)
            np.testing.assert_array_equal(owners, [0] * 6 + [1] * 6)
            np.testing.assert_array_equal(mixed["own"], np.concatenate([teacher["own"], shares["own"]]))
            for s in (None, [5] * 12):
                targets = data.policy_targets(mixed, s)
                _, moved = data.encode(mixed, s)
                rows = np.arange(12)
                np.testing.assert_allclose(targets.sum(1), 1.0, atol=1e-6)
                np.testing.assert_allclose(targets[rows, moved], [1.0] * 6 + [0.75] * 6, atol=1e-6)

            # Batches follow the weights per directory, not the record counts (the first file
            # is held out).
            import train
            data.write_records(os.path.join(dirs[0], "chunk-000001.bin"), teacher)
            args = train.parse_args(["--data"] + dirs + ["--out", tmp, "--data-weights", "1", "3",
                                     "--holdout-every", "1000"])
            sets = train.load_split(args)
            picks = sets.draw(np.random.default_rng(1), 4000)
            share = (sets.train_directory[picks] == 1).mean()
            self.assertAlmostEqual(share, 0.75, delta=0.03)
            args.data_weights = [1, 0]
            self.assertTrue(np.all(train.load_split(args).draw(np.random.default_rng(2), 500) < 6))



class PackedArchives(unittest.TestCase):
    """The archives kept in the repository must give every record file back byte for byte."""

    @staticmethod
    def self_play_file(rng, count, torn=b""):
        records = np.zeros(count, dtype=data.SIZED_RECORD_DTYPE)
        raw = records.view(np.uint8).reshape(count, data.SIZED_RECORD_BYTES)
        raw[:] = rng.integers(0, 256, raw.shape, dtype=np.uint8)  # every byte of every field
        records["policy"] = 0
        for i in range(count):
            if i % 4 == 3:
                continue  # a record with no shares
            cells = rng.choice(400, size=rng.integers(1, 60), replace=False)
            records["policy"][i, cells] = rng.integers(1, 65536, len(cells))
        if count:
            records["policy"][0, [0, 399]] = 65535  # both ends of the grid
        return data.file_header(data.SIZED_RECORD_VERSION) + records.tobytes() + torn

    def test_round_trip_of_every_version_and_a_torn_tail(self):
        import pack_records
        rng = np.random.default_rng(11)
        with open(SAMPLE, "rb") as f:
            teacher = f.read()
        version2 = bytearray(self.self_play_file(rng, 9))
        version2[8:12] = (2).to_bytes(4, "little")  # no size fields, same packing of the shares
        version2[12:16] = data.VISIT_RECORD_BYTES.to_bytes(4, "little")
        version2 = bytes(version2[:data.HEADER_BYTES + 9 * data.VISIT_RECORD_BYTES])
        for blob in (teacher, teacher + b"torn", self.self_play_file(rng, 50), self.self_play_file(rng, 7, b"xyz"),
                     self.self_play_file(rng, 0), version2):
            archive = pack_records.pack_bytes(blob)
            self.assertEqual(pack_records.unpack_bytes(archive), blob)
        # The point of it: a real self-play file shrinks several times.
        blob = self.self_play_file(rng, 200)
        self.assertLess(len(pack_records.pack_bytes(blob)), len(blob) / 3)

    def test_damaged_archives_are_refused(self):
        import pack_records
        archive = pack_records.pack_bytes(self.self_play_file(np.random.default_rng(12), 20))
        for damaged in (archive[:len(archive) // 2], b"ORVPACK0" + archive[8:],
                        archive[:40] + bytes([archive[40] ^ 0x55]) + archive[41:]):
            with self.assertRaises(ValueError):
                pack_records.unpack_bytes(damaged)
        body = lzma.decompress(archive[8:])
        for body_damaged in (body[:-2], body + b"\0\0"):  # the columns do not add up
            with self.assertRaises(ValueError):
                pack_records.unpack_bytes(b"ORVPACK1" + lzma.compress(body_damaged))

    def test_directories_take_only_what_is_missing_and_never_clobber(self):
        import pack_records
        rng = np.random.default_rng(13)
        with tempfile.TemporaryDirectory() as tmp:
            source, archive, copy = (os.path.join(tmp, name) for name in ("data", "archive", "copy"))
            os.makedirs(source)
            files = {"chunk-000000.bin": self.self_play_file(rng, 30), "chunk-000002.bin": self.self_play_file(rng, 5)}
            for name, blob in files.items():
                with open(os.path.join(source, name), "wb") as f:
                    f.write(blob)
            with open(os.path.join(source, "chunk-000001.bin.part"), "wb") as f:
                f.write(self.self_play_file(rng, 3))  # still being played: not packed
            self.assertEqual(pack_records.pack_directory(source, archive)[0], 2)
            self.assertEqual(pack_records.pack_directory(source, archive)[0], 0)
            self.assertEqual(pack_records.unpack_directory(archive, copy), 2)
            self.assertEqual(sorted(os.listdir(copy)), sorted(files))
            for name, blob in files.items():
                with open(os.path.join(copy, name), "rb") as f:
                    self.assertEqual(f.read(), blob)
            self.assertEqual(pack_records.unpack_directory(archive, copy), 0)
            with open(os.path.join(copy, "chunk-000002.bin"), "r+b") as f:
                f.write(b"X")
            with self.assertRaises(RuntimeError):
                pack_records.unpack_directory(archive, copy)


class Trainer(unittest.TestCase):
    def test_loss_falls_and_a_stopped_run_resumes(self):
        sys.path.insert(0, TRAINING)
        import train
        with tempfile.TemporaryDirectory() as tmp:
            data_dir = os.path.join(tmp, "data")
            os.makedirs(data_dir)
            records = data.read_records(SAMPLE)
            # Two files so that one (the first) can be held out.
            data.write_records(os.path.join(data_dir, "chunk-000000.bin"), records[:40])
            data.write_records(os.path.join(data_dir, "chunk-000001.bin"), records)
            run = os.path.join(tmp, "run")
            common = ["--data", data_dir, "--out", run, "--blocks", "1", "--channels", "8", "--batch", "32",
                      "--lr", "3e-3", "--eval-every", "20", "--checkpoint-every", "20", "--threads", "1",
                      "--no-progress"]
            train.main(common + ["--steps", "60"])
            self.assertTrue(os.path.exists(os.path.join(run, "checkpoint.pt")))
            train.main(common + ["--steps", "120"])  # resumes from step 60
            with open(os.path.join(run, "metrics.csv")) as f:
                rows = list(csv.DictReader(f))
            self.assertEqual([int(r["step"]) for r in rows], [20, 40, 60, 80, 100, 120])
            first = float(rows[0]["train_policy_loss"]) + float(rows[0]["train_value_loss"])
            last = float(rows[-1]["train_policy_loss"]) + float(rows[-1]["train_value_loss"])
            self.assertLess(last, first)
            self.assertTrue(os.path.exists(os.path.join(run, "curves.png")))
            self.assertTrue(os.path.exists(os.path.join(run, "model.pt")))

            # A new run started from those weights, with learning rate and weight decay at zero,
            # keeps the convolutions as they were; reloading the data mid-run must not break it.
            second = os.path.join(tmp, "second")
            train.main(common[:2] + ["--out", second] + common[4:] +
                       ["--steps", "20", "--lr", "0", "--weight-decay", "0", "--init", os.path.join(run, "model.pt"),
                        "--reload-every", "5"])
            import torch
            before = torch.load(os.path.join(run, "model.pt"))["model"]
            after = torch.load(os.path.join(second, "model.pt"))["model"]
            for name in before:
                if name.endswith("conv.weight"):
                    self.assertTrue(torch.equal(before[name], after[name]), name)

    def test_held_out_files_stay_held_out_as_files_arrive(self):
        import train
        records = data.read_records(SAMPLE)[:10]
        for count in range(2, 12):
            owners = np.repeat(np.arange(count, dtype=np.int32), len(records))
            _, held = train.split(np.tile(records, count), owners, np.full(len(owners), count), 4)
            self.assertEqual(len(held), len(records) * len(range(0, count, 4)))
        _, held = train.split(records, np.zeros(len(records), np.int32), np.ones(len(records)), 4)
        self.assertEqual(len(held), 0)  # one file: nothing to hold out

    def test_every_directory_keeps_its_own_held_out_files(self):
        # A growing first directory must not move the second one's files between the sets, and
        # a directory after a long one still holds a file out.
        import train
        records = data.read_records(SAMPLE)[:10]
        with tempfile.TemporaryDirectory() as tmp:
            dirs = [os.path.join(tmp, name) for name in ("grows", "fixed")]
            for d, count in zip(dirs, (3, 3)):
                os.makedirs(d)
                for i in range(count):
                    data.write_records(os.path.join(d, "chunk-%06d.bin" % i), records)
            args = train.parse_args(["--data"] + dirs + ["--out", tmp, "--holdout-every", "2"])
            for appended in range(3, 6):
                sets = train.load_split(args)
                self.assertEqual((sets.held_directory == 1).sum(), 2 * len(records))  # files 0 and 2
                self.assertEqual((sets.held_directory == 0).sum(), len(range(0, appended, 2)) * len(records))
                data.write_records(os.path.join(dirs[0], "chunk-%06d.bin" % appended), records)


class Deepening(unittest.TestCase):
    def test_deeper_network_computes_the_same_and_its_new_blocks_learn(self):
        import torch
        import deepen_network
        from model import OrvalisNet
        torch.manual_seed(5)
        old = OrvalisNet(3, 8)
        for module in old.modules():  # batch-norms as a trained network has them, not the identity
            if isinstance(module, torch.nn.BatchNorm2d):
                module.running_mean.uniform_(-0.5, 0.5)
                module.running_var.uniform_(0.5, 2.0)
                module.weight.data.uniform_(0.5, 1.5)
                module.bias.data.uniform_(-0.3, 0.3)
        deep = deepen_network.deepen(old.state_dict(), 6)
        self.assertEqual(len(deep.trunk), 6)
        x = (torch.rand(8, 3, 20, 20) < 0.3).float()
        for mode in ("eval", "train"):  # train mode normalises by the batch: must agree there too
            getattr(old, mode)(), getattr(deep, mode)()
            with torch.no_grad():
                for a, b in zip(old(x), deep(x)):
                    self.assertTrue(torch.allclose(a, b, atol=1e-5), mode)
        policy, value = deep.forward_logits(x)
        (policy.logsumexp(1).mean() + value.square().mean()).backward()
        new_blocks = [i for i, old_index in enumerate(deepen_network.placement(3, 6)) if old_index is None]
        for i in new_blocks:
            self.assertGreater(deep.trunk[i].second.bn.weight.grad.abs().sum().item(), 0)

    def test_new_blocks_are_spread_and_old_ones_keep_their_order(self):
        import deepen_network
        for old, new in ((6, 8), (6, 10), (3, 4), (2, 7), (5, 5)):
            place = deepen_network.placement(old, new)
            self.assertEqual(len(place), new)
            self.assertEqual([p for p in place if p is not None], list(range(old)))
            self.assertIsNotNone(place[0])  # the stem's features reach a trained block first
            if new <= 2 * old:
                self.assertFalse(any(a is None and b is None for a, b in zip(place, place[1:])))


if __name__ == "__main__":
    unittest.main()
