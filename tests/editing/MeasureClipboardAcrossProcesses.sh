#!/usr/bin/env bash
# Copy Measure in one program process, Paste Measure in another, through the clipboard of a
# real X server (run under xvfb-run). Usage: MeasureClipboardAcrossProcesses.sh PEER
set -euo pipefail
peer=$1
work=$(mktemp -d)
trap 'touch "$work/done"; wait 2>/dev/null; rm -rf "$work"' EXIT
mkdir -m 0700 "$work/runtime" "$work/config" "$work/data"
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=xcb

"$peer" copy "$work" &
copier=$!
deadline=$((SECONDS + 30))
while ((SECONDS < deadline)); do
    [[ -e $work/copied ]] && break
    kill -0 "$copier" 2>/dev/null || { echo "the copying program ended early"; exit 1; }
    sleep 0.1
done
[[ -e $work/copied ]] || { echo "the copying program never copied"; exit 1; }

status=0
"$peer" paste "$work" || status=$?
touch "$work/done"
wait "$copier" || { echo "the copying program failed"; status=1; }
exit "$status"
