#!/bin/bash
# Graphical mode with a stand-in wizard: what the launcher writes to /tmp, how
# it runs the wizard, and what it reports and removes afterwards.
source "$(dirname "$0")/lib.sh"

PKG_PATH=/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb
WIZ_PATH=${PKG_PATH}_ui_bin
EXTRACTED=$'\nextracted Native installer to : '"$PKG_PATH"
EXTRACTED_BOTH="$EXTRACTED"$'\nextracted ui installer file to : '"$WIZ_PATH"$'\n Install gui path is:'"$WIZ_PATH"$'\n'
export STANDIN_IMAGE UNSTARTABLE_IMAGE NATIVE_PACKAGE IMAGE

# Runs IMAGE (default: the stand-in image) with DISPLAY set and no arguments.
handoff() {
    sandboxed --cwd /tmp/work "$@" -- bash -c '
        DISPLAY=${TEST_DISPLAY-:0} "${RUN_IMAGE:-$STANDIN_IMAGE}" >"$OUT/stdout" 2>&1
        echo $? >"$OUT/status"
        # Only what the launcher may write: the project itself may be bound under /tmp.
        ls /tmp | grep -E "^(morrowlin|agent|filler|work)" >"$OUT/tmp"
        [ -e /etc/victim ] && cat /etc/victim >"$OUT/victim"
        true'
}

case_ "wizard ends with 0: success line and both files removed"
new_results
handoff --user tester --setup 'umask 0'
expect_result "output" "$EXTRACTED_BOTH"$'wizard mode 701, package mode 644\npackage identical\ncwd /tmp/work, args 0\n\nInstallation Finished\n\n\n' stdout
expect_result "status" $'0\n' status
expect_result "both files gone" $'work\n' tmp

case_ "DISPLAY set to the empty string names no display: text mode"
new_results
TEST_DISPLAY="" handoff
read_result stdout stdout
expect_contains "the package is written for installing" "$stdout" $'\n Extracting native installer to \''
expect_not_contains "no wizard" "$stdout" "Install gui path is"

case_ "wizard exits with 1: raw status shown, failure in the exit status, files kept"
new_results
STANDIN_WIZARD_EXIT=1 handoff
expect_result "output" "$EXTRACTED_BOTH"$'wizard mode 701, package mode 644\npackage identical\ncwd /tmp/work, args 0\n\nError Code:256\nApplication:'"$WIZ_PATH"$'\n\n\n' stdout
expect_result "status" $'1\n' status
expect_result "both files stay" "$(basename "$PKG_PATH")"$'\n'"$(basename "$WIZ_PATH")"$'\nwork\n' tmp

case_ "a wizard that cannot be started"
new_results
RUN_IMAGE=$UNSTARTABLE_IMAGE handoff
expect_result "output, with the reason in words and a way without the wizard" "$EXTRACTED_BOTH"$'\nError Code:-1\nApplication:'"$WIZ_PATH"$'\nThe setup wizard could not be started: No such file or directory\nThe setup wizard could not start on this desktop. To install without it, run: sudo '"$UNSTARTABLE_IMAGE"$' install\n\n\n' stdout
expect_result "status" $'255\n' status
expect_result "both files stay" "$(basename "$PKG_PATH")"$'\n'"$(basename "$WIZ_PATH")"$'\nwork\n' tmp

case_ "/tmp mounted noexec, a wizard that cannot run from memory either: the user is told why"
new_results
handoff --setup 'mount -o remount,noexec /tmp'
read_result stdout stdout
expect_contains "the reason" "$stdout" $'\nError Code:-1\nApplication:'"$WIZ_PATH"$'\nThe setup wizard could not be started: Permission denied (/tmp may be mounted noexec)\nThe setup wizard could not start'
expect_result "status" $'255\n' status

case_ "no X server at DISPLAY: the real wizard gives up, and the user learns how to install without it"
new_results
RUN_IMAGE=$IMAGE TEST_DISPLAY=:55 handoff
read_result stdout stdout
expect_contains "the way without the wizard" "$stdout" \
    $'\nThe setup wizard could not start on this desktop. To install without it, run: sudo '"$IMAGE"$' install\n\n\n'
expect_result "status: the wizard's abort, as before" $'134\n' status

case_ "a desktop library missing: the loader refuses the wizard, and the user learns how to install without it"
new_results
RUN_IMAGE=$IMAGE handoff --remove /usr/lib/x86_64-linux-gnu/libxcb.so.1
read_result stdout stdout
expect_contains "the way without the wizard" "$stdout" \
    $'\nThe setup wizard could not start on this desktop. To install without it, run: sudo '"$IMAGE"$' install\n\n\n'
expect_result "status: the loader's, as before" $'127\n' status

case_ "a link at the package path is not written through"
new_results
handoff --user tester --setup "echo precious >/etc/victim; chmod 666 /etc/victim; ln -s /etc/victim $PKG_PATH"
expect_result "output" $'\n Failed in extracting Native installer to : '"$PKG_PATH"$',40' stdout
expect_result "status" $'40\n' status
expect_result "link target untouched" $'precious\n' victim

case_ "another user's file at the wizard path"
new_results
handoff --user tester --setup "echo theirs >$WIZ_PATH; chmod 666 $WIZ_PATH"
expect_result "output" "$EXTRACTED"$'\n Failed in ui installer file to : '"$WIZ_PATH"$',13' stdout
expect_result "status" $'13\n' status

case_ "another user's file at the package path, even for root"
new_results
handoff --setup "echo theirs >$PKG_PATH; chown nobody $PKG_PATH"
expect_result "output" $'\n Failed in extracting Native installer to : '"$PKG_PATH"$',13' stdout
expect_result "status" $'13\n' status

case_ "a FIFO at the package path does not hang the launcher"
new_results
sandboxed --cwd /tmp/work --setup "mkfifo -m 666 $PKG_PATH" -- bash -c '
    DISPLAY=:0 timeout 20 "$STANDIN_IMAGE" >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"'
expect_result "output" $'\n Failed in extracting Native installer to : '"$PKG_PATH"$',6' stdout
expect_result "status (ENXIO, not a timeout)" $'6\n' status

case_ "a full /tmp while writing the package"
new_results
handoff --tmp-size 64k --setup 'dd if=/dev/zero of=/tmp/filler bs=4k 2>/dev/null; true'
expect_result "output" $'\n ERROR : file extraction to '"$PKG_PATH"$' :28\n' stdout
expect_result "status" $'28\n' status
expect_result "the partial file stays" $'filler\n'"$(basename "$PKG_PATH")"$'\nwork\n' tmp

finish
