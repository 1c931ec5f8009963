#!/usr/bin/python3
"""Export an OrvalisNet to the engine's .qvm model file.

Batch-norm is folded into the preceding convolution, so the file holds only
convolutions with bias, ReLU, residual adds, flatten, dense, softmax and tanh.

    export_qvm.py --blocks 6 --channels 64 --seed 474 --out models/474/474_ncnn.qvm
    export_qvm.py --checkpoint run/model.pt --out models/474/474_ncnn.qvm

A checkpoint is a state_dict saved with torch.save, or a dict holding one under
"model"; its blocks and channels are read from the weights.

A quantised file (format version 2: int8 3x3 convolutions, qvr/FORMAT.md) from an
existing float32 file, calibrated on self-play records and checked against
float32 on held-out records, by the engine itself with --qvr-infer:

    export_qvm.py --from-qvm models/474/474_ncnn.qvm --calibration DIR --held-out DIR \
        --qvr-infer build/tools/qvr-bench/qvr-infer --out q.qvm

Layers are quantised most-tolerant first, and only as many as keep the held-out
positions within the bounds (--min-policy-agreement, --max-value-error); when
not even one layer does, no file is written and the exit status is 1.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import BOARD_SIDE, INPUT_PLANES, OrvalisNet  # noqa: E402
from qvm_format import QvmWriter, read_qvm  # noqa: E402
import data  # noqa: E402
import qvm_quantise  # noqa: E402

# The accuracy a quantised network must keep against float32, as the engine requires of it:
# the same top policy move in 99% of held-out positions, value within 0.01 on average.
MIN_POLICY_AGREEMENT = 0.99
MAX_VALUE_ERROR = 0.01
# Positions used to rank the layers by their own error; the final check uses all.
RANKING_POSITIONS = 1000

INPUT_NAME = "planes"
POLICY_NAME = "policy"
VALUE_NAME = "value"


def fold_conv_bn(conv_bn):
    """Weights and bias of a ConvBN block with its batch-norm (eval statistics) folded in."""
    conv, bn = conv_bn.conv, conv_bn.bn
    scale = bn.weight.detach().double() / torch.sqrt(bn.running_var.double() + bn.eps)
    weights = conv.weight.detach().double() * scale[:, None, None, None]
    conv_bias = conv.bias.detach().double() if conv.bias is not None else torch.zeros_like(scale)
    bias = (conv_bias - bn.running_mean.double()) * scale + bn.bias.detach().double()
    return weights.float().numpy(), bias.float().numpy()


def plain(tensor):
    return tensor.detach().float().numpy()


def network_to_qvm(net: OrvalisNet) -> QvmWriter:
    writer = QvmWriter()
    x = writer.input(INPUT_NAME, (INPUT_PLANES, BOARD_SIDE, BOARD_SIDE))
    x = writer.relu(writer.conv2d(x, *fold_conv_bn(net.stem)))
    for block in net.trunk:
        y = writer.relu(writer.conv2d(x, *fold_conv_bn(block.first)))
        x = writer.relu(writer.add(writer.conv2d(y, *fold_conv_bn(block.second)), x))
    policy = writer.flatten(writer.conv2d(x, plain(net.policy_conv.weight), plain(net.policy_conv.bias)))
    policy = writer.softmax(policy)
    value = writer.flatten(writer.relu(writer.conv2d(x, *fold_conv_bn(net.value_conv))))
    value = writer.relu(writer.dense(value, plain(net.value_hidden_fc.weight), plain(net.value_hidden_fc.bias)))
    value = writer.tanh(writer.dense(value, plain(net.value_fc.weight), plain(net.value_fc.bias)))
    writer.output(POLICY_NAME, policy)
    writer.output(VALUE_NAME, value)
    return writer


def export(net: OrvalisNet, path: str):
    net.eval()
    with torch.no_grad():
        data = network_to_qvm(net).to_bytes()
    with open(path, "wb") as file:
        file.write(data)
    return len(data)


def network_from_checkpoint(path):
    state = torch.load(path, map_location="cpu")
    if isinstance(state, dict) and "model" in state:
        state = state["model"]
    blocks = len({key.split(".")[1] for key in state if key.startswith("trunk.")})
    channels = state["stem.conv.weight"].shape[0]
    value_channels = state["value_conv.conv.weight"].shape[0]
    value_hidden = state["value_hidden_fc.weight"].shape[0]
    net = OrvalisNet(blocks, channels, value_channels, value_hidden)
    net.load_state_dict(state)
    return net


def positions(directories):
    records, _, _ = data.load(directories)
    if len(records) == 0:
        raise SystemExit("no records in %s" % ", ".join(directories))
    return data.encode(records)[0]


class EngineCheck:
    """(policy agreement, mean value error) of a quantised variant of `model` against float32,
    measured by the engine itself (qvr-infer) on its int8 path."""

    def __init__(self, model, qvr_infer, work):
        self.model, self.qvr_infer, self.work = model, qvr_infer, work
        paths = subprocess.run([qvr_infer, "--list-paths"], check=True, capture_output=True, text=True).stdout.split()
        self.int8_path = "int8-avx512" if "int8-avx512" in paths else "int8-generic"
        self.exact = {}

    def _infer(self, scales, kernels, inputs):
        model_path = os.path.join(self.work, "check.qvm")
        with open(model_path, "wb") as file:
            file.write(qvm_quantise.to_bytes(self.model, scales))
        input_path, output_path = os.path.join(self.work, "in.f32"), os.path.join(self.work, "out.f32")
        np.ascontiguousarray(inputs, dtype="<f4").tofile(input_path)
        subprocess.run([self.qvr_infer, model_path, kernels, str(len(inputs)), input_path, output_path], check=True,
                       capture_output=True)
        out = np.fromfile(output_path, dtype="<f4")
        # Outputs in model order: policy (400 a position), then value (1).
        return out[:-len(inputs)].reshape(len(inputs), -1), out[-len(inputs):]

    def __call__(self, inputs, scales):
        key = id(inputs)
        if key not in self.exact:
            self.exact[key] = self._infer(None, "auto", inputs)
        policy, value = self._infer(scales, self.int8_path, inputs)
        exact_policy, exact_value = self.exact[key]
        return float((policy.argmax(1) == exact_policy.argmax(1)).mean()), float(np.abs(value - exact_value).mean())


def choose_layers(scales, held_out, measure, min_agreement, max_value_error, log):
    """The calibrated layers that can run in int8 together within the bounds on held_out,
    most tolerant first, and their measured (agreement, value error); ({}, None) if none can.
    measure(positions, scales) gives (policy agreement, mean value error)."""
    ranking = held_out[:RANKING_POSITIONS]
    errors = {}
    for layer in scales:
        agreement, value_error = measure(ranking, {layer: scales[layer]})
        errors[layer] = (1 - agreement) + value_error
        log("layer %d alone: policy %.4f, value %.5f" % (layer, agreement, value_error))
    order = sorted(scales, key=lambda layer: errors[layer])
    # Fewer layers only lose less accuracy: search for the longest prefix that passes.
    low, high, best = 1, len(order), ({}, None)
    while low <= high:
        count = (low + high) // 2
        chosen = {layer: scales[layer] for layer in order[:count]}
        result = measure(held_out, chosen)
        log("%d layers: policy %.4f, value %.5f" % (count, result[0], result[1]))
        if result[0] >= min_agreement and result[1] <= max_value_error:
            best, low = (chosen, result), count + 1
        else:
            high = count - 1
    return best


def quantise(args):
    log = lambda text: print(text, flush=True)  # noqa: E731
    with open(args.from_qvm, "rb") as file:
        model = read_qvm(file.read())
    start = time.time()
    scales = qvm_quantise.calibrate(model, positions(args.calibration))
    held_out = positions(args.held_out)
    log("calibrated %d layers in %.0f s; %d held-out positions" % (len(scales), time.time() - start, len(held_out)))
    if args.skip_first:
        # The first convolution reads the input planes; its 3 input channels make it cheap in
        # float32, and its weights lose the most to int8 (measured on the shipped network).
        scales.pop(min(qvm_quantise.conv3x3_layers(model)), None)
    with tempfile.TemporaryDirectory() as work:
        if args.qvr_infer:
            measure = EngineCheck(model, args.qvr_infer, work)
        else:
            measure = lambda inputs, chosen: qvm_quantise.compare(model, inputs, chosen)  # noqa: E731
        chosen, result = choose_layers(scales, held_out, measure, args.min_policy_agreement, args.max_value_error, log)
    if not chosen:
        log("no layer keeps the bounds: nothing written")
        return 1
    with open(args.out, "wb") as file:
        file.write(qvm_quantise.to_bytes(model, chosen))
    log("wrote %s: %d int8 layers %s, policy agreement %.4f, mean value error %.5f"
        % (args.out, len(chosen), sorted(chosen), result[0], result[1]))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--checkpoint", help="trained weights; without it a seeded random network is exported")
    parser.add_argument("--from-qvm", help="quantise this float32 .qvm file (needs --calibration, --held-out)")
    parser.add_argument("--calibration", nargs="+", help="record directories for the input scales")
    parser.add_argument("--held-out", nargs="+", help="record directories for the accuracy check")
    parser.add_argument("--min-policy-agreement", type=float, default=MIN_POLICY_AGREEMENT)
    parser.add_argument("--max-value-error", type=float, default=MAX_VALUE_ERROR)
    parser.add_argument("--qvr-infer", help="check accuracy with the engine (tools/qvr-bench/qvr-infer) rather "
                        "than with the Python model of its arithmetic")
    parser.add_argument("--quantise-first", dest="skip_first", action="store_false",
                        help="let the first convolution run in int8 too")
    parser.add_argument("--blocks", type=int, default=6)
    parser.add_argument("--channels", type=int, default=64)
    parser.add_argument("--seed", type=int, default=474)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if args.from_qvm:
        if not args.calibration or not args.held_out:
            parser.error("--from-qvm needs --calibration and --held-out")
        torch.set_num_threads(1)
        return quantise(args)
    if args.checkpoint:
        net = network_from_checkpoint(args.checkpoint)
    else:
        torch.manual_seed(args.seed)
        net = OrvalisNet(args.blocks, args.channels)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    size = export(net, args.out)
    print("wrote %s: %d blocks x %d channels, %d bytes" % (args.out, net.blocks, net.channels, size))
    return 0


if __name__ == "__main__":
    np.seterr(all="raise")
    sys.exit(main())
