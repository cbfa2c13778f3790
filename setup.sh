#!/usr/bin/env bash
# Prepares a Debian 12 machine for Tarvelle and builds it into build/.
# Installs only the Debian packages that are missing (with sudo when not root),
# then configures and builds. Extra arguments are passed to the CMake configure
# step, e.g. ./setup.sh -DTARVELLE_SANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")"

packages=(build-essential cmake pkg-config qt6-base-dev libgl-dev
          libjpeg62-turbo-dev libpng-dev zlib1g-dev libopenjp2-7-dev
          libgtest-dev googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

build_dir=${TARVELLE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" "$@"
cmake --build "$build_dir" -j"$(nproc)"
