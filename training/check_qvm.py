#!/usr/bin/python3
"""Checks the qvr library against PyTorch on the same exported network.

Checks the network's heads and that saved checkpoints export to the same
file, then exports small random OrvalisNets (with non-trivial batch-norm statistics, so
the folding is checked too), runs them in PyTorch and through qvr-infer on
every kernel path this CPU supports, and fails if any output differs by more
than the tolerance. Then quantises each network (calibrated on random
positions), writes the version 2 file and checks the engine's int8 paths
against the Python model of their arithmetic (qvm_quantise.py).

    check_qvm.py QVR_INFER WORK_DIR
"""

import os
import subprocess
import sys

try:
    import numpy as np
    import torch
except ImportError as error:  # the test must fail, never skip, without PyTorch
    sys.exit("check_qvm.py needs PyTorch and NumPy (Debian: python3-torch python3-numpy): %s" % error)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from export_qvm import export, network_from_checkpoint  # noqa: E402
from model import BOARD_CELLS, OrvalisNet  # noqa: E402
from qvm_format import read_qvm  # noqa: E402
import qvm_quantise  # noqa: E402
import qvm_to_checkpoint  # noqa: E402

TOLERANCE = 1e-4
POSITIONS = 6
# The engine's int8 sums are exact like the model's; what may differ is float32 rounding
# around them, and with it, rarely, one input rounding to the neighbouring byte (the engine
# multiplies by 1/scale where the model divides by scale). One step of one input moves an
# output by about scale x weight: well under this on these networks.
INT8_TOLERANCE = 2e-3
# The int16 paths round the Winograd products' operands to 16 bits: held to the
# engine's accuracy bound (a value within 0.01), not to float32's rounding.
INT16_TOLERANCE = 1e-2
CALIBRATION_POSITIONS = 64
# (blocks, channels): one layout that fills whole SIMD registers, one that does not.
NETWORKS = [(2, 16), (1, 24)]


def randomise_batch_norm(net, generator):
    for module in net.modules():
        if isinstance(module, torch.nn.BatchNorm2d):
            n = module.num_features
            module.weight.data = 0.5 + torch.rand(n, generator=generator)
            module.bias.data = 0.2 * torch.randn(n, generator=generator)
            module.running_mean.data = 0.2 * torch.randn(n, generator=generator)
            module.running_var.data = 0.5 + torch.rand(n, generator=generator)


def random_positions(generator, count=POSITIONS):
    """One-hot planes like the engine's: own stones, opponent's, empty."""
    cells = torch.randint(0, 3, (count, BOARD_CELLS), generator=generator)
    cells[:, torch.rand(BOARD_CELLS, generator=generator) < 0.5] = 2  # leave many cells empty
    planes = torch.zeros(count, 3, BOARD_CELLS)
    planes.scatter_(1, cells.unsqueeze(1), 1.0)
    return planes.view(count, 3, 20, 20)


def check_network_and_checkpoints(work_dir):
    """The training side's contract: shapes, heads, and checkpoints that export alike."""
    torch.manual_seed(1)
    net = OrvalisNet(2, 16).eval()
    positions = random_positions(torch.Generator().manual_seed(3))
    with torch.no_grad():
        policy, value = net(positions)
        logits, raw_value = net.forward_logits(positions)
    failures = 0
    checks = [
        ("policy shape", policy.shape == (POSITIONS, BOARD_CELLS)),
        ("value shape", value.shape == (POSITIONS, 1)),
        ("policy sums to one", torch.allclose(policy.sum(dim=1), torch.ones(POSITIONS), atol=1e-5)),
        ("policy is softmax of logits", torch.allclose(policy, torch.softmax(logits, dim=1))),
        ("value is tanh of raw value", torch.allclose(value, torch.tanh(raw_value))),
    ]
    direct = os.path.join(work_dir, "direct.qvm")
    export(net, direct)
    for label, state in (("state_dict", net.state_dict()), ("dict with model", {"model": net.state_dict()})):
        checkpoint = os.path.join(work_dir, "checkpoint.pt")
        torch.save(state, checkpoint)
        reloaded = os.path.join(work_dir, "reloaded.qvm")
        export(network_from_checkpoint(checkpoint), reloaded)
        with open(direct, "rb") as a, open(reloaded, "rb") as b:
            checks.append(("checkpoint as %s exports the same bytes" % label, a.read() == b.read()))
    checks += check_rebuilt_from_file(work_dir)
    for label, passed in checks:
        print("%s %s" % ("ok" if passed else "FAIL", label))
        failures += not passed
    return failures


