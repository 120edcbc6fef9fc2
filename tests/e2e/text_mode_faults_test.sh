#!/bin/bash
# Text mode under faults: a lost output, the terminal's signals and hostile
# files never leave the package half installed, a target destroyed, or the
# launcher hanging. The real package and the real dpkg, in the sandbox.
source "$(dirname "$0")/lib.sh"
export IMAGE SAMPLE_CONF

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

# postinst's copy takes 2 s, long enough to interrupt it.
SLOW_POSTINST='mv /usr/bin/cp /usr/bin/cp.real
printf "#!/bin/sh\n[ -z \"\$DPKG_MAINTSCRIPT_NAME\" ] || { touch /tmp/in-postinst; sleep 2; }\nexec /usr/bin/cp.real \"\$@\"\n" >/usr/bin/cp
chmod 755 /usr/bin/cp'
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

finish
