#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, skipping
# what is already there. Runs apt through sudo when not root. Then unpacks Debian's kernel
# for the ALSA tests' guest into BUILD_DIR/guest-kernel (never installs it).
# Usage: install-deps.sh [BUILD_DIR]   (default: build)
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config make
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libasound2-dev libjack-jackd2-dev jackd2
    libfluidsynth-dev timgm6mb-soundfont
    libgtest-dev libgmock-dev libbenchmark-dev
    fonts-liberation xvfb xauth
    rt-tests clang libclang-rt-dev
    ableton-link-dev libasio-dev liblo-dev openbox xdotool x11-utils
    dpkg-dev lintian desktop-file-utils appstream libxml2-utils shared-mime-info groff-base
    at-spi2-core python3-pyatspi dbus-x11
    qemu-system-x86 busybox-static
    weston qt6-wayland
    gdb
)
build_dir=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Without it the ALSA tests skip; the rest of the build does not need it.
mkdir -p "$build_dir"
bash "$here/../tests/alsa/fetch-kernel.sh" "$build_dir/guest-kernel" ||
    echo "install-deps: no kernel for the ALSA test guest; those tests will skip" >&2
