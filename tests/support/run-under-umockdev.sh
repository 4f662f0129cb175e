#!/bin/sh
# Runs a test program under umockdev's preload, so that its udev and hidraw
# calls reach the testbed the program sets up. ASan's link-order check would
# refuse the preloaded library, so it is switched off for these runs only.
if command -v umockdev-wrapper >/dev/null 2>&1; then
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
    export ASAN_OPTIONS
    exec umockdev-wrapper "$@"
fi
exec "$@"
