#!/usr/bin/env bash
# Packs the guest's initramfs: busybox (static), the init script and the kernel modules the
# sequencer and the 9p root need, taken from an unpacked Debian kernel package.
# Usage: make-initramfs.sh KERNEL_TREE OUTPUT
set -euo pipefail
tree=$1
output=$2
here=$(cd "$(dirname "$0")" && pwd)

# What the guest needs; the modules they depend on are found from each module's own
# "depends=" and loaded before it.
wanted=(virtio_pci 9pnet_virtio 9p overlay snd-seq-dummy)

busybox=/bin/busybox
if [[ ! -x "$busybox" ]] || ldd "$busybox" >/dev/null 2>&1; then
    echo "make-initramfs: a static $busybox is needed (package busybox-static)" >&2
    exit 1
fi
kernel_dir=$(find "$tree/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n 1)
if [[ -z "$kernel_dir" ]]; then
    echo "make-initramfs: no kernel modules under $tree/lib/modules" >&2
    exit 1
fi

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
mkdir -p "$staging"/{bin,dev,proc,sys,modules}
cp "$busybox" "$staging/bin/busybox"
cp "$here/guest-init.sh" "$staging/init"
chmod 755 "$staging/init" "$staging/bin/busybox"
: >"$staging/modules.order"
declare -A added=()
add_module() {
    local module=$1 file dependency
    [[ -n "${added[$module]:-}" ]] && return 0
    added[$module]=1
    file=$(find "$kernel_dir/kernel" \( -name "$module.ko" -o -name "${module//_/-}.ko" \
        -o -name "${module//-/_}.ko" \) -print -quit)
    if [[ -z "$file" ]]; then
        echo "make-initramfs: module $module not found in $kernel_dir" >&2
        exit 1
    fi
    for dependency in $(tr '\0' '\n' <"$file" | sed -n 's/^depends=//p' | tr ',' ' '); do
        add_module "$dependency"
    done
    cp "$file" "$staging/modules/"
    basename "$file" >>"$staging/modules.order"
}
for module in "${wanted[@]}"; do
    add_module "$module"
done
(cd "$staging" && find . | "$busybox" cpio -o -H newc 2>/dev/null) | gzip -1 >"$output.$$"
# Two tests may build it at once: each renames a complete file of its own into place.
mv "$output.$$" "$output"
