#!/bin/sh
# Builds everything and runs every test through ctest.
set -eu
cd "$(dirname "$0")/.."
tools/build.sh
cd build
ctest --output-on-failure --timeout 900
