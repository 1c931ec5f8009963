#!/usr/bin/python3
"""Packs record files (training/DATA.md) into small lossless archives, and back.

Self-play of the threat-aware engine makes about 30,000 positions an hour on two cores, and a
working copy's training/data does not outlive the machine it was made on; the archives are small
enough to keep in the repository, so a set can grow across machines. A version 2 or 3 record is
908 or 910 bytes, 800 of them the root's visit shares, of which a few dozen are not zero; a pack
keeps the shares as (cell, share) pairs and compresses the columns with xz. Unpacking gives the
original file byte for byte (`pack` checks that before it writes).

    /usr/bin/python3 training/pack_records.py pack training/data/threatplay-v1 training/archive/threatplay-v1
    /usr/bin/python3 training/pack_records.py unpack training/archive/threatplay-v1 training/data/threatplay-v1

`pack` takes the complete chunk files (not `.part`) that the archive lacks; `unpack` writes the
chunk files that the data directory lacks and refuses one that is there with other contents.
"""

import glob
import lzma
import os
import struct
import sys

import numpy as np

MAGIC = b"ORVPACK1"
HEADER_BYTES = 32
FIXED_BYTES = 108  # the version 1 part of a record: planes, move, ply, game, value, flags
SHARE_CELLS = 400
SHARES_END = FIXED_BYTES + 2 * SHARE_CELLS
SUFFIX = ".pack"


def _layout(header):
    if len(header) < HEADER_BYTES or header[:8] != b"ORVDATA1":
        raise ValueError("not a record file")
    version = int.from_bytes(header[8:12], "little")
    record_bytes = int.from_bytes(header[12:16], "little")
    if record_bytes < FIXED_BYTES:
        raise ValueError("record size %d below %d" % (record_bytes, FIXED_BYTES))
    return version, record_bytes, version >= 2 and record_bytes >= SHARES_END


def pack_bytes(blob):
    """The archive of one record file's bytes (a torn tail is kept as it is)."""
    header = bytes(blob[:HEADER_BYTES])
    _, record_bytes, has_shares = _layout(header)
    count = (len(blob) - HEADER_BYTES) // record_bytes
    tail = bytes(blob[HEADER_BYTES + count * record_bytes:])
    rows = np.frombuffer(blob, np.uint8, count * record_bytes, HEADER_BYTES).reshape(count, record_bytes)
    parts = [header, struct.pack("<II", count, len(tail)), tail]
    if has_shares:
        shares = rows[:, FIXED_BYTES:SHARES_END].copy().view("<u2")
        held = shares != 0
        per_record = held.sum(1).astype("<u2")
        record_of, cells = np.nonzero(held)  # cells ascending within each record
        steps = cells.astype(np.int32)
        first = np.ones(len(cells), bool)
        first[1:] = record_of[1:] != record_of[:-1]
        steps[~first] -= cells[:-1][~first[1:]]
        # Byte columns compress far better than interleaved records: each column holds one field.
        parts += [np.ascontiguousarray(rows[:, :FIXED_BYTES].T).tobytes(),
                  np.ascontiguousarray(rows[:, SHARES_END:].T).tobytes(), per_record.tobytes(),
                  steps.astype("<u2").tobytes(), shares[held].astype("<u2").tobytes()]
    else:
        parts.append(np.ascontiguousarray(rows.T).tobytes())
    return MAGIC + lzma.compress(b"".join(parts), preset=9 | lzma.PRESET_EXTREME)


