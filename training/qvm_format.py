"""Writer for the .qvm model file read by the engine's qvr library.

The byte layout is documented in qvr/FORMAT.md. This module knows only the
format (inputs, layers, outputs, float32 weights), not any particular network.
"""

import struct

import numpy as np

MAGIC = b"QVRMODEL"
VERSION = 1
# Version 2 adds the calibrated input scales of the int8 convolutions (qvr/FORMAT.md).
QUANTISED_VERSION = 2
SCHEME_INT8_CONV = 1

CONV2D, RELU, ADD, FLATTEN, DENSE, SOFTMAX, TANH = 1, 2, 3, 4, 5, 6, 7


class QvmWriter:
    """Collects a model layer by layer; each call returns the new tensor's id."""

    def __init__(self):
        self._inputs = []
        self._layers = []
        self._outputs = []
        self._shapes = []

    def input(self, name, shape):
        assert not self._layers, "inputs come before layers"
        self._inputs.append((name, tuple(shape)))
        self._shapes.append(tuple(shape))
        return len(self._shapes) - 1

    def conv2d(self, source, weights, bias):
        weights = np.ascontiguousarray(weights, dtype="<f4")
        bias = np.ascontiguousarray(bias, dtype="<f4")
        out_channels, in_channels, kernel, kernel_w = weights.shape
        assert kernel == kernel_w and kernel in (1, 3)
        channels, rows, columns = self._shapes[source]
        assert channels == in_channels and bias.shape == (out_channels,)
        payload = struct.pack("<III", in_channels, out_channels, kernel) + weights.tobytes() + bias.tobytes()
        return self._layer(CONV2D, [source], payload, (out_channels, rows, columns))

    def dense(self, source, weights, bias):
        weights = np.ascontiguousarray(weights, dtype="<f4")
        bias = np.ascontiguousarray(bias, dtype="<f4")
        out_features, in_features = weights.shape
        assert self._shapes[source] == (in_features,) and bias.shape == (out_features,)
        payload = struct.pack("<II", in_features, out_features) + weights.tobytes() + bias.tobytes()
        return self._layer(DENSE, [source], payload, (out_features,))

    def relu(self, source):
        return self._layer(RELU, [source], b"", self._shapes[source])

    def tanh(self, source):
        return self._layer(TANH, [source], b"", self._shapes[source])

    def softmax(self, source):
        assert len(self._shapes[source]) == 1
        return self._layer(SOFTMAX, [source], b"", self._shapes[source])

    def add(self, a, b):
        assert self._shapes[a] == self._shapes[b]
        return self._layer(ADD, [a, b], b"", self._shapes[a])

    def flatten(self, source):
        return self._layer(FLATTEN, [source], b"", (int(np.prod(self._shapes[source])),))

    def output(self, name, tensor):
        self._outputs.append((name, tensor))

    def to_bytes(self, input_scales=None):
        """The file; with input_scales ({3x3 conv layer index: positive scale}) a version 2 file."""
        version = QUANTISED_VERSION if input_scales else VERSION
        parts = [MAGIC, struct.pack("<I", version), struct.pack("<I", len(self._inputs))]
        for name, shape in self._inputs:
            parts += [_name(name), _shape(shape)]
        parts.append(struct.pack("<I", len(self._layers)))
        for kind, sources, payload in self._layers:
            parts.append(struct.pack("<II", kind, len(sources)))
            parts.append(struct.pack("<%dI" % len(sources), *sources))
            parts.append(payload)
        parts.append(struct.pack("<I", len(self._outputs)))
        for name, tensor in self._outputs:
            parts += [_name(name), struct.pack("<I", tensor), _shape(self._shapes[tensor])]
        if input_scales:
            parts.append(struct.pack("<II", SCHEME_INT8_CONV, len(input_scales)))
            for layer in sorted(input_scales):
                scale = float(input_scales[layer])
                assert np.isfinite(scale) and scale > 0
                parts.append(struct.pack("<If", layer, scale))
        return b"".join(parts)

    def save(self, path):
        with open(path, "wb") as file:
            file.write(self.to_bytes())

    def _layer(self, kind, sources, payload, shape):
        for source in sources:
            assert source < len(self._shapes)
        self._layers.append((kind, sources, payload))
        self._shapes.append(tuple(int(extent) for extent in shape))
        return len(self._shapes) - 1


def _name(text):
    data = text.encode("utf-8")
    assert 0 < len(data) <= 256
    return struct.pack("<I", len(data)) + data


def _shape(shape):
    return struct.pack("<I", len(shape)) + struct.pack("<%dQ" % len(shape), *shape)


# ---- reading -------------------------------------------------------------------------------

class QvmModel:
    """A parsed .qvm file: inputs [(name, shape)], layers [(kind, sources, params)] where params
    holds 'weights' and 'bias' (float32 arrays, PyTorch layout) for conv2d and dense, outputs
    [(name, tensor)], and the shape of every tensor."""

    def __init__(self):
        self.inputs, self.layers, self.outputs, self.shapes = [], [], [], []
        self.input_scales = {}  # version 2: 3x3 conv layer index -> input scale


def read_qvm(data):
    """Parses version 1 and 2 files written by QvmWriter; trusts its input (the engine's
    loader is the checking reader)."""
    at = 0

    def take(fmt):
        nonlocal at
        values = struct.unpack_from(fmt, data, at)
        at += struct.calcsize(fmt)
        return values

    def floats(count):
        nonlocal at
        values = np.frombuffer(data, dtype="<f4", count=count, offset=at).copy()
        at += 4 * count
        return values

    def name():
        (length,) = take("<I")
        text = data[at:at + length].decode("utf-8")
        take("%ds" % length)
        return text

    def shape():
        (rank,) = take("<I")
        return tuple(take("<%dQ" % rank))

    assert data[:8] == MAGIC
    at = 8
    (version,) = take("<I")
    assert version in (VERSION, QUANTISED_VERSION)
    model = QvmModel()
    (count,) = take("<I")
    for _ in range(count):
        input_name = name()
        input_shape = shape()
        model.inputs.append((input_name, input_shape))
        model.shapes.append(input_shape)
    (count,) = take("<I")
    for _ in range(count):
        kind, arity = take("<II")
        sources = list(take("<%dI" % arity))
        params = {}
        if kind == CONV2D:
            in_channels, out_channels, kernel = take("<III")
            params["weights"] = floats(out_channels * in_channels * kernel * kernel).reshape(
                out_channels, in_channels, kernel, kernel)
            params["bias"] = floats(out_channels)
            rows, columns = model.shapes[sources[0]][1:]
            out_shape = (out_channels, rows, columns)
        elif kind == DENSE:
            in_features, out_features = take("<II")
            params["weights"] = floats(out_features * in_features).reshape(out_features, in_features)
            params["bias"] = floats(out_features)
            out_shape = (out_features,)
        elif kind == FLATTEN:
            out_shape = (int(np.prod(model.shapes[sources[0]])),)
        else:
            out_shape = model.shapes[sources[0]]
        model.layers.append((kind, sources, params))
        model.shapes.append(out_shape)
    (count,) = take("<I")
    for _ in range(count):
        output_name = name()
        (tensor,) = take("<I")
        shape()
        model.outputs.append((output_name, tensor))
    if version == QUANTISED_VERSION:
        scheme, count = take("<II")
        assert scheme == SCHEME_INT8_CONV
        for _ in range(count):
            layer, scale = take("<If")
            model.input_scales[layer] = scale
    assert at == len(data)
    return model
