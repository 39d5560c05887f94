#!/usr/bin/env bash
# The command line on damaged media: MUTATIONS (default 500) variants of
# generated clips, each converted under a time limit (tests/MutationTest.cpp;
# the test suite runs a short form of the same).
#   scripts/mutate.sh [BUILD_DIR]     MUTATIONS=N MUTATION_SEED=S
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build=$here/$build
cmake --build "$build" -j"${JOBS:-2}" --target mutation_tests tavrelle-cli
cd "$build/bin"
TAVRELLE_MUTATIONS=${MUTATIONS:-500} TAVRELLE_MUTATION_SEED=${MUTATION_SEED:-1} \
  nice -n 10 ./mutation_tests
