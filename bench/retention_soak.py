#!/usr/bin/env python3
"""Soak of retention under a full disk: N cameras record into a small tmpfs with
--keep-free for M minutes. Samples once a second: the free share of the tmpfs,
whether every camera's newest file grew, and at the end the log's failures.

Needs root (it mounts the tmpfs). Talks only to 127.0.0.1 (the test camera).

  sudo bench/retention_soak.py --tollan build/dev/recorder/ui/tollan \
       --testcam build/dev/tools/testcam/testcam [--minutes 10] [--cameras 4] \
       [--size-mb 512] [--keep-free 20]
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def run(tollan, home, *args):
    env = dict(os.environ, TOLLAN_HOME=home)
    out = subprocess.run([tollan, *args], env=env, capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"tollan {' '.join(args)} failed: {out.stderr}")
    return out.stdout


def free_percent(path):
    st = os.statvfs(path)
    total = st.f_blocks - st.f_bfree + st.f_bavail
    return 100.0 * st.f_bavail / total if total else 100.0


def newest_size(folder):
    best = (0, 0)
    for dirpath, _, names in os.walk(folder):
        for n in names:
            try:
                st = os.stat(os.path.join(dirpath, n))
            except FileNotFoundError:
                continue
            best = max(best, (st.st_mtime_ns, st.st_size))
    return best


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tollan", required=True)
    p.add_argument("--testcam", required=True)
    p.add_argument("--minutes", type=float, default=10)
    p.add_argument("--cameras", type=int, default=4)
    p.add_argument("--size-mb", type=int, default=512)
    p.add_argument("--keep-free", type=int, default=20)
    p.add_argument("--fps", type=int, default=10)
    a = p.parse_args()

    work = tempfile.mkdtemp(prefix="tollan_soak_")
    home, disk = os.path.join(work, "home"), os.path.join(work, "disk")
    os.makedirs(home)
    os.makedirs(disk)
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={a.size_mb}m", "tmpfs", disk], check=True)
    cam = rec = None
    try:
        port_file = os.path.join(work, "port")
        cam = subprocess.Popen([a.testcam, "--port", "0", "--port-file", port_file, "--width", "320", "--height",
                                "240", "--fps", str(a.fps), "--noise"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.05)
        url = f"http://127.0.0.1:{open(port_file).read().strip()}/video.mjpg"
        for i in range(a.cameras):
            index = run(a.tollan, home, "--add-ip", url, "--push-stream").strip()
            run(a.tollan, home, "--set", index, f"savePath={disk}/cam{i}/%H%M/video.mjpg", "frameDelayMs=0",
                "motionEnabled=0")
        run(a.tollan, home, "--keep-free", str(a.keep_free))
        run(a.tollan, home, "--log-to-file", "1")

        rec = subprocess.Popen([a.tollan, "--headless"], env=dict(os.environ, TOLLAN_HOME=home),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        start = time.monotonic()
        samples = under = longest_under = run_under = 0
        lowest = 100.0
        stalls = 0          # camera-seconds in which a camera's newest file did not grow
        longest_stall = 0   # seconds, any camera
        last = [None] * a.cameras
        still = [0] * a.cameras
        time.sleep(3)       # connect
        while time.monotonic() - start < a.minutes * 60:
            time.sleep(1)
            samples += 1
            f = free_percent(disk)
            lowest = min(lowest, f)
            if f < a.keep_free:
                under += 1
                run_under += 1
                longest_under = max(longest_under, run_under)
            else:
                run_under = 0
            for i in range(a.cameras):
                now = newest_size(os.path.join(disk, f"cam{i}"))
                if now == last[i]:
                    still[i] += 1
                    stalls += 1
                    longest_stall = max(longest_stall, still[i])
                else:
                    still[i] = 0
                last[i] = now
        rec.send_signal(signal.SIGINT)
        rec.wait(timeout=120)
        rec = None
        log = open(os.path.join(home, "Logfile.txt"), errors="replace").read()
        removed = log.count("Recording removed to stay within limits")
        failures = sum(log.count(t) for t in ("Write error", "Failed to create", "Frame was dropped"))
        print(f"cameras {a.cameras}, {a.minutes:g} min, tmpfs {a.size_mb} MB, keep-free {a.keep_free} %, "
              f"{a.fps} fps 320x240 noise")
        print(f"samples {samples} (1/s); free share lowest {lowest:.1f} %; seconds under the limit {under}, "
              f"longest run under it {longest_under} s")
        print(f"recordings removed {removed}; failed writes (write errors, failed creates, drops) {failures}")
        print(f"camera-seconds without growth {stalls}; longest {longest_stall} s")
    finally:
        if rec:
            rec.kill()
        if cam:
            cam.kill()
        subprocess.run(["umount", disk])
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
