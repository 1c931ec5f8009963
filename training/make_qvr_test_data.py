#!/usr/bin/python3
"""Writes tests/data/qvr/: a tiny exported OrvalisNet with PyTorch's outputs on
a few positions, so the C++ tests check PyTorch parity without PyTorch.

    make_qvr_test_data.py [OUT_DIR]

Files: golden.qvm, golden_inputs.bin (POSITIONS x 3 x 20 x 20 float32),
golden_outputs.bin (POSITIONS x 400 policy, then POSITIONS values, float32).
"""

import os
import sys

import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_qvm import random_positions, randomise_batch_norm  # noqa: E402
from export_qvm import export  # noqa: E402
from model import OrvalisNet  # noqa: E402

SEED = 20


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "qvr")
    os.makedirs(out_dir, exist_ok=True)
    torch.manual_seed(SEED)
    generator = torch.Generator().manual_seed(SEED)
    net = OrvalisNet(1, 16, value_channels=2, value_hidden=8)
    randomise_batch_norm(net, generator)
    net.eval()
    export(net, os.path.join(out_dir, "golden.qvm"))
    positions = random_positions(generator)
    with torch.no_grad():
        policy, value = net(positions)
    positions.numpy().astype("<f4").tofile(os.path.join(out_dir, "golden_inputs.bin"))
    with open(os.path.join(out_dir, "golden_outputs.bin"), "wb") as file:
        file.write(policy.numpy().astype("<f4").tobytes())
        file.write(value.numpy().astype("<f4").tobytes())
    print("wrote golden model and %d positions to %s" % (positions.shape[0], out_dir))


if __name__ == "__main__":
    main()
