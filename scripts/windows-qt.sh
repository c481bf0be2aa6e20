#!/usr/bin/env bash
# Builds Qt for Windows (x86_64, MinGW-w64, static) once and keeps it under
# ~/.cache, keyed on Qt's version and the configure line: a second run, or a
# changed project, reuses it. Sourced by scripts/windows.sh, which calls
# windows_qt_prefix to get the folder (building it first when it is missing).
#
# Qt's sources: `apt-get source` where Debian's mirror has them (through a
# private apt configuration: the machine's own sources are left alone), else
# the tarballs <module>-everywhere-src-<version>.tar.xz in the folder named by
# KITUPDATER_QT_SOURCES (Qt publishes them under
# official_releases/qt/<major.minor>/<version>/submodules/ on its download site).
# Sourced after scripts/common.sh (install_packages, as_root).

# The cross compilers, dpkg-dev for dpkg-source and dpkg-architecture, xz for
# Qt's tarballs, Ninja for Qt's build.
QT_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix dpkg-dev xz-utils ninja-build cmake)
QT_WINDOWS_MODULES=(qtbase qtserialport qtsvg)
QT_WINDOWS_CONFIGURE=(
  -release -static -static-runtime -optimize-size
  -nomake examples -nomake tests
  -no-opengl -no-dbus -no-icu -no-glib -no-feature-vulkan
  -qt-zlib -qt-pcre -qt-libpng -no-libjpeg -qt-freetype -qt-harfbuzz
  -no-feature-zstd -no-feature-sql -no-feature-network -no-feature-xml
  -no-feature-printsupport -no-feature-concurrent
  # Debian's +dfsg source lacks the wintab headers.
  -no-feature-tabletevent
  # Turning off direct2d as a whole breaks the link of the Windows platform plugin.
  -no-feature-direct2d1_1
  -no-pch
)
MINGW_PREFIX=x86_64-w64-mingw32

host_qt_version() {
  dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/[+~-].*//'
}

# The cross toolchain: the -posix compilers, whose C++ library has std::thread
# and std::mutex, which Qt 6 needs.
write_mingw_toolchain() { # write_mingw_toolchain <file>
  cat >"$1" <<CMAKE
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
CMAKE
}

qt_windows_key() {
  { host_qt_version; printf '%s\n' "${QT_WINDOWS_CONFIGURE[@]}"; write_mingw_toolchain /dev/stdout
    ${MINGW_PREFIX}-g++-posix --version | head -n 1; } | sha256sum | cut -c1-12
}

