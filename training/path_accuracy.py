#!/usr/bin/python3
"""How closely each of the engine's kernel paths follows float32 on real positions.

    /usr/bin/python3 training/path_accuracy.py --model models/474/474_ncnn.qvm \\
        --positions DIR [DIR ...] --qvr-infer build/tools/qvr-bench/qvr-infer [--paths a,b] [--limit N]

Runs the model through qvr-infer on every position of the record files (policy
and value for the side to move, as the engine encodes them) on the float32
reference path `avx512` (or `avx2`, `generic`: the best this CPU has) and on each
low-precision path, and prints per path: the share of positions whose top
policy move is the same, the mean and largest absolute value difference, and
the mean absolute policy difference. Positions with a board smaller than 20 x 20
are encoded with the outside of the board all zero, as the engine does.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import data  # noqa: E402


def infer(qvr_infer, model, kernels, inputs, work):
    input_path, output_path = os.path.join(work, "in.f32"), os.path.join(work, "out.f32")
    np.ascontiguousarray(inputs, dtype="<f4").tofile(input_path)
    result = subprocess.run([qvr_infer, model, kernels, str(len(inputs)), input_path, output_path],
                            check=True, capture_output=True, text=True)
    out = np.fromfile(output_path, dtype="<f4")
    # Outputs in model order: policy (400 a position), then value (1).
    return result.stdout.strip(), out[:-len(inputs)].reshape(len(inputs), -1), out[-len(inputs):]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--model", required=True)
    parser.add_argument("--positions", nargs="+", required=True, help="directories of record files")
    parser.add_argument("--qvr-infer", required=True)
    parser.add_argument("--paths", help="comma-separated paths to compare (default: every low-precision one)")
    parser.add_argument("--limit", type=int, default=10000, help="at most this many positions (default 10000)")
    args = parser.parse_args()

    records, _, _ = data.load(args.positions, include_partial=True)
    if len(records) == 0:
        raise SystemExit("no records in %s" % ", ".join(args.positions))
    inputs = data.encode(records[:args.limit])[0]
    available = subprocess.run([args.qvr_infer, "--list-paths"], check=True, capture_output=True,
                               text=True).stdout.split()
    exact = next(path for path in ("avx512", "avx2", "generic") if path in available)
    paths = args.paths.split(",") if args.paths else [p for p in available if p.startswith(("int16", "int8"))]
    with tempfile.TemporaryDirectory() as work:
        _, exact_policy, exact_value = infer(args.qvr_infer, args.model, exact, inputs, work)
        print("%d positions; float32 path %s" % (len(inputs), exact))
        for path in paths:
            try:
                used, policy, value = infer(args.qvr_infer, args.model, path, inputs, work)
            except subprocess.CalledProcessError as error:
                print("%-14s skipped: %s" % (path, error.stderr.strip()))
                continue
            same = float((policy.argmax(1) == exact_policy.argmax(1)).mean())
            value_error = np.abs(value - exact_value)
            print("%-14s top move same %.4f  value diff mean %.5f max %.5f  policy diff mean %.2e"
                  % (used, same, value_error.mean(), value_error.max(), np.abs(policy - exact_policy).mean()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
