#!/usr/bin/env bash
# Windows, from this Debian machine: installs what is missing, builds Qt for
# Windows once (cached under ~/.cache), cross-builds kitupdater.exe,
# kitupdater-cli.exe and the tests, runs the tests under Wine, writes a
# simulated kit through a Wine COM port with kitupdater-cli.exe and with the
# window, and checks the kit's memory against a Linux update; then makes the
# zip and the installer, and installs and uninstalls that silently under Wine.
#
# Leaves in build-windows/dist/: kitupdater.exe, kitupdater-cli.exe,
# kitupdater-<version>-windows-x64.zip and kitupdater-<version>-setup.exe, and
# the window's picture in build-windows/window-windows.png. Changes no tracked
# file unless asked:
#
#   scripts/windows.sh [--update-docs]   # --update-docs: that picture into docs/ too
#
# KITUPDATER_QT_SOURCES: a folder of Qt source tarballs for the modules
# Debian's mirror lacks (see scripts/windows-qt.sh).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$ROOT/scripts/windows-qt.sh"

# Wine and what drives the window under it, the installer's and the zip's
# makers; the cross toolchain comes with windows_qt_prefix.
WINDOWS_PACKAGES=(wine wine64 nsis zip unzip xdotool imagemagick x11-utils)
WIN=${KITUPDATER_WINDOWS_BUILD:-$ROOT/build-windows}
DIST=$WIN/dist
VERSION=$(sed -n 's/^project(kitupdater VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
WINE_TIMEOUT=${KITUPDATER_WINE_TIMEOUT:-120}
UPDATE_DOCS=false
case "${1:-}" in
  "") ;;
  --update-docs) UPDATE_DOCS=true ;;
  *) echo "usage: $0 [--update-docs]" >&2; exit 2 ;;
esac

install_missing_packages "${WINDOWS_PACKAGES[@]}"

# --- Wine: a private prefix, quiet, no menu entries, every call bounded ------
export WINEPREFIX=$WIN/wine
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installer prompts, no menu entries on this machine.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# Wine passes WINEQT_* on as QT_*: Qt's messages and QtTest's results then
# reach the console instead of the Windows debug output.
export WINEQT_FORCE_STDERR_LOGGING=1

BACKGROUND_PIDS=()
cleanup() {
  local pid
  for pid in "${BACKGROUND_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  stop_wineserver
}
trap cleanup EXIT

# A lingering wineserver must never hang the run.
stop_wineserver() { timeout -k 5 20 wineserver -k 2>/dev/null || true; }
# The server Wine starts keeps the error output of the program that started
# it, and writes its object dumps there when it ends: a server of our own
# writes them into a log instead. Like Wine's own, it ends 3 s after its last
# program (with Wine's services, which would otherwise hold ctest's output
# open). Does nothing while one runs.
start_wineserver() { timeout -k 5 20 wineserver -p3 >>"$WIN/wineserver.log" 2>&1 || true; }
# wine_path -w|-u <path>: a path in Windows' or in Linux' form.
wine_path() {
  start_wineserver
  timeout -k 5 60 winepath "$@"
}
# wine_run <seconds> <program> [args...]
wine_run() {
  local seconds=$1
  shift
  start_wineserver
  timeout -k 10 "$seconds" wine "$@"
}

start_display() {
  local display
  for display in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    BACKGROUND_PIDS+=($!)
    export DISPLAY=":$display"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
  done
  echo "No X display could be started for Wine" >&2
  return 1
}

prepare_wine() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    echo "  Creating the Wine prefix $WINEPREFIX"
    wine_run 300 wineboot --init >/dev/null 2>&1 || { echo "wineboot failed" >&2; return 1; }
  fi
  stop_wineserver
}

# --- Builds -----------------------------------------------------------------
# The build machine's svg2png (for the program icon) and kitsim (the kit the
# Windows programs talk to), and kitupdater-cli for the reference update.
build_host_tools() {
  BUILD=$WIN/host start_build_log
  BUILD=$WIN/host configure_build -DKITUPDATER_BUILD_TESTS=OFF
  BUILD=$WIN/host build_targets svg2png kitsim kitupdater-cli
}

