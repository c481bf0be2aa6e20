#!/usr/bin/env bash
# Renders docs/window.png from the real updater window (no display needed).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing_packages
configure_and_build
QT_QPA_PLATFORM=offscreen "$BUILD/startup/kitupdater-screenshot" "$ROOT/docs/window.png" "$@"
