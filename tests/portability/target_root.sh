#!/bin/sh
# Prints the root directory of one system of the fleet: Debian SUITE (minbase)
# with the X client libraries, fonts and glib that Debian's GNOME desktop
# installs and no Qt at all, an X server, xdotool, libtdb1 and Python for
# Ansible, made once by tools/debian-root.sh (about a minute) and then reused.
# usage: target_root.sh SUITE
set -eu
suite=$1
glib=libglib2.0-0
case "$suite" in
bullseye | bookworm) ;;
*) glib=libglib2.0-0t64 ;; # renamed for 64-bit time from Debian 13 on
esac
exec "$(dirname "$0")/../../tools/debian-root.sh" target "$suite" \
    libx11-6 libx11-xcb1 libxcb1 libxcb-icccm4 libxcb-image0 libxcb-keysyms1 libxcb-render-util0 libxcb-randr0 \
    libxcb-render0 libxcb-shape0 libxcb-shm0 libxcb-sync1 libxcb-xfixes0 libxcb-xkb1 \
    libxkbcommon0 libxkbcommon-x11-0 libfontconfig1 libfreetype6 $glib libdbus-1-3 \
    fonts-dejavu-core xvfb xdotool procps libtdb1 python3 python3-apt
