#!/usr/bin/env bash
# The program with no display at all: the options for scripts still run (the screenshot on
# Qt's offscreen platform), and the window ends with one clear line and status 1, never an
# abort. Usage: without_display.sh PROGRAM SETUP
set -uo pipefail
program=$1
setup=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

status=0
"$program" --screenshot "$work/shot.png" "$setup" >"$work/shot.log" 2>&1 || status=$?
if ((status != 0)) || [[ ! -s $work/shot.png ]]; then
    echo "FAIL: --screenshot without a display: status $status"
    cat "$work/shot.log"
    exit 1
fi

"$program" --dump "$setup" >/dev/null 2>"$work/dump.log" || { echo "FAIL: --dump"; exit 1; }

status=0
"$program" "$setup" >"$work/window.out" 2>"$work/window.err" || status=$?
if ((status != 1)); then
    echo "FAIL: the window without a display ended with status $status"
    cat "$work/window.err"
    exit 1
fi
if [[ $(grep -c . "$work/window.err") != 1 ]] || ! grep -q "no display" "$work/window.err"; then
    echo "FAIL: the window without a display did not say so in one line:"
    cat "$work/window.err"
    exit 1
fi
echo "PASS: screenshot and dump without a display, the window refused in one line"
