#!/bin/bash
# Text mode under faults: a lost output, the terminal's signals and hostile
# files never leave the package half installed, a target destroyed, or the
# launcher hanging. The real package and the real dpkg, in the sandbox.
source "$(dirname "$0")/lib.sh"
export IMAGE SAMPLE_CONF NATIVE_PACKAGE HOLD_DPKG_LOCKS
PKG=morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb
export PKG

# Records what the package manager left: its view of the package and of the database.
RECORD_DPKG='dpkg-query -W -f="\${Status}" morrowlin-tesserak >"$OUT/dpkg_status" 2>/dev/null
    dpkg --audit >"$OUT/audit" 2>&1'
export RECORD_DPKG

for way in "pipe closed early:| head -c 1 >/dev/null" "closed:>&-" "full:>/dev/full"; do
    case_ "standard output ${way%%:*}: dpkg is not cut off"
    new_results
    sandboxed --cwd /tmp/work -- bash -c '
        cp "$SAMPLE_CONF" .agent.conf
        eval "\"\$IMAGE\" install 2>/dev/null $1; echo \${PIPESTATUS[0]} >\"\$OUT/status\""
        eval "$RECORD_DPKG"' bash "${way#*:}"
    expect_result "launcher status" $'0\n' status
    expect_result "installed" "install ok installed" dpkg_status
    expect_result "nothing half done in dpkg's database" "" audit
done

for signal in INT:130 HUP:129; do
    case_ "SIG${signal%:*} to the process group while postinst runs"
    new_results
    sandboxed --cwd /tmp/work --setup "$SLOW_POSTINST" -- bash -c '
        cp "$SAMPLE_CONF" .agent.conf
        # Its own process group, with the signal not ignored as a background job has it.
        setsid perl -e "\$SIG{INT} = \"DEFAULT\"; exec @ARGV" "$IMAGE" install >"$OUT/stdout" 2>&1 &
        image=$!
        for _ in $(seq 100); do [ -e /tmp/in-postinst ] && break; sleep 0.1; done
        kill -'"${signal%:*}"' -- -$image
        wait $image; echo $? >"$OUT/status"
        eval "$RECORD_DPKG"'
    expect_result "launcher status tells the signal" "${signal#*:}"$'\n' status
    expect_result "installed all the same" "install ok installed" dpkg_status
    expect_result "nothing half done in dpkg's database" "" audit
    read_result stdout stdout
    notice="waiting for the package manager to end"
    expect_eq "the wait is announced once" 1 "$(grep -c "$notice" <<<"$stdout")"
    expect_contains "the outcome is reported afterwards" "$stdout" $'\nInstallation Finished\n\n\n'
done

case_ "dpkg gets valid standard descriptors and none of the launcher's others"
new_results
sandboxed --cwd /tmp/work --fake /usr/bin/dpkg="$SOURCE_DIR/tests/e2e/fakes/descriptor-recording-dpkg" -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" install <&- 2>&- >"$OUT/stdout"; echo $? >"$OUT/status"'
expect_result "status" $'0\n' status
expect_result "a closed standard input became /dev/null" $'/dev/null\n' dpkg-stdin
expect_result "no other descriptor (the configuration probe was one)" "" dpkg-fds

