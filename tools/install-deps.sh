#!/bin/sh
# Installs, from Debian's archive, everything the build, the demo and the tests
# need. Does nothing when all of it is already there.
set -eu

packages="
    build-essential cmake git
    libssl-dev libgtest-dev
    qtbase5-dev qtbase5-dev-tools qttranslations5-l10n fonts-dejavu-core
    xvfb xdotool imagemagick procps
    clang libclang-rt-14-dev clang-format clang-tidy cppcheck gcovr
    hyperfine time libx11-dev libseccomp-dev strace xfsprogs
    util-linux passwd coreutils libtdb1
    debootstrap debian-archive-keyring binutils lintian
    pkexec polkitd dbus libglib2.0-bin perl
    ansible ansible-lint dpkg-dev
"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -n "$missing" ] || exit 0

if [ "$(id -u)" != 0 ]; then
    echo "install-deps.sh: missing packages:$missing (run as root to install them)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
# shellcheck disable=SC2086
apt-get install -y --no-install-recommends $missing
