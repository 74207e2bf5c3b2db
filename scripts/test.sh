#!/usr/bin/env bash
# Installs what building and testing need, builds the app, tests and benchmarks, and runs the
# whole test suite.
# Extra arguments go to CMake (CI adds -DQUAYSTONE_WERROR=ON, or a sanitizer build).
# QUAYSTONE_BUILD_DIR picks the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

build_dir=${QUAYSTONE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure
