#!/usr/bin/env bash
# Installs the built project into a scratch prefix, builds the .deb into a
# scratch folder, unpacks it into a scratch root and checks what a user's
# machine would receive. Outside the scratch folder only the build folder's
# install_manifest.txt changes, as with any install.
#
#   tst_package.sh <build folder> <project version> <maintainer>
set -uo pipefail
unset DESTDIR # would move every install below it

USAGE="usage: tst_package.sh <build folder> <project version> <maintainer>"
BUILD=${1:?$USAGE}
VERSION=${2:?$USAGE}
MAINTAINER=${3:?$USAGE}
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/kitupdater-package.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT

PROGRAMS=(kitupdater kitupdater-cli kitsim)
DEPENDS=(libqt6widgets6 libqt6serialport6 libqt6gui6 libqt6core6 fonts-ipafont-gothic)
ICON_SIZES=(16 32 48)
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "ok   $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
check() { # check <description> <command...>; returns whether it held
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; return 1; fi
}
run_or_die() { # run_or_die <log name> <command...>: a step the later checks need
  local log="$SCRATCH/$1.log"; shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log"
    echo "FAIL: $* exited with an error; stopping"
    exit 1
  fi
}

# Width and height from a PNG's IHDR chunk, after checking the 8-byte signature
# (od, from coreutils, is on every Debian machine; file and python3 need not be).
png_size() {
  local png=$1
  if [ "$(od -An -tx1 -N16 "$png" | tr -d ' \n')" != 89504e470d0a1a0a0000000d49484452 ]; then
    echo not-a-png
    return
  fi
  local width height
  width=$(od -An -tu4 --endian=big -j16 -N4 "$png" | tr -d ' ')
  height=$(od -An -tu4 --endian=big -j20 -N4 "$png" | tr -d ' ')
  echo "${width}x${height}"
}

