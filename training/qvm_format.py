"""Writer for the .qvm model file read by the engine's qvr library.

The byte layout is documented in qvr/FORMAT.md. This module knows only the
format (inputs, layers, outputs, float32 weights), not any particular network.
"""

import struct

import numpy as np

MAGIC = b"QVRMODEL"
VERSION = 1

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

    def to_bytes(self):
        parts = [MAGIC, struct.pack("<I", VERSION), struct.pack("<I", len(self._inputs))]
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
