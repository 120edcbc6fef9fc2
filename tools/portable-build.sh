#!/bin/sh
# Builds the launcher and the wizard that the installer image ships in a
# Debian 11 root (glibc 2.31, GCC 10): what is linked there needs no newer C
# library than the oldest supported systems have, and the wizard links a
# static Qt built in that root (tools/static-qt.sh), so it needs no Qt at all.
# The root is made once by tools/debian-root.sh; the build runs in a throwaway
# overlay of it (tests/sandbox/sandbox.sh) and writes only into BUILD_DIR.
#
# usage: portable-build.sh SOURCE_DIR BUILD_DIR NATIVE_PAYLOAD [WIZARD_PAYLOAD]
# Results: BUILD_DIR/launcher/tqlauncher (both payloads embedded; the wizard
# is WIZARD_PAYLOAD or, by default, BUILD_DIR/wizard/tqwiz). Must run as root.
set -eu

if [ $# -lt 3 ] || [ "$1" = --help ]; then
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    [ "${1:-}" = --help ]
    exit
fi
source_dir=$(realpath "$1")
build_dir=$2
native_payload=$(realpath "$3")
wizard_payload=${4:+$(realpath "$4")}
mkdir -p "$build_dir"
build_dir=$(realpath "$build_dir")

# The X client, font, glib and D-Bus development files that the static Qt
# and the wizard link against: every desktop has their libraries.
root=$("$source_dir/tools/debian-root.sh" build bullseye build-essential cmake pkg-config perl \
    libxcb1-dev libxcb-icccm4-dev libxcb-image0-dev libxcb-keysyms1-dev libxcb-randr0-dev \
    libxcb-render-util0-dev libxcb-render0-dev libxcb-shape0-dev libxcb-shm0-dev libxcb-sync-dev \
    libxcb-xfixes0-dev libxcb-xinerama0-dev libxcb-xkb-dev libxkbcommon-dev libxkbcommon-x11-dev \
    libx11-dev libx11-xcb-dev libfontconfig1-dev libfreetype6-dev libglib2.0-dev libdbus-1-dev libatspi2.0-dev)
qt=$("$source_dir/tools/static-qt.sh" "$root")

# The make that may have started this one hands down its job server, which
# does not reach into the sandbox.
unset MAKEFLAGS MFLAGS MAKELEVEL
# Without its shared library the linker takes xcb-xinerama's static archive:
# many desktops lack the shared one.
set -- --ro "$source_dir" --ro "$qt" --ro "$(dirname "$native_payload")" --bind "$build_dir" \
    --remove /usr/lib/x86_64-linux-gnu/libxcb-xinerama.so
[ -z "$wizard_payload" ] || set -- "$@" --ro "$(dirname "$wizard_payload")"
"$source_dir/tests/sandbox/sandbox.sh" --root "$root" "$@" -- \
    sh -c 'cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DINSTALLER_SHIPPED_ONLY=ON -DCMAKE_PREFIX_PATH="$5" \
               -DNATIVE_PAYLOAD="$3" ${4:+-DWIZARD_PAYLOAD="$4"} >"$2/configure.log" ||
               { cat "$2/configure.log"; exit 1; }
           cmake --build "$2" --parallel "$(nproc)" --target tqlauncher' \
    portable-build "$source_dir" "$build_dir" "$native_payload" "$wizard_payload" "$qt"
# Up to date from now on, even where nothing had to be rebuilt.
touch "$build_dir/launcher/tqlauncher" "$build_dir/wizard/tqwiz"