build_windows() {
  local qt=$1 cross=$WIN/cross
  write_mingw_toolchain "$WIN/mingw.cmake"
  BUILD=$cross start_build_log
  BUILD=$cross build_step "Configuring for Windows" "$qt/bin/qt-cmake" -S "$ROOT" -B "$cross" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DQT_CHAINLOAD_TOOLCHAIN_FILE="$WIN/mingw.cmake" \
    -DKITUPDATER_HOST_SVG2PNG="$WIN/host/packaging/svg2png" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-test.sh"
  BUILD=$cross build_step "Building the programs and the tests for Windows" cmake --build "$cross" -j"$(nproc)"
  mkdir -p "$DIST"
  for program in startup/kitupdater cli/kitupdater-cli; do
    ${MINGW_PREFIX}-strip -o "$DIST/$(basename "$program").exe" "$cross/$program.exe"
  done
  check_only_system_dlls "$DIST/kitupdater.exe" "$DIST/kitupdater-cli.exe"
}

# The programs must run on a bare Windows: nothing but Windows' own DLLs.
check_only_system_dlls() {
  local exe dll
  for exe in "$@"; do
    for dll in $(${MINGW_PREFIX}-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
      case "${dll,,}" in
        api-ms-win-*|advapi32.dll|comdlg32.dll|d3d11.dll|d3d9.dll|dwmapi.dll|dxgi.dll|gdi32.dll|imm32.dll|\
        kernel32.dll|msvcrt.dll|netapi32.dll|ole32.dll|oleaut32.dll|setupapi.dll|shell32.dll|shlwapi.dll|\
        user32.dll|userenv.dll|uxtheme.dll|version.dll|winmm.dll|ws2_32.dll|wtsapi32.dll|mpr.dll|\
        authz.dll|cfgmgr32.dll|shcore.dll|dwrite.dll|d2d1.dll|crypt32.dll|bcrypt.dll|ntdll.dll|secur32.dll) ;;
        *) echo "$(basename "$exe") needs $dll, which Windows does not have" >&2; return 1 ;;
      esac
    done
  done
}

# --- Tests under Wine ---------------------------------------------------------
# tst_cli_windows updates a simulated kit through COM9 (KITUPDATER_TEST_KIT_PORT);
# it answers each word after 16 ms, as through an FTDI adapter's latency timer.
run_windows_tests() {
  step "The tests under Wine"
  start_kit 9 "$WIN/ctest-kit.hex" --delay-us 16000
  start_wineserver
  KITUPDATER_TEST_KIT_PORT=9 ctest --test-dir "$WIN/cross" --output-on-failure --timeout 300
  stop_kit
}

# A simulated kit on a pseudo-terminal, behind a Wine COM port.
# start_kit <port number> <memory dump file> [kitsim options...]: sets KIT_PTY.
start_kit() {
  local number=$1 dump=$2
  shift 2
  local fifo
  fifo=$(mktemp -u "$WIN/kitsim.XXXXXX")
  mkfifo "$fifo"
  "$WIN/host/sim/kitsim" --dump "$dump" "$@" >"$fifo" &
  BACKGROUND_PIDS+=($!)
  KIT_PID=$!
  exec 7<"$fifo"
  read -r -t 10 KIT_PTY <&7
  rm -f "$fifo"
  stop_wineserver # Wine reads its COM port table when it starts
  wine_run 60 reg add 'HKLM\Software\Wine\Ports' /v "COM$number" /t REG_SZ /d "$KIT_PTY" /f >/dev/null
  stop_wineserver
}

stop_kit() {
  kill -TERM "$KIT_PID" 2>/dev/null || true
  wait "$KIT_PID" 2>/dev/null || true
  exec 7<&-
}

# kitupdater-cli.exe writes samples/blink.hex through COM7; the kit's memory
# must be what the Linux build writes into a second kit.
update_through_wine_com_port() {
  step "kitupdater-cli.exe writes a simulated kit through COM7"
  local work=$WIN/com-test
  rm -rf "$work" && mkdir -p "$work"
  start_kit 7 "$work/kit-windows.hex"
  local started=$SECONDS
  wine_run "$WINE_TIMEOUT" "$DIST/kitupdater-cli.exe" --port 7 update "$(wine_path -w "$ROOT/samples/blink.hex")" |
    tr -d '\r' | tee "$work/windows.out"
  stop_kit
  echo "  ($((SECONDS - started)) s under Wine)"
  grep -q "アップデート完了" "$work/windows.out"

  "$WIN/host/sim/kitsim" --dump "$work/kit-linux.hex" >"$work/linux-kit.out" &
  local linux_kit=$!
  local pty=
  for _ in $(seq 50); do pty=$(head -n 1 "$work/linux-kit.out"); [ -n "$pty" ] && break; sleep 0.1; done
  XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state \
    "$WIN/host/cli/kitupdater-cli" -q --port "$pty" update "$ROOT/samples/blink.hex" >/dev/null
  kill -TERM "$linux_kit" && wait "$linux_kit" || true
  if ! cmp -s "$work/kit-windows.hex" "$work/kit-linux.hex"; then
    echo "The kit written from Windows differs from the one written from Linux:" >&2
    diff "$work/kit-linux.hex" "$work/kit-windows.hex" | head -n 20 >&2
    return 1
  fi
  echo "  the kit's memory is the same as after a Linux update"
}

