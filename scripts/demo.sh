#!/usr/bin/env bash
# The main job on a built-in default: the recorder records two cameras of the
# project's own test camera (a push stream and a snapshot address, both on
# 127.0.0.1) with motion recording and the overlay on, a third camera of the
# push stream stored as the camera sends its pictures (no overlay, no
# re-encoding) and one RTSP camera (H.264 from the RTSP test camera, when
# GStreamer's RTSP server is installed), then prints what each camera wrote.
# With a display (DISPLAY or WAYLAND_DISPLAY) the window version
# opens with every camera recording and their live views shown, and records
# until Exit is chosen in the tray menu (or the window's program is sent
# SIGINT); without one the headless recorder records for about 15 seconds.
# Either serves the camera wall on 127.0.0.1 (port DEMO_SERVE_PORT, 8090) and
# prints its address.
set -euo pipefail
BUILD=${1:?build dir}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_TO_RECORD=${DEMO_SECONDS:-15}
OUT="$ROOT/demo-output"
TOLLAN="$BUILD/recorder/ui/tollan"
TESTCAM="$BUILD/tools/testcam/testcam"

rm -rf "$OUT"
mkdir -p "$OUT"
export TOLLAN_HOME
TOLLAN_HOME=$(mktemp -d)
CAM_PID=""
RTSP_PID=""
cleanup() {
  [ -n "$CAM_PID" ] && kill "$CAM_PID" 2>/dev/null || true
  [ -n "$RTSP_PID" ] && kill "$RTSP_PID" 2>/dev/null || true
  rm -rf "$TOLLAN_HOME"
}
trap cleanup EXIT

# Prints the camera wall's address once the recorder has started serving.
print_wall() {
  for _ in $(seq 1 50); do
    if grep -q '^Camera wall: \|^Not serving live pictures' "$OUT/recorder.log" 2>/dev/null; then
      grep -m1 '^Camera wall: \|^Not serving live pictures' "$OUT/recorder.log"
      echo "(open it in a browser while the recorder runs; a click on a camera shows it alone)"
      return
    fi
    sleep 0.1
  done
}

# Test camera on a free loopback port, with a moving block so motion is detected.
"$TESTCAM" --port 0 --port-file "$TOLLAN_HOME/port" --motion --fps 10 --width 640 --height 480 \
  >"$OUT/testcam.log" 2>&1 &
CAM_PID=$!
for _ in $(seq 1 50); do [ -s "$TOLLAN_HOME/port" ] && break; sleep 0.1; done
PORT=$(cat "$TOLLAN_HOME/port")
echo "Test camera listening on 127.0.0.1:$PORT"

"$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
"$TOLLAN" --set 0 "savePath=$OUT/push/%Y-%m-%d/video.mjpg" frameDelayMs=100 motionEnabled=1 \
  motionTriggerLevel=10 overlayEnabled=1 overlayBackground=3 overlayTextColor=0x00FFFF
"$TOLLAN" --add-ip "http://127.0.0.1:$PORT/image.jpg" >/dev/null
"$TOLLAN" --set 1 "savePath=$OUT/snapshot/%Y-%m-%d/video.mjpg" frameDelayMs=500 motionEnabled=1 \
  motionTriggerLevel=10 overlayEnabled=1 overlayVAlign=2 overlayHAlign=2
"$TOLLAN" --add-ip "http://127.0.0.1:$PORT/video.mjpg" --push-stream >/dev/null
"$TOLLAN" --set 2 "savePath=$OUT/as-sent/%Y-%m-%d/video.mjpg" frameDelayMs=100 motionEnabled=1 \
  motionTriggerLevel=10 overlayEnabled=0 storeAsSent=1 name=as-sent
# The RTSP test camera: H.264 at 640x480, 10 fps, on a free loopback port.
CAMERAS="push snapshot as-sent"
"${PYTHON:-/usr/bin/python3}" "$ROOT/tools/rtspcam/rtspcam.py" --port 0 --codec h264 --size 640x480 --fps 10 \
  >"$OUT/rtspcam.log" 2>&1 &
RTSP_PID=$!
RTSP_URL=""
for _ in $(seq 1 100); do
  RTSP_URL=$(sed -n 's/^rtspcam listening on //p' "$OUT/rtspcam.log")
  [ -n "$RTSP_URL" ] && break
  kill -0 "$RTSP_PID" 2>/dev/null || break
  sleep 0.1
done
if [ -n "$RTSP_URL" ]; then
  echo "RTSP test camera at $RTSP_URL"
  "$TOLLAN" --add-ip "$RTSP_URL" >/dev/null
  "$TOLLAN" --set 3 "savePath=$OUT/rtsp/%Y-%m-%d/video.mjpg" frameDelayMs=100 motionEnabled=1 \
    motionTriggerLevel=10 overlayEnabled=1 overlayBackground=2 "name=rtsp-demo"
  CAMERAS="$CAMERAS rtsp"
else
  echo "No RTSP camera: the RTSP test camera did not start (see $OUT/rtspcam.log;" \
    "scripts/deps.sh installs GStreamer's RTSP server)"
fi
"$TOLLAN" --log-to-file 1
# Live pictures for a browser on this machine: the camera wall.
"$TOLLAN" --serve "127.0.0.1:${DEMO_SERVE_PORT:-8090}" >/dev/null
echo "Cameras:"
"$TOLLAN" --list

REC_STATUS=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${DEMO_HEADLESS:-}" ]; then
  echo "Recording in the window version; choose Exit from the tray icon's menu"
  echo "(or press Ctrl+C here) to stop."
  "$TOLLAN" --resume-all --show-views 2>"$OUT/recorder.log" &
  REC_PID=$!
  print_wall
  trap 'kill -INT "$REC_PID" 2>/dev/null || true' INT
  wait "$REC_PID" || REC_STATUS=$?
  # A Ctrl+C interrupts the first wait; the recorder is still closing its files.
  if kill -0 "$REC_PID" 2>/dev/null; then wait "$REC_PID" || REC_STATUS=$?; fi
  trap - INT
  # SIGINT ends the window version in order; that is the user's way out, not a failure.
  [ "$REC_STATUS" -eq 130 ] && REC_STATUS=0
else
  echo "Recording for $SECONDS_TO_RECORD seconds..."
  "$TOLLAN" --headless 2>"$OUT/recorder.log" &
  REC_PID=$!
  print_wall
  sleep "$SECONDS_TO_RECORD"
  kill -INT "$REC_PID"
  # `wait` alone would stop the script through `set -e` on a failure before saying so.
  wait "$REC_PID" || REC_STATUS=$?
fi
echo "Recorder stopped (exit status $REC_STATUS). Log: $OUT/recorder.log"
if [ "$REC_STATUS" -ne 0 ]; then
  echo "The recorder failed; its last lines:" >&2
  tail -n 20 "$OUT/recorder.log" >&2
fi
cp "$TOLLAN_HOME/Logfile.txt" "$OUT/Logfile.txt" 2>/dev/null || true

echo
echo "What each camera wrote:"
for cam in $CAMERAS; do
  file=$(find "$OUT/$cam" -name '*.mjpg' | head -n 1)
  echo "[$cam camera]"
  "$BUILD/tools/mjpginfo/mjpginfo" "$file"
done
exit "$REC_STATUS"
