#!/usr/bin/env bash
# The README's test command: installs what is missing, builds, runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing_packages
configure_and_build
# Tests choose their own platform (offscreen) and private config folders.
ctest --test-dir "$BUILD" --output-on-failure -j2