# kitupdater.exe: the window opens on COM7, Version Read asks the kit, and the
# version shows; a screenshot of it goes to $WIN/window-windows.png.
window_reads_the_version() {
  step "kitupdater.exe reads the kit's version through COM7"
  local work=$WIN/window-test
  rm -rf "$work" && mkdir -p "$work"
  start_kit 7 "$work/kit.hex" --log "$work/kit.log"
  local appdata
  appdata=$(wine_path -u "$(wine_run 60 cmd /c echo %APPDATA% | tr -d '\r')")
  mkdir -p "$appdata/KitUpdater"
  printf '[Settings]\r\nCom=7\r\nSpeed=9600\r\n' >"$appdata/KitUpdater/KitUpdater.ini"
  wine_run "$WINE_TIMEOUT" "$DIST/kitupdater.exe" 2>"$work/wine.log" &
  local window_pid=$!
  local window=
  for _ in $(seq 100); do
    window=$(xdotool search --name 'Ver1\.00$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.3
  done
  [ -n "$window" ] || { echo "kitupdater.exe showed no window" >&2; return 1; }
  sleep 1
  # Version Read, by the keyboard as a user would: Tab from 閉じる (first focus)
  # to OPEN, past the disabled UPDATE to the port box, then to Version Read.
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key --window "$window" Tab Tab Tab space
  sleep 3
  import -window "$window" "$work/screen.png" 2>/dev/null || import -window root "$work/screen.png" || true
  xdotool key --window "$window" Escape
  sleep 1
  kill "$window_pid" 2>/dev/null || true
  stop_kit
  stop_wineserver
  # The kit heard the query: 0x46 ("F"), then 0x3F ("?"); a line per command.
  if [ "$(awk '{ print $2 }' "$work/kit.log" | tr -d '\n')" != "F?" ]; then
    echo "Version Read in kitupdater.exe did not reach the kit; its log:" >&2
    cat "$work/kit.log" >&2
    return 1
  fi
  if [ -f "$work/screen.png" ]; then
    cp "$work/screen.png" "$WIN/window-windows.png"
    if $UPDATE_DOCS; then cp "$work/screen.png" "$ROOT/docs/window-windows.png"; fi
  else
    echo "  (no picture of the window: import could not take one)"
  fi
  rm -f "$DIST/LOG.txt" # the window's log, beside the program
  echo "  the kit answered the window's version query"
}

# --- What a Windows user downloads --------------------------------------------
# Qt's licence notice: which Qt the programs carry, under which licence, and
# how to rebuild them against another Qt (the LGPL's relinking right).
write_qt_notice() {
  local qt_version
  qt_version=$(host_qt_version)
  {
    printf '%s\r\n' \
      "kitupdater.exe and kitupdater-cli.exe contain the Qt libraries, version $qt_version" \
      "(modules qtbase, qtserialport and qtsvg), linked statically." \
      "" \
      "Qt is (C) The Qt Company Ltd. and other contributors and is used here under the" \
      "GNU Lesser General Public License version 3 (LGPL-3.0-only), whose text follows," \
      "together with the GNU General Public License version 3 that it refers to." \
      "" \
      "Qt's source code: https://download.qt.io/official_releases/qt/${qt_version%.*}/$qt_version/submodules/" \
      "(qtbase-, qtserialport- and qtsvg-everywhere-src-$qt_version.tar.xz)." \
      "kitupdater's own complete source, with the script that builds these programs" \
      "against a Qt of your choice (scripts/windows.sh), comes with kitupdater (MIT licence):" \
      "you may relink the programs with a modified Qt." \
      "" "========================================================================" ""
    sed 's/$/\r/' /usr/share/common-licenses/LGPL-3
    printf '\r\n========================================================================\r\n\r\n'
    sed 's/$/\r/' /usr/share/common-licenses/GPL-3
  } >"$DIST/QT-LICENSE.txt"
}

make_zip() {
  local zip=$DIST/kitupdater-$VERSION-windows-x64.zip folder=$WIN/zip/kitupdater-$VERSION
  rm -rf "$WIN/zip" "$zip" && mkdir -p "$folder"
  cp "$DIST/kitupdater.exe" "$DIST/kitupdater-cli.exe" "$DIST/QT-LICENSE.txt" "$folder/"
  cp "$ROOT/README.md" "$folder/README.md"
  sed 's/$/\r/' "$ROOT/LICENSE" >"$folder/LICENSE.txt"
  (cd "$WIN/zip" && zip -q -9 -X -r "$zip" "kitupdater-$VERSION")
  echo "  $zip ($(du -h "$zip" | cut -f1))"
}

make_installer() {
  cp "$WIN/cross/packaging/kitupdater.ico" "$DIST/kitupdater.ico"
  local setup=$DIST/kitupdater-$VERSION-setup.exe
  makensis -V2 -DVERSION="$VERSION" -DDIST="$DIST" -DSOURCE="$ROOT" -DOUTFILE="$setup" \
    "$ROOT/packaging/windows/kitupdater.nsi" >"$WIN/makensis.log" 2>&1 ||
    { cat "$WIN/makensis.log"; return 1; }
  rm -f "$DIST/kitupdater.ico"
  echo "  $setup ($(du -h "$setup" | cut -f1))"
}

# Silent install under Wine: the programs, the Start-menu entry and the
# uninstaller are there and work; a silent uninstall leaves the settings.
check_installer() {
  step "The installer under Wine (silent install, then uninstall)"
  local program_files=$WINEPREFIX/drive_c/Program\ Files/kitupdater
  local start_menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/kitupdater
  local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kitupdater'
  wine_run "$WINE_TIMEOUT" "$DIST/kitupdater-$VERSION-setup.exe" /S
  for file in "$program_files/kitupdater.exe" "$program_files/kitupdater-cli.exe" \
              "$program_files/uninstall.exe" "$start_menu/kitupdater.lnk"; do
    [ -f "$file" ] || { echo "The installer did not make $file" >&2; return 1; }
  done
  wine_run 60 reg query "$key" /v UninstallString >/dev/null ||
    { echo "The uninstaller is not registered with Windows" >&2; return 1; }
  echo "  installed: programs, Start-menu entry, uninstaller registered"

  local work=$WIN/installed-test
  rm -rf "$work" && mkdir -p "$work"
  start_kit 7 "$work/kit.hex"
  wine_run "$WINE_TIMEOUT" "$program_files/kitupdater-cli.exe" -q --port 7 version | tr -d '\r' | tee "$work/version.out"
  stop_kit
  grep -q "Ver1.00" "$work/version.out" || { echo "The installed kitupdater-cli.exe did not read the version" >&2; return 1; }

  local settings
  settings=$(wine_path -u "$(wine_run 60 cmd /c echo %APPDATA% | tr -d '\r')")/KitUpdater/KitUpdater.ini
  [ -f "$settings" ] || { echo "No settings file to keep: $settings" >&2; return 1; }
  # The uninstaller copies itself away and returns at once; wait for its work.
  wine_run "$WINE_TIMEOUT" "$program_files/uninstall.exe" /S
  for _ in $(seq 60); do [ -e "$program_files" ] || break; sleep 0.5; done
  stop_wineserver
  if [ -e "$program_files" ] || [ -e "$start_menu/kitupdater.lnk" ] ||
     wine_run 60 reg query "$key" >/dev/null 2>&1; then
    echo "The uninstaller left the programs, the Start-menu entry or its registry key" >&2
    return 1
  fi
  [ -f "$settings" ] || { echo "The uninstaller removed the user's settings" >&2; return 1; }
  echo "  uninstalled: programs, entry and key gone, the user's settings kept"
}

main() {
  local started=$SECONDS qt
  qt=$(windows_qt_prefix)
  step "Building for Windows (Qt in $qt)"
  build_host_tools
  build_windows "$qt"
  start_display
  prepare_wine
  run_windows_tests
  update_through_wine_com_port
  window_reads_the_version
  step "The zip and the installer"
  write_qt_notice
  make_zip
  make_installer
  check_installer
  ls -l "$DIST"
  echo "== Windows done ($((SECONDS - started)) s)"
}

main "$@"
