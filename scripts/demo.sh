#!/bin/sh
# Builds the default preset and demonstrates the whole chain with no pad
# attached: inkora-remote plays the Citrix client with the client harness,
# which loads the ica-pipe plug-in; the plug-in starts the agent, whose device
# library offers one simulated pad. The demo lists the pad, shows its display,
# draws a short signature through the pad's pen-input simulation, reads the
# strokes back until the OK button and writes signature.svg and signature.png
# into the current directory (or DEMO_OUT_DIR).
set -eu

top="$(cd "$(dirname "$0")/.." && pwd)"
out="${DEMO_OUT_DIR:-$(pwd)}"
build="$top/build/default"

cmake -S "$top" --preset default >/dev/null
cmake --build "$build" --target inkora-remote penlark-remote-standalone ica-pipe -j2 >/dev/null

exec "$build/inkora-remote" \
    --agent "$build/penlark-remote-standalone" \
    --plugin "$build/src/ica-pipe-client/ica-pipe.so" \
    --simulated 1 \
    demo --out-dir "$out"
