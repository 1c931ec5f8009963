"""Calibration of the int8 convolutions of a .qvm network, and a model of their arithmetic.

The engine's int8 path (qvr/int8_kernel_table.h) runs a quantised 3x3 convolution directly: its
input rounded to unsigned bytes, x_q = clamp(round(x / s), 0, 255), with one scale s per layer
(calibrated here and stored in the file), its weights to signed bytes with one scale per output
channel (largest magnitude / 127, derived from the weights when the engine loads them). The sums
are exact; bias, residual and ReLU stay float32. Only 3x3 convolutions whose input is never
negative qualify (in the engine's networks, every one: their inputs are ReLU outputs or the 0/1
input planes).

The scale of a layer is the largest input it saw over the calibration positions / 255: clipping
at a percentile instead cost far more accuracy on the shipped network (at the 99.99th percentile
the top policy move agreed in 87% of positions, against 97.5% with the maximum).
"""

import numpy as np
import torch
import torch.nn.functional as F

from qvm_format import ADD, CONV2D, DENSE, FLATTEN, RELU, SOFTMAX, TANH, QvmWriter

INPUT_LIMIT = 255   # unsigned byte inputs (qvr/int8_kernel_table.h: int8_input_limit)
WEIGHT_LIMIT = 127  # signed byte weights, symmetric (int8_weight_limit)


def int8_conv3x3(x, weights, bias, input_scale):
    """The engine's int8 convolution, modelled in float32: the products and their sums are
    integers below 2^24, so exact, as the engine's int32 sums are."""
    xq = torch.clamp(torch.round(x / input_scale), 0, INPUT_LIMIT)
    w = torch.as_tensor(weights)
    largest = w.abs().amax(dim=(1, 2, 3))
    weight_scales = torch.where(largest > 0, largest / WEIGHT_LIMIT, torch.ones_like(largest))
    wq = torch.clamp(torch.round(w / weight_scales[:, None, None, None]), -WEIGHT_LIMIT, WEIGHT_LIMIT)
    sums = F.conv2d(xq, wq, padding=1)
    return sums * (weight_scales * np.float32(input_scale))[None, :, None, None] + torch.as_tensor(bias)[None, :, None, None]


def conv3x3_layers(model):
    return [i for i, (kind, _, params) in enumerate(model.layers)
            if kind == CONV2D and params["weights"].shape[2] == 3]


def run(model, x, input_scales=None, record=None):
    """Runs the network on N x ... inputs (one input) in float32. With input_scales
    ({layer: scale}), those 3x3 convolutions run as the engine's int8 path does; with record (a
    dict), each 3x3 convolution's largest and smallest input are collected there per layer."""
    tensors = [torch.as_tensor(x, dtype=torch.float32)]
    for index, (kind, sources, params) in enumerate(model.layers):
        a = tensors[sources[0]]
        if kind == CONV2D:
            w = torch.as_tensor(params["weights"])
            if record is not None and w.shape[2] == 3:
                low, high = float(a.min()), float(a.max())
                old_low, old_high = record.get(index, (low, high))
                record[index] = (min(low, old_low), max(high, old_high))
            if input_scales is not None and index in input_scales:
                out = int8_conv3x3(a, params["weights"], params["bias"], input_scales[index])
            else:
                out = F.conv2d(a, w, torch.as_tensor(params["bias"]), padding=w.shape[2] // 2)
        elif kind == DENSE:
            out = F.linear(a, torch.as_tensor(params["weights"]), torch.as_tensor(params["bias"]))
        elif kind == RELU:
            out = torch.relu(a)
        elif kind == ADD:
            out = a + tensors[sources[1]]
        elif kind == FLATTEN:
            out = a.reshape(a.shape[0], -1)
        elif kind == SOFTMAX:
            out = torch.softmax(a, dim=1)
        elif kind == TANH:
            out = torch.tanh(a)
        else:
            raise ValueError("unknown layer kind %d" % kind)
        tensors.append(out)
    return [tensors[tensor] for _, tensor in model.outputs]


def calibrate(model, positions, batch=256):
    """{3x3 conv layer: input scale} for every layer whose input stayed non-negative over the
    positions (a layer that saw only zeros gets scale 1: any scale reproduces zeros)."""
    record = {}
    with torch.no_grad():
        for start in range(0, len(positions), batch):
            run(model, positions[start:start + batch], record=record)
    return {layer: float(np.float32(high / INPUT_LIMIT if high > 0 else 1.0))
            for layer, (low, high) in record.items() if low >= 0}


def compare(model, positions, input_scales, batch=500):
    """(share of positions whose top policy move is the float32 network's, mean |value
    difference|) of the int8 model against float32; outputs named policy and value."""
    names = [name for name, _ in model.outputs]
    same, value_error = 0, 0.0
    with torch.no_grad():
        for start in range(0, len(positions), batch):
            chunk = positions[start:start + batch]
            exact = dict(zip(names, run(model, chunk)))
            low = dict(zip(names, run(model, chunk, input_scales)))
            same += int((exact["policy"].argmax(1) == low["policy"].argmax(1)).sum())
            value_error += float((exact["value"] - low["value"]).abs().sum())
    return same / len(positions), value_error / len(positions)


def to_bytes(model, input_scales):
    """The model as a .qvm file: version 2 with input_scales, version 1 without."""
    writer = QvmWriter()
    for name, shape in model.inputs:
        writer.input(name, shape)
    for kind, sources, params in model.layers:
        if kind == CONV2D:
            writer.conv2d(sources[0], params["weights"], params["bias"])
        elif kind == DENSE:
            writer.dense(sources[0], params["weights"], params["bias"])
        elif kind == ADD:
            writer.add(sources[0], sources[1])
        else:
            {RELU: writer.relu, FLATTEN: writer.flatten, SOFTMAX: writer.softmax, TANH: writer.tanh}[kind](sources[0])
    for name, tensor in model.outputs:
        writer.output(name, tensor)
    return writer.to_bytes(input_scales)
