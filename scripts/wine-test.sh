#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest (the Windows build's
# CMAKE_CROSSCOMPILING_EMULATOR). Bounded: a test or a wineserver that hangs
# is ended. The Wine prefix and display come from scripts/windows.sh.
set -uo pipefail
timeout -k 10 "${KITUPDATER_WINE_TEST_TIMEOUT:-240}" wine "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
