#!/usr/bin/env bash
# Runs a command in a QEMU guest that has a real ALSA sequencer (the kernel's snd-seq with
# snd-seq-dummy, so client 14 "Midi Through" is there) and sees this machine's files: the
# host's / read-only with a tmpfs on top, so the build tree's binaries run as they are.
# Prints what the command prints, and "guest: ready after S s" (the guest's uptime when the
# command starts); exits with the command's status, or 77 (skip) when the kernel or QEMU
# is missing.
# Usage: run-in-guest.sh KERNEL_TREE INITRAMFS COMMAND [ARGUMENT...]
# KERNEL_TREE is a Debian linux-image package unpacked with dpkg -x
# (scripts/install-deps.sh puts one into the build tree).
set -uo pipefail
tree=$1
initramfs=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

kernel=$(find "$tree/boot" -maxdepth 1 -name 'vmlinuz-*' -print -quit 2>/dev/null)
qemu=$(command -v qemu-system-x86_64)
if [[ -z "$kernel" || -z "$qemu" || ! -x /bin/busybox ]]; then
    echo "SKIP: needs qemu-system-x86_64, busybox-static and a kernel in $tree" \
        "(scripts/install-deps.sh BUILD_DIR)"
    exit 77
fi
if [[ ! -f "$initramfs" || "$initramfs" -ot "$here/guest-init.sh" ||
      "$initramfs" -ot "$here/make-initramfs.sh" ]]; then
    bash "$here/make-initramfs.sh" "$tree" "$initramfs" || exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
    printf 'cd %q || exit 124\n' "$PWD"
    # The host's environment as far as the test needs it (the guest starts with none).
    printf 'export %q\n' "PATH=$PATH" "HOME=/tmp"
    printf 'export XDG_RUNTIME_DIR=/run/user\nmkdir -m 700 -p /run/user\n'
    printf '%q ' "$@"
    printf '\n'
} >"$work/command.sh"

# TCG: a KVM guest of this kernel may hang after it unpacks. One vCPU is enough and leaves
# the other core to the rest of the tests. A guest that never powers off is stopped before
# the test's own time runs out, so no QEMU is left behind.
timeout "${GS_GUEST_SECONDS:-840}" "$qemu" -accel tcg -m 1024 -smp 1 -nodefaults -no-reboot -display none -serial stdio \
    -kernel "$kernel" -initrd "$initramfs" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 gs.run=$work/command.sh" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    </dev/null 2>"$work/qemu.err" | tr -d '\r' >"$work/console"
status=$(sed -n 's/^gs-exit \([0-9]*\)$/\1/p' "$work/console" | tail -n 1)
ready=$(sed -n 's/^gs-ready \(.*\)$/\1/p' "$work/console" | tail -n 1)
grep -v -e '^gs-exit ' -e '^gs-ready ' "$work/console"
[[ -n "$ready" ]] && echo "guest: ready after $ready s"
if [[ -z "$status" ]]; then
    echo "guest: the command did not finish (QEMU said: $(cat "$work/qemu.err"))"
    exit 1
fi
exit "$status"
