#!/usr/bin/python3
"""Supervised training of OrvalisNet on self-play records: the teacher's (version 1) or the
network's own (version 2, from tools/selfplay).

    /usr/bin/python3 training/train.py --data selfplay-data --out runs/r1 --blocks 6 --channels 64 --steps 20000

Loss: cross-entropy of the policy logits against the teacher's move (version 1) or the root's
visit shares (version 2), plus the squared error of
the value against the game's result (both from the side to move). A random one of the 8 board
symmetries is applied to every sampled position. Whole chunk files are held out (every
--holdout-every-th file) to measure policy accuracy and value MSE without leaking games.

Run directory: checkpoint.pt (weights, optimiser, step, random state; rewritten every
--checkpoint-every steps, so a stopped run loses at most one interval and resumes with the same
command), model.pt (weights only, for training/export_qvm.py --checkpoint), metrics.csv and
curves.png.

Several --data directories may mix the teacher's files with the network's own; a teacher record
then keeps its move as the policy target. --data-weights sets the share of each batch drawn from
each directory (a small self-play set would otherwise be lost in the teacher's millions), and the
log shows each directory's held-out figures after the mix's own.

Data that is still being generated: --reload-every N re-reads the directories every N steps, so
one run trains on the games as they arrive. The held-out rule depends only on a file's place in
the sorted list (every --holdout-every-th file, starting with the first), so files added later
never move a file already trained on into the held-out set. --init starts a new run (fresh
optimiser and schedule) from another run's model.pt.
"""

import argparse
import csv
import math
import os
import sys
import time

import numpy as np
import torch
import torch.nn.functional as F

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import data  # noqa: E402


