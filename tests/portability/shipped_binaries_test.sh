#!/bin/bash
# What the shipped image needs from the systems it runs on, read off the
# binaries themselves: the symbol versions and libraries of the launcher and
# of the wizard embedded in it, the Qt API the wizard calls, and the image's
# layout.
source "$(dirname "$0")/../e2e/lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints NAME@VERSION for each imported symbol whose version of the given
# PREFIX (GLIBC, GLIBCXX, CXXABI) is newer than FLOOR.
above_floor() { # BINARY PREFIX FLOOR
    objdump -T "$1" | awk -v prefix="$2" '
        NF < 2 { next }
        { version = $(NF - 1); gsub(/[()]/, "", version) }
        index(version, prefix "_") == 1 { print substr(version, length(prefix) + 2), $NF }' |
        while read -r version name; do
            [ "$(printf '%s\n%s\n' "$3" "$version" | sort -V | tail -n 1)" = "$3" ] || echo "$name@$2_$version"
        done | sort -u
}

# Address, file offset and size of the ELF section NAME.
section() { # BINARY NAME
    readelf -S -W "$1" | awk -v name="$2" '{ sub(/^ *\[ *[0-9]+\] */, "") } $1 == name { print $3, $4, $5 }'
}
symbol() { readelf -s -W "$1" | awk -v name="$2" '$8 == name { print $2 }'; }
size_word() { od -An -t d4 -j "$2" -N 4 "$1" | tr -d ' '; }

case_ "the launcher runs on glibc 2.17 and loads the C library alone"
expect_eq "GLIBC symbols above 2.17" "" "$(above_floor "$IMAGE" GLIBC 2.17)"
# (The loader, which runs every dynamic program anyway, serves the C++ runtime's thread-local data.)
expect_eq "libraries it needs: the C library and its loader" $'libc.so.6\nld-linux-x86-64.so.2' \
    "$(readelf -d "$IMAGE" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -r)"

case_ "the image's layout"
read -r rodata_addr rodata_offset rodata_size < <(section "$IMAGE" .rodata)
native=$((0x$(symbol "$IMAGE" tqnativeinstaller)))
native_size=$((0x$(symbol "$IMAGE" tqnativeinstaller_size)))
wizard=$((0x$(symbol "$IMAGE" tquiinstaller)))
wizard_size=$((0x$(symbol "$IMAGE" tquiinstaller_size)))
file_offset() { echo $(($1 - 0x$rodata_addr + 0x$rodata_offset)); }
native_length=$(size_word "$IMAGE" "$(file_offset $native_size)")
wizard_length=$(size_word "$IMAGE" "$(file_offset $wizard_size)")
expect_eq "the launcher's own constants come first" 1 $((native > 0x$rodata_addr))
expect_eq "the package starts on a 4 KiB boundary of the file" 0 $(($(file_offset $native) % 4096))
expect_eq "the package's size word follows it" $((native + native_length)) $native_size
expect_eq "the wizard follows that size word" $((native_size + 4)) $wizard
expect_eq "the wizard's size word follows it" $((wizard + wizard_length)) $wizard_size
expect_eq ".rodata ends with the second size word" $((0x$rodata_addr + 0x$rodata_size)) $((wizard_size + 4))
tail -c +$(($(file_offset $native) + 1)) "$IMAGE" | head -c "$native_length" >"$work/native"
tail -c +$(($(file_offset $wizard) + 1)) "$IMAGE" | head -c "$wizard_length" >"$work/tqwiz"
cmp -s "$work/native" "$NATIVE_PACKAGE"; expect_eq "the package is embedded byte for byte" 0 $?
cmp -s "$work/tqwiz" "$SHIPPED_WIZARD"; expect_eq "the wizard is embedded byte for byte" 0 $?

case_ "the embedded wizard brings Qt and C++ along and needs only what every X desktop has"
expect_eq "GLIBC symbols above 2.27" "" "$(above_floor "$work/tqwiz" GLIBC 2.27)"
expect_eq "no C++ runtime needed" "" "$(objdump -T "$work/tqwiz" | grep -E 'GLIBCXX|CXXABI|Qt_5')"
desktop_libraries='^(libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|ld-linux-x86-64\.so\.2|'
desktop_libraries+='libX11(-xcb)?\.so\.[0-9]+|libxcb(-(icccm|image|keysyms|render-util|randr|render|shape|shm|sync|xfixes|xkb))?\.so\.[0-9]+|'
desktop_libraries+='libxkbcommon(-x11)?\.so\.0|libfontconfig\.so\.1|libfreetype\.so\.6|'
desktop_libraries+='libg(lib|thread)-2\.0\.so\.0|libdbus-1\.so\.3)$'
needed=$(readelf -d "$work/tqwiz" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
expect_eq "libraries it needs beyond a GNOME desktop's" "" "$(grep -Ev "$desktop_libraries" <<<"$needed")"
expect_eq "and the accessibility bridge's D-Bus is among them" "libdbus-1.so.3" "$(grep -x 'libdbus-1.so.3' <<<"$needed")"
expect_eq "at most 12 MiB" 1 $(($(stat -c %s "$work/tqwiz") <= 12 * 1024 * 1024))

case_ "the wizard calls only Qt API that Qt 5.5 has"
# Read off the same sources linked against the system's shared Qt.
qt_versions=$(objdump -T "$SYSTEM_QT_WIZARD" | awk 'NF < 2 { next } { v = $(NF - 1); gsub(/[()]/, "", v) } v ~ /^Qt_/ { print v }' | sort -u)
expect_eq "Qt symbols carry the plain Qt_5 version, no minor-version tag" "Qt_5" "$qt_versions"
objdump -T "$SYSTEM_QT_WIZARD" | awk 'NF >= 2 && $(NF - 1) == "(Qt_5)" { print $NF }' | sort -u >"$work/qt-used"
grep -v '^#' "$(dirname "$0")/qt55-symbols.txt" | sort -u >"$work/qt-reviewed"
expect_eq "every Qt symbol the wizard imports was checked against Qt 5.5 (qt55-symbols.txt)" "" \
    "$(comm -23 "$work/qt-used" "$work/qt-reviewed" | c++filt)"

finish
