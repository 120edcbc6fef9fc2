#!/bin/bash
# How the install page copes with a package manager that prints a lot: the
# time from its end to the page's "Finished.", for 1, 4 and 16 MiB of output,
# in the real window and worker (offscreen, in the sandbox).
# usage: bench/install_output.sh [RUNS]     (RUNS per size, default 3)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
"$top/tools/build.sh" >/dev/null
cmake --build "$top/build" --target bench_install_output >/dev/null
program="$top/build/bench/bench_install_output"

printf '| %-36s | %12s | %-14s | %-4s |\n' "package manager output" "median (ms)" "target" "met"
printf '|%s|%s|%s|%s|\n' "--------------------------------------" "--------------" "----------------" "------"
for mib in 1 4 16; do
    median=$("$top/tests/sandbox/sandbox.sh" --ro "$top" --cwd /tmp/bench -- bash -c '
        for _ in $(seq '"$runs"'); do QT_QPA_PLATFORM=offscreen "$0" '"$mib"' 2>/dev/null; done |
            sort -n | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"' "$program")
    target="" met=""
    if [ "$mib" = 4 ]; then
        target="< 5000 ms"
        met=$([ "$median" -lt 5000 ] && echo yes || echo NO)
    fi
    printf '| %-36s | %12s | %-14s | %-4s |\n' "$mib MiB, end to \"Finished.\"" "$median" "$target" "$met"
done
