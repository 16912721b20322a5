#!/usr/bin/env bash
# Fault and soak run of the headless recorder (not part of the tests):
# 8 push-stream cameras against test cameras that go through their fault modes
# one after another (refuse, close mid-frame, stall, HTML error page, garbage,
# oversized pictures), a ninth camera saving onto a small tmpfs that fills up,
# and a kill -9 of the recorder with a restart (appending) partway through.
# Everything talks to 127.0.0.1 only.
#   bench/soak.sh BUILD_DIR [SECONDS]     (default 600)
# At the end it reports: whether every MJPG file parses to its last whole frame,
# frames written per camera against frames the test camera served, the failure
# and recovery events of each outage, and the recorder's resident memory and
# open descriptors after its restart and at the end.
set -euo pipefail
BUILD=$(cd "${1:?usage: bench/soak.sh BUILD_DIR [SECONDS]}" && pwd)
DURATION=${2:-600}
TOLLAN=$BUILD/recorder/ui/tollan
TESTCAM=$BUILD/tools/testcam/testcam
MJPGINFO=$BUILD/tools/mjpginfo/mjpginfo
for p in "$TOLLAN" "$TESTCAM" "$MJPGINFO"; do [ -x "$p" ] || { echo "missing $p (build first)" >&2; exit 1; }; done
CAMS=8
FAULTS=(refuse close-mid-frame stall html-error garbage oversized)
STEP=$(( DURATION / 16 )); [ "$STEP" -lt 6 ] && STEP=6   # one fault every STEP seconds
FAULT_LEN=$(( STEP * 2 / 3 ))

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tollan-soak-XXXXXX")
export TOLLAN_HOME=$WORK/home HOME=$WORK/home QT_QPA_PLATFORM=offscreen
mkdir -p "$TOLLAN_HOME" "$WORK/rec" "$WORK/cam" "$WORK/small"
declare -a PORT CAMPID
RECPID=
SMALL_MOUNTED=0
cleanup() {
  [ -n "$RECPID" ] && kill -9 "$RECPID" 2>/dev/null || true
  for i in "${!CAMPID[@]}"; do kill "${CAMPID[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ "$SMALL_MOUNTED" = 1 ]; then umount "$WORK/small" 2>/dev/null || sudo -n umount "$WORK/small" 2>/dev/null || true; fi
  if [ -n "${KEEP:-}" ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

now() { date +%s.%N; }
start_cam() {  # $1 camera, $2 mode, $3 port (0: any)
  local i=$1 n=${CAMSTART[$1]:-0}
  CAMSTART[$i]=$((n + 1))
  local pf=$WORK/cam/$i.port.$n
  "$TESTCAM" --port "$3" --port-file "$pf" --width 320 --height 240 --fps 8 --motion --mode "$2" \
    >"$WORK/cam/$i.out.$n" 2>&1 &
  CAMPID[$i]=$!
  for _ in $(seq 100); do [ -s "$pf" ] && break; sleep 0.05; done
  PORT[$i]=$(cat "$pf")
}
stop_cam() { kill "${CAMPID[$1]}" 2>/dev/null || true; wait "${CAMPID[$1]}" 2>/dev/null || true; }
declare -a CAMSTART

for i in $(seq 0 $((CAMS - 1))); do start_cam "$i" normal 0; done
for i in $(seq 0 $((CAMS - 1))); do
  "$TOLLAN" --add-ip "http://127.0.0.1:${PORT[$i]}/video.mjpg" --push-stream >/dev/null
  "$TOLLAN" --set "$i" "savePath=$WORK/rec/cam$i/video.mjpg" frameDelayMs=0 motionEnabled=0 overlayEnabled=1 >/dev/null
done
# The ninth camera records the first test camera onto a 1 MB tmpfs (root or sudo -n needed).
if mount -t tmpfs -o size=1m tmpfs "$WORK/small" 2>/dev/null || sudo -n mount -t tmpfs -o size=1m tmpfs "$WORK/small" 2>/dev/null; then
  SMALL_MOUNTED=1
  "$TOLLAN" --add-ip "http://127.0.0.1:${PORT[0]}/video.mjpg" --push-stream >/dev/null
  "$TOLLAN" --set "$CAMS" "savePath=$WORK/small/video.mjpg" frameDelayMs=0 motionEnabled=0 >/dev/null
else
  echo "note: no tmpfs could be mounted (needs root); the full-disk camera is left out"
fi
"$TOLLAN" --log-to-file 1 >/dev/null

start_recorder() {
  "$TOLLAN" --headless 2> >(while IFS= read -r line; do echo "$(now) $line"; done >>"$WORK/recorder.log") &
  RECPID=$!
}
sample() {  # $1 label
  local rss fds
  rss=$(awk '/^VmRSS/{print $2}' "/proc/$RECPID/status")
  fds=$(ls "/proc/$RECPID/fd" | wc -l)
  echo "$1 $rss $fds" >>"$WORK/samples"
}

: >"$WORK/cam/modes"
T0=$(date +%s)
start_recorder
KILL_AT=$(( DURATION * 2 / 5 ))   # the first fault slot from here on is the kill's instead
KILLED_AT=
killed=0
fault=0
next_fault=$STEP
SETTLE=$(( STEP < 15 ? STEP : 15 ))
while :; do
  t=$(( $(date +%s) - T0 ))
  [ "$t" -ge "$DURATION" ] && break
  if [ "$t" -ge "$next_fault" ] && [ "$killed" = 0 ] && [ "$next_fault" -ge "$KILL_AT" ]; then
    # Between two faults, so that no outage is cut short by the kill.
    kill -9 "$RECPID"; wait "$RECPID" 2>/dev/null || true
    KILLED_AT=$t
    echo "$(now) recorder killed" >>"$WORK/cam/modes"
    start_recorder
    killed=1
    (sleep "$SETTLE"; kill -0 "$RECPID" 2>/dev/null && sample start) || true
    next_fault=$(( next_fault + STEP ))
    continue
  fi
  if [ "$t" -ge "$next_fault" ] && [ $((t + FAULT_LEN + 2)) -lt "$DURATION" ]; then
    cam=$(( fault % CAMS )); mode=${FAULTS[$(( fault % ${#FAULTS[@]} ))]}
    fault=$((fault + 1))
    port=${PORT[$cam]}
    echo "$(now) $cam $mode" >>"$WORK/cam/modes"   # the outage begins as the camera goes away
    stop_cam "$cam"
    if [ "$mode" = refuse ]; then
      ( sleep "$FAULT_LEN" ) && start_cam "$cam" normal "$port"
    else
      start_cam "$cam" "$mode" "$port"
      sleep "$FAULT_LEN"
      stop_cam "$cam"
      start_cam "$cam" normal "$port"
    fi
    next_fault=$(( next_fault + STEP ))
    continue
  fi
  sleep 1
done
sample end
echo "$(now) recorder stopping" >>"$WORK/cam/modes"   # outages are judged up to here
kill -TERM "$RECPID"
wait "$RECPID" 2>/dev/null || true
RECPID=
for i in $(seq 0 $((CAMS - 1))); do stop_cam "$i"; done

echo "soak: ${DURATION}s, $CAMS cameras, a fault every ${STEP}s for ${FAULT_LEN}s, kill -9 at ${KILLED_AT:-(none)}s"
python3 - "$WORK" "$MJPGINFO" "$CAMS" <<'PY'
import glob, os, re, subprocess, sys
work, mjpginfo, cams = sys.argv[1], sys.argv[2], int(sys.argv[3])
ok = True

# 1. Every MJPG file parses to its last whole frame.
written = {}
for path in sorted(glob.glob(work + "/rec/*/*.mjpg") + glob.glob(work + "/small/*.mjpg")):
    r = subprocess.run([mjpginfo, path], capture_output=True, text=True)
    m = re.search(r"frames: (\d+)", r.stdout)
    frames = int(m.group(1)) if m else 0
    tail = re.search(r"(\d+) bytes after the last whole frame", r.stdout)
    name = os.path.relpath(path, work)
    written[name] = frames
    state = "whole" if not tail and frames > 0 else ("%s bytes after the last whole frame" % tail.group(1) if tail else "no frames")
    if state != "whole":
        ok = False
    print("file %-28s %7d frames  %s" % (name, frames, state))

# 2. Frames written against frames served (every test camera run of that camera).
for i in range(cams):
    served = 0
    for out in glob.glob(work + "/cam/%d.out.*" % i):
        m = re.search(r"FRAMES (\d+)", open(out).read())
        served += int(m.group(1)) if m else 0
    w = written.get("rec/cam%d/video.mjpg" % i, 0)
    note = ""
    if i == 0 and "small/video.mjpg" in written:
        # The full-disk camera reads camera 0's test camera too: that one serves both.
        w += written["small/video.mjpg"]
        note = " (with the full-disk camera's %d)" % written["small/video.mjpg"]
    print("camera %d: %d frames written, %d served%s (%.1f %%)" % (i, w, served, note, 100.0 * w / served if served else 0))

# 3. Failure and recovery events per outage.
modes = [l.split() for l in open(work + "/cam/modes")]
log = [l.rstrip("\n") for l in open(work + "/recorder.log", errors="replace")]
failure = re.compile(r"Socket connect failed|Socket Error|Camera answered with an error|Image could not be decoded|"
                     r"Buffer|Socket thread exited")
recovery = re.compile(r"ReEstablished")
outages = [(float(m[0]), int(m[1]), m[2]) for m in modes if len(m) == 3 and m[2] != "normal" and m[1].isdigit()]
ends = [float(m[0]) for m in modes if len(m) >= 3 and m[1] == "recorder"]  # the kill and the final stop
for n, (t, cam, mode) in enumerate(outages):
    later = [o[0] for o in outages if o[1] == cam and o[0] > t] + ends
    end = min([x for x in later if x > t], default=float("inf"))
    fails = recs = 0
    for line in log:
        parts = line.split(" ", 1)
        if len(parts) < 2:
            continue
        when, text = float(parts[0]), parts[1]
        if not (t <= when < end) or not text.startswith("camera %d:" % cam):
            continue
        fails += bool(failure.search(text))
        recs += bool(recovery.search(text))
    verdict = "ok" if fails == 1 and recs == 1 else "CHECK"
    if verdict != "ok":
        ok = False
    print("outage %2d camera %d %-16s failures %d recoveries %d  %s" % (n, cam, mode, fails, recs, verdict))

# 4. Memory and descriptors after the restart and at the end.
samples = {}
if os.path.exists(work + "/samples"):
    for l in open(work + "/samples"):
        label, rss, fds = l.split()
        samples[label] = (int(rss), int(fds))
if "start" in samples and "end" in samples:
    (r0, f0), (r1, f1) = samples["start"], samples["end"]
    growth = 100.0 * (r1 - r0) / r0
    print("resident memory %d kB -> %d kB (%+.1f %%), open descriptors %d -> %d" % (r0, r1, growth, f0, f1))
    if growth > 10 or f0 != f1:
        ok = False
else:
    print("no memory samples"); ok = False
print("soak report: " + ("clean" if ok else "NOT CLEAN"))
sys.exit(0 if ok else 1)
PY
