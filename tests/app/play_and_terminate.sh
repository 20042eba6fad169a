#!/usr/bin/env bash
# The program offscreen, playing with --play through the embedded synthesizer on a JACK
# server of this test's own (dummy driver), logging its MIDI; SIGTERM must close it cleanly:
# exit status 0, All Notes Off sent, the instance's bus socket gone.
set -uo pipefail
program=$1
work=$(mktemp -d)
server="glimmerstave-play-$$"
cleanup() {
    [[ -n "${app:-}" ]] && kill -9 "$app" 2>/dev/null
    [[ -n "${jack:-}" ]] && kill "$jack" 2>/dev/null && wait "$jack" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export JACK_DEFAULT_SERVER="$server" QT_QPA_PLATFORM=offscreen

jackd -n "$server" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jack=$!
deadline=$((SECONDS + 10))
while ((SECONDS < deadline)); do
    jack_wait -s "$server" -c 2>/dev/null | grep -qx running && break
    sleep 0.025
done

"$program" --play --midi-log "$work/midi.log" >"$work/app.log" 2>&1 &
app=$!
# Steps come every 119 ms at the default tempo: wait for a few of them.
deadline=$((SECONDS + 10))
while ((SECONDS < deadline)); do
    [[ -f "$work/midi.log" ]] && (($(grep -c . "$work/midi.log") >= 12)) && break
    sleep 0.025
done
lines=$(grep -c . "$work/midi.log" 2>/dev/null || echo 0)
if ((lines < 12)); then
    echo "FAIL: only $lines MIDI messages logged while playing"
    cat "$work/app.log" "$work/jackd.log"
    exit 1
fi
bus_sockets=$(find "$XDG_RUNTIME_DIR" -name '*.bus' | wc -l)

kill -TERM "$app"
status=0
wait "$app" || status=$?
app=""
if ((status != 0)); then
    echo "FAIL: exit status $status after SIGTERM"
    cat "$work/app.log"
    exit 1
fi
if ! tail -n 3 "$work/midi.log" | grep -qi 'b0 7b 00'; then
    echo "FAIL: no All Notes Off at the end of the log"
    tail -n 5 "$work/midi.log"
    exit 1
fi
left=$(find "$XDG_RUNTIME_DIR" -name '*.bus' | wc -l)
if ((bus_sockets == 0 || left != 0)); then
    echo "FAIL: bus sockets before $bus_sockets, after $left"
    exit 1
fi
echo "PASS: $lines messages while playing, clean exit on SIGTERM"
