#!/bin/sh
# Installs what building and testing need, and only what is missing.
# Runs `apt-get update` once, and only when something has to be installed.
set -e
need=""
has_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in g++ cmake make pkg-config libuv1-dev libgtest-dev libgmock-dev libbenchmark-dev \
           clang libclang-rt-dev clang-format-14 nodejs npm; do
  case "$pkg" in
    nodejs) command -v node >/dev/null 2>&1 && continue ;;
    npm) command -v npm >/dev/null 2>&1 && continue ;;
    clang) command -v clang++ >/dev/null 2>&1 && continue ;;
  esac
  has_pkg "$pkg" || need="$need $pkg"
done
if [ -n "$need" ]; then
  echo "setup: installing$need"
  SUDO=""
  if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need
fi

# The test262 parser tests for test262_test: npm package test262-parser-tests 0.0.5,
# kept in build-deps/test262 (git-ignored, never committed). Without network the
# install fails and test262_test reports itself as skipped.
t262="$(dirname "$0")/../build-deps/test262"
if [ ! -f "$t262/node_modules/test262-parser-tests/package.json" ]; then
  echo "setup: installing test262-parser-tests@0.0.5 into build-deps/test262"
  mkdir -p "$t262"
  npm install --prefix "$t262" --no-save --no-audit --no-fund --no-package-lock --silent \
    test262-parser-tests@0.0.5 ||
    echo "setup: could not install test262-parser-tests (no network?); test262_test will be skipped"
fi

# The source-map consumer for the source map check of host_test: npm package
# source-map 0.7.4, kept in build-deps/source-map (git-ignored). Without it the check
# reports itself as skipped.
smap="$(dirname "$0")/../build-deps/source-map"
if [ ! -f "$smap/node_modules/source-map/package.json" ]; then
  echo "setup: installing source-map@0.7.4 into build-deps/source-map"
  mkdir -p "$smap"
  npm install --prefix "$smap" --no-save --no-audit --no-fund --no-package-lock --silent \
    source-map@0.7.4 ||
    echo "setup: could not install source-map (no network?); the source map check will be skipped"
fi
