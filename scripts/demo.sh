#!/bin/sh
# Builds the default preset and runs the demonstration of the wire-protocol
# engine: a few messages encoded by one dispatch and decoded by another,
# shown as their bytes on the wire and their decoded rendering.
set -eu

cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target inkora-wire-demo >/dev/null
exec ./build/default/src/inkora-nibline-serial/inkora-wire-demo
