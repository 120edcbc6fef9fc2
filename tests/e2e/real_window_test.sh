#!/bin/bash
# The installer image in a real X server (Xvfb, started inside the sandbox),
# driven with xdotool as a person would. Saves a picture of each state in
# $PICTURES (default: build/pictures).
source "$(dirname "$0")/lib.sh"
PICTURES=${PICTURES:-$BUILD_DIR/pictures}
mkdir -p "$PICTURES"
chmod 0777 "$PICTURES"
export IMAGE SAMPLE_CONF PICTURES SOURCE_DIR HOLD_DPKG_LOCKS

SETUP_TITLE="^Morrowlin Tesserak 6.9.6.131326 Setup\$"
LOG=/var/log/morrowlin-tesserak/agent-starts.log
export SETUP_TITLE LOG

# Runs the bash SCRIPT in the sandbox with an X server and the helpers, as root
# with a stand-in pkexec that runs its command directly.
with_x() { # [SANDBOX-OPTIONS...] -- SCRIPT
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    sandboxed --cwd /tmp/work --bind "$PICTURES" --fake /usr/bin/pkexec="$SOURCE_DIR/tests/e2e/fakes/pkexec" \
        ${options[@]+"${options[@]}"} -- bash -c 'source "$SOURCE_DIR/tests/e2e/x11_helpers.sh"; start_x; '"$2"'; stop_x'
}

# The path a desktop user takes: the wizard as the user "tester", the real
# pkexec, and the real polkitd answering RESULT for tester.
as_desktop_user() { # RESULT [SANDBOX-OPTIONS...] -- SCRIPT
    local result=$1 options=()
    shift
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    sandboxed --cwd /tmp/work --bind "$PICTURES" --user tester --polkit "$result" ${options[@]+"${options[@]}"} \
        -- bash -c 'source "$SOURCE_DIR/tests/e2e/x11_helpers.sh"; start_x; '"$2"'; stop_x'
}
USER_LOG=/home/tester/.local/state/morrowlin-tesserak/agent-starts.log
export USER_LOG

# Installs the bundled package inside the sandbox before the test, as a previous run would have.
PREINSTALLED='cp "$SAMPLE_CONF" /tmp/agent.conf && dpkg -i "$NATIVE_PACKAGE" >/dev/null 2>&1'
export NATIVE_PACKAGE

