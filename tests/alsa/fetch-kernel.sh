#!/usr/bin/env bash
# Puts Debian 12's current kernel (the package linux-image-amd64 depends on) into DIR for the
# ALSA test guest: downloaded with apt-get download and unpacked with dpkg -x, never
# installed. Only the kernel image and the module folders the guest loads from are kept.
# Does nothing when DIR already holds that package.
# Usage: fetch-kernel.sh DIR
set -euo pipefail
target=$1

kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

package=$(kernel_package)
if [[ -z "$package" ]]; then
    apt-get update -qq
    package=$(kernel_package)
fi
if [[ -z "$package" ]]; then
    echo "fetch-kernel: no kernel package found for linux-image-amd64" >&2
    exit 1
fi
if [[ -f "$target/package" && "$(cat "$target/package")" == "$package" ]]; then
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Unpacking $package into $target (not installed)"
if ! (cd "$work" && apt-get download -qq "$package" 2>/dev/null); then
    apt-get update -qq
    (cd "$work" && apt-get download -qq "$package")
fi
dpkg -x "$work"/*.deb "$work/tree"
rm -rf "$target"
mkdir -p "$target/boot"
cp "$work"/tree/boot/vmlinuz-* "$target/boot/"
for modules in "$work"/tree/lib/modules/*; do
    kept="$target/lib/modules/$(basename "$modules")/kernel"
    mkdir -p "$kept"
    for folder in drivers/virtio net/9p fs sound; do
        mkdir -p "$kept/$(dirname "$folder")"
        cp -r "$modules/kernel/$folder" "$kept/$folder"
    done
done
echo "$package" >"$target/package"
