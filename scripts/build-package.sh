#!/usr/bin/env bash
# Builds the Debian package and prints its path.
#
#   scripts/build-package.sh [BUILD_DIR]     (default: build-package)
#
# The build is configured for /usr (the paths of the helper and of the polkit action compiled into
# the app and the action are those the package installs), without tests (so without their hooks),
# and with Debian's build flags for every binary (dpkg-buildflags, all hardening on: fortify, stack
# protector, relro and bindnow), as a Debian package build would pass them. lsof is where the
# Debian package it depends on installs it, whatever this machine has.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# CMake reads no CPPFLAGS: they go with the compiler's flags.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUAYSTONE_BUILD_TESTS=OFF -DQUAYSTONE_BUILD_BENCH=OFF -DQUAYSTONE_BUILD_FUZZ=OFF \
    -DQUAYSTONE_LSOF_PATH=/usr/bin/lsof \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >&2
cmake --build "$build_dir" -j"$(nproc)" >&2
build_dir=$(cd "$build_dir" && pwd)
rm -f "$build_dir"/quaystone_*.deb
(cd "$build_dir" && cpack -G DEB >&2)
ls "$build_dir"/quaystone_*.deb
