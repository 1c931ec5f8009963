#!/usr/bin/python3
"""PyTorch's batch-1, one-thread speed on an OrvalisNet, beside qvr's on the same weights.

    bench_torch.py --blocks 6 --channels 64 [--qvr-bench build/tools/qvr-bench/qvr-bench]

PyTorch runs the frozen, inference-optimised TorchScript module. Rates are per
second of the thread's CPU time, which stays steady when other jobs share the
cores (qvr-bench counts the same way). With
--qvr-bench, the same network is exported to a .qvm file and timed by
qvr-bench in the same run, and each kernel path is printed with its ratio to
PyTorch. The int8 paths run a quantised copy of the file (every 3x3
convolution but the first, as export_qvm.py --from-qvm may write it; scales
calibrated on random positions, so it says nothing of accuracy, only speed).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from export_qvm import export  # noqa: E402
from model import BOARD_CELLS, OrvalisNet  # noqa: E402
from qvm_format import read_qvm  # noqa: E402
import qvm_quantise  # noqa: E402

CALIBRATION_POSITIONS = 64

WARMUP_CALLS = 50


def torch_evals_per_second(net, seconds):
    example = torch.zeros(1, 3, 20, 20)
    example[0, 2] = 1.0
    with torch.no_grad():
        module = torch.jit.optimize_for_inference(torch.jit.freeze(torch.jit.trace(net, example)))
        for _ in range(WARMUP_CALLS):
            module(example)
        calls = 0
        start = time.thread_time()
        while time.thread_time() - start < seconds:
            for _ in range(10):
                module(example)
            calls += 10
        return calls / (time.thread_time() - start)


def quantised_copy(model_path, seed):
    """Writes model_path's int8 twin beside it and returns its path."""
    with open(model_path, "rb") as file:
        model = read_qvm(file.read())
    generator = torch.Generator().manual_seed(seed)
    cells = torch.randint(0, 3, (CALIBRATION_POSITIONS, BOARD_CELLS), generator=generator)
    positions = torch.nn.functional.one_hot(cells, 3).permute(0, 2, 1).float().reshape(-1, 3, 20, 20)
    scales = qvm_quantise.calibrate(model, positions)
    scales.pop(min(qvm_quantise.conv3x3_layers(model)), None)
    quantised_path = model_path.replace(".qvm", "_int8.qvm")
    with open(quantised_path, "wb") as file:
        file.write(qvm_quantise.to_bytes(model, scales))
    return quantised_path


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--blocks", type=int, default=6)
    parser.add_argument("--channels", type=int, default=64)
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--seed", type=int, default=474)
    parser.add_argument("--qvr-bench", help="path of the qvr-bench tool, to time qvr on the same weights")
    args = parser.parse_args()

    torch.set_num_threads(1)
    torch.manual_seed(args.seed)
    net = OrvalisNet(args.blocks, args.channels).eval()
    torch_rate = torch_evals_per_second(net, args.seconds)
    print("network: %d blocks x %d channels, batch 1, one thread" % (args.blocks, args.channels))
    print("%-12s %9.1f evals/s" % ("pytorch", torch_rate))
    if not args.qvr_bench:
        return
    with tempfile.TemporaryDirectory() as work:
        model_path = os.path.join(work, "bench.qvm")
        export(net, model_path)
        result = subprocess.run([args.qvr_bench, "--model", model_path, "--seconds", str(args.seconds)],
                                check=True, capture_output=True, text=True).stdout
        quantised_path = quantised_copy(model_path, args.seed)
        paths = subprocess.run([os.path.join(os.path.dirname(args.qvr_bench), "qvr-infer"), "--list-paths"],
                               check=True, capture_output=True, text=True).stdout.split()
        int8_paths = [path for path in paths if path.startswith("int8")]
        if int8_paths:
            result += subprocess.run([args.qvr_bench, "--model", quantised_path, "--seconds", str(args.seconds),
                                      "--paths", ",".join(int8_paths)],
                                     check=True, capture_output=True, text=True).stdout
    for line in result.splitlines():
        match = re.match(r"(\S+)\s+([\d.]+) evals/s", line)
        if match:
            rate = float(match.group(2))
            print("%-12s %9.1f evals/s  %5.2fx pytorch" % (match.group(1), rate, rate / torch_rate))


if __name__ == "__main__":
    main()
