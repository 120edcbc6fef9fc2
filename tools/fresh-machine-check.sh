#!/bin/sh
# Does what a new user does on a fresh Debian 12 machine: a minimal Debian 12
# system (debootstrap's minbase, made once by tools/debian-root.sh and copied),
# a clean clone of the current commit at /root/project, then the README's two
# commands in it, as root, with nothing else installed or cached: the test
# command first (cold caches: the static Qt is built too), the demo, and the
# test command again (warm). Prints each command's exit status and time, the
# Qt build's time, and the tests that failed. Takes about an hour;
# not part of tools/test.sh (it would run itself).
#
# usage: fresh-machine-check.sh
# The machine lives in $FRESH_MACHINE_DIR (default
# /var/tmp/morrowlin-tesserak-fresh-machine) with the commands' logs, and is
# removed at the end unless KEEP_FRESH_MACHINE=1. Must run as root.
set -eu

if [ "${1:-}" = --help ]; then
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
top=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$top" rev-parse HEAD)
work=${FRESH_MACHINE_DIR:-/var/tmp/morrowlin-tesserak-fresh-machine}
base=$("$top/tools/debian-root.sh" fresh bookworm)

rm -rf "$work"
mkdir -p "$work"
echo "== a fresh Debian 12 in $work/root"
cp -a "$base" "$work/root"
rm -f "$work/root/.complete"
# As a new machine has it: the release, its updates and security updates.
cat >"$work/root/etc/apt/sources.list" <<'EOF'
deb http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp /etc/resolv.conf "$work/root/etc/resolv.conf"
git clone -q --no-local "$top" "$work/root/root/project"
git -C "$work/root/root/project" checkout -q "$commit"
echo "== clean clone of $commit at /root/project"

# Runs COMMAND in /root/project on the fresh machine, with a login's environment.
run_on_machine() { # COMMAND LOG
    unshare --mount --propagation private -- sh -c '
        root=$1
        # / is a mount point on a real machine; the sandbox relies on it.
        mount --bind "$root" "$root"
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs -o mode=1777 fresh-tmp "$root/tmp"
        mount -t tmpfs -o mode=0755 fresh-run "$root/run"
        exec env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/sh TERM=dumb \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            chroot "$root" /bin/sh -c "cd /root/project && $2"' fresh-machine "$work/root" "$1" >"$2" 2>&1
}

overall=0
# The test command first, with nothing cached (the static Qt is built in it),
# then the demo, then the test command once more with the caches warm.
run=0
for command in tools/test.sh tools/demo.sh tools/test.sh; do
    run=$((run + 1))
    log="$work/$run-$(basename "$command" .sh).log"
    started=$(date +%s)
    status=0
    run_on_machine "$command" "$log" || status=$?
    cache=warm
    [ "$run" -gt 1 ] || cache=cold
    echo "== $command ($cache cache): exit $status in $(($(date +%s) - started)) s (log: $log)"
    grep -h '^static-qt.sh: Qt built in' "$log" || true
    if [ "$status" -ne 0 ]; then
        overall=1
        # ctest's list of failures, or else the end of the log.
        failed=$(sed -n '/The following tests FAILED:/,/^Errors while running/p' "$log")
        if [ -n "$failed" ]; then
            printf '%s\n' "$failed"
        else
            tail -n 15 "$log"
        fi
    fi
done

if [ "${KEEP_FRESH_MACHINE:-0}" != 1 ]; then
    rm -rf "$work/root"
fi
exit "$overall"
