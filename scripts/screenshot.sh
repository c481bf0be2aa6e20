#!/usr/bin/env bash
# Renders the README's pictures from the real updater window (no display needed):
#   docs/window.png         the window at 100 %
#   docs/window-200.png     at 200 % (QT_SCALE_FACTOR=2)
#   docs/window-dark.png    under a dark palette
#   docs/open-dialog.png    the file-open dialog, on samples/
# Arguments (a status text) go to the three window pictures.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing_packages
configure_and_build
shoot() { QT_QPA_PLATFORM=offscreen "$BUILD/startup/kitupdater-screenshot" "$@"; }
shoot "$ROOT/docs/window.png" "$@"
QT_SCALE_FACTOR=2 shoot "$ROOT/docs/window-200.png" "$@"
shoot --dark "$ROOT/docs/window-dark.png" "$@"
shoot --dialog "$ROOT/samples" "$ROOT/docs/open-dialog.png"
