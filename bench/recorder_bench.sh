#!/usr/bin/env bash
# Recorder benchmarks against the project's test camera on 127.0.0.1:
#   push   one push-stream camera at frameDelayMs 0, 640x480: frames/s and CPU ms per frame
#   scale  16 push cameras at 5 fps for 60 s: CPU share, peak memory, frames written vs served
#   cameras  many push cameras at 10 fps for 30 s, motion measured and every frame
#          saved: 64 x 640x480 and 16 x 1920x1080, pictures stored as sent, re-encoded
#          and re-encoded with the overlay: CPU share, peak memory, frames served,
#          written and lost, and the test camera's own CPU (it serves pre-encoded
#          pictures, so serving costs little)
#   peer   the same stream recorded as JPEG pictures by us (re-encoded, stored as
#          sent, with the overlay; motion measured) and by the Debian package
#          "motion" (installed here only): CPU seconds per saved frame and the ratios
#   serve  16 push cameras at 10 fps, serving live pictures: the recorder's CPU with
#          nobody watching and with 4 viewers of the camera wall, and frames lost
# Usage: recorder_bench.sh BUILD_DIR [push|scale|cameras|peer|serve|all]
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
  "$TESTCAM" --port 0 --port-file "$WORK/port" --fps "$fps" --width "${CAM_WIDTH:-640}" \
    --height "${CAM_HEIGHT:-480}" --motion "$@" \
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

# $1 = mode: the camera fields that store pictures as sent, re-encode them, or
# re-encode them with the overlay stamped; every mode measures motion and, with
# frameSaveCount beyond the run, saves every frame.
mode_fields() {
  local common="frameDelayMs=0 motionEnabled=1 frameSaveCount=1000000 jpegQuality=75"
  case "$1" in
    as-sent) echo "$common storeAsSent=1 overlayEnabled=0" ;;
    re-encode) echo "$common storeAsSent=0 overlayEnabled=0" ;;
    overlay) echo "$common storeAsSent=0 overlayEnabled=1" ;;
  esac
}

# One run of $1 push cameras of $2 x $3 pictures at 10 fps for $4 s in mode $5.
# Each camera's stream ends after fps x seconds pictures, so every picture
# served has arrived when the recorder is stopped: served - written are lost.
cameras_run() {
  local count=$1 width=$2 height=$3 seconds=$4 mode=$5 fps=10
  export TOLLAN_HOME="$WORK/cams-$count-$height-$mode-home"
  local out="$WORK/cams-$count-$height-$mode"
  mkdir -p "$TOLLAN_HOME" "$out"
  CAM_WIDTH=$width CAM_HEIGHT=$height start_testcam $fps --frame-limit $((fps * seconds))
  local i
  for i in $(seq 0 $((count - 1))); do
    "$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
    # shellcheck disable=SC2046
    "$TOLLAN" --set "$i" "savePath=$out/cam$i/video.mjpg" $(mode_fields "$mode")
  done
  local cam0
  cam0=$(cpu_ticks "$CAM_PID")
  run_recorder $((seconds + 4))
  local cam_ticks=$(($(cpu_ticks "$CAM_PID") - cam0))
  stop_testcam
  local served written
  served=$(awk '/^FRAMES/ {print $2}' "$WORK/testcam.out" | tail -n 1)
  written=$(frames_in "$out")
  awk -v n="$count" -v w="$width" -v h="$height" -v m="$mode" -v t="$REC_TICKS" -v ct="$cam_ticks" -v hz="$TICKS" \
      -v s="$seconds" -v rss="$REC_RSS" -v wr="$written" -v sv="${served:-0}" 'BEGIN {
    printf "| %d x %dx%d | %-9s | %5.2f | %6.0f | %6d | %6d | %5d | %5.2f |\n",
      n, w, h, m, t / hz / s, rss / 1024, sv, wr, sv - wr, ct / hz / s }'
  rm -rf "$out"
}