for kind in "a FIFO:mkfifo .agent.conf" "world-writable:cp \"\$SAMPLE_CONF\" .agent.conf; chmod 666 .agent.conf" \
    "group-writable:cp \"\$SAMPLE_CONF\" .agent.conf; chmod 620 .agent.conf"; do
    case_ ".agent.conf ${kind%%:*} is refused"
    new_results
    sandboxed --cwd /tmp/work --fake /usr/bin/dpkg="$SOURCE_DIR/tests/e2e/fakes/recording-dpkg" -- bash -c '
        eval "$1"
        timeout 10 "$IMAGE" install >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
        [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
        true' bash "${kind#*:}"
    expect_result "status" $'2\n' status
    read_result stdout stdout
    expect_contains "one clear line" "$stdout" $'\nInstallation Aborted...Config file .agent.conf '
    expect_result "nothing staged" "" staged
    expect_eq "dpkg never ran" "" "$(cat "$OUT/dpkg-ran" 2>/dev/null)"
done

case_ "extract never replaces the image itself, under any name"
new_results
sandboxed --cwd /tmp/work -- bash -c '
    cp "$IMAGE" installer.run && ln -s installer.run link.run && ln installer.run hard.run
    for target in ./installer.run link.run hard.run; do
        ./installer.run extract "$target" >>"$OUT/stdout" 2>&1; echo $? >>"$OUT/status"
    done
    ./link.run extract installer.run >>"$OUT/stdout" 2>&1; echo $? >>"$OUT/status"
    cmp -s installer.run "$IMAGE" && echo intact >"$OUT/image"
    true'
read_result stdout stdout
expect_contains "the ERROR line with ETXTBSY" "$stdout" $'\n ERROR : file extraction to ./installer.run :26\n'
expect_result "status 26 every time" $'26\n26\n26\n26\n' status
expect_result "the image is untouched" $'intact\n' image

case_ "a file-size limit is reported like a full disk, not a silent death"
new_results
sandboxed --cwd /tmp/work -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    # (The counters of a coverage build, cut at the limit too, go where they spoil nothing.)
    export GCOV_PREFIX=/tmp/discarded-coverage
    prlimit --fsize=2048 "$IMAGE" extract >"$OUT/extract" 2>&1; echo $? >"$OUT/status"
    prlimit --fsize=2048 "$IMAGE" install >"$OUT/install" 2>&1; echo $? >>"$OUT/status"
    dpkg-query -W morrowlin-tesserak >"$OUT/installed" 2>/dev/null
    true'
expect_result "status EFBIG, twice" $'27\n27\n' status
read_result extract extract
expect_contains "extract: the ERROR line" "$extract" $'\n ERROR : file extraction to '"$PKG"$' :27\n'
read_result install install
expect_contains "install: the ERROR line" "$install" " :27"$'\n'
expect_result "nothing installed" "" installed

# A user's share: the image and .agent.conf put there by one account, which root trusts
# as the image's owner; tester, that account, swaps the package meanwhile.
EVIL_PACKAGE='mkdir -p /tmp/evil/DEBIAN
printf "Package: morrowlin-tesserak\nVersion: 6.9.6-131326.ubuntu\nArchitecture: amd64\nMaintainer: x <x@x>\nDescription: x\n" >/tmp/evil/DEBIAN/control
printf "#!/bin/sh\ntouch /etc/pwned\n" >/tmp/evil/DEBIAN/postinst && chmod 755 /tmp/evil/DEBIAN/postinst
dpkg-deb --build /tmp/evil /tmp/evil.deb >/dev/null && chmod 644 /tmp/evil.deb
useradd --create-home tester'
case_ "root installs the image's own package, whatever another user swaps in"
new_results
sandboxed --cwd /tmp/work --setup "$EVIL_PACKAGE" -- bash -c '
    share=/home/tester/share
    runuser -u tester -- sh -c "mkdir $share && cp \"\$IMAGE\" $share/installer.run && cp \"\$SAMPLE_CONF\" $share/.agent.conf"
    cd $share
    runuser -u tester -- sh -c "while :; do cp /tmp/evil.deb x.deb && mv -f x.deb $PKG; done" 2>/dev/null & racer=$!
    "$HOLD_DPKG_LOCKS" 2 /tmp/held & while [ ! -e /tmp/held ]; do sleep 0.05; done
    ./installer.run install >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
    kill $racer
    kirra-cli -v >"$OUT/kirra" 2>&1
    [ -e /etc/pwned ] && echo pwned >"$OUT/pwned"
    true'
read_result stdout stdout
expect_contains "root does not install from there" "$stdout" $'\n The current directory is open to other users: using a private directory instead.\n'
expect_result "status" $'0\n' status
expect_result "the agent is installed" $'6.9.6.131326\n' kirra
expect_result "the other package never ran" "" pwned

case_ "root takes no configuration that another user controls"
new_results
sandboxed --cwd /tmp/work --fake /usr/bin/dpkg="$SOURCE_DIR/tests/e2e/fakes/recording-dpkg" -- bash -c '
    attempt() { # DIRECTORY
        (cd "$1" && "$IMAGE" install >>"$OUT/stdout" 2>&1; echo $? >>"$OUT/status")
        rm -f "$1/$PKG"
    }
    runuser -u nobody -- sh -c "umask 022; cp \"\$SAMPLE_CONF\" /tmp/.agent.conf"
    attempt /tmp
    mkdir /tmp/own && chown nobody /tmp/own
    runuser -u nobody -- ln -s /etc/shadow /tmp/own/.agent.conf
    attempt /tmp/own
    mkdir -m 777 /tmp/open && cp "$SAMPLE_CONF" /tmp/open/.agent.conf
    attempt /tmp/open
    [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
    true'
read_result stdout stdout
expect_eq "planted in /tmp, or a link of another user: refused" 2 \
    "$(grep -c $'^Installation Aborted...Config file .agent.conf is owned by another user; nothing installed.$' <<<"$stdout")"
expect_contains "in a directory open to all: refused" "$stdout" \
    $'\nInstallation Aborted...Config file .agent.conf lies in a directory that other users may write to; nothing installed.\n'
expect_result "status 2 each time" $'2\n2\n2\n' status
expect_result "nothing staged" "" staged
expect_eq "dpkg never ran" "" "$(cat "$OUT/dpkg-ran" 2>/dev/null)"

case_ "the package adopts no /tmp/agent.conf of another user's, and the agent's log is its own"
new_results
sandboxed --cwd /tmp/work -- bash -c '
    runuser -u nobody -- sh -c "cp \"\$SAMPLE_CONF\" /tmp/agent.conf"
    dpkg -i "$NATIVE_PACKAGE" >"$OUT/planted" 2>&1
    [ -e /usr/share/morrowlin-tesserak/etc/agent.conf ] && echo adopted >"$OUT/adopted"
    rm /tmp/agent.conf && cp "$SAMPLE_CONF" /tmp/agent.conf && dpkg --configure -a >/dev/null 2>&1
    log=/var/log/morrowlin-tesserak
    (umask 000; morrowlin-tesserak)
    stat -c %a $log $log/agent-starts.log >"$OUT/modes"
    # As an older version left it: open to all, and a link planted in it.
    echo precious >/etc/victim && chmod 777 $log
    runuser -u nobody -- ln -sf /etc/victim $log/agent-starts.log
    morrowlin-tesserak 2>/dev/null; echo $? >"$OUT/status"
    cat /etc/victim >"$OUT/victim"
    stat -c %a $log >>"$OUT/modes"
    true'
read_result planted planted
expect_contains "another user's staged file is refused" "$planted" "Error: /tmp/agent.conf is owned by another user."
expect_result "and not adopted" "" adopted
expect_result "log directory and log whatever the umask, and the directory closed again" $'750\n640\n750\n' modes
expect_result "the agent refuses to write through the link" $'1\n' status
expect_result "the link's target is untouched" $'precious\n' victim

finish