case_ "first installation, as a desktop user through pkexec and polkit"
new_results
as_desktop_user YES -- '
    start_wizard
    [ -n "$win" ] && echo shown >"$OUT/window"
    stat -c "%U %a" /tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb \
        /tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb_ui_bin >"$OUT/tmp_owners"
    sleep 0.5; picture "$win" welcome
    press "$win" Return
    sleep 0.3; picture "$win" installing
    wait_for_dpkg_end; sleep 1
    picture "$win" finished
    installed_status >"$OUT/installed"
    stat -c "%U" /var/lib/dpkg/info/morrowlin-tesserak.list >"$OUT/installed_by"
    [ -e "$USER_LOG" ] && echo started >"$OUT/agent_before_finish"
    press "$win" Return
    wait $image; echo $? >"$OUT/status"
    wait_for_file "$USER_LOG"
    wc -l <"$USER_LOG" >"$OUT/agent_starts"
    kirra-cli -v >"$OUT/kirra"
    ls /tmp | grep morrowlin >"$OUT/tmp_files"
    [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
    true'
expect_result "the window is titled as the product" $'shown\n' window
expect_result "the /tmp files are the user's, 0644 and 0701" $'tester 644\ntester 701\n' tmp_owners
expect_result "installed while the window shows its result" "install ok installed" installed
expect_result "installed by root" $'root\n' installed_by
expect_result "the agent does not start before Finish" "" agent_before_finish
expect_result "the agent program starts once, as the user, after Finish" $'1\n' agent_starts
expect_result "launcher status" $'0\n' status
read_result stdout stdout
expect_contains "dpkg's output went to the wizard, not the terminal" "$stdout" $'Install gui path is:'
expect_not_contains "no dpkg output on the terminal" "$stdout" "Setting up morrowlin-tesserak"
expect_contains "the launcher's success line" "$stdout" $'\nInstallation Finished\n\n\n'
expect_result "kirra-cli works afterwards" $'6.9.6.131326\n' kirra
expect_result "both /tmp files removed" "" tmp_files
expect_result "and the staged secret" "" staged

for signal in INT:130 HUP:129; do
    case_ "SIG${signal%:*} to the process group while the wizard's dpkg runs postinst"
    new_results
    # As root, as the terminal's signals reach root's dpkg too; pkexec, like the stand-in,
    # becomes dpkg in the wizard's process group.
    with_x --setup "$SLOW_POSTINST" -- '
        cp "$SAMPLE_CONF" .agent.conf
        # Its own process group, with the signal not ignored as a background job has it.
        setsid perl -e "\$SIG{INT} = \"DEFAULT\"; exec @ARGV" "$IMAGE" >"$OUT/stdout" 2>&1 &
        image=$!
        win=$(window "$SETUP_TITLE")
        press "$win" Return
        for _ in $(seq 200); do [ -e /tmp/in-postinst ] && break; sleep 0.1; done
        kill -'"${signal%:*}"' -- -$image
        wait_for_dpkg_end; sleep 1
        installed_status >"$OUT/installed"
        dpkg --audit >"$OUT/audit" 2>&1
        press "$win" Return
        wait $image; echo $? >"$OUT/status"
        true'
    expect_result "installed all the same" "install ok installed" installed
    expect_result "nothing half done in dpkg's database" "" audit
    expect_result "launcher status tells the signal" "${signal#*:}"$'\n' status
done

case_ "/tmp mounted noexec: the wizard runs from memory, to the finished page"
new_results
with_x --setup 'mount -o remount,noexec /tmp' -- '
    start_wizard
    [ -n "$win" ] && echo shown >"$OUT/window"
    press "$win" Return
    wait_for_dpkg_end; sleep 1
    installed_status >"$OUT/installed"
    press "$win" Return
    wait $image; echo $? >"$OUT/status"'
expect_result "the window shows" $'shown\n' window
expect_result "installed" "install ok installed" installed
expect_result "launcher status after Finish" $'0\n' status

case_ "a German desktop: Qt's own texts come from the system's catalogue"
new_results
with_x -- '
    cp "$SAMPLE_CONF" .agent.conf
    LANG=de_DE.UTF-8 strace -f -e trace=openat -o /tmp/opened "$IMAGE" >/dev/null 2>&1 &
    image=$!
    win=$(window "$SETUP_TITLE")
    sleep 0.5; picture "$win" welcome-de
    press "$win" Escape
    wait $image
    grep -o "/usr/share/qt5/translations/qt_de[^\"]*\.qm\", O_RDONLY[^=]*= [0-9][0-9]*" /tmp/opened | head -n 1 >"$OUT/catalogue"'
read_result catalogue catalogue
expect_contains "Qt's German catalogue is opened" "$catalogue" "/usr/share/qt5/translations/qt_de"

case_ "polkit refuses: the failure is shown and reported, nothing installed"
new_results
as_desktop_user NO -- '
    start_wizard
    press "$win" Return
    sleep 2
    picture "$win" refused
    installed_status >"$OUT/installed"
    press "$win" Escape
    wait $image; echo $? >"$OUT/status"
    sleep 0.5
    [ -e "$USER_LOG" ] && echo started >"$OUT/agent"
    true'
expect_result "launcher status: pkexec's 127, not success" $'127\n' status
read_result stdout stdout
expect_contains "the Error Code line" "$stdout" $'\nError Code:32512\n'
expect_not_contains "no success line" "$stdout" "Installation Finished"
expect_not_contains "pkexec's 127 is no wizard that could not start" "$stdout" "could not start"
expect_result "nothing installed" "" installed
expect_result "no agent program started" "" agent

for attempt in "right:secret:0:install ok installed" "wrong:guess:127:"; do
    IFS=: read -r name password expected_status expected_installed <<<"$attempt"
    case_ "polkit asks for the user's password: the $name one"
    new_results
    export PASSWORD=$password
    as_desktop_user AUTH_SELF --setup 'echo tester:secret | chpasswd' -- '
        start_wizard
        # An authentication agent on a terminal of its own, for the wizard process.
        wizard=$(pgrep -f -n _ui_bin)
        mkfifo /tmp/agent-in
        script -q -c "pkttyagent --process $wizard" /dev/null </tmp/agent-in >/tmp/agent-out 2>&1 &
        exec 3>/tmp/agent-in
        sleep 0.5
        press "$win" Return
        for _ in $(seq 100); do grep -q "Password:" /tmp/agent-out && break; sleep 0.1; done
        echo "$PASSWORD" >&3
        wait_for_pkexec_end; sleep 1
        installed_status >"$OUT/installed"
        press "$win" Escape
        wait $image; echo $? >"$OUT/status"
        exec 3>&-
        true'
    expect_result "launcher status" "$expected_status"$'\n' status
    expect_result "installed or not" "$expected_installed" installed
done

case_ "reinstall question: Cancel ends everything with 0"
new_results
with_x --setup "$PREINSTALLED" -- '
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" >"$OUT/stdout" 2>&1 &
    image=$!
    box=$(window "^Morrowlin Tesserak reinstall\$")
    [ -n "$box" ] && echo asked >"$OUT/asked"
    no_window "$SETUP_TITLE" && echo none >"$OUT/no_setup_window"
    sleep 0.5; picture "$box" reinstall-question
    xdotool windowfocus --sync "$box" key Escape
    wait $image; echo $? >"$OUT/status"
    rm -f "$LOG"
    true'
expect_result "the question comes first" $'asked\n' asked
expect_result "no wizard window behind it" $'none\n' no_setup_window
expect_result "launcher status" $'0\n' status
read_result stdout stdout
expect_contains "the launcher reports the wizard's 0 as finished" "$stdout" $'\nInstallation Finished\n\n\n'

case_ "reinstall question: Ok reinstalls"
new_results
with_x --setup "$PREINSTALLED" -- '
    cp "$SAMPLE_CONF" .agent.conf
    echo "reinstalled = yes" >>.agent.conf
    "$IMAGE" >"$OUT/stdout" 2>&1 &
    image=$!
    box=$(window "^Morrowlin Tesserak reinstall\$")
    press "$box" Return
    win=$(window "$SETUP_TITLE")
    press "$win" Return
    wait_for_dpkg_end; sleep 1
    press "$win" Return
    wait $image; echo $? >"$OUT/status"
    grep -c "reinstalled = yes" /usr/share/morrowlin-tesserak/etc/agent.conf >"$OUT/new_config"
    true'
expect_result "launcher status" $'0\n' status
expect_result "the new configuration is installed" $'1\n' new_config

case_ "missing .agent.conf"
new_results
with_x -- '
    "$IMAGE" >"$OUT/stdout" 2>&1 &
    image=$!
    win=$(window "$SETUP_TITLE")
    press "$win" Return
    first=$(window "^Installation Aborted.\$")
    sleep 0.5; picture "$first" aborted
    press "$first" Return
    sleep 0.5
    second=$(window "^Installation Aborted.\$")
    [ -n "$second" ] && [ "$second" != "$first" ] && echo second >"$OUT/second_box"
    press "$second" Return
    wait $image; echo $? >"$OUT/status"
    [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
    installed_status >"$OUT/installed"
    true'
expect_result "a second box follows the first" $'second\n' second_box
expect_result "launcher status: nothing was installed" $'2\n' status
expect_result "nothing staged" "" staged
expect_result "nothing installed" "" installed

case_ "failed installation"
new_results
with_x --fake /usr/bin/dpkg="$SOURCE_DIR/tests/e2e/fakes/dpkg-failing-postinst" -- '
    start_wizard
    press "$win" Return
    sleep 2
    picture "$win" failed
    press "$win" Escape
    wait $image; echo $? >"$OUT/status"
    sleep 1
    [ -e "$LOG" ] && echo started >"$OUT/agent"
    ls -A "$HOME/.local/state" >"$OUT/agent_home" 2>/dev/null
    true'
expect_result "launcher status: the package manager's code, not success" $'1\n' status
read_result stdout stdout
expect_contains "the launcher does not report it as finished" "$stdout" $'\nError Code:256\n'
expect_not_contains "no success line" "$stdout" "Installation Finished"
expect_result "no agent program started" "" agent
expect_result "no agent program started for the user" "" agent_home

case_ "dpkg busy when the install page opens, and a second launch meanwhile"
new_results
with_x --fake /usr/bin/pkexec="$SOURCE_DIR/tests/e2e/fakes/lock-checking-pkexec" -- '
    "$HOLD_DPKG_LOCKS" 4 /tmp/held &
    while [ ! -e /tmp/held ]; do sleep 0.05; done
    start_wizard
    press "$win" Return
    sleep 1; picture "$win" waiting
    [ -e /tmp/pkexec-started ] && echo started >"$OUT/pkexec_while_waiting"
    files="/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb /tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb_ui_bin"
    stat -c "%i %y %s" $files >"$OUT/files_before"
    "$IMAGE" >"$OUT/second_stdout" 2>&1; echo $? >"$OUT/second_status"
    stat -c "%i %y %s" $files >"$OUT/files_after"
    for _ in $(seq 200); do [ -e /tmp/pkexec-started ] && break; sleep 0.1; done
    wait_for_dpkg_end; sleep 1
    installed_status >"$OUT/installed"
    [ -e /tmp/pkexec-while-locked ] && echo yes >"$OUT/pkexec_while_locked"
    press "$win" Return
    wait $image; echo $? >"$OUT/status"
    true'
expect_result "pkexec waits while the locks are held" "" pkexec_while_waiting
expect_result "and starts only once they are free" "" pkexec_while_locked
expect_result "the second launch is refused" $'75\n' second_status
read_result second second_stdout
expect_contains "and says why in one line" "$second" $'\nAnother installation is running (process '
expect_contains "and that nothing was written" "$second" $'); nothing was written.\n'
expect_eq "the first one's files are untouched" "$(cat "$OUT/files_before")" "$(cat "$OUT/files_after")"
expect_result "the first installation finishes" "install ok installed" installed
expect_result "launcher status" $'0\n' status

case_ "no libtdb1: the wizard refuses, nothing installed, apt still works"
new_results
with_x --setup 'dpkg --remove libtdb1 >/dev/null' -- '
    start_wizard
    press "$win" Return
    sleep 1; picture "$win" missing-dependency
    press "$win" Escape
    wait $image; echo $? >"$OUT/status"
    installed_status >"$OUT/installed"
    [ -e /tmp/agent.conf ] && echo staged >"$OUT/staged"
    apt-get check >/dev/null 2>&1; echo $? >"$OUT/apt_check"
    true'
expect_result "launcher status" $'69\n' status
expect_result "nothing installed" "" installed
expect_result "nothing staged" "" staged
expect_result "apt-get check passes" $'0\n' apt_check

case_ "closing while the installation runs"
new_results
# Slow to install only: the wizard's dependency check compares versions with it first.
SLOW_DPKG='mv /usr/bin/dpkg /usr/bin/dpkg.real
printf "#!/bin/sh\n[ \"\$1\" = --compare-versions ] || sleep 3\nexec /usr/bin/dpkg.real \"\$@\"\n" >/usr/bin/dpkg
chmod 755 /usr/bin/dpkg'
with_x --setup "$SLOW_DPKG" -- '
    start_wizard
    press "$win" Return
    sleep 1
    press "$win" Escape
    sleep 0.5
    picture "$win" still-installing
    [ -n "$(window "$SETUP_TITLE")" ] && kill -0 $image 2>/dev/null && echo open >"$OUT/still_open"
    wait_for_dpkg_end; sleep 1
    installed_status >"$OUT/installed"
    press "$win" Return
    wait $image; echo $? >"$OUT/status"
    true'
expect_result "the wizard stays open while installing" $'open\n' still_open
expect_result "the package ends fully installed" "install ok installed" installed
expect_result "launcher status" $'0\n' status

finish
