"""Reading self-play records (format: training/DATA.md) and the 8 board symmetries.

A record is one position from the side to move: two 400-bit stone planes, the move chosen, the
game's result for the side to move. Version 1 files come from the teacher (the policy target is
its move); version 2 files come from network self-play and add the root's visit shares (the
policy target is that distribution); version 3 adds the board's width and height (games on boards
smaller than 20 x 20 sit in the grid's top-left corner, and the cells outside them are all zero in
the input, as the engine encodes them). Symmetries are applied when batches are drawn, never
stored, and map a smaller board onto itself. Cell index = row * 20 + column.
"""

import glob
import os
import sys

import numpy as np

BOARD_SIDE = 20
BOARD_CELLS = BOARD_SIDE * BOARD_SIDE
PLANE_BYTES = BOARD_CELLS // 8
HEADER_BYTES = 32
RECORD_BYTES = 2 * PLANE_BYTES + 8
RECORD_VERSION = 1
MAGIC = b"ORVDATA1"

FLAG_SAMPLED = 1
FLAG_PROVEN_WIN = 2
FLAG_DEFENCE = 4

RECORD_DTYPE = np.dtype([
    ("own", np.uint8, (PLANE_BYTES,)),
    ("opponent", np.uint8, (PLANE_BYTES,)),
    ("move", "<u2"),
    ("ply", "<u2"),
    ("game", "<u2"),
    ("value", np.int8),
    ("flags", np.uint8),
])
assert RECORD_DTYPE.itemsize == RECORD_BYTES

VISIT_RECORD_VERSION = 2
POLICY_SCALE = 65535.0
VISIT_RECORD_DTYPE = np.dtype(RECORD_DTYPE.descr + [("policy", "<u2", (BOARD_CELLS,))])
VISIT_RECORD_BYTES = VISIT_RECORD_DTYPE.itemsize

SIZED_RECORD_VERSION = 3
SIZED_RECORD_DTYPE = np.dtype(VISIT_RECORD_DTYPE.descr + [("width", np.uint8), ("height", np.uint8)])
SIZED_RECORD_BYTES = SIZED_RECORD_DTYPE.itemsize

FLAG_PROVEN_LOSS = 4  # version 3: the search proved the position lost (2: won)

_DTYPES = {RECORD_VERSION: RECORD_DTYPE, VISIT_RECORD_VERSION: VISIT_RECORD_DTYPE,
           SIZED_RECORD_VERSION: SIZED_RECORD_DTYPE}

# Version 1 files of games on a smaller square board (header field "board side", 10 to 19) read as
# version 1 records with the board's size; a load mixing them with 20 x 20 teacher files gives every
# record a size.
MIN_BOARD_SIDE = 10
TEACHER_SIZED_DTYPE = np.dtype(RECORD_DTYPE.descr + [("width", np.uint8), ("height", np.uint8)])


def _with_size(records, side):
    sized = np.zeros(len(records), dtype=TEACHER_SIZED_DTYPE)
    for name in RECORD_DTYPE.names:
        sized[name] = records[name]
    sized["width"] = sized["height"] = side
    return sized


def file_header(version=RECORD_VERSION, board_side=BOARD_SIDE):
    record_bytes = _DTYPES[version].itemsize
    header = bytearray(HEADER_BYTES)
    header[0:8] = MAGIC
    header[8:12] = version.to_bytes(4, "little")
    header[12:16] = record_bytes.to_bytes(4, "little")
    header[16:20] = board_side.to_bytes(4, "little")
    return bytes(header)


