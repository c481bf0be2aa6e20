#!/usr/bin/env bash
# The updater as a web page (web/): the core built as WebAssembly with
# emscripten, and the site assembled in build-web/site/, a static folder that
# any web server can serve.
#
#   scripts/web.sh               installs what is missing, builds the site
#   scripts/web.sh --serve       ... then serves it on http://localhost:8080 (127.0.0.1 only)
#   scripts/web.sh --test        ... then runs the core's tests under node and the page's tests
#                                in headless Chromium (run by scripts/test.sh)
#   scripts/web.sh --bench       ... then times the page (per word, whole updates) and prints the figures
#   scripts/web.sh --screenshot  ... then renders docs/web-page.png from the page
#
# The tests and the benchmark talk to kitsim: $KITSIM names one that is
# built; otherwise it is built here, in build-web/native.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

MODE=${1:-}
case "$MODE" in
  ''|--serve|--test|--bench|--screenshot) ;;
  *) echo "usage: scripts/web.sh [--serve|--test|--bench|--screenshot]" >&2; exit 2 ;;
esac

WEB_BUILD=${KITUPDATER_WEB_BUILD:-$ROOT/build-web}
BUILD=$WEB_BUILD # the build log of the steps below
SITE=$WEB_BUILD/site
TESTS=$ROOT/tests/web
# Debian's emscripten runs its tools with node and finds their modules among
# Debian's; a node from elsewhere (NodeSource) does not look there by itself.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# nodejs and npm only where there is no node or npm: a NodeSource nodejs has
# its own npm, which Debian's npm package would conflict with.
web_packages() {
  echo emscripten chromium
  command -v node >/dev/null || echo nodejs
  command -v npm >/dev/null || echo npm
}

build_site() {
  start_build_log
  build_step "Configuring the core for WebAssembly (emcmake)" \
    emcmake cmake -S "$ROOT/web" -B "$WEB_BUILD/wasm" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)"
  build_step "Building the core as WebAssembly, and its tests" nice cmake --build "$WEB_BUILD/wasm" -j2
  rm -rf "$SITE"
  mkdir -p "$SITE"
  cp "$ROOT"/web/*.html "$ROOT"/web/*.css "$ROOT"/web/*.js "$WEB_BUILD"/wasm/kitcore.wasm "$SITE/"
  cp "$WEB_BUILD"/wasm/kitcore.js "$ROOT"/window/pictures/{chip,folder,update}.svg "$ROOT/samples/blink.hex" "$SITE/"
  echo "  Site in $SITE: $(site_size) bytes gzipped (gzip -9, every file)"
}

site_size() {
  local total=0 file
  for file in "$SITE"/*; do
    total=$((total + $(gzip -9c "$file" | wc -c)))
  done
  echo "$total"
}

# kitsim on a pseudo-terminal: the kit the page's tests talk to.
ensure_kitsim() {
  [ -n "${KITSIM:-}" ] && return
  install_missing_packages # the desktop's build tools and Qt
  local BUILD=$WEB_BUILD/native
  start_build_log
  configure_build -DKITUPDATER_BUILD_TESTS=OFF
  build_targets kitsim
  KITSIM=$BUILD/sim/kitsim
}

# The pinned versions of package-lock.json, once, and again when it changes.
install_test_modules() {
  local installed=$TESTS/node_modules/.package-lock.json
  if [ ! -f "$installed" ] || [ "$TESTS/package-lock.json" -nt "$installed" ]; then
    build_step "Installing the tests' npm packages (package-lock.json)" \
      npm ci --prefix "$TESTS" --no-audit --no-fund
  fi
}

run_node() { # run_node <script or --test files...>: with what the tests need to know
  install_test_modules
  KITSIM=${KITSIM:-} SITE=$SITE WEB_BUILD=$WEB_BUILD ROOT=$ROOT node "$@"
}

# shellcheck disable=SC2046 # one package name a word
install_packages $(web_packages)
build_site
case "$MODE" in
  --serve)
    exec node "$ROOT/scripts/serve-site.mjs" "$SITE" 8080 ;;
  --test)
    step "The core's tests, as WebAssembly under node"
    ctest --test-dir "$WEB_BUILD/wasm" --output-on-failure
    step "The page's tests in headless Chromium"
    ensure_kitsim
    run_node --test "$TESTS"/*.test.mjs ;;
  --bench)
    ensure_kitsim
    run_node "$TESTS/bench.mjs" ;;
  --screenshot)
    run_node "$TESTS/screenshot.mjs" ;;
esac
