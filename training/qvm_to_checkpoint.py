#!/usr/bin/python3
"""Turns a float32 .qvm model back into weights that train.py --init can start from.

A shipped model keeps only the exported file: the run's checkpoint may be gone. The file has
each batch-norm folded into its convolution (weights W', bias b'), so the network is rebuilt
with the folded weights and a batch-norm that gives back W'x + b' exactly in eval mode. For
training mode, which normalises by the batch's own statistics, each batch-norm is also given
the statistics of W'x over real positions (mean m, variance v): gamma = sqrt(v + eps) and
beta = m + b', so that a batch like those positions passes through nearly unchanged and the
first training steps start from the shipped network, not from a re-normalised one.

    qvm_to_checkpoint.py --qvm models/474/474_ncnn.qvm --positions training/data/teach-r7 \
        --out training/runs/r7/model.pt
"""

import argparse
import copy
import sys

import numpy as np
import torch

import data
import model as model_module
from qvm_format import CONV2D, DENSE, read_qvm


def network_from_qvm(qvm):
    """An OrvalisNet whose eval-mode outputs are the file's, batch-norms at identity."""
    convs = [params for kind, _, params in qvm.layers if kind == CONV2D]
    dense = [params for kind, _, params in qvm.layers if kind == DENSE]
    channels = convs[0]["weights"].shape[0]
    blocks = (len(convs) - 3) // 2  # stem, two per block, policy and value heads
    if len(convs) != 2 * blocks + 3 or len(dense) != 2:
        raise SystemExit("not a network of this project's layout: %d convolutions, %d dense" % (len(convs), len(dense)))
    value_channels = convs[-1]["weights"].shape[0]
    value_hidden = dense[0]["weights"].shape[0]
    net = model_module.OrvalisNet(blocks, channels, value_channels, value_hidden)
    conv_bns = [net.stem] + [c for block in net.trunk for c in (block.first, block.second)]
    # The file writes the stem, the tower, the policy head and then the value head.
    folded = convs[:1 + 2 * blocks] + [convs[-1]]
    with torch.no_grad():
        for conv_bn, params in zip(conv_bns + [net.value_conv], folded):
            conv_bn.conv.weight.copy_(torch.as_tensor(params["weights"]))
            conv_bn.bn.running_mean.zero_()
            conv_bn.bn.running_var.fill_(1.0 - conv_bn.bn.eps)
            conv_bn.bn.weight.fill_(1.0)
            conv_bn.bn.bias.copy_(torch.as_tensor(params["bias"]))
        policy = convs[1 + 2 * blocks]
        net.policy_conv.weight.copy_(torch.as_tensor(policy["weights"]))
        net.policy_conv.bias.copy_(torch.as_tensor(policy["bias"]))
        for layer, params in zip((net.value_hidden_fc, net.value_fc), dense):
            layer.weight.copy_(torch.as_tensor(params["weights"]))
            layer.bias.copy_(torch.as_tensor(params["bias"]))
    return net


def restore_batch_statistics(net, inputs):
    """Gives each batch-norm the mean and variance its convolution's output has on `inputs`,
    keeping eval-mode outputs the same (up to rounding)."""
    conv_bns = [net.stem] + [c for block in net.trunk for c in (block.first, block.second)] + [net.value_conv]
    stats = {}

    def keep(conv_bn):
        def hook(_module, _inputs, output):
            stats[conv_bn] = (output.mean(dim=(0, 2, 3)).double(), output.var(dim=(0, 2, 3), unbiased=False).double())
        return hook

    hooks = [conv_bn.conv.register_forward_hook(keep(conv_bn)) for conv_bn in conv_bns]
    net.eval()
    with torch.no_grad():
        net(inputs)
        for hook in hooks:
            hook.remove()
        for conv_bn in conv_bns:
            mean, var = stats[conv_bn]
            bn = conv_bn.bn
            scale = torch.sqrt(var + bn.eps)
            bn.bias.copy_((bn.bias.double() + mean).float())
            bn.weight.copy_(scale.float())
            bn.running_mean.copy_(mean.float())
            bn.running_var.copy_(var.float())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--qvm", required=True, help="a float32 model file")
    parser.add_argument("--positions", nargs="+", required=True, help="record directories for the statistics")
    parser.add_argument("--count", type=int, default=4096, help="positions used (default 4096)")
    parser.add_argument("--out", required=True, help="model.pt to write")
    args = parser.parse_args()

    with open(args.qvm, "rb") as file:
        qvm = read_qvm(file.read())
    if qvm.input_scales:
        raise SystemExit("%s is a quantised file: convert its float32 twin" % args.qvm)
    net = network_from_qvm(qvm)
    records, _, _ = data.load(args.positions)
    if len(records) == 0:
        raise SystemExit("no records in %s" % ", ".join(args.positions))
    picked = np.random.default_rng(0).choice(len(records), size=min(args.count, len(records)), replace=False)
    inputs = torch.as_tensor(data.encode(records[np.sort(picked)])[0])

    net.eval()
    with torch.no_grad():
        before = [t.clone() for t in net(inputs)]
    restore_batch_statistics(net, inputs)
    with torch.no_grad():
        after = net(inputs)
        trial = copy.deepcopy(net)  # training mode moves the running statistics: not on the saved net
        trial.train()
        batch = trial(inputs)
    eval_error = max(float((a - b).abs().max()) for a, b in zip(before, after))
    train_error = max(float((a - b).abs().max()) for a, b in zip(before, batch))
    print("%d blocks x %d channels; largest output change: eval mode %.2e, training mode %.2e"
          % (net.blocks, net.channels, eval_error, train_error))
    if eval_error > 1e-3:
        print("the rebuilt network does not reproduce the file", file=sys.stderr)
        return 1
    torch.save({"model": net.state_dict()}, args.out)
    print("wrote", args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
