#!/bin/bash
# The installer image in a real X server (Xvfb, started inside the sandbox),
# driven with xdotool as a person would.
source "$(dirname "$0")/lib.sh"
export IMAGE SAMPLE_CONF

TITLE="Morrowlin Tesserak 6.9.6.131326 Setup"
PKG_PATH=/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb

# Runs SCRIPT (bash, with the helpers below) in the sandbox with an X server.
with_x() { # SANDBOX-OPTIONS... -- SCRIPT
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    sandboxed --cwd /tmp/work --fake /usr/bin/pkexec="$SOURCE_DIR/tests/e2e/fakes/pkexec" \
        ${options[@]+"${options[@]}"} -- bash -c '
        set -u
        Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb=$!
        for _ in $(seq 100); do [ -e /tmp/.X11-unix/X7 ] && break; sleep 0.1; done
        export DISPLAY=:7
        window() { timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -n 1; }
        press() { xdotool windowfocus --sync "$1" key "$2"; }
        shoot() { import -window root "$OUT/$1.png"; }
        '"$1"'
        kill $xvfb'
}

case_ "first installation through the window"
new_results
with_x -- '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" >"$OUT/stdout" 2>&1 &
    image=$!
    win=$(window "^'"$TITLE"'\$")
    [ -n "$win" ] && echo shown >"$OUT/window"
    press "$win" Return
    for _ in $(seq 300); do
        [ "$(dpkg-query -W -f="\${Status}" morrowlin-tesserak 2>/dev/null)" = "install ok installed" ] && break
        sleep 0.1
    done
    sleep 1
    press "$win" Return
    wait $image; echo $? >"$OUT/status"
    for _ in $(seq 50); do [ -s /var/log/morrowlin-tesserak/agent-starts.log ] && break; sleep 0.1; done
    wc -l </var/log/morrowlin-tesserak/agent-starts.log >"$OUT/agent_starts"
    kirra-cli -v >"$OUT/kirra"
    ls /tmp | grep morrowlin >"$OUT/tmp_files"
    true'
expect_result "window titled as the product" $'shown\n' window
expect_result "launcher status" $'0\n' status
read_result stdout stdout
expect_contains "launcher reports success" "$stdout" $'\nInstallation Finished\n\n\n'
expect_result "the agent program started once after Finish" $'1\n' agent_starts
expect_result "kirra-cli works afterwards" $'6.9.6.131326\n' kirra
expect_result "both /tmp files removed" "" tmp_files

case_ "Escape on the welcome page ends everything with 0"
new_results
with_x -- '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" >"$OUT/stdout" 2>&1 &
    image=$!
    win=$(window "^'"$TITLE"'\$")
    press "$win" Escape
    wait $image; echo $? >"$OUT/status"
    dpkg-query -W morrowlin-tesserak >"$OUT/installed" 2>/dev/null
    [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
    true'
expect_result "launcher status" $'0\n' status
expect_result "nothing installed" "" installed
expect_result "nothing staged" "" staged

finish