def read_records(path):
    """All whole records of one file as a structured array: RECORD_DTYPE for version 1 (the
    teacher's; TEACHER_SIZED_DTYPE when its games are on a smaller board), SIZED_RECORD_DTYPE for
    versions 2 and 3 (version 2 boards are 20 x 20); a torn last record is dropped."""
    with open(path, "rb") as f:
        blob = f.read()
    for side in range(MIN_BOARD_SIDE, BOARD_SIDE):
        if blob[:HEADER_BYTES] == file_header(RECORD_VERSION, side):
            count = (len(blob) - HEADER_BYTES) // RECORD_BYTES
            return _with_size(np.frombuffer(blob, dtype=RECORD_DTYPE, count=count, offset=HEADER_BYTES), side)
    for version, dtype in _DTYPES.items():
        if blob[:HEADER_BYTES] == file_header(version):
            count = (len(blob) - HEADER_BYTES) // dtype.itemsize
            records = np.frombuffer(blob, dtype=dtype, count=count, offset=HEADER_BYTES)
            if version != VISIT_RECORD_VERSION:
                return records.copy()
            sized = np.zeros(count, dtype=SIZED_RECORD_DTYPE)
            for name in VISIT_RECORD_DTYPE.names:
                sized[name] = records[name]
            sized["width"] = sized["height"] = BOARD_SIDE
            return sized
    raise ValueError("%s: not a record file of version 1, 2 or 3" % path)


def write_records(path, records, board_side=BOARD_SIDE):
    """Writes a structured array of RECORD_DTYPE (used by tests and tools)."""
    with open(path, "wb") as f:
        f.write(file_header(RECORD_VERSION, board_side))
        f.write(np.ascontiguousarray(records, dtype=RECORD_DTYPE).tobytes())


def make_records(own_planes, opponent_planes, moves, values, ply=None, game=None, flags=None):
    """Packs N x 400 0/1 planes and targets into records (the inverse of unpack_planes)."""
    n = len(moves)
    records = np.zeros(n, dtype=RECORD_DTYPE)
    records["own"] = np.packbits(np.asarray(own_planes, dtype=np.uint8).reshape(n, BOARD_CELLS), axis=1,
                                 bitorder="little")
    records["opponent"] = np.packbits(np.asarray(opponent_planes, dtype=np.uint8).reshape(n, BOARD_CELLS),
                                      axis=1, bitorder="little")
    records["move"] = moves
    records["value"] = values
    records["ply"] = ply if ply is not None else 0
    records["game"] = game if game is not None else 0
    records["flags"] = flags if flags is not None else 0
    return records


def list_files(directories, include_partial=False):
    """Complete chunk files (and, if asked, the .part files still being written) in order."""
    files = []
    for directory in directories:
        files += sorted(glob.glob(os.path.join(directory, "chunk-*.bin")))
        if include_partial:
            files += sorted(glob.glob(os.path.join(directory, "chunk-*.bin.part")))
    return files


def load(directories, include_partial=False):
    """(records, file_index per record, file list) over all chunk files of the directories."""
    files = list_files(directories, include_partial)
    parts, owners = [], []
    for i, path in enumerate(files):
        records = read_records(path)
        broken = broken_games(records)
        if broken.any():
            print("%s: %d records of %d games dropped (a move off the board or on a stone, or stones off the board)"
                  % (path, int(broken.sum()), len(np.unique(records["game"][broken]))), file=sys.stderr)
            records = records[~broken]
        parts.append(records)
        owners.append(np.full(len(records), i, dtype=np.int32))
    if not parts:
        return np.zeros(0, dtype=RECORD_DTYPE), np.zeros(0, dtype=np.int32), files
    if {part.dtype for part in parts} == {RECORD_DTYPE, TEACHER_SIZED_DTYPE}:
        parts = [_with_size(part, BOARD_SIDE) if part.dtype == RECORD_DTYPE else part for part in parts]
    if len({part.dtype for part in parts}) > 1:
        # Teacher records join the self-play ones with no visit shares: their target is the move.
        parts = [part if part.dtype == SIZED_RECORD_DTYPE else _with_shares(part) for part in parts]
    return np.concatenate(parts), np.concatenate(owners), files


