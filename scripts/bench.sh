#!/usr/bin/env bash
# Builds everything and runs the transfer benchmark: the time per word of a
# whole update against the simulated kit beside raw termios calls, and the host
# CPU load while a slow kit answers. Arguments go to bench_transfer (--runs N).
# The figures are only meaningful on an otherwise idle machine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing_packages
configure_and_build
"$BUILD/bench/bench_transfer" "$@"
