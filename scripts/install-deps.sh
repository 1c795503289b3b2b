#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds with, only those that are missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache locales
  libgtest-dev libbenchmark-dev
  libavcodec-dev libavformat-dev libavfilter-dev libavutil-dev libswscale-dev libswresample-dev
  qt6-base-dev
  # A virtual X display for looking at the windows (scripts/options-screenshot.sh).
  xvfb xauth
  libtag1-dev
  # The desktop program: its tool bar images, and a font for its full-width colons and Chinese texts.
  adwaita-icon-theme fonts-wqy-microhei
  # The tests of writing onto an exFAT volume (a loop-mounted image through FUSE).
  exfatprogs exfat-fuse
  # The check of the installed desktop entry.
  desktop-file-utils
  # The fuzz build: clang, its libFuzzer and sanitizer run times, llvm-symbolizer for the reports.
  clang libclang-rt-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
