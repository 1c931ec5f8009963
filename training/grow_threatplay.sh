#!/bin/bash
# Grows the threat-aware engine's self-play set for MINUTES on two cores and keeps it in the
# repository: unpacks what earlier machines made, plays on (the generator skips complete chunks),
# then packs the new complete chunks into training/archive/. Commit the archive afterwards.
#
#   training/grow_threatplay.sh MINUTES
#
# A chunk still being played when the time runs out is lost with the machine (10 games, a few
# minutes of one core), so the games are kept in small chunks. Every game is seeded by (seed,
# chunk, game), the network is taken from the commit that shipped it, so a chunk's games do
# not depend on which machine plays them (only on the kernel path's rounding). A game still on
# after 200 searched moves is scored a draw (drawn games ran to 398 plies and made most positions).
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?usage: training/grow_threatplay.sh MINUTES}

# The set being grown: threatplay-v2 (r9, seed 2, 105 chunks), threatplay-v3 (r11, seed 3,
# 93 chunks), threatplay-v4 (r12, seed 4, 153 chunks) and threatplay-v5 (r13, seed 5, 690 chunks)
# are closed; r17 plays threatplay-v6.
set_name=threatplay-v6
network=r17
network_commit=90a962f
seed=6
data=training/data/$set_name
archive=training/archive/$set_name
generator=./build/tools/selfplay/orvalis-selfplay
[ -x "$generator" ] || { echo "build first: cmake --build build --target orvalis-selfplay" >&2; exit 1; }

mkdir -p "$data"
/usr/bin/python3 training/pack_records.py unpack "$archive" "$data"
model=$data/model-$network.qvm
git show $network_commit:models/474/474_ncnn.qvm > "$model"

for worker in 0 1; do
    timeout "${minutes}m" "$generator" generate --model "$model" --out "$data" --chunks 2000 \
        --games-per-chunk 10 --playouts 400 --mode threat --opening-stones 0-3 --small-boards 30 \
        --max-plies 200 --seed $seed --worker $worker --workers 2 >> "$data/selfplay-$worker.log" 2>&1 &
done
wait || true
/usr/bin/python3 training/pack_records.py pack "$data" "$archive"
echo "chunks kept: $(ls "$archive" | wc -l)"
