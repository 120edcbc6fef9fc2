#!/bin/sh
# Builds the native package from its source tree with fixed modes and times,
# so that the same sources always give the same bytes.
# usage: build-package.sh SOURCE_ROOT GENERATED_DIR STAGING_DIR OUTPUT_DEB
# GENERATED_DIR holds what carries the version: root/ (laid over SOURCE_ROOT),
# and the changelog and the manual page, which go in compressed.
set -eu

src=$1
generated=$2
stage=$3
out=$4
# Any fixed instant will do; git's would change with every commit.
: "${SOURCE_DATE_EPOCH:=1700000000}"
export SOURCE_DATE_EPOCH

rm -rf "$stage"
mkdir -p "$stage"
cp -R "$src"/. "$stage"/
cp -R "$generated/root"/. "$stage"/
# git does not keep empty directories; the agent's configuration lives here.
mkdir -p "$stage/usr/share/morrowlin-tesserak/etc"
# Compressed without name or time stamp: the same bytes every time.
mkdir -p "$stage/usr/share/man/man1"
gzip -9n <"$generated/changelog.Debian" >"$stage/usr/share/doc/morrowlin-tesserak/changelog.Debian.gz"
gzip -9n <"$generated/morrowlin-tesserak.1" >"$stage/usr/share/man/man1/morrowlin-tesserak.1.gz"
# dpkg --verify checks the installed files against these.
(cd "$stage" && find . -path ./DEBIAN -prune -o -type f -print | sed 's|^\./||' | LC_ALL=C sort |
    xargs md5sum >DEBIAN/md5sums)

find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/DEBIAN/postinst" "$stage/DEBIAN/prerm" "$stage/DEBIAN/postrm" \
    "$stage/usr/bin/morrowlin-tesserak" "$stage/usr/share/morrowlin-tesserak/bin/kirra-cli"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$(dirname "$out")"
dpkg-deb --root-owner-group --no-uniform-compression -Zxz --build "$stage" "$out.tmp" >/dev/null
mv -f "$out.tmp" "$out"
