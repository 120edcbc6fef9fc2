#!/bin/bash
# Text mode where fleets really run it: dpkg's locks held by the automatic
# upgrades, a read-only deployment share, a missing dependency. The real
# package and the real dpkg, in the sandbox.
source "$(dirname "$0")/lib.sh"
export IMAGE SAMPLE_CONF HOLD_DPKG_LOCKS
PKG=morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb
export PKG


case_ "dpkg's locks held for 3 s: the holder is named, the installation waits, then installs"
new_results
sandboxed --cwd /tmp/work --setup "$SLOW_POSTINST" -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$HOLD_DPKG_LOCKS" 3 /tmp/held & holder=$!
    while [ ! -e /tmp/held ]; do sleep 0.05; done
    "$IMAGE" install >"$OUT/stdout" 2>/dev/null & image=$!
    for _ in $(seq 200); do [ -e /tmp/in-postinst ] && break; sleep 0.05; done
    "$HOLD_DPKG_LOCKS" --try && echo got-in >"$OUT/other_frontend"
    wait $image; echo $? >"$OUT/status"
    echo $holder >"$OUT/holder"
    dpkg-query -W -f="\${Status}" morrowlin-tesserak >"$OUT/installed"'
read_result stdout stdout
expect_contains "one line names the holder" "$stdout" \
    $'\nWaiting for another package manager to finish (unattended-upgr, process '"$(cat "$OUT/holder")"$'), at most 10 minutes.\n'
expect_eq "said once" 1 "$(grep -c "Waiting for another package manager" <<<"$stdout")"
expect_contains "then installs" "$stdout" $'\nInstallation Finished\n\n\n'
expect_result "status" $'0\n' status
expect_result "installed" "install ok installed" installed
expect_result "no other frontend gets in while dpkg runs" "" other_frontend

case_ "SIGTERM during a long wait ends it at once, nothing installed"
new_results
sandboxed --cwd /tmp/work -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$HOLD_DPKG_LOCKS" 60 /tmp/held & holder=$!
    while [ ! -e /tmp/held ]; do sleep 0.05; done
    "$IMAGE" install >"$OUT/stdout" 2>&1 & image=$!
    for _ in $(seq 100); do grep -q Waiting "$OUT/stdout" && break; sleep 0.05; done
    start=$(date +%s%N)
    kill -TERM $image; wait $image; echo $? >"$OUT/status"
    echo $(( ($(date +%s%N) - start) / 1000000 < 1000 )) >"$OUT/at_once"
    kill $holder
    dpkg-query -W morrowlin-tesserak >"$OUT/installed" 2>/dev/null
    [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
    true'
expect_result "status 128 + 15" $'143\n' status
expect_result "within a second" $'1\n' at_once
read_result stdout stdout
expect_contains "says so" "$stdout" $'\nSignal 15 received: stopped waiting for the package manager; nothing installed.\n'
expect_result "nothing installed" "" installed
expect_result "nothing staged" "" staged

case_ "a read-only share: installed from a private directory, no copy left"
new_results
mkdir -p "$OUT/share" && cp "$SAMPLE_CONF" "$OUT/share/.agent.conf" && chmod 0600 "$OUT/share/.agent.conf"
sandboxed --ro "$OUT/share" --cwd "$OUT/share" -- bash -c '
    # A TMPDIR of this run alone: /var/tmp may hold anything of the machine'"'"'s, a build tree say.
    TMPDIR=$(mktemp -d /var/tmp/fleet.XXXXXX) && echo "$TMPDIR" >"$OUT/tmpdir"
    TMPDIR=$TMPDIR "$IMAGE" install >"$OUT/stdout" 2>/dev/null; echo $? >"$OUT/status"
    dpkg-query -W -f="\${Status}" morrowlin-tesserak >"$OUT/installed"
    find /tmp "$TMPDIR" "$PWD" -name "$PKG" >"$OUT/copies"
    ls -A "$TMPDIR" >"$OUT/private_dirs"
    true'
read_result stdout stdout
expect_contains "says why" "$stdout" $'\n The current directory cannot take the package (Read-only file system): using a private directory instead.\n'
expect_contains "and where, under TMPDIR" "$stdout" $'\n Extracting native installer to \''"$(cat "$OUT/tmpdir")"'/morrowlin-tesserak.'
expect_result "status" $'0\n' status
expect_result "installed" "install ok installed" installed
expect_result "no copy of the package anywhere" "" copies
expect_result "the private directory is gone" "" private_dirs

case_ "no libtdb1: refused with its name, nothing installed, apt still works"
new_results
sandboxed --cwd /tmp/work --setup 'dpkg --remove libtdb1 >/dev/null' -- bash -c '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" install >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
    dpkg-query -W morrowlin-tesserak >"$OUT/installed" 2>/dev/null
    [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
    apt-get check >/dev/null 2>&1; echo $? >"$OUT/apt_check"
    true'
read_result stdout stdout
expect_contains "names it and how to get it" "$stdout" \
    $'\nInstallation Aborted...The package needs libtdb1 (>= 1.3.8), which is not installed. Install it first (apt-get install libtdb1), then run the installer again; nothing installed.\n'
expect_result "status" $'69\n' status
expect_result "nothing installed" "" installed
expect_result "nothing staged" "" staged
expect_result "apt-get check passes" $'0\n' apt_check

finish
