#!/bin/sh
# Installs what building and testing need, and only what is missing.
# Runs `apt-get update` once, and only when something has to be installed.
set -e
need=""
has_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in g++ cmake make pkg-config libuv1-dev libgtest-dev libgmock-dev libbenchmark-dev \
           clang libclang-rt-dev clang-format-14 nodejs; do
  case "$pkg" in
    nodejs) command -v node >/dev/null 2>&1 && continue ;;
    clang) command -v clang++ >/dev/null 2>&1 && continue ;;
  esac
  has_pkg "$pkg" || need="$need $pkg"
done
if [ -z "$need" ]; then
  exit 0
fi
echo "setup: installing$need"
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need
