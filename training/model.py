"""The Orvalis policy/value network.

Input: N x 3 x 20 x 20 float planes seen from the side to move (plane 0 its own
stones, 1 the opponent's, 2 empty cells). Outputs: N x 400 move probabilities
in cell order (row * 20 + column) and N x 1 value in [-1, 1] for the side to
move.

The layer layout is what export_qvm.py knows how to write into a .qvm model
file; change both together.
"""

import torch
from torch import nn
import torch.nn.functional as F

BOARD_SIDE = 20
BOARD_CELLS = BOARD_SIDE * BOARD_SIDE
INPUT_PLANES = 3


class ConvBN(nn.Module):
    """3x3 or 1x1 convolution followed by batch-norm (folded away at export)."""

    def __init__(self, in_channels: int, out_channels: int, kernel: int):
        super().__init__()
        self.conv = nn.Conv2d(in_channels, out_channels, kernel, padding=kernel // 2, bias=False)
        self.bn = nn.BatchNorm2d(out_channels)

    def forward(self, x):
        return self.bn(self.conv(x))


class ResidualBlock(nn.Module):
    def __init__(self, channels: int):
        super().__init__()
        self.first = ConvBN(channels, channels, 3)
        self.second = ConvBN(channels, channels, 3)

    def forward(self, x):
        y = F.relu(self.first(x))
        return F.relu(self.second(y) + x)


class OrvalisNet(nn.Module):
    def __init__(self, blocks: int, channels: int, value_channels: int = 2, value_hidden: int = 64):
        super().__init__()
        self.blocks = blocks
        self.channels = channels
        self.value_channels = value_channels
        self.value_hidden = value_hidden
        self.stem = ConvBN(INPUT_PLANES, channels, 3)
        self.trunk = nn.Sequential(*[ResidualBlock(channels) for _ in range(blocks)])
        self.policy_conv = nn.Conv2d(channels, 1, 1)
        self.value_conv = ConvBN(channels, value_channels, 1)
        self.value_hidden_fc = nn.Linear(value_channels * BOARD_CELLS, value_hidden)
        self.value_fc = nn.Linear(value_hidden, 1)

    def forward_logits(self, x):
        """Raw heads for training: (policy logits N x 400, value before tanh N x 1)."""
        features = self.trunk(F.relu(self.stem(x)))
        policy = torch.flatten(self.policy_conv(features), 1)
        value = torch.flatten(F.relu(self.value_conv(features)), 1)
        value = self.value_fc(F.relu(self.value_hidden_fc(value)))
        return policy, value

    def forward(self, x):
        """(move probabilities N x 400, value N x 1 in [-1, 1])."""
        policy, value = self.forward_logits(x)
        return torch.softmax(policy, dim=1), torch.tanh(value)
