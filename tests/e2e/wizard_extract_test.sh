#!/bin/bash
# The wizard's extract command run as a process on copies branded by the
# trailer writer: whatever way it was started, it reads its own file.
source "$(dirname "$0")/lib.sh"
# The extract command needs no display: every case here runs without one.
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d)
trap 'rm -rf "$work" ${RESULT_DIRS[@]+"${RESULT_DIRS[@]}"}' EXIT
cd "$work" || exit 1
printf 'server = gateway.example\n\000binary\377tail' >config.bin
"$USERDATA_TRAILER" brand "$WIZARD" config.bin "$work/branded-wizard"

case_ "the writer's trailer reads back"
dump=$("$USERDATA_TRAILER" dump branded-wizard)
expect_contains "dump names element 1" "$dump" "element 1: $(stat -c %s config.bin) bytes"
expect_contains "closing element" "$dump" "closing element 2: 0 bytes"

case_ "a branded wizard extracts exactly the configuration"
./branded-wizard extract out.bin 2>/dev/null
expect_eq "status" 0 $?
cmp -s config.bin out.bin; expect_eq "byte for byte" 0 $?

case_ "arguments after the output name are ignored"
./branded-wizard extract out2.bin config.bin other 2>/dev/null
expect_eq "status" 0 $?
cmp -s config.bin out2.bin; expect_eq "still its own trailer" 0 $?

case_ "the unbranded wizard has nothing to extract"
echo "keep me" >existing.txt
"$WIZARD" extract existing.txt 2>/dev/null
expect_eq "status" 255 $?
expect_eq "existing output untouched" "keep me" "$(cat existing.txt)"
"$WIZARD" extract new.txt 2>/dev/null
[ -e new.txt ]; expect_eq "no output file created" 1 $?

case_ "started through a link, the search path, or a relative path"
mkdir -p bin elsewhere
ln -s "$work/branded-wizard" bin/wizard-link
(cd elsewhere && ../bin/wizard-link extract via-link.bin 2>/dev/null); expect_eq "link status" 0 $?
cmp -s config.bin elsewhere/via-link.bin; expect_eq "link output" 0 $?
cp branded-wizard bin/tq-branded
(cd elsewhere && PATH="$work/bin:$PATH" tq-branded extract via-path.bin 2>/dev/null); expect_eq "PATH status" 0 $?
cmp -s config.bin elsewhere/via-path.bin; expect_eq "PATH output" 0 $?
(cd elsewhere && ../branded-wizard extract via-relative.bin 2>/dev/null); expect_eq "relative status" 0 $?
cmp -s config.bin elsewhere/via-relative.bin; expect_eq "relative output" 0 $?

case_ "an output file that cannot be opened"
./branded-wizard extract no/such/dir/out.bin 2>/dev/null
expect_eq "status is QFileDevice::OpenError" 5 $?

case_ "a failed write leaves the old file and reports the failure"
head -c 200000 /dev/urandom >large.bin
new_results
"$USERDATA_TRAILER" brand "$WIZARD" large.bin "$OUT/large-wizard"
cp branded-wizard "$OUT/"
sandboxed --tmp-size 64k --cwd / -- bash -c '
    echo "keep me" >/tmp/out.txt
    "$OUT/large-wizard" extract /tmp/out.txt 2>/dev/null; echo $? >"$OUT/status"
    cat /tmp/out.txt >"$OUT/old"
    ls /tmp | grep -v -e "^out.txt\$" -e "^runtime-" >"$OUT/leftovers" # Qt makes its runtime directory
    mknod /tmp/null c 1 3
    "$OUT/branded-wizard" extract /tmp/null 2>/dev/null; echo $? >"$OUT/device_status"
    stat -c %F /tmp/null >"$OUT/device"'
read_result status status
expect_eq "a full disk is not success" 1 $(("${status:-0}" != 0))
expect_result "the old file is untouched" $'keep me\n' old
expect_result "no partial file left beside it" "" leftovers
expect_result "a device is not replaced" $'5\n' device_status
expect_result "and stays a device" $'character special file\n' device

case_ "a claimed 4 GiB trailer without the identifier is refused before it is read"
cp "$WIZARD" sparse-wizard
truncate -s +4294967296 sparse-wizard
printf '\377\377\377\377' | dd of=sparse-wizard bs=1 seek=$(($(stat -c %s sparse-wizard) - 4)) conv=notrunc 2>/dev/null
peak_kib=$(/usr/bin/time -f %M ./sparse-wizard extract sparse-out.bin 2>&1 >/dev/null | tail -n 1)
expect_eq "status" 255 "$(./sparse-wizard extract sparse-out.bin >/dev/null 2>&1; echo $?)"
expect_eq "far less than the claimed length in memory" 1 $((peak_kib < 500000))
rm -f sparse-wizard

case_ "the writer refuses to brand twice"
"$USERDATA_TRAILER" brand branded-wizard config.bin twice 2>/dev/null
expect_eq "status" 2 $?
[ -e twice ]; expect_eq "nothing written" 1 $?

finish
