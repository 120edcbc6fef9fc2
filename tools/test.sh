#!/bin/sh
# Builds everything and runs every test through ctest: the whole suite in the
# normal build (bounded fuzz runs included), then the unit suites again in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
tools/build.sh

(cd build && ctest --output-on-failure --timeout 900)

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DINSTALLER_SANITIZE=ON -DINSTALLER_FUZZ=OFF >/dev/null
cmake --build build-sanitize --parallel "$(nproc)" \
    --target launcher_unit_tests userdata_unit_tests parse_data_test
(cd build-sanitize && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -L unit)
