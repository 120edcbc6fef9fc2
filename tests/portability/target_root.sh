#!/bin/sh
# Prints the root directory of one system of the fleet: Debian SUITE (minbase)
# with the Qt 5 runtime, an X server, xdotool, libtdb1 and Python for Ansible,
# made once by tools/debian-root.sh (about a minute) and then reused.
# usage: target_root.sh SUITE
set -eu
suite=$1
qt=libqt5widgets5
case "$suite" in
bullseye | bookworm) ;;
*) qt=libqt5widgets5t64 ;; # renamed for 64-bit time from Debian 13 on
esac
exec "$(dirname "$0")/../../tools/debian-root.sh" target "$suite" \
    $qt fonts-dejavu-core xvfb xdotool procps libtdb1 python3 python3-apt
