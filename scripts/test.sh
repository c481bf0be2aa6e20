#!/usr/bin/env bash
# The README's test command: installs what is missing, builds, and runs
#   1. the whole test suite, the tests through the real USB serial driver in a
#      virtual machine included (tests/usb-driver/prepare.sh prepares it),
#   2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. the HEX reader under libFuzzer for 30 seconds,
#   4. the web page: the core's tests as WebAssembly under node, the page's in
#      headless Chromium (scripts/web.sh --test, with the kitsim built in 1).
# Any failure, sanitizer report or fuzzer finding fails the run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing_packages
PLAIN_BUILD=$BUILD
SANITIZED_BUILD=${KITUPDATER_SANITIZED_BUILD:-$ROOT/build-sanitize}

step "Test suite"
configure_and_build
# Here rather than inside ctest, so that a sudo password can be asked for.
echo "  Preparing the virtual machine for the USB driver tests ..."
"$ROOT/tests/usb-driver/prepare.sh" >/dev/null
# Tests choose their own platform (offscreen) and private config folders.
ctest --test-dir "$PLAIN_BUILD" --output-on-failure -j2

step "Test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD=$SANITIZED_BUILD configure_and_build -DKITUPDATER_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$SANITIZED_BUILD" --output-on-failure -j2 -LE nosanitize

step "HEX reader under libFuzzer"
"$ROOT/scripts/fuzz.sh" 30

step "The web page"
KITSIM=$PLAIN_BUILD/sim/kitsim "$ROOT/scripts/web.sh" --test
