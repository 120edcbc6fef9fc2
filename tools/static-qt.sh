#!/bin/sh
# Prints the prefix of the static Qt 5 that the shipped wizard links: Debian
# 12's own qtbase source, built inside the build root ROOT (so it needs no
# newer C library than that root's) and trimmed to what the wizard uses. Made
# once per machine and reused; the cache entry is keyed by the source version,
# the configure options below and the root, so changing any of them builds
# anew. A cold build takes 7 to 8 minutes on two cores.
#
# usage: static-qt.sh ROOT
# Builds live in $INSTALLER_QT_CACHE (default /var/cache/morrowlin-tesserak/qt);
# the source comes from $DEBIAN_MIRROR (default http://deb.debian.org/debian).
# Progress goes to standard error, the build's output to a log beside the
# entry. Must run as root.
set -eu

if [ $# -ne 1 ] || [ "$1" = --help ]; then
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
    [ "${1:-}" = --help ]
    exit
fi
root=$(realpath "$1")
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${INSTALLER_QT_CACHE:-/var/cache/morrowlin-tesserak/qt}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

# Debian 12's: Debian 11's source package lacks its debian.tar.xz in the archive.
source_package=qtbase-opensource-src
source_version=5.15.8+dfsg-11+deb12u3
source_suite=bookworm

# Everything a desktop may lack is either built in (pcre2, double-conversion,
# harfbuzz, libpng, zlib, md4c, xcb-xinput; the wizard's link takes
# xcb-xinerama's static archive) or left out (OpenGL, ICU, SQL, network,
# printing, session management). What every X desktop has stays shared:
# libX11 (window titles for tools that read only WM_NAME), libxcb and
# xcb-util, xkbcommon, fontconfig, freetype, glib and libdbus (for the
# accessibility bridge). Widgets and formats the wizard never shows are left
# out, and the code is optimized for size: the wizard must stay small enough
# to carry. Qt's own translations and settings are the system's, where it
# has them. (What Qt imports from glibc beyond 2.27 without an option to
# avoid it, the wizard's link redirects: wizard/glibc_compat.cpp.)
configure_options="
    -static -release -opensource -confirm-license
    -nomake examples -nomake tests
    -no-opengl -no-egl -no-feature-vulkan -no-icu -no-openssl
    -no-feature-sql -no-feature-network -no-feature-printer -no-feature-testlib
    -no-feature-sessionmanager -no-feature-xcb-sm
    -no-cups -no-gtk -no-libinput -no-evdev -no-mtdev -no-tslib -no-libudev
    -no-linuxfb -no-eglfs -no-kms -no-gbm -no-directfb -no-journald -no-zstd
    -no-libjpeg -no-feature-statx -no-feature-renameat2 -no-feature-getentropy
    -qt-libpng -qt-zlib -qt-pcre -qt-harfbuzz -qt-doubleconversion
    -system-freetype -fontconfig -glib -dbus-linked
    -xcb -bundled-xcb-xinput -xkbcommon
    -feature-accessibility -optimize-size -no-feature-gif -no-feature-ico
    -no-feature-graphicsview -no-feature-mdiarea -no-feature-calendarwidget -no-feature-datetimeedit
    -no-feature-undocommand -no-feature-undostack -no-feature-undogroup -no-feature-undoview
    -no-feature-columnview -no-feature-dial -no-feature-lcdnumber -no-feature-fontcombobox
    -no-feature-fontdialog -no-feature-colordialog -no-feature-filedialog -no-feature-splashscreen
    -no-feature-toolbox -no-feature-keysequenceedit -no-feature-syntaxhighlighter
    -no-feature-style-stylesheet -no-feature-effects -no-feature-statemachine -no-feature-movie
    -no-feature-pdf -no-feature-textodfwriter -no-feature-imageformat_ppm -no-feature-imageformat_xbm
    -translationdir /usr/share/qt5/translations -sysconfdir /etc/xdg
"

key=$(printf '%s\n' "$source_version" "$configure_options" "$(basename "$root")" |
    sha256sum | cut -c 1-12)
entry="$cache/qtbase-${source_version%%+*}-$key"

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9

if [ -e "$entry/.complete" ]; then
    printf '%s\n' "$entry/qt"
    exit 0
fi
for old in "$cache/qtbase-"*; do
    [ -e "$old" ] && rm -rf "$old"
done
log="$entry.log"
mkdir -p "$entry/source" "$entry/build"
echo "static-qt.sh: building Qt $source_version into $entry/qt; log in $log" >&2
started=$(date +%s)

# apt-get source from a list of our own: the host's sources stay as they are.
apt_dir="$entry/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $source_suite main" \
    >"$apt_dir/sources.list"
set -- -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" \
    -o APT::Sandbox::User=root -q
if ! { apt-get "$@" update && (cd "$entry/source" &&
    apt-get "$@" source "$source_package=$source_version"); } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "static-qt.sh: could not get $source_package $source_version from $mirror" >&2
    exit 1
fi
source_dir=$(find "$entry/source" -mindepth 1 -maxdepth 1 -type d -name "qtbase*")
echo "static-qt.sh: source fetched in $(($(date +%s) - started)) s" >&2

# The make that may have started this one hands down its job server, which
# does not reach into the sandbox.
unset MAKEFLAGS MFLAGS MAKELEVEL
# shellcheck disable=SC2086 # the options are words
if ! "$top/tests/sandbox/sandbox.sh" --root "$root" --bind "$entry" -- \
    sh -c 'cd "$1/build" && MAKEFLAGS=-j$(nproc) "$2/configure" -prefix "$1/qt" $3 &&
           make -j"$(nproc)" && make install' \
    static-qt "$entry" "$source_dir" "$configure_options" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "static-qt.sh: building Qt failed; the whole log is $log" >&2
    exit 1
fi
rm -rf "$entry/source" "$entry/build" "$entry/apt"
touch "$entry/.complete"
echo "static-qt.sh: Qt built in $(($(date +%s) - started)) s" >&2
printf '%s\n' "$entry/qt"