def parse_args(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data", nargs="+", required=True, help="directories of chunk-*.bin files")
    ap.add_argument("--data-weights", nargs="+", type=float,
                    help="share of each batch drawn from each --data directory (default: by record count)")
    ap.add_argument("--out", required=True, help="run directory (created; resumed if it holds a checkpoint)")
    ap.add_argument("--blocks", type=int, default=6)
    ap.add_argument("--channels", type=int, default=64)
    ap.add_argument("--steps", type=int, default=20000)
    ap.add_argument("--batch", type=int, default=256)
    ap.add_argument("--lr", type=float, default=2e-3, help="peak AdamW learning rate (cosine decay to 5%%)")
    ap.add_argument("--weight-decay", type=float, default=1e-4)
    ap.add_argument("--value-weight", type=float, default=1.0)
    ap.add_argument("--checkpoint-every", type=int, default=500)
    ap.add_argument("--eval-every", type=int, default=500)
    ap.add_argument("--holdout-every", type=int, default=50, help="hold out every N-th chunk file")
    ap.add_argument("--holdout-max", type=int, default=8192, help="held-out positions evaluated")
    ap.add_argument("--include-partial", action="store_true", help="also read chunk files still being written")
    ap.add_argument("--reload-every", type=int, default=0,
                    help="re-read the data directories every N steps (0: read once)")
    ap.add_argument("--init", help="model.pt of another run to start from (ignored when resuming)")
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--bf16", action="store_true", help="bfloat16 autocast (use only if measured faster)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--model-module", default="model", help="module that defines OrvalisNet (tests swap it)")
    ap.add_argument("--no-progress", action="store_true")
    return ap.parse_args(argv)


def learning_rate(args, step):
    """Short linear warm-up, then cosine decay to 5% of the peak."""
    warmup = max(1, min(200, args.steps // 20))
    if step < warmup:
        return args.lr * (step + 1) / warmup
    progress = (step - warmup) / max(1, args.steps - warmup)
    return args.lr * (0.05 + 0.95 * 0.5 * (1.0 + math.cos(math.pi * min(1.0, progress))))


def split(records, positions, directory_files, holdout_every):
    """(training, held-out) records. Held-out files are those at positions 0, N, 2N, ... of their
    own --data directory's file list (`positions`, per record; `directory_files`, the size of that
    list): a rule that stays the same as files are appended to any directory, and that holds out
    part of every directory of two files or more (a single file is not held out)."""
    held = (positions % holdout_every == 0) & (directory_files >= 2)
    return records[~held], records[held]


class Split:
    """The training and held-out records of one load, each with the --data directory it came from."""

    def __init__(self, args):
        records, owners, files = data.load(args.data, args.include_partial)
        if len(records) == 0:
            sys.exit("no records under %s" % " ".join(args.data))
        counts = [len(data.list_files([d], args.include_partial)) for d in args.data]
        directory = np.repeat(np.arange(len(args.data)), counts)[owners]
        first_file = np.concatenate([[0], np.cumsum(counts)[:-1]])
        train, held = split(np.arange(len(records)), owners - first_file[directory],
                            np.asarray(counts)[directory], args.holdout_every)
        self.train, self.held = records[train], records[held]
        self.train_directory, self.held_directory = directory[train], directory[held]
        self.file_count = len(files)
        if len(self.train) == 0:
            sys.exit("every file is held out: --holdout-every must be above 1")
        self.weights = None
        if args.data_weights:
            weights = np.asarray(args.data_weights, dtype=np.float64)
            self.by_directory = [np.flatnonzero(self.train_directory == d) for d in range(len(args.data))]
            weights[[len(rows) == 0 for rows in self.by_directory]] = 0.0
            if weights.sum() <= 0:
                sys.exit("--data-weights: no training records in any weighted directory")
            self.weights = weights / weights.sum()

    def draw(self, rng, size):
        """Indices of a batch: uniform over the records, or per directory by --data-weights."""
        if self.weights is None:
            return rng.integers(0, len(self.train), size=size)
        directories = rng.choice(len(self.weights), size=size, p=self.weights)
        picks = np.empty(size, dtype=np.int64)
        for d in np.unique(directories):
            where = directories == d
            rows = self.by_directory[d]
            picks[where] = rows[rng.integers(0, len(rows), size=where.sum())]
        return picks

    def describe(self):
        return "%d files, %d training positions, %d held out" % (self.file_count, len(self.train), len(self.held))


def load_split(args):
    if args.data_weights and len(args.data_weights) != len(args.data):
        sys.exit("--data-weights needs one weight per --data directory")
    return Split(args)


def batch_tensors(records, symmetries):
    """(input planes, moves played, policy targets, value targets). The policy target is the
    played move (teacher records) or the root's visit shares (network self-play records)."""
    planes, moves = data.encode(records, symmetries)
    policy = data.policy_targets(records, symmetries)
    return (torch.from_numpy(planes), torch.from_numpy(moves), torch.from_numpy(policy),
            torch.from_numpy(data.values(records)))


def losses(net, planes, policy, targets, bf16):
    with torch.autocast("cpu", dtype=torch.bfloat16, enabled=bf16):
        logits, value = net.forward_logits(planes)
    logits, value = logits.float(), value.float()
    # Cross-entropy against a distribution; for a one-hot target it is the usual one.
    policy_loss = -(policy * F.log_softmax(logits, dim=1)).sum(dim=1).mean()
    value_loss = F.mse_loss(torch.tanh(value), targets)
    return policy_loss, value_loss, logits, torch.tanh(value)


@torch.no_grad()
def evaluate(net, held, args):
    if len(held) == 0:
        return float("nan"), float("nan")
    net.eval()
    sample = held[: args.holdout_max]
    correct, squared, count = 0, 0.0, 0
    for start in range(0, len(sample), 1024):
        part = sample[start:start + 1024]
        planes, moves, policy, targets = batch_tensors(part, None)
        _, _, logits, value = losses(net, planes, policy, targets, args.bf16)
        correct += (logits.argmax(dim=1) == moves).sum().item()
        squared += ((value - targets) ** 2).sum().item()
        count += len(part)
    net.train()
    return correct / count, squared / count


def plot(metrics_path, png_path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    with open(metrics_path) as f:
        rows = list(csv.DictReader(f))
    if not rows:
        return
    step = [int(r["step"]) for r in rows]
    fig, axes = plt.subplots(1, 3, figsize=(14, 4))
    axes[0].plot(step, [float(r["train_policy_loss"]) for r in rows], label="train policy loss")
    axes[0].plot(step, [float(r["train_value_loss"]) for r in rows], label="train value loss")
    axes[0].legend()
    axes[1].plot(step, [float(r["heldout_policy_accuracy"]) for r in rows], label="held-out policy accuracy")
    axes[1].legend()
    axes[2].plot(step, [float(r["heldout_value_mse"]) for r in rows], label="held-out value MSE")
    axes[2].legend()
    for ax in axes:
        ax.set_xlabel("step")
        ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(png_path, dpi=80)
    plt.close(fig)


def log(progress, message):
    """One line above the progress bar, or flushed at once when stdout is a log file."""
    if progress:
        progress.write(message)
    else:
        print(message, flush=True)


def save_checkpoint(path, net, optimizer, step, rng, args):
    tmp = path + ".tmp"
    torch.save({"model": net.state_dict(), "optimizer": optimizer.state_dict(), "step": step,
                "numpy_rng": rng.bit_generator.state, "torch_rng": torch.get_rng_state(),
                "blocks": args.blocks, "channels": args.channels}, tmp)
    os.replace(tmp, path)  # a crash mid-write leaves the previous checkpoint intact


def main(argv=None):
    args = parse_args(argv)
    torch.set_num_threads(args.threads)
    torch.manual_seed(args.seed)
    os.makedirs(args.out, exist_ok=True)
    model_module = __import__(args.model_module)

    sets = load_split(args)
    print(sets.describe(), flush=True)

    net = model_module.OrvalisNet(args.blocks, args.channels)
    optimizer = torch.optim.AdamW(net.parameters(), lr=args.lr, weight_decay=args.weight_decay)
    rng = np.random.default_rng(args.seed)
    step = 0
    checkpoint_path = os.path.join(args.out, "checkpoint.pt")
    metrics_path = os.path.join(args.out, "metrics.csv")
    if os.path.exists(checkpoint_path):
        state = torch.load(checkpoint_path)
        net.load_state_dict(state["model"])
        optimizer.load_state_dict(state["optimizer"])
        step = state["step"]
        rng.bit_generator.state = state["numpy_rng"]
        torch.set_rng_state(state["torch_rng"])
        print("resumed at step %d" % step, flush=True)
    elif args.init:
        state = torch.load(args.init)
        net.load_state_dict(state.get("model", state))
        print("starting from the weights of %s" % args.init, flush=True)
        if os.path.exists(metrics_path):  # drop metrics logged after the checkpoint
            with open(metrics_path) as f:
                rows = [r for r in csv.DictReader(f) if int(r["step"]) <= step]
            with open(metrics_path, "w", newline="") as f:
                writer = csv.DictWriter(f, fieldnames=METRIC_FIELDS)
                writer.writeheader()
                writer.writerows(rows)
    if not os.path.exists(metrics_path):
        with open(metrics_path, "w", newline="") as f:
            csv.DictWriter(f, fieldnames=METRIC_FIELDS).writeheader()

    net.train()
    progress = None
    if not args.no_progress:
        from tqdm import tqdm
        progress = tqdm(total=args.steps, initial=step, unit="step", dynamic_ncols=True)
    policy_sum = value_sum = 0.0
    window = 0
    started = time.time()
    steps_at_start = step
    while step < args.steps:
        if args.reload_every and step > steps_at_start and step % args.reload_every == 0:
            sets = load_split(args)
            log(progress, "step %d: reloaded %s" % (step, sets.describe()))
        for group in optimizer.param_groups:
            group["lr"] = learning_rate(args, step)
        picks = sets.draw(rng, args.batch)
        symmetries = rng.integers(0, 8, size=args.batch)
        planes, _, policy, targets = batch_tensors(sets.train[picks], symmetries)
        policy_loss, value_loss, _, _ = losses(net, planes, policy, targets, args.bf16)
        loss = policy_loss + args.value_weight * value_loss
        optimizer.zero_grad(set_to_none=True)
        loss.backward()
        optimizer.step()
        step += 1
        policy_sum += policy_loss.item()
        value_sum += value_loss.item()
        window += 1
        if progress:
            progress.update(1)
            progress.set_postfix(policy=round(policy_loss.item(), 3), value=round(value_loss.item(), 3))
        if step % args.eval_every == 0 or step == args.steps:
            accuracy, mse = evaluate(net, sets.held, args)
            rate = (step - steps_at_start) / max(1e-9, time.time() - started)
            row = {"step": step, "train_policy_loss": policy_sum / window, "train_value_loss": value_sum / window,
                   "heldout_policy_accuracy": accuracy, "heldout_value_mse": mse,
                   "lr": learning_rate(args, step - 1), "steps_per_second": rate,
                   "positions_per_second": rate * args.batch}
            with open(metrics_path, "a", newline="") as f:
                csv.DictWriter(f, fieldnames=METRIC_FIELDS).writerow(row)
            message = ("step %d: policy loss %.4f value loss %.4f | held-out accuracy %.4f value MSE %.4f | "
                       "%.2f steps/s" % (step, row["train_policy_loss"], row["train_value_loss"], accuracy, mse, rate))
            log(progress, message)
            if len(args.data) > 1:  # each set on its own: a mix's average hides the small ones
                for d, directory in enumerate(args.data):
                    accuracy, mse = evaluate(net, sets.held[sets.held_directory == d], args)
                    log(progress, "  held-out %s: accuracy %.4f value MSE %.4f" % (directory, accuracy, mse))
            policy_sum = value_sum = 0.0
            window = 0
            plot(metrics_path, os.path.join(args.out, "curves.png"))
        if step % args.checkpoint_every == 0 or step == args.steps:
            save_checkpoint(checkpoint_path, net, optimizer, step, rng, args)
            torch.save({"model": net.state_dict()}, os.path.join(args.out, "model.pt"))
    if progress:
        progress.close()
    return 0


METRIC_FIELDS = ["step", "train_policy_loss", "train_value_loss", "heldout_policy_accuracy",
                 "heldout_value_mse", "lr", "steps_per_second", "positions_per_second"]

if __name__ == "__main__":
    sys.exit(main())
