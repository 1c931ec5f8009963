#!/usr/bin/python3
"""Export an OrvalisNet to the engine's .qvm model file.

Batch-norm is folded into the preceding convolution, so the file holds only
convolutions with bias, ReLU, residual adds, flatten, dense, softmax and tanh.

    export_qvm.py --blocks 6 --channels 64 --seed 474 --out models/474/474_ncnn.qvm
    export_qvm.py --checkpoint run/model.pt --out models/474/474_ncnn.qvm

A checkpoint is a state_dict saved with torch.save, or a dict holding one under
"model"; its blocks and channels are read from the weights.
"""

import argparse
import os
import sys

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import BOARD_SIDE, INPUT_PLANES, OrvalisNet  # noqa: E402
from qvm_format import QvmWriter  # noqa: E402

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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--checkpoint", help="trained weights; without it a seeded random network is exported")
    parser.add_argument("--blocks", type=int, default=6)
    parser.add_argument("--channels", type=int, default=64)
    parser.add_argument("--seed", type=int, default=474)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if args.checkpoint:
        net = network_from_checkpoint(args.checkpoint)
    else:
        torch.manual_seed(args.seed)
        net = OrvalisNet(args.blocks, args.channels)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    size = export(net, args.out)
    print("wrote %s: %d blocks x %d channels, %d bytes" % (args.out, net.blocks, net.channels, size))


if __name__ == "__main__":
    np.seterr(all="raise")
    main()
