#!/usr/bin/env bash
# Builds everything and runs the benchmarks: the time per word of a whole
# update against the simulated kit beside raw termios calls, the host CPU while
# a slow kit answers, eight kits at once beside one, the host's memory while a
# kit streams into the idle port, and the start-up beside a bare Qt window.
# Arguments go to bench_transfer (--runs N). The figures are only meaningful on
# an otherwise idle machine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing_packages
configure_and_build
"$BUILD/bench/bench_transfer" "$@"
echo
"$BUILD/bench/bench_streaming" 60
echo
"$BUILD/bench/bench_startup"
