#!/usr/bin/env bash
# The README's two commands on a truly fresh Debian machine: a clean root of
# this machine's release (mmdebstrap, from this machine's own apt sources,
# without package lists, as a new machine has it), the committed HEAD cloned
# into it at each PLACE, and there, in a chroot with /proc, /sys and /dev
# bound, scripts/demo.sh and then scripts/test.sh, as root.
#
#   sudo scripts/fresh-check.sh [PLACE...]     # default: /tmp/kitupdater /root/kitupdater
#
# The clean root is made once and kept as a tarball in
# ~/.cache/kitupdater-fresh-root/ (or under $XDG_CACHE_HOME); each check
# unpacks it afresh beside it, so the first place sees a machine that has
# never installed a package, the later ones the packages the earlier ones
# installed. Logs stay in that folder's logs/ (the last check's only).
# Everything it mounts is unmounted, and the unpacked root removed, on every
# exit. The tests' QEMU guest runs under TCG where KVM cannot be used.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/common.sh"
report_failures

CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/kitupdater-fresh-root
LOGS=$CACHE/logs
COMMANDS=(scripts/demo.sh scripts/test.sh)
PLACES=("$@")
[ ${#PLACES[@]} -gt 0 ] || PLACES=(/tmp/kitupdater /root/kitupdater)
WORK=
CHROOT=

# The apt lines of this machine's own release (its security and updates
# suites too), as apt reads them from sources.list and .sources files alike;
# other vendors' sources stay out, as on a fresh machine.
release_sources() {
  local codename=$1
  apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' "Identifier: Packages" |
    awk -v release="$codename" '$1 == "deb" && ($3 == release || index($3, release "-") == 1)' | sort -u
}

# clean_root_tarball: prints the cached tarball's path, making it first when
# the release's sources changed or it is missing.
clean_root_tarball() {
  local codename sources key tarball
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  sources=$(release_sources "$codename")
  if [ -z "$sources" ]; then
    as_root apt-get -qq update
    sources=$(release_sources "$codename")
  fi
  [ -n "$sources" ] || { echo "apt's sources name no mirror of $codename" >&2; return 1; }
  key=$(printf '%s\n' "$codename" "$sources" | sha256sum | cut -c1-12)
  tarball=$CACHE/$codename-$key.tar
  if [ ! -f "$tarball" ]; then
    local started=$SECONDS lines=()
    mapfile -t lines <<<"$sources"
    echo "  Making a clean $codename root from: ${lines[*]}" >&2
    rm -f "$CACHE"/*.tar
    mmdebstrap --quiet --format=tar "$codename" "$tarball.part" "${lines[@]}" >&2
    mv "$tarball.part" "$tarball"
    echo "  done ($((SECONDS - started)) s, $(du -h "$tarball" | cut -f1))" >&2
  fi
  echo "$tarball"
}

# Ends what still runs inside the root (a kit simulator, QEMU, a daemon that a
# package started), then unmounts; the root is removed only when nothing is
# mounted below it any more, so that a bound /dev is never deleted through.
cleanup() {
  local status=$?
  # Whatever fails here, the rest of the cleaning goes on.
  trap - ERR
  set +e
  [ -n "$WORK" ] || exit "$status"
  if [ -n "$CHROOT" ]; then
    end_processes_in "$CHROOT"
    local point
    for point in dev sys proc; do
      mountpoint -q "$CHROOT/$point" && { umount -R "$CHROOT/$point" 2>/dev/null || umount -R -l "$CHROOT/$point"; }
    done
  fi
  if grep -q " $WORK" /proc/mounts; then
    echo "fresh-check: still mounted below $WORK; left in place:" >&2
    grep " $WORK" /proc/mounts >&2
  else
    rm -rf "$WORK"
  fi
  exit "$status"
}

end_processes_in() { # end_processes_in <root>: the processes whose root it is
  local root=$1 pid pids=()
  for pid in $(ls /proc | grep -x '[0-9]*'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && pids+=("$pid")
  done
  # A bare return in an exit trap would return the status that ended the script.
  [ ${#pids[@]} -eq 0 ] && return 0
  echo "  Ending what still runs in the root: ${pids[*]}"
  kill "${pids[@]}" 2>/dev/null || true
  sleep 2
  kill -KILL "${pids[@]}" 2>/dev/null || true
}

unpack_root() { # unpack_root <tarball>
  WORK=$(mktemp -d "$CACHE/check.XXXXXX")
  CHROOT=$WORK/root
  mkdir "$CHROOT"
  tar -xf "$1" -C "$CHROOT"
  cp /etc/resolv.conf "$CHROOT/etc/resolv.conf"
  # The certificate authorities this machine's administrator added, as its
  # apt sources: behind a network that inspects TLS (a school's proxy, this
  # workplace's) they are what lets npm reach its registry. The
  # ca-certificates package takes them in when it is installed.
  if [ -d /usr/local/share/ca-certificates ]; then
    mkdir -p "$CHROOT/usr/local/share/ca-certificates"
    cp -r /usr/local/share/ca-certificates/. "$CHROOT/usr/local/share/ca-certificates/"
    [ ! -x "$CHROOT/usr/sbin/update-ca-certificates" ] || chroot "$CHROOT" update-ca-certificates >/dev/null
  fi
  # No service starts inside the chroot (a package's daemon would outlive the
  # check and hold its mounts).
  printf '#!/bin/sh\nexit 101\n' >"$CHROOT/usr/sbin/policy-rc.d"
  chmod 755 "$CHROOT/usr/sbin/policy-rc.d"
  mount --bind /proc "$CHROOT/proc"
  mount --rbind /sys "$CHROOT/sys" && mount --make-rslave "$CHROOT/sys"
  mount --rbind /dev "$CHROOT/dev" && mount --make-rslave "$CHROOT/dev"
}

# A clone of the committed HEAD, not of the working tree.
clone_into_root() { # clone_into_root <place>
  mkdir -p "$(dirname "$CHROOT$1")"
  git clone --quiet --no-hardlinks "$ROOT" "$CHROOT$1"
  echo "  Cloned $(git -C "$ROOT" rev-parse --short HEAD) into $1 (mode $(stat -c %a "$(dirname "$CHROOT$1")") above it)"
}

# run_in_root <place> <command>: as root, in a login-like environment of its
# own; prints the command's output to its log and the terminal.
run_in_root() {
  local place=$1 command=$2 log
  log=$LOGS/$(tr -c 'a-zA-Z0-9\n' '_' <<<"$place$command").log
  chroot "$CHROOT" /usr/bin/env -i HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c 'cd "$1" && "./$2" </dev/null' fresh-check "$place" "$command" 2>&1 | tee "$log"
}

main() {
  [ "$(id -u)" -eq 0 ] || { echo "fresh-check needs root (mmdebstrap, chroot, mount): sudo $0 $*" >&2; exit 1; }
  install_packages mmdebstrap git
  mkdir -p "$CACHE" && rm -rf "$LOGS" && mkdir -p "$LOGS"
  trap cleanup EXIT
  trap 'exit 130' INT TERM
  local started=$SECONDS tarball results=() failed=0
  step "A clean Debian root"
  tarball=$(clean_root_tarball)
  unpack_root "$tarball"
  echo "  Unpacked into $CHROOT ($((SECONDS - started)) s)"
  local place command began status
  for place in "${PLACES[@]}"; do
    step "The clone in $place"
    clone_into_root "$place"
    for command in "${COMMANDS[@]}"; do
      step "$command in $place"
      began=$SECONDS status=0
      # In the background: a foreground command would hold off the trap of
      # a TERM until it ended, which for the test command is many minutes.
      run_in_root "$place" "$command" &
      wait $! || status=$?
      results+=("$(printf '%-9s %-18s %-24s %s' "$([ "$status" -eq 0 ] && echo passed || echo "FAILED($status)")" \
        "$command" "$place" "$(minutes $((SECONDS - began)))")")
      echo "${results[-1]}"
      [ "$status" -eq 0 ] || failed=1
    done
  done
  STEP=
  echo "== fresh-check: results (logs in $LOGS)"
  printf '  %s\n' "${results[@]}"
  echo "  all in $(minutes $((SECONDS - started)))"
  # The table above says what failed: no failure report for the check itself.
  [ "$failed" -eq 0 ] || exit 1
}

minutes() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

main "$@"
