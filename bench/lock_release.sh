#!/bin/bash
# How soon a text-mode installation notices that another package manager has
# let dpkg's locks go: the time from the holder's end to the start of dpkg,
# in the sandbox with the real package.
# usage: bench/lock_release.sh [RUNS]     (default 10; needs a built tree)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10}
build=$top/build
export IMAGE=$build/morrowlin-tesserak-installer.run HOLD=$build/tests/e2e/hold_dpkg_locks
export CONF=$top/package/sample.agent.conf

# dpkg notes when it starts.
STAMPING_DPKG='mv /usr/bin/dpkg /usr/bin/dpkg.real
printf "#!/bin/sh\ndate +%%s%%N >/tmp/dpkg-started\nexec /usr/bin/dpkg.real \"\$@\"\n" >/usr/bin/dpkg
chmod 755 /usr/bin/dpkg'

for _ in $(seq "$runs"); do
    "$top/tests/sandbox/sandbox.sh" --ro "$build" --ro "$top" --cwd /tmp/work --setup "$STAMPING_DPKG" -- bash -c '
        cp "$CONF" .agent.conf
        ("$HOLD" 1 /tmp/held; date +%s%N >/tmp/released) &
        while [ ! -e /tmp/held ]; do sleep 0.01; done
        "$IMAGE" install >/dev/null 2>&1
        echo $(( ($(cat /tmp/dpkg-started) - $(cat /tmp/released)) / 1000 ))'
done | sort -n | awk '{ v[NR] = $1 } END {
    printf "lock released to dpkg started, %d runs: median %.1f ms, max %.1f ms\n", NR, v[int((NR + 1) / 2)] / 1000, v[NR] / 1000 }'
