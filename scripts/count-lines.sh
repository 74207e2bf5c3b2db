#!/usr/bin/env bash
# Non-blank lines of code (C++, Python, shell, CMake) in src/, tests/ and everything else that
# is built or run (bench, fuzz, scripts, packaging, the root CMake files), and the tests' share.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    git ls-files --cached --others --exclude-standard -- "$@" | grep -E '\.(cpp|h|py|sh|cmake)$|(^|/)CMakeLists\.txt$' |
        xargs -r -d '\n' cat 2>/dev/null | grep -cv '^\s*$' || true
}
src=$(count src) tests=$(count tests)
other=$(count bench fuzz scripts packaging ':(glob)CMakeLists.txt' ':(glob)*.cmake')
echo "src $src"
echo "tests $tests"
echo "other $other"
awk -v t="$tests" -v a=$((src + tests + other)) 'BEGIN { printf "tests share %.1f%% of %d\n", 100 * t / a, a }'
