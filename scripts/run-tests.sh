#!/usr/bin/env bash
# Builds OrvinAgent for Windows and runs every test under Wine.
#   scripts/run-tests.sh [ctest arguments...]     e.g. -L foundation
# BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j 2
trap '"$BUILD_DIR"/wine-run --stop' EXIT
ctest --test-dir "$BUILD_DIR" --output-on-failure -j 2 "$@"
