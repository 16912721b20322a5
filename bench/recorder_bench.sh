#!/usr/bin/env bash
# Recorder benchmarks against the project's test camera on 127.0.0.1:
#   push   one push-stream camera at frameDelayMs 0, 640x480: frames/s and CPU ms per frame
#   scale  16 push cameras at 5 fps for 60 s: CPU share, peak memory, frames written vs served
#   peer   the same stream recorded as JPEG pictures by us and by the Debian package
#          "motion" (installed here only): CPU seconds per saved frame and the ratio
#   serve  16 push cameras at 10 fps, serving live pictures: the recorder's CPU with
#          nobody watching and with 4 viewers of the camera wall, and frames lost
# Usage: recorder_bench.sh BUILD_DIR [push|scale|peer|serve|all]
set -euo pipefail
BUILD=${1:?build dir}
WHAT=${2:-all}
TOLLAN="$BUILD/recorder/ui/tollan"
TESTCAM="$BUILD/tools/testcam/testcam"
MJPGINFO="$BUILD/tools/mjpginfo/mjpginfo"
TICKS=$(getconf CLK_TCK)
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for p in "${PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

cpu_ticks() {  # utime + stime of a process, in clock ticks
  awk '{print $14 + $15}' "/proc/$1/stat"
}
peak_rss_kb() {
  awk '/VmHWM/ {print $2}' "/proc/$1/status"
}

start_testcam() {  # $1 = fps, rest = extra options; sets CAM_PID and PORT
  local fps=$1; shift
  rm -f "$WORK/port"
  "$TESTCAM" --port 0 --port-file "$WORK/port" --fps "$fps" --width 640 --height 480 --motion "$@" \
    >"$WORK/testcam.out" 2>&1 &
  CAM_PID=$!
  PIDS+=("$CAM_PID")
  for _ in $(seq 1 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
  PORT=$(cat "$WORK/port")
}

stop_testcam() {
  kill -INT "$CAM_PID" 2>/dev/null || true
  wait "$CAM_PID" 2>/dev/null || true
}

# Records with the headless recorder for $1 seconds; sets REC_TICKS and REC_RSS.
run_recorder() {
  local seconds=$1
  "$TOLLAN" --headless 2>"$WORK/recorder.log" &
  local pid=$!
  PIDS+=("$pid")
  sleep "$seconds"
  REC_TICKS=$(cpu_ticks "$pid")
  REC_RSS=$(peak_rss_kb "$pid")
  kill -INT "$pid"
  wait "$pid" || true
}

frames_in() {  # total frames of every MJPG file under a folder
  local total=0 n
  while IFS= read -r f; do
    n=$("$MJPGINFO" "$f" | awk '/frames:/ {gsub(",", "", $2); print $2}')
    total=$((total + n))
  done < <(find "$1" -name '*.mjpg')
  echo "$total"
}

bench_push() {
  echo "== One push-stream camera, frameDelayMs 0, 640x480 =="
  export TOLLAN_HOME="$WORK/push-home"
  mkdir -p "$TOLLAN_HOME"
  start_testcam 1000
  "$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
  "$TOLLAN" --set 0 "savePath=$WORK/push/video.mjpg" frameDelayMs=0 motionEnabled=0 overlayEnabled=1
  local seconds=10
  run_recorder $seconds
  stop_testcam
  local frames
  frames=$(frames_in "$WORK/push")
  awk -v f="$frames" -v s="$seconds" -v t="$REC_TICKS" -v hz="$TICKS" 'BEGIN {
    printf "frames saved: %d in %d s = %.1f frames/s\n", f, s, f / s;
    printf "CPU: %.2f ms per frame (decode, overlay, encode, write)\n", (t / hz * 1000) / (f > 0 ? f : 1) }'
}

