#!/bin/bash
# Text-mode installation of the real package with the real dpkg, in the sandbox.
source "$(dirname "$0")/lib.sh"

PKG=morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb
EXTRACTING=$'\n'" Extracting native installer to '$PKG'"$'\n'
export IMAGE SAMPLE_CONF PKG

# Runs the image without arguments from /tmp/work and records what it left.
# Extra sandbox options come first; CONF=yes stages the sample .agent.conf.
install_in_sandbox() {
    sandboxed --cwd /tmp/work "$@" -- bash -c '
        [ "${CONF:-yes}" = yes ] && cp "$SAMPLE_CONF" .agent.conf
        "$IMAGE" >"$OUT/stdout" 2>"$OUT/stderr"
        echo $? >"$OUT/status"
        kirra-cli -v >"$OUT/kirra" 2>/dev/null
        dpkg-query -W -f="\${Status}" morrowlin-tesserak >"$OUT/dpkg_status" 2>/dev/null
        cmp -s .agent.conf /usr/share/morrowlin-tesserak/etc/agent.conf && echo copied >"$OUT/etc"
        [ -e /tmp/agent.conf ] && stat -c "%F %a" /tmp/agent.conf >"$OUT/staged"
        ls -A >"$OUT/cwd"
        [ -e /etc/victim ] && cat /etc/victim >"$OUT/victim"
        true'
}

case_ "installs the bundled package"
new_results
install_in_sandbox
read_result stdout stdout
expect_result "status" $'0\n' status
expect_eq "starts with the Extracting line" "$EXTRACTING" "${stdout:0:${#EXTRACTING}}"
expect_contains "dpkg's own output reaches the user" "$stdout" "Setting up morrowlin-tesserak (6.9.6-131326.ubuntu)"
expect_eq "ends with the success line" $'\nInstallation Finished\n\n\n' "${stdout: -25}"
expect_result "kirra-cli works" $'6.9.6.131326\n' kirra
expect_result "installed" "install ok installed" dpkg_status
expect_result "configuration in the package's etc directory" $'copied\n' etc
expect_result "the staged secret is removed once installed" "" staged
expect_result "package file removed after success" $'.agent.conf\n' cwd

case_ "the installed package removes and purges cleanly"
new_results
sandboxed --cwd /tmp/work -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" >/dev/null 2>&1
    morrowlin-tesserak && cat /var/log/morrowlin-tesserak/agent-starts.log >"$OUT/agent_log"
    dpkg --remove morrowlin-tesserak >/dev/null 2>&1; echo $? >"$OUT/remove_status"
    ls /usr/bin/kirra-cli /usr/bin/morrowlin-tesserak >"$OUT/after_remove" 2>/dev/null
    [ -e /usr/share/morrowlin-tesserak/etc/agent.conf ] && echo kept >"$OUT/config_after_remove"
    dpkg --purge morrowlin-tesserak >/dev/null 2>&1; echo $? >"$OUT/purge_status"
    ls -d /usr/share/morrowlin-tesserak /var/log/morrowlin-tesserak >"$OUT/after_purge" 2>/dev/null
    true'
read_result agent_log agent_log
expect_contains "the agent records its start and its configuration" "$agent_log" " config=/usr/share/morrowlin-tesserak/etc/agent.conf sha256="
expect_result "remove succeeds" $'0\n' remove_status
expect_result "programs and the kirra-cli link are gone" "" after_remove
expect_result "the configuration stays until purge" $'kept\n' config_after_remove
expect_result "purge succeeds" $'0\n' purge_status
expect_result "nothing of the agent is left" "" after_purge

case_ "stops without .agent.conf, even with an old staged one"
new_results
CONF=no install_in_sandbox --setup 'echo old >/tmp/agent.conf'
expect_result "output" "${EXTRACTING}Installation Aborted...Config fiel .agent.conf not found" stdout
expect_result "status" $'2\n' status
expect_result "nothing installed" "" dpkg_status
expect_result "old staged file untouched" $'regular file 644\n' staged
expect_result "package file stays" "$PKG"$'\n' cwd

case_ "dpkg missing"
new_results
install_in_sandbox --remove /usr/bin/dpkg
expect_result "only the missing dependency line" "${EXTRACTING}"$'\nMissing dependency: /usr/bin/dpkg is not installed.\n' stdout
expect_result "status" $'255\n' status
expect_result "nothing staged" "" staged

