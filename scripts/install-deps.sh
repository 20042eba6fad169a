#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, skipping
# what is already there. Runs apt through sudo when not root.
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
    weston qt6-wayland
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
