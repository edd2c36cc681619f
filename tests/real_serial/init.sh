#!/bin/busybox sh
# PID 1 of the real-driver tier's guest (an initramfs made at test time from busybox and
# the Debian kernel's modules): loads the 9p and USB-serial modules, mounts the host's tree
# read-only with the tier's work folder writable at the same path, runs the guest script
# there and powers off. Settings come on the kernel command line (hydrix.work, .script).
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
say() { echo "hydrix-guest: $*"; }
say "init after $(cut -d' ' -f1 /proc/uptime) s"
arg() { sed -n "s/.*hydrix\.$1=\([^ ]*\).*/\1/p" /proc/cmdline; }
work=$(arg work)
script=$(arg script)

for module in $(cat /modules/order); do
    insmod "/modules/$module.ko" || say "insmod $module failed"
done
mkdir -p /host
options=trans=virtio,version=9p2000.L,msize=512000
if ! mount -t 9p -o "$options,ro,cache=loose" hostroot /host; then
    say "the host's tree could not be mounted"
    poweroff -f
fi
mount -t devtmpfs dev /host/dev
ln -s /proc/self/fd /host/dev/fd
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
# Writable room in /run (the guest script's TMPDIR is /run/tmp); /tmp stays the host's, where
# the project itself may live.
mount -t tmpfs run /host/run
mkdir -p /host/run/lock /host/run/tmp
[ -d "/host$work" ] || mkdir -p "/host$work"
if ! mount -t 9p -o "$options" work "/host$work"; then
    say "the work folder could not be mounted"
    poweroff -f
fi
chroot /host /bin/bash "$script" "$work"
say "guest script ended with status $?"
sync
umount "/host$work"
poweroff -f
