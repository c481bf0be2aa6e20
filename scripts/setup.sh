#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, then configures and builds.
# Sourced by the README's commands; usable on its own too.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/common.sh"
report_failures
BUILD=${KITUPDATER_BUILD:-$ROOT/build}

# Build tools and Qt; GoogleTest for the core's tests; the IPA font for the window; Qt's own Japanese texts for
# its dialogs; Xvfb for the window tests; the packaging checks.
PACKAGES=(build-essential cmake qt6-base-dev qt6-serialport-dev qt6-svg-dev qt6-translations-l10n
          fonts-ipafont-gothic xvfb xauth desktop-file-utils help2man lintian appstream libgtest-dev)

install_missing_packages() { # install_missing_packages [more packages...]
  install_packages "${PACKAGES[@]}" "$@"
}

# A fresh, empty build log in $BUILD; the compilers' output goes there, the
# terminal gets one line per step.
start_build_log() {
  mkdir -p "$BUILD"
  : >"$BUILD/build.log"
  echo "Building in $BUILD (log: $BUILD/build.log)"
}

build_failed() {
  tail -n 40 "$BUILD/build.log"
  echo "Build failed; the whole log is $BUILD/build.log" >&2
  return 1
}

# build_step <what it does> <command...>
build_step() {
  local what=$1 started=$SECONDS
  shift
  printf '  %s ... ' "$what"
  if ! "$@" >>"$BUILD/build.log" 2>&1; then
    echo "failed"
    build_failed
    return
  fi
  echo "done ($((SECONDS - started)) s)"
}

# build_targets <target...>: only these and what they need; a line per part
# (library or program) as it is done.
build_targets() {
  local started=$SECONDS
  echo "  Building $* and what they need ..."
  if ! cmake --build "$BUILD" -j"$(nproc)" --target "$@" 2>&1 | tee -a "$BUILD/build.log" |
       awk '/Built target/ && !/_autogen/ && !seen[$NF]++ { print "    built " $NF; fflush() }'; then
    build_failed
    return
  fi
  echo "  done ($((SECONDS - started)) s)"
}

configure_build() { # configure_build [cmake options...]
  build_step "Configuring" cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

configure_and_build() { # configure_and_build [cmake options...]: everything, tests included
  start_build_log
  configure_build "$@"
  build_step "Building everything (programs, tests, benchmarks)" cmake --build "$BUILD" -j"$(nproc)"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  install_missing_packages
  configure_and_build
fi
