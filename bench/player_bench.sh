#!/usr/bin/env bash
# The player's edit copy against cp: a 2 GB recording is made in /tmp, its first
# half (about 1 GB) extracted through the playback thread, and the same bytes copied
# with cp in the same run. Prints both speeds and their ratio (goal: at least 0.5).
# Usage: player_bench.sh BUILD_DIR
set -euo pipefail
BUILD=${1:?build dir}
BENCH="$BUILD/bench/bench_reader"
WORK=$(mktemp -d /tmp/player_bench_XXXXXX)
trap 'rm -rf "$WORK"' EXIT

"$BENCH" --make "$WORK/big.mjpg" 2048
read -r BYTES EXTRACT_S < <("$BENCH" --extract "$WORK/big.mjpg" "$WORK/half.mjpg")
sync
START=$(date +%s.%N)
cp --reflink=never "$WORK/half.mjpg" "$WORK/copy.mjpg"
END=$(date +%s.%N)
awk -v b="$BYTES" -v e="$EXTRACT_S" -v s="$START" -v t="$END" 'BEGIN {
  c = t - s; mb = b / 1048576
  printf "bytes copied:  %d (%.0f MiB)\n", b, mb
  printf "velmo extract: %.3f s, %.0f MB/s\n", e, mb / e
  printf "cp:            %.3f s, %.0f MB/s\n", c, mb / c
  printf "ratio extract/cp speed: %.2f (goal >= 0.5)\n", c / e
}'
