#!/usr/bin/env bash
# Main job on a built-in default: write synthetic frames to an MJPG file and read them back.
set -euo pipefail
BUILD=${1:?build dir}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$ROOT/demo-output"
exec "$BUILD/tools/mjpgdemo/mjpgdemo" "$ROOT/demo-output/demo.mjpg"
