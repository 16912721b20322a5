#!/usr/bin/python3
"""The camera wall in a real browser: headless Chromium opens the wall of a
recorder with two test cameras, waits until both tiles show pictures, checks
that their pixels change, opens one camera alone, and saves screenshots."""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By


def wait_for(condition, seconds, what):
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def tollan(binary, home, *args):
    env = dict(os.environ, TOLLAN_HOME=home)
    subprocess.run([binary, *args], env=env, check=True, stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tollan", required=True)
    parser.add_argument("--testcam", required=True)
    parser.add_argument("--out", required=True, help="screenshot of the wall (PNG); the single view goes beside it")
    args = parser.parse_args()

    home = tempfile.mkdtemp(prefix="tollan_wall_")
    profile = tempfile.mkdtemp(prefix="tollan_chromium_")
    camera = recorder = driver = None
    try:
        port_file = os.path.join(home, "port")
        camera = subprocess.Popen([args.testcam, "--port", "0", "--port-file", port_file, "--motion",
                                   "--fps", "10", "--width", "320", "--height", "240"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port = wait_for(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 10, "the test camera")
        for index, name in enumerate(["Front door", "Back yard"]):
            tollan(args.tollan, home, "--add-ip", "http://127.0.0.1:%s/video.mjpg" % port, "--push-stream")
            tollan(args.tollan, home, "--set", str(index), "savePath=%s/rec%d/video.mjpg" % (home, index),
                   "frameDelayMs=0", "motionEnabled=%d" % index, "name=" + name)
        tollan(args.tollan, home, "--serve", "127.0.0.1:0")

        log_path = os.path.join(home, "recorder.log")
        with open(log_path, "w") as log:
            recorder = subprocess.Popen([args.tollan, "--headless"], env=dict(os.environ, TOLLAN_HOME=home),
                                        stderr=log, stdout=subprocess.DEVNULL)

        def wall_url():
            found = re.search(r"Camera wall: (http://127\.0\.0\.1:\d+/)", open(log_path).read())
            return found and found.group(1)
        url = wait_for(wall_url, 15, "the recorder's wall address")

        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile, "--window-size=900,600"]:
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                                  options=options)
        driver.get(url)

        def tiles_with_pictures():
            tiles = driver.find_elements(By.CSS_SELECTOR, "#wall .tile")
            if len(tiles) != 2:
                return None
            for tile in tiles:
                if not driver.execute_script(
                        "const i = arguments[0].querySelector('img');"
                        "return arguments[0].classList.contains('has') && i.complete && i.naturalWidth > 0;", tile):
                    return None
            return tiles
        tiles = wait_for(tiles_with_pictures, 20, "both tiles to show pictures")
        names = [t.find_element(By.CSS_SELECTOR, ".name").text for t in tiles]
        assert names == ["Front door", "Back yard"], names
        for tile in tiles:
            status = tile.find_element(By.CSS_SELECTOR, ".status").text
            assert status.startswith("Started"), status

        before = [t.find_element(By.CSS_SELECTOR, "img").screenshot_as_png for t in tiles]
        time.sleep(2)
        after = [t.find_element(By.CSS_SELECTOR, "img").screenshot_as_png for t in tiles]
        for i, (a, b) in enumerate(zip(before, after)):
            assert a != b, "tile %d shows the same pixels after two seconds" % i
        driver.save_screenshot(args.out)

        # A click opens the camera alone, on its MJPEG stream.
        tiles[1].click()
        wait_for(lambda: driver.execute_script(
            "const s = document.getElementById('stream');"
            "return document.body.classList.contains('alone') && s.src.endsWith('/cameras/1/stream.mjpg')"
            " && s.naturalWidth > 0;"), 15, "the single camera's stream")
        assert driver.find_element(By.ID, "singleName").text == "Back yard"
        driver.save_screenshot(re.sub(r"\.png$", "", args.out) + "_alone.png")

        # On a phone's screen the wall is one column of whole tiles.
        driver.get(url)
        driver.set_window_size(390, 844)
        tiles = wait_for(tiles_with_pictures, 20, "both tiles on a phone's screen")
        widths = driver.execute_script("return [innerWidth, ...[...document.querySelectorAll('#wall .tile')]"
                                       ".map(t => t.getBoundingClientRect().right)];")
        assert all(right <= widths[0] for right in widths[1:]), widths
        assert tiles[0].rect["y"] < tiles[1].rect["y"], "tiles side by side on a phone"
        driver.save_screenshot(re.sub(r"\.png$", "", args.out) + "_phone.png")
        print("wall at %s: both tiles show changing pictures; screenshots in %s" % (url, args.out))
        return 0
    finally:
        if driver:
            driver.quit()
        if recorder:
            recorder.send_signal(signal.SIGINT)
            try:
                code = recorder.wait(60)
            except subprocess.TimeoutExpired:
                recorder.kill()
                code = -1
            if code != 0:
                print("the recorder ended with %s:\n%s" % (code, open(os.path.join(home, "recorder.log")).read()),
                      file=sys.stderr)
                sys.exit(1)
        if camera:
            camera.terminate()
            camera.wait(10)
        shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
