#!/usr/bin/env bash
# The README's main job: installs what is missing, builds the three programs
# (no tests, no benchmarks), and writes the bundled sample firmware into the
# simulated kit.
#
# With a display the window opens, ready for OPEN and UPDATE; without one the
# same update runs through kitupdater-cli. Everything runs in private settings
# and state folders: the user's own settings and update history are never touched.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# Only the three programs the demo runs, in a build folder of their own so that
# the test build (build/) is never reconfigured without its tests.
BUILD=${KITUPDATER_DEMO_BUILD:-$ROOT/build-demo}
install_missing_packages
start_build_log
configure_build -DKITUPDATER_BUILD_TESTS=OFF
build_targets kitsim kitupdater-cli kitupdater

WORK=$(mktemp -d)
KITSIM_PID=
cleanup() {
  [ -n "$KITSIM_PID" ] && kill "$KITSIM_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

export XDG_CONFIG_HOME="$WORK/config"
export XDG_STATE_HOME="$WORK/state"
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -p "$XDG_CONFIG_HOME/KitUpdater" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The simulated kit: its first line names the pseudo-terminal to use.
mkfifo "$WORK/kitsim.out"
"$BUILD/sim/kitsim" --dump "$WORK/kit.hex" >"$WORK/kitsim.out" &
KITSIM_PID=$!
exec 3<"$WORK/kitsim.out"
read -r -t 10 SLAVE <&3
echo "Simulated kit on $SLAVE (port 7)"

SAMPLE="$ROOT/samples/blink.hex"
cat >"$XDG_CONFIG_HOME/KitUpdater/KitUpdater.ini" <<INI
[Settings]
Com=7
OPEN_DIR0=$ROOT/samples

[Ports]
7=$SLAVE
INI

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the window: press OPEN, choose $(basename "$SAMPLE"), then UPDATE."
  "$BUILD/startup/kitupdater"
else
  echo "No display: running the update with kitupdater-cli."
  echo "\$ kitupdater-cli update $SAMPLE"
  status=0
  "$BUILD/cli/kitupdater-cli" update "$SAMPLE" || status=$?
  echo "kitupdater-cli exit status: $status"
  [ "$status" -eq 0 ] || exit "$status"
fi

# Stop the kit and show what it holds now.
kill -TERM "$KITSIM_PID"
wait "$KITSIM_PID" || true
KITSIM_PID=
words=$("$BUILD/cli/kitupdater-cli" check "$WORK/kit.hex" | sed -n 's/^words to send: //p')
echo "The simulated kit now holds $words program words."
