#!/bin/sh
# /init of the guest's initramfs (busybox): loads the drivers, mounts the
# host's root read-only over 9p with the guest's own /proc, /sys, /dev, /run
# and /tmp, the writable share at /tmp/share and the prepared files (udev) at
# /tmp/vm, and runs the session script that the host put into the share in a
# chroot, so that the guest runs the host's Qt libraries. The checkout itself
# may be out of sight (under the host's /tmp): the share brings what is needed.
/bin/busybox --install -s /bin
export PATH=/bin

fail() {
    echo "guest-init: $*"
    echo o >/proc/sysrq-trigger
    sleep 10
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

for module in /modules/*.ko; do
    insmod "$module" || fail "cannot load $module"
done

# virtio devices may show up a moment after their drivers are loaded.
for attempt in $(seq 50); do
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 hostroot /newroot 2>/dev/null && break
    sleep 0.1
done
[ -x /newroot/bin/sh ] || fail "the host's root did not mount"

mount -t proc proc /newroot/proc
mount -t sysfs sysfs /newroot/sys
mount -t debugfs debugfs /newroot/sys/kernel/debug
mount -t devtmpfs devtmpfs /newroot/dev
mkdir -p /newroot/dev/pts
mount -t devpts -o ptmxmode=0666 devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/run
mount -t tmpfs tmpfs /newroot/tmp
mkdir -p /newroot/tmp/share /newroot/tmp/vm
mount -t 9p -o trans=virtio,version=9p2000.L,cache=none,msize=262144 share /newroot/tmp/share ||
    fail "the share did not mount"
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 vmfiles /newroot/tmp/vm ||
    fail "the prepared files did not mount"

chroot /newroot /bin/bash /tmp/share/guest-session.sh >/newroot/tmp/share/session.log 2>&1
echo "guest-init: the session ended with status $?"
echo o >/proc/sysrq-trigger
sleep 10