case_ "dpkg fails with exit code 1"
new_results
install_in_sandbox --fake /usr/bin/dpkg="$SOURCE_DIR/tests/e2e/fakes/failing-dpkg"
expect_result "output" "${EXTRACTING}fake dpkg --force-all -D1 -i $PKG"$'\n\nError Code:256\nApplication:/usr/bin/dpkg --force-all -D1 -i '"$PKG"$'\n\n\n' stdout
expect_result "status tells the failure" $'1\n' status
expect_result "package file stays" ".agent.conf"$'\n'"$PKG"$'\n' cwd
expect_result "configuration was staged first" $'regular file 600\n' staged

case_ "a hostile working directory name runs nothing else"
new_results
hostile='/tmp/a b;$(touch /tmp/pwned1)`touch /tmp/pwned2`'"'"'"'$'\n''x'
sandboxed --cwd "$hostile" -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
    kirra-cli -v >"$OUT/kirra"
    ls /tmp/pwned1 /tmp/pwned2 >"$OUT/pwned" 2>/dev/null
    cmp -s .agent.conf /usr/share/morrowlin-tesserak/etc/agent.conf && echo same >"$OUT/staged"
    true'
expect_result "status" $'0\n' status
expect_result "installed" $'6.9.6.131326\n' kirra
expect_result "configuration installed byte for byte" $'same\n' staged
expect_result "no injected command ran" "" pwned

case_ "a link planted at /tmp/agent.conf is replaced, not written through"
new_results
install_in_sandbox --setup 'echo precious >/etc/victim; ln -s /etc/victim /tmp/agent.conf'
expect_result "status" $'0\n' status
expect_result "staged in its place, and removed once installed" "" staged
expect_result "link target untouched" $'precious\n' victim

case_ "not root: one line says how, and nothing is written or staged"
new_results
sandboxed --cwd /tmp/work --user tester -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" install >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
    ls -A >"$OUT/cwd"
    ls -A /tmp | grep -v -e "^work$" -e "^discarded-coverage$" >"$OUT/tmp"
    true'
expect_result "output" "${EXTRACTING}"$'\nInstallation Aborted...Installing needs root: run sudo '"$IMAGE"$' install; nothing installed.\n' stdout
expect_result "status, as dpkg gives it" $'2\n' status
expect_result "no package in the current directory" $'.agent.conf\n' cwd
expect_result "nothing in /tmp" "" tmp

# The package is copied inside the kernel from the image's own file; where the
# kernel refuses copy_file_range (an older one, or between two file systems),
# sendfile does it, and where it refuses both, one write from the mapped data.
# Each way gives the same bytes and reports a full disk alike. (The bundled
# package's length is not a multiple of the page size.)
export REFUSE_SYSCALLS NATIVE_PACKAGE
for way in "the kernel:" "sendfile:copy_file_range" "write:copy_file_range,sendfile"; do
    refused=${way#*:}
    case_ "extraction by ${way%%:*}: byte for byte, and a full disk reported"
    new_results
    sandboxed --cwd /tmp/work -- bash -c '
        refusing=()
        [ -z "$1" ] || refusing=("$REFUSE_SYSCALLS" "$1")
        # (LeakSanitizer, in the sanitizer build, refuses to run under a tracer.)
        ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=copy_file_range,sendfile -e signal=none -o /tmp/trace \
            ${refusing[@]+"${refusing[@]}"} "$IMAGE" extract out.deb >/dev/null 2>&1
        echo $? >"$OUT/status"
        cmp -s out.deb "$NATIVE_PACKAGE" && echo identical >"$OUT/extracted"
        grep -c "^[0-9]* *copy_file_range(.* = [1-9]" /tmp/trace >"$OUT/copied_in_kernel"
        grep -c "^[0-9]* *sendfile(.* = [1-9]" /tmp/trace >"$OUT/sent_in_kernel"
        mkdir /tmp/full && mount -t tmpfs -o size=64k full /tmp/full && cd /tmp/full
        dd if=/dev/zero of=filler bs=4k 2>/dev/null
        ${refusing[@]+"${refusing[@]}"} "$IMAGE" extract >"$OUT/stdout" 2>&1; echo $? >"$OUT/full_status"
        stat -c %s "$PKG" >"$OUT/partial"
        true' bash "$refused"
    expect_result "status" $'0\n' status
    expect_result "byte-identical to the bundled package" $'identical\n' extracted
    case "${way%%:*}" in
    # copy_file_range between two file systems is refused by newer kernels: sendfile then.
    "the kernel") expect_eq "copied inside the kernel" 1 "$(($(cat "$OUT/copied_in_kernel") + $(cat "$OUT/sent_in_kernel")))" ;;
    sendfile) expect_result "copied by sendfile" $'1\n' sent_in_kernel ;;
    write) expect_eq "copied by neither" $'0\n0' "$(cat "$OUT/copied_in_kernel" "$OUT/sent_in_kernel")" ;;
    esac
    expect_result "full disk: output" $'\n WARNING: no filename specified to be extracted, usign '"$PKG"$'\n\n ERROR : file extraction to '"$PKG"$' :28\n' stdout
    expect_result "full disk: status" $'28\n' full_status
    expect_result "full disk: the partial file stays" $'0\n' partial