def unpack_bytes(archive):
    """The record file's bytes from its archive; ValueError on anything malformed."""
    if archive[:8] != MAGIC:
        raise ValueError("not a record archive")
    try:
        body = lzma.decompress(archive[8:])
    except lzma.LZMAError as error:
        raise ValueError("archive damaged: %s" % error) from None
    header = body[:HEADER_BYTES]
    _, record_bytes, has_shares = _layout(header)
    if len(body) < HEADER_BYTES + 8:
        raise ValueError("archive truncated")
    count, tail_bytes = struct.unpack_from("<II", body, HEADER_BYTES)
    at = HEADER_BYTES + 8

    def take(size):
        nonlocal at
        if size < 0 or at + size > len(body):
            raise ValueError("archive truncated")
        at += size
        return np.frombuffer(body, np.uint8, size, at - size)

    tail = take(tail_bytes).tobytes()
    rows = np.zeros((count, record_bytes), np.uint8)
    if has_shares:
        rows[:, :FIXED_BYTES] = take(count * FIXED_BYTES).reshape(FIXED_BYTES, count).T
        rest = record_bytes - SHARES_END
        rows[:, SHARES_END:] = take(count * rest).reshape(rest, count).T
        per_record = take(2 * count).view("<u2").astype(np.int64)
        held = int(per_record.sum())
        steps = take(2 * held).view("<u2").astype(np.int64)
        values = take(2 * held).view("<u2")
        record_of = np.repeat(np.arange(count), per_record)
        starts = np.cumsum(per_record) - per_record
        # Cells are running sums of the steps, restarted at each record's first pair.
        running = np.cumsum(steps)
        base = np.zeros(count, np.int64)
        some = per_record > 0
        base[some] = running[starts[some]] - steps[starts[some]]
        cells = running - np.repeat(base, per_record)
        if held and (cells.min() < 0 or cells.max() >= SHARE_CELLS):
            raise ValueError("archive damaged: cell out of range")
        shares = np.zeros((count, SHARE_CELLS), "<u2")
        shares[record_of, cells] = values
        rows[:, FIXED_BYTES:SHARES_END] = shares.view(np.uint8).reshape(count, 2 * SHARE_CELLS)
    else:
        rows[:] = take(count * record_bytes).reshape(record_bytes, count).T
    if at != len(body):
        raise ValueError("archive has trailing bytes")
    return header + rows.tobytes() + tail


def _write_atomically(path, blob):
    part = path + ".tmp"
    with open(part, "wb") as f:
        f.write(blob)
    os.replace(part, path)


def pack_directory(data_dir, archive_dir):
    """Packs the complete chunk files the archive lacks; returns (files, bytes in, bytes out)."""
    os.makedirs(archive_dir, exist_ok=True)
    files = bytes_in = bytes_out = 0
    for path in sorted(glob.glob(os.path.join(data_dir, "chunk-*.bin"))):
        target = os.path.join(archive_dir, os.path.basename(path) + SUFFIX)
        if os.path.exists(target):
            continue
        with open(path, "rb") as f:
            blob = f.read()
        archive = pack_bytes(blob)
        if unpack_bytes(archive) != blob:
            raise RuntimeError("%s: the archive does not give the file back" % path)
        _write_atomically(target, archive)
        files, bytes_in, bytes_out = files + 1, bytes_in + len(blob), bytes_out + len(archive)
    return files, bytes_in, bytes_out


def unpack_directory(archive_dir, data_dir):
    """Writes the chunk files the data directory lacks; returns how many."""
    os.makedirs(data_dir, exist_ok=True)
    written = 0
    for path in sorted(glob.glob(os.path.join(archive_dir, "chunk-*.bin" + SUFFIX))):
        target = os.path.join(data_dir, os.path.basename(path)[:-len(SUFFIX)])
        with open(path, "rb") as f:
            blob = unpack_bytes(f.read())
        if os.path.exists(target):
            with open(target, "rb") as f:
                if f.read() != blob:
                    raise RuntimeError("%s differs from its archive %s" % (target, path))
            continue
        _write_atomically(target, blob)
        written += 1
    return written


def main(argv):
    if len(argv) != 4 or argv[1] not in ("pack", "unpack"):
        sys.stderr.write("usage: pack_records.py pack DATA_DIR ARCHIVE_DIR | unpack ARCHIVE_DIR DATA_DIR\n")
        return 2
    if argv[1] == "pack":
        files, bytes_in, bytes_out = pack_directory(argv[2], argv[3])
        print("packed %d files: %d bytes -> %d" % (files, bytes_in, bytes_out))
    else:
        print("unpacked %d files" % unpack_directory(argv[2], argv[3]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
