#!/usr/bin/env bash
# Runs every benchmark on a Release build.
set -euo pipefail
BUILD=${1:?build dir}
DIR=$(cd "$(dirname "$0")" && pwd)
for b in bench_codec bench_motion bench_pipeline bench_cutter bench_reader bench_local_worker bench_rtsp bench_rtsp_worker; do
  if [ -x "$BUILD/bench/$b" ]; then
    echo "== $b =="
    "$BUILD/bench/$b"
  fi
done
"$DIR/recorder_bench.sh" "$BUILD" all
"$DIR/player_bench.sh" "$BUILD"
"$DIR/brandle_vs_ffmpeg.sh" "$BUILD"
