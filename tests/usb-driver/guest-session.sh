#!/bin/bash
# The guest's session, run by the initramfs in a chroot of the host's root:
# starts udev as a desktop has it (so /dev/serial/by-id appears), logs the
# USB driver's control requests, then runs the commands the host drops into
# the share, one by one:
#   N.cmd (bash)  ->  N.out, N.err, and N.rc last, when it has finished.
set -u
share=/tmp/share
udev=/tmp/vm/udev

fail() {
    echo "guest-session: $*" | tee "$share/failed"
    exit 1
}

# udevadm refuses to trigger inside a chroot unless told that this one is fine.
export SYSTEMD_IGNORE_CHROOT=1
[ -x "$udev/bin/udevadm" ] || fail "no udevadm in $udev"
# udev's programs with the systemd library of their own version.
udev_program() { LD_LIBRARY_PATH=$udev/lib/systemd-shared "$udev/$@"; }

start_udev() {
    mkdir -p /run/udev/rules.d
    # The rules that make device permissions and the serial links.
    cp "$udev"/lib/udev/rules.d/50-udev-default.rules "$udev"/lib/udev/rules.d/60-serial.rules /run/udev/rules.d/
    # systemd-udevd is udevadm called by that name (the package's link to it
    # is absolute, and udev is not installed here).
    (export LD_LIBRARY_PATH=$udev/lib/systemd-shared && exec -a systemd-udevd "$udev/bin/udevadm" --daemon) ||
        fail "systemd-udevd did not start"
    for _ in $(seq 100); do
        udev_program bin/udevadm control --ping 2>/dev/null && break
        sleep 0.1
    done
    udev_program bin/udevadm control --ping || fail "systemd-udevd does not answer"
    udev_program bin/udevadm trigger --action=add
    udev_program bin/udevadm settle --timeout=60
}

# Control requests to devices (bmRequestType 0x40 is FTDI's vendor request):
# the baud divisor, data bits, parity, stop bits, flow control, latency timer
# and modem lines, one line each, with the kernel's microsecond timestamp.
watch_driver_requests() {
    cat /sys/kernel/debug/usb/usbmon/0u | grep --line-buffered -E ' S (Co|Bo):' >"$share/usbmon.txt" &
}

run_commands() {
    export HOME=/tmp/home XDG_CONFIG_HOME=/tmp/config XDG_STATE_HOME=/tmp/state XDG_RUNTIME_DIR=/tmp/runtime
    export LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    local n=1
    while :; do
        if [ -e "$share/$n.cmd" ]; then
            (cd /tmp && bash "$share/$n.cmd" >"$share/$n.out" 2>"$share/$n.err" </dev/null)
            echo $? >"$share/$n.rc.part"
            mv "$share/$n.rc.part" "$share/$n.rc"
            n=$((n + 1))
        else
            sleep 0.05
        fi
    done
}

start_udev
watch_driver_requests
echo ready >"$share/ready"
run_commands
