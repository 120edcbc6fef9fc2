#!/bin/sh
# Builds everything and runs every check, as CI does:
#   1. formatting, clang-tidy and cppcheck (tools/lint.sh)
#   2. the whole ctest suite in build/, bounded fuzz runs and the
#      reproducible-build test included
#   3. the whole suite again in build-sanitize/, built with AddressSanitizer
#      and UndefinedBehaviorSanitizer
#   4. line coverage per directory (tools/coverage.sh)
#   5. every benchmark script once, with the fewest repeats (a smoke run:
#      nothing is timed against a target, but a broken benchmark fails)
set -eu
cd "$(dirname "$0")/.."
top=$PWD
tools/build.sh

tools/lint.sh

(cd build && ctest --output-on-failure --timeout 900)

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DINSTALLER_SANITIZE=ON -DINSTALLER_FUZZ=OFF -DINSTALLER_PORTABLE=OFF >/dev/null
cmake --build build-sanitize --parallel "$(nproc)"
# Qt and the libraries under it keep some allocations until the process ends.
LSAN_OPTIONS="suppressions=$top/tests/sanitizer/lsan.supp:print_suppressions=0"
export LSAN_OPTIONS
(cd build-sanitize && ctest --output-on-failure --timeout 900 -E reproducible_build)
unset LSAN_OPTIONS

tools/coverage.sh

for bench in bench/run.sh bench/install_output.sh bench/lock_release.sh; do
    echo "== $bench (smoke run)"
    "$bench" 1 >/dev/null
done
