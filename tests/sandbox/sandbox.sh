#!/bin/bash
# Runs a command in a throwaway copy of this machine (or of another system's
# root directory): a private mount namespace with a copy-on-write overlay of /
# and a private /tmp. Whatever the command installs, removes or writes is gone
# when it ends; the host is never changed.
#
# usage: sandbox.sh [options] [--] COMMAND [ARG...]
#   --tmp-size SIZE   limit the private /tmp (tmpfs size, e.g. 64k, 10m)
#   --fake PATH=FILE  place FILE, executable, at PATH inside the sandbox
#   --remove PATH     remove PATH inside the sandbox
#   --user NAME       run COMMAND as NAME (created inside when missing)
#   --cwd DIR         working directory inside (created, owned by the user)
#   --ro DIR          show host DIR at the same path, read-only
#   --bind DIR        show host DIR at the same path, writable (to collect results)
#   --setup SCRIPT    run the shell SCRIPT as root inside before COMMAND
#   --root DIR        the copy is of DIR, another system's root (for example
#                     one made by tools/debian-root.sh), instead of /
#   --polkit RESULT   a private system bus and the real polkitd inside, with a
#                     rule that answers pkexec for the --user with RESULT (YES,
#                     NO, AUTH_SELF, ...); also gives the sandbox its own PID
#                     namespace, so both end with COMMAND
# Whatever COMMAND leaves running inside is ended when it ends.
# Must run as root; needs unshare, chroot and overlayfs.
set -euo pipefail

usage() { sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; }

if [ "${1:-}" != "--inside" ]; then
    if [ "${1:-}" = "--help" ] || [ $# -eq 0 ]; then
        usage
        exit 0
    fi
    if [ "$(id -u)" != 0 ]; then
        echo "sandbox.sh: must run as root" >&2
        exit 2
    fi
    # A network namespace of its own too: X servers and other abstract sockets
    # of the host stay out of reach, and the sandbox's own stay in.
    # With polkit, a PID namespace as well: whatever was started inside ends
    # with the sandbox, even daemons that an unprivileged command cannot kill.
    pid_namespace=()
    for arg in "$@"; do
        [ "$arg" = "--" ] && break
        [ "$arg" = "--polkit" ] && pid_namespace=(--pid --fork)
    done
    exec unshare --mount --net ${pid_namespace[@]+"${pid_namespace[@]}"} --propagation private -- "$0" --inside "$@"
fi
shift

tmp_size=""
user=""
cwd="$PWD"
fakes=()
removes=()
ro_dirs=()
rw_dirs=()
setup=""
polkit=""
lower=/
while [ $# -gt 0 ]; do
    case "$1" in
    --tmp-size) tmp_size=$2; shift 2 ;;
    --fake) fakes+=("$2"); shift 2 ;;
    --remove) removes+=("$2"); shift 2 ;;
    --user) user=$2; shift 2 ;;
    --cwd) cwd=$2; shift 2 ;;
    --ro) ro_dirs+=("$(realpath "$2")"); shift 2 ;;
    --bind) rw_dirs+=("$(realpath "$2")"); shift 2 ;;
    --setup) setup=$2; shift 2 ;;
    --root) lower=$(realpath "$2"); shift 2 ;;
    --polkit) polkit=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "sandbox.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "sandbox.sh: no command given" >&2; exit 2; }

# The overlay's layers live on a tmpfs of this namespace only; the lower layer
# is the host's / (submounts excluded) or the given root, never written.
state=/mnt
mount -t tmpfs sandbox-state "$state"
mkdir "$state/upper" "$state/work" "$state/root"
mount -t overlay sandbox-root -o "lowerdir=$lower,upperdir=$state/upper,workdir=$state/work" "$state/root"
root="$state/root"

for dir in dev proc sys run; do
    [ -d "/$dir" ] && mount --rbind "/$dir" "$root/$dir"
done
# In a PID namespace of its own, /proc shows only the sandbox's processes.
if [ $$ = 1 ]; then
    mount -t proc sandbox-proc "$root/proc"
fi
mount -t tmpfs -o "mode=1777${tmp_size:+,size=$tmp_size}" sandbox-tmp "$root/tmp"

bind_into_root() { # HOST_DIR [ro]
    mkdir -p "$root$1"
    mount --bind "$1" "$root$1"
    if [ "${2:-}" = ro ]; then
        mount -o remount,bind,ro "$root$1"
    fi
}
# Parents before children, so that a directory bound inside another one stays visible.
{
    for dir in ${ro_dirs[@]+"${ro_dirs[@]}"}; do printf '%s\tro\n' "$dir"; done
    for dir in ${rw_dirs[@]+"${rw_dirs[@]}"}; do printf '%s\trw\n' "$dir"; done
} | awk -F '\t' '{ print length($1) "\t" $0 }' | sort -n | cut -f 2- >"$state/binds"
while IFS=$'\t' read -r dir mode; do
    bind_into_root "$dir" "$mode"
