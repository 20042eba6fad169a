#!/bin/bash
# Runs a test program on the X server of xvfb-run with openbox managing its windows, as on a
# desktop: focus follows clicks, and a window that refuses the focus never gets the keys.
set -u
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null' EXIT
deadline=$((SECONDS + 10))
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    if ((SECONDS >= deadline)); then
        echo "openbox did not take the screen within 10 s" >&2
        exit 1
    fi
    sleep 0.1
done
"$@"
