#!/usr/bin/python3
"""Grow a trained network deeper without changing what it computes, so a longer run can start from it.

    /usr/bin/python3 training/deepen_network.py --checkpoint training/runs/r16/model.pt --blocks 8 \
        --out training/runs/r17-init.pt

The new residual blocks are spread evenly between the old ones. Each starts with its second
batch-norm's scale and shift at zero, so its residual branch adds nothing: the trunk's input to a
block is already past a ReLU, so relu(0 + x) = x and the deeper network's outputs equal the old
ones. The zero scale still receives gradients (its gradient is the normalised branch output), so
the block starts learning on the first step. Start the run with train.py --init and the new
--blocks.
"""

import argparse
import os
import sys

import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import OrvalisNet  # noqa: E402


def shape_of(state):
    blocks = 1 + max(int(k.split(".")[1]) for k in state if k.startswith("trunk."))
    channels = state["stem.conv.weight"].shape[0]
    return blocks, channels, state["value_conv.conv.weight"].shape[0], state["value_hidden_fc.weight"].shape[0]


def placement(old_blocks, new_blocks):
    """For each block of the deeper trunk, the old block it copies, or None for a new one.

    New blocks go after old ones at even spacing (6 -> 8 puts one after the second old block and one after the fourth), so
    no stretch of the trunk is only new blocks."""
    added = new_blocks - old_blocks
    after = [max(1, ((i + 1) * old_blocks) // (added + 1)) for i in range(added)]  # old blocks before each
    out, next_new = [], 0
    for old in range(old_blocks):
        out.append(old)
        while next_new < added and after[next_new] == old + 1:
            out.append(None)
            next_new += 1
    out.extend([None] * (added - next_new))
    return out


def deepen(state, new_blocks, seed=0):
    blocks, channels, value_channels, value_hidden = shape_of(state)
    if new_blocks < blocks:
        raise ValueError("the network already has %d blocks; deepening cannot remove any" % blocks)
    torch.manual_seed(seed)
    net = OrvalisNet(new_blocks, channels, value_channels, value_hidden)
    fresh = net.state_dict()
    grown = {}
    for key, value in fresh.items():
        if not key.startswith("trunk."):
            grown[key] = state[key].clone()
    for new_index, old_index in enumerate(placement(blocks, new_blocks)):
        prefix = "trunk.%d." % new_index
        for key, value in fresh.items():
            if not key.startswith(prefix):
                continue
            rest = key[len(prefix):]
            if old_index is not None:
                grown[key] = state["trunk.%d.%s" % (old_index, rest)].clone()
            elif rest in ("second.bn.weight", "second.bn.bias"):
                grown[key] = torch.zeros_like(value)
            else:
                grown[key] = value.clone()  # fresh initialisation; first conv learns from its branch
    net.load_state_dict(grown)
    return net


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--checkpoint", required=True, help="model.pt (or checkpoint.pt) of the network to grow")
    ap.add_argument("--blocks", type=int, required=True, help="residual blocks of the deeper network")
    ap.add_argument("--out", required=True, help="model.pt to write (weights only)")
    ap.add_argument("--seed", type=int, default=0, help="seed of the new blocks' first convolutions")
    args = ap.parse_args()
    state = torch.load(args.checkpoint)
    state = state.get("model", state)
    old = OrvalisNet(*shape_of(state))
    old.load_state_dict(state)
    net = deepen(state, args.blocks, args.seed)
    # The point of the tool is that nothing changes: check it on random positions before writing.
    old.eval(), net.eval()
    with torch.no_grad():
        x = (torch.rand(16, 3, 20, 20) < 0.3).float()
        for a, b in zip(old(x), net(x)):
            if not torch.allclose(a, b, atol=1e-5):
                raise SystemExit("deepened network differs from the original (max %.2e)" % (a - b).abs().max())
    torch.save(net.state_dict(), args.out)
    print("%s: %d -> %d blocks, outputs unchanged" % (args.out, shape_of(state)[0], args.blocks))


if __name__ == "__main__":
    main()
