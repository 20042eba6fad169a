#!/usr/bin/env bash
# Builds the Debian package from the build tree, as `make package` does, and checks it:
# lintian reports no error, the dependencies come from the shared libraries plus a General
# MIDI sound font, and the unpacked program runs. Prints lintian's full report.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1
source=$2
for tool in lintian dpkg-shlibdeps dpkg-deb; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
        exit 77
    fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
packages=("$work"/out/glimmerstave_*.deb)
[[ -f ${packages[0]} ]] || { echo "FAIL: no package made"; cat "$work/cpack.log"; exit 1; }
package=${packages[0]}
echo "Package: $(basename "$package")"

depends=$(dpkg-deb -f "$package" Depends)
echo "Depends: $depends"
[[ $depends == *"timgm6mb-soundfont | fluid-soundfont-gm"* ]] || fail "no sound font in Depends"
for library in libqt6widgets6 libfluidsynth3 libasound2 libjack; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library: dpkg-shlibdeps did not run"
done

# Lintian as a package archive would run it; as root it says so, which is no finding.
lintian --tag-display-limit 0 --display-info "$package" >"$work/lintian.log" 2>&1
echo "lintian:"
sed 's/^/    /' "$work/lintian.log"
if grep -q '^E:' "$work/lintian.log"; then
    fail "lintian reports errors"
fi

# The program inside runs from another folder, on the libraries the system has.
dpkg-deb -x "$package" "$work/root"
mkdir -p "$work/elsewhere"
(cd "$work/elsewhere" && "$work/root/usr/bin/glimmerstave" --export-audio \
    "$source/fuzz/corpus/setup_reader/v1.0.qov" out.wav --steps 4) >"$work/run.log" 2>&1 ||
    fail "the packaged program: $(cat "$work/run.log")"
[[ -s $work/elsewhere/out.wav ]] || fail "the packaged program wrote no WAV file"

if ((failures > 0)); then
    exit 1
fi
echo "PASS: $(basename "$package") passes lintian without errors"
