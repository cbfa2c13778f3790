#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window after a scan of a few generated
# pictures, on a virtual X server. Needs Xvfb and ImageMagick (development
# time only): apt-get install xvfb imagemagick
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'kill $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
magick=/usr/bin/convert
mkdir -p "$work/photos/holiday" "$work/config"
$magick -size 640x480 gradient:skyblue-navy -fill orange -draw "circle 320,240 320,120" "$work/photos/sunset.jpg"
$magick "$work/photos/sunset.jpg" -resize 320x240 "$work/photos/holiday/sunset small.jpg"
$magick "$work/photos/sunset.jpg" -quality 60 "$work/photos/holiday/sunset copy.jpg"
$magick -size 640x480 plasma:fractal -seed 4 "$work/photos/plasma.jpg"
$magick "$work/photos/plasma.jpg" -modulate 104 "$work/photos/holiday/plasma brighter.jpg"
$magick -size 640x480 gradient:green-yellow "$work/photos/meadow.jpg"
Xvfb :93 -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
XDG_CONFIG_HOME="$work/config" DISPLAY=:93 build/bin/tarvelle "$work/photos" &
app_pid=$!
sleep 4
mkdir -p docs
DISPLAY=:93 /usr/bin/import -window root -crop 700x560+162+104 +repage docs/screenshot.png || true
kill $app_pid 2>/dev/null || true
echo "docs/screenshot.png written"