done <"$state/binds"
# A directory shown inside must be reachable for --user too, wherever it lies
# on the host (a checkout in /root, say): its parents get search permission
# for all, in the overlay only; a parent shown from the host stays as it is.
shown_from_host() { # DIR
    local bound
    while IFS=$'\t' read -r bound _; do
        case "$1/" in "$bound"/*) return 0 ;; esac
    done <"$state/binds"
    return 1
}
while IFS=$'\t' read -r dir _; do
    parent=$(dirname "$dir")
    while [ "$parent" != / ]; do
        shown_from_host "$parent" || chmod a+x "$root$parent"
        parent=$(dirname "$parent")
    done
done <"$state/binds"

# Tests that change system paths refuse to run without this mark.
touch "$root/.installer-sandbox"

for spec in ${fakes[@]+"${fakes[@]}"}; do
    target=${spec%%=*}
    source=${spec#*=}
    rm -f "$root$target"
    install -D -m 0755 "$source" "$root$target"
done
for path in ${removes[@]+"${removes[@]}"}; do
    rm -rf "$root$path"
done

userspec=""
if [ -n "$user" ]; then
    if ! chroot "$root" id -u "$user" >/dev/null 2>&1; then
        chroot "$root" useradd --create-home --shell /bin/bash "$user"
    fi
    userspec="$user:$(chroot "$root" id -gn "$user")"
    export HOME="/home/$user" USER="$user" LOGNAME="$user"
fi
mkdir -p "$root$cwd"
[ -z "$user" ] || chroot "$root" chown "$user" "$cwd"

export SANDBOX_CWD="$cwd"
if [ -n "$polkit" ]; then
    [ -n "$user" ] || { echo "sandbox.sh: --polkit needs --user" >&2; exit 2; }
    # The host's /run is shown inside: the private bus gets a directory of its own.
    if [ -d "$root/run/dbus" ]; then
        mount -t tmpfs -o mode=0755 sandbox-dbus "$root/run/dbus"
    else
        mount -t tmpfs -o mode=0755 sandbox-run "$root/run"
        mkdir "$root/run/dbus"
    fi
    # A rule decides, so no terminal, login session or active seat is needed.
    mkdir -p "$root/etc/polkit-1/rules.d"
    printf '%s\n' 'polkit.addRule(function(action, subject) {' \
        "    if (action.id == \"org.freedesktop.policykit.exec\" && subject.user == \"$user\")" \
        "        return polkit.Result.$polkit;" '});' >"$root/etc/polkit-1/rules.d/00-sandbox.rules"
    chroot "$root" dbus-daemon --system --fork
    chroot "$root" /usr/lib/polkit-1/polkitd --no-debug >/dev/null 2>&1 &
    if ! chroot "$root" gdbus wait --system --timeout 20 org.freedesktop.PolicyKit1; then
        echo "sandbox.sh: polkitd did not start" >&2
        exit 2
    fi
    # pkexec refuses a shell that /etc/shells does not list.
    export SHELL=/bin/bash
fi
if [ -n "$setup" ]; then
    chroot "$root" /bin/sh -c 'cd "$SANDBOX_CWD" && eval "$1"' sandbox-setup "$setup"
fi
if [ $$ = 1 ]; then
    # PID 1 of the namespace: when it ends, so does everything started inside.
    status=0
    chroot ${userspec:+--userspec="$userspec"} "$root" /bin/sh -c 'cd "$SANDBOX_CWD" && exec "$@"' sandbox "$@" ||
        status=$?
    exit "$status"
fi
# Whatever the command left running in here (an X server started in the
# background, say) ends with it, instead of living on orphaned on the machine.
end_leftovers() {
    local namespace pid
    namespace=$(readlink /proc/self/ns/mnt)
    for pid in /proc/[0-9]*; do
        [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] &&
            [ "$(readlink "$pid/ns/mnt" 2>/dev/null)" = "$namespace" ] &&
            kill -KILL "${pid#/proc/}" 2>/dev/null
    done
    return 0
}
status=0
chroot ${userspec:+--userspec="$userspec"} "$root" /bin/sh -c 'cd "$SANDBOX_CWD" && exec "$@"' sandbox "$@" || status=$?
end_leftovers
exit "$status"
