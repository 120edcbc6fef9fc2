#!/bin/sh
# Configures and builds everything into build/ (dependencies first).
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build --parallel "$(nproc)"
