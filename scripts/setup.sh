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

source "$here/scripts/install-missing.sh"
install_missing "${packages[@]}"

cd "$here"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