bench_scale() {
  echo "== 16 push-stream cameras at 5 fps for 60 s =="
  export TOLLAN_HOME="$WORK/scale-home"
  mkdir -p "$TOLLAN_HOME"
  start_testcam 5
  local i
  for i in $(seq 0 15); do
    "$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
    "$TOLLAN" --set "$i" "savePath=$WORK/scale/cam$i/video.mjpg" frameDelayMs=0 motionEnabled=0 overlayEnabled=1
  done
  local seconds=${SCALE_SECONDS:-60}
  run_recorder "$seconds"
  stop_testcam
  local served written
  served=$(awk '/^FRAMES/ {print $2}' "$WORK/testcam.out" | tail -n 1)
  written=$(frames_in "$WORK/scale")
  awk -v t="$REC_TICKS" -v hz="$TICKS" -v s="$seconds" -v rss="$REC_RSS" -v w="$written" -v sv="$served" 'BEGIN {
    printf "CPU share: %.1f%% of one core\n", 100 * t / hz / s;
    printf "peak resident memory: %.1f MiB\n", rss / 1024;
    printf "frames written: %d, frames served: %s", w, sv;
    if (sv != "") printf " (%d not written: frames in flight when the cameras stopped)", sv - w;
    printf "\n" }'
}

# Steady-state cost of a running recorder: CPU ticks and saved pictures counted
# between two moments after a warm-up, so start-up and shutdown are left out.
# $1 = pid, $2 = folder of pictures; sets STEADY_TICKS and STEADY_FRAMES.
measure_steady() {
  local pid=$1 dir=$2 warmup=5 span=${PEER_SECONDS:-30}
  sleep $warmup
  local t0 f0 t1 f1
  t0=$(cpu_ticks "$pid"); f0=$(find "$dir" -name '*.jpg' | wc -l)
  sleep "$span"
  t1=$(cpu_ticks "$pid"); f1=$(find "$dir" -name '*.jpg' | wc -l)
  STEADY_TICKS=$((t1 - t0))
  STEADY_FRAMES=$((f1 - f0))
}

bench_peer() {
  echo "== Side by side: JPEG pictures from the same stream, ours and the 'motion' package =="
  if ! command -v motion >/dev/null 2>&1; then
    echo "installing the Debian package 'motion' for this comparison..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq motion >/dev/null 2>&1 || {
      echo "could not install motion; skipping the comparison"; return 0; }
  fi
  local fps=10
  start_testcam $fps

  # Ours: every frame as a numbered JPEG picture, no overlay, no motion gating.
  export TOLLAN_HOME="$WORK/peer-home"
  mkdir -p "$TOLLAN_HOME" "$WORK/ours"
  "$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
  "$TOLLAN" --set 0 "savePath=$WORK/ours/video.jpg" saveAsMjpg=0 maxJpgCount=1000000 frameDelayMs=0 \
    motionEnabled=0 overlayEnabled=0 jpegQuality=75
  "$TOLLAN" --headless 2>"$WORK/recorder.log" &
  local rpid=$!
  PIDS+=("$rpid")
  measure_steady "$rpid" "$WORK/ours"
  local ours_ticks=$STEADY_TICKS ours_frames=$STEADY_FRAMES
  kill -INT "$rpid"
  wait "$rpid" || true

  # Theirs: picture output on every frame at the same frame rate and quality.
  mkdir -p "$WORK/theirs"
  cat >"$WORK/motion.conf" <<CONF
daemon off
setup_mode off
log_level 4
netcam_url http://127.0.0.1:$PORT/video.mjpg
width 640
height 480
framerate $fps
emulate_motion on
threshold 1
picture_output on
picture_quality 75
movie_output off
target_dir $WORK/theirs
picture_filename %v-%Y%m%d%H%M%S-%q
webcontrol_port 0
stream_port 0
CONF
  motion -n -c "$WORK/motion.conf" >"$WORK/motion.log" 2>&1 &
  local mpid=$!
  PIDS+=("$mpid")
  measure_steady "$mpid" "$WORK/theirs"
  local theirs_ticks=$STEADY_TICKS theirs_frames=$STEADY_FRAMES
  kill -INT "$mpid" 2>/dev/null || true
  wait "$mpid" 2>/dev/null || true
  stop_testcam
  awk -v ot="$ours_ticks" -v of="$ours_frames" -v tt="$theirs_ticks" -v tf="$theirs_frames" -v hz="$TICKS" 'BEGIN {
    o = (of > 0) ? ot / hz / of : 0; t = (tf > 0) ? tt / hz / tf : 0;
    printf "ours:   %d pictures, %.4f CPU s per saved frame\n", of, o;
    printf "motion: %d pictures, %.4f CPU s per saved frame\n", tf, t;
    if (t > 0) printf "ratio ours/motion: %.2f (goal below 0.5)\n", o / t; else print "ratio: motion saved no pictures" }'
}

