#!/usr/bin/env bash
# Installs every Debian package the suite needs to build, test, benchmark and run.
# Safe to run again: packages already present are skipped without touching apt.
#   scripts/deps.sh          everything for build, test, demo and bench
#   scripts/deps.sh fuzz     and clang with libFuzzer for the fuzz targets
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libturbojpeg0-dev libcurl4-openssl-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libv4l-dev libcanberra-dev libmicrohttpd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core locales
  python3 python3-pyftpdlib ffmpeg
  # the RTSP test camera (tools/rtspcam): GStreamer's RTSP server with H.264/H.265 encoders
  python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad gstreamer1.0-x
  # the camera wall's browser test: headless Chromium driven through Selenium
  chromium chromium-driver python3-selenium
)
case "${1:-}" in
  fuzz) PACKAGES+=(clang libclang-rt-14-dev) ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
