#!/bin/bash
# How the install page copes with a package manager that prints a lot: the
# time from its end to the page's "Finished.", for 1, 4 and 16 MiB of output
# in two shapes (dpkg-like lines of words; 100-character lines without blanks,
# as a script printing base64 makes), in the real window and worker, offscreen
# and under Xvfb, in the sandbox.
# usage: bench/install_output.sh [RUNS]     (RUNS per size, default 3)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
"$top/tools/build.sh" >/dev/null
cmake --build "$top/build" --target bench_install_output >/dev/null
program="$top/build/bench/bench_install_output"

median() { # PLATFORM MIB SHAPE
    "$top/tests/sandbox/sandbox.sh" --ro "$top" --cwd /tmp/bench -- bash -c '
        if [ "$1" = xcb ]; then
            Xvfb :9 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            for _ in $(seq 100); do [ -e /tmp/.X11-unix/X9 ] && break; sleep 0.1; done
            export DISPLAY=:9
        fi
        for _ in $(seq "$4"); do QT_QPA_PLATFORM=$1 "$0" "$2" "$3" 2>/dev/null; done |
            sort -n | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"' "$program" "$1" "$2" "$3" "$runs"
}

# Targets, from the end of the package manager to "Finished.".
target_ms() { # SHAPE MIB
    case "$1:$2" in
    words:4) echo 5000 ;;
    unbroken:4) echo 2000 ;;
    unbroken:16) echo 8000 ;;
    *) echo "" ;;
    esac
}

printf '| %-44s | %10s | %10s | %-10s | %-4s |\n' "package manager output, end to \"Finished.\"" "offscreen" "Xvfb" "target" "met"
printf '|%s|%s|%s|%s|%s|\n' "----------------------------------------------" "------------" "------------" "------------" "------"
for shape in words unbroken; do
    for mib in 1 4 16; do
        offscreen=$(median offscreen "$mib" "$shape")
        xvfb=$(median xcb "$mib" "$shape")
        target=$(target_ms "$shape" "$mib") met=""
        if [ -n "$target" ]; then
            met=$([ "$offscreen" -le "$target" ] && [ "$xvfb" -le "$target" ] && echo yes || echo NO)
            target="<= $target ms"
        fi
        printf '| %-44s | %7s ms | %7s ms | %-10s | %-4s |\n' "$mib MiB, $shape" "$offscreen" "$xvfb" "$target" "$met"
    done
done
