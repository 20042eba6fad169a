#!/usr/bin/env bash
# Runs a program as the client of a weston of its own: the headless backend on a private
# socket, so it needs no display and no desktop (CI has neither). Ends with status 77, which
# CTest counts as skipped, when weston or Qt's Wayland plugin is not installed.
# Usage: with_weston.sh [--screenshots] PROGRAM [ARGS...]
# --screenshots lets the program's own weston-screenshooter take pictures of the output.
set -u
debug=()
if [[ ${1:-} == --screenshots ]]; then
    debug=(--debug)
    shift
fi
if ! command -v weston >/dev/null; then
    echo "SKIP: weston is not installed (Debian package weston): no Wayland test"
    exit 77
fi
work=$(mktemp -d)
weston_pid=
cleanup() {
    if [[ -n $weston_pid ]]; then
        kill "$weston_pid" 2>/dev/null
        wait "$weston_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/runtime"
unset DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET
socket="$work/runtime/glimmerstave-test-$$"

XDG_RUNTIME_DIR="$work/runtime" weston --backend=headless-backend.so --use-pixman \
    --socket="glimmerstave-test-$$" --width=1024 --height=768 --idle-time=0 --no-config \
    "${debug[@]}" --log="$work/weston.log" >/dev/null 2>&1 &
weston_pid=$!
deadline=$((SECONDS + 10))
until [[ -S $socket ]]; do
    if ((SECONDS >= deadline)) || ! kill -0 "$weston_pid" 2>/dev/null; then
        echo "FAIL: weston did not open its socket within 10 s"
        cat "$work/weston.log"
        exit 1
    fi
    sleep 0.1
done

# An absolute socket path: the tests give the program a runtime folder of its own. No input
# method: Qt's Wayland text input asks the seat for it, and this compositor has no seat (a
# click in a text field would crash Qt).
export WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland XDG_RUNTIME_DIR="$work/runtime" \
    QT_IM_MODULE=none
status=0
"$@" 2>"$work/program.err" || status=$?
if grep -q 'Could not find the Qt platform plugin "wayland"' "$work/program.err"; then
    echo "SKIP: Qt's Wayland plugin is not installed (Debian package qt6-wayland)"
    exit 77
fi
cat "$work/program.err" >&2
exit "$status"
