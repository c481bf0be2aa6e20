# Sourced by every script of this project (scripts/*.sh, tests/usb-driver/prepare.sh):
# one way to install missing Debian packages, and a last word on any failure.
#
#   source scripts/common.sh
#   report_failures             # a failing command names itself, its line and the step
#   step "Building Qt"          # prints "== Building Qt"; a failure names that step
#   install_packages PKG...     # those of PKG not yet installed, with apt-get

# Set -e ends a script at the first failing command, and without a word when
# that command printed nothing (dpkg-query, grep, a test): the ERR trap says
# which command it was, where, and in which step. errtrace carries the trap
# into functions, so a failure deep inside names its own line; subshells
# (a command substitution) stay quiet, and the command that ran them speaks.
report_failures() {
  set -o errtrace
  trap 'report_failure "$?:${PIPESTATUS[*]}" "$BASH_COMMAND" "${BASH_SOURCE[0]}" "$LINENO" "${FUNCNAME[0]:-}"' ERR
}

report_failure() { # report_failure <status>:<pipeline statuses> <command> <file> <line> <function>
  [ "$BASHPID" = "$$" ] || return 0
  local status=${1%%:*} pipeline=${1#*:} command=$2 file=$3 line=$4 function=$5 where statuses=
  where="$(basename "$file") line $line${function:+ (in $function)}"
  # A pipeline names only its last command; its statuses tell which part failed.
  [ "$pipeline" = "${pipeline#* }" ] || statuses=" (the pipeline's statuses: $pipeline)"
  echo "${0##*/}: failed${STEP:+ while: $STEP}: $where: '$command' exited with status $status$statuses" >&2
}

step() {
  STEP=$*
  echo "== $*"
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# One package at a time: dpkg-query asked about several at once gives up
# (status 1) on the first one it has never heard of, which on a fresh machine
# is exactly a package that must be installed.
package_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

install_packages() { # install_packages PKG...: installs those not yet installed
  local package missing=()
  for package in "$@"; do
    package_installed "$package" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  # Another apt-get or dpkg (another script, unattended upgrades) holds the
  # locks: wait for it rather than fail. apt-get update does not wait for the
  # lists' lock by itself, install waits for dpkg's when told to.
  while pgrep -x apt-get >/dev/null 2>&1 || pgrep -x dpkg >/dev/null 2>&1; do sleep 5; done
  local wait=(-o DPkg::Lock::Timeout=900)
  as_root apt-get "${wait[@]}" update -qq ||
    { echo "apt-get update failed: check the network and /etc/apt/sources.list*" >&2; return 1; }
  as_root env DEBIAN_FRONTEND=noninteractive apt-get "${wait[@]}" install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null ||
    { echo "apt-get could not install: ${missing[*]}" >&2; return 1; }
}
