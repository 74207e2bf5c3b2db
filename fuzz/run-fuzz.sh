#!/usr/bin/env bash
# Builds the lsof parser fuzzer with clang and runs it for a bounded time from the seed corpus in
# fuzz/corpus. Exits non-zero on any crash, sanitizer report, invariant violation or slow input.
#
# Usage: fuzz/run-fuzz.sh [seconds]         (default 60)
# Build directory: $QUAYSTONE_FUZZ_BUILD_DIR, default build-fuzz at the repository root.
set -euo pipefail

seconds="${1:-60}"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUAYSTONE_FUZZ_BUILD_DIR:-$repo/build-fuzz}"

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUAYSTONE_BUILD_FUZZ=ON -DQUAYSTONE_BUILD_TESTS=OFF -DQUAYSTONE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_lsof_parser -j2

# The seeds stay untouched; what the fuzzer finds goes to the (ignored) working corpus.
work="$repo/fuzz/corpus-run"
artifacts="$build/fuzz-artifacts"
mkdir -p "$work" "$artifacts"
"$build/fuzz/fuzz_lsof_parser" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" "$repo/fuzz/corpus"
