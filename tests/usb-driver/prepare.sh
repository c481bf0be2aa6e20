#!/usr/bin/env bash
# Prepares the virtual machine that puts the real ftdi_sio driver between
# kitupdater-cli and the simulated kit: QEMU and busybox, the guest kernel and
# its modules, udev's programs and rules, and a busybox initramfs.
#
#   tests/usb-driver/prepare.sh [FILE]
#
# Everything lands in ~/.cache/kitupdater-usb-driver/<key> (or under
# $XDG_CACHE_HOME), the key naming the kernel, udev and busybox versions and
# this script's own content, so a second run downloads and builds nothing.
# Prints the folder; with FILE, also writes it there for the tests.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../../scripts/common.sh"
report_failures
# Only what the harness runs on the host: QEMU, a static busybox for the
# initramfs, kmod's depmod/modprobe to order the modules, cpio to pack them,
# dpkg-architecture for the multiarch folder.
PACKAGES=(qemu-system-x86 busybox-static kmod cpio dpkg-dev)
# The guest's drivers: the USB host controller and FTDI serial adapter, usbmon
# to watch the driver's requests, virtio and 9p to reach the host's files.
MODULES=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio usbmon
         virtio_pci 9pnet_virtio 9p)

say() { echo "usb-driver: $*" >&2; }

# The libraries udev's programs need from the host (libsystemd-shared itself
# comes with them, in udev's own version).
udev_libraries() {
  local version=$1
  for p in udev libsystemd-shared; do
    apt-cache depends "$p=$version" | awk '/Depends: lib/ { print $2 }'
  done | grep -v -x -e libudev1 -e libsystemd-shared | sort -u
}


# The kernel package that linux-image-amd64 stands for, e.g. linux-image-6.1.0-57-amd64.
kernel_package() {
  apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

# download_and_unpack PACKAGE DIR: the package's files under DIR, not installed.
download_and_unpack() {
  local package=$1 dir=$2 work
  work=$(mktemp -d)
  # apt fetches as its own user where it can write the folder.
  [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1 && chown _apt "$work"
  (cd "$work" && apt-get download -q "$package" >/dev/null)
  mkdir -p "$dir"
  dpkg-deb -x "$work"/*.deb "$dir"
  rm -rf "$work"
}

# The kernel, and the modules the guest needs, in the order insmod needs
# them, uncompressed (busybox's insmod then needs no decompressor).
prepare_kernel() {
  local cache=$1 package=$2 root=$cache/kernel version n=10
  say "downloading $package"
  download_and_unpack "$package" "$root"
  version=$(ls "$root/lib/modules")
  depmod -b "$root" "$version"
  cp "$root/boot/vmlinuz-$version" "$cache/vmlinuz"
  mkdir -p "$cache/modules"
  while read -r module; do
    case "$module" in
      *.xz) xz -dc "$module" >"$cache/modules/$n-$(basename "${module%.xz}")" ;;
      *) cp "$module" "$cache/modules/$n-$(basename "$module")" ;;
    esac
    n=$((n + 1))
  done < <(module_load_order "$root" "$version")
  rm -rf "$root"
}

# The modules named in MODULES with what they need, each once, in load order.
module_load_order() {
  local root=$1 version=$2
  for m in "${MODULES[@]}"; do
    modprobe -d "$root" -S "$version" --show-depends "$m"
  done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }'
}

# udevd and udevadm run in the guest from here, with the libsystemd-shared
# of their own version, whatever the host has installed.
prepare_udev() {
  local cache=$1 version=$2
  say "downloading udev and libsystemd-shared $version"
  download_and_unpack "udev=$version" "$cache/udev"
  download_and_unpack "libsystemd-shared=$version" "$cache/libsystemd-shared"
  mkdir -p "$cache/udev/lib/systemd-shared"
  cp "$cache/libsystemd-shared/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"/systemd/libsystemd-shared-*.so \
    "$cache/udev/lib/systemd-shared/"
  rm -rf "$cache/libsystemd-shared"
}

# initrd.img: busybox, the modules and guest-init.sh as /init; built again
# (without downloading) whenever guest-init.sh changes.
prepare_initramfs() {
  local cache=$1 image staging
  image=initrd-$(cat /bin/busybox "$HERE/guest-init.sh" | sha256sum | cut -c1-12).img
  if [ ! -e "$cache/$image" ]; then
    staging=$(mktemp -d)
    mkdir -p "$staging"/{bin,proc,sys,dev,newroot}
    cp /bin/busybox "$staging/bin/busybox"
    ln -s busybox "$staging/bin/sh"
    cp -r "$cache/modules" "$staging/modules"
    install -m 755 "$HERE/guest-init.sh" "$staging/init"
    (cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1 >"$cache/$image.part.$$")
    rm -rf "$staging" "$cache"/initrd-*.img
    mv "$cache/$image.part.$$" "$cache/$image"
  fi
  ln -sfn "$image" "$cache/initrd.img"
}

# udevadm runs on this host too: then the guest, running the host's
# libraries, has all that udev's programs need.
udev_runs() {
  LD_LIBRARY_PATH=$1/udev/lib/systemd-shared "$1/udev/bin/udevadm" --version >/dev/null 2>&1
}

main() {
  install_packages "${PACKAGES[@]}"
  local package key cache kernel_version udev_version
  package=$(kernel_package)
  # apt knows no packages at all until it has fetched its lists once.
  [ -n "$package" ] || { as_root apt-get -qq update && package=$(kernel_package); }
  [ -n "$package" ] || { say "apt-cache knows no linux-image-amd64, even after apt-get update"; exit 1; }
  # One apt-cache call for both versions: each takes a second or so.
  read -r kernel_version udev_version < <(apt-cache policy "$package" udev |
    awk '/^[^ ]/ { name = $1 } /Candidate:/ { version[name] = $2 }
         END { print version["'"$package"':"], version["udev:"] }')
  key="$package-$kernel_version-udev-$udev_version"
  # Raise the layout's number when this script changes what it keeps here.
  key="$key-layout1"
  key=${key//[:~+]/_}
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/kitupdater-usb-driver/$key
  if [ ! -e "$cache/ready" ]; then
    local started=$SECONDS
    rm -rf "$cache" && mkdir -p "$cache"
    prepare_kernel "$cache" "$package"
    prepare_udev "$cache" "$udev_version"
    touch "$cache/ready"
    # Earlier kernels, udev versions or layouts: not needed any more.
    find "$(dirname "$cache")" -mindepth 1 -maxdepth 1 ! -path "$cache" -exec rm -rf {} +
    say "prepared $cache in $((SECONDS - started)) s"
  fi
  # shellcheck disable=SC2046 # one package name a line
  udev_runs "$cache" || install_packages $(udev_libraries "$udev_version")
  udev_runs "$cache" || { say "udevadm from $cache/udev does not run here"; exit 1; }
  prepare_initramfs "$cache"
  if [ ! -c /dev/kvm ] || [ ! -r /dev/kvm ] || [ ! -w /dev/kvm ] || ! grep -q -w -E 'vmx|svm' /proc/cpuinfo; then
    say "no usable /dev/kvm (or a processor without vmx or svm): the guest runs under TCG (slower, still fine)"
  fi
  [ $# -ge 1 ] && echo "$cache" >"$1"
  echo "$cache"
}

main "$@"
