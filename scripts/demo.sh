#!/usr/bin/env bash
# Sets up the machine, builds the programs and runs the gunshot program on a
# bundled clip the project generates, with a throw-away home directory, then
# prints the log it wrote and the camera events it raised.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target sonivaleGunshot make_clip

bin=build/default
home=$(mktemp -d /tmp/sonivale-demo.XXXXXX)
mkdir -p "$home/html"
cp demo/configparams.xml "$home/html/configparams.xml"
# Stand-in for the camera's mixer: records each call instead of touching hardware.
cat > "$home/amixer" <<'SH'
#!/bin/sh
echo "amixer $*" >> "$(dirname "$0")/amixer.calls"
SH
chmod +x "$home/amixer"
"$bin/tools/make_clip" "$home/clip.wav" --seconds 7

TK_APP_HOME=$home TSDK_AUDIO=$home/clip.wav TSDK_REALTIME=0 TSDK_LOG=$home/app.log \
  "$bin/app/sonivaleGunshot"
echo
echo "=== $home/app.log ==="
cat "$home/app.log"
echo "=== amixer calls ==="
cat "$home/amixer.calls"
echo "=== camera events ==="
cat "$home/app.log.events" 2>/dev/null || echo "(none raised)"
