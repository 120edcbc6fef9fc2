#!/bin/bash
# Builds the package, the wizard and the installer image twice, from two copies
# of the sources at different paths into differently named build directories,
# and checks that the results are byte-identical.
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

outputs="package/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb wizard/tqwiz portable/wizard/tqwiz
         portable/launcher/tqlauncher morrowlin-tesserak-installer.run"

build_copy() { # SOURCE_COPY BUILD_DIR
    mkdir -p "$1"
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar -cf - 2>/dev/null) \
        | tar -xf - -C "$1"
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DINSTALLER_FUZZ=OFF >/dev/null &&
        cmake --build "$2" --parallel "$(nproc)" --target installer_image >/dev/null
}

build_copy "$work/first/src" "$work/first/build" || { echo "FAIL: first build"; exit 1; }
build_copy "$work/second/another-source-path" "$work/second/build-elsewhere" || { echo "FAIL: second build"; exit 1; }

passed=0 failed=0
for output in $outputs; do
    if cmp "$work/first/build/$output" "$work/second/build-elsewhere/$output"; then
        passed=$((passed + 1))
        echo "identical: $output ($(stat -c %s "$work/first/build/$output") bytes)"
    else
        failed=$((failed + 1))
        echo "FAIL: $output differs between the two builds"
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