def broken_games(records):
    """True for every record of a game in which some record has its move or a stone off its
    board, or its move on a stone: such a game was not played by the rules (a generator fault
    wrote one), so none of its positions or results can be trusted."""
    n = len(records)
    if n == 0:
        return np.zeros(0, dtype=bool)
    if "width" in records.dtype.names:
        width, height = records["width"].astype(np.int64), records["height"].astype(np.int64)
    else:
        width = height = np.full(n, BOARD_SIDE, dtype=np.int64)
    cells = np.arange(BOARD_CELLS)
    outside = ((cells % BOARD_SIDE)[None, :] >= width[:, None]) | ((cells // BOARD_SIDE)[None, :] >= height[:, None])
    own, opponent = unpack_planes(records)
    stones = (own | opponent).astype(bool)
    moves = records["move"].astype(np.int64)
    on_grid = moves < BOARD_CELLS
    safe = np.where(on_grid, moves, 0)
    bad = ~on_grid | outside[np.arange(n), safe] | stones[np.arange(n), safe] | (stones & outside).any(axis=1)
    return np.isin(records["game"], np.unique(records["game"][bad])) if bad.any() else bad


def _with_shares(records):
    """Teacher records (sized or not) as SIZED_RECORD_DTYPE with every visit share 0."""
    sized = np.zeros(len(records), dtype=SIZED_RECORD_DTYPE)
    for name in RECORD_DTYPE.names:
        sized[name] = records[name]
    if "width" in records.dtype.names:
        sized["width"], sized["height"] = records["width"], records["height"]
    else:
        sized["width"] = sized["height"] = BOARD_SIDE
    return sized


def unpack_planes(records):
    """(own, opponent) as N x 400 uint8 arrays of 0/1."""
    own = np.unpackbits(records["own"], axis=1, bitorder="little")[:, :BOARD_CELLS]
    opponent = np.unpackbits(records["opponent"], axis=1, bitorder="little")[:, :BOARD_CELLS]
    return own, opponent


# ---- symmetries -----------------------------------------------------------------------------

def _symmetry_tables():
    """gather[s][p]: the old cell that lands on cell p under symmetry s; scatter[s][k]: where
    old cell k lands. Symmetry 0 is the identity; 1-3 rotations; 4-7 their mirror images."""
    grid = np.arange(BOARD_CELLS).reshape(BOARD_SIDE, BOARD_SIDE)
    gather, scatter = [], []
    for s in range(8):
        g = np.rot90(grid, s % 4)
        if s >= 4:
            g = np.fliplr(g)
        g = g.ravel().copy()
        inverse = np.empty(BOARD_CELLS, dtype=np.int64)
        inverse[g] = np.arange(BOARD_CELLS)
        gather.append(g)
        scatter.append(inverse)
    return np.stack(gather), np.stack(scatter)


SYMMETRY_GATHER, SYMMETRY_SCATTER = _symmetry_tables()

_SIZED_TABLES = {}


def _sized_tables(width, height):
    """Like SYMMETRY_GATHER and SYMMETRY_SCATTER for a width x height board in the grid's top-left
    corner: each map turns that board onto itself and leaves the cells outside it in place. A board
    that is not square cannot be turned by a quarter: those maps are replaced by the half turn (or
    its mirror image), so that every symmetry index stays valid."""
    key = (width, height)
    if key not in _SIZED_TABLES:
        gather = np.tile(np.arange(BOARD_CELLS), (8, 1))
        board = np.arange(BOARD_CELLS).reshape(BOARD_SIDE, BOARD_SIDE)[:height, :width]
        for s in range(8):
            turn = s % 4 if width == height or s % 2 == 0 else (s % 4) - 1
            g = np.rot90(board, turn)
            if s >= 4:
                g = np.fliplr(g)
            inside = np.arange(BOARD_CELLS).reshape(BOARD_SIDE, BOARD_SIDE)[:height, :width].ravel()
            gather[s, inside] = g.ravel()
        scatter = np.empty_like(gather)
        for s in range(8):
            scatter[s, gather[s]] = np.arange(BOARD_CELLS)
        _SIZED_TABLES[key] = (gather, scatter)
    return _SIZED_TABLES[key]


def _tables_for(records, symmetries):
    """Per-record gather and scatter rows (N x 400) for symmetries[i] on record i's board."""
    symmetries = np.asarray(symmetries)
    gather = SYMMETRY_GATHER[symmetries].copy()
    scatter = SYMMETRY_SCATTER[symmetries].copy()
    if "width" in records.dtype.names:
        sizes = np.stack([records["width"], records["height"]], axis=1)
        for width, height in {tuple(int(v) for v in size) for size in sizes}:
            if (width, height) == (BOARD_SIDE, BOARD_SIDE):
                continue
            rows = np.flatnonzero((sizes[:, 0] == width) & (sizes[:, 1] == height))
            sized_gather, sized_scatter = _sized_tables(width, height)
            gather[rows] = sized_gather[symmetries[rows]]
            scatter[rows] = sized_scatter[symmetries[rows]]
    return gather, scatter


def on_board(records):
    """N x 400 uint8: 1 on the cells of each record's board (all of them for 20 x 20 boards)."""
    inside = np.ones((len(records), BOARD_CELLS), dtype=np.uint8)
    if "width" in records.dtype.names:
        grid = np.arange(BOARD_CELLS)
        rows, columns = grid // BOARD_SIDE, grid % BOARD_SIDE
        inside = ((rows[None, :] < records["height"][:, None]) &
                  (columns[None, :] < records["width"][:, None])).astype(np.uint8)
    return inside


def encode(records, symmetries=None):
    """Network input N x 3 x 20 x 20 float32 (own, opponent, empty) and policy targets N, after
    applying symmetry symmetries[i] (0-7) to record i; identity when symmetries is None."""
    own, opponent = unpack_planes(records)
    moves = records["move"].astype(np.int64)
    inside = on_board(records)
    if symmetries is not None:
        gather, scatter = _tables_for(records, symmetries)
        own = np.take_along_axis(own, gather, axis=1)
        opponent = np.take_along_axis(opponent, gather, axis=1)
        moves = scatter[np.arange(len(records)), moves]
    planes = np.empty((len(records), 3, BOARD_CELLS), dtype=np.float32)
    planes[:, 0] = own
    planes[:, 1] = opponent
    # Off the board every plane is 0, as the engine encodes a smaller board.
    planes[:, 2] = inside & (1 - (own | opponent))
    return planes.reshape(len(records), 3, BOARD_SIDE, BOARD_SIDE), moves


def values(records):
    """Value targets N x 1 float32 in [-1, 1], from the side to move."""
    return records["value"].astype(np.float32).reshape(-1, 1)


def policy_targets(records, symmetries=None):
    """Policy targets N x 400 float32 summing to 1, after the same symmetries as encode(): the
    stored visit shares for version 2 and 3 records, the chosen move (one-hot) for version 1 and
    for any record without shares (a teacher record loaded beside self-play ones)."""
    n = len(records)
    if "policy" in records.dtype.names:
        targets = records["policy"].astype(np.float32) / POLICY_SCALE
        totals = targets.sum(axis=1, keepdims=True)
        targets /= np.where(totals > 0, totals, 1.0)
        bare = np.flatnonzero(totals[:, 0] == 0)
        targets[bare, records["move"][bare].astype(np.int64)] = 1.0
    else:
        targets = np.zeros((n, BOARD_CELLS), dtype=np.float32)
        targets[np.arange(n), records["move"].astype(np.int64)] = 1.0
    if symmetries is not None:
        targets = np.take_along_axis(targets, _tables_for(records, symmetries)[0], axis=1)
    return targets
