#!/bin/busybox sh
# The guest's /init: loads the ALSA sequencer with its dummy client ("Midi Through"), mounts
# the host's / read-only over 9p with a tmpfs on top, and runs the command file named on the
# kernel command line (gs.run=PATH, a path on the host) in a chroot of it. What the command
# prints goes to the serial console; its exit status follows as "gs-exit <status>", then the
# guest powers off.
/bin/busybox --install -s /bin
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

# Order matters: busybox's insmod does not resolve dependencies.
for module in $(cat /modules.order); do
    insmod "/modules/$module" || echo "gs-init: insmod $module failed"
done

run=""
for word in $(cat /proc/cmdline); do
    case "$word" in
        gs.run=*) run="${word#gs.run=}" ;;
    esac
done

mkdir -p /host /rw /root
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose,ro hostroot /host ||
    echo "gs-init: 9p mount failed"
mount -t tmpfs -o size=512m tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /root ||
    echo "gs-init: overlay mount failed"

# The command file may lie in a folder that the guest's own mounts below cover (/tmp).
[ -n "$run" ] && cp "/root$run" /command.sh

mount -t proc proc /root/proc
mount -t sysfs sysfs /root/sys
mount -t devtmpfs devtmpfs /root/dev
mount -t tmpfs tmpfs /root/tmp
mount -t tmpfs tmpfs /root/run
mkdir -p /root/dev/shm /root/dev/pts
mount -t tmpfs tmpfs /root/dev/shm
mount -t devpts devpts /root/dev/pts

status=125
if [ -f /command.sh ]; then
    cp /command.sh /root/run/command.sh
    echo "gs-ready $(cut -d" " -f1 /root/proc/uptime)"
    PATH=/usr/bin:/bin chroot /root /bin/sh /run/command.sh </root/dev/null
    status=$?
else
    echo "gs-init: no command file (gs.run=$run)"
fi
echo "gs-exit $status"
sync
poweroff -f
