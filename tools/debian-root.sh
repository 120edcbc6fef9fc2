#!/bin/sh
# Prints the path of a minimal Debian root directory (debootstrap's minbase
# variant from Debian's archive) of SUITE with PACKAGES added. It is made the
# first time and then reused; it is made anew when the package list or this
# script changes, and the older root of the same NAME and SUITE is removed.
# The .deb files of the PACKAGES named stay in its /var/cache/apt/archives, so
# that tests can serve them from a local repository without a network.
#
# usage: debian-root.sh NAME SUITE [PACKAGE...]
#   NAME   what the root is for (build, target, ...), part of its directory name
# Roots live in $INSTALLER_ROOTS (default /var/cache/morrowlin-tesserak/roots);
# the archive is $DEBIAN_MIRROR (default http://deb.debian.org/debian).
# Progress goes to standard error. Must run as root.
set -eu

if [ $# -lt 2 ] || [ "$1" = --help ]; then
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    [ "${1:-}" = --help ]
    exit
fi
name=$1 suite=$2
shift 2
cache=${INSTALLER_ROOTS:-/var/cache/morrowlin-tesserak/roots}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

packages=$(printf '%s\n' "$@" | sort -u | tr '\n' ',' | sed 's/^,//; s/,$//')
key=$( (printf '%s %s %s\n' "$suite" "$packages" "$mirror"; cat "$0") | sha256sum | cut -c 1-12)
root="$cache/$name-$suite-$key"

mkdir -p "$cache"
# One maker at a time; a second caller waits and then finds the root made.
exec 9>"$cache/.$name-$suite.lock"
flock 9

if [ ! -e "$root/.complete" ]; then
    for old in "$cache/$name-$suite-"*; do
        [ -e "$old" ] && rm -rf "$old"
    done
    log="$root.log"
    echo "debian-root.sh: making $root (debootstrap $suite${packages:+ with $packages}); log in $log" >&2
    started=$(date +%s)
    if ! debootstrap --variant=minbase --components=main ${packages:+--include="$packages"} \
        "$suite" "$root.partial" "$mirror" >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        rm -rf "$root.partial"
        echo "debian-root.sh: debootstrap of $suite failed" >&2
        exit 1
    fi
    for deb in "$root.partial"/var/cache/apt/archives/*.deb; do
        package=$(basename "$deb")
        case " $* " in *" ${package%%_*} "*) ;; *) rm -f "$deb" ;; esac
    done
    rm -f "$root.partial"/var/cache/apt/*.bin
    mv "$root.partial" "$root"
    touch "$root/.complete"
    echo "debian-root.sh: $root made in $(($(date +%s) - started)) s" >&2
fi
printf '%s\n' "$root"
