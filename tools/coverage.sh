#!/bin/sh
# Line coverage of the project's code by the whole test suite: builds
# build-coverage/ with --coverage, runs ctest there (without the fuzz runs and
# the reproducibility build) and prints line coverage per directory and file.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
top=$PWD
cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DINSTALLER_COVERAGE=ON -DINSTALLER_FUZZ=OFF -DINSTALLER_PORTABLE=OFF >/dev/null
cmake --build build-coverage --parallel "$(nproc)" >/dev/null
find build-coverage -name '*.gcda' -delete
(cd build-coverage && ctest -E reproducible_build --output-on-failure >/dev/null) || {
    echo "coverage.sh: tests failed in build-coverage" >&2
    exit 1
}

json=build-coverage/coverage.json
gcovr --root "$top" --object-directory build-coverage --filter 'launcher/' --filter 'wizard/' --filter 'tools/' \
    --exclude '.*_autogen/.*' --json-summary "$json" >/dev/null
python3 - "$json" <<'PY'
import json, sys
from collections import defaultdict
files = json.load(open(sys.argv[1]))["files"]
# The wizard's window classes need a display; its parsing and staging code does not.
gui = ("wizard/main.cpp",)
groups = defaultdict(lambda: [0, 0])
for f in files:
    name, covered, total = f["filename"], f["line_covered"], f["line_total"]
    groups[name.split("/")[0] + "/"][0] += covered
    groups[name.split("/")[0] + "/"][1] += total
for key in sorted(groups):
    covered, total = groups[key]
    print(f"{key:40} {covered:5}/{total:<5} {100.0 * covered / max(total, 1):5.1f} %")
print()
for f in sorted(files, key=lambda f: f["filename"]):
    print(f"  {f['filename']:38} {f['line_covered']:5}/{f['line_total']:<5} {f['line_percent']:5.1f} %")
PY