def check_rebuilt_from_file(work_dir):
    """A network rebuilt from its exported file (to train on when the checkpoint is gone) gives
    the file's outputs, before and after its batch statistics are restored, and in training
    mode on the positions those statistics came from."""
    generator = torch.Generator().manual_seed(5)
    torch.manual_seed(5)
    net = OrvalisNet(2, 16)
    randomise_batch_norm(net, generator)
    net.eval()
    path = os.path.join(work_dir, "rebuild.qvm")
    export(net, path)
    with open(path, "rb") as file:
        rebuilt = qvm_to_checkpoint.network_from_qvm(read_qvm(file.read()))
    positions = random_positions(generator, 64)

    def worst(a, b):
        with torch.no_grad():
            return max(float((x - y).abs().max()) for x, y in zip(a(positions), b(positions)))

    rebuilt.eval()
    checks = [("rebuilt from its file: same outputs", worst(net, rebuilt) <= TOLERANCE)]
    qvm_to_checkpoint.restore_batch_statistics(rebuilt, positions)
    rebuilt.eval()
    checks.append(("rebuilt with batch statistics: same outputs", worst(net, rebuilt) <= TOLERANCE))
    rebuilt.train()
    checks.append(("rebuilt, training mode on its statistics' positions: same outputs", worst(net, rebuilt) <= TOLERANCE))
    return checks


def run_engine(qvr_infer, model_path, path, positions, work_dir):
    input_path = os.path.join(work_dir, "positions.bin")
    output_path = os.path.join(work_dir, "out_%s.bin" % path)
    positions.numpy().astype("<f4").tofile(input_path)
    subprocess.run([qvr_infer, model_path, path, str(len(positions)), input_path, output_path], check=True,
                   capture_output=True)
    return np.fromfile(output_path, dtype="<f4")


def check_quantised(qvr_infer, paths, float_path, generator, label, work_dir):
    """Exporter -> version 2 file -> engine: every int8 path against the Python model."""
    with open(float_path, "rb") as file:
        model = read_qvm(file.read())
    scales = qvm_quantise.calibrate(model, random_positions(generator, CALIBRATION_POSITIONS))
    quantised_path = float_path.replace(".qvm", "_int8.qvm")
    with open(quantised_path, "wb") as file:
        file.write(qvm_quantise.to_bytes(model, scales))
    with open(quantised_path, "rb") as file:
        read_back = read_qvm(file.read()).input_scales
    failures = 0
    if read_back != {layer: float(np.float32(scale)) for layer, scale in scales.items()}:
        print("FAIL %s: the file's input scales differ from the exporter's" % label)
        failures += 1
    positions = random_positions(generator)
    with torch.no_grad():
        policy, value = qvm_quantise.run(model, positions, scales)
    expected = np.concatenate([policy.numpy().ravel(), value.numpy().ravel()])
    for path in paths:
        if not path.startswith("int8"):
            continue
        got = run_engine(qvr_infer, quantised_path, path, positions, work_dir)
        worst = float(np.max(np.abs(got - expected))) if got.shape == expected.shape else float("inf")
        same_moves = got.shape == expected.shape and np.array_equal(
            got[:policy.numel()].reshape(policy.shape).argmax(1), policy.numpy().argmax(1))
        verdict = "ok" if worst <= INT8_TOLERANCE and same_moves else "FAIL"
        failures += verdict != "ok"
        print("%s %s %-12s %d int8 layers, max |qvr - model| = %.2e, same top moves: %s"
              % (verdict, label, path, len(scales), worst, same_moves))
    return failures


def main():
    qvr_infer, work_dir = sys.argv[1], sys.argv[2]
    os.makedirs(work_dir, exist_ok=True)
    paths = subprocess.run([qvr_infer, "--list-paths"], check=True, capture_output=True, text=True).stdout.split()
    print("kernel paths:", " ".join(paths))
    generator = torch.Generator().manual_seed(2024)
    failures = check_network_and_checkpoints(work_dir)
    for blocks, channels in NETWORKS:
        torch.manual_seed(blocks * 100 + channels)
        net = OrvalisNet(blocks, channels)
        randomise_batch_norm(net, generator)
        net.eval()
        model_path = os.path.join(work_dir, "check_%dx%d.qvm" % (blocks, channels))
        export(net, model_path)
        positions = random_positions(generator)
        with torch.no_grad():
            policy, value = net(positions)
        expected = np.concatenate([policy.numpy().ravel(), value.numpy().ravel()])
        for path in paths:
            if path.startswith("int8"):  # float32 files refuse them; checked below on quantised files
                continue
            got = run_engine(qvr_infer, model_path, path, positions, work_dir)
            if got.shape != expected.shape:
                print("FAIL %dx%d %s: %d floats, expected %d" % (blocks, channels, path, got.size, expected.size))
                failures += 1
                continue
            worst = float(np.max(np.abs(got - expected)))
            verdict = "ok" if worst <= (INT16_TOLERANCE if path.startswith("int16") else TOLERANCE) else "FAIL"
            failures += verdict != "ok"
            print("%s %dx%d %-13s max |qvr - torch| = %.2e" % (verdict, blocks, channels, path, worst))
        failures += check_quantised(qvr_infer, paths, model_path, generator, "%dx%d" % (blocks, channels), work_dir)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
