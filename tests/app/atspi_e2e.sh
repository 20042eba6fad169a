#!/usr/bin/env bash
# The program as a screen reader meets it: its own X server (Xvfb) and a private D-Bus
# session with the accessibility bus, then atspi_e2e.py finds the play button by name,
# presses it, and reads and raises a velocity. Skips (status 77) with a message when a tool
# is missing. Usage: atspi_e2e.sh PROGRAM [DUMP_FILE]
set -uo pipefail
program=$1
dump=${2:-}
here=$(cd "$(dirname "$0")" && pwd)

# pyatspi comes with Debian's own Python; another python3 earlier on the PATH lacks it.
python=/usr/bin/python3
[[ -x $python ]] || python=python3

missing=()
command -v Xvfb >/dev/null || missing+=("Xvfb (xvfb)")
command -v dbus-run-session >/dev/null || missing+=("dbus-run-session (dbus)")
[[ -x /usr/libexec/at-spi-bus-launcher ]] || missing+=("at-spi-bus-launcher (at-spi2-core)")
"$python" -c "import pyatspi" 2>/dev/null || missing+=("pyatspi (python3-pyatspi)")
if ((${#missing[@]} > 0)); then
    echo "SKIP: the AT-SPI test needs ${missing[*]}; scripts/install-deps.sh installs them"
    exit 77
fi

work=$(mktemp -d)
cleanup() {
    [[ -n "${xvfb:-}" ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export JACK_NO_START_SERVER=1
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS

# Xvfb picks a free display itself and writes its number to the file descriptor. -noreset:
# the accessibility bus launcher connects and leaves again, and a server that resets when its
# last client leaves refuses the program if it connects during that reset.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
deadline=$((SECONDS + 10))
while ((SECONDS < deadline)) && [[ ! -s $work/display ]]; do
    sleep 0.025
done
if [[ ! -s $work/display ]]; then
    echo "FAIL: Xvfb did not start"
    cat "$work/xvfb.log"
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

# The session bus starts the accessibility bus when asked for it (D-Bus activation).
dbus-run-session -- "$python" "$here/atspi_e2e.py" "$program" "$work" "$dump"
