#!/usr/bin/env bash
# The player on a 2 GB recording of 1920 x 1080 frames, made in /tmp by repeating
# the frames of a short recording and deleted at the end:
#   1. the `velmo --extract` command on the whole file, against cp of the same
#      bytes in the same run, best of two turns each (goal: at least 0.5 of
#      cp's speed);
#   2. the playback thread's extract of the first half, against cp;
#   3. the player window playing the file for 10 s at frame delay 0, offscreen:
#      peak resident memory (goal: under 150 MB) and how fast Pause answers.
# Usage: player_bench.sh BUILD_DIR  (a Release build with the benchmarks)
set -euo pipefail
BUILD=${1:?build dir}
VELMO="$BUILD/player/velmo"
READER="$BUILD/bench/bench_reader"
PLAYBACK="$BUILD/bench/bench_playback"
WORK=$(mktemp -d /tmp/player_bench_XXXXXX)
trap 'rm -rf "$WORK"' EXIT

now() { date +%s.%N; }
speeds() {  # NAME BYTES SECONDS_OF_NAME SECONDS_OF_CP
  awk -v n="$1" -v b="$2" -v e="$3" -v c="$4" 'BEGIN {
    mb = b / 1048576
    printf "bytes copied:  %.0f (%.0f MiB)\n", b, mb
    printf "%-14s %.3f s, %.0f MB/s\n", n ":", e, mb / e
    printf "cp:            %.3f s, %.0f MB/s\n", c, mb / c
    printf "ratio %s/cp speed: %.2f (goal >= 0.5)\n", n, c / e
  }'
}

# 60 frames of 1920 x 1080, repeated to about 64 MiB, and that repeated to 2 GiB.
"$PLAYBACK" --make "$WORK/small.mjpg"
: >"$WORK/chunk.mjpg"
while [ "$(stat -c %s "$WORK/chunk.mjpg")" -lt 67108864 ]; do cat "$WORK/small.mjpg" >>"$WORK/chunk.mjpg"; done
for _ in $(seq 32); do cat "$WORK/chunk.mjpg"; done >"$WORK/big.mjpg"
rm -f "$WORK/small.mjpg" "$WORK/chunk.mjpg"
BYTES=$(stat -c %s "$WORK/big.mjpg")
FRAMES=$("$VELMO" --info "$WORK/big.mjpg" | awk '/^Frames:/ { print $2 }')
echo "recording: $BYTES bytes, $FRAMES frames"

echo "== velmo --extract of every frame against cp"
# Writing 2 GB makes the disk's write-back the larger part of either time, and it
# varies from one moment to the next: the two take turns, twice, and the faster
# time of each counts.
timed() {  # prints the seconds a command took
  local start end
  sync
  start=$(now)
  "$@"
  end=$(now)
  awk -v s="$start" -v e="$end" 'BEGIN { print e - s }'
}
EXTRACT_BEST=""
CP_BEST=""
for ROUND in 1 2; do
  CP_S=$(timed cp --reflink=never "$WORK/big.mjpg" "$WORK/copy.mjpg")
  rm -f "$WORK/copy.mjpg"
  EXTRACT_S=$(timed "$VELMO" --extract "$WORK/big.mjpg" --from 1 --to "$FRAMES" -o "$WORK/extract.mjpg")
  cmp -s "$WORK/big.mjpg" "$WORK/extract.mjpg" || { echo "the extract differs from the recording" >&2; exit 1; }
  rm -f "$WORK/extract.mjpg"
  echo "round $ROUND: cp $CP_S s, velmo --extract $EXTRACT_S s"
  EXTRACT_BEST=$(awk -v a="$EXTRACT_S" -v b="${EXTRACT_BEST:-1e9}" 'BEGIN { print (a < b ? a : b) }')
  CP_BEST=$(awk -v a="$CP_S" -v b="${CP_BEST:-1e9}" 'BEGIN { print (a < b ? a : b) }')
done
speeds "velmo extract" "$BYTES" "$EXTRACT_BEST" "$CP_BEST"

echo "== the playback thread's extract of the first half against cp"
sync
read -r HALF EXTRACT_S < <("$READER" --extract "$WORK/big.mjpg" "$WORK/half.mjpg")
sync
CP_START=$(now)
cp --reflink=never "$WORK/half.mjpg" "$WORK/copy.mjpg"
CP_END=$(now)
rm -f "$WORK/half.mjpg" "$WORK/copy.mjpg"
speeds "thread extract" "$HALF" "$EXTRACT_S" "$(awk -v s="$CP_START" -v e="$CP_END" 'BEGIN { print e - s }')"

echo "== playing the recording for 10 s at frame delay 0"
"$PLAYBACK" "$WORK/big.mjpg" 10
