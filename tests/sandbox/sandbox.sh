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
# Must run as root; needs unshare, chroot and overlayfs.
set -euo pipefail

usage() { sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; }

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
    exec unshare --mount --net --propagation private -- "$0" --inside "$@"
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
if [ -n "$setup" ]; then
    chroot "$root" /bin/sh -c 'cd "$SANDBOX_CWD" && eval "$1"' sandbox-setup "$setup"
fi
exec chroot ${userspec:+--userspec="$userspec"} "$root" /bin/sh -c 'cd "$SANDBOX_CWD" && exec "$@"' sandbox "$@"
