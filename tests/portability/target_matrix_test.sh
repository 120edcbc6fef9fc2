#!/bin/bash
# The shipped image on the systems of the fleet: Debian 11, 12 and 13
# userlands (minimal roots with the libraries a GNOME desktop has, no Qt, an X
# server and xdotool added, made by target_root.sh), each run in a throwaway
# overlay. In each: help, extraction, a text-mode installation with the real
# dpkg, the wizard's extract command with no display at all, and a graphical
# installation driven in a real window from the welcome page to Finish.
# A picture of each target's finished page goes to $PICTURES (default:
# build/pictures).
source "$(dirname "$0")/../e2e/lib.sh"
PICTURES=${PICTURES:-$BUILD_DIR/pictures}
mkdir -p "$PICTURES"
TARGETS=${TARGETS:-"bullseye:11 bookworm:12 trixie:13"}

SETUP_TITLE="^Morrowlin Tesserak 6.9.6.131326 Setup\$"
LOG=/var/log/morrowlin-tesserak/agent-starts.log
export IMAGE NATIVE_PACKAGE SAMPLE_CONF SOURCE_DIR SETUP_TITLE LOG HOLD_DPKG_LOCKS

# A branded copy of the shipped wizard, to extract its configuration from.
printf 'site = matrix\n' >"$BUILD_DIR/matrix-config.txt"
"$USERDATA_TRAILER" brand "$SHIPPED_WIZARD" "$BUILD_DIR/matrix-config.txt" "$BUILD_DIR/matrix-branded-wizard"
BRANDED_WIZARD=$BUILD_DIR/matrix-branded-wizard CONFIG=$BUILD_DIR/matrix-config.txt
export BRANDED_WIZARD CONFIG
trap 'rm -rf ${RESULT_DIRS[@]+"${RESULT_DIRS[@]}"} "$BRANDED_WIZARD" "$CONFIG"' EXIT

for target in $TARGETS; do
    suite=${target%%:*} release=${target#*:}
    root=$("$SOURCE_DIR/tests/portability/target_root.sh" "$suite") || {
        case_ "Debian $release"
        fail_ "no root for $suite"
        continue
    }
    in_target() { sandboxed --root "$root" --cwd /tmp/work "$@"; }

    case_ "Debian $release: no Qt; help, extraction and the wizard's extract command without a display"
    new_results
    in_target -- bash -c '
        find / -xdev -name "libQt5*" -print -quit >"$OUT/qt_files"
        "$IMAGE" help >"$OUT/help"; echo $? >"$OUT/help_status"
        "$IMAGE" extract agent.deb >/dev/null; echo $? >"$OUT/extract_status"
        cmp -s agent.deb "$NATIVE_PACKAGE" && echo identical >"$OUT/extracted"
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$BRANDED_WIZARD" extract conf.out 2>"$OUT/wizard_stderr"
        echo $? >"$OUT/wizard_extract_status"
        cmp -s conf.out "$CONFIG" && echo identical >"$OUT/wizard_extracted"'
    expect_result "no Qt library on the system" "" qt_files
    expect_result "help runs" $'0\n' help_status
    read_result help help
    expect_contains "help prints the usage" "$help" "1. extract <filename> : does not install"
    expect_result "extract runs" $'0\n' extract_status
    expect_result "the extracted package is the bundled one, byte for byte" $'identical\n' extracted
    expect_result "the wizard's extract command runs" $'0\n' wizard_extract_status
    expect_result "and writes the configuration it carries" $'identical\n' wizard_extracted

    case_ "Debian $release: text-mode installation while dpkg's locks are held"
    new_results
    in_target -- bash -c '
        cp "$SAMPLE_CONF" .agent.conf
        "$HOLD_DPKG_LOCKS" 2 /tmp/held &
        while [ ! -e /tmp/held ]; do sleep 0.05; done
        "$IMAGE" install >"$OUT/stdout" 2>&1; echo $? >"$OUT/status"
        kirra-cli -v >"$OUT/kirra" 2>&1'
    expect_result "launcher status" $'0\n' status
    read_result stdout stdout
    expect_contains "waits for this dpkg's locks" "$stdout" \
        $'\nWaiting for another package manager to finish (unattended-upgr, process '
    expect_contains "the success line" "$stdout" $'\nInstallation Finished\n\n\n'
    expect_result "kirra-cli -v" $'6.9.6.131326\n' kirra

    case_ "Debian $release: graphical installation in a real window"
    new_results
    in_target --fake /usr/bin/pkexec="$SOURCE_DIR/tests/e2e/fakes/pkexec" -- bash -c '
        source "$SOURCE_DIR/tests/e2e/x11_helpers.sh"
        XVFB_FBDIR=$OUT start_x
        start_wizard
        [ -n "$win" ] && echo shown >"$OUT/window"
        press "$win" Return
        wait_for_dpkg_end; sleep 1
        xdotool getwindowgeometry --shell "$win" >"$OUT/geometry"
        cp "$OUT/Xvfb_screen0" "$OUT/finished.xwd"
        installed_status >"$OUT/installed"
        dpkg --audit >"$OUT/audit" 2>&1
        press "$win" Return
        wait $image; echo $? >"$OUT/status"
        wait_for_file "$LOG" && echo started >"$OUT/agent"
        stop_x'
    expect_result "the wizard's window shows" $'shown\n' window
    expect_result "the package is installed" "install ok installed" installed
    expect_result "the package system is whole" "" audit
    expect_result "launcher status after Finish" $'0\n' status
    expect_result "the agent program starts after Finish" $'started\n' agent
    if [ -s "$OUT/geometry" ]; then
        (source "$OUT/geometry"
         convert "xwd:$OUT/finished.xwd" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
             "$PICTURES/matrix-debian$release-finished.png")
    fi
done

finish