# One serving run: every camera sends exactly FRAMES pictures; CPU is counted over a
# steady span while they flow, with $1 wall viewers (0 for none) watching meanwhile.
# Sets SERVE_TICKS, SERVE_SPAN, SERVE_WRITTEN, SERVE_SENT and SERVE_SEEN.
serve_run() {
  local viewers=$1 frames=$2 warmup=5 span=$3
  export TOLLAN_HOME="$WORK/serve-home-$viewers"
  rm -rf "$TOLLAN_HOME" "$WORK/serve-$viewers"
  mkdir -p "$TOLLAN_HOME"
  start_testcam 10 --frame-limit "$frames"
  local i
  for i in $(seq 0 15); do
    "$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
    "$TOLLAN" --set "$i" "savePath=$WORK/serve-$viewers/cam$i/video.mjpg" frameDelayMs=0 motionEnabled=0 \
      overlayEnabled=0
  done
  "$TOLLAN" --serve 127.0.0.1:0 >/dev/null
  "$TOLLAN" --headless 2>"$WORK/serve-$viewers.log" &
  local pid=$!
  PIDS+=("$pid")
  local url=""
  for _ in $(seq 1 100); do
    url=$(sed -n 's/^Camera wall: //p' "$WORK/serve-$viewers.log")
    [ -n "$url" ] && break
    sleep 0.05
  done
  local port=${url##*:}; port=${port%/}
  local viewers_pid=""
  SERVE_SEEN="-"
  if [ "$viewers" -gt 0 ]; then
    /usr/bin/python3 "$(dirname "$0")/wall_clients.py" --port "$port" --clients "$viewers" \
      --seconds $((warmup + span)) >"$WORK/viewers.out" &
    viewers_pid=$!
    PIDS+=("$viewers_pid")
  fi
  sleep $warmup
  local t0 t1
  t0=$(cpu_ticks "$pid")
  sleep "$span"
  t1=$(cpu_ticks "$pid")
  SERVE_TICKS=$((t1 - t0))
  SERVE_SPAN=$span
  [ -n "$viewers_pid" ] && { wait "$viewers_pid" || true; }
  [ "$viewers" -gt 0 ] && SERVE_SEEN=$(cat "$WORK/viewers.out")
  # The cameras' last pictures arrive, then the recorder stops.
  sleep $((frames / 10 - warmup - span + 3))
  kill -INT "$pid"
  wait "$pid" || true
  stop_testcam
  SERVE_WRITTEN=$(frames_in "$WORK/serve-$viewers")
  SERVE_SENT=$((16 * frames))
}

bench_serve() {
  echo "== 16 push cameras at 10 fps serving live pictures: nobody watching, then 4 wall viewers =="
  local span=${SERVE_SECONDS:-20}
  local frames=$(( (span + 10) * 10 ))
  serve_run 0 $frames "$span"
  local idle=$SERVE_TICKS idle_written=$SERVE_WRITTEN
  serve_run 4 $frames "$span"
  local watched=$SERVE_TICKS
  awk -v a="$idle" -v b="$watched" -v hz="$TICKS" -v s="$span" -v w0="$idle_written" -v w1="$SERVE_WRITTEN" \
      -v sent="$SERVE_SENT" -v seen="$SERVE_SEEN" 'BEGIN {
    printf "CPU, nobody watching: %.1f%% of one core\n", 100 * a / hz / s;
    printf "CPU, 4 wall viewers:  %.1f%% of one core (%+.1f%%; goal +10%% at most)\n", 100 * b / hz / s,
           (a > 0 ? 100 * (b - a) / a : 0);
    printf "viewers: %s\n", seen;
    printf "frames sent by the cameras: %d per run; written: %d without viewers, %d with (lost: %d, %d)\n",
           sent, w0, w1, sent - w0, sent - w1 }'
}

case "$WHAT" in
  push) bench_push ;;
  scale) bench_scale ;;
  peer) bench_peer ;;
  serve) bench_serve ;;
  all) bench_push; bench_scale; bench_peer; bench_serve ;;
  *) echo "usage: $0 BUILD_DIR [push|scale|peer|serve|all]" >&2; exit 2 ;;
esac
