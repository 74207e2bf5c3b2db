#!/usr/bin/env bash
# Installs what is needed, builds the app and starts it in the system tray.
# Arguments are passed to the app (for example --ui-test-host).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quaystone
exec build/src/app/quaystone "$@"