done

case_ "on a file system that shares blocks (XFS): whole blocks shared, the rest copied, byte for byte"
new_results
export MULTIBLOCK_IMAGE WIZARD
sandboxed --cwd /tmp/work -- bash -c '
    truncate -s 512M /tmp/xfs.img && mkfs.xfs -q -m reflink=1 /tmp/xfs.img && mkdir /tmp/xfs &&
        mount -o loop /tmp/xfs.img /tmp/xfs || exit
    cp "$MULTIBLOCK_IMAGE" /tmp/xfs/image.run && cd /tmp/xfs
    # (LeakSanitizer, in the sanitizer build, refuses to run under a tracer.)
    ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=ioctl -e signal=none -o /tmp/trace \
        ./image.run extract out.bin >/dev/null 2>&1
    echo $? >"$OUT/status"
    cmp -s out.bin "$WIZARD" && echo identical >"$OUT/extracted"
    grep -c "FICLONERANGE.* = 0$" /tmp/trace >"$OUT/shared"
    cd / && umount /tmp/xfs'
expect_result "status" $'0\n' status
expect_result "byte-identical" $'identical\n' extracted
expect_result "shared, not copied" $'1\n' shared

case_ "an empty argument vector installs in text mode"
new_results
export EXEC_WITHOUT_ARGUMENTS
sandboxed --cwd /tmp/work -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$EXEC_WITHOUT_ARGUMENTS" "$IMAGE" >"$OUT/stdout" 2>/dev/null; echo $? >"$OUT/status"
    kirra-cli -v >"$OUT/kirra"'
read_result stdout stdout
expect_eq "starts with the Extracting line" "$EXTRACTING" "${stdout:0:${#EXTRACTING}}"
expect_result "status" $'0\n' status
expect_result "installed" $'6.9.6.131326\n' kirra

case_ "a working directory too long to read stops before installing"
new_results
sandboxed --cwd /tmp/work -- bash -c '
    deep=/tmp/work
    while [ ${#deep} -lt 1100 ]; do deep=$deep/a-long-directory-name-$RANDOM; done
    mkdir -p "$deep" && cd "$deep" && cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
    dpkg-query -W morrowlin-tesserak >"$OUT/installed" 2>/dev/null
    true'
expect_result "output" "${EXTRACTING}"$'\nCannot read the current directory (Numerical result out of range); nothing installed.\n' stdout
expect_result "status (ERANGE)" $'34\n' status
expect_result "nothing installed" "" installed

case_ "any argument means text mode, even with DISPLAY set"
new_results
sandboxed --cwd /tmp/work -- bash -c '
    DISPLAY=:99 "$IMAGE" extract out.deb >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
    cmp -s out.deb "$NATIVE_PACKAGE" && echo identical >"$OUT/extracted"
    ls /tmp | grep -E "^(morrowlin|agent|work)" >"$OUT/tmp"'
expect_result "output" $'\n Extracting native installer to \'out.deb\'\n' stdout
expect_result "status" $'0\n' status
expect_result "byte-identical to the bundled package" $'identical\n' extracted
expect_result "nothing written to /tmp" $'work\n' tmp

finish
