#!/usr/bin/env bash
# Installs the Debian packages the project needs (only the missing ones),
# then configures and builds one build tree.
#   scripts/setup.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
shift || true

packages=(
  build-essential cmake pkg-config clang-format
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libavfilter-dev libswresample-dev
  libgtest-dev libgmock-dev
  locales
  qt6-base-dev qt6-base-dev-tools libqt6test6 qt6-qpa-plugins libgl1-mesa-dev fonts-dejavu-core
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "setup: run as root to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
  fi
  "${as_root[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cd "$here"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
