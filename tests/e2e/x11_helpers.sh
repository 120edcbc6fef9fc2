# Sourced inside the sandbox by the real-window tests: an X server of the
# sandbox's own and xdotool helpers that act as a person would.

# With XVFB_FBDIR set, the screen is also kept as an XWD file in that directory,
# for pictures where no screenshot tool is installed.
start_x() {
    Xvfb :7 -screen 0 1024x768x24 -nolisten tcp ${XVFB_FBDIR:+-fbdir "$XVFB_FBDIR"} >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X7 ] && break; sleep 0.1; done
    export DISPLAY=:7
}

stop_x() { kill "$XVFB_PID" 2>/dev/null; }

# Prints the id of the first visible window whose name matches REGEX, waiting up to 30 s.
window() { timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1; }

# True when no visible window's name matches REGEX right now.
no_window() { ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# Stages the sample .agent.conf, starts the image in the background ($image)
# and waits for the setup window ($win).
start_wizard() {
    cp "$SAMPLE_CONF" .agent.conf
    "$IMAGE" >"$OUT/stdout" 2>&1 &
    image=$!
    win=$(window "$SETUP_TITLE")
}

press() { xdotool windowfocus --sync "$1" key "$2"; }

# Saves a picture of WINDOW as NAME.png in the pictures directory.
# (An older picture may be another user's: it is replaced, not overwritten.)
picture() { rm -f "$PICTURES/$2.png"; import -window "$1" "$PICTURES/$2.png"; }

dpkg_running() { pgrep -x dpkg >/dev/null || pgrep -f 'dpkg.real' >/dev/null; }

# Waits for the installation's dpkg to start (up to 10 s: the wizard checks the
# package's dependencies and dpkg's locks first) and then to end.
wait_for_dpkg_end() {
    for _ in $(seq 100); do dpkg_running && break; sleep 0.1; done
    for _ in $(seq 600); do dpkg_running || return 0; sleep 0.1; done
}

wait_for_file() { for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }

installed_status() { dpkg-query -W -f='${Status}' morrowlin-tesserak 2>/dev/null; }

# Waits until pkexec has run and ended, whatever it became: after an
# authentication that may take a while, pkexec becomes dpkg (or fails).
wait_for_pkexec_end() {
    local seen=""
    for _ in $(seq 600); do
        if pgrep -x pkexec >/dev/null || pgrep -x dpkg >/dev/null; then
            seen=yes
        elif [ -n "$seen" ]; then
            return 0
        fi
        sleep 0.1
    done
}
