#!/usr/bin/env bash
# The converter against the ffmpeg program on the same input in one run:
# a 640 x 480 MJPG recording of 600 frames to MPEG-4 AVI (DIVX) at 10 fps, every
# frame a key frame. Prints frames per second and CPU ms per frame of each, the
# ratios ours/theirs (goal: at least 1.0 in frames per second, no more CPU time
# per frame), and how close each file is to the recording (PSNR), which shows
# that our two decoding paths (straight to 4:2:0 planes, or --via-rgb) look alike.
# Usage: brandle_vs_ffmpeg.sh BUILD_DIR [ROUNDS]   (a Release build; not run in CI)
set -euo pipefail
BUILD=${1:?build dir}
ROUNDS=${2:-3}
BRANDLE="$BUILD/converter/brandle"
MJPGDEMO="$BUILD/tools/mjpgdemo/mjpgdemo"
FRAMES=600
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

for tool in ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (Debian package ffmpeg)"; exit 1; }
done
"$MJPGDEMO" "$WORK/in.mjpg" "$FRAMES" >/dev/null

# One timed run: wall seconds and CPU seconds (user, system; children included).
timed() {
  { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1
}
better() {  # the faster of two "wall user sys" lines ("" counts as none)
  printf '%s\n%s\n' "$1" "$2" | awk 'NF == 3' | sort -n | head -n 1
}

# The three take turns in every round, so a busy machine slows all of them alike;
# the best round of each counts.
ours="" ours_rgb="" theirs=""
for _ in $(seq 1 "$ROUNDS"); do
  ours=$(better "$ours" "$(timed "$BRANDLE" "$WORK/in.mjpg" "$WORK/ours.avi" --type Divx --fps 10)")
  ours_rgb=$(better "$ours_rgb" "$(timed "$BRANDLE" "$WORK/in.mjpg" "$WORK/ours_rgb.avi" --type Divx --fps 10 --via-rgb)")
  theirs=$(better "$theirs" "$(timed ffmpeg -nostdin -y -loglevel error -f mjpeg -framerate 10 -i "$WORK/in.mjpg" \
    -c:v mpeg4 -vtag DIVX -g 1 "$WORK/theirs.avi")")
done

count() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
psnr() {  # average PSNR of a file's pictures against the recording's, in dB
  ffmpeg -nostdin -loglevel info -i "$1" -f mjpeg -framerate 10 -i "$WORK/in.mjpg" -lavfi \
    '[0:v]scale=out_range=tv,format=yuv420p[a];[1:v]scale=out_range=tv,format=yuv420p[b];[a][b]psnr' \
    -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.inf]*\).*/\1/p'
}

echo "== $FRAMES frames of 640x480 MJPG to MPEG-4 AVI at 10 fps, best of $ROUNDS =="
report() {  # name, "wall user sys", file
  awk -v n="$1" -v t="$2" -v f="$FRAMES" -v c="$(count "$3")" -v p="$(psnr "$3")" 'BEGIN {
    split(t, a, " "); printf "%-18s %7.1f frames/s  %6.2f CPU ms/frame  %s frames, PSNR %.2f dB to the recording\n",
      n, f / a[1], (a[2] + a[3]) * 1000 / f, c, p }'
}
report "brandle" "$ours" "$WORK/ours.avi"
report "brandle --via-rgb" "$ours_rgb" "$WORK/ours_rgb.avi"
report "ffmpeg" "$theirs" "$WORK/theirs.avi"
ratio() {  # ours, theirs
  awk -v o="$1" -v t="$2" 'BEGIN { split(o, a, " "); split(t, b, " ");
    printf "frames/s %.2f, CPU per frame %.2f", b[1] / a[1], (a[2] + a[3]) / (b[2] + b[3]) }'
}
echo "ratio ours/ffmpeg:      $(ratio "$ours" "$theirs")   (goal: frames/s >= 1.0, CPU <= 1.0)"
echo "ratio --via-rgb/ffmpeg: $(ratio "$ours_rgb" "$theirs")"
