#!/usr/bin/env bash
# 720p H.264 to 640x360 MPEG-4 in AVI: "veloxc convert" against a GStreamer pipeline doing the same
# work (decode, scale, encode at the encoder's default bit rate, mux), alternating, medians of RUNS
# runs each, with the processor time of each.
#
# Usage: bench/video_vs_gstreamer.sh [BUILD_DIR] [RUNS] [SECONDS]
#   BUILD_DIR  a release build with the benchmarks (default: build), made with
#              cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build
#   RUNS       runs of each (default: 5);  SECONDS  length of the source (default: 60)
# Needs: apt-get install gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
length=${3:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bin/make_video" "$work/source.mp4" "$length" 1280 720 2>/dev/null
# The same stream in Matroska: GStreamer's MP4 reader takes the source for a fragmented file.
"$build/bin/veloxc" convert "$work/source.mp4" "$work/source.mkv" --out vcodec=copy 2>/dev/null

source bench/timing.sh
velox() { "$build/bin/veloxc" convert "$work/source.mkv" "$work/v.avi" --out s=640x360 --out vcodec=mpeg4; }
gst() {
  gst-launch-1.0 -q filesrc location="$work/source.mkv" ! matroskademux ! h264parse ! avdec_h264 ! videoscale \
    ! video/x-raw,width=640,height=360 ! avenc_mpeg4 ! avimux ! filesink location="$work/g.avi"
}

: > "$work/v.times"; : > "$work/g.times"
for _ in $(seq "$runs"); do
  rm -f "$work/v.avi" && seconds velox >> "$work/v.times"
  rm -f "$work/g.avi" && seconds gst >> "$work/g.times"
done
v=$(median < "$work/v.times"); g=$(median < "$work/g.times")
echo "${length} s of 720p H.264 to 640x360 MPEG-4: veloxc ${v}s, GStreamer ${g}s"
awk -v v="$v" -v g="$g" 'BEGIN { printf "  ratio veloxc/GStreamer: %.3f (target at most 1.0)\n", v / g }'
awk -v v="$(median 2 < "$work/v.times")" -v g="$(median 2 < "$work/g.times")" \
  'BEGIN { printf "  processor time: veloxc %.2f s, GStreamer %.2f s\n", v, g }'
ls -l "$work/v.avi" "$work/g.avi" | awk '{ print "  " $5 " bytes " $9 }'