# desktop_value <file> <key>: the value of key in the [Desktop Entry] group.
desktop_value() {
  awk -v key="$2" '
    /^\[/ { in_entry = ($0 == "[Desktop Entry]"); next }
    in_entry && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$1"
}

check_desktop_entry() { # check_desktop_entry <file>
  local file=$1
  check "desktop entry exists: ${file#$SCRATCH/}" test -f "$file" || return
  local expected=(
    "Type=Application"
    "Name=KitUpdater"
    "Name[ja]=ファームウエアアップデート"
    "Exec=kitupdater"
    "Icon=kitupdater"
    "Terminal=false"
    "Categories=Development;Electronics;"
  )
  local pair key
  for pair in "${expected[@]}"; do
    key=${pair%%=*}
    check "desktop entry $pair" test "$(desktop_value "$file" "$key")" = "${pair#*=}"
  done
  check "desktop entry has Comment" test -n "$(desktop_value "$file" Comment)"
  check "desktop entry has Comment[ja]" test -n "$(desktop_value "$file" 'Comment[ja]')"
  if command -v desktop-file-validate >/dev/null; then
    check "desktop-file-validate accepts the entry" desktop-file-validate "$file"
  else
    echo "skip desktop-file-validate (desktop-file-utils not installed)"
  fi
}

check_tree() { # check_tree <root with bin/ and share/>
  local root=$1 program size icon
  for program in "${PROGRAMS[@]}"; do
    check "executable ${root#$SCRATCH/}/bin/$program" test -f "$root/bin/$program" -a -x "$root/bin/$program"
  done
  check_desktop_entry "$root/share/applications/org.example.kitupdater.desktop"
  for size in "${ICON_SIZES[@]}"; do
    icon="$root/share/icons/hicolor/${size}x${size}/apps/kitupdater.png"
    if [ -f "$icon" ]; then
      check "icon ${icon#$SCRATCH/} is a ${size}x${size} PNG" test "$(png_size "$icon")" = "${size}x${size}"
    else
      fail "icon ${icon#$SCRATCH/} missing"
    fi
  done
}

# The long options a text names, sorted; a man page writes each dash as \-.
long_options() { sed 's/\\-/-/g' | grep -oE -- '--[a-z][a-z-]*' | sort -u; }

run_shown() { # run_shown <command...>: its output only when it fails
  local output
  output=$("$@" 2>&1) || { echo "$output"; return 1; }
}

takes_no_options() { # takes_no_options <gzipped man page>: lists none and says so
  local text
  text=$(zcat "$1") || return
  [ -z "$(long_options <<<"$text")" ] && grep -q "takes no options" <<<"$text"
}

check_documents() { # check_documents <root with bin/ and share/>
  local root=$1 doc=$1/share/doc/kitupdater man=$1/share/man/man1 program
  check "copyright file under the MIT (Expat) licence" grep -qx 'License: Expat' "$doc/copyright"
  check "changelog's newest entry is $VERSION" \
    test "$(zcat "$doc/changelog.gz" | head -n 1)" = "kitupdater ($VERSION) unstable; urgency=medium"

  # The window reads no command line; its page must say so and list nothing.
  check "kitupdater.1 says the program takes no options" takes_no_options "$man/kitupdater.1.gz"
  for program in kitupdater-cli kitsim; do
    check "$program.1 lists the options of $program --help" \
      test "$(zcat "$man/$program.1.gz" | long_options)" = "$("$root/bin/$program" --help | long_options)"
  done

  local metainfo=$root/share/metainfo/org.example.kitupdater.metainfo.xml
  check "metainfo names release $VERSION" grep -q "<release version=\"$VERSION\"" "$metainfo"
  if command -v appstreamcli >/dev/null; then
    check "appstreamcli validates the metainfo" run_shown appstreamcli validate --no-net "$metainfo"
  else
    echo "skip appstreamcli (appstream not installed)"
  fi
}

echo "== cmake --install into a scratch prefix"
run_or_die install cmake --install "$BUILD" --prefix "$SCRATCH/prefix"
check_tree "$SCRATCH/prefix"

# The build folder's own CPack settings, but installing through the build's
# install script: for a project entry cpack first runs the "preinstall" build of
# every target, which a test must not do to the tree it is testing. The DEB
# generator runs an install script with DESTDIR and CPACK_INSTALL_PREFIX, so that
# prefix is pointed at the one the package uses.
write_cpack_config() {
  cat >"$SCRATCH/CPackConfig.cmake" <<CMAKE
include("$BUILD/CPackConfig.cmake")
unset(CPACK_INSTALL_CMAKE_PROJECTS)
set(CPACK_INSTALL_SCRIPT "$BUILD/cmake_install.cmake")
set(CPACK_INSTALL_PREFIX "\${CPACK_PACKAGING_INSTALL_PREFIX}")
if(CPACK_STRIP_FILES)
  set(CMAKE_INSTALL_DO_STRIP 1)
endif()
CMAKE
}

echo "== cpack -G DEB into a scratch folder"
write_cpack_config
run_or_die cpack cpack -G DEB --config "$SCRATCH/CPackConfig.cmake" -B "$SCRATCH/package"
debs=("$SCRATCH"/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  cat "$SCRATCH/cpack.log"
  echo "FAIL: expected exactly one .deb, found: ${debs[*]}"
  exit 1
fi
deb=${debs[0]}
echo "built $(basename "$deb")"

echo "== the package's control fields"
field() { dpkg-deb -f "$deb" "$1"; }
check "Package is kitupdater" test "$(field Package)" = kitupdater
check "Version is the project's $VERSION" test "$(field Version)" = "$VERSION"
check "Section is electronics" test "$(field Section)" = electronics
check "Maintainer is the configured $MAINTAINER" test "$(field Maintainer)" = "$MAINTAINER"
depends=$(field Depends)
echo "Depends: $depends"
for package in "${DEPENDS[@]}"; do
  # A whole package name in the comma-separated list, with or without a version.
  check "Depends names $package" grep -Eq "(^|, *)$package( *\(|,|$)" <<<"$depends"
done

echo "== dpkg-deb -x into a scratch root"
run_or_die extract dpkg-deb -x "$deb" "$SCRATCH/root"
check_tree "$SCRATCH/root/usr"
check "programs run from the package find their libraries" \
  "$SCRATCH/root/usr/bin/kitupdater-cli" --help >/dev/null
check_documents "$SCRATCH/root/usr"

if command -v lintian >/dev/null; then
  # Errors and warnings both fail: a kept warning needs an override with its reason.
  check "lintian reports no error or warning" run_shown lintian --fail-on error,warning "$deb"
else
  echo "skip lintian (not installed)"
fi

echo "== $passed checks passed, $failed failed"
[ "$failed" -eq 0 ]