# fetch_qt_source <module> <version> <into>: unpacks the module's source into
# <into>/<module>, from Debian's mirror or from KITUPDATER_QT_SOURCES.
fetch_qt_source() {
  local module=$1 version=$2 into=$3
  local tarball=${KITUPDATER_QT_SOURCES:-}/$module-everywhere-src-$version.tar.xz
  rm -rf "${into:?}/$module"
  if [ -n "${KITUPDATER_QT_SOURCES:-}" ] && [ -f "$tarball" ]; then
    echo "    $module: $tarball"
    tar -xJf "$tarball" -C "$into"
    mv "$into/$module-everywhere-src-$version" "$into/$module"
    return
  fi
  local package=qt6-${module#qt}
  if apt_source "$package" "$version" "$into/$module"; then
    echo "    $module: Debian's source package $package"
    return
  fi
  echo "The source of Qt's $module $version is not on Debian's mirror here." >&2
  echo "Put $module-everywhere-src-$version.tar.xz (from Qt's download site, folder" >&2
  echo "official_releases/qt/${version%.*}/$version/submodules/) in a folder and name it" >&2
  echo "in KITUPDATER_QT_SOURCES." >&2
  return 1
}

# The mirror this machine installs its release's packages from, as apt reads
# its sources (sources.list lines and deb822 .sources files alike): a school
# behind a mirror of its own has no other.
debian_mirror() { # debian_mirror <codename>
  local query=(indextargets --format '$(REPO_URI)' "Release: $1" "Component: main" "Target-Of: deb")
  local mirror
  mirror=$(apt-get "${query[@]}" | head -n 1)
  # apt knows its sources' targets only once it has fetched their lists.
  if [ -z "$mirror" ]; then
    as_root apt-get -qq update >&2
    mirror=$(apt-get "${query[@]}" | head -n 1)
  fi
  [ -n "$mirror" ] || { echo "apt's sources name no mirror of $1 main" >&2; return 1; }
  echo "$mirror"
}

# apt_source <package> <version> <into>: Debian's source package through a
# private apt configuration with a deb-src entry for this release.
apt_source() {
  local package=$1 version=$2 into=$3 apt=$QT_CACHE/apt
  if [ ! -d "$apt/lists" ]; then
    local codename mirror
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mirror=$(debian_mirror "$codename") || return 1
    mkdir -p "$apt/lists/partial"
    echo "deb-src $mirror $codename main" >"$apt/sources.list"
    apt-get -qq -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=- \
      -o Dir::State::Lists="$apt/lists" update >/dev/null 2>&1 || { rm -rf "$apt/lists"; return 1; }
  fi
  local download=$apt/download/$package
  mkdir -p "$download"
  (cd "$download" &&
    apt-get -qq -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=- \
      -o Dir::State::Lists="$apt/lists" -o APT::Sandbox::User=root \
      source --download-only "$package" >/dev/null 2>&1) || return 1
  local dsc
  dsc=$(ls "$download"/"${package}"_"${version}"*.dsc 2>/dev/null | head -n 1)
  [ -n "$dsc" ] || return 1
  dpkg-source --no-check -x "$dsc" "$into" >/dev/null
}

# windows_qt_prefix: prints the folder of the static Qt for Windows, building
# it first if the cache lacks it. Progress goes to stderr.
windows_qt_prefix() {
  install_packages "${QT_WINDOWS_PACKAGES[@]}"
  local version key
  version=$(host_qt_version)
  key=$(qt_windows_key)
  QT_CACHE=${KITUPDATER_QT_CACHE:-$HOME/.cache/kitupdater/qt-windows}
  local prefix=$QT_CACHE/qt-$version-$key
  if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    return
  fi
  build_windows_qt "$version" "$prefix" >&2
  echo "$prefix"
}

build_windows_qt() { # build_windows_qt <version> <prefix>
  local version=$1 prefix=$2 started=$SECONDS
  local work=$QT_CACHE/work
  step "Qt $version for Windows, built once into $prefix (about 25 minutes on 2 cores)"
  rm -rf "$work" "$prefix"
  mkdir -p "$work/src" "$work/build"
  write_mingw_toolchain "$work/mingw.cmake"
  local module
  for module in "${QT_WINDOWS_MODULES[@]}"; do
    fetch_qt_source "$module" "$version" "$work/src"
  done
  local log=$work/build.log
  echo "    log: $log"
  (cd "$work/build" && mkdir qtbase && cd qtbase &&
    "$work/src/qtbase/configure" -prefix "$prefix" -qt-host-path /usr \
      -xplatform win32-g++ -device-option CROSS_COMPILE=${MINGW_PREFIX}- \
      "${QT_WINDOWS_CONFIGURE[@]}" -- \
      -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
      -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" &&
    cmake --build . --parallel "$(nproc)" && cmake --install .) >"$log" 2>&1 ||
    { tail -n 40 "$log"; echo "Building qtbase for Windows failed; see $log" >&2; return 1; }
  echo "    qtbase done ($((SECONDS - started)) s)"
  for module in qtserialport qtsvg; do
    (mkdir -p "$work/build/$module" && cd "$work/build/$module" &&
      "$prefix/bin/qt-configure-module" "$work/src/$module" &&
      cmake --build . --parallel "$(nproc)" && cmake --install .) >>"$log" 2>&1 ||
      { tail -n 40 "$log"; echo "Building $module for Windows failed; see $log" >&2; return 1; }
    echo "    $module done ($((SECONDS - started)) s)"
  done
  touch "$prefix/.complete"
  rm -rf "$work"
  echo "    Qt for Windows ready ($((SECONDS - started)) s)"
}