bench_cameras() {
  local seconds=${CAMERAS_SECONDS:-30}
  echo "== Push cameras at 10 fps for $seconds s, motion measured, every frame saved =="
  echo "| cameras | pictures | recorder cores | peak MiB | served | written | lost | test camera cores |"
  echo "|---|---|---|---|---|---|---|---|"
  cameras_run 64 640 480 "$seconds" as-sent
  cameras_run 64 640 480 "$seconds" re-encode
  cameras_run 16 1920 1080 "$seconds" as-sent
  cameras_run 16 1920 1080 "$seconds" overlay
  cameras_run 16 1920 1080 "$seconds" re-encode
}

# Steady-state cost of a running recorder: CPU ticks and saved pictures counted
# between two moments after a warm-up, so start-up and shutdown are left out.
# $1 = pid, $2 = folder of pictures (JPEG files, or MJPG files when $3 is
# frames_in); sets STEADY_TICKS and STEADY_FRAMES.
jpgs_in() { find "$1" -name '*.jpg' | wc -l; }
measure_steady() {
  local pid=$1 dir=$2 count=${3:-jpgs_in} warmup=5 span=${PEER_SECONDS:-30}
  sleep $warmup
  local t0 f0 t1 f1
  t0=$(cpu_ticks "$pid"); f0=$($count "$dir")
  sleep "$span"
  t1=$(cpu_ticks "$pid"); f1=$($count "$dir")
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

  # Ours: every frame as a numbered JPEG picture, motion measured, once per mode;
  # and once into an MJPG file, which spares the file system a file per picture.
  local mode rows=()
  for mode in re-encode as-sent overlay as-sent,mjpg-file; do
    local fields=${mode%,mjpg-file}
    export TOLLAN_HOME="$WORK/peer-$mode-home"
    mkdir -p "$TOLLAN_HOME" "$WORK/ours-$mode"
    "$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
    local output="savePath=$WORK/ours-$mode/video.jpg saveAsMjpg=0 maxJpgCount=1000000" count=jpgs_in
    [ "$fields" != "$mode" ] && output="savePath=$WORK/ours-$mode/video.mjpg saveAsMjpg=1" count=frames_in
    # shellcheck disable=SC2046,SC2086
    "$TOLLAN" --set 0 $output $(mode_fields "$fields")
    "$TOLLAN" --headless 2>"$WORK/recorder.log" &
    local rpid=$!
    PIDS+=("$rpid")
    measure_steady "$rpid" "$WORK/ours-$mode" $count
    rows+=("$mode $STEADY_TICKS $STEADY_FRAMES")
    kill -INT "$rpid"
    wait "$rpid" || true
    rm -rf "$WORK/ours-$mode"
  done

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
  local t=0
  [ "$theirs_frames" -gt 0 ] && t=$(awk -v tt="$theirs_ticks" -v tf="$theirs_frames" -v hz="$TICKS" \
    'BEGIN { printf "%.5f", tt / hz / tf }')
  echo "| recorder | pictures | CPU s per saved frame | ours / motion |"
  echo "|---|---|---|---|"
  local row
  for row in "${rows[@]}"; do
    # shellcheck disable=SC2086
    set -- $row
    awk -v m="$1" -v ot="$2" -v of="$3" -v t="$t" -v hz="$TICKS" 'BEGIN {
      o = (of > 0) ? ot / hz / of : 0;
      printf "| ours, %s | %d | %.5f | %s |\n", m, of, o, (t > 0) ? sprintf("%.2f", o / t) : "-" }'
  done
  printf "| motion | %d | %s | 1.00 |\n" "$theirs_frames" "$t"
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
  cameras) bench_cameras ;;
  peer) bench_peer ;;
  serve) bench_serve ;;
  all) bench_push; bench_scale; bench_cameras; bench_peer; bench_serve ;;
  *) echo "usage: $0 BUILD_DIR [push|scale|cameras|peer|serve|all]" >&2; exit 2 ;;
esac
