#!/usr/bin/env bash
# Runs every fuzz target for SECONDS on its corpus (seeded afresh from real
# files, kept between runs) and prints one line per target; exits 1 on a finding.
#   fuzz/run_fuzzers.sh FUZZ_BUILD_DIR SECONDS [TARGET...]
set -uo pipefail
BUILD=$1
SECONDS_EACH=$2
shift 2
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  TARGETS=(fuzz_settings fuzz_mjpg_reader fuzz_stream_cutter fuzz_camera_url fuzz_datetime_key fuzz_jpeg_decode
           fuzz_player_info)
fi
"$ROOT/fuzz/make_corpus.sh" "$BUILD" "$BUILD/seeds" || exit 1
mkdir -p "$BUILD/findings" "$BUILD/logs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
found=0
printf '%-20s %8s %12s %10s %8s %8s  %s\n' target seconds runs exec/s cov corpus result
for t in "${TARGETS[@]}"; do
  corpus=$BUILD/corpus/$t
  mkdir -p "$corpus"
  log=$BUILD/logs/$t.log
  "$BUILD/fuzz/$t" "$corpus" "$BUILD/seeds/$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -max_len=262144 -print_final_stats=1 -artifact_prefix="$BUILD/findings/$t-" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  files=$(find "$corpus" -type f | wc -l)
  if [ $rc -eq 0 ]; then result=clean; else result="FINDING (exit $rc), see $log"; found=1; fi
  printf '%-20s %8s %12s %10s %8s %8s  %s\n' "$t" "$SECONDS_EACH" "${runs:-?}" "${speed:-?}" "${cov:-?}" "$files" "$result"
done
exit $found
