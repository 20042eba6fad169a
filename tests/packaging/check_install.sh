#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed files as the desktop
# and the packaging tools read them. A validator that is not installed is named and its check
# skipped. Usage: check_install.sh BUILD_DIR SOURCE_DIR VERSION BUILD_TREE_PROGRAM
set -uo pipefail
build=$1
source=$2
version=$3
build_program=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
share=$prefix/share
program=$prefix/bin/glimmerstave
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs a validator when it is installed: its output is shown, and any output or a non-zero
# status is a failure (the validators print nothing for a clean file, unless told to).
validate() {
    local tool=$1
    shift
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
        return
    fi
    local output status=0
    output=$("$tool" "$@" 2>&1) || status=$?
    if ((status != 0)) || [[ -n $output ]]; then
        fail "$tool $*: status $status"
        echo "$output"
    fi
}

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

for file in bin/glimmerstave share/applications/glimmerstave.desktop \
    share/mime/packages/glimmerstave.xml share/icons/hicolor/48x48/apps/glimmerstave.png \
    share/icons/hicolor/scalable/apps/glimmerstave.svg \
    share/metainfo/org.glimmerstave.glimmerstave.metainfo.xml \
    share/man/man1/glimmerstave.1.gz share/doc/glimmerstave/copyright \
    share/doc/glimmerstave/changelog.gz; do
    [[ -s $prefix/$file ]] || fail "$file was not installed"
done
[[ -x $program ]] || { echo "FAIL: no program installed"; exit 1; }

# The desktop's files, each by its own validator.
validate desktop-file-validate "$share/applications/glimmerstave.desktop"
validate xmllint --noout "$share/mime/packages/glimmerstave.xml"
validate xmllint --noout "$share/icons/hicolor/scalable/apps/glimmerstave.svg"
if command -v appstreamcli >/dev/null; then
    # Clean means no issue line at all, not even a pedantic one.
    status=0
    output=$(appstreamcli validate --no-net --pedantic --no-color \
        "$share/metainfo/org.glimmerstave.glimmerstave.metainfo.xml" 2>&1) || status=$?
    if ((status != 0)) || grep -qE '^[EWIP]:' <<<"$output"; then
        fail "appstreamcli validate: status $status"
        echo "$output"
    fi
else
    echo "SKIP: appstreamcli is not installed (scripts/install-deps.sh installs it)"
fi
if command -v update-mime-database >/dev/null; then
    update-mime-database "$share/mime" 2>"$work/mime.log" || fail "update-mime-database"
    grep -qx 'application/x-glimmerstave-setup:\*\.qov' "$share/mime/globs" ||
        fail "the MIME database does not map *.qov: $(cat "$work/mime.log")"
else
    echo "SKIP: update-mime-database is not installed"
fi

# The PNG icon is 48 x 48, as its folder says (width and height are bytes 16 to 23).
size=$(od -An -tu1 -j16 -N8 "$share/icons/hicolor/48x48/apps/glimmerstave.png" | tr -s ' ')
[[ $size == " 0 0 0 48 0 0 0 48" ]] || fail "the PNG icon is not 48 x 48: $size"

# The man page: no warnings from groff, every option of --help described, the version told.
help=$("$program" --help) || fail "--help"
zcat "$share/man/man1/glimmerstave.1.gz" >"$work/glimmerstave.1"
if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z "$work/glimmerstave.1" 2>&1)
    [[ -z $warnings ]] || fail "man page warnings: $warnings"
    groff -man -Tascii -P-cbou "$work/glimmerstave.1" >"$work/man.txt" 2>/dev/null
    options=$(grep -oE '^ +--[a-z-]+' <<<"$help" | tr -d ' ' | sort -u)
    [[ $(wc -l <<<"$options") -ge 10 ]] || fail "too few options found in --help: $options"
    for option in $options; do
        grep -qE -- "^ +$option( |$)" "$work/man.txt" || fail "the man page does not describe $option"
    done
else
    echo "SKIP: groff is not installed"
fi

# One version everywhere: --version, the man page, the newest release of the metainfo.
[[ $("$program" --version | head -n 1) == "Glimmerstave $version" ]] ||
    fail "--version says: $("$program" --version | head -n 1)"
grep -q "^\.TH GLIMMERSTAVE 1 .*\"Glimmerstave $version\"" "$work/glimmerstave.1" ||
    fail "the man page is not of version $version"
grep -m1 '<release ' "$share/metainfo/org.glimmerstave.glimmerstave.metainfo.xml" |
    grep -q "version=\"$version\"" || fail "the newest release in the metainfo is not $version"
grep -q "^glimmerstave ($version)" <(zcat "$share/doc/glimmerstave/changelog.gz") ||
    fail "the changelog does not start with $version"

# The installed program works from any folder.
mkdir -p "$work/elsewhere"
(cd "$work/elsewhere" &&
    "$program" --export-audio "$source/fuzz/corpus/setup_reader/v1.0.qov" out.wav --steps 4) \
    >"$work/export.log" 2>&1 || fail "--export-audio from another folder: $(cat "$work/export.log")"
[[ $(head -c 4 "$work/elsewhere/out.wav" 2>/dev/null) == RIFF ]] || fail "no WAV file written"

# At start, the installed program finds its desktop entry and file type where the desktop
# looks and writes no copies of them for the user; a program from a build tree still does.
start_window() {
    local run=$1 which=$2
    mkdir -p -m 700 "$work/$run/runtime"
    env XDG_RUNTIME_DIR="$work/$run/runtime" XDG_CONFIG_HOME="$work/$run/config" \
        XDG_DATA_HOME="$work/$run/data" XDG_DATA_DIRS="$share" PATH="$prefix/bin:$PATH" \
        QT_QPA_PLATFORM=offscreen "$which" --screenshot "$work/$run/shot.png" \
        >"$work/$run.log" 2>&1 || fail "$which --screenshot: $(cat "$work/$run.log")"
}
start_window installed "$program"
[[ -s $work/installed/shot.png ]] || fail "the installed program did not start"
[[ ! -e $work/installed/data/applications/glimmerstave.desktop ]] ||
    fail "the installed program wrote a desktop entry for the user"
[[ ! -e $work/installed/data/mime ]] || fail "the installed program wrote a file type for the user"
start_window build-tree "$build_program"
user_entry=$work/build-tree/data/applications/glimmerstave.desktop
if [[ -s $user_entry ]]; then
    grep -qxF "Exec=$build_program %f" "$user_entry" || fail "the user's entry: $(grep Exec "$user_entry")"
    validate desktop-file-validate "$user_entry"
else
    fail "the program from the build tree did not register for the user"
fi

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "PASS: installed into $prefix and checked"
