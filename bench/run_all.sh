#!/usr/bin/env bash
set -euo pipefail
BUILD=${1:?build dir}
"$BUILD/bench/bench_codec"
