#!/bin/sh
# Builds the launcher and the wizard that the installer image ships in a
# Debian 11 root (glibc 2.31, GCC 10, Qt 5.15.2): what is linked there needs
# no newer C or C++ runtime than the oldest supported systems have. The root
# is made once by tools/debian-root.sh; the build runs in a throwaway overlay
# of it (tests/sandbox/sandbox.sh) and writes only into BUILD_DIR.
#
# usage: portable-build.sh SOURCE_DIR BUILD_DIR NATIVE_PAYLOAD [WIZARD_PAYLOAD]
# Results: BUILD_DIR/launcher/tqlauncher (both payloads embedded; the wizard
# is WIZARD_PAYLOAD or, by default, BUILD_DIR/wizard/tqwiz). Must run as root.
set -eu

if [ $# -lt 3 ] || [ "$1" = --help ]; then
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    [ "${1:-}" = --help ]
    exit
fi
source_dir=$(realpath "$1")
build_dir=$2
native_payload=$(realpath "$3")
wizard_payload=${4:+$(realpath "$4")}
mkdir -p "$build_dir"
build_dir=$(realpath "$build_dir")

root=$("$source_dir/tools/debian-root.sh" build bullseye build-essential cmake qtbase5-dev)

# The make that may have started this one hands down its job server, which
# does not reach into the sandbox.
unset MAKEFLAGS MFLAGS MAKELEVEL
set -- --ro "$source_dir" --ro "$(dirname "$native_payload")" --bind "$build_dir"
[ -z "$wizard_payload" ] || set -- "$@" --ro "$(dirname "$wizard_payload")"
"$source_dir/tests/sandbox/sandbox.sh" --root "$root" "$@" -- \
    sh -c 'cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DINSTALLER_SHIPPED_ONLY=ON \
               -DNATIVE_PAYLOAD="$3" ${4:+-DWIZARD_PAYLOAD="$4"} >"$2/configure.log" ||
               { cat "$2/configure.log"; exit 1; }
           cmake --build "$2" --parallel "$(nproc)" --target tqlauncher' \
    portable-build "$source_dir" "$build_dir" "$native_payload" "$wizard_payload"
# Up to date from now on, even where nothing had to be rebuilt.
touch "$build_dir/launcher/tqlauncher" "$build_dir/wizard/tqwiz"
